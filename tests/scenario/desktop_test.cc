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

// Installs the third course of the family list (English Foundations, Level 3) and acknowledges
// everything after it; a course already installed is not updated.
constexpr const char* kInstallLevel3 =
    "welcome -> 1\n"
    "install-options -> 1\n"
    "prompt:MSG_Message_AMoreRecentVersion -> 2\n"
    "family select 2 -> 1\n"
    "version -> 1\n"
    "products -> 1\n"
    "multi-language -> 1\n"
    "install -> 1\n"
    "prompt:MSG_Message_InstallAnother -> 2\n"
    "prompt:* -> 1\n"
    "control\n";

// The same for the English-only course (fourth in the list), which asks no language.
constexpr const char* kInstallGrammar =
    "welcome -> 1\n"
    "install-options -> 1\n"
    "prompt:MSG_Message_AMoreRecentVersion -> 2\n"
    "family select 3 -> 1\n"
    "products -> 1\n"
    "install -> 1\n"
    "prompt:MSG_Message_InstallAnother -> 2\n"
    "prompt:* -> 1\n"
    "control\n";

// The names in a folder; none for a missing folder.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

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

bool HasValidator() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/desktop-file-validate";
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

class DesktopScenarioTest : public ::testing::Test {
 protected:
  void MakeSource(std::vector<std::string> options = {}) {
    options.push_back(sysroot_.path("source"));
    RunResult made = RunBinary(NUVEL_SAMPLE_SOURCE_TOOL, options);
    ASSERT_EQ(made.status, 0) << made.output;
  }

  std::string Source(const std::string& relative) { return sysroot_.path("source/" + relative); }
  std::string Installed(const std::string& relative) {
    return sysroot_.path("opt/Nuvel/" + relative);
  }
  std::string Desktop() { return sysroot_.path("home/Desktop"); }
  std::string Transcript() { return sysroot_.path("transcript.jsonl"); }
  std::string Log() { return ReadTestFile(Installed("Nuvel_log.txt")); }

  RunResult Setup(const std::string& answers,
                  const std::vector<std::pair<std::string, std::string>>& env = {}) {
    std::string answer_file = sysroot_.path("answers.txt");
    // The sample source offers its placement test after the first course: declined.
    WriteTestFile(answer_file, "prompt:MSG_Message_AboutToInstallPT -> 2\n" + answers);
    WriteTestFile(Transcript(), "");
    return RunBinary(NUVEL_SETUP_BINARY,
                     {"--source", sysroot_.path("source"), "--answers", answer_file, "--transcript",
                      Transcript()},
                     env);
  }

  // A launcher of an installed bundle: executable, starting the bundle's program and showing
  // its icon, both of which exist; and accepted by the desktop's validator when it is there.
  void ExpectLauncher(const std::string& path, const std::string& name, const std::string& bundle) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(fs::is_regular_file(path));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXUSR, 0u) << "a launcher is made executable";
    EXPECT_EQ(LauncherValue(path, "Name"), name);
    EXPECT_EQ(LauncherValue(path, "Exec"), Installed(bundle + ".app/Contents/MacOS/" + bundle));
    EXPECT_EQ(LauncherValue(path, "Icon"),
              Installed(bundle + ".app/Contents/Resources/" + bundle + ".png"));
    EXPECT_TRUE(fs::is_regular_file(LauncherValue(path, "Exec")));
    EXPECT_TRUE(fs::is_regular_file(LauncherValue(path, "Icon")));
    if (HasValidator()) {
      RunResult valid = RunBinary("desktop-file-validate", {path});
      EXPECT_EQ(valid.status, 0) << valid.output;
      EXPECT_EQ(valid.output.find("error:"), std::string::npos) << valid.output;
    } else {
      validator_missing_ = true;
    }
  }

  void SkipWhenValidatorMissing() {
    if (validator_missing_) GTEST_SKIP() << "desktop-file-validate is not installed";
  }

  TestSysroot sysroot_;
  bool validator_missing_ = false;
};

// ---- Launchers --------------------------------------------------------------------------------

TEST_F(DesktopScenarioTest, TwoInstallationsLeaveOneStudentLauncherAndRemoveTheOldOne) {
  MakeSource();
  fs::create_directories(Desktop());
  RunResult run = Setup(kInstallLevel3);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Names(Desktop()), (std::set<std::string>{"Student.desktop"}));
  ExpectLauncher(Desktop() + "/Student.desktop", "Student", "Launcher");

  // A launcher of the old name and a second installation.
  WriteTestFile(Desktop() + "/Nuvel Courseware.desktop",
                "[Desktop Entry]\nType=Application\nName=Nuvel Courseware\nExec=/bin/true\n");
  run = Setup(kInstallGrammar);
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(Installed("launch/010ENG50"))) << run.output;
  EXPECT_EQ(Names(Desktop()), (std::set<std::string>{"Student.desktop"}));
  ExpectLauncher(Desktop() + "/Student.desktop", "Student", "Launcher");

  // A local installation has no Shortcuts folder anywhere.
  EXPECT_FALSE(fs::exists(Installed("Shortcuts")));
  for (auto it = fs::recursive_directory_iterator(sysroot_.root());
       it != fs::recursive_directory_iterator(); ++it) {
    if (it->path() == sysroot_.path("source")) {
      it.disable_recursion_pending();
      continue;
    }
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
  EXPECT_EQ(Names(Desktop()), (std::set<std::string>{"Student.desktop", "Student Nuvel.desktop"}));
  EXPECT_TRUE(fs::is_directory(Desktop() + "/Student.desktop"));
  EXPECT_TRUE(fs::is_empty(Desktop() + "/Student.desktop"));
  ExpectLauncher(Desktop() + "/Student Nuvel.desktop", "Student Nuvel", "Launcher");
  SkipWhenValidatorMissing();
}

TEST_F(DesktopScenarioTest, TeacherLauncherReplacesTheOldRecordsManagerLauncher) {
  MakeSource();
  WriteTestFile(Desktop() + "/Nuvel Records Manager.desktop",
                "[Desktop Entry]\nType=Application\nName=Nuvel Records Manager\nExec=/bin/true\n");
  RunResult run = Setup(kInstallLevel3);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Names(Desktop()), (std::set<std::string>{"Student.desktop", "Teacher.desktop"}));
  ExpectLauncher(Desktop() + "/Teacher.desktop", "Teacher", "Records Manager");
  SkipWhenValidatorMissing();
}

TEST_F(DesktopScenarioTest, RecordsManagerWithoutItsIconGetsNoTeacherLauncher) {
  MakeSource({"--bundle-without-icon", "Records Manager"});
  const std::string old_launcher = Desktop() + "/Nuvel Records Manager.desktop";
  WriteTestFile(old_launcher,
                "[Desktop Entry]\nType=Application\nName=Nuvel Records Manager\nExec=/bin/true\n");
  RunResult run = Setup(kInstallLevel3);
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(Installed("Records Manager.app"))) << run.output;
  EXPECT_FALSE(fs::exists(Installed("Records Manager.app/Contents/Resources/Records Manager.png")));
  // Neither the old launcher is deleted nor a new one made.
  EXPECT_EQ(Names(Desktop()),
            (std::set<std::string>{"Student.desktop", "Nuvel Records Manager.desktop"}));
  EXPECT_FALSE(fs::exists(Desktop() + "/Teacher Nuvel.desktop"));
}

TEST_F(DesktopScenarioTest, NetworkInstallationFillsTheSharedShortcutsFolder) {
  MakeSource();
  fs::create_directories(Desktop());
  RunResult run = Setup(kInstallLevel3, {{"NUVEL_NETWORK_PATHS", sysroot_.path("opt/Nuvel")}});
  ASSERT_EQ(run.status, 0) << run.output;

  // On a network installation the records folder is the installation folder.
  const std::string shortcuts = Installed("Shortcuts");
  EXPECT_EQ(Names(shortcuts), (std::set<std::string>{"Student.desktop", "Teacher.desktop",
                                                     "Freshen.desktop", "Analyzer.desktop"}));
  ExpectLauncher(shortcuts + "/Student.desktop", "Student", "Launcher");
  ExpectLauncher(shortcuts + "/Teacher.desktop", "Teacher", "Records Manager");
  ExpectLauncher(shortcuts + "/Freshen.desktop", "Freshen", "Freshen");
  ExpectLauncher(shortcuts + "/Analyzer.desktop", "Analyzer", "Analyzer");
  // The desktop itself still gets only the student's launcher.
  EXPECT_EQ(Names(Desktop()), (std::set<std::string>{"Student.desktop"}));

  // The closing message points at the folder to copy from.
  std::string transcript = ReadTestFile(Transcript());
  EXPECT_NE(transcript.find(R"("id":"MSG_CopyShortcutToDesktop")"), std::string::npos)
      << transcript;
  EXPECT_NE(transcript.find(shortcuts + "/Nuvel Courseware"), std::string::npos) << transcript;
  SkipWhenValidatorMissing();
}

// ---- Single instance and the quit signal -------------------------------------------------------

// Holds the instance lock of a creator code for the test's scope.
class HeldLock {
 public:
  explicit HeldLock(const std::string& code) : code_(code) {
    bool elsewhere = true;
    error_ = platform::TakeInstanceLock(code_, elsewhere);
    held_ = !error_ && !elsewhere;
  }
  ~HeldLock() { platform::ReleaseInstanceLock(code_); }
  bool held() const { return held_; }
  std::string error() const { return error_.message(); }

 private:
  std::string code_;
  std::error_code error_;
  bool held_ = false;
};

// nuvel-setup with the terminal interface on a pseudo-terminal.
class TerminalSetup {
 public:
  explicit TerminalSetup(const std::string& source) {
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      ::setenv("LANGUAGE", "en", 1);
      ::unsetenv("LC_ALL");
      ::unsetenv("LC_MESSAGES");
      ::unsetenv("LANG");
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

  bool started() const { return pid_ > 0; }
  bool running() const { return pid_ > 0 && !ended_; }
  const std::string& screen() const { return screen_; }

  // Reads what the program writes until `text` has appeared or the time is up.
  bool ReadUntil(const std::string& text, std::chrono::milliseconds limit) {
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
    bool shown = ReadUntil("Welcome to Nuvel Setup", std::chrono::seconds(20)) &&
                 ReadUntil("[1] Install", std::chrono::seconds(5)) &&
                 ReadUntil("> ", std::chrono::seconds(5));
    if (shown) ReadUntil(std::string(1, '\0'), std::chrono::milliseconds(200));
    return shown;
  }

  void Type(const std::string& text) {
    ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void Signal(int signal) { ::kill(pid_, signal); }

  // Waits for the end (the terminal kept drained); false when it did not end in time.
  bool Ended(std::chrono::milliseconds limit) {
    auto end = Clock::now() + limit;
    while (!ended_ && Clock::now() < end) {
      pid_t done = ::waitpid(pid_, &status_, WNOHANG);
      if (done == pid_) {
        ended_ = true;
        break;
      }
      ReadUntil(std::string(1, '\0'), std::chrono::milliseconds(50));
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

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

TEST_F(DesktopScenarioTest, SecondSetupStartedWhileOneRunsEndsSilently) {
  MakeSource();
  // The lock of this Setup, or of the Records Manager, held by another process (this one).
  for (const char* code : {"NvSU", "NvRM"}) {
    SCOPED_TRACE(code);
    HeldLock lock(code);
    ASSERT_TRUE(lock.held()) << lock.error();
    ASSERT_TRUE(fs::exists(sysroot_.path(std::string("tmp/nuvel-") + code + ".lock")));
    RunResult run = Setup("welcome -> 2\n");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(ReadTestFile(Transcript()), "") << "no dialog may be shown";
    // Nothing is written before the check: no system folder, no log, no records.ini.
    EXPECT_FALSE(fs::exists(sysroot_.path("opt")));
    EXPECT_FALSE(fs::exists(sysroot_.path("var")));
  }

  // With the lock given up, the same command runs normally.
  RunResult run = Setup("welcome -> 2\n");
  EXPECT_EQ(run.status, 0) << run.output;
  auto lines = FileLines(Transcript());
  ASSERT_EQ(lines.size(), 1u) << run.output;
  EXPECT_EQ(lines[0].rfind(R"({"dialog":"welcome")", 0), 0u) << lines[0];
  EXPECT_EQ(Count(Log(), "Starting Nuvel Setup Application"), 1u);
  EXPECT_EQ(Count(Log(), "End of Nuvel Setup Application"), 1u);
}

TEST_F(DesktopScenarioTest, SecondSetupLeavesTheFirstOneRunning) {
  MakeSource();
  TerminalSetup first(sysroot_.path("source"));
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(first.WelcomeWaits()) << first.screen();

  RunResult second = Setup("welcome -> 2\n");
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_EQ(second.output, "");
  EXPECT_EQ(ReadTestFile(Transcript()), "");
  EXPECT_EQ(Count(Log(), "Starting Nuvel Setup Application"), 1u) << Log();

  // The first one still answers: Quit.
  ASSERT_TRUE(first.running());
  first.Type("2\n");
  ASSERT_TRUE(first.Ended(std::chrono::seconds(10))) << first.screen();
  EXPECT_EQ(first.ExitStatus(), 0) << first.screen();
  EXPECT_EQ(Count(Log(), "End of Nuvel Setup Application"), 1u) << Log();
}

TEST_F(DesktopScenarioTest, QuitSignalWhileWelcomeWaitsOnTheTerminalEndsTheRun) {
  MakeSource();
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    const std::size_t log_before = Log().size();
    {
      TerminalSetup setup(sysroot_.path("source"));
      ASSERT_TRUE(setup.started());
      ASSERT_TRUE(setup.WelcomeWaits()) << setup.screen();
      setup.Signal(signal);
      ASSERT_TRUE(setup.Ended(std::chrono::seconds(10))) << "no end on the signal:\n"
                                                         << setup.screen();
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
  EXPECT_EQ(FileLines(Transcript()).size(), 1u) << again.output;
}

// ---- The closing item -------------------------------------------------------------------------

class DesktopClosingItemTest : public DesktopScenarioTest {
 protected:
  // A source holding only the English-only course 010ENG50, whose own setup.ini carries
  // `settings`, and a small program bundle in extras/ that leaves a marker in the sysroot.
  void MakeOneProductSource(const std::string& settings) {
    MakeSource({"--content-as", "folders"});
    for (const auto& entry : fs::directory_iterator(Source("install/data"))) {
      std::string name = entry.path().filename().string();
      if (entry.is_directory() && name != "support" && name != "010ENG50") {
        fs::remove_all(entry.path());
        fs::remove_all(Source("Nuvel/content/" + name));
      }
    }
    ASSERT_EQ(Names(Source("Nuvel/content")), (std::set<std::string>{"010ENG50"}));
    WriteTestFile(Source("install/data/010ENG50/setup.ini"),
                  "[Nuvel]\r\nmultiLanguages=ENG\r\n" + settings);
    const std::string program = Source("extras/Finish.app/Contents/MacOS/Finish");
    WriteTestFile(program, "#!/bin/sh\necho \"$0\" > '" + Marker() + "'\n");
    fs::permissions(program, fs::perms::owner_all, fs::perm_options::add);
  }

  std::string Marker() { return sysroot_.path("closing-item-ran"); }

  RunResult Install() {
    return Setup(
        "welcome -> 1\n"
        "install-options -> 1\n"
        "products -> 1\n"
        "install -> 1\n"
        "prompt:MSG_Message_InstallAnother -> 2\n"
        "prompt:* -> 1\n"
        "control\n");
  }

  // The item is started and not waited for: give it time to leave its marker.
  bool MarkerAppears(std::chrono::milliseconds limit) {
    auto end = Clock::now() + limit;
    while (!fs::exists(Marker()) && Clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return fs::exists(Marker());
  }
};

TEST_F(DesktopClosingItemTest, AllowedItemRunsAtTheEndOfTheInstallation) {
  MakeOneProductSource("allow_run=Yes\r\nrun_item_mac=extras/Finish.app\r\n");
  if (HasFatalFailure()) return;
  RunResult run = Install();
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(Installed("launch/010ENG50"))) << run.output;
  ASSERT_TRUE(MarkerAppears(std::chrono::seconds(10))) << Log();
  EXPECT_NE(ReadTestFile(Marker()).find(Source("extras/Finish.app/Contents/MacOS/Finish")),
            std::string::npos)
      << ReadTestFile(Marker());
  EXPECT_EQ(Log().find("RunProgram: error"), std::string::npos);
}

TEST_F(DesktopClosingItemTest, UpperCaseNDoesNotStopTheItem) {
  // Only a lower-case "n" in allow_run stops the item.
  MakeOneProductSource("allow_run=N\r\nrun_item_mac=extras/Finish.app\r\n");
  if (HasFatalFailure()) return;
  RunResult run = Install();
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(MarkerAppears(std::chrono::seconds(10))) << Log();
}

TEST_F(DesktopClosingItemTest, ItemNotAllowedDoesNotRun) {
  MakeOneProductSource("allow_run=no\r\nrun_item_mac=extras/Finish.app\r\n");
  if (HasFatalFailure()) return;
  RunResult run = Install();
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(Installed("launch/010ENG50"))) << run.output;
  EXPECT_FALSE(MarkerAppears(std::chrono::milliseconds(1500)));
}

TEST_F(DesktopClosingItemTest, ItemThatCannotBeStartedIsReported) {
  MakeOneProductSource("allow_run=Yes\r\nrun_item_mac=extras/Missing.app\r\n");
  if (HasFatalFailure()) return;
  RunResult run = Install();
  ASSERT_EQ(run.status, 0) << run.output;
  auto lines = FileLines(Transcript());
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find(R"("text":"Error Launching Application.")"), std::string::npos)
      << lines.back();
  EXPECT_NE(Log().find("RunProgram: error"), std::string::npos);
  EXPECT_FALSE(MarkerAppears(std::chrono::milliseconds(200)));

  // The message file is still open when the closing item runs: the button has its text.
  EXPECT_NE(lines.back().find(R"("buttons":["OK"])"), std::string::npos) << lines.back();
}

TEST_F(DesktopClosingItemTest, ItemOfASourceWithSeveralProductsDoesNotRun) {
  // The whole sample source; the English-only course allows its item.
  MakeSource();
  WriteTestFile(Source("install/data/010ENG50/setup.ini"),
                "[Nuvel]\r\nmultiLanguages=ENG\r\nallow_run=Yes\r\n"
                "run_item_mac=extras/Finish.app\r\n");
  const std::string program = Source("extras/Finish.app/Contents/MacOS/Finish");
  WriteTestFile(program, "#!/bin/sh\necho \"$0\" > '" + Marker() + "'\n");
  fs::permissions(program, fs::perms::owner_all, fs::perm_options::add);

  RunResult run = Setup(kInstallGrammar);
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(Installed("launch/010ENG50"))) << run.output;
  EXPECT_FALSE(MarkerAppears(std::chrono::milliseconds(1500)));
}

}  // namespace
}  // namespace nuvel::testing
