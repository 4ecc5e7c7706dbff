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

// Every dialog shown is recorded by the fake back end and answered with its first button.
class FileUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModules();
    auto fake = std::make_unique<ui::testing::FakeBackend>();
    backend_ = fake.get();
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
  std::vector<ui::Dialog>& Shown() { return backend_->shown; }

  // GetFileInfo with its outputs kept in name_, info_ and is_directory_.
  int Info(int slot, const std::string& folder, const std::string& pattern, int mode,
           int want_directory = 0) {
    return GetFileInfo(slot, folder, pattern, name_, info_, mode, want_directory, is_directory_);
  }
  int Next(int slot) { return Info(slot, "", "", 0); }

  TestSysroot sysroot_;
  ui::testing::FakeBackend* backend_ = nullptr;
  std::string name_;
  std::int64_t info_ = 0;
  int is_directory_ = -1;
};

// ---- Conversions ---------------------------------------------------------------------------

using FileNameConversionTest = FileUtilsTest;

TEST_F(FileNameConversionTest, PathsConvertToTheSlashForm) {
  EXPECT_EQ(Convert_FileName2("\\srv\\courses\\lesson."), "/srv/courses/lesson");
  EXPECT_EQ(Convert_FileName2("a\\b.."), "a/b.") << "only one trailing dot goes";
  EXPECT_EQ(Convert_FileName2(""), "");
  EXPECT_EQ(Convert_FileNamePOSIX("/opt/Nuvel", 1), "/opt/Nuvel/");
  EXPECT_EQ(Convert_FileNamePOSIX("/opt/Nuvel/", 1), "/opt/Nuvel/");
  EXPECT_EQ(Convert_FileNamePOSIX("/opt/Nuvel", 0), "/opt/Nuvel");
  // Colon paths lose their volume name, unless a slash shows the path is already POSIX.
  EXPECT_EQ(Convert_FileNamePOSIX("Disc:install:data:", 0), "/install/data/");
  EXPECT_EQ(Convert_FileNamePOSIX("Disc:", 0), "/");
  EXPECT_EQ(Convert_FileNamePOSIX(":install:data", 0), "install/data");
  EXPECT_EQ(Convert_FileNamePOSIX("/srv/a:b", 0), "/srv/a:b");
  EXPECT_EQ(Convert_FileName("Disc:a\\b.", 0), "Disc:a/b") << "other modes fix separators only";
  EXPECT_EQ(Convert_FileNameHFS("Disc:opt:Nuvel", 0), "/opt/Nuvel");
  EXPECT_EQ(Convert_BackFileName("/opt\\Nuvel."), "/opt/Nuvel");
  EXPECT_EQ(Convert_BackFileName("Disc:opt:Nuvel"), "Disc:opt:Nuvel");
  // Empty input gives the previous result of the same function.
  Convert_FileNamePOSIX("/first", 1);
  Convert_FileNameHFS("/second", 0);
  EXPECT_EQ(Convert_FileNamePOSIX("", 0), "/first/");
  EXPECT_EQ(Convert_FileNameHFS("", 1), "/second");
}

// The path after an in-place edit.
std::string After(void (*edit)(std::string&), std::string path) {
  edit(path);
  return path;
}

TEST_F(FileNameConversionTest, SeparatorsAndFileNamesAreSplitOff) {
  EXPECT_EQ(After(AddDirSeparater, ""), "");
  EXPECT_EQ(After(AddDirSeparater, "Disc:folder:"), "Disc:folder:");
  EXPECT_EQ(After(AddDirSeparater, After(AddDirSeparater, "/a")), "/a/");
  EXPECT_EQ(After(RemoveDirSeparater, "/a//"), "/a/");
  EXPECT_EQ(After(StripOffDirseparater, "/a/"), "/a");
  EXPECT_EQ(After(StripOffFilename, "/a/b/file.txt"), "/a/b");
  EXPECT_EQ(After(StripOffFilename, "/a/b/"), "/a/b");
  EXPECT_EQ(After(StripOffFilename, "file.txt"), "");
  EXPECT_EQ(GetFilenameFromPath("Disc:folder:file"), "file");
  EXPECT_EQ(GetFilenameFromPath("C:\\Nuvel\\records.ini"), "records.ini");
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

TEST_F(FileExistenceTest, MakeDirectoryCreatesOnlyTheLastLevelAndKeepsExistingFolders) {
  std::string folder = sysroot_.path("content");
  Make("content/kept.txt", "kept");
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(MakeDirectory(folder), 0);
  EXPECT_EQ(MakeDirectory(folder + "/"), 0);
  EXPECT_EQ(ReadTestFile(folder + "/kept.txt"), "kept");
  EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);

  EXPECT_EQ(MakeDirectory(sysroot_.path("new")), 0);
  EXPECT_TRUE(fs::is_directory(sysroot_.path("new")));
  EXPECT_EQ(MakeDirectory(sysroot_.path("missing/child")), -1);
  EXPECT_FALSE(fs::exists(sysroot_.path("missing")));
  Make("file");
  EXPECT_EQ(MakeDirectory(sysroot_.path("file")), -1) << "a file in the way is a failure";

  base::Run().quitFlag = 1;
  EXPECT_EQ(MakeDirectory(sysroot_.path("late")), 0);
  EXPECT_FALSE(fs::exists(sysroot_.path("late"))) << "nothing is made while quitting";
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
  EXPECT_EQ(DeleteMyFile(Make("kept.txt")), -1);
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

TEST_F(FileExistenceTest, CaseVariantsAreUsedOnlyWithTheSwitchOnAndTheExactNameFirst) {
  Make("src/SETUP.INI");
  Make("src/Products.INF");
  std::string path = sysroot_.path("src/setup.ini");
  EXPECT_EQ(FixFileName(path), 0);
  EXPECT_EQ(path, sysroot_.path("src/setup.ini"));
  EXPECT_EQ(fopenfilesimple(sysroot_.path("src/products.inf")), sysroot_.path("src/products.inf"));

  FileUtils().gFixFileName = 1;
  EXPECT_EQ(FixFileName(path), 1);
  EXPECT_EQ(path, sysroot_.path("src/SETUP.INI"));
  std::string missing = sysroot_.path("src/other.ini");
  EXPECT_EQ(FixFileName(missing), 0);
  EXPECT_EQ(missing, sysroot_.path("src/other.ini"));
  EXPECT_EQ(fopenfile(sysroot_.path("src/products.inf"), "rb"), sysroot_.path("src/Products.INF"));
  EXPECT_EQ(fopenfilesimple(""), "");

  Make("src/Setup.ini");
  Make("src/setup.INI");
  path = sysroot_.path("src/SETUP.INI");
  EXPECT_EQ(FixFileName(path), 1);
  EXPECT_EQ(path, sysroot_.path("src/SETUP.INI"));
  EXPECT_EQ(FindCaseCorrectedPath(sysroot_.path("src/Setup.ini")), sysroot_.path("src/Setup.ini"));
}

// ---- Directory enumeration -----------------------------------------------------------------

class FileInfoTest : public FileUtilsTest {
 protected:
  static std::int64_t LocalNoon(int year, int month, int day) {
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
    for (int rc = Info(slot, folder, "*.*", 1); rc == 0 && !name_.empty(); rc = Next(slot)) {
      seen[name_] = is_directory_;
    }
    return seen;
  }
};

TEST_F(FileInfoTest, DateBefore1980BecomesTheSameDayIn1980AndWarnsOnce) {
  ASSERT_FALSE(platform::SetModificationTime(Make("old/ancient.txt"), LocalNoon(1975, 6, 15)));
  info_ = 3;
  ASSERT_EQ(Info(0, sysroot_.path("old"), "ancient.txt", 2), 0);
  EXPECT_EQ(name_, "ancient.txt");
  EXPECT_EQ(is_directory_, 0);
  EXPECT_EQ(info_, (1980 - 1980) * 512 + 6 * 32 + 15);
  info_ = 3;
  ASSERT_EQ(Info(3, sysroot_.path("old"), "*.*", 1), 0);
  EXPECT_EQ(info_, 6 * 32 + 15);

  ASSERT_EQ(Shown().size(), 1u) << "the system-date warning is shown once per run";
  EXPECT_EQ(Shown()[0].id, "MSG_Message_WrongSystemDate");
  EXPECT_EQ(FirstButtonOf(Shown()[0]), Localize("MSG_Button_OK"));
}

TEST_F(FileInfoTest, InfoSelectsSecondsOrPackedDates) {
  const std::int64_t when = LocalNoon(2024, 2, 29);
  ASSERT_FALSE(platform::SetModificationTime(Make("dated/file.txt"), when));
  const std::string folder = sysroot_.path("dated");
  for (int selector : {1, 9}) {  // above 3 counts as 1
    info_ = selector;
    ASSERT_EQ(Info(0, folder, "file.txt", 2), 0);
    EXPECT_EQ(info_, when) << selector;
  }
  info_ = 3;
  ASSERT_EQ(Info(0, folder, "file.txt", 2), 0);
  EXPECT_EQ(info_, 44 * 512 + 2 * 32 + 29);
  // The creation date is a real date no earlier than 1980 and no later than today's.
  info_ = 2;
  ASSERT_EQ(Info(0, folder, "file.txt", 2), 0);
  EXPECT_GE(info_, 44 * 512 + 2 * 32 + 29);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(FileInfoTest, BundlesAreReportedAsFiles) {
  Make("apps/Launcher.app/Contents/MacOS/Launcher");
  Make("apps/OLD.APP/Contents/MacOS/OLD");
  Make("apps/Mixed.App/readme.txt");
  Make("apps/Docs/readme.txt");
  Make("apps/notes.txt");
  const std::string apps = sysroot_.path("apps");
  EXPECT_EQ(
      ListAll(0, apps),
      (std::map<std::string, int>{
          {"Launcher.app", 0}, {"OLD.APP", 0}, {"Mixed.App", 1}, {"Docs", 1}, {"notes.txt", 0}}));
  EXPECT_EQ(Info(0, apps, "Launcher.app", 2), 0);
  EXPECT_EQ(is_directory_, 0);
  EXPECT_EQ(Info(0, apps, "Launcher.app", 2, 1), kFileNotFound);
  EXPECT_EQ(name_, "");
  EXPECT_EQ(Info(0, apps, "Docs", 2, 1), 0);
  EXPECT_EQ(name_, "Docs");
  EXPECT_EQ(is_directory_, 1);
  EXPECT_EQ(Info(0, apps, "notes.txt", 2, 1), kFileNotFound);
  EXPECT_EQ(Info(0, apps, "absent", 2), kFileNotFound);
}

TEST_F(FileInfoTest, SlotsDoNotDisturbEachOther) {
  for (const char* name : {"a/a1", "a/a2", "a/a3", "b/b1", "b/b2"}) Make(name);
  std::set<std::string> from_a, from_b;
  ASSERT_EQ(Info(0, sysroot_.path("a"), "*.*", 1), 0);
  from_a.insert(name_);
  ASSERT_EQ(Info(1, sysroot_.path("b"), "*.*", 1), 0);
  from_b.insert(name_);
  ASSERT_EQ(Info(0, sysroot_.path("b"), "b1", 2), 0) << "a single look-up uses its own slot";
  for (;;) {
    int a = Next(0);
    if (a == 0) from_a.insert(name_);
    int b = Next(1);
    if (b == 0) from_b.insert(name_);
    if (a != 0 && b != 0) break;
  }
  EXPECT_EQ(from_a, (std::set<std::string>{"a1", "a2", "a3"}));
  EXPECT_EQ(from_b, (std::set<std::string>{"b1", "b2"}));
}

TEST_F(FileInfoTest, ListingEndsBadRequestsAndFoldersAsPatterns) {
  Make("one/only.txt");
  ASSERT_EQ(Info(2, sysroot_.path("one"), "*.*", 1), 0);
  EXPECT_EQ(name_, "only.txt");
  EXPECT_EQ(Next(2), kFileNotFound);
  EXPECT_EQ(name_, "");
  EXPECT_EQ(Next(2), kFileNotFound) << "running off the end keeps reporting it";
  EXPECT_EQ(Next(4), kFileNotFound) << "a slot that never started";

  fs::create_directories(sysroot_.path("empty"));
  name_ = "stale";
  EXPECT_EQ(Info(0, sysroot_.path("empty"), "*.*", 1), 0);
  EXPECT_EQ(name_, "");
  EXPECT_EQ(Next(0), kFileNotFound);

  // A pattern naming a folder lists that folder.
  Make("top/sub/inner.txt");
  Make("top/outer.txt");
  EXPECT_EQ(ListAll(0, sysroot_.path("top/sub")), (std::map<std::string, int>{{"inner.txt", 0}}));
  ASSERT_EQ(Info(0, sysroot_.path("top"), "sub", 1), 0);
  EXPECT_EQ(name_, "inner.txt");
  EXPECT_NE(Info(0, sysroot_.path("nowhere"), "*.*", 1), 0);
  EXPECT_EQ(name_, "");
  EXPECT_NE(Info(7, sysroot_.path("top"), "*.*", 1), 0);
  EXPECT_NE(Info(-1, sysroot_.path("top"), "*.*", 1), 0);
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
// and the tests run as root in CI. The test file ends in ".TST".
platform::Syscalls gReal;
std::vector<std::string> gTestFiles;

// True, with errno set to `error`, for the test file; other paths go to the real call.
bool Refused(const char* path, int error) {
  std::string_view p = path;
  if (p.size() <= 4 || p.substr(p.size() - 4) != ".TST") return false;
  gTestFiles.push_back(path);
  errno = error;
  return true;
}
int OpenRefusingTestFiles(const char* path, int flags, unsigned mode) {
  return Refused(path, EACCES) ? -1 : gReal.open(path, flags, mode);
}
int UnlinkRefusingTestFiles(const char* path) {
  return Refused(path, EPERM) ? -1 : gReal.unlink(path);
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
  EXPECT_EQ(Check_Write_Privileges("", 1), -1);
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
  // The test file is eight capitals in the folder itself.
  ASSERT_EQ(gTestFiles.size(), 1u);
  EXPECT_TRUE(std::regex_match(gTestFiles[0], std::regex(folder_ + "/[A-Z]{8}\\.TST")))
      << gTestFiles[0];
}

TEST_F(FileWritePrivilegesTest, NonAsciiPathIsWarnedAboutAndStillTested) {
  std::string folder = sysroot_.path("Übungen");
  fs::create_directories(folder);
  EXPECT_EQ(Check_Write_Privileges(folder, 1), 1);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].id, "MSG_NonEnglishPathnames");
}

TEST_F(FileRightsTest, AppIsRenamedAndBackOnlyWhenNothingIsInTheWay) {
  std::string bundle = sysroot_.path("apps/Launcher.app");
  std::string app = Make("apps/Launcher.app/Contents/MacOS/Launcher", "exe");
  fs::permissions(bundle, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(CanThisAppBeRenamed(bundle), 1);
  EXPECT_EQ(ReadTestFile(app), "exe");
  EXPECT_FALSE(fs::exists(bundle + "X"));
  EXPECT_EQ(CanThisAppBeRenamed(sysroot_.path("apps/Absent.app")), 1);

  Make("apps/Launcher.appX", "someone else's");
  EXPECT_EQ(CanThisAppBeRenamed(bundle), 0);
  EXPECT_EQ(ReadTestFile(bundle + "X"), "someone else's");
  EXPECT_EQ(ReadTestFile(app), "exe");
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

TEST_F(FileRightsTest, MovingAFolderMovesItsTreeOrTellsAndKeepsBoth) {
  Make("from/lessons/one.txt", "1");
  EXPECT_EQ(MoveMyDirectory(sysroot_.path("from/"), sysroot_.path("to")), 0);
  EXPECT_EQ(ReadTestFile(sysroot_.path("to/lessons/one.txt")), "1");
  EXPECT_FALSE(fs::exists(sysroot_.path("from")));
  EXPECT_TRUE(Shown().empty());

  Make("from/one.txt", "1");
  EXPECT_NE(MoveMyDirectory(sysroot_.path("from"), sysroot_.path("to")), 0);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(MessageOf(Shown()[0]), "Error moving directory " + sysroot_.path("from"));
  EXPECT_EQ(ReadTestFile(sysroot_.path("from/one.txt")), "1");
  EXPECT_EQ(ReadTestFile(sysroot_.path("to/lessons/one.txt")), "1");
}

// ---- Application versions ------------------------------------------------------------------

TEST_F(FileUtilsTest, VersionsComeFromTheResourceOfABundleOrBesideALibrary) {
  struct Case {
    const char* target;    // relative to the sysroot
    const char* resource;  // relative to the sysroot; nullptr for none
    const char* contents;
    int read;
    const char* version;
  };
  const Case cases[] = {
      // The MID number goes first; GetInfoString is not needed then.
      {"apps/Launcher.app", "apps/Launcher.app/Contents/Resources/Launcher.rsrc",
       "[vers]\r\n1=3.6.2 (MID v2.3)\r\nGetInfoString=999.999.999.999\r\n", 1, "230.003.006.002"},
      {"apps/Launcher.app/", nullptr, nullptr, 1, "230.003.006.002"},
      {"apps/Freshen.app", "apps/Freshen.app/Contents/Resources/Freshen.rsrc",
       "[vers]\r\nGetInfoString=361.002.001.004 Freshen, (c) Nuvel\r\n", 1, "361.002.001.004"},
      {"apps/Analyzer.app", "apps/Analyzer.app/Contents/Resources/Analyzer.rsrc",
       "[vers]\r\n1=4.0.1\r\n", 1, "000.004.000.001"},
      {"apps/Records Manager.app", nullptr, nullptr, 0, kNoVersion},
      {"apps/Empty.app", "apps/Empty.app/Contents/Resources/Empty.rsrc", "[vers]\r\nother=1\r\n", 0,
       kNoVersion},
      // A folder name holding ".so" does not make a bundle a library.
      {"x.sources/Launcher.app", "x.sources/Launcher.app/Contents/Resources/Launcher.rsrc",
       "[vers]\r\n1=1.2.3 (MID v3.0)\r\n", 1, "300.001.002.003"},
  };
  fs::create_directories(sysroot_.path("apps/Records Manager.app/Contents/MacOS"));
  for (const Case& c : cases) {
    if (c.resource) Make(c.resource, c.contents);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    std::string version = "stale";
    EXPECT_EQ(GetFileVersionNumber(sysroot_.path(c.target), version), c.read);
    EXPECT_EQ(version, c.version);
  }
}

}  // namespace
}  // namespace nuvel::base
