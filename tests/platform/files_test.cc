#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string_view>

#include "platform/folders.h"
#include "platform/syscalls.h"
#include "platform/volumes.h"
#include "tests/support/test_env.h"

namespace nuvel::platform {
namespace {

using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;
namespace fs = std::filesystem;

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
  std::uint64_t size = 0;
  EXPECT_FALSE(FileSize(path, size));
  EXPECT_EQ(size, 24u);
  EXPECT_TRUE(FileSize(sysroot_.path("missing"), size));
}

TEST_F(FilesTest, OnlyTemporaryFilesOfAtomicWritesWhoseWriterIsGoneAreRemoved) {
  const std::string folder = sysroot_.path("settings");
  ASSERT_FALSE(MakeDirectories(folder));
  for (const char* name : {".records.ini.0a1b2c3d.tmp", ".records.ini.99887766.tmp", ".notes.tmp",
                           ".records.ini.0A1B2C3D.tmp", "records.ini.0a1b2c3d.tmp",
                           ".records.ini.0a1b2c3.tmp", "records.ini"}) {
    WriteTestFile(folder + "/" + name, "x");
  }
  // A write under way holds the lock on its temporary file.
  int held = ::open((folder + "/.records.ini.99887766.tmp").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(RemoveStaleAtomicWriteFiles(folder),
            std::vector<std::string>{folder + "/.records.ini.0a1b2c3d.tmp"});
  ::close(held);
  std::vector<std::string> names;
  ASSERT_FALSE(ListDirectory(folder, names));
  EXPECT_EQ(names.size(), 6u);

  // A write locks its temporary file until the rename: a cleaner running meanwhile leaves it.
  ASSERT_TRUE(std::filesystem::remove(folder + "/.records.ini.99887766.tmp"));
  std::vector<std::string> seen;
  static std::vector<std::string>* gSeen = &seen;
  static std::string gFolder = folder;
  syscalls().fsync = [](int fd) {
    auto removed = RemoveStaleAtomicWriteFiles(gFolder);
    gSeen->insert(gSeen->end(), removed.begin(), removed.end());
    ResetSyscalls();
    return syscalls().fsync(fd);
  };
  EXPECT_FALSE(WriteFileAtomic(folder + "/records.ini", "new"));
  EXPECT_EQ(seen, std::vector<std::string>{});
  EXPECT_EQ(ReadTestFile(folder + "/records.ini"), "new");
}

// ---- Folders other users can write -----------------------------------------------------

// A folder like the system folder (0777, no sticky bit) and a file outside it that only its
// owner may write: whatever another user plants in the folder, writes never reach the file.
class SharedFolderTest : public FilesTest {
 protected:
  void SetUp() override {
    fs::create_directories(shared_);
    fs::permissions(shared_, fs::perms::all);
    WriteTestFile(outside_ + "/secret", "root only\n");
  }
  void Plant(const std::string& name, const std::string& target) {
    fs::create_symlink(target, shared_ + "/" + name);
  }
  void ExpectOutsideUntouched() {
    EXPECT_EQ(ReadTestFile(outside_ + "/secret"), "root only\n");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(outside_)) {
      names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::set<std::string>{"secret"});
  }

  std::string shared_ = sysroot_.path("opt/Nuvel");
  std::string outside_ = sysroot_.path("etc");
};

TEST_F(SharedFolderTest, NoWriteFollowsALinkPlantedInTheFolder) {
  const auto refused = std::errc::too_many_symbolic_link_levels;
  Plant("Nuvel_log.txt", outside_ + "/secret");
  Plant("new.txt", outside_ + "/created");  // dangling: must not be created either
  Plant("engine.luc", outside_ + "/secret");
  Plant("records.ini", outside_ + "/secret");
  Plant("sub", outside_);
  WriteTestFile(sysroot_.path("source.luc"), "messages");

  EXPECT_EQ(AppendToFile(shared_ + "/Nuvel_log.txt", "line\r\n"), refused);
  EXPECT_EQ(CreateTextFile(shared_ + "/new.txt"), refused);
  EXPECT_EQ(CreateEmptyFile(shared_ + "/Nuvel_log.txt"), refused);
  EXPECT_EQ(CopyFileContents(sysroot_.path("source.luc"), shared_ + "/engine.luc"), refused);
  EXPECT_EQ(WriteFileAtomic(shared_ + "/records.ini", "[Records]\r\n"), refused);
  EXPECT_TRUE(fs::is_symlink(shared_ + "/records.ini")) << "refused, not replaced";
  // A folder of the shared folder swapped for a link.
  EXPECT_EQ(AppendToFile(shared_ + "/sub/secret", "line\r\n"), refused);
  EXPECT_EQ(WriteFileAtomic(shared_ + "/sub/x.ini", "x"), refused);
  ExpectOutsideUntouched();

  // Links that only the folder's owner can make are followed as always.
  fs::create_directories(sysroot_.path("own"));
  fs::permissions(sysroot_.path("own"), fs::perms(0755));
  fs::create_symlink(shared_, sysroot_.path("own/nuvel"));
  fs::create_symlink(shared_ + "/log.txt", sysroot_.path("own/log.txt"));
  EXPECT_FALSE(AppendToFile(sysroot_.path("own/nuvel/a.txt"), "a"));
  EXPECT_FALSE(AppendToFile(sysroot_.path("own/log.txt"), "b"));
  EXPECT_EQ(ReadTestFile(shared_ + "/a.txt"), "a");
  EXPECT_EQ(ReadTestFile(shared_ + "/log.txt"), "b");
}

// What an attacker can still do: win the race between the checks and the open. Each case
// plants its link in the instant before the file is opened.
std::string gShared, gOutside;
Syscalls gRealTable;

TEST_F(SharedFolderTest, LinkPlantedJustBeforeTheOpenIsCaughtBeforeAnythingIsWritten) {
  gShared = shared_;
  gOutside = outside_;
  gRealTable = syscalls();
  fs::create_directories(shared_ + "/sub");
  WriteTestFile(shared_ + "/sub/secret", "ours\n");
  // The folder "sub" is swapped for a link to the outside folder.
  syscalls().open = [](const char* path, int flags, unsigned mode) {
    if (std::string_view(path).starts_with(gShared + "/sub/") && fs::is_directory(gShared + "/sub") &&
        !fs::is_symlink(gShared + "/sub")) {
      fs::rename(gShared + "/sub", gShared + "/sub.away");
      fs::create_symlink(gOutside, gShared + "/sub");
    }
    return gRealTable.open(path, flags, mode);
  };
  EXPECT_EQ(AppendToFile(shared_ + "/sub/secret", "line\r\n"),
            std::errc::too_many_symbolic_link_levels);
  EXPECT_EQ(ReadTestFile(outside_ + "/secret"), "root only\n");
  EXPECT_EQ(ReadTestFile(shared_ + "/sub.away/secret"), "ours\n");

  // An entry put at the temporary file's name: the update takes another name and succeeds.
  fs::remove(shared_ + "/sub");
  fs::rename(shared_ + "/sub.away", shared_ + "/sub");
  static int planted = 0;
  syscalls().open = [](const char* path, int flags, unsigned mode) {
    if (std::string_view(path).ends_with(".tmp") && planted++ == 0) {
      fs::create_symlink(gOutside + "/secret", path);
    }
    return gRealTable.open(path, flags, mode);
  };
  EXPECT_FALSE(WriteFileAtomic(shared_ + "/records.ini", "[Records]\r\n"));
  ResetSyscalls();
  EXPECT_EQ(planted, 2);
  EXPECT_EQ(ReadTestFile(shared_ + "/records.ini"), "[Records]\r\n");
  EXPECT_EQ(ReadTestFile(outside_ + "/secret"), "root only\n");
}

// ---- Update locks ----------------------------------------------------------------------

TEST_F(SharedFolderTest, UpdateLockExcludesOtherProcessesAndRefusesALinkInItsPlace) {
  const std::string file = shared_ + "/Records.ini";
  {
    FileUpdateLock lock(file);
    ASSERT_FALSE(lock.error()) << lock.error().message();
    EXPECT_TRUE(fs::is_regular_file(shared_ + "/.records.ini.lock"));
    // Another process (the flock tool) cannot take it meanwhile.
    std::string command = "flock -n -E 42 " + shared_ + "/.records.ini.lock true";
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 42);
    FileUpdateLock second(file, 50);
    EXPECT_EQ(second.error(), std::errc::timed_out);
  }
  EXPECT_FALSE(fs::exists(shared_ + "/.records.ini.lock")) << "removed as it is given up";
  FileUpdateLock again(file, 50);
  EXPECT_FALSE(again.error()) << "given up with the object";

  Plant(".other.ini.lock", outside_ + "/secret");
  FileUpdateLock planted(shared_ + "/other.ini", 50);
  EXPECT_EQ(planted.error(), std::errc::too_many_symbolic_link_levels);
  ExpectOutsideUntouched();
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

TEST_F(FilesTest, EntriesReportTheKindOfWhatLinksPointTo) {
  WriteTestFile(sysroot_.path("list/file.txt"), "x");
  fs::create_directories(sysroot_.path("list/folder"));
  fs::create_directory_symlink(sysroot_.path("list/folder"), sysroot_.path("list/to-folder"));
  fs::create_symlink(sysroot_.path("list/gone"), sysroot_.path("list/dangling"));

  std::vector<DirEntry> entries;
  ASSERT_FALSE(ListDirectoryEntries(sysroot_.path("list"), entries));
  std::map<std::string, bool> kinds;
  for (const auto& entry : entries) kinds[entry.name] = entry.is_directory;
  std::map<std::string, bool> expected = {
      {"file.txt", false}, {"folder", true}, {"to-folder", true}, {"dangling", false}};
  EXPECT_EQ(kinds, expected);

  EXPECT_TRUE(ListDirectoryEntries(sysroot_.path("missing"), entries));
  EXPECT_TRUE(entries.empty());
}

TEST_F(FilesTest, ModificationTimeRoundTripsAndOldTimesStayOld) {
  std::string path = sysroot_.path("dated.txt");
  WriteTestFile(path, "x");
  const std::int64_t k1975 = 173000000;  // 1975-06-26
  ASSERT_FALSE(SetModificationTime(path, k1975));
  FileTimes times;
  ASSERT_FALSE(GetFileTimes(path, times));
  EXPECT_EQ(times.modified, k1975);
  // A birth time, where the file system keeps one, is the creation and not the date set.
  if (times.created != 0) {
    EXPECT_GT(times.created, k1975);
  }
  EXPECT_TRUE(GetFileTimes(sysroot_.path("missing"), times));

  LocalTime local;
  ASSERT_TRUE(LocalTimeOf(k1975, local));
  EXPECT_EQ(local.year, 1975);
  EXPECT_EQ(local.month, 6);
}

TEST_F(FilesTest, LockUnlockTruncateAndReadability) {
  std::string path = sysroot_.path("locked.txt");
  WriteTestFile(path, "x");
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
  bool locked = false;
  ASSERT_FALSE(IsLocked(path, locked));
  EXPECT_TRUE(locked);
  ASSERT_FALSE(Unlock(path));
  ASSERT_FALSE(IsLocked(path, locked));
  EXPECT_FALSE(locked);
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_TRUE(IsLocked(sysroot_.path("missing"), locked));

  // An empty file is created or truncated; readability goes through the call table.
  ASSERT_FALSE(CreateEmptyFile(path));
  EXPECT_EQ(ReadTestFile(path), "");
  EXPECT_FALSE(CheckReadable(path));
  EXPECT_TRUE(CheckReadable(sysroot_.path("missing")));

  syscalls().open = [](const char*, int, unsigned) {
    errno = EACCES;
    return -1;
  };
  EXPECT_EQ(CheckReadable(path), std::errc::permission_denied);
  EXPECT_EQ(CreateEmptyFile(path), std::errc::permission_denied);
}

TEST_F(FilesTest, MoveTreeMovesEvenAcrossVolumesAndNeverReplaces) {
  WriteTestFile(sysroot_.path("from/a/b.txt"), "b");
  WriteTestFile(sysroot_.path("taken/keep.txt"), "keep");

  EXPECT_EQ(MoveTree(sysroot_.path("from"), sysroot_.path("taken")), std::errc::file_exists);
  EXPECT_EQ(ReadTestFile(sysroot_.path("from/a/b.txt")), "b");
  EXPECT_EQ(ReadTestFile(sysroot_.path("taken/keep.txt")), "keep");

  ASSERT_FALSE(MoveTree(sysroot_.path("from"), sysroot_.path("to")));
  EXPECT_FALSE(Exists(sysroot_.path("from")));
  EXPECT_EQ(ReadTestFile(sysroot_.path("to/a/b.txt")), "b");
  EXPECT_TRUE(MoveTree(sysroot_.path("from"), sysroot_.path("again")));

  // Across volumes the rename fails with EXDEV: the tree is copied, then removed.
  WriteTestFile(sysroot_.path("to/c.txt"), "c");
  syscalls().rename = [](const char*, const char*) {
    errno = EXDEV;
    return -1;
  };
  ASSERT_FALSE(MoveTree(sysroot_.path("to"), sysroot_.path("other")));
  EXPECT_FALSE(Exists(sysroot_.path("to")));
  EXPECT_EQ(ReadTestFile(sysroot_.path("other/a/b.txt")), "b");
  EXPECT_EQ(ReadTestFile(sysroot_.path("other/c.txt")), "c");
}

}  // namespace
}  // namespace nuvel::platform
