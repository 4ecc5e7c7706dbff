// Scenarios of the real binary against its desktop: launchers on the Desktop and in a network
// installation's Shortcuts folder, the single-instance lock, quit signals, the closing item.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
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

// A course already installed is not updated; everything after the course is acknowledged.
const std::string kFront = kStart + "prompt:MSG_Message_AMoreRecentVersion -> 2\n";
const std::string kBack = "products -> 1\ninstall -> 1\n" + kEnd + "prompt:* -> 1\n";
// English Foundations, Level 3 (third in the family list); the English-only course (fourth).
const std::string kInstallLevel3 =
    kFront + "family select 2 -> 1\nversion -> 1\nmulti-language -> 1\n" + kBack;
const std::string kInstallGrammar = kFront + "family select 3 -> 1\n" + kBack;
const std::string kOldLauncher = "[Desktop Entry]\nType=Application\nName=Old\nExec=/bin/true\n";

// The value of "key=" in a launcher, with the quotes of an Exec value removed.
std::string LauncherValue(const std::string& path, const std::string& key) {
  for (const std::string& line : FileLines(path)) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string value = line.substr(key.size() + 1);
    bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    return quoted ? value.substr(1, value.size() - 2) : value;
  }
  return "";
}

// True when `what` occurs in `text` exactly once.
bool Once(const std::string& text, const std::string& what) {
  std::size_t at = text.find(what);
  return at != std::string::npos && at == text.rfind(what);
}

class DesktopScenarioTest : public ScenarioTest {
 protected:
  std::string Desktop() { return sysroot_.path("home/Desktop"); }

  // A launcher of an installed bundle: executable, starting the bundle's program and showing
  // its icon, both of which exist; and accepted by the desktop's validator when it is there.
  void ExpectLauncher(const std::string& path, const std::string& name, const std::string& bundle) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(fs::is_regular_file(path));
    EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_exec, fs::perms::none)
        << "a launcher is made executable";
    EXPECT_EQ(LauncherValue(path, "Name"), name);
    EXPECT_EQ(LauncherValue(path, "Exec"), Installed(bundle + ".app/Contents/MacOS/" + bundle));
    EXPECT_EQ(LauncherValue(path, "Icon"),
              Installed(bundle + ".app/Contents/Resources/" + bundle + ".png"));
    EXPECT_TRUE(fs::is_regular_file(LauncherValue(path, "Exec")));
    EXPECT_TRUE(fs::is_regular_file(LauncherValue(path, "Icon")));
    // Without the validator (127) the test goes on, and counts as skipped unless a check fails.
    RunResult valid = RunBinary("desktop-file-validate", {path});
    if (valid.status == 127) GTEST_SKIP() << "desktop-file-validate is not installed";
    EXPECT_EQ(valid.status, 0) << valid.output;
    EXPECT_EQ(valid.output.find("error:"), std::string::npos) << valid.output;
  }
};

// A fresh desktop gets both launchers; a second installation replaces them and the old names.
TEST_F(DesktopScenarioTest, TwoInstallationsLeaveOneStudentAndOneTeacherLauncher) {
  MakeSource();
  fs::create_directories(Desktop());
  RunResult run = Setup(kInstallLevel3);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Entries(Desktop()), (std::set<std::string>{"Student.desktop", "Teacher.desktop"}));
  ExpectLauncher(Desktop() + "/Student.desktop", "Student", "Launcher");
  ExpectLauncher(Desktop() + "/Teacher.desktop", "Teacher", "Records Manager");

  // Launchers of the old names and a folder of the student launcher's name, which cannot be
  // replaced: the second installation takes the alternate name.
  WriteTestFile(Desktop() + "/Nuvel Courseware.desktop", kOldLauncher);
  WriteTestFile(Desktop() + "/Nuvel Records Manager.desktop", kOldLauncher);
  fs::remove(Desktop() + "/Student.desktop");
  fs::create_directories(Desktop() + "/Student.desktop");
  run = Setup(kInstallGrammar);
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(Installed("launch/010ENG50"))) << run.output;
  EXPECT_EQ(Entries(Desktop()),
            (std::set<std::string>{"Student.desktop", "Student Nuvel.desktop", "Teacher.desktop"}));
  EXPECT_TRUE(fs::is_empty(Desktop() + "/Student.desktop"));
  ExpectLauncher(Desktop() + "/Student Nuvel.desktop", "Student Nuvel", "Launcher");

  // A local installation has no Shortcuts folder anywhere.
  for (auto it = fs::recursive_directory_iterator(sysroot_.root());
       it != fs::recursive_directory_iterator(); ++it) {
    if (it->path() == Source()) it.disable_recursion_pending();
    EXPECT_NE(it->path().filename(), "Shortcuts") << it->path();
  }
}

// Run as root, the launchers also go to the first writable menu folder of XDG_DATA_DIRS, so
// that the students' accounts see the courses; Uninstall All takes them away again, but not a
// launcher of the same name that starts another installation.
TEST_F(DesktopScenarioTest, RunAsRootTheApplicationMenuGetsLaunchersUntilUninstallAll) {
  MakeSource();
  fs::create_directories(Desktop());
  fs::create_directories(sysroot_.path("usr/local/share"));
  const std::string local_menu = sysroot_.path("usr/local/share/applications");
  const std::string other_menu = sysroot_.path("usr/share/applications");
  const std::string foreign =
      "[Desktop Entry]\nType=Application\nName=Student\nExec=/opt/Elsewhere/run\n";
  WriteTestFile(other_menu + "/nuvel-student.desktop", foreign);

  RunResult run = Setup(kInstallLevel3, {{"NUVEL_TEST_ADMINISTRATOR", "0"}});
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::exists(Desktop() + "/Student.desktop")) << run.output;
  EXPECT_FALSE(fs::exists(local_menu)) << "an ordinary user's run leaves the menu alone";

  run = Setup(kInstallGrammar, {{"NUVEL_TEST_ADMINISTRATOR", "1"}});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Entries(local_menu),
            (std::set<std::string>{"nuvel-student.desktop", "nuvel-teacher.desktop"}));
  ExpectLauncher(local_menu + "/nuvel-student.desktop", "Student", "Launcher");
  ExpectLauncher(local_menu + "/nuvel-teacher.desktop", "Teacher", "Records Manager");
  EXPECT_EQ(LauncherValue(local_menu + "/nuvel-student.desktop", "Categories"),
            "Education;Languages;");
  EXPECT_EQ(ReadTestFile(other_menu + "/nuvel-student.desktop"), foreign);

  run = Setup(
      "welcome -> 4\nuninstall -> 5\nprompt:MSG_Message_UninstallAllServer -> 1\n"
      "prompt:Complete! -> 1\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_FALSE(fs::exists(Installed()));
  EXPECT_TRUE(Entries(local_menu).empty());
  EXPECT_FALSE(fs::exists(Desktop() + "/Student.desktop"));
  EXPECT_EQ(ReadTestFile(other_menu + "/nuvel-student.desktop"), foreign);
}

// The menu folder is the first of XDG_DATA_DIRS that can be written: a read-only one is passed
// over, a relative entry ignored, and without any writable folder the run still succeeds.
TEST_F(DesktopScenarioTest, TheMenuFolderIsTheFirstWritableDataFolder) {
  MakeSource();
  const std::string readonly_share = sysroot_.path("ro/share");
  const std::string writable_share = sysroot_.path("rw/share");
  fs::create_directories(readonly_share + "/applications");
  fs::create_directories(writable_share);
  const Env env = {{"NUVEL_TEST_ADMINISTRATOR", "1"},
                   {"XDG_DATA_DIRS", "relative/share:/ro/share:/rw/share/"},
                   {"NUVEL_READONLY_FOLDERS", readonly_share + "/applications"}};
  RunResult run = Setup(kInstallLevel3, env);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(fs::is_empty(readonly_share + "/applications"));
  EXPECT_EQ(Entries(writable_share + "/applications"),
            (std::set<std::string>{"nuvel-student.desktop", "nuvel-teacher.desktop"}));

  run = Setup(kInstallGrammar,
              {{"NUVEL_TEST_ADMINISTRATOR", "1"}, {"XDG_DATA_DIRS", "/nowhere/share"}});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_FALSE(fs::exists(sysroot_.path("nowhere")));
}

TEST_F(DesktopScenarioTest, RecordsManagerWithoutItsIconGetsNoTeacherLauncher) {
  MakeSource({"--bundle-without-icon", "Records Manager"});
  WriteTestFile(Desktop() + "/Nuvel Records Manager.desktop", kOldLauncher);
  RunResult run = Setup(kInstallLevel3);
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(Installed("Records Manager.app"))) << run.output;
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
  // The desktop itself gets only the student's and the teacher's launchers.
  EXPECT_EQ(Entries(Desktop()), (std::set<std::string>{"Student.desktop", "Teacher.desktop"}));
  // The closing message points at the folder to copy from.
  bool pointed = false;
  for (const std::string& line : Dialogs("prompt")) {
    pointed = pointed || (JsonField(line, "id") == "MSG_CopyShortcutToDesktop" &&
                          line.find(shortcuts + "/Nuvel Courseware") != std::string::npos);
  }
  EXPECT_TRUE(pointed) << ReadTestFile(Transcript());
}

// nuvel-setup with the terminal interface on a pseudo-terminal.
struct TerminalSetup {
  explicit TerminalSetup(const std::string& source) {
    pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
      ::setenv("LANGUAGE", "en", 1);
      for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) ::unsetenv(name);
      ::execl(NUVEL_SETUP_BINARY, NUVEL_SETUP_BINARY, "--ui", "terminal", "--source",
              source.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~TerminalSetup() {
    if (pid > 0 && !ended && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, &status, 0);
    if (terminal >= 0) ::close(terminal);
  }

  // Reads what the program writes until `text` has appeared or the time is up.
  bool ReadUntil(const std::string& text, milliseconds limit) {
    for (auto end = Clock::now() + limit;
         screen.find(text) == std::string::npos && Clock::now() < end;) {
      pollfd fd{terminal, POLLIN, 0};
      if (::poll(&fd, 1, 50) <= 0) continue;
      char buf[4096];
      ssize_t n = ::read(terminal, buf, sizeof buf);
      if (n <= 0) break;
      screen.append(buf, static_cast<std::size_t>(n));
    }
    return screen.find(text) != std::string::npos;
  }

  // The Welcome dialog, waiting for its answer. The prompt is written just before the read of
  // the answer starts; a moment more (reading for a NUL that never comes) lets it reach that read.
  bool WelcomeWaits() {
    return ReadUntil("Welcome to Nuvel Setup", seconds(20)) &&
           ReadUntil("[1] Install", seconds(5)) && ReadUntil("> ", seconds(5)) &&
           !ReadUntil(std::string(1, '\0'), milliseconds(200));
  }

  // Waits for an exit with `expected` status (the terminal kept drained); false when it did not
  // end in time, was ended by a signal or exited with another status.
  bool EndedWithStatus(milliseconds limit, int expected) {
    for (auto end = Clock::now() + limit; !ended && Clock::now() < end;) {
      ended = ::waitpid(pid, &status, WNOHANG) == pid;
      if (!ended) ReadUntil(std::string(1, '\0'), milliseconds(50));
    }
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == expected;
  }

  pid_t pid = -1;
  int terminal = -1;  // the master side
  int status = 0;
  bool ended = false;
  std::string screen;
};

TEST_F(DesktopScenarioTest, SecondSetupEndsWithStatusFourWhileTheRecordsManagerOrASetupRuns) {
  MakeSource();
  // The Records Manager's lock in the system folder, held by this process: nothing is shown,
  // and nothing written before the check.
  fs::create_directories(Installed());
  bool elsewhere = true;
  ASSERT_FALSE(platform::TakeInstanceLock("NvRM", elsewhere));
  RunResult run = Setup("welcome -> 2\n");
  platform::ReleaseInstanceLock("NvRM");
  EXPECT_EQ(run.status, 4) << run.output;
  EXPECT_EQ(run.output, "nuvel-setup: another Setup is running; nothing was done\n");
  EXPECT_EQ(ReadTestFile(Transcript()), "") << "no dialog may be shown";
  EXPECT_EQ(Entries(Installed()), (std::set<std::string>{"nuvel-NvRM.lock", "nuvel-NvSU.lock"}));
  EXPECT_FALSE(fs::exists(sysroot_.path("var")));

  // With the lock given up a Setup starts and waits in Welcome; a second one ends silently.
  TerminalSetup first(Source());
  ASSERT_TRUE(first.WelcomeWaits()) << first.screen;
  run = Setup("welcome -> 2\n");
  EXPECT_EQ(run.status, 4) << run.output;
  EXPECT_EQ(run.output, "nuvel-setup: another Setup is running; nothing was done\n");
  EXPECT_EQ(ReadTestFile(Transcript()), "");
  EXPECT_TRUE(Once(Log(), "Starting Nuvel Setup Application")) << Log();

  // The first one still runs and answers: Quit.
  ASSERT_EQ(::waitpid(first.pid, nullptr, WNOHANG), 0);
  ASSERT_EQ(::write(first.terminal, "2\n", 2), 2);
  ASSERT_TRUE(first.EndedWithStatus(seconds(10), 0)) << first.screen;
  EXPECT_TRUE(Once(Log(), "End of Nuvel Setup Application")) << Log();
}

// The terminal numbers buttons as answer files and transcripts do: Uninstall is item 4 of the
// Welcome dialog, whatever is shown before it. A quit signal while Welcome waits ends the run at
// once. (SIGINT and SIGHUP are served by the same handler; the process tests send all three.)
TEST_F(DesktopScenarioTest, QuitSignalWhileWelcomeWaitsOnTheTerminalEndsTheRun) {
  MakeSource();
  ASSERT_EQ(Setup(kInstallGrammar).status, 0);
  TerminalSetup setup(Source());
  ASSERT_TRUE(setup.WelcomeWaits()) << setup.screen;
  EXPECT_NE(setup.screen.find("[1] Install  [2] Quit  [4] Uninstall"), std::string::npos)
      << setup.screen;
  ::kill(setup.pid, SIGTERM);
  ASSERT_TRUE(setup.EndedWithStatus(seconds(10), 128 + SIGTERM)) << "no end on the signal:\n"
                                                                 << setup.screen;
  std::string log = Log();
  std::size_t quit_line =
      log.find("Quit event received (signal " + std::to_string(SIGTERM) + ")\r\n");
  ASSERT_NE(quit_line, std::string::npos) << log;
  EXPECT_LT(log.rfind("Showing 'Welcome' Dialog"), quit_line) << log;
  // No finishing tail after the quit.
  EXPECT_EQ(log.find("End of Nuvel Setup Application", quit_line), std::string::npos) << log;
}

class DesktopClosingItemTest : public DesktopScenarioTest {
 protected:
  // The sample source with a small program bundle in extras/ that leaves a marker in the sysroot.
  void SetUp() override {
    MakeSource({"--content-as", "folders"});
    const std::string program = Source("extras/Finish.app/Contents/MacOS/Finish");
    WriteTestFile(program, "#!/bin/sh\necho \"$0\" > '" + Marker() + "'\n");
    fs::permissions(program, fs::perms::owner_all, fs::perm_options::add);
  }

  // Installs 010ENG50 afresh, its own setup.ini naming the closing item.
  void Install(const std::string& allow_run, const std::string& item) {
    fs::remove_all(sysroot_.path("opt"));
    fs::remove(Marker());
    WriteTestFile(Source("install/data/010ENG50/setup.ini"),
                  "[Nuvel]\r\nmultiLanguages=ENG\r\nallow_run=" + allow_run + "\r\n" +
                      (item.empty() ? "" : "run_item_mac=extras/" + item + "\r\n"));
    RunResult run = Setup(kInstallGrammar);
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(fs::is_directory(Installed("launch/010ENG50"))) << run.output;
  }

  std::string Marker() { return sysroot_.path("closing-item-ran"); }

  // Only the English-only course 010ENG50 left on the source.
  void KeepOneProduct() {
    for (const std::string& name : Entries(Source("Nuvel/content"))) {
      if (name == "010ENG50") continue;
      fs::remove_all(Source("install/data/" + name));
      fs::remove_all(Source("Nuvel/content/" + name));
    }
  }

  // The item is started and not waited for: give it time to leave its marker.
  bool MarkerAppears(milliseconds limit) {
    for (auto end = Clock::now() + limit; !fs::exists(Marker()) && Clock::now() < end;)
      std::this_thread::sleep_for(milliseconds(50));
    return fs::exists(Marker());
  }
};

// Only a one-product source runs its item, and only a lower-case "n" in allow_run stops it; an
// item that cannot be started is reported.
TEST_F(DesktopClosingItemTest, ItemRunsAtTheEndWhenAllowedOnAOneProductSource) {
  ASSERT_NO_FATAL_FAILURE(Install("Yes", "Finish.app"));
  EXPECT_FALSE(MarkerAppears(milliseconds(1500))) << "a source of several products runs none";
  KeepOneProduct();
  for (const char* allow_run : {"Yes", "N"}) {
    SCOPED_TRACE(allow_run);
    ASSERT_NO_FATAL_FAILURE(Install(allow_run, "Finish.app"));
    ASSERT_TRUE(MarkerAppears(seconds(10))) << Log();
    EXPECT_NE(ReadTestFile(Marker()).find(Source("extras/Finish.app/Contents/MacOS/Finish")),
              std::string::npos)
        << ReadTestFile(Marker());
    EXPECT_EQ(Log().find("RunProgram: error"), std::string::npos);
  }
  ASSERT_NO_FATAL_FAILURE(Install("no", "Finish.app"));
  EXPECT_FALSE(MarkerAppears(milliseconds(1500))) << "allow_run=no";

  ASSERT_NO_FATAL_FAILURE(Install("Yes", "Missing.app"));
  auto lines = FileLines(Transcript());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(JsonField(lines.back(), "text"), "Error Launching Application.") << lines.back();
  // The message file is still open when the closing item runs: the button has its text.
  EXPECT_EQ(JsonStringArray(lines.back(), "buttons"), std::vector<std::string>{"OK"});
  EXPECT_NE(Log().find("RunProgram: error"), std::string::npos);
}

// Without an item of its own the course is started: the installed Launcher application runs.
TEST_F(DesktopClosingItemTest, NoItemStartsTheInstalledLauncher) {
  KeepOneProduct();
  WriteTestFile(Source("install/MacOS/Launcher.app/Contents/MacOS/Launcher"),
                "#!/bin/sh\necho \"$0\" > '" + Marker() + "'\n");
  ASSERT_NO_FATAL_FAILURE(Install("Yes", ""));
  ASSERT_TRUE(MarkerAppears(seconds(10))) << Log();
  EXPECT_NE(ReadTestFile(Marker()).find(Installed("Launcher.app/Contents/MacOS/Launcher")),
            std::string::npos)
      << ReadTestFile(Marker());
  EXPECT_EQ(Log().find("RunProgram: error"), std::string::npos);
  for (const std::string& line : Dialogs("prompt")) {
    EXPECT_NE(JsonField(line, "text"), "Error Launching Application.");
  }
}

}  // namespace
}  // namespace nuvel::testing
