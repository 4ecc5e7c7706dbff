// Scenarios of the real binary against the desktop it runs on: the launchers on the Desktop and
// in the shared Shortcuts folder of a network installation, the single-instance lock, the quit
// signal while a dialog waits on the terminal, and the closing item a one-product source names.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "tests/scenario/scenario.h"
#include "tests/support/test_env.h"

namespace nuvel::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Everything after the chosen course acknowledged; a course already installed is not updated.
const std::string kRestOfTheRun = kEnd + "prompt:* -> 1\n";
const std::string kDeclineUpdate = "prompt:MSG_Message_AMoreRecentVersion -> 2\n";
// English Foundations, Level 3 (third in the family list).
const std::string kInstallLevel3 = kStart + kDeclineUpdate +
                                   "family select 2 -> 1\nversion -> 1\nproducts -> 1\n"
                                   "multi-language -> 1\ninstall -> 1\n" +
                                   kRestOfTheRun;
// The English-only course (fourth), which asks no language.
const std::string kInstallGrammar =
    kStart + kDeclineUpdate + "family select 3 -> 1\nproducts -> 1\ninstall -> 1\n" + kRestOfTheRun;
const std::string kOldLauncher = "[Desktop Entry]\nType=Application\nName=Old\nExec=/bin/true\n";

// The value of "key=" in a launcher, with the quotes of an Exec value removed.
std::string LauncherValue(const std::string& path, const std::string& key) {
  for (const std::string& line : FileLines(path)) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return "";
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

class DesktopScenarioTest : public ScenarioTest {
 protected:
  std::string Desktop() { return sysroot_.path("home/Desktop"); }

  // A launcher of an installed bundle: executable, starting the bundle's program and showing
  // its icon, both of which exist; and accepted by the desktop's validator when it is there.
  void ExpectLauncher(const std::string& path, const std::string& name, const std::string& bundle) {
    SCOPED_TRACE(path);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_NE(info.st_mode & S_IXUSR, 0u) << "a launcher is made executable";
    EXPECT_EQ(LauncherValue(path, "Name"), name);
    EXPECT_EQ(LauncherValue(path, "Exec"), Installed(bundle + ".app/Contents/MacOS/" + bundle));
    EXPECT_EQ(LauncherValue(path, "Icon"),
              Installed(bundle + ".app/Contents/Resources/" + bundle + ".png"));
    EXPECT_TRUE(fs::is_regular_file(LauncherValue(path, "Exec")));
    EXPECT_TRUE(fs::is_regular_file(LauncherValue(path, "Icon")));
    RunResult valid = RunBinary("desktop-file-validate", {path});
    validator_missing_ = valid.status == 127;  // the shell found no such program
    if (!validator_missing_) {
      EXPECT_EQ(valid.status, 0) << valid.output;
      EXPECT_EQ(valid.output.find("error:"), std::string::npos) << valid.output;
    }
  }

  void SkipWhenValidatorMissing() {
    if (validator_missing_) GTEST_SKIP() << "desktop-file-validate is not installed";
  }

  bool validator_missing_ = false;
};

// ---- Launchers --------------------------------------------------------------------------------

TEST_F(DesktopScenarioTest, TwoInstallationsLeaveOneStudentLauncherAndRemoveTheOldOne) {
  MakeSource();
  fs::create_directories(Desktop());
  RunResult run = Setup(kInstallLevel3);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Entries(Desktop()), (std::set<std::string>{"Student.desktop"}));
  ExpectLauncher(Desktop() + "/Student.desktop", "Student", "Launcher");

  // A launcher of the old name and a second installation.
  WriteTestFile(Desktop() + "/Nuvel Courseware.desktop", kOldLauncher);
  run = Setup(kInstallGrammar);
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(Installed("launch/010ENG50"))) << run.output;
  EXPECT_EQ(Entries(Desktop()), (std::set<std::string>{"Student.desktop"}));
  ExpectLauncher(Desktop() + "/Student.desktop", "Student", "Launcher");

  // A local installation has no Shortcuts folder anywhere.
  for (auto it = fs::recursive_directory_iterator(sysroot_.root());
       it != fs::recursive_directory_iterator(); ++it) {
    if (it->path() == Source()) it.disable_recursion_pending();
    EXPECT_NE(it->path().filename(), "Shortcuts") << it->path();
  }
  SkipWhenValidatorMissing();
}

TEST_F(DesktopScenarioTest, BusyLauncherNameGivesTheAlternateName) {
  MakeSource();
  // A folder of the launcher's name cannot be replaced.
  fs::create_directories(Desktop() + "/Student.desktop");
  RunResult run = Setup(kInstallLevel3);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Entries(Desktop()),
            (std::set<std::string>{"Student.desktop", "Student Nuvel.desktop"}));
  EXPECT_TRUE(fs::is_empty(Desktop() + "/Student.desktop"));
  ExpectLauncher(Desktop() + "/Student Nuvel.desktop", "Student Nuvel", "Launcher");
  SkipWhenValidatorMissing();
}

TEST_F(DesktopScenarioTest, TeacherLauncherReplacesTheOldRecordsManagerLauncher) {
  MakeSource();
  WriteTestFile(Desktop() + "/Nuvel Records Manager.desktop", kOldLauncher);
  RunResult run = Setup(kInstallLevel3);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Entries(Desktop()), (std::set<std::string>{"Student.desktop", "Teacher.desktop"}));
  ExpectLauncher(Desktop() + "/Teacher.desktop", "Teacher", "Records Manager");
  SkipWhenValidatorMissing();
}

TEST_F(DesktopScenarioTest, RecordsManagerWithoutItsIconGetsNoTeacherLauncher) {
  MakeSource({"--bundle-without-icon", "Records Manager"});
  WriteTestFile(Desktop() + "/Nuvel Records Manager.desktop", kOldLauncher);
  RunResult run = Setup(kInstallLevel3);
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(Installed("Records Manager.app"))) << run.output;
  EXPECT_FALSE(fs::exists(Installed("Records Manager.app/Contents/Resources/Records Manager.png")));
  // Neither the old launcher is deleted nor a new one made.
  EXPECT_EQ(Entries(Desktop()),
            (std::set<std::string>{"Student.desktop", "Nuvel Records Manager.desktop"}));
}

TEST_F(DesktopScenarioTest, NetworkInstallationFillsTheSharedShortcutsFolder) {
  MakeSource();
  fs::create_directories(Desktop());
  RunResult run = Setup(kInstallLevel3, {{"NUVEL_NETWORK_PATHS", Installed()}});
  ASSERT_EQ(run.status, 0) << run.output;

  const std::string shortcuts = Installed("Shortcuts");
  EXPECT_EQ(Entries(shortcuts), (std::set<std::string>{"Student.desktop", "Teacher.desktop",
                                                       "Freshen.desktop", "Analyzer.desktop"}));
  ExpectLauncher(shortcuts + "/Student.desktop", "Student", "Launcher");
  ExpectLauncher(shortcuts + "/Teacher.desktop", "Teacher", "Records Manager");
  ExpectLauncher(shortcuts + "/Freshen.desktop", "Freshen", "Freshen");
  ExpectLauncher(shortcuts + "/Analyzer.desktop", "Analyzer", "Analyzer");
  // The desktop itself still gets only the student's launcher.
  EXPECT_EQ(Entries(Desktop()), (std::set<std::string>{"Student.desktop"}));

  // The closing message points at the folder to copy from.
  auto prompts = Dialogs("prompt");
  auto copy = std::find_if(prompts.begin(), prompts.end(), [](const std::string& line) {
    return JsonField(line, "id") == "MSG_CopyShortcutToDesktop";
  });
  ASSERT_NE(copy, prompts.end()) << ReadTestFile(Transcript());
  EXPECT_NE(copy->find(shortcuts + "/Nuvel Courseware"), std::string::npos) << *copy;
  SkipWhenValidatorMissing();
}

// ---- Single instance and the quit signal -------------------------------------------------------

// nuvel-setup with the terminal interface on a pseudo-terminal.
class TerminalSetup {
 public:
  explicit TerminalSetup(const std::string& source) {
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      ::setenv("LANGUAGE", "en", 1);
      for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) ::unsetenv(name);
      ::execl(NUVEL_SETUP_BINARY, NUVEL_SETUP_BINARY, "--ui", "terminal", "--source",
              source.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~TerminalSetup() {
    if (running()) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status_, 0);
    }
    if (master_ >= 0) ::close(master_);
  }

  bool running() const { return pid_ > 0 && !ended_; }
  const std::string& screen() const { return screen_; }

  // Reads what the program writes until `text` has appeared or the time is up.
  bool ReadUntil(const std::string& text, milliseconds limit) {
    auto end = Clock::now() + limit;
    while (screen_.find(text) == std::string::npos && Clock::now() < end) {
      pollfd fd{master_, POLLIN, 0};
      if (::poll(&fd, 1, 50) <= 0) continue;
      char buf[4096];
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      screen_.append(buf, static_cast<std::size_t>(n));
    }
    return screen_.find(text) != std::string::npos;
  }

  // The Welcome dialog, waiting for its answer. The prompt is written just before the read of
  // the answer starts; a moment more lets the program reach that read.
  bool WelcomeWaits() {
    bool shown = pid_ > 0 && ReadUntil("Welcome to Nuvel Setup", seconds(20)) &&
                 ReadUntil("[1] Install", seconds(5)) && ReadUntil("> ", seconds(5));
    if (shown) ReadUntil(std::string(1, '\0'), milliseconds(200));
    return shown;
  }

  bool Type(const std::string& text) {
    return ::write(master_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void Signal(int signal) { ::kill(pid_, signal); }

  // Waits for the end (the terminal kept drained); false when it did not end in time.
  bool Ended(milliseconds limit) {
    auto end = Clock::now() + limit;
    while (!ended_ && Clock::now() < end) {
      ended_ = ::waitpid(pid_, &status_, WNOHANG) == pid_;
      if (!ended_) ReadUntil(std::string(1, '\0'), milliseconds(50));
    }
    return ended_;
  }
  // The exit status; -1 when it was ended by a signal.
  int ExitStatus() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  int status_ = 0;
  bool ended_ = false;
  std::string screen_;
};

TEST_F(DesktopScenarioTest, SecondSetupEndsSilentlyWhileTheRecordsManagerOrASetupRuns) {
  MakeSource();
  // The Records Manager's lock, held by this process: nothing is shown, and nothing written
  // before the check, not even the system folder.
  bool elsewhere = true;
  ASSERT_FALSE(platform::TakeInstanceLock("NvRM", elsewhere));
  ASSERT_FALSE(elsewhere);
  RunResult run = Setup("welcome -> 2\n");
  platform::ReleaseInstanceLock("NvRM");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(ReadTestFile(Transcript()), "") << "no dialog may be shown";
  EXPECT_FALSE(fs::exists(sysroot_.path("opt")));
  EXPECT_FALSE(fs::exists(sysroot_.path("var")));

  // With the lock given up a Setup starts and waits in Welcome; a second one ends silently.
  TerminalSetup first(Source());
  ASSERT_TRUE(first.WelcomeWaits()) << first.screen();
  run = Setup("welcome -> 2\n");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(ReadTestFile(Transcript()), "");
  EXPECT_EQ(Count(Log(), "Starting Nuvel Setup Application"), 1u) << Log();

  // The first one still answers: Quit.
  ASSERT_TRUE(first.running());
  ASSERT_TRUE(first.Type("2\n"));
  ASSERT_TRUE(first.Ended(seconds(10))) << first.screen();
  EXPECT_EQ(first.ExitStatus(), 0) << first.screen();
  EXPECT_EQ(Count(Log(), "End of Nuvel Setup Application"), 1u) << Log();
}

TEST_F(DesktopScenarioTest, QuitSignalWhileWelcomeWaitsOnTheTerminalEndsTheRun) {
  MakeSource();
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    const std::size_t log_before = Log().size();
    {
      TerminalSetup setup(Source());
      ASSERT_TRUE(setup.WelcomeWaits()) << setup.screen();
      setup.Signal(signal);
      ASSERT_TRUE(setup.Ended(seconds(10))) << "no end on the signal:\n" << setup.screen();
      EXPECT_EQ(setup.ExitStatus(), 0) << setup.screen();
    }
    std::string log = Log().substr(log_before);
    std::size_t welcome_line = log.find("Showing 'Welcome' Dialog");
    std::size_t quit_line =
        log.find("Quit event received (signal " + std::to_string(signal) + ")\r\n");
    ASSERT_NE(welcome_line, std::string::npos) << log;
    ASSERT_NE(quit_line, std::string::npos) << log;
    EXPECT_LT(welcome_line, quit_line);
    // The quit ends the process at once: no finishing tail after it.
    EXPECT_EQ(log.find("End of Nuvel Setup Application", quit_line), std::string::npos) << log;
  }
  // The lock went with the process: the next run starts normally.
  RunResult again = Setup("welcome -> 2\n");
  EXPECT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(Path(), std::vector<std::string>{"welcome 2"});
}

// ---- The closing item -------------------------------------------------------------------------

class DesktopClosingItemTest : public DesktopScenarioTest {
 protected:
  // The sample source with a small program bundle in extras/ that leaves a marker in the sysroot.
  void SetUp() override {
    MakeSource({"--content-as", "folders"});
    const std::string program = Source("extras/Finish.app/Contents/MacOS/Finish");
    WriteTestFile(program, "#!/bin/sh\necho \"$0\" > '" + Marker() + "'\n");
    fs::permissions(program, fs::perms::owner_all, fs::perm_options::add);
  }

  // Leaves only the English-only course 010ENG50 on the source.
  void KeepOneProduct() {
    for (const std::string& name : Entries(Source("install/data"))) {
      if (fs::is_directory(Source("install/data/" + name)) && name != "support" &&
          name != "010ENG50") {
        fs::remove_all(Source("install/data/" + name));
        fs::remove_all(Source("Nuvel/content/" + name));
      }
    }
    ASSERT_EQ(Entries(Source("Nuvel/content")), (std::set<std::string>{"010ENG50"}));
  }

  // Installs 010ENG50 afresh, its own setup.ini naming the closing item.
  RunResult Install(const std::string& allow_run, const std::string& item) {
    fs::remove_all(sysroot_.path("opt"));
    fs::remove(Marker());
    WriteTestFile(Source("install/data/010ENG50/setup.ini"),
                  "[Nuvel]\r\nmultiLanguages=ENG\r\nallow_run=" + allow_run +
                      "\r\nrun_item_mac=extras/" + item + "\r\n");
    return Setup(kInstallGrammar);
  }

  std::string Marker() { return sysroot_.path("closing-item-ran"); }

  // The item is started and not waited for: give it time to leave its marker.
  bool MarkerAppears(milliseconds limit) {
    auto end = Clock::now() + limit;
    while (!fs::exists(Marker()) && Clock::now() < end) {
      std::this_thread::sleep_for(milliseconds(50));
    }
    return fs::exists(Marker());
  }
};

// Only a one-product source runs its item, and only a lower-case "n" in allow_run stops it.
TEST_F(DesktopClosingItemTest, ItemRunsAtTheEndWhenAllowedOnAOneProductSource) {
  const struct {
    const char* allow_run;
    bool one_product;
    bool runs;
  } cases[] = {{"Yes", false, false}, {"Yes", true, true}, {"N", true, true}, {"no", true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.allow_run) + (c.one_product ? ", one product" : ", several"));
    if (c.one_product) KeepOneProduct();
    if (HasFatalFailure()) return;
    RunResult run = Install(c.allow_run, "Finish.app");
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(fs::is_directory(Installed("launch/010ENG50"))) << run.output;
    if (!c.runs) {
      EXPECT_FALSE(MarkerAppears(milliseconds(1500)));
      continue;
    }
    ASSERT_TRUE(MarkerAppears(seconds(10))) << Log();
    EXPECT_NE(ReadTestFile(Marker()).find(Source("extras/Finish.app/Contents/MacOS/Finish")),
              std::string::npos)
        << ReadTestFile(Marker());
    EXPECT_EQ(Log().find("RunProgram: error"), std::string::npos);
  }
}

TEST_F(DesktopClosingItemTest, ItemThatCannotBeStartedIsReported) {
  KeepOneProduct();
  if (HasFatalFailure()) return;
  RunResult run = Install("Yes", "Missing.app");
  ASSERT_EQ(run.status, 0) << run.output;
  auto lines = FileLines(Transcript());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(JsonField(lines.back(), "text"), "Error Launching Application.") << lines.back();
  // The message file is still open when the closing item runs: the button has its text.
  EXPECT_EQ(JsonStringArray(lines.back(), "buttons"), std::vector<std::string>{"OK"});
  EXPECT_NE(Log().find("RunProgram: error"), std::string::npos);
  EXPECT_FALSE(MarkerAppears(milliseconds(200)));
}

}  // namespace
}  // namespace nuvel::testing
