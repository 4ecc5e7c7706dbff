#include "installer/copy_engine.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <string_view>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/run_state.h"
#include "installer/expand.h"
#include "platform/copy.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "platform/process.h"
#include "platform/run_reset.h"
#include "platform/volumes.h"
#include "ui/dialog.h"
#include "ui/run_report.h"
#include "ui/status_box.h"

namespace nuvel::installer {
namespace {

constexpr std::string_view kCourseMarker = "/NUVEL/CONTENT/";
constexpr std::size_t kCourseFolderLength = 8;
// Characters of an item's path shown on the status box's third line.
constexpr int kShownPathLength = 60;

int ResultOf(const std::error_code& ec) {
  if (!ec) return 0;
  return ec == std::errc::no_such_file_or_directory ? kNotFound : -1;
}

// The working form of a path handed to a copy: POSIX separators, no trailing "/".
std::string CopyPath(const std::string& path) {
  return platform::WithoutTrailingSlash(base::Convert_FileName(path, 2));
}

using platform::Join;

// Items the copy never writes: the desktop's folder-view files, ".SR" files, and our own
// partial files (an interrupted earlier copy inside the source).
bool Excluded(const std::string& relative, const std::string& name) {
  std::string upper = base::UpperAscii(relative);
  return upper.find(".DS_STORE") != std::string::npos || upper.find(".SR") != std::string::npos ||
         platform::IsPartialName(name);
}

// A pending quit signal is served here too (it ends the run), so that a copy without a status
// box to pump events still stops between two files. A click on Stop is asked about first: a
// long copy is not thrown away by a slip of the mouse.
bool StopWanted() {
  platform::ServiceQuitSignal();
  if (base::Run().quitFlag != 0) return true;
  return ui::CurrentBackend().StopRequested() && ui::StatusBoxAskToStop();
}

// One folder copy: the walk over the source with its filters, the registry and the progress.
class TreeCopy {
 public:
  TreeCopy(std::string src, std::string dst) : src_(std::move(src)), dst_(std::move(dst)) {}

  int Run() {
    platform::ObjectInfo info;
    if (auto ec = platform::Inspect(src_, info)) return ec.value();
    // The source itself is resolved when it is a link; links inside it are copied as links.
    if (info.kind == platform::ObjectKind::kSymlink) {
      if (auto ec = platform::CanonicalPath(src_, src_)) return ec.value();
      if (auto ec = platform::Inspect(src_, info)) return ec.value();
    }
    if (info.kind == platform::ObjectKind::kMissing) return ENOENT;
    // Another name of the same file: copying it onto itself would change nothing.
    if (info.kind != platform::ObjectKind::kDirectory && platform::SameObject(src_, dst_)) {
      return 0;
    }
    if (int refused = Preflight(info)) return refused;
    if (int error = MakeParentFolders()) return error;
    switch (info.kind) {
      case platform::ObjectKind::kDirectory:
        return CopyFolders();
      case platform::ObjectKind::kFile: {
        // The folder that holds a single file's destination is followed like any folder above
        // a copy's destination.
        platform::CopyFolder parent;
        std::string folder = platform::ParentFolder(dst_);
        if (auto ec = platform::OpenFolder(folder.empty() ? "." : folder, parent)) {
          return ec.value();
        }
        return CopyFile(src_, parent, platform::FileName(dst_));
      }
      default:
        return EINVAL;
    }
  }

 private:
  struct Pending {
    std::string from;
    std::string name;         // its name in the destination folder of `parent`
    std::string relative;     // below the copy's source, "" for the source itself
    std::size_t parent = 0;   // index on the stack of the folder it is copied into
    bool entered = false;     // its items are done or pending above it on the stack
    platform::CopyFolder to;  // the destination folder, open once entered
  };

  // The folders that lead to the destination are made as needed.
  int MakeParentFolders() const {
    std::string parent = platform::ParentFolder(dst_);
    if (parent.empty() || parent == "/") return 0;
    return platform::MakeDirectories(parent).value();
  }

  // Refusals that must come before anything is written.
  int Preflight(const platform::ObjectInfo& info) {
    std::string to;
    if (auto ec = platform::CanonicalPath(dst_, to)) return ec.value();
    if (info.kind == platform::ObjectKind::kDirectory) {
      std::string from;
      if (auto ec = platform::CanonicalPath(src_, from)) return ec.value();
      if (platform::IsWithin(to, from)) {
        base::WriteLogf(0, "Copy refused: '%s' lies inside '%s'.", dst_.c_str(), src_.c_str());
        return kCopyIntoItself;
      }
    }
    std::uint64_t needed = 0;
    if (int error = TreeSize(info, needed)) return error;
    std::uint64_t room = 0;
    if (auto ec = platform::FreeSpace(to, room)) return ec.value();
    if (needed > room) {
      base::WriteLogf(0, "Copy refused: %llu bytes needed, %llu available on the volume of '%s'.",
                      static_cast<unsigned long long>(needed),
                      static_cast<unsigned long long>(room), dst_.c_str());
      return kCopyNoRoom;
    }
    return 0;
  }

  // The bytes of every file the copy will write (64-bit), walking the tree as the copy will.
  int TreeSize(const platform::ObjectInfo& info, std::uint64_t& total) {
    total = info.size;
    if (info.kind != platform::ObjectKind::kDirectory) return 0;
    std::vector<std::pair<std::string, std::string>> pending{{src_, ""}};
    std::vector<platform::TreeEntry> entries;
    while (!pending.empty()) {
      auto [folder, relative] = std::move(pending.back());
      pending.pop_back();
      if (auto ec = platform::ListTreeEntries(folder, entries, true)) return ec.value();
      for (const platform::TreeEntry& entry : entries) {
        std::string child_relative = relative + "/" + entry.name;
        if (Excluded(child_relative, entry.name)) continue;
        if (entry.kind == platform::ObjectKind::kDirectory) {
          pending.emplace_back(Join(folder, entry.name), child_relative);
        } else {
          total += entry.size;
        }
      }
    }
    return 0;
  }

  // Folders level by level from an explicit list of pending folders: a folder's attributes are
  // set once everything below it is written, when it comes back to the top of the list. Each
  // destination folder is opened from its parent's descriptor when its turn comes and held
  // open while the folders below it are copied (as many descriptors as the tree is deep).
  int CopyFolders() {
    std::vector<Pending> stack;
    stack.push_back({src_, "", "", 0, false, {}});
    std::vector<platform::TreeEntry> entries;
    while (!stack.empty()) {
      if (stack.back().entered) {
        // The destination folder itself keeps the mode it had (an installation folder that all
        // users write into must not take the mode of the source's folder); everything the copy
        // made or fills below it takes the source's.
        const Pending& done = stack.back();
        if (!(done.relative.empty() && !done.to.created() && !done.to.replaced_link())) {
          if (auto ec = platform::CopyFolderAttributes(done.from, done.to)) return ec.value();
        }
        stack.pop_back();
        continue;
      }
      const std::size_t index = stack.size() - 1;
      stack.back().entered = true;
      std::error_code opened =
          index == 0 ? platform::OpenCopyDestination(dst_, stack.back().to)
                     : platform::OpenCopySubfolder(stack[stack.back().parent].to, stack.back().name,
                                                   stack.back().to);
      if (opened) return opened.value();
      if (stack.back().to.replaced_link()) {
        base::WriteLogf(0, "A link stood where the folder '%s' belongs; a real folder replaces it.",
                        stack.back().to.path().c_str());
      }
      if (!stack.back().to.created()) RemoveInterruptedCopies(stack.back().to);
      const std::string from = stack.back().from;
      const std::string relative = stack.back().relative;
      if (auto ec = platform::ListTreeEntries(from, entries)) return ec.value();
      for (const platform::TreeEntry& entry : entries) {
        if (StopWanted()) {
          CopyEngine().Cmd_Period = 1;
          return kCopyStopped;
        }
        std::string child_relative = relative + "/" + entry.name;
        if (Excluded(child_relative, entry.name)) continue;
        std::string child = Join(from, entry.name);
        int error = 0;
        switch (entry.kind) {
          case platform::ObjectKind::kDirectory:
            stack.push_back(
                {std::move(child), entry.name, std::move(child_relative), index, false, {}});
            break;
          case platform::ObjectKind::kFile:
            error = CopyFile(child, stack[index].to, entry.name);
            break;
          case platform::ObjectKind::kSymlink:
            error = CopyLink(child, stack[index].to, entry.name);
            break;
          default:
            base::WriteLogf(2, "Not copied (not a file, folder or link): %s", child.c_str());
            break;
        }
        if (error) return error;
      }
    }
    return 0;
  }

  // An interrupted earlier copy may have left partial or busy-marked files in a folder that
  // already existed.
  static void RemoveInterruptedCopies(const platform::CopyFolder& folder) {
    std::vector<std::string> removed;
    platform::RemoveInterruptedCopies(folder, removed);
    for (const std::string& path : removed) {
      base::WriteLogf(2, "Removed the file of an interrupted copy: %s", path.c_str());
    }
  }

  // True when the registry is in use and already holds this item; otherwise the item is now
  // registered and `key` is set so that a failed copy can take it out again.
  static bool AlreadyCopied(const std::string& from, const platform::CopyFolder& folder,
                            const std::string& name, std::string& key) {
    if (CopyEngine().gCompareFileFlag == 0) return false;
    std::string candidate = from + "<>" + Join(folder.path(), name);
    if (isFileCopied(candidate)) return true;
    key = std::move(candidate);
    return false;
  }

  static void ShowItem(const std::string& from) {
    if (!ui::GetStatusBoxVisible()) return;
    std::string shown = GetCompressedFilePath(kShownPathLength, from);
    ui::StatusBoxUpdate("MSG_Message_FilesBeingCopied", nullptr, shown.c_str());
  }

  // Counts bytes against the bar, or one item when the bar's maximum is the placeholder.
  static void CountBytes(std::uint64_t bytes) {
    CopyEngineState& state = CopyEngine();
    if (state.gBytesToTransfer == kCyclingBarTotal) return;
    state.gBytesTransferred += bytes;
    if (ui::GetStatusBoxVisible()) updateProgressBar();
  }

  static void CountItem() {
    CopyEngineState& state = CopyEngine();
    if (state.gBytesToTransfer != kCyclingBarTotal) return;
    if (++state.gBytesTransferred >= kCyclingBarTotal) state.gBytesTransferred = 0;
    if (ui::GetStatusBoxVisible()) updateProgressBar();
  }

  static int Finish(const std::error_code& ec, const std::string& key) {
    if (ec && !key.empty()) clearCopyPath(key);
    if (!ec) CountItem();
    return ec.value();
  }

  int CopyFile(const std::string& from, const platform::CopyFolder& folder,
               const std::string& name) {
    std::string key;
    if (AlreadyCopied(from, folder, name, key)) return 0;
    ShowItem(from);
    return Finish(platform::CopyRegularFile(from, folder, name, CountBytes), key);
  }

  int CopyLink(const std::string& from, const platform::CopyFolder& folder,
               const std::string& name) {
    std::string key;
    if (AlreadyCopied(from, folder, name, key)) return 0;
    ShowItem(from);
    return Finish(platform::CopySymlink(from, folder, name), key);
  }

  std::string src_;
  std::string dst_;
};

// The folder-copy routine under both public copies; failures are logged here.
int CopyObject(const std::string& src, const std::string& dst) {
  int result = 0;
  if (src.size() >= kMaxCopyPath || dst.size() >= kMaxCopyPath) {
    result = kCopyPathTooLong;
  } else {
    result = TreeCopy(src, dst).Run();
  }
  if (result != 0) {
    base::WriteLogf(0, "Error %d copying files from '%s' to '%s'.", result, src.c_str(),
                    dst.c_str());
  }
  return result;
}

// The 8-character course folder named by an upper-cased key, or "" when it names none.
std::string CourseOf(const std::string& upper_key) {
  auto at = upper_key.find(kCourseMarker);
  if (at == std::string::npos) return "";
  return upper_key.substr(at + kCourseMarker.size(), kCourseFolderLength);
}

}  // namespace

CopyEngineState& CopyEngine() {
  static CopyEngineState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("installer::CopyEngine", [] { state.reset(); });
  return state;
}

int XcopyFilesWithScrollBar(const std::string& src, const std::string& dst, int refreshBar,
                            int compareFlag, const std::string& extension) {
  (void)extension;
  CopyEngineState& state = CopyEngine();
  state.Cmd_Period = 0;
  int saved_flag = state.gCompareFileFlag;
  state.gCompareFileFlag = compareFlag;
  if (refreshBar == 1) updateProgressBar();
  int result = CopyObject(CopyPath(src), CopyPath(dst));
  CopyEngine().gCompareFileFlag = saved_flag;
  return result;
}

int CopyMyFile(const std::string& name, const std::string& fromDir, const std::string& toDir,
               int overwrite) {
  (void)overwrite;
  return DuplicateMyFile(fromDir + name, toDir + name, 0);
}

int DuplicateMyFile(const std::string& src, const std::string& dst, int flags) {
  (void)flags;
  std::string from = CopyPath(src);
  std::string to = CopyPath(dst);
  platform::ObjectInfo info;
  if (platform::Inspect(from, info) || info.kind == platform::ObjectKind::kMissing) {
    base::WriteLogf(1, "DuplicateMyFile: no file '%s'", from.c_str());
    return 0;
  }
  if (from == to || platform::SameObject(from, to)) return 1;
  return CopyObject(from, to) == 0 ? 1 : 0;
}

int UnlockMyFile(const std::string& path) {
  return ResultOf(platform::SetLocked(CopyPath(path), false));
}

int LockMyFile(const std::string& path) {
  return ResultOf(platform::SetLocked(CopyPath(path), true));
}

int RenameMyFile(const std::string& from, const std::string& to) {
  return ResultOf(platform::RenameFile(CopyPath(from), CopyPath(to)));
}

int CreateMyDirectory(const std::string& path) {
  return ResultOf(platform::MakeDirectory(CopyPath(path)));
}

int DeleteMyDirectory(const std::string& path) {
  return ResultOf(platform::RemoveEmptyFolder(CopyPath(path)));
}

int DelTree(const std::string& path) {
  std::string tree = CopyPath(path);
  std::error_code ec = platform::RemoveTree(tree);
  if (ec && ec != std::errc::no_such_file_or_directory) {
    base::WriteLogf(0, "DelTree: could not remove all of '%s': %s", tree.c_str(),
                    ec.message().c_str());
  }
  return ResultOf(ec);
}

int isFileCopied(const std::string& key) {
  CopyEngineState& state = CopyEngine();
  std::string upper = base::UpperAscii(key);
  std::string course = CourseOf(upper);
  if (!course.empty() && course != state.copyCourse) {
    if (!state.copyCourse.empty()) clearAllCopyPath();
    state.copyCourse = course;
  }
  try {
    if (state.copyPath.capacity() == 0) state.copyPath.reserve(kMaxCopyRegistry);
  } catch (const std::bad_alloc&) {
    base::WriteLogf(0, "Out of memory in isFileCopied (1): %d",
                    static_cast<int>(state.copyPath.size()));
    return 0;
  }
  auto at = std::lower_bound(state.copyPath.begin(), state.copyPath.end(), upper);
  if (at != state.copyPath.end() && *at == upper) return 1;
  if (state.copyPath.size() >= kMaxCopyRegistry) return 0;
  try {
    state.copyPath.insert(at, std::move(upper));
  } catch (const std::bad_alloc&) {
    base::WriteLogf(0, "Out of memory in isFileCopied (2): %d",
                    static_cast<int>(state.copyPath.size()));
  }
  return 0;
}

int clearCopyPath(const std::string& key) {
  CopyEngineState& state = CopyEngine();
  std::string upper = base::UpperAscii(key);
  auto at = std::lower_bound(state.copyPath.begin(), state.copyPath.end(), upper);
  if (at == state.copyPath.end() || *at != upper) return 0;
  state.copyPath.erase(at);
  return 1;
}

void clearAllCopyPath() { std::vector<std::string>().swap(CopyEngine().copyPath); }

void GetCurrentDir() {
  base::Run().current_dir = platform::ApplicationFolder();
  base::WriteLogf(1, "Running Setup from: %s", base::Run().current_dir.c_str());
}

void setupProgressBar(int show) {
  CopyEngineState& state = CopyEngine();
  if (ui::StatusBox().Status_Bar == 2) {
    state.barMaximum = state.Status_Bar_Tot;
    state.Status_Bar_Cnt = 0;
  } else {
    state.barMaximum = static_cast<double>(state.gBytesToTransfer);
  }
  state.barExists = true;
  state.barValue = 0;
  if (show == 1) ui::StatusBoxProgress(0.0);
}

void updateProgressBar() {
  CopyEngineState& state = CopyEngine();
  if (!state.barExists) return;
  double value = static_cast<double>(state.gBytesTransferred);
  if (ui::StatusBox().Status_Bar == 2) value += state.Status_Bar_Cnt;
  double maximum = state.barMaximum;
  double shown = value + 1 < maximum ? value + 1 : maximum - 1;
  state.barValue = std::max(shown, 0.0);
  ui::StatusBoxProgress(maximum > 0 ? state.barValue / maximum : 0.0);
}

void hideProgressBar() {
  CopyEngineState& state = CopyEngine();
  // The bar stops one byte short of its end while it is shown; a copy that got there is whole.
  if (state.barExists && state.barMaximum > 0) {
    double value = static_cast<double>(state.gBytesTransferred);
    if (ui::StatusBox().Status_Bar == 2) value += state.Status_Bar_Cnt;
    if (value >= state.barMaximum) ui::ReportProgress(1.0, ui::StatusBox().box.text);
  }
  state.barExists = false;
  state.barValue = 0;
  ui::StatusBoxRemoveProgress();
}

}  // namespace nuvel::installer
