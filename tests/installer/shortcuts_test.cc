#include "installer/shortcuts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/clock.h"
#include "platform/events.h"
#include "platform/process.h"
#include "platform/trash.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"
#include "tests/support/fake_backend.h"
#include "ui/prompts.h"

namespace nuvel::installer {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;
using ui::testing::FakeBackend;

void ResetModules() { nuvel::testing::ResetBaseModules(); }

void MakeExecutable(const std::string& path, const std::string& text) {
  WriteTestFile(path, text);
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

class ShortcutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModules();
    auto backend = std::make_unique<FakeBackend>();
    ui_ = backend.get();
    ui::SetBackend(std::move(backend));
    if (const char* path = std::getenv("PATH")) saved_path_ = path;
    // A blank in the installation folder: launchers must quote it.
    apps_ = sysroot_.path("opt/Nuvel Courses");
    desktop_ = sysroot_.path("home/Desktop");
    fs::create_directories(desktop_);
    fs::create_directories(sysroot_.path("opt/Nuvel"));  // the system folder: the locks' place
    for (const char* app : {"Launcher", "Records Manager", "Freshen", "Analyzer"}) {
      MakeBundle(app, "#!/bin/sh\n");
    }
  }
  void TearDown() override {
    for (const char* creator : kNuvelCreators) platform::ReleaseInstanceLock(creator);
    ::setenv("PATH", saved_path_.c_str(), 1);
    ResetModules();
    ui::SetBackend(nullptr);
  }

  std::string Bundle(const std::string& app) { return apps_ + "/" + app + ".app"; }

  void MakeBundle(const std::string& app, const std::string& script) {
    MakeExecutable(Bundle(app) + "/Contents/MacOS/" + app, script);
    WriteTestFile(Bundle(app) + "/Contents/Resources/" + app + ".png", "\x89PNG\r\n");
  }

  // Sets the installation folder up the way the driver does, on a network path or not.
  void Install(bool networked) {
    if (networked) ::setenv("NUVEL_NETWORK_PATHS", apps_.c_str(), 1);
    base::Initialize_All_Paths(apps_);
    ASSERT_EQ(base::GetIsPathNetworked(), networked ? 1 : 0);
  }

  static std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string Log() { return ReadTestFile(base::Paths().localNuvelDirectory + "Nuvel_log.txt"); }
  bool Logged(const std::string& text) { return Log().find(text) != std::string::npos; }

  // A stand-in for the desktop's opener that records its argument.
  std::string FakeOpener(int status) {
    std::string bin = sysroot_.path("bin");
    std::string record = sysroot_.path("opened.txt");
    MakeExecutable(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + record +
                                          "'\nexit " + std::to_string(status) + "\n");
    ::setenv("PATH", (bin + ":" + saved_path_).c_str(), 1);
    return record;
  }

  TestSysroot sysroot_;
  FakeBackend* ui_ = nullptr;
  std::string saved_path_;
  std::string apps_;
  std::string desktop_;
};

// ---- Desktop launchers -------------------------------------------------------------------
// (The launchers made in an installation are checked by the desktop scenarios.)

TEST_F(ShortcutsTest, WithoutTeacherTheRecordsManagerRowIsSkipped) {
  WriteTestFile(desktop_ + "/Nuvel Records Manager.desktop", "[Desktop Entry]\n");
  Install(false);
  Create_The_Icons(0);
  EXPECT_EQ(Names(desktop_),
            (std::vector<std::string>{"Nuvel Records Manager.desktop", "Student.desktop"}));
}

TEST_F(ShortcutsTest, AliasOperationsReportMissingPartsAndBusyNamesAndCutNames) {
  Install(false);
  EXPECT_EQ(DoCreateAlias("Missing.app", apps_, "Missing", desktop_), -ENOENT);
  fs::remove(Bundle("Freshen") + "/Contents/MacOS/Freshen");
  EXPECT_EQ(DoCreateAlias("Freshen.app", apps_, "Freshen", desktop_), -ENOENT);
  EXPECT_EQ(DoDeleteAlias("Launcher.app", apps_, "Nothing Here", desktop_), -ENOENT);
  fs::create_directories(desktop_ + "/Busy.desktop");
  EXPECT_EQ(DoCreateAlias("Launcher.app", apps_, "Busy", desktop_), kFileBusyError);
  EXPECT_EQ(DoDeleteAlias("Launcher.app", apps_, "Busy", desktop_), kFileBusyError);
  EXPECT_EQ(Names(desktop_), std::vector<std::string>{"Busy.desktop"});

  std::string name = "Student launcher with a long name";  // 33 characters
  ASSERT_EQ(DoCreateAlias("Launcher.app", apps_, name, desktop_), 0);
  EXPECT_EQ(Names(desktop_),
            (std::vector<std::string>{"Busy.desktop", name.substr(0, 31) + ".desktop"}));
}

// ---- The Trash -----------------------------------------------------------------------------

class MoveToTrashTest : public ShortcutsTest {
 protected:
  std::string Trash() { return platform::HomeTrashFolder(); }
  std::string Item(const std::string& name) {
    std::string path = sysroot_.path("opt/" + name);
    WriteTestFile(path + "/records.ini", "[Records]\r\n");
    return path;
  }
};

// A name taken in the Trash gets " copy N", the name cut to 23 characters (never inside a
// character) with "..." first.
TEST_F(MoveToTrashTest, TakenNameGetsACopyNumber) {
  Install(false);
  const std::pair<std::string, std::string> cases[] = {
      {"Nuvel", "Nuvel copy 1"},
      {"Nuvel Courses of Spring", "Nuvel Courses of Spring copy 1"},  // 23 characters
      {"Nuvel Courses of Spring 2026", "Nuvel Courses of Spring... copy 1"},
      {"Cours de français à Genève 2026", "Cours de français à Gen... copy 1"},  // 34 bytes
  };
  for (const auto& [name, copy] : cases) {
    SCOPED_TRACE(name);
    std::string folder = Item(name);
    ASSERT_EQ(MoveFileToTrash(folder), 0);
    Item(name);
    ASSERT_EQ(MoveFileToTrash(folder + "/"), 0);
    EXPECT_TRUE(fs::exists(Trash() + "/files/" + name));
    EXPECT_TRUE(fs::exists(Trash() + "/files/" + copy));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_NE(ReadTestFile(Trash() + "/info/" + copy + ".trashinfo")
                  .find("\nPath=" + platform::PercentEncodePath(folder) + "\n"),
              std::string::npos);
  }
  std::string name = "Nuvel Courses of Spring 2026";
  ASSERT_EQ(MoveFileToTrash(Item(name)), 0);
  EXPECT_TRUE(fs::exists(Trash() + "/files/Nuvel Courses of Spring... copy 2"));
}

TEST_F(MoveToTrashTest, AfterCopy9TheItemStaysWhereItIs) {
  Install(false);
  fs::create_directories(Trash() + "/files/Nuvel");
  for (int copy = 1; copy <= 9; ++copy) {
    fs::create_directories(Trash() + "/files/Nuvel copy " + std::to_string(copy));
  }
  std::string folder = Item("Nuvel");
  EXPECT_EQ(MoveFileToTrash(folder), -EEXIST);
  EXPECT_TRUE(fs::exists(folder + "/records.ini"));
}

// ---- Launching -----------------------------------------------------------------------------

TEST_F(ShortcutsTest, BundlePathNamesItsExecutable) {
  const std::string executable = Bundle("Launcher") + "/Contents/MacOS/Launcher";
  EXPECT_EQ(ApplicationExecutable(Bundle("Launcher")), executable);
  EXPECT_EQ(ApplicationExecutable(Bundle("Launcher") + "/"), executable);
  EXPECT_EQ(ApplicationExecutable(apps_ + "/Launcher"), executable) << "a name without .app";
  EXPECT_EQ(ApplicationExecutable("/usr/bin/true"), "/usr/bin/true");
}

TEST_F(ShortcutsTest, RunThisAppWaitsOnlyWhenAsked) {
  Install(false);
  std::string marker = sysroot_.path("marker");
  MakeBundle("Quick", "#!/bin/sh\nsleep 0.2\necho ended > '" + marker + "'\n");
  EXPECT_EQ(RunThisApp(Bundle("Quick"), 1), 1);
  EXPECT_EQ(ReadTestFile(marker), "ended\n");
  EXPECT_GT(ui_->pumps, 0) << "events are handled while waiting";

  std::string go = sysroot_.path("go");
  marker = sysroot_.path("marker2");
  MakeBundle("Waiter", "#!/bin/sh\nfor i in $(seq 500); do [ -e '" + go +
                           "' ] && break; sleep 0.01; done\necho ran > '" + marker + "'\n");
  EXPECT_EQ(RunThisApp(Bundle("Waiter"), 0), 1);
  EXPECT_FALSE(fs::exists(marker));
  WriteTestFile(go, "");
  for (int i = 0; i < 500 && ReadTestFile(marker).empty(); ++i) platform::SleepMilliseconds(10);
  EXPECT_EQ(ReadTestFile(marker), "ran\n");

  EXPECT_EQ(RunThisApp(Bundle("Nothing"), 1), 0);
  EXPECT_TRUE(Logged("Error -2 Launching: '" + Bundle("Nothing") + "'")) << Log();
  EXPECT_TRUE(ui_->shown.empty()) << "a missing application is logged, not shown";
}

TEST_F(ShortcutsTest, WebPageGoesToTheOpenerAndItsRefusalIsLogged) {
  Install(false);
  std::string record = FakeOpener(4);
  EXPECT_EQ(LaunchWebPage("https://example.com/a b"), 4);
  EXPECT_EQ(ReadTestFile(record), "https://example.com/a b\n");
  EXPECT_TRUE(Logged("Error 4 returned from ICLaunchURL")) << Log();

  ::setenv("PATH", sysroot_.path("empty").c_str(), 1);
  EXPECT_EQ(LaunchWebPage("https://example.com/"), -ENOENT);
  EXPECT_TRUE(Logged("Error -2 returned from ICStart")) << Log();
}

TEST_F(ShortcutsTest, MailAddressEscapesBlanksOnly) {
  std::string record = FakeOpener(0);
  EXPECT_EQ(SendEmailShell("Corrupted Records IP Address", "me@school.example",
                           "help@nuvel.example", "", ""),
            0);
  EXPECT_EQ(SendEmailShell("", "me@school.example", "", "", "a&b c"), 0);
  EXPECT_EQ(SendEmailShell("S", "", "x@y", "", "B"), 0);
  EXPECT_EQ(ReadTestFile(record),
            "mailto:help@nuvel.example?subject=Corrupted%20Records%20IP%20Address\n"
            "mailto:me@school.example?body=a&b%20c\n"
            "mailto:x@y?subject=S&body=B\n");
}

// ---- The closing item ----------------------------------------------------------------------
// (An application item and one that cannot start are checked by the desktop scenarios.)

class RunProgramTest : public ShortcutsTest {
 protected:
  void SetUp() override {
    ShortcutsTest::SetUp();
    Install(false);
    source_ = sysroot_.path("source dir");
    base::Run().current_dir = source_;
  }
  bool ErrorShown() {
    return std::any_of(ui_->shown.begin(), ui_->shown.end(), [](const ui::Dialog& dialog) {
      return dialog.id == "Error Launching Application.";
    });
  }
  std::string source_;
};

TEST_F(RunProgramTest, PageOpensInTheBrowserAsAFileUrlAndAMissingOneFails) {
  std::string record = FakeOpener(0);
  WriteTestFile(source_ + "/docs/Read Me.HTM", "<html></html>");
  EXPECT_EQ(RunProgram(":docs:Read Me.HTM", ""), 0);
  EXPECT_EQ(ReadTestFile(record),
            "file://" + platform::PercentEncodePath(source_) + "/docs/Read%20Me.HTM\n");
  EXPECT_FALSE(ErrorShown());
  EXPECT_EQ(RunProgram("docs/missing.htm", ""), -1);
  EXPECT_TRUE(ErrorShown());
}

// An empty item starts the installation's Launcher.app, or the product's own launcher when it
// has one.
TEST_F(RunProgramTest, EmptyItemLaunchesTheInstalledLauncherOrTheProductsOwn) {
  std::string marker = sysroot_.path("marker");
  auto launched = [&](const std::string& product_path) {
    fs::remove(marker);
    EXPECT_EQ(RunProgram("", product_path), 0);
    for (int i = 0; i < 500 && ReadTestFile(marker).empty(); ++i) platform::SleepMilliseconds(10);
    return ReadTestFile(marker);
  };
  MakeBundle("Launcher", "#!/bin/sh\necho installed > '" + marker + "'\n");
  std::string product = apps_ + "/launch/SPA01";
  WriteTestFile(product + "/nuvel.ini", "[nuvel.ini]\r\n");
  EXPECT_EQ(launched(product + "/nuvel.ini"), "installed\n");
  EXPECT_EQ(launched(""), "installed\n");
  MakeExecutable(product + "/Launcher.app/Contents/MacOS/Launcher",
                 "#!/bin/sh\necho own > '" + marker + "'\n");
  EXPECT_EQ(launched(product + "/nuvel.ini"), "own\n");
  EXPECT_FALSE(ErrorShown());
}

// ---- Single instance -----------------------------------------------------------------------

// Runs `body` in a forked copy of this process (a second copy of the program) and returns its
// exit status.
int InSecondCopy(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ShortcutsTest, SecondCopyOfTheSetupFindsTheFirst) {
  Install(false);
  EXPECT_EQ(IsNuvelAlreadyRunning(kSetupCreator), 1);
  EXPECT_EQ(IsNuvelAlreadyRunning(kSetupCreator), 1) << "this process's own lock is no other copy";
  EXPECT_EQ(AnyNuvelAppsRunning(), 1);

  EXPECT_EQ(InSecondCopy([] { return IsNuvelAlreadyRunning(kSetupCreator) == -1 ? 0 : 1; }), 0);
  EXPECT_EQ(InSecondCopy([] { return AnyNuvelAppsRunning() == -1 ? 0 : 1; }), 0);
  EXPECT_EQ(InSecondCopy([] { return IsNuvelAlreadyRunning(kRecordsManagerCreator); }), 1);

  // A lock that cannot be taken safely is never taken for a free one.
  fs::create_symlink(sysroot_.path("elsewhere"), platform::InstanceLockPath(kFreshenCreator));
  std::error_code error;
  EXPECT_EQ(IsNuvelAlreadyRunning(kFreshenCreator, &error), 0);
  EXPECT_EQ(error, std::errc::too_many_symbolic_link_levels);
  EXPECT_FALSE(fs::exists(sysroot_.path("elsewhere")));
}

TEST_F(ShortcutsTest, AnyRunningCompanionIsNoticedWithoutTakingItsLock) {
  Install(false);
  EXPECT_EQ(IsNuvelAlreadyRunning(kAnalyzerCreator), 1);
  EXPECT_EQ(InSecondCopy([] {
              bool first = AnyNuvelAppsRunning() == -1;
              bool checked_only = IsNuvelAppRunning(kFreshenCreator) == 1;
              return first && checked_only ? 0 : 1;
            }),
            0);
  platform::ReleaseInstanceLock(kAnalyzerCreator);
  EXPECT_EQ(InSecondCopy([] { return AnyNuvelAppsRunning() == 1 ? 0 : 1; }), 0);
}

}  // namespace
}  // namespace nuvel::installer
