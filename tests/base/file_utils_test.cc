#include "base/file_utils.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/files.h"
#include "platform/syscalls.h"
#include "tests/support/fake_backend.h"
#include "tests/support/test_env.h"
#include "ui/dialog.h"

namespace nuvel::base {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

// Every dialog shown is recorded and answered with its first button.
ui::testing::FakeBackend* gBackend = nullptr;
std::vector<ui::Dialog>& Shown() { return gBackend->shown; }

std::string MessageOf(const ui::Dialog& dialog) {
  for (const auto& item : dialog.items) {
    if (item.kind == ui::ItemKind::kStaticText) return item.text;
  }
  return "";
}

std::string FirstButtonOf(const ui::Dialog& dialog) {
  const ui::DialogItem* button = dialog.item(1);
  return button ? button->text : "";
}

void ResetModules() {
  FileUtils().reset();
  Paths().reset();
  Log().reset();
  Run().reset();
  Strings().reset();
  FreePrivateProfile();
  platform::ResetSyscalls();
}

class FileUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModules();
    auto fake = std::make_unique<ui::testing::FakeBackend>();
    gBackend = fake.get();
    ui::SetBackend(std::move(fake));
  }
  void TearDown() override {
    ResetModules();
    ui::SetBackend(nullptr);
  }

  std::string Make(const std::string& relative, const std::string& data = "x") {
    std::string path = sysroot_.path(relative);
    WriteTestFile(path, data);
    return path;
  }

  TestSysroot sysroot_;
};

// ---- Conversions ---------------------------------------------------------------------------

using FileNameConversionTest = FileUtilsTest;

TEST_F(FileNameConversionTest, DosPathWithTrailingDotBecomesSlashPathWithoutIt) {
  EXPECT_EQ(Convert_FileName2("\\srv\\courses\\lesson."), "/srv/courses/lesson");
  // Only one trailing dot goes.
  EXPECT_EQ(Convert_FileName2("a\\b.."), "a/b.");
  EXPECT_EQ(Convert_FileName2(""), "");
}

TEST_F(FileNameConversionTest, PosixFormAppendsOneSlashOnlyWhenAsked) {
  EXPECT_EQ(Convert_FileNamePOSIX("/opt/Nuvel", 1), "/opt/Nuvel/");
  EXPECT_EQ(Convert_FileNamePOSIX("/opt/Nuvel/", 1), "/opt/Nuvel/");
  EXPECT_EQ(Convert_FileNamePOSIX("/opt/Nuvel", 0), "/opt/Nuvel");
  EXPECT_EQ(Convert_FileNamePOSIX("\\srv\\share", 1), "/srv/share/");
}

TEST_F(FileNameConversionTest, HfsPathsLoseTheirVolumeName) {
  EXPECT_EQ(Convert_FileNamePOSIX("Disc:install:data:", 0), "/install/data/");
  EXPECT_EQ(Convert_FileNamePOSIX("Disc:", 0), "/");
  EXPECT_EQ(Convert_FileNamePOSIX(":install:data", 0), "install/data");
  // A path that already has a slash is POSIX: a colon in it is part of a name.
  EXPECT_EQ(Convert_FileNamePOSIX("/srv/a:b", 0), "/srv/a:b");
  // Any other mode only normalises the separators.
  EXPECT_EQ(Convert_FileName("Disc:a\\b.", 0), "Disc:a/b");
}

TEST_F(FileNameConversionTest, EmptyInputGivesThePreviousResultOfTheSameFunction) {
  Convert_FileNamePOSIX("/first", 1);
  Convert_FileNameHFS("/second", 0);
  EXPECT_EQ(Convert_FileNamePOSIX("", 0), "/first/");
  EXPECT_EQ(Convert_FileNameHFS("", 1), "/second");
}

TEST_F(FileNameConversionTest, HfsFormIsThePosixFormHere) {
  EXPECT_EQ(Convert_FileNameHFS("/opt/Nuvel", 1), "/opt/Nuvel/");
  EXPECT_EQ(Convert_FileNameHFS("Disc:opt:Nuvel", 0), "/opt/Nuvel");
  EXPECT_EQ(Convert_BackFileName("/opt\\Nuvel."), "/opt/Nuvel");
  EXPECT_EQ(Convert_BackFileName("Disc:opt:Nuvel"), "Disc:opt:Nuvel");
}

TEST_F(FileNameConversionTest, SeparatorsAreAddedAndRemovedOneAtATime) {
  std::string path;
  AddDirSeparater(path);
  EXPECT_EQ(path, "");
  path = "Disc:folder:";
  AddDirSeparater(path);
  EXPECT_EQ(path, "Disc:folder:");
  path = "/a";
  AddDirSeparater(path);
  AddDirSeparater(path);
  EXPECT_EQ(path, "/a/");

  path = "/a//";
  RemoveDirSeparater(path);
  EXPECT_EQ(path, "/a/");
  StripOffDirseparater(path);
  EXPECT_EQ(path, "/a");
  StripOffDirseparater(path);
  EXPECT_EQ(path, "/a");
}

TEST_F(FileNameConversionTest, StripOffFilenameDropsTheLastComponentAndItsSlash) {
  std::string path = "/a/b/file.txt";
  StripOffFilename(path);
  EXPECT_EQ(path, "/a/b");
  path = "/a/b/";
  StripOffFilename(path);
  EXPECT_EQ(path, "/a/b");
  path = "file.txt";
  StripOffFilename(path);
  EXPECT_EQ(path, "");
}

TEST_F(FileNameConversionTest, FileNameFollowsTheLastSeparatorOfAnyForm) {
  EXPECT_EQ(GetFilenameFromPath("Disc:folder:file"), "file");
  EXPECT_EQ(GetFilenameFromPath("C:\\Nuvel\\records.ini"), "records.ini");
  EXPECT_EQ(GetFilenameFromPath("/opt/Nuvel/Launcher.app"), "Launcher.app");
  EXPECT_EQ(GetFilenameFromPath("plain"), "plain");
  EXPECT_EQ(GetFilenameFromPath("/opt/Nuvel/"), "");
}

// ---- Existence, creation, deletion, size ---------------------------------------------------

using FileExistenceTest = FileUtilsTest;

TEST_F(FileExistenceTest, ExistenceIsTestedOnThePosixForm) {
  std::string file = Make("data/records.ini");
  std::string dos = file;
  for (char& c : dos) c = c == '/' ? '\\' : c;
  EXPECT_EQ(DoesFileExist(dos), 1);
  EXPECT_EQ(DoesFileExist(file), 1);
  EXPECT_EQ(DoesFileExist(file + ".bak"), 0);
  EXPECT_EQ(DoesFileExist(""), 0);
  EXPECT_EQ(DoesDirectoryExist(sysroot_.path("data/")), 1);
  EXPECT_EQ(DoesDirectoryExist(sysroot_.path("nothing/")), 0);
}

TEST_F(FileExistenceTest, MakeDirectoryLeavesAnExistingFolderAlone) {
  std::string folder = sysroot_.path("content");
  Make("content/kept.txt", "kept");
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(MakeDirectory(folder), 0);
  EXPECT_EQ(MakeDirectory(folder + "/"), 0);
  EXPECT_EQ(ReadTestFile(folder + "/kept.txt"), "kept");
  EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
}

TEST_F(FileExistenceTest, MakeDirectoryCreatesOnlyTheLastLevel) {
  EXPECT_EQ(MakeDirectory(sysroot_.path("new")), 0);
  EXPECT_TRUE(fs::is_directory(sysroot_.path("new")));
  EXPECT_EQ(MakeDirectory(sysroot_.path("missing/child")), -1);
  EXPECT_FALSE(fs::exists(sysroot_.path("missing")));
  // A file in the way is a failure, not a folder.
  Make("file");
  EXPECT_EQ(MakeDirectory(sysroot_.path("file")), -1);
}

TEST_F(FileExistenceTest, MakeDirectoryDoesNothingWhileQuitting) {
  base::Run().quitFlag = 1;
  EXPECT_EQ(MakeDirectory(sysroot_.path("late")), 0);
  EXPECT_FALSE(fs::exists(sysroot_.path("late")));
}

TEST_F(FileExistenceTest, DeleteRemovesFilesAndAcceptsMissingOnes) {
  std::string file = Make("old.txt");
  EXPECT_EQ(DeleteMyFile(file), 0);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(DeleteMyFile(file), 0);
  platform::syscalls().unlink = [](const char*) {
    errno = EPERM;
    return -1;
  };
  std::string kept = Make("kept.txt");
  EXPECT_EQ(DeleteMyFile(kept), -1);
}

TEST_F(FileExistenceTest, SizesAboveFourGigabytesAreExact) {
  std::string file = Make("big.dat", "");
  const std::uint64_t size = 5ull * 1024 * 1024 * 1024 + 7;
  std::error_code ec;
  fs::resize_file(file, size, ec);  // sparse: no real disk space is used
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(GetMyFileSize(file), size);
  EXPECT_EQ(GetMyFileSize(""), 0u);
  EXPECT_EQ(GetMyFileSize(sysroot_.path("missing")), 0u);
}

TEST_F(FileExistenceTest, FixFileNameWorksOnlyWithTheSwitchOn) {
  Make("src/SETUP.INI");
  std::string path = sysroot_.path("src/setup.ini");
  EXPECT_EQ(FixFileName(path), 0);
  EXPECT_EQ(path, sysroot_.path("src/setup.ini"));

  FileUtils().gFixFileName = 1;
  EXPECT_EQ(FixFileName(path), 1);
  EXPECT_EQ(path, sysroot_.path("src/SETUP.INI"));

  std::string missing = sysroot_.path("src/other.ini");
  EXPECT_EQ(FixFileName(missing), 0);
  EXPECT_EQ(missing, sysroot_.path("src/other.ini"));
}

TEST_F(FileExistenceTest, CaseLookUpPrefersTheExactName) {
  Make("src/Setup.ini");
  Make("src/SETUP.INI");
  Make("src/setup.INI");
  FileUtils().gFixFileName = 1;
  std::string path = sysroot_.path("src/SETUP.INI");
  EXPECT_EQ(FixFileName(path), 1);
  EXPECT_EQ(path, sysroot_.path("src/SETUP.INI"));
  EXPECT_EQ(FindCaseCorrectedPath(sysroot_.path("src/Setup.ini")), sysroot_.path("src/Setup.ini"));
}

TEST_F(FileExistenceTest, OpeningFallsBackToTheCaseVariantWithTheSwitchOn) {
  Make("src/Products.INF");
  EXPECT_EQ(fopenfilesimple(sysroot_.path("src/products.inf")), sysroot_.path("src/products.inf"));
  FileUtils().gFixFileName = 1;
  EXPECT_EQ(fopenfile(sysroot_.path("src/products.inf"), "rb"), sysroot_.path("src/Products.INF"));
  EXPECT_EQ(fopenfilesimple(""), "");
}

// ---- Directory enumeration -----------------------------------------------------------------

class FileInfoTest : public FileUtilsTest {
 protected:
  static std::int64_t LocalSeconds(int year, int month, int day) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
  }

  // Every entry of a listing in `slot`, name -> is-directory.
  std::map<std::string, int> ListAll(int slot, const std::string& folder) {
    std::map<std::string, int> seen;
    std::string name;
    std::int64_t info = 0;
    int is_directory = -1;
    int mode = 1;
    while (GetFileInfo(slot, folder, "*.*", name, info, mode, 0, is_directory) == 0) {
      if (name.empty()) break;
      seen[name] = is_directory;
      mode = 0;
    }
    return seen;
  }
};

TEST_F(FileInfoTest, DateBefore1980BecomesTheSameDayIn1980AndWarnsOnce) {
  std::string file = Make("old/ancient.txt");
  const std::int64_t when = LocalSeconds(1975, 6, 15);
  ASSERT_FALSE(platform::SetModificationTime(file, when));

  std::string name;
  int is_directory = -1;
  std::int64_t info = 3;
  ASSERT_EQ(GetFileInfo(0, sysroot_.path("old"), "ancient.txt", name, info, 2, 0, is_directory), 0);
  EXPECT_EQ(name, "ancient.txt");
  EXPECT_EQ(is_directory, 0);
  EXPECT_EQ(info, (1980 - 1980) * 512 + 6 * 32 + 15);

  info = 3;
  ASSERT_EQ(GetFileInfo(3, sysroot_.path("old"), "*.*", name, info, 1, 0, is_directory), 0);
  EXPECT_EQ(info, 6 * 32 + 15);

  ASSERT_EQ(Shown().size(), 1u) << "the system-date warning is shown once per run";
  EXPECT_EQ(Shown()[0].id, "MSG_Message_WrongSystemDate");
  EXPECT_EQ(FirstButtonOf(Shown()[0]), Localize("MSG_Button_OK"));
}

TEST_F(FileInfoTest, InfoSelectsSecondsOrPackedDates) {
  std::string file = Make("dated/file.txt");
  const std::int64_t when = LocalSeconds(2024, 2, 29);
  ASSERT_FALSE(platform::SetModificationTime(file, when));
  std::string name;
  int is_directory = 0;
  std::int64_t info = 1;
  ASSERT_EQ(GetFileInfo(0, sysroot_.path("dated"), "file.txt", name, info, 2, 0, is_directory), 0);
  EXPECT_EQ(info, when);
  info = 9;  // above 3 counts as 1
  ASSERT_EQ(GetFileInfo(0, sysroot_.path("dated"), "file.txt", name, info, 2, 0, is_directory), 0);
  EXPECT_EQ(info, when);
  info = 3;
  ASSERT_EQ(GetFileInfo(0, sysroot_.path("dated"), "file.txt", name, info, 2, 0, is_directory), 0);
  EXPECT_EQ(info, 44 * 512 + 2 * 32 + 29);
  // The creation date is a real date no earlier than 1980 and no later than today's.
  info = 2;
  ASSERT_EQ(GetFileInfo(0, sysroot_.path("dated"), "file.txt", name, info, 2, 0, is_directory), 0);
  EXPECT_GE(info, 44 * 512 + 2 * 32 + 29);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(FileInfoTest, BundlesAreReportedAsFiles) {
  Make("apps/Launcher.app/Contents/MacOS/Launcher");
  Make("apps/OLD.APP/Contents/MacOS/OLD");
  Make("apps/Mixed.App/readme.txt");
  Make("apps/Docs/readme.txt");
  Make("apps/notes.txt");
  std::map<std::string, int> expected = {
      {"Launcher.app", 0}, {"OLD.APP", 0}, {"Mixed.App", 1}, {"Docs", 1}, {"notes.txt", 0}};
  EXPECT_EQ(ListAll(0, sysroot_.path("apps")), expected);

  std::string name;
  std::int64_t info = 0;
  int is_directory = -1;
  EXPECT_EQ(GetFileInfo(0, sysroot_.path("apps"), "Launcher.app", name, info, 2, 0, is_directory),
            0);
  EXPECT_EQ(is_directory, 0);
  EXPECT_EQ(GetFileInfo(0, sysroot_.path("apps"), "Launcher.app", name, info, 2, 1, is_directory),
            kFileNotFound);
  EXPECT_EQ(name, "");
  EXPECT_EQ(GetFileInfo(0, sysroot_.path("apps"), "Docs", name, info, 2, 1, is_directory), 0);
  EXPECT_EQ(name, "Docs");
  EXPECT_EQ(is_directory, 1);
  EXPECT_EQ(GetFileInfo(0, sysroot_.path("apps"), "notes.txt", name, info, 2, 1, is_directory),
            kFileNotFound);
  EXPECT_EQ(GetFileInfo(0, sysroot_.path("apps"), "absent", name, info, 2, 0, is_directory),
            kFileNotFound);
}

TEST_F(FileInfoTest, SlotsDoNotDisturbEachOther) {
  for (const char* name : {"a1", "a2", "a3"}) Make(std::string("a/") + name);
  for (const char* name : {"b1", "b2"}) Make(std::string("b/") + name);

  std::set<std::string> from_a, from_b;
  std::string name;
  std::int64_t info = 0;
  int is_directory = 0;
  ASSERT_EQ(GetFileInfo(0, sysroot_.path("a"), "*.*", name, info, 1, 0, is_directory), 0);
  from_a.insert(name);
  ASSERT_EQ(GetFileInfo(1, sysroot_.path("b"), "*.*", name, info, 1, 0, is_directory), 0);
  from_b.insert(name);
  // A single look-up uses its own slot.
  ASSERT_EQ(GetFileInfo(0, sysroot_.path("b"), "b1", name, info, 2, 0, is_directory), 0);
  for (;;) {
    int a = GetFileInfo(0, "", "", name, info, 0, 0, is_directory);
    if (a == 0) from_a.insert(name);
    int b = GetFileInfo(1, "", "", name, info, 0, 0, is_directory);
    if (b == 0) from_b.insert(name);
    if (a != 0 && b != 0) break;
  }
  EXPECT_EQ(from_a, (std::set<std::string>{"a1", "a2", "a3"}));
  EXPECT_EQ(from_b, (std::set<std::string>{"b1", "b2"}));
}

TEST_F(FileInfoTest, RunningOffTheEndKeepsReportingNotFound) {
  Make("one/only.txt");
  std::string name;
  std::int64_t info = 0;
  int is_directory = 0;
  ASSERT_EQ(GetFileInfo(2, sysroot_.path("one"), "*.*", name, info, 1, 0, is_directory), 0);
  EXPECT_EQ(name, "only.txt");
  EXPECT_EQ(GetFileInfo(2, "", "", name, info, 0, 0, is_directory), kFileNotFound);
  EXPECT_EQ(name, "");
  EXPECT_EQ(GetFileInfo(2, "", "", name, info, 0, 0, is_directory), kFileNotFound);
  // A slot that never started has nothing to give.
  EXPECT_EQ(GetFileInfo(4, "", "", name, info, 0, 0, is_directory), kFileNotFound);
}

TEST_F(FileInfoTest, EmptyFolderStartsWithoutAnEntry) {
  fs::create_directories(sysroot_.path("empty"));
  std::string name = "stale";
  std::int64_t info = 0;
  int is_directory = 0;
  EXPECT_EQ(GetFileInfo(0, sysroot_.path("empty"), "*.*", name, info, 1, 0, is_directory), 0);
  EXPECT_EQ(name, "");
  EXPECT_EQ(GetFileInfo(0, "", "", name, info, 0, 0, is_directory), kFileNotFound);
}

TEST_F(FileInfoTest, PatternIsAFolderToListAndBadRequestsFail) {
  Make("top/sub/inner.txt");
  Make("top/outer.txt");
  EXPECT_EQ(ListAll(0, sysroot_.path("top/sub")), (std::map<std::string, int>{{"inner.txt", 0}}));

  std::string name = "stale";
  std::int64_t info = 0;
  int is_directory = 0;
  ASSERT_EQ(GetFileInfo(0, sysroot_.path("top"), "sub", name, info, 1, 0, is_directory), 0);
  EXPECT_EQ(name, "inner.txt");
  EXPECT_NE(GetFileInfo(0, sysroot_.path("nowhere"), "*.*", name, info, 1, 0, is_directory), 0);
  EXPECT_EQ(name, "");
  EXPECT_NE(GetFileInfo(7, sysroot_.path("top"), "*.*", name, info, 1, 0, is_directory), 0);
  EXPECT_NE(GetFileInfo(-1, sysroot_.path("top"), "*.*", name, info, 1, 0, is_directory), 0);
}

// ---- Rights, renaming, moving --------------------------------------------------------------

using FileRightsTest = FileUtilsTest;

TEST_F(FileRightsTest, ReadOnlyFlagIsClearedOnce) {
  std::string file = Make("locked.ini");
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(Check_ReadOnlyFlag(file), 1);
  EXPECT_NE(fs::status(file).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_EQ(Check_ReadOnlyFlag(file), 0);
  EXPECT_EQ(Check_ReadOnlyFlag(sysroot_.path("missing")), 0);
}

// Write-privilege failures come from the system-call table: permission bits do not stop root,
// and the tests run as root in CI.
platform::Syscalls gReal;
std::vector<std::string> gTestFiles;

bool IsTestFile(const char* path) {
  std::string_view p = path;
  return p.size() > 4 && p.substr(p.size() - 4) == ".TST";
}

int OpenRefusingTestFiles(const char* path, int flags, unsigned mode) {
  if (IsTestFile(path)) {
    gTestFiles.push_back(path);
    errno = EACCES;
    return -1;
  }
  return gReal.open(path, flags, mode);
}

int UnlinkRefusingTestFiles(const char* path) {
  if (IsTestFile(path)) {
    gTestFiles.push_back(path);
    errno = EPERM;
    return -1;
  }
  return gReal.unlink(path);
}

class FileWritePrivilegesTest : public FileUtilsTest {
 protected:
  void SetUp() override {
    FileUtilsTest::SetUp();
    gReal = platform::syscalls();
    gTestFiles.clear();
    folder_ = sysroot_.path("courses");
    fs::create_directories(folder_);
  }
  std::string folder_;
};

TEST_F(FileWritePrivilegesTest, WritableFolderPassesAndKeepsNoTestFile) {
  EXPECT_EQ(Check_Write_Privileges(folder_ + "/", 1), 1);
  EXPECT_TRUE(fs::is_empty(folder_));
  EXPECT_TRUE(Shown().empty());
}

TEST_F(FileWritePrivilegesTest, TestFileIsEightCapitalsInTheFolder) {
  platform::syscalls().unlink = UnlinkRefusingTestFiles;
  EXPECT_EQ(Check_Write_Privileges(folder_, 0), -1);
  ASSERT_EQ(gTestFiles.size(), 1u);
  EXPECT_TRUE(std::regex_match(gTestFiles[0], std::regex(folder_ + "/[A-Z]{8}\\.TST")))
      << gTestFiles[0];
}

TEST_F(FileWritePrivilegesTest, FolderThatCannotBeWrittenIsReported) {
  platform::syscalls().open = OpenRefusingTestFiles;
  EXPECT_EQ(Check_Write_Privileges(folder_ + "/", 1), -1);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].id, "MSG_WritePrivileges");
  EXPECT_EQ(MessageOf(Shown()[0]),
            "You do not have Write Privileges to the following directory:\r" + folder_);
  EXPECT_EQ(FirstButtonOf(Shown()[0]), "OK");

  Shown().clear();
  EXPECT_EQ(Check_Write_Privileges(folder_, 0), -1);
  EXPECT_TRUE(Shown().empty()) << "no message without the show-messages flag";
}

TEST_F(FileWritePrivilegesTest, FolderWhoseFilesCannotBeDeletedIsReported) {
  platform::syscalls().unlink = UnlinkRefusingTestFiles;
  EXPECT_EQ(Check_Write_Privileges(folder_ + "/", 1), -1);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].id, "MSG_DeletePrivileges");
  EXPECT_EQ(MessageOf(Shown()[0]),
            "You do not have Delete privileges to the following directory:\r\r" + folder_);
  EXPECT_EQ(FirstButtonOf(Shown()[0]), "OK");
}

TEST_F(FileWritePrivilegesTest, NonAsciiPathIsWarnedAboutAndStillTested) {
  std::string folder = sysroot_.path(
      "\xC3\x9C"
      "bungen");
  fs::create_directories(folder);
  EXPECT_EQ(Check_Write_Privileges(folder, 1), 1);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].id, "MSG_NonEnglishPathnames");
  EXPECT_EQ(Check_Write_Privileges("", 1), -1);
}

TEST_F(FileRightsTest, AppThatCanBeRenamedIsLeftInPlace) {
  std::string app = Make("apps/Launcher.app/Contents/MacOS/Launcher", "exe");
  std::string bundle = sysroot_.path("apps/Launcher.app");
  fs::permissions(bundle, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(CanThisAppBeRenamed(bundle), 1);
  EXPECT_EQ(ReadTestFile(app), "exe");
  EXPECT_FALSE(fs::exists(bundle + "X"));
  EXPECT_EQ(CanThisAppBeRenamed(sysroot_.path("apps/Absent.app")), 1);
}

TEST_F(FileRightsTest, AppThatCannotBeRenamedIsReportedAndNothingIsReplaced) {
  std::string bundle = sysroot_.path("apps/Launcher.app");
  Make("apps/Launcher.app/Contents/MacOS/Launcher", "exe");
  Make("apps/Launcher.appX", "someone else's");
  EXPECT_EQ(CanThisAppBeRenamed(bundle), 0);
  EXPECT_EQ(ReadTestFile(bundle + "X"), "someone else's");
  EXPECT_EQ(ReadTestFile(bundle + "/Contents/MacOS/Launcher"), "exe");

  fs::remove(bundle + "X");
  platform::syscalls().rename = [](const char*, const char*) {
    errno = EBUSY;
    return -1;
  };
  EXPECT_EQ(CanThisAppBeRenamed(bundle), 0);
}

TEST_F(FileRightsTest, AllAppsMeansLauncherAndRecordsManager) {
  Paths().installDirectoryPath = sysroot_.path("apps");
  Make("apps/Launcher.app/Contents/MacOS/Launcher");
  Make("apps/Records Manager.app/Contents/MacOS/Records Manager");
  EXPECT_EQ(CanAllAppsBeRenamed(), 1);
  Make("apps/Records Manager.appX");
  EXPECT_EQ(CanAllAppsBeRenamed(), -1);
}

TEST_F(FileRightsTest, MovingAFolderMovesItsTree) {
  Make("from/lessons/one.txt", "1");
  EXPECT_EQ(MoveMyDirectory(sysroot_.path("from/"), sysroot_.path("to")), 0);
  EXPECT_EQ(ReadTestFile(sysroot_.path("to/lessons/one.txt")), "1");
  EXPECT_FALSE(fs::exists(sysroot_.path("from")));
  EXPECT_TRUE(Shown().empty());
}

TEST_F(FileRightsTest, FailedMoveIsToldAndLeavesBothFolders) {
  Make("from/one.txt", "1");
  Make("to/two.txt", "2");
  EXPECT_NE(MoveMyDirectory(sysroot_.path("from"), sysroot_.path("to")), 0);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(MessageOf(Shown()[0]), "Error moving directory " + sysroot_.path("from"));
  EXPECT_EQ(ReadTestFile(sysroot_.path("from/one.txt")), "1");
  EXPECT_EQ(ReadTestFile(sysroot_.path("to/two.txt")), "2");
}

// ---- Application versions ------------------------------------------------------------------

using FileVersionTest = FileUtilsTest;

TEST_F(FileVersionTest, BundleVersionPutsTheMidNumberFirst) {
  std::string bundle = sysroot_.path("apps/Launcher.app");
  WriteTestFile(bundle + "/Contents/Resources/Launcher.rsrc",
                "[vers]\r\n1=3.6.2 (MID v2.3)\r\nGetInfoString=999.999.999.999\r\n");
  std::string version;
  EXPECT_EQ(GetFileVersionNumber(bundle, version), 1);
  EXPECT_EQ(version, "230.003.006.002");
  EXPECT_EQ(GetFileVersionNumber(bundle + "/", version), 1);
  EXPECT_EQ(version, "230.003.006.002");
}

TEST_F(FileVersionTest, WithoutTheVersionKeyTheInfoStringIsCut) {
  std::string bundle = sysroot_.path("apps/Freshen.app");
  WriteTestFile(bundle + "/Contents/Resources/Freshen.rsrc",
                "[vers]\r\nGetInfoString=361.002.001.004 Freshen, (c) Nuvel\r\n");
  std::string version;
  EXPECT_EQ(GetFileVersionNumber(bundle, version), 1);
  EXPECT_EQ(version, "361.002.001.004");
}

TEST_F(FileVersionTest, ShortVersionCountsMissingNumbersAsZero) {
  std::string bundle = sysroot_.path("apps/Analyzer.app");
  WriteTestFile(bundle + "/Contents/Resources/Analyzer.rsrc", "[vers]\r\n1=4.0.1\r\n");
  std::string version;
  EXPECT_EQ(GetFileVersionNumber(bundle, version), 1);
  EXPECT_EQ(version, "000.004.000.001");
}

TEST_F(FileVersionTest, NoResourceGivesZeroVersion) {
  std::string bundle = sysroot_.path("apps/Records Manager.app");
  fs::create_directories(bundle + "/Contents/MacOS");
  std::string version = "stale";
  EXPECT_EQ(GetFileVersionNumber(bundle, version), 0);
  EXPECT_EQ(version, kNoVersion);
  WriteTestFile(bundle + "/Contents/Resources/Records Manager.rsrc", "[vers]\r\nother=1\r\n");
  EXPECT_EQ(GetFileVersionNumber(bundle, version), 0);
  EXPECT_EQ(version, kNoVersion);
}

TEST_F(FileVersionTest, LibraryResourceLiesBesideIt) {
  // A folder name holding ".so" does not make a bundle a library.
  std::string library = Make("x.sources/sr/libbabear.so");
  WriteTestFile(library + ".rsrc", "[vers]\r\n1=7.1.0 (MID v3.6)\r\n");
  std::string bundle = sysroot_.path("x.sources/Launcher.app");
  WriteTestFile(bundle + "/Contents/Resources/Launcher.rsrc", "[vers]\r\n1=1.2.3 (MID v3.0)\r\n");
  std::string version;
  EXPECT_EQ(GetFileVersionNumber(library, version), 1);
  EXPECT_EQ(version, "360.007.001.000");
  EXPECT_EQ(GetFileVersionNumber(bundle, version), 1);
  EXPECT_EQ(version, "300.001.002.003");
}

}  // namespace
}  // namespace nuvel::base
