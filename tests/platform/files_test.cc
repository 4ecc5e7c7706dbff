#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/folders.h"
#include "platform/syscalls.h"
#include "platform/volumes.h"
#include "tests/support/test_env.h"

namespace nuvel::platform {
namespace {

using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

class FilesTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetSyscalls(); }
  TestSysroot sysroot_;
};

// Counts write calls and fails from the Nth on, as a disk that fills up would.
int gWritesLeft = 0;
long FailingWrite(int fd, const void* buf, std::size_t count) {
  if (gWritesLeft-- <= 0) {
    errno = ENOSPC;
    return -1;
  }
  // Short writes must be retried by the caller: hand over one byte at a time.
  ResetSyscalls();
  long n = syscalls().write(fd, buf, count > 0 ? 1 : 0);
  syscalls().write = FailingWrite;
  return n;
}

TEST_F(FilesTest, AtomicWriteReplacesWholeOrNotAtAll) {
  std::string path = sysroot_.path("f.ini");
  WriteTestFile(path, "old contents");

  gWritesLeft = 3;
  syscalls().write = FailingWrite;
  std::error_code ec = WriteFileAtomic(path, "new contents that need many writes");
  ResetSyscalls();
  EXPECT_EQ(ec, std::errc::no_space_on_device);
  EXPECT_EQ(ReadTestFile(path), "old contents");

  gWritesLeft = 1000;
  syscalls().write = FailingWrite;
  EXPECT_FALSE(WriteFileAtomic(path, "short writes are retried"));
  ResetSyscalls();
  EXPECT_EQ(ReadTestFile(path), "short writes are retried");

  std::vector<std::string> names;
  ASSERT_FALSE(ListDirectory(sysroot_.root(), names));
  EXPECT_EQ(std::count(names.begin(), names.end(), "f.ini"), 1);
  for (const auto& name : names) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

TEST_F(FilesTest, AppendCreatesAndExtends) {
  std::string path = sysroot_.path("log.txt");
  EXPECT_FALSE(AppendToFile(path, "a\r\n"));
  EXPECT_FALSE(AppendToFile(path, "b\r\n"));
  EXPECT_EQ(ReadTestFile(path), "a\r\nb\r\n");
  std::uint64_t size = 0;
  EXPECT_FALSE(FileSize(path, size));
  EXPECT_EQ(size, 6u);
  EXPECT_TRUE(FileSize(sysroot_.path("missing"), size));
}

TEST_F(FilesTest, MakeDirectoriesCreatesParentsAndAcceptsExisting) {
  std::string deep = sysroot_.path("a/b/c/");
  EXPECT_FALSE(MakeDirectories(deep));
  EXPECT_TRUE(IsDirectory(sysroot_.path("a/b/c")));
  EXPECT_FALSE(MakeDirectories(deep));
  EXPECT_FALSE(MakeDirectory(sysroot_.path("a")));
  WriteTestFile(sysroot_.path("file"), "x");
  EXPECT_TRUE(MakeDirectory(sysroot_.path("file")));
}

TEST_F(FilesTest, FoldersFollowTheEnvironment) {
  EXPECT_EQ(ApplicationsFolder(), sysroot_.root() + "/opt");
  EXPECT_EQ(SharedDataFolder(), sysroot_.root() + "/var/lib");
  EXPECT_EQ(HomeFolder(), sysroot_.path("home"));
  EXPECT_EQ(TempFolder(), sysroot_.path("tmp"));
  EXPECT_EQ(DesktopFolder(), sysroot_.path("home/Desktop"));
}

TEST_F(FilesTest, NetworkSeamCoversPrefixesOnly) {
  ::setenv("NUVEL_NETWORK_PATHS", "/srv/share:/mnt/nfs/", 1);
  bool networked = false;
  unsigned long type = 0;
  EXPECT_FALSE(IsNetworkPath("/srv/share/Nuvel", networked, type));
  EXPECT_TRUE(networked);
  EXPECT_FALSE(IsNetworkPath("/mnt/nfs", networked, type));
  EXPECT_TRUE(networked);
  EXPECT_FALSE(IsNetworkPath("/srv/shared", networked, type));
  EXPECT_FALSE(networked);
  // A folder that does not exist yet is judged by its nearest existing parent.
  EXPECT_FALSE(IsNetworkPath(sysroot_.path("not/yet/made"), networked, type));
  EXPECT_FALSE(networked);
  EXPECT_NE(type, 0u);
}

}  // namespace
}  // namespace nuvel::platform
