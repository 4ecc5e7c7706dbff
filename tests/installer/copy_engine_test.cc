#include "installer/copy_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/ascii.h"
#include "base/log.h"
#include "base/run_state.h"
#include "platform/copy.h"
#include "platform/files.h"
#include "platform/syscalls.h"
#include "tests/support/module_state.h"
#include "tests/support/fake_backend.h"
#include "tests/support/test_env.h"
#include "ui/status_box.h"

namespace nuvel::installer {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

class StoppableBackend : public ui::testing::FakeBackend {
 public:
  // One click on Stop is reported once, as the desktop reports it.
  bool StopRequested() override { return std::exchange(stop, false); }
  bool stop = false;
};

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

// Every partial file left anywhere below `root`.
std::vector<std::string> PartialFiles(const std::string& root) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (platform::IsPartialName(entry.path().filename().string())) found.push_back(entry.path());
  }
  return found;
}

void SetTimes(const std::string& path, long seconds, long nanoseconds) {
  const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

class CopyEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetState();
    auto backend = std::make_unique<StoppableBackend>();
    backend_ = backend.get();
    ui::SetBackend(std::move(backend));
  }
  void TearDown() override {
    platform::ResetSyscalls();
    ResetState();
  }
  static void ResetState() { nuvel::testing::ResetInstallerModules(); }

  // True when a line held for the log contains `text`.
  static bool Logged(const std::string& text) {
    return std::ranges::any_of(base::Log().held, [&](const auto& line) {
      return line.second.find(text) != std::string::npos;
    });
  }

  std::string Path(const std::string& relative) const { return sysroot_.path(relative); }

  TestSysroot sysroot_;
  StoppableBackend* backend_ = nullptr;
};

// ---- Single files ------------------------------------------------------------------------

// A file copied onto itself is left alone. A destination is replaced even when newer or locked;
// a missing source fails without touching the destination.
TEST_F(CopyEngineTest, SingleFileCopyReplacesTheDestinationButNeverItself) {
  std::string file = Path("src/nuvel.ini");
  WriteTestFile(file, "fix_level=7\r\n");
  SetTimes(file, 1000000000, 123456789);
  const ino_t inode = StatOf(file).st_ino;
  EXPECT_EQ(DuplicateMyFile(file, file, 0), 1);
  // Another spelling of the same path is still the same file.
  EXPECT_EQ(DuplicateMyFile(Path("src/../src/nuvel.ini"), file, 0), 1);
  EXPECT_EQ(XcopyFilesWithScrollBar(file, file, 0, 0, ""), 0);
  EXPECT_EQ(ReadTestFile(file), "fix_level=7\r\n");
  EXPECT_EQ(StatOf(file).st_ino, inode) << "the file was replaced instead of left alone";
  EXPECT_EQ(StatOf(file).st_mtim.tv_nsec, 123456789) << "its times were touched";
  EXPECT_TRUE(PartialFiles(Path("src")).empty());

  std::string to = Path("dst/nuvel.ini");
  WriteTestFile(to, "a newer file that is longer than the source\r\n");
  ASSERT_EQ(::chmod(to.c_str(), 0444), 0);
  EXPECT_EQ(CopyMyFile("nuvel.ini", Path("src/"), Path("dst/"), 0), 1);
  EXPECT_EQ(ReadTestFile(to), "fix_level=7\r\n");
  EXPECT_EQ(StatOf(to).st_mtim.tv_sec, 1000000000);

  EXPECT_EQ(DuplicateMyFile(Path("src/missing.txt"), to, 0), 0);
  EXPECT_EQ(ReadTestFile(to), "fix_level=7\r\n");
  EXPECT_NE(XcopyFilesWithScrollBar(Path("src/missing"), Path("dst/copy"), 0, 0, ""), 0);
  EXPECT_FALSE(platform::Exists(Path("dst/copy")));
}

// ---- Metadata --------------------------------------------------------------------------

TEST_F(CopyEngineTest, PermissionsTimesAndLinksAreKept) {
  WriteTestFile(Path("src/bin/run"), "#!/bin/sh\n");
  WriteTestFile(Path("src/bin/notes.txt"), "notes");
  ASSERT_EQ(::chmod(Path("src/bin/run").c_str(), 0750), 0);
  ASSERT_EQ(::symlink("notes.txt", Path("src/bin/latest").c_str()), 0);
  SetTimes(Path("src/bin/run"), 1234567890, 987654321);
  SetTimes(Path("src/bin/latest"), 1100000000, 5);
  ASSERT_EQ(::chmod(Path("src/bin").c_str(), 0751), 0);
  SetTimes(Path("src/bin"), 1200000000, 42);

  ASSERT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst"), 0, 0, ".EXE"), 0);

  struct stat run = StatOf(Path("dst/bin/run"));
  EXPECT_EQ(run.st_mode & 07777, 0750u);
  EXPECT_EQ(run.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(run.st_mtim.tv_nsec, 987654321) << "modification time lost its nanoseconds";

  struct stat link = StatOf(Path("dst/bin/latest"));
  ASSERT_TRUE(S_ISLNK(link.st_mode)) << "a link was copied as what it points to";
  EXPECT_EQ(fs::read_symlink(Path("dst/bin/latest")).string(), "notes.txt");
  EXPECT_EQ(link.st_mtim.tv_sec, 1100000000);

  // A folder gets its times after its contents are written, so they stick.
  struct stat folder = StatOf(Path("dst/bin"));
  EXPECT_EQ(folder.st_mode & 07777, 0751u);
  EXPECT_EQ(folder.st_mtim.tv_sec, 1200000000);
  EXPECT_EQ(folder.st_mtim.tv_nsec, 42);

  // A link given as the source is resolved; only links inside the tree stay links.
  ASSERT_EQ(::symlink(Path("src").c_str(), Path("source-link").c_str()), 0);
  ASSERT_EQ(XcopyFilesWithScrollBar(Path("source-link"), Path("dst2"), 0, 0, ""), 0);
  EXPECT_TRUE(S_ISDIR(StatOf(Path("dst2")).st_mode));
  EXPECT_EQ(ReadTestFile(Path("dst2/bin/notes.txt")), "notes");
}

TEST_F(CopyEngineTest, ExtendedAttributesAreKept) {
  std::string from = Path("src/audio.mp3");
  WriteTestFile(from, "ID3");
  if (::setxattr(from.c_str(), "user.nuvel.note", "lesson 4", 8, 0) != 0) {
    if (errno == ENOTSUP) GTEST_SKIP() << "the test folder's file system has no user attributes";
    FAIL() << "setxattr: " << std::strerror(errno);
  }
  ASSERT_EQ(DuplicateMyFile(from, Path("dst/audio.mp3"), 0), 1);
  char read_back[64] = {};
  ssize_t size =
      ::getxattr(Path("dst/audio.mp3").c_str(), "user.nuvel.note", read_back, sizeof read_back);
  EXPECT_EQ(std::string(read_back, size > 0 ? size : 0), "lesson 4") << "attribute not copied";
}

// ---- What is copied ----------------------------------------------------------------------

TEST_F(CopyEngineTest, DesktopFilesAndSrFilesAreNeverCopied) {
  // The rule looks at the path below the copy's source: a source folder whose own name holds
  // ".sr" still has its files copied.
  std::string src = Path("course.srv");
  WriteTestFile(src + "/.DS_Store", "x");
  WriteTestFile(src + "/COM/voice.sr", "x");
  WriteTestFile(src + "/models.Sr/inner.txt", "x");
  WriteTestFile(src + "/COM/lesson.txt", "l");

  ASSERT_EQ(XcopyFilesWithScrollBar(src, Path("dst"), 0, 0, ""), 0);
  EXPECT_EQ(ReadTestFile(Path("dst/COM/lesson.txt")), "l");
  for (const char* excluded : {"dst/.DS_Store", "dst/COM/voice.sr", "dst/models.Sr"}) {
    EXPECT_FALSE(platform::Exists(Path(excluded))) << excluded << " was copied";
  }
}

// A destination inside the source, or a tree larger than the free space, is refused before
// anything is written.
TEST_F(CopyEngineTest, PreflightRefusesADestinationInsideTheSourceOrWithoutRoom) {
  WriteTestFile(Path("src/a.txt"), "a");
  WriteTestFile(Path("src/sub/b.txt"), "b");
  ASSERT_EQ(::symlink(Path("src").c_str(), Path("alias").c_str()), 0);
  EXPECT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("src/sub/copy"), 0, 0, ""), kCopyIntoItself);
  EXPECT_FALSE(platform::Exists(Path("src/sub/copy")));
  // The same folder reached through a link is found by comparing canonical paths.
  EXPECT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("alias/copy"), 0, 0, ""), kCopyIntoItself);
  EXPECT_FALSE(platform::Exists(Path("src/copy")));
  EXPECT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("src"), 0, 0, ""), kCopyIntoItself);
  EXPECT_TRUE(Logged("Error 22 copying files from '" + Path("src") + "' to '"));
  // A sibling whose name merely starts like the source is not inside it.
  EXPECT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("src-copy"), 0, 0, ""), 0);
  EXPECT_EQ(ReadTestFile(Path("src-copy/sub/b.txt")), "b");

  WriteTestFile(Path("src/huge.bin"), "");
  std::error_code ec;
  // A sparse file whose size is far beyond any test machine's free space.
  fs::resize_file(Path("src/huge.bin"), std::uintmax_t{8} << 40, ec);
  if (ec) GTEST_SKIP() << "cannot make an 8 TB sparse file here: " << ec.message();
  EXPECT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst"), 0, 0, ""), kCopyNoRoom);
  EXPECT_FALSE(platform::Exists(Path("dst")));
}

// ---- Failures and interruptions ----------------------------------------------------------

// A disk that fills up: after gCallsLeft calls of the injected kind, every call fails.
int gCallsLeft = 0;
bool DiskFull() {
  if (gCallsLeft-- > 0) return false;
  errno = ENOSPC;
  return true;
}
long WriteUntilFull(int fd, const void* buf, std::size_t count) {
  return DiskFull() ? -1 : ::write(fd, buf, count);
}
long KernelCopyUntilFull(int in, int out, std::size_t count) {
  return DiskFull() ? -1 : ::copy_file_range(in, nullptr, out, nullptr, count, 0);
}
long KernelCopyUnsupported(int, int, std::size_t) {
  errno = EXDEV;
  return -1;
}

std::string Pattern(char seed, std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(seed + i * 7 % 251);
  return data;
}

bool BusyMarked(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && st.st_mtim.tv_sec == platform::kBusyTime &&
         st.st_mtim.tv_nsec == 0;
}

// Parameters: data copied inside the kernel (else through the buffer); an earlier copy of one
// file is in the destination (so that file is replaced through its partial file, the others are
// written under their names).
class CopyDiskFullTest : public CopyEngineTest,
                         public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(CopyDiskFullTest, LeavesNoTruncatedFileBehind) {
  auto [kernel_copy, earlier_copy] = GetParam();
  const std::size_t size = (5u << 20) / 2;  // several buffered writes per file
  const std::string earlier = "the earlier, complete copy";
  for (char name : {'a', 'b', 'c'}) WriteTestFile(Path("src/") + name, Pattern(name, size));
  if (earlier_copy) WriteTestFile(Path("dst/b"), earlier);
  if (kernel_copy) {
    gCallsLeft = 1;  // the first file takes one call: its data (its size is known beforehand)
    platform::syscalls().copy_file_range = KernelCopyUntilFull;
  } else {
    gCallsLeft = 4;  // the second file fails after its first write
    platform::syscalls().copy_file_range = KernelCopyUnsupported;
    platform::syscalls().write = WriteUntilFull;
  }
  EXPECT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst"), 0, 0, ""), ENOSPC);
  platform::ResetSyscalls();

  int complete = 0;
  for (char name : {'a', 'b', 'c'}) {
    std::string copy = Path("dst/") + name;
    if (!platform::Exists(copy)) continue;
    EXPECT_FALSE(BusyMarked(copy)) << name;
    if (earlier_copy && name == 'b' && ReadTestFile(copy) == earlier) continue;
    EXPECT_EQ(ReadTestFile(copy), Pattern(name, size)) << name << " is truncated";
    ++complete;
  }
  EXPECT_TRUE(!earlier_copy || platform::Exists(Path("dst/b"))) << "the earlier copy is lost";
  EXPECT_EQ(complete, 1) << "exactly the file copied before the disk filled up is complete";
  EXPECT_TRUE(PartialFiles(Path("dst")).empty());
  EXPECT_TRUE(
      Logged("Error 28 copying files from '" + Path("src") + "' to '" + Path("dst") + "'."));
}

INSTANTIATE_TEST_SUITE_P(KernelAndBufferedCopy, CopyDiskFullTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

// While a new file is written it carries the busy mark under its own name.
std::string gWatched;
bool gWatchedBusy = false;
long WriteWatchingTheMark(int fd, const void* buf, std::size_t count) {
  gWatchedBusy = BusyMarked(gWatched);
  return ::write(fd, buf, count);
}

TEST_F(CopyEngineTest, FileBeingWrittenCarriesTheBusyMark) {
  WriteTestFile(Path("src/a.bin"), Pattern('a', 1000));
  SetTimes(Path("src/a.bin"), 1200000000, 5);
  gWatched = Path("dst/a.bin");
  platform::syscalls().copy_file_range = KernelCopyUnsupported;
  platform::syscalls().write = WriteWatchingTheMark;
  ASSERT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst"), 0, 0, ""), 0);
  platform::ResetSyscalls();
  EXPECT_TRUE(gWatchedBusy);
  EXPECT_EQ(StatOf(gWatched).st_mtim.tv_sec, 1200000000) << "the mark outlived the copy";
}

TEST_F(CopyEngineTest, FilesOfAnInterruptedCopyAreRemoved) {
  WriteTestFile(Path("src/a.txt"), "fresh");
  WriteTestFile(Path("src/sub/y.txt"), "y");
  WriteTestFile(Path("src/kept.txt"), "kept");
  WriteTestFile(Path("dst/kept.txt"), "cut");  // busy-marked: replaced by the source's file
  SetTimes(Path("dst/kept.txt"), platform::kBusyTime, 0);
  WriteTestFile(Path("dst/sub/gone.bin"), "cut, and no longer in the source");
  SetTimes(Path("dst/sub/gone.bin"), platform::kBusyTime, 0);
  WriteTestFile(Path("dst/sub/old.txt"), "an old file, not busy");
  SetTimes(Path("dst/sub/old.txt"), platform::kBusyTime, 1);
  WriteTestFile(Path("src/.left.txt.nuvel-partial"), "an interrupted copy inside the source");
  WriteTestFile(Path("dst/.a.txt.nuvel-partial"), "half of a");
  WriteTestFile(Path("dst/sub/.y.txt.nuvel-partial"), "half of y");

  ASSERT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst"), 0, 0, ""), 0);
  EXPECT_EQ(ReadTestFile(Path("dst/a.txt")), "fresh");
  EXPECT_EQ(ReadTestFile(Path("dst/sub/y.txt")), "y");
  EXPECT_EQ(ReadTestFile(Path("dst/kept.txt")), "kept");
  EXPECT_FALSE(platform::Exists(Path("dst/sub/gone.bin")));
  EXPECT_TRUE(platform::Exists(Path("dst/sub/old.txt")));
  EXPECT_TRUE(PartialFiles(Path("dst")).empty());
  EXPECT_TRUE(Logged("Removed the file of an interrupted copy: " + Path("dst/sub/gone.bin")));
}

// Stop is asked about (Continue / Cancel); Cancel ends the copy between two files, Continue
// lets it finish. A quit ends it without asking.
TEST_F(CopyEngineTest, StopRequestEndsTheCopyBetweenFilesWhenConfirmed) {
  WriteTestFile(Path("src/a.txt"), "a");
  WriteTestFile(Path("src/b.txt"), "b");
  backend_->answer = [](ui::Dialog&) { return 2; };
  backend_->stop = true;
  EXPECT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst"), 0, 0, ""), kCopyStopped);
  EXPECT_EQ(CopyEngine().Cmd_Period, 1);
  EXPECT_FALSE(platform::Exists(Path("dst/a.txt")));
  ASSERT_EQ(backend_->shown.size(), 1u);
  EXPECT_EQ(backend_->shown[0].id, "MSG_Message_FilesBeingCopied");

  // The status box steps aside for the question and comes back after Continue.
  backend_->answer = [](ui::Dialog&) { return 1; };
  backend_->stop = true;
  ui::StatusBoxCreate();
  backend_->events.clear();
  EXPECT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst1"), 0, 0, ""), 0);
  EXPECT_EQ(backend_->shown.size(), 2u) << "Stop is asked about once per click";
  ASSERT_GE(backend_->events.size(), 2u);
  EXPECT_EQ(backend_->events[0], "hide");
  EXPECT_EQ(backend_->events[1].substr(0, 4), "show");
  EXPECT_TRUE(backend_->status_shown);
  EXPECT_EQ(ReadTestFile(Path("dst1/b.txt")), "b");
  EXPECT_EQ(CopyEngine().Cmd_Period, 0);

  base::Run().quitFlag = 1;
  EXPECT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst2"), 0, 0, ""), kCopyStopped);
  EXPECT_FALSE(platform::Exists(Path("dst2/a.txt")));
  base::Run().quitFlag = 0;
  EXPECT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst2"), 0, 0, ""), 0);
  EXPECT_EQ(CopyEngine().Cmd_Period, 0) << "a new copy starts with the stop flag cleared";
}

// With the copy key a registered file is not copied again; a failed copy is not registered.
TEST_F(CopyEngineTest, CopyKeySkipsFilesAlreadyCopied) {
  std::string src = Path("NUVEL/CONTENT/001ENG50/COM");
  std::string dst = Path("inst/content/001ENG50/COM");
  WriteTestFile(src + "/a.txt", "first");
  platform::syscalls().copy_file_range = KernelCopyUnsupported;
  platform::syscalls().write = WriteUntilFull;
  gCallsLeft = 0;
  EXPECT_EQ(XcopyFilesWithScrollBar(src, dst, 0, 1, ".MUL"), ENOSPC);
  platform::ResetSyscalls();
  ASSERT_EQ(XcopyFilesWithScrollBar(src, dst, 0, 1, ".MUL"), 0);
  EXPECT_EQ(ReadTestFile(dst + "/a.txt"), "first") << "the retry skipped the failed file";

  WriteTestFile(src + "/a.txt", "second");
  ASSERT_EQ(XcopyFilesWithScrollBar(src, dst, 0, 1, ".MUL"), 0);
  EXPECT_EQ(ReadTestFile(dst + "/a.txt"), "first") << "a registered file was copied again";
  ASSERT_EQ(XcopyFilesWithScrollBar(src, dst, 0, 0, ".MUL"), 0);
  EXPECT_EQ(ReadTestFile(dst + "/a.txt"), "second") << "without the key every file is copied";
}

// ---- Progress ----------------------------------------------------------------------------

// A placeholder total (kCyclingBarTotal) makes a cycling bar that counts items.
TEST_F(CopyEngineTest, ProgressShowsEachItemAndCountsBytesOrItems) {
  WriteTestFile(Path("src/COM/lesson01/audio.mp3"), std::string(3000, 'a'));
  WriteTestFile(Path("src/COM/lesson01/text.txt"), std::string(500, 't'));
  ui::StatusBoxCreate();
  CopyEngine().gBytesToTransfer = 3500;
  setupProgressBar(1);
  ASSERT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst"), 1, 0, ""), 0);
  EXPECT_EQ(CopyEngine().gBytesTransferred, 3500u);
  EXPECT_EQ(ui::StatusBox().box.progress, 3499.0 / 3500.0) << "the bar showed its maximum";
  std::set<std::string> items_shown;
  for (const std::string& event : backend_->events) {
    if (event.find("Copying files...") != std::string::npos) {
      items_shown.insert(event.substr(event.find_last_of('/') + 1));
    }
  }
  EXPECT_EQ(items_shown, (std::set<std::string>{"audio.mp3", "text.txt"}));

  WriteTestFile(Path("src/COM/third.txt"), "3");
  CopyEngine().gBytesToTransfer = kCyclingBarTotal;
  CopyEngine().gBytesTransferred = kCyclingBarTotal - 2;
  setupProgressBar(1);
  ASSERT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst2"), 0, 0, ""), 0);
  EXPECT_EQ(CopyEngine().gBytesTransferred, 1u) << "399, then 400 restarts at 0, then 1";
}

TEST_F(CopyEngineTest, BarNeverShowsItsMaximum) {
  CopyEngineState& state = CopyEngine();
  ui::StatusBoxCreate();
  state.gBytesToTransfer = 10;
  setupProgressBar(1);
  EXPECT_EQ(ui::StatusBox().box.progress, 0.0);
  const std::pair<std::uint64_t, double> cases[] = {{0, 0.1}, {8, 0.9}, {9, 0.9}, {500, 0.9}};
  for (auto [done, shown] : cases) {
    state.gBytesTransferred = done;
    updateProgressBar();
    EXPECT_DOUBLE_EQ(ui::StatusBox().box.progress, shown) << done << " of 10";
  }

  // An overall run counts against its own total and adds the done count of earlier steps.
  ui::StatusBox().Status_Bar = 2;
  state.Status_Bar_Tot = 100;
  state.Status_Bar_Cnt = 30;
  setupProgressBar(1);
  EXPECT_EQ(state.Status_Bar_Cnt, 0) << "a new overall bar starts its count again";
  state.Status_Bar_Cnt = 50;
  state.gBytesTransferred = 10;
  updateProgressBar();
  EXPECT_DOUBLE_EQ(ui::StatusBox().box.progress, 0.61);

  hideProgressBar();
  EXPECT_EQ(ui::StatusBox().box.progress, -1);
  state.gBytesTransferred = 1;
  updateProgressBar();
  EXPECT_EQ(ui::StatusBox().box.progress, -1) << "a hidden bar came back";
}

// ---- The copy registry -------------------------------------------------------------------

// Keys are kept upper-cased, for one course folder at a time.
TEST_F(CopyEngineTest, CopyRegistryAnswersZeroThenOneWithoutRegardToCaseForOneCourse) {
  std::string key = "/Vol/Nuvel/content/001ENG50/COM/a.txt<>/opt/Nuvel/content/001ENG50/COM/a.txt";
  EXPECT_EQ(isFileCopied(key), 0);
  EXPECT_EQ(isFileCopied(key), 1);
  EXPECT_EQ(isFileCopied(base::UpperAscii(key)), 1);
  EXPECT_EQ(isFileCopied("/vol/nuvel/content/001eng50/com/b.txt"), 0);
  EXPECT_EQ(clearCopyPath(key), 1);
  EXPECT_EQ(clearCopyPath(key), 0);
  EXPECT_EQ(isFileCopied(key), 0) << "a cleared key is unknown again";

  EXPECT_EQ(isFileCopied("/no/course/in/this/path"), 0);
  EXPECT_EQ(isFileCopied(key), 1) << "a key without a course folder keeps the registry";
  EXPECT_EQ(isFileCopied("/src/NUVEL/CONTENT/002FRA50/COM/a.txt"), 0);
  EXPECT_EQ(isFileCopied(key), 0) << "the registry still held the other course's files";
}

TEST_F(CopyEngineTest, CopyRegistryHoldsAtMost8000KeysInOrder) {
  for (int i = 7999; i >= 0; --i) {
    ASSERT_EQ(isFileCopied("/NUVEL/CONTENT/001ENG50/f" + std::to_string(10000 + i)), 0);
  }
  const auto& keys = CopyEngine().copyPath;
  EXPECT_EQ(keys.size(), kMaxCopyRegistry);
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  EXPECT_EQ(isFileCopied("/NUVEL/CONTENT/001ENG50/extra"), 0);
  EXPECT_EQ(isFileCopied("/NUVEL/CONTENT/001ENG50/extra"), 0) << "a full registry grew";
  EXPECT_EQ(isFileCopied("/NUVEL/CONTENT/001ENG50/f10000"), 1);
  EXPECT_EQ(isFileCopied("/NUVEL/CONTENT/001ENG50/f17999"), 1);
  clearAllCopyPath();
  EXPECT_TRUE(CopyEngine().copyPath.empty());
}

// ---- File operations ---------------------------------------------------------------------

// Swaps gSwapFolder for a link to gSwapTarget (the folder moved aside) at the first kernel copy.
std::string gSwapFolder;
std::string gSwapTarget;
long SwapFolderOnFirstCopy(int in, int out, std::size_t count) {
  if (!gSwapFolder.empty()) {
    fs::rename(gSwapFolder, gSwapFolder + ".moved");
    fs::create_directory_symlink(gSwapTarget, gSwapFolder);
    gSwapFolder.clear();
  }
  return ::copy_file_range(in, nullptr, out, nullptr, count, 0);
}

// Links planted where a copy needs a folder, at its destination and below it, are replaced by
// real folders and nothing is written where they point; a link the copy itself made is not
// written through by a later copy either. The folders above the destination are followed.
TEST_F(CopyEngineTest, PlantedFolderLinksAreReplacedNotFollowed) {
  WriteTestFile(Path("src/a.txt"), "a");
  WriteTestFile(Path("src/COM/b.txt"), "b");
  WriteTestFile(Path("src/COM/deep/c.txt"), "c");
  fs::create_directories(Path("outside"));
  fs::create_directories(Path("dst/sub"));
  ASSERT_EQ(::symlink(Path("outside").c_str(), Path("dst/course").c_str()), 0);
  ASSERT_EQ(::symlink(Path("outside").c_str(), Path("dst/sub/COM").c_str()), 0);
  fs::create_directories(Path("links"));
  ASSERT_EQ(::symlink("../outside", Path("links/COM").c_str()), 0);
  ASSERT_EQ(XcopyFilesWithScrollBar(Path("links"), Path("dst/own"), 0, 0, ""), 0);
  ASSERT_TRUE(S_ISLNK(StatOf(Path("dst/own/COM")).st_mode)) << "a source link is copied as one";

  for (const char* to : {"dst/course", "dst/sub", "dst/own"}) {
    ASSERT_EQ(XcopyFilesWithScrollBar(Path("src"), Path(to), 0, 0, ""), 0) << to;
    EXPECT_TRUE(S_ISDIR(StatOf(Path(to)).st_mode)) << to;
    EXPECT_TRUE(S_ISDIR(StatOf(Path(to) + "/COM").st_mode)) << to;
    EXPECT_EQ(ReadTestFile(Path(to) + "/COM/deep/c.txt"), "c") << to;
  }
  EXPECT_TRUE(fs::is_empty(Path("outside"))) << "a copy wrote through a planted link";
  EXPECT_TRUE(Logged("a real folder replaces it"));

  fs::create_directories(Path("disk"));
  ASSERT_EQ(::symlink(Path("disk").c_str(), Path("linked").c_str()), 0);
  ASSERT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("linked/course"), 0, 0, ""), 0);
  EXPECT_EQ(ReadTestFile(Path("disk/course/COM/b.txt")), "b");
}

// A destination folder swapped for a link while the copy runs does not redirect it: the copy
// goes on in the folder it opened.
TEST_F(CopyEngineTest, FolderSwappedForALinkDuringTheCopyDoesNotRedirectIt) {
  WriteTestFile(Path("src/COM/1.txt"), "1");
  WriteTestFile(Path("src/COM/2.txt"), "2");
  WriteTestFile(Path("src/COM/3.txt"), "3");
  fs::create_directories(Path("outside"));
  gSwapFolder = Path("dst/COM");
  gSwapTarget = Path("outside");
  platform::syscalls().copy_file_range = SwapFolderOnFirstCopy;
  ASSERT_EQ(XcopyFilesWithScrollBar(Path("src"), Path("dst"), 0, 0, ""), 0);
  platform::ResetSyscalls();
  EXPECT_TRUE(fs::is_empty(Path("outside"))) << "the copy followed the swapped-in link";
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("dst/COM.moved")), {}), 3);
}

TEST_F(CopyEngineTest, DelTreeNeverFollowsLinksOutOfTheTree) {
  WriteTestFile(Path("outside/keep.txt"), "outside");
  WriteTestFile(Path("tree/a/b/c.txt"), "c");
  WriteTestFile(Path("tree/top.txt"), "t");
  ASSERT_EQ(::symlink(Path("outside").c_str(), Path("tree/a/to-folder").c_str()), 0);
  ASSERT_EQ(::symlink(Path("outside/keep.txt").c_str(), Path("tree/to-file").c_str()), 0);
  ASSERT_EQ(::chmod(Path("tree/a/b").c_str(), 0555), 0);

  EXPECT_EQ(DelTree(Path("tree")), 0);
  EXPECT_FALSE(platform::Exists(Path("tree")));
  EXPECT_EQ(ReadTestFile(Path("outside/keep.txt")), "outside");

  WriteTestFile(Path("other/x.txt"), "x");
  EXPECT_EQ(DelTree(Path("other/missing")), kNotFound);
  EXPECT_EQ(ReadTestFile(Path("other/x.txt")), "x");
  // The other file operations report a missing path apart from other failures too.
  EXPECT_EQ(RenameMyFile(Path("other/missing"), Path("other/y.txt")), kNotFound);
  EXPECT_EQ(DeleteMyDirectory(Path("other")), -1) << "a folder with files in it was removed";
  EXPECT_EQ(ReadTestFile(Path("other/x.txt")), "x");
}

}  // namespace
}  // namespace nuvel::installer
