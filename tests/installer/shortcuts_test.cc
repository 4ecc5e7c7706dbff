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

void ResetModules() {
  base::Run().reset();
  base::Paths().reset();
  base::Log().reset();
  base::Strings().reset();
  base::FileUtils().reset();
  base::FreePrivateProfile();
  ui::Prompts().reset();
}

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

  std::string Shortcuts() { return base::Path("nuvel_data") + "Shortcuts"; }

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

using CreateIconsTest = ShortcutsTest;

TEST_F(CreateIconsTest, TwoRunsLeaveExactlyOneStudentLauncher) {
  Install(false);
  Create_The_Icons(1);
  Create_The_Icons(1);
  EXPECT_EQ(Names(desktop_), std::vector<std::string>{"Student.desktop"});
  std::string text = ReadTestFile(desktop_ + "/Student.desktop");
  EXPECT_NE(text.find("\nName=Student\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nExec=\"" + Bundle("Launcher") + "/Contents/MacOS/Launcher\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nIcon=" + Bundle("Launcher") + "/Contents/Resources/Launcher.png\n"),
            std::string::npos)
      << text;
}

TEST_F(CreateIconsTest, OldCoursewareLauncherIsRemoved) {
  WriteTestFile(desktop_ + "/Nuvel Courseware.desktop", "[Desktop Entry]\n");
  Install(false);
  Create_The_Icons(0);
  EXPECT_EQ(Names(desktop_), std::vector<std::string>{"Student.desktop"});
}

TEST_F(CreateIconsTest, TeacherLauncherOnlyReplacesAnOldRecordsManagerLauncher) {
  Install(false);
  Create_The_Icons(1);
  EXPECT_FALSE(fs::exists(desktop_ + "/Teacher.desktop"))
      << "a desktop without the old launcher gets no Teacher launcher";

  WriteTestFile(desktop_ + "/Nuvel Records Manager.desktop", "[Desktop Entry]\n");
  Create_The_Icons(1);
  EXPECT_EQ(Names(desktop_), (std::vector<std::string>{"Student.desktop", "Teacher.desktop"}));
  EXPECT_NE(ReadTestFile(desktop_ + "/Teacher.desktop")
                .find("/Records Manager.app/Contents/MacOS/Records Manager\""),
            std::string::npos);
}

TEST_F(CreateIconsTest, WithoutTeacherTheRecordsManagerRowIsSkipped) {
  WriteTestFile(desktop_ + "/Nuvel Records Manager.desktop", "[Desktop Entry]\n");
  Install(false);
  Create_The_Icons(0);
  EXPECT_EQ(Names(desktop_),
            (std::vector<std::string>{"Nuvel Records Manager.desktop", "Student.desktop"}));
}

TEST_F(CreateIconsTest, RecordsManagerWithoutIconGetsNoTeacherLauncher) {
  fs::remove(Bundle("Records Manager") + "/Contents/Resources/Records Manager.png");
  WriteTestFile(desktop_ + "/Nuvel Records Manager.desktop", "[Desktop Entry]\n");
  Install(false);
  Create_The_Icons(1);
  EXPECT_EQ(Names(desktop_),
            (std::vector<std::string>{"Nuvel Records Manager.desktop", "Student.desktop"}))
      << "neither the old launcher is deleted nor a new one made";
}

TEST_F(CreateIconsTest, BusyNameLeadsToTheAlternateName) {
  WriteTestFile(desktop_ + "/Student.desktop/notes.txt", "a folder of that name");
  Install(false);
  Create_The_Icons(1);
  EXPECT_TRUE(fs::is_regular_file(desktop_ + "/Student Nuvel.desktop"));
  EXPECT_EQ(ReadTestFile(desktop_ + "/Student.desktop/notes.txt"), "a folder of that name");
}

TEST_F(CreateIconsTest, NetworkInstallationFillsTheShortcutsFolder) {
  WriteTestFile(desktop_ + "/Nuvel Records Manager.desktop", "[Desktop Entry]\n");
  Install(true);
  Create_The_Icons(1);
  EXPECT_EQ(Shortcuts(), apps_ + "/Shortcuts");
  EXPECT_EQ(Names(Shortcuts()), (std::vector<std::string>{"Analyzer.desktop", "Freshen.desktop",
                                                          "Student.desktop", "Teacher.desktop"}));
  // The update checker and the analyzer never get desktop launchers.
  EXPECT_EQ(Names(desktop_), (std::vector<std::string>{"Student.desktop", "Teacher.desktop"}));
}

TEST_F(CreateIconsTest, LocalInstallationHasNoShortcutsFolder) {
  Install(false);
  Create_The_Icons(1);
  EXPECT_FALSE(fs::exists(Shortcuts()));
  EXPECT_FALSE(fs::exists(apps_ + "/Shortcuts"));
}

TEST_F(CreateIconsTest, EveryLauncherPassesTheDesktopFileValidator) {
  WriteTestFile(desktop_ + "/Nuvel Records Manager.desktop", "[Desktop Entry]\n");
  WriteTestFile(desktop_ + "/Student.desktop/x", "busy");
  Install(true);
  Create_The_Icons(1);
  std::vector<std::string> files = {desktop_ + "/Student Nuvel.desktop",
                                    desktop_ + "/Teacher.desktop"};
  for (const auto& name : Names(Shortcuts())) files.push_back(Shortcuts() + "/" + name);
  ASSERT_EQ(files.size(), 6u);
  for (const auto& file : files) {
    ASSERT_TRUE(fs::is_regular_file(file)) << file;
    EXPECT_TRUE((fs::status(file).permissions() & fs::perms::owner_exec) != fs::perms::none)
        << file;
    int status = -1;
    std::string output;
    ASSERT_FALSE(platform::RunAndWait({"desktop-file-validate", file}, status, &output, true));
    EXPECT_EQ(status, 0) << file << "\n" << output;
    EXPECT_EQ(output, "") << file;
  }
}

TEST_F(CreateIconsTest, AliasOperationsReportMissingPartsAndBusyNames) {
  Install(false);
  EXPECT_EQ(DoCreateAlias("Missing.app", apps_, "Missing", desktop_), -ENOENT);
  fs::remove(Bundle("Freshen") + "/Contents/MacOS/Freshen");
  EXPECT_EQ(DoCreateAlias("Freshen.app", apps_, "Freshen", desktop_), -ENOENT);
  EXPECT_EQ(DoDeleteAlias("Launcher.app", apps_, "Nothing Here", desktop_), -ENOENT);
  fs::create_directories(desktop_ + "/Busy.desktop");
  EXPECT_EQ(DoCreateAlias("Launcher.app", apps_, "Busy", desktop_), kFileBusyError);
  EXPECT_EQ(DoDeleteAlias("Launcher.app", apps_, "Busy", desktop_), kFileBusyError);
  EXPECT_EQ(Names(desktop_), std::vector<std::string>{"Busy.desktop"});
}

TEST_F(CreateIconsTest, AliasNameIsCutTo31Characters) {
  Install(false);
  std::string name = "Student launcher with a long name";  // 33 characters
  ASSERT_EQ(DoCreateAlias("Launcher.app", apps_, name, desktop_), 0);
  EXPECT_EQ(Names(desktop_), std::vector<std::string>{name.substr(0, 31) + ".desktop"});
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

TEST_F(MoveToTrashTest, SecondFolderOfTheSameNameBecomesCopy1AndTrashToolsListIt) {
  Install(false);
  std::string folder = Item("Nuvel");
  ASSERT_EQ(MoveFileToTrash(folder), 0);
  Item("Nuvel");
  ASSERT_EQ(MoveFileToTrash(folder + "/"), 0);

  EXPECT_EQ(Names(Trash() + "/files"), (std::vector<std::string>{"Nuvel", "Nuvel copy 1"}));
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_NE(ReadTestFile(Trash() + "/info/Nuvel copy 1.trashinfo").find("\nPath=" + folder + "\n"),
            std::string::npos);

  int status = -1;
  std::string output;
  ASSERT_FALSE(platform::RunAndWait({"trash-list"}, status, &output, true));
  EXPECT_EQ(status, 0) << output;
  std::size_t listed = 0;
  for (std::size_t at = output.find(" " + folder + "\n"); at != std::string::npos;
       at = output.find(" " + folder + "\n", at + 1)) {
    ++listed;
  }
  EXPECT_EQ(listed, 2u) << "both items are listed with their original path:\n" << output;
}

TEST_F(MoveToTrashTest, LongNameIsCutTo23CharactersBeforeTheCopyNumber) {
  Install(false);
  std::string name = "Nuvel Courses of Spring 2026";  // 28 characters
  ASSERT_EQ(MoveFileToTrash(Item(name)), 0);
  ASSERT_EQ(MoveFileToTrash(Item(name)), 0);
  ASSERT_EQ(MoveFileToTrash(Item(name)), 0);
  EXPECT_EQ(Names(Trash() + "/files"),
            (std::vector<std::string>{name, "Nuvel Courses of Spring... copy 1",
                                      "Nuvel Courses of Spring... copy 2"}));
}

TEST_F(MoveToTrashTest, NameOf23CharactersIsKeptWhole) {
  Install(false);
  std::string name = "Nuvel Courses of Spring";  // 23 characters
  ASSERT_EQ(MoveFileToTrash(Item(name)), 0);
  ASSERT_EQ(MoveFileToTrash(Item(name)), 0);
  EXPECT_EQ(Names(Trash() + "/files"), (std::vector<std::string>{name, name + " copy 1"}));
}

TEST_F(MoveToTrashTest, CutNeverSplitsACharacter) {
  Install(false);
  std::string name = "Cours de français à Genève 2026";  // 31 characters, 34 bytes
  ASSERT_EQ(MoveFileToTrash(Item(name)), 0);
  ASSERT_EQ(MoveFileToTrash(Item(name)), 0);
  EXPECT_TRUE(fs::exists(Trash() + "/files/Cours de français à Gen... copy 1"))
      << ::testing::PrintToString(Names(Trash() + "/files"));
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

using LaunchTest = ShortcutsTest;

TEST_F(LaunchTest, BundlePathNamesItsExecutable) {
  EXPECT_EQ(ApplicationExecutable(Bundle("Launcher")),
            Bundle("Launcher") + "/Contents/MacOS/Launcher");
  EXPECT_EQ(ApplicationExecutable(Bundle("Launcher") + "/"),
            Bundle("Launcher") + "/Contents/MacOS/Launcher");
  EXPECT_EQ(ApplicationExecutable(apps_ + "/Launcher"),
            Bundle("Launcher") + "/Contents/MacOS/Launcher")
      << "a name without its .app extension";
  EXPECT_EQ(ApplicationExecutable("/usr/bin/true"), "/usr/bin/true");
}

TEST_F(LaunchTest, RunThisAppWithWaitReturnsAfterTheApplicationEnded) {
  Install(false);
  std::string marker = sysroot_.path("marker");
  MakeBundle("Quick", "#!/bin/sh\nsleep 0.2\necho ended > '" + marker + "'\n");
  EXPECT_EQ(RunThisApp(Bundle("Quick"), 1), 1);
  EXPECT_EQ(ReadTestFile(marker), "ended\n");
  EXPECT_GT(ui_->pumps, 0) << "events are handled while waiting";
}

TEST_F(LaunchTest, RunThisAppWithoutWaitReturnsAtOnce) {
  Install(false);
  std::string go = sysroot_.path("go");
  std::string marker = sysroot_.path("marker");
  MakeBundle("Waiter", "#!/bin/sh\nfor i in $(seq 500); do [ -e '" + go +
                           "' ] && break; sleep 0.01; done\necho ran > '" + marker + "'\n");
  EXPECT_EQ(RunThisApp(Bundle("Waiter"), 0), 1);
  EXPECT_FALSE(fs::exists(marker));
  WriteTestFile(go, "");
  for (int i = 0; i < 500 && ReadTestFile(marker).empty(); ++i) platform::SleepMilliseconds(10);
  EXPECT_EQ(ReadTestFile(marker), "ran\n");
}

TEST_F(LaunchTest, MissingApplicationIsLoggedNotShown) {
  Install(false);
  EXPECT_EQ(RunThisApp(Bundle("Nothing"), 1), 0);
  EXPECT_TRUE(Logged("Error -2 Launching: '" + Bundle("Nothing") + "'")) << Log();
  EXPECT_TRUE(ui_->shown.empty());
}

TEST_F(LaunchTest, WebPageGoesToTheOpenerAndItsRefusalIsLogged) {
  Install(false);
  std::string record = FakeOpener(4);
  EXPECT_EQ(LaunchWebPage("https://example.com/a b"), 4);
  EXPECT_EQ(ReadTestFile(record), "https://example.com/a b\n");
  EXPECT_TRUE(Logged("https://example.com/a b")) << Log();
  EXPECT_TRUE(Logged("Error 4 returned from ICLaunchURL")) << Log();
}

TEST_F(LaunchTest, MissingOpenerIsLoggedAsAStartError) {
  Install(false);
  ::setenv("PATH", sysroot_.path("empty").c_str(), 1);
  EXPECT_EQ(LaunchWebPage("https://example.com/"), -ENOENT);
  EXPECT_TRUE(Logged("Error -2 returned from ICStart")) << Log();
}

TEST_F(LaunchTest, MailAddressEscapesBlanksOnly) {
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

class RunProgramTest : public ShortcutsTest {
 protected:
  void SetUp() override {
    ShortcutsTest::SetUp();
    Install(false);
    source_ = sysroot_.path("source dir");
    base::Run().current_dir = source_;
    marker_ = sysroot_.path("marker");
  }
  void WaitForMarker() {
    for (int i = 0; i < 500 && ReadTestFile(marker_).empty(); ++i) {
      platform::SleepMilliseconds(10);
    }
  }
  bool ErrorShown() {
    return std::any_of(ui_->shown.begin(), ui_->shown.end(), [](const ui::Dialog& dialog) {
      return dialog.id == "Error Launching Application.";
    });
  }
  std::string source_;
  std::string marker_;
};

TEST_F(RunProgramTest, PageOpensInTheBrowserAsAFileUrl) {
  std::string record = FakeOpener(0);
  WriteTestFile(source_ + "/docs/Read Me.HTM", "<html></html>");
  EXPECT_EQ(RunProgram(":docs:Read Me.HTM", ""), 0);
  EXPECT_EQ(ReadTestFile(record),
            "file://" + platform::PercentEncodePath(source_) + "/docs/Read%20Me.HTM\n");
  EXPECT_FALSE(ErrorShown());
}

TEST_F(RunProgramTest, EmptyItemLaunchesTheProductsLauncher) {
  std::string product = sysroot_.path("opt/Nuvel Courses/launch/SPA01");
  WriteTestFile(product + "/nuvel.ini", "[nuvel.ini]\r\n");
  MakeExecutable(product + "/Launcher.app/Contents/MacOS/Launcher",
                 "#!/bin/sh\necho launcher > '" + marker_ + "'\n");
  EXPECT_EQ(RunProgram("", product + "/nuvel.ini"), 0);
  WaitForMarker();
  EXPECT_EQ(ReadTestFile(marker_), "launcher\n");
  EXPECT_FALSE(ErrorShown());
}

TEST_F(RunProgramTest, OtherItemIsLaunchedAsAnApplication) {
  MakeExecutable(source_ + "/extras/Tour.app/Contents/MacOS/Tour",
                 "#!/bin/sh\necho tour > '" + marker_ + "'\n");
  EXPECT_EQ(RunProgram("extras/Tour.app", ""), 0);
  WaitForMarker();
  EXPECT_EQ(ReadTestFile(marker_), "tour\n");
}

TEST_F(RunProgramTest, FailureIsShownToTheUser) {
  FakeOpener(0);
  EXPECT_EQ(RunProgram("docs/missing.htm", ""), -1) << "a missing page is launched, and fails";
  EXPECT_TRUE(ErrorShown());
}

// ---- Single instance -----------------------------------------------------------------------

using SingleInstanceTest = ShortcutsTest;

// Runs `body` in a forked copy of this process (a second copy of the program) and returns its
// exit status.
int InSecondCopy(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SingleInstanceTest, SecondCopyOfTheSetupFindsTheFirst) {
  Install(false);
  EXPECT_EQ(IsNuvelAlreadyRunning(kSetupCreator), 1);
  EXPECT_EQ(IsNuvelAlreadyRunning(kSetupCreator), 1) << "this process's own lock is no other copy";
  EXPECT_EQ(AnyNuvelAppsRunning(), 1);

  EXPECT_EQ(InSecondCopy([] { return IsNuvelAlreadyRunning(kSetupCreator) == -1 ? 0 : 1; }), 0);
  EXPECT_EQ(InSecondCopy([] { return AnyNuvelAppsRunning() == -1 ? 0 : 1; }), 0);
  EXPECT_EQ(InSecondCopy([] { return IsNuvelAlreadyRunning(kRecordsManagerCreator); }), 1);
}

TEST_F(SingleInstanceTest, AnyRunningCompanionIsNoticedWithoutTakingItsLock) {
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
