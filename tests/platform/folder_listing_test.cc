#include "platform/folder_listing.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/copy.h"
#include "platform/files.h"
#include "platform/syscalls.h"
#include "platform/volumes.h"
#include "tests/support/test_env.h"

namespace nuvel::platform {
namespace {

using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;
namespace fs = std::filesystem;

class FolderListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = sysroot_.path("folder");
    for (const char* name : {"a", "b", "c", "d"}) WriteTestFile(folder_ + "/" + name, name);
  }
  void TearDown() override { ResetSyscalls(); }
  TestSysroot sysroot_;
  std::string folder_;
};

// A folder that fails to be read after its first entry (a disk error, a network folder gone).
int gEntriesBeforeFailure = 0;
struct dirent* ReaddirFailingAfterOneEntry(DIR* dir) {
  struct dirent* entry = ::readdir(dir);
  if (entry && entry->d_name[0] == '.') return entry;  // "." and ".." do not count
  if (gEntriesBeforeFailure-- > 0) return entry;
  errno = EIO;
  return nullptr;
}

TEST_F(FolderListingTest, ReadErrorIsReportedAndNeverTakenForTheEndOfTheFolder) {
  syscalls().readdir = ReaddirFailingAfterOneEntry;

  gEntriesBeforeFailure = 1;
  std::vector<std::string> names;
  EXPECT_EQ(ListDirectory(folder_, names), std::errc::io_error);

  gEntriesBeforeFailure = 1;
  std::vector<DirEntry> entries;
  EXPECT_EQ(ListDirectoryEntries(folder_, entries), std::errc::io_error);

  gEntriesBeforeFailure = 1;
  std::vector<TreeEntry> tree;
  EXPECT_EQ(ListTreeEntries(folder_, tree), std::errc::io_error);

  // A removal that could not see every entry says so and removes nothing of that folder.
  gEntriesBeforeFailure = 1;
  EXPECT_EQ(RemoveTree(folder_), std::errc::io_error);
  ResetSyscalls();
  ASSERT_FALSE(ListDirectory(folder_, names));
  EXPECT_EQ(names.size(), 4u);
}

// fstatat failing on every entry leaves errno set while the listing goes on; the end of the
// folder must still be an end.
int FstatatFailing(int, const char*, struct stat*, int) {
  errno = ENOENT;
  return -1;
}

TEST_F(FolderListingTest, AnEntryThatCannotBeExaminedDoesNotFailTheListing) {
  syscalls().fstatat = FstatatFailing;
  std::vector<TreeEntry> tree;
  ASSERT_FALSE(ListTreeEntries(folder_, tree, /*with_sizes=*/true));
  ASSERT_EQ(tree.size(), 4u);
  for (const TreeEntry& entry : tree) EXPECT_EQ(entry.kind, ObjectKind::kOther) << entry.name;
}

TEST_F(FolderListingTest, VisitorEndsTheListingEarlyWithoutError) {
  int told = 0;
  EXPECT_FALSE(ListFolder(folder_, [&told](const FolderEntry&) { return ++told < 2; }));
  EXPECT_EQ(told, 2);
  EXPECT_EQ(ListFolder(sysroot_.path("missing"), [](const FolderEntry&) { return true; }),
            std::errc::no_such_file_or_directory);
}

int StatvfsFailing(const char*, struct statvfs*) {
  errno = EIO;
  return -1;
}

TEST_F(FolderListingTest, FreeSpaceReportsAFileSystemThatCannotBeAsked) {
  syscalls().statvfs = StatvfsFailing;
  std::uint64_t bytes = 1;
  EXPECT_EQ(FreeSpace(folder_, bytes), std::errc::io_error);
  EXPECT_EQ(bytes, 0u);
}

}  // namespace
}  // namespace nuvel::platform
