#include "base/file_utils.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/files.h"
#include "platform/syscalls.h"
#include "tests/support/module_state.h"
#include "tests/support/fake_backend.h"
#include "tests/support/test_env.h"
#include "text/dates.h"
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

void ResetModules() { nuvel::testing::ResetBaseModules(); }

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

// ---- Names, existence, deletion ------------------------------------------------------------

using FileNameTest = FileUtilsTest;

TEST_F(FileNameTest, PathsConvertToTheSlashFormAndSplit) {
  EXPECT_EQ(Convert_FileName2("\\srv\\courses\\lesson."), "/srv/courses/lesson");
  EXPECT_EQ(Convert_FileName2("a\\b.."), "a/b.") << "only one trailing dot goes";
  // Colon paths lose their volume name, unless a slash shows the path is already POSIX.
  EXPECT_EQ(Convert_FileName("Disc:install:data:", 2), "/install/data/");
  EXPECT_EQ(Convert_FileName("Disc:", 1), "/");
  EXPECT_EQ(Convert_FileName(":install:data", 2), "install/data");
  EXPECT_EQ(Convert_FileName("/srv/a:b", 2), "/srv/a:b");
  EXPECT_EQ(Convert_FileName("Disc:a\\b.", 0), "Disc:a/b") << "other modes fix separators only";

  auto folder_of = [](std::string path) {
    StripOffFilename(path);
    return path;
  };
  EXPECT_EQ(folder_of("/a/b/file.txt"), "/a/b");
  EXPECT_EQ(folder_of("/a/b/"), "/a/b");
  EXPECT_EQ(folder_of("file.txt"), "");
  EXPECT_EQ(GetFilenameFromPath("Disc:folder:file"), "file");
  EXPECT_EQ(GetFilenameFromPath("C:\\Nuvel\\records.ini"), "records.ini");
  EXPECT_EQ(GetFilenameFromPath("plain"), "plain");
  EXPECT_EQ(GetFilenameFromPath("/opt/Nuvel/"), "");
}

TEST_F(FileNameTest, ExistenceIsTestedOnThePosixFormAndDeletionAcceptsMissingFiles) {
  std::string file = Make("data/records.ini");
  std::string dos = file;
  for (char& c : dos) c = c == '/' ? '\\' : c;
  EXPECT_EQ(DoesFileExist(dos), 1);
  EXPECT_EQ(DoesFileExist(file + ".bak"), 0);
  EXPECT_EQ(DoesFileExist(""), 0);

  EXPECT_EQ(DeleteMyFile(dos), 0);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(DeleteMyFile(file), 0);
  platform::syscalls().unlink = [](const char*) {
    errno = EPERM;
    return -1;
  };
  EXPECT_EQ(DeleteMyFile(Make("kept.txt")), -1);
}

TEST_F(FileNameTest, CaseCorrectionPrefersTheExactName) {
  Make("src/SETUP.INI");
  EXPECT_EQ(FindCaseCorrectedPath(sysroot_.path("src/setup.ini")), sysroot_.path("src/SETUP.INI"));
  EXPECT_EQ(FindCaseCorrectedPath(sysroot_.path("src/other.ini")), "");
  Make("src/Setup.ini");
  Make("src/setup.INI");
  EXPECT_EQ(FindCaseCorrectedPath(sysroot_.path("src/Setup.ini")), sysroot_.path("src/Setup.ini"));
  EXPECT_EQ(FindCaseCorrectedPath(sysroot_.path("src/SETUP.INI")), sysroot_.path("src/SETUP.INI"));
}

TEST_F(FileNameTest, MakeDirectoryCreatesOnlyTheLastLevelAndKeepsExistingFolders) {
  std::string folder = sysroot_.path("content");
  Make("content/kept.txt", "kept");
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(MakeDirectory(folder + "/"), 0);
  EXPECT_EQ(ReadTestFile(folder + "/kept.txt"), "kept");
  EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
  EXPECT_EQ(MakeDirectory(sysroot_.path("new")), 0);
  EXPECT_TRUE(fs::is_directory(sysroot_.path("new")));
  EXPECT_EQ(MakeDirectory(sysroot_.path("missing/child")), -1);
  EXPECT_FALSE(fs::exists(sysroot_.path("missing")));
  EXPECT_EQ(MakeDirectory(Make("file")), -1) << "a file in the way is a failure";

  base::Run().quitFlag = 1;
  EXPECT_EQ(MakeDirectory(sysroot_.path("late")), 0);
  EXPECT_FALSE(fs::exists(sysroot_.path("late"))) << "nothing is made while quitting";
}

// ---- Directory enumeration -----------------------------------------------------------------

using FileInfoTest = FileUtilsTest;

TEST_F(FileInfoTest, DateBefore1980BecomesTheSameDayIn1980AndWarnsOnce) {
  std::tm noon{};
  noon.tm_year = 1975 - 1900, noon.tm_mon = 6 - 1, noon.tm_mday = 15, noon.tm_hour = 12;
  noon.tm_isdst = -1;
  ASSERT_FALSE(platform::SetModificationTime(Make("old/ancient.txt"), std::mktime(&noon)));
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

TEST_F(FileInfoTest, BundlesAreFilesAndListingsEndWithFileNotFound) {
  Make("apps/Launcher.app/Contents/MacOS/Launcher");
  Make("apps/OLD.APP/Contents/MacOS/OLD");
  Make("apps/Mixed.App/readme.txt");
  Make("apps/Docs/readme.txt");
  Make("apps/notes.txt");
  const std::string apps = sysroot_.path("apps");
  std::map<std::string, int> seen;
  for (int rc = Info(2, apps, "*.*", 1); rc == 0 && !name_.empty(); rc = Next(2)) {
    seen[name_] = is_directory_;
  }
  EXPECT_EQ(
      seen,
      (std::map<std::string, int>{
          {"Launcher.app", 0}, {"OLD.APP", 0}, {"Mixed.App", 1}, {"Docs", 1}, {"notes.txt", 0}}));
  EXPECT_EQ(name_, "");
  EXPECT_EQ(Next(2), kFileNotFound) << "running off the end keeps reporting it";
  EXPECT_EQ(Next(4), kFileNotFound) << "a slot that never started";

  // A single item: a bundle is a file, and a folder is found only when one is wanted.
  EXPECT_EQ(Info(0, apps, "Launcher.app", 2), 0);
  EXPECT_EQ(is_directory_, 0);
  EXPECT_EQ(Info(0, apps, "Launcher.app", 2, 1), kFileNotFound);
  EXPECT_EQ(name_, "");
  EXPECT_EQ(Info(0, apps, "Docs", 2, 1), 0);
  EXPECT_EQ(is_directory_, 1);
  EXPECT_EQ(Info(0, apps, "notes.txt", 2, 1), kFileNotFound);
  EXPECT_EQ(Info(0, apps, "absent", 2), kFileNotFound);

  // A pattern naming a folder lists that folder; an empty folder starts with no entry.
  ASSERT_EQ(Info(0, apps, "Docs", 1), 0);
  EXPECT_EQ(name_, "readme.txt");
  fs::create_directories(sysroot_.path("empty"));
  EXPECT_EQ(Info(0, sysroot_.path("empty"), "*.*", 1), 0);
  EXPECT_EQ(name_, "");
  EXPECT_EQ(Next(0), kFileNotFound);
  EXPECT_NE(Info(0, sysroot_.path("nowhere"), "*.*", 1), 0);
  EXPECT_NE(Info(7, apps, "*.*", 1), 0);
  EXPECT_NE(Info(-1, apps, "*.*", 1), 0);
}

// ---- Write privileges ----------------------------------------------------------------------

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

TEST_F(FileWritePrivilegesTest, WritableFolderPassesAndKeepsNoTestFileEvenWithANonAsciiName) {
  EXPECT_EQ(Check_Write_Privileges(folder_ + "/", 1), 1);
  EXPECT_TRUE(fs::is_empty(folder_));
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(Check_Write_Privileges("", 1), -1);
  // A path that is not plain ASCII is warned about and still tested.
  std::string folder = sysroot_.path("Übungen");
  fs::create_directories(folder);
  EXPECT_EQ(Check_Write_Privileges(folder, 1), 1);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].id, "MSG_NonEnglishPathnames");
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

// ---- Renaming and moving ------------------------------------------------------------------

TEST_F(FileUtilsTest, AppIsRenamedAndBackOnlyWhenNothingIsInTheWay) {
  std::string bundle = sysroot_.path("apps/Launcher.app");
  std::string app = Make("apps/Launcher.app/Contents/MacOS/Launcher", "exe");
  fs::permissions(bundle, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(CanThisAppBeRenamed(bundle), 1);
  EXPECT_EQ(ReadTestFile(app), "exe");
  EXPECT_FALSE(fs::exists(bundle + "X"));

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

TEST_F(FileUtilsTest, FailedMoveOfAFolderIsToldAndKeepsBothTrees) {
  Make("from/one.txt", "1");
  Make("to/lessons/one.txt", "1");
  EXPECT_NE(MoveMyDirectory(sysroot_.path("from/"), sysroot_.path("to")), 0);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(MessageOf(Shown()[0]), "Error moving directory " + sysroot_.path("from"));
  EXPECT_EQ(ReadTestFile(sysroot_.path("from/one.txt")), "1");
  EXPECT_EQ(ReadTestFile(sysroot_.path("to/lessons/one.txt")), "1");
}

// ---- Application versions ------------------------------------------------------------------

TEST_F(FileUtilsTest, VersionsComeFromTheResourceOfABundle) {
  // The bundle (relative to the sysroot, without ".app"), its resource, the version read.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      // The MID number goes first; GetInfoString is not needed then.
      {"apps/Launcher", "[vers]\r\n1=3.6.2 (MID v2.3)\r\nGetInfoString=999.999.999.999\r\n",
       "230.003.006.002"},
      {"apps/Freshen", "[vers]\r\nGetInfoString=361.002.001.004 Freshen, (c) Nuvel\r\n",
       "361.002.001.004"},
      {"apps/Analyzer", "[vers]\r\n1=4.0.1\r\n", "000.004.000.001"},
      {"apps/Empty", "[vers]\r\nother=1\r\n", nullptr},
      // A folder name holding ".so" does not make a bundle a library.
      {"x.sources/Launcher", "[vers]\r\n1=1.2.3 (MID v3.0)\r\n", "300.001.002.003"},
  };
  for (const auto& [bundle, resource, expected] : cases) {
    SCOPED_TRACE(bundle);
    std::string name = fs::path(bundle).filename().string();
    Make(std::string(bundle) + ".app/Contents/Resources/" + name + ".rsrc", resource);
    std::string version = "stale";
    EXPECT_EQ(GetFileVersionNumber(sysroot_.path(bundle) + ".app/", version), expected ? 1 : 0);
    EXPECT_EQ(version, expected ? expected : kNoVersion);
  }
}

TEST(FileSystemDateTest, TodayComesFromAFileInTheRecordsFolderWhichIsRemovedAgain) {
  nuvel::testing::TestSysroot sysroot;
  auto fake = std::make_unique<ui::testing::FakeBackend>();
  ui::testing::FakeBackend& backend = *fake;
  ui::SetBackend(std::move(fake));
  base::Paths().reset();
  std::string folder = sysroot.path("opt/Nuvel");
  std::filesystem::create_directories(folder);
  base::Paths().localNuvelDirectory = folder + "/";

  auto date_of = [](std::time_t at) {
    std::tm local{};
    localtime_r(&at, &local);
    return text::GetDateValueFromYearMonthDay(local.tm_year + 1900 - 1980, local.tm_mon + 1,
                                              local.tm_mday);
  };
  std::time_t now = std::time(nullptr);
  long long date = FindCurrentDateTime(2);
  // Midnight may pass during the reading: the date of either moment is right.
  int before = date_of(now), after = date_of(std::time(nullptr));
  EXPECT_TRUE(date == before || date == after) << date << " vs " << before << ", " << after;
  EXPECT_LE(std::llabs(FindCurrentDateTime(1) - static_cast<long long>(now)), 5);
  EXPECT_TRUE(std::filesystem::is_empty(folder)) << "the probe file must be deleted";
  EXPECT_TRUE(backend.shown.empty());

  // No records folder: the user is told and nothing is returned.
  std::filesystem::remove_all(folder);
  EXPECT_EQ(FindCurrentDateTime(2), 0);
  EXPECT_EQ(backend.shown.size(), 1u);
  base::Paths().reset();
  ui::SetBackend(nullptr);
}

}  // namespace
}  // namespace nuvel::base
