#include "platform/trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/syscalls.h"
#include "tests/support/test_env.h"

namespace nuvel::platform {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

class TrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClockForTesting([] { return LocalTime{2026, 3, 4, 5, 6, 7}; });
    trash_ = sysroot_.path("home/.local/share/Trash");
  }
  void TearDown() override {
    SetClockForTesting(nullptr);
    ResetSyscalls();
  }

  unsigned ModeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  TestSysroot sysroot_;
  std::string trash_;
};

TEST_F(TrashTest, FolderMovesIntoPrivateFilesWithItsOriginAndDate) {
  std::string item = sysroot_.path("opt/My Nuvel");
  WriteTestFile(item + "/records.ini", "[Records]\r\n");

  ASSERT_FALSE(MoveToTrash(item, "My Nuvel"));

  EXPECT_FALSE(fs::exists(item));
  EXPECT_EQ(ReadTestFile(trash_ + "/files/My Nuvel/records.ini"), "[Records]\r\n");
  EXPECT_EQ(ReadTestFile(trash_ + "/info/My Nuvel.trashinfo"),
            "[Trash Info]\nPath=" + sysroot_.path("opt/My%20Nuvel") +
                "\nDeletionDate=2026-03-04T05:06:07\n");
  for (const char* folder : {"", "/files", "/info"}) {
    EXPECT_EQ(ModeOf(trash_ + folder), 0700u) << "the Trash is private to the user: " << folder;
  }
  // The path is percent-encoded except for unreserved characters.
  EXPECT_EQ(PercentEncodePath("/a b/100%/x~y_z-1.2/é#?"), "/a%20b/100%25/x~y_z-1.2/%C3%A9%23%3F");
}

TEST_F(TrashTest, TakenOrReservedNameIsRefusedAndNothingMoves) {
  std::string item = sysroot_.path("opt/Nuvel");
  WriteTestFile(item + "/a", "new");
  WriteTestFile(trash_ + "/files/Nuvel/a", "old");
  WriteTestFile(trash_ + "/info/Nuvel.trashinfo", "old info");

  EXPECT_TRUE(TrashHoldsName("Nuvel"));
  EXPECT_EQ(MoveToTrash(item, "Nuvel"), std::errc::file_exists);
  EXPECT_EQ(ReadTestFile(item + "/a"), "new");
  EXPECT_EQ(ReadTestFile(trash_ + "/files/Nuvel/a"), "old");
  EXPECT_EQ(ReadTestFile(trash_ + "/info/Nuvel.trashinfo"), "old info");

  // Another program's move in progress has written its information file only.
  WriteTestFile(trash_ + "/info/Other.trashinfo", "reserved");
  EXPECT_TRUE(TrashHoldsName("Other"));
  EXPECT_EQ(MoveToTrash(item, "Other"), std::errc::file_exists);
  EXPECT_EQ(ReadTestFile(item + "/a"), "new");
}

TEST_F(TrashTest, FailedMoveTakesTheInformationFileBack) {
  std::string item = sysroot_.path("opt/Nuvel");
  fs::create_directories(item);
  syscalls().rename = [](const char*, const char*) {
    errno = EACCES;
    return -1;
  };
  EXPECT_EQ(MoveToTrash(item, "Nuvel"), std::errc::permission_denied);
  ResetSyscalls();
  EXPECT_TRUE(fs::exists(item));
  EXPECT_FALSE(TrashHoldsName("Nuvel")) << "a stale information file would hide the name";
}

TEST_F(TrashTest, BadArgumentsAreRefused) {
  std::string item = sysroot_.path("opt/Nuvel");
  fs::create_directories(item);
  EXPECT_EQ(MoveToTrash("opt/Nuvel", "Nuvel"), std::errc::invalid_argument);
  EXPECT_EQ(MoveToTrash(item, "a/b"), std::errc::invalid_argument);
  EXPECT_EQ(MoveToTrash(item, ".."), std::errc::invalid_argument);
  EXPECT_EQ(MoveToTrash(sysroot_.path("home"), "home"), std::errc::invalid_argument)
      << "the home folder holds the trash itself";
  EXPECT_EQ(MoveToTrash(sysroot_.path("opt/missing"), "missing"),
            std::errc::no_such_file_or_directory);
  EXPECT_TRUE(fs::exists(item));
}

TEST_F(TrashTest, ItemOnAnotherFileSystemIsCopiedAndRemoved) {
  struct stat shm, root;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(sysroot_.root().c_str(), &root) != 0 ||
      shm.st_dev == root.st_dev || ::access("/dev/shm", W_OK) != 0) {
    GTEST_SKIP() << "no writable second file system at /dev/shm";
  }
  std::string item = "/dev/shm/nuvel-trash-test-" + std::to_string(::getpid());
  WriteTestFile(item + "/sub/file", "data");
  std::error_code ec = MoveToTrash(item, "Nuvel");
  bool left_behind = fs::exists(item);
  fs::remove_all(item);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_FALSE(left_behind);
  EXPECT_EQ(ReadTestFile(trash_ + "/files/Nuvel/sub/file"), "data");
}

TEST_F(TrashTest, TrashToolsListTheItemWithItsOriginalPath) {
  SetClockForTesting(nullptr);  // trash-list shows the date it reads; any date will do
  std::string item = sysroot_.path("opt/Nuvel Courses");
  WriteTestFile(item + "/x", "x");
  ASSERT_FALSE(MoveToTrash(item, "Nuvel Courses"));

  // HOME and XDG_DATA_HOME point into the test's sysroot; trash-list inherits them.
  int status = -1;
  std::string output;
  ASSERT_FALSE(RunAndWait({"trash-list"}, status, &output, true))
      << "trash-list (package trash-cli) is installed by scripts/install-deps.sh";
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find(" " + item + "\n"), std::string::npos) << output;
}

}  // namespace
}  // namespace nuvel::platform
