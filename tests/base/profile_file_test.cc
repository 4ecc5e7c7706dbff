#include "base/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>

#include "base/log.h"
#include "platform/files.h"
#include "platform/syscalls.h"
#include "tests/support/test_env.h"

namespace nuvel::base {
namespace {

using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FreePrivateProfile();
    Log().reset();
    file_ = sysroot_.path("records.ini");
  }
  void TearDown() override {
    FreePrivateProfile();
    platform::ResetSyscalls();
  }

  std::string Get(const std::string& section, const std::string& key, std::size_t size = 255) {
    std::string value;
    GetNuvelPrivateProfileString(section, key, "DEFAULT", value, size, file_);
    return value;
  }

  TestSysroot sysroot_;
  std::string file_;
};

TEST_F(ProfileFileTest, KeysMatchWithoutRegardToCaseAndSpacingAndSearchPastLaterSections) {
  WriteTestFile(file_,
                "[records]\r\nLOG_LEVEL = 4\r\nserver\t=\t10.0.0.1\r\n  Cgipath=cgi-bin \r\n");
  EXPECT_EQ(Get("Records", "log_level"), "4");
  EXPECT_EQ(Get("RECORDS", "server"), "10.0.0.1");
  EXPECT_EQ(Get("Records", "cgipath"), "cgi-bin");

  // Without the wrapper a TAB after "=" is still skipped, but a space is kept.
  std::string raw;
  GetPrivateProfileString("Records", "server", "", raw, 255, file_);
  EXPECT_EQ(raw, "10.0.0.1");
  GetPrivateProfileString("Records", "log_level", "", raw, 255, file_);
  EXPECT_EQ(raw, " 4");

  // The key search goes on past later section headers.
  FreePrivateProfile();
  WriteTestFile(file_, "[Records]\r\na=1\r\n[Other]\r\nb=2\r\n");
  EXPECT_EQ(Get("Records", "b"), "2");
  // A key before its section's header is not found.
  EXPECT_EQ(Get("Other", "a"), "DEFAULT");
  EXPECT_EQ(Get("Missing", "a"), "DEFAULT");
}

TEST_F(ProfileFileTest, WritesCreateTheFileAddSectionsOnTopAndReplaceKeysInPlace) {
  EXPECT_EQ(Get("Records", "log_level"), "DEFAULT");
  EXPECT_EQ(WritePrivateProfileString("Records", "log_level", "3", file_), -1);
  EXPECT_EQ(ReadTestFile(file_), "[Records]\r\nlog_level=3\r\n");
  EXPECT_EQ(Get("Records", "log_level"), "3");

  // A new section goes on top with its key: appended at the end, the key would be shadowed by
  // the same key of a later section, which the lookup reaches first.
  FreePrivateProfile();
  WriteTestFile(file_, "[Other]\nx=1\nlog_level=1\n");
  EXPECT_EQ(WritePrivateProfileString("Records", "log_level", "3", file_), -1);
  EXPECT_EQ(ReadTestFile(file_),
            "[Records]\r\nlog_level=3\r\n[Other]\r\nx=1\r\nlog_level=1\r\n");
  EXPECT_EQ(Get("Records", "log_level"), "3");
  EXPECT_EQ(Get("Other", "log_level"), "1");

  // An existing key is replaced in place, in the caller's spelling.
  FreePrivateProfile();
  WriteTestFile(file_, "[Records]\r\nA=1\r\nLOG_LEVEL=1\r\nb=2\r\n");
  EXPECT_EQ(WritePrivateProfileString("Records", "log_level", "5", file_), 2);
  EXPECT_EQ(ReadTestFile(file_), "[Records]\r\nA=1\r\nlog_level=5\r\nb=2\r\n");
}

TEST_F(ProfileFileTest, RemoveTakesEveryLineOfTheKeyAfterItsSectionAndNothingElse) {
  // The key before the header belongs to nobody's lookup and stays; so do keys that merely
  // begin with the removed one.
  WriteTestFile(file_,
                "proxy=early\r\n[Records]\r\nPROXY = a\r\nproxyipport=8080\r\n[Other]\r\n"
                "proxy=b\r\n");
  Get("Records", "proxy");  // a cached copy must not come back in later reads
  EXPECT_EQ(RemovePrivateProfileKey("records", "proxy", file_), 1);
  EXPECT_EQ(ReadTestFile(file_), "proxy=early\r\n[Records]\r\nproxyipport=8080\r\n[Other]\r\n");
  EXPECT_EQ(Get("Records", "proxy"), "DEFAULT");

  EXPECT_EQ(RemovePrivateProfileKey("Records", "proxy", file_), 0);
  EXPECT_EQ(RemovePrivateProfileKey("Missing", "proxyipport", file_), 0);
  EXPECT_EQ(RemovePrivateProfileKey("Records", "x", sysroot_.path("absent.ini")), 0);
  EXPECT_FALSE(std::filesystem::exists(sysroot_.path("absent.ini")));
}

TEST_F(ProfileFileTest, WritesAndRemovalsTellWhatTheyDidAndFailuresAsErrors) {
  ProfileWrite what = ProfileWrite::kUnchanged;
  EXPECT_FALSE(WriteProfileValue("Records", "a", "1", file_, &what));
  EXPECT_EQ(what, ProfileWrite::kAdded);  // file created
  EXPECT_FALSE(WriteProfileValue("Records", "b", "2", file_, &what));
  EXPECT_EQ(what, ProfileWrite::kAdded);  // key appended
  EXPECT_FALSE(WriteProfileValue("Records", "a", "3", file_, &what));
  EXPECT_EQ(what, ProfileWrite::kReplaced);
  std::string value = " 3 ";
  EXPECT_FALSE(StoreProfileValue("Records", "a", value, file_, &what));
  EXPECT_EQ(what, ProfileWrite::kUnchanged);
  EXPECT_EQ(value, "3");
  EXPECT_EQ(ProfileValue("Records", "a", "", file_), "3");

  EXPECT_EQ(WriteProfileValue("", "a", "1", file_), std::errc::invalid_argument);
  EXPECT_EQ(WriteProfileValue("Records", "a", "x\nb=1", file_), std::errc::invalid_argument);
  EXPECT_EQ(ReadTestFile(file_), "[Records]\r\na=3\r\nb=2\r\n");

  bool removed = false;
  EXPECT_FALSE(RemoveProfileKey("Records", "b", file_, &removed));
  EXPECT_TRUE(removed);
  EXPECT_FALSE(RemoveProfileKey("Records", "b", file_, &removed));
  EXPECT_FALSE(removed);
  EXPECT_EQ(ReadTestFile(file_), "[Records]\r\na=3\r\n");
}

TEST_F(ProfileFileTest, LineBreaksInSectionsKeysOrValuesAreRefusedAndNothingIsWritten) {
  WriteTestFile(file_, "[Records]\r\nnote=a\r\n");
  EXPECT_EQ(WritePrivateProfileString("Records", "note", "x\r\n[Other]\r\nlog_level=5", file_), -2);
  std::string value = "x\n[Other]\nlog_level=5";
  EXPECT_EQ(WriteNuvelPrivateProfileString("Records", "note", value, file_), -2);
  EXPECT_EQ(WritePrivateProfileString("Records", "a\rb", "1", file_), -2);
  EXPECT_EQ(WritePrivateProfileString("Rec\nords", "note", "1", file_), -2);
  EXPECT_EQ(ReadTestFile(file_), "[Records]\r\nnote=a\r\n");
  // A TAB is part of a line, and a line end at the value's end is trimmed as ever.
  value = "a\tb\r\n";
  EXPECT_EQ(WriteNuvelPrivateProfileString("Records", "note", value, file_), 1);
  EXPECT_EQ(ReadTestFile(file_), "[Records]\r\nnote=a\tb\r\n");
}

TEST_F(ProfileFileTest, AnyLineEndingIsReadAndRewrittenAsCrLfWithoutBlankLines) {
  for (std::string ending : {"\n", "\r", "\r\n", "\n\n\r\n"}) {
    SCOPED_TRACE("line ending of " + std::to_string(ending.size()) + " bytes");
    FreePrivateProfile();
    WriteTestFile(file_, "[Records]" + ending + "a=1" + ending + ending + "b=2" + ending);
    EXPECT_EQ(Get("Records", "b"), "2");
    std::string value = "3";
    WriteNuvelPrivateProfileString("Records", "c", value, file_);
    EXPECT_EQ(ReadTestFile(file_), "[Records]\r\na=1\r\nb=2\r\nc=3\r\n");
  }
}

TEST_F(ProfileFileTest, WritingTheStoredValueLeavesTheFileUntouched) {
  WriteTestFile(file_, "[Records]\nlog_level=3\n");
  // Age the file so that any rewrite would show in its modification time.
  ASSERT_FALSE(platform::SetModificationTime(file_, 1000000000));

  std::string value = "3";
  EXPECT_EQ(WriteNuvelPrivateProfileString("Records", "log_level", value, file_), 1);
  value = " 3 ";  // stripped before the comparison of the engine
  WriteNuvelPrivateProfileString("Records", "log_level", value, file_);
  EXPECT_EQ(value, "3");

  platform::FileTimes times;
  ASSERT_FALSE(platform::GetFileTimes(file_, times));
  EXPECT_EQ(times.modified, 1000000000);
  EXPECT_EQ(ReadTestFile(file_), "[Records]\nlog_level=3\n");
}

TEST_F(ProfileFileTest, ReadsComeFromTheCacheButWritesNeverLoseOtherChanges) {
  WriteTestFile(file_, "[Records]\na=1\n");
  EXPECT_EQ(Get("Records", "a"), "1");
  // Changed behind the engine's back: reads still come from the cache...
  WriteTestFile(file_, "[Records]\na=2\n");
  EXPECT_EQ(Get("Records", "a"), "1");
  // ...but a write starts from the file as it is now, keeping the other change, whether it
  // goes through the stripping wrapper or the raw call.
  std::string value = "x";
  WriteNuvelPrivateProfileString("Records", "b", value, file_);
  EXPECT_EQ(ReadTestFile(file_), "[Records]\r\na=2\r\nb=x\r\n");
  EXPECT_EQ(Get("Records", "a"), "2");
  WriteTestFile(file_, "[Records]\na=3\nb=x\n");
  WritePrivateProfileString("Records", "c", "y", file_);
  EXPECT_EQ(ReadTestFile(file_), "[Records]\r\na=3\r\nb=x\r\nc=y\r\n");
}

// Two processes (two users' programs) each store their own keys in one file at the same time:
// every update re-reads the file under the lock beside it, so no key is lost.
TEST_F(ProfileFileTest, ConcurrentWritersInTwoProcessesLoseNoKey) {
  constexpr int kKeys = 200;
  auto write_keys = [this](const char* prefix) {
    int failures = 0;
    for (int i = 0; i < kKeys; ++i) {
      std::string value = std::to_string(i);
      if (WriteNuvelPrivateProfileString("Records", prefix + value, value, file_) == -2) {
        ++failures;
      }
    }
    return failures;
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(write_keys("child_") == 0 ? 0 : 1);
  EXPECT_EQ(write_keys("parent_"), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's writes failed";

  FreePrivateProfile();
  int lost = 0;
  for (const char* prefix : {"child_", "parent_"}) {
    for (int i = 0; i < kKeys; ++i) {
      if (Get("Records", prefix + std::to_string(i)) != std::to_string(i)) ++lost;
    }
  }
  EXPECT_EQ(lost, 0);
  const std::string text = ReadTestFile(file_);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 2 * kKeys);
}

// A link planted where the lock file belongs: the update is refused, nothing is written.
TEST_F(ProfileFileTest, LinkInPlaceOfTheLockFileFailsTheWrite) {
  WriteTestFile(sysroot_.path("elsewhere"), "untouched");
  std::filesystem::create_symlink(sysroot_.path("elsewhere"), sysroot_.path(".records.ini.lock"));
  std::string value = "4";
  EXPECT_EQ(WriteNuvelPrivateProfileString("Records", "log_level", value, file_), -2);
  EXPECT_FALSE(std::filesystem::exists(file_));
  EXPECT_EQ(ReadTestFile(sysroot_.path("elsewhere")), "untouched");
}

TEST_F(ProfileFileTest, ValueOnlyOfSpacesReportsItsLengthButStripsToEmpty) {
  WriteTestFile(file_, "[Records]\na=   \nb\n");
  std::string value;
  EXPECT_EQ(GetNuvelPrivateProfileString("Records", "a", "", value, 255, file_), 3);
  EXPECT_EQ(value, "");
  EXPECT_EQ(Get("Records", "b"), "b") << "a key line without \"=\" yields the whole line";
  // The file name is found without regard to case.
  WriteTestFile(sysroot_.path("Setup.INI"), "[Nuvel]\nforce_english=y\n");
  GetNuvelPrivateProfileString("Nuvel", "force_english", "", value, 255,
                               sysroot_.path("setup.ini"));
  EXPECT_EQ(value, "y");
}

TEST_F(ProfileFileTest, OverLongLinesAreCutToTheBufferAndLogged) {
  std::string long_value(400, 'v');
  WriteTestFile(file_, "[Records]\nlong=" + long_value + "\nafter=1\n");
  std::string value;
  // The line is cut to 254 characters when loaded, so the value keeps 254 - 5 of them.
  EXPECT_EQ(GetPrivateProfileString("Records", "long", "", value, 255, file_), 249);
  EXPECT_EQ(value, std::string(249, 'v'));
  EXPECT_EQ(Get("Records", "after"), "1");

  // A small caller buffer cuts the value, not the file.
  FreePrivateProfile();
  GetPrivateProfileString("Records", "after", "", value, 1, file_);
  EXPECT_EQ(value, "");
  // A key beyond the 254 characters a line is matched on never matches.
  FreePrivateProfile();
  WriteTestFile(file_, "[Records]\n" + std::string(300, ' ') + "hidden=1\n");
  EXPECT_EQ(Get("Records", "hidden", 1024), "DEFAULT");
}

TEST_F(ProfileFileTest, RewriteKeepsThePermissionsAndAFailedOneTheOldFileWhole) {
  WriteTestFile(file_, "[Records]\na=1\nb=2\n");
  ASSERT_EQ(::chmod(file_.c_str(), 0664), 0);
  std::string value = "2";
  WriteNuvelPrivateProfileString("Records", "a", value, file_);
  struct stat st;
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);

  WriteTestFile(file_, "[Records]\na=1\nb=2\n");
  platform::syscalls().write = [](int, const void*, std::size_t) -> long {
    errno = ENOSPC;
    return -1;
  };
  EXPECT_EQ(WritePrivateProfileString("Records", "a", "9", file_), -2);
  platform::ResetSyscalls();
  EXPECT_EQ(ReadTestFile(file_), "[Records]\na=1\nb=2\n");
  for (const auto& entry : std::filesystem::directory_iterator(sysroot_.root())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
        << "a temporary file was left beside it";
  }
}

TEST(YesNoTest, FirstLetterDecides) {
  for (auto [text, expected] : {std::pair{"Yes", 1}, {"  No ", 0}, {"y", 1}, {"N", 0}}) {
    int flag = 7;
    EXPECT_EQ(Set_YN_ini_Value(text, flag), 1) << text;
    EXPECT_EQ(flag, expected) << text;
  }
  EXPECT_EQ(YesNoValue(" yes"), true);
  EXPECT_EQ(YesNoValue("no"), false);
  for (const char* text : {"", "  ", "true", "1"}) {
    EXPECT_FALSE(YesNoValue(text).has_value()) << text;
    int flag = 7;
    EXPECT_EQ(Set_YN_ini_Value(text, flag), 0) << text;
    EXPECT_EQ(flag, 7) << text;
  }
}

TEST_F(ProfileFileTest, ColonPathsAreStoredInSlashForm) {
  std::string path = "Macintosh HD:opt:Nuvel:";
  ConvertToPOSIXPrivateProfileString("Records", "launch_path_local", path, file_);
  EXPECT_EQ(path, "/opt/Nuvel/");
  EXPECT_EQ(Get("Records", "launch_path_local"), "/opt/Nuvel/");

  std::string posix = "/already/posix";
  EXPECT_EQ(ConvertToPOSIXPrivateProfileString("Records", "other", posix, file_), 0);
  EXPECT_EQ(Get("Records", "other"), "DEFAULT");
}

}  // namespace
}  // namespace nuvel::base
