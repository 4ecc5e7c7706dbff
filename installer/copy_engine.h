// The copy engine: everything the installer puts on disk arrives through a recursive folder copy,
// a single-file copy, a few file-attribute operations, a registry of files already copied, and
// the progress bar of the status box.
//
// Copies keep permission bits, access and modification times (to the nanosecond) and extended
// attributes; symbolic links are copied as links. A file is written under a partial name beside
// its final one and renamed over it only once complete (platform/copy.h), so an interrupted or
// failed copy never leaves a truncated file under the real name, and an existing destination
// stays as it was until its replacement is complete. Copies stream: no file is ever held in
// memory, and the only memory that grows with the tree is the listing of the folder being
// copied and the list of folders still to copy.
//
// A copy writes into its destination folder and below it only through open folder descriptors
// (platform/copy.h): a link found where the copy needs a folder, at the destination itself or
// below it, is replaced by a real folder (and logged), and a folder swapped for a link during
// the copy cannot redirect it. Links copied from the source are replaced, never written
// through. The folders that lead to the destination are followed, links included, so that the
// installation folder or the folder of all courses may deliberately live on another disk.
//
// Results: XcopyFilesWithScrollBar gives 0 or the system's error number (the constants below
// name the ones it makes itself); CopyMyFile and DuplicateMyFile give 1 on success and 0 on
// failure; the other file operations give 0 on success, kNotFound when the path does not exist
// and -1 on any other failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace nuvel::installer {

/// The "file not found" result of the file operations (and of the zip extractor's errors).
inline constexpr int kNotFound = -43;

/// XcopyFilesWithScrollBar's own failures.
inline constexpr int kCopyStopped = static_cast<int>(std::errc::operation_canceled);
inline constexpr int kCopyNoRoom = static_cast<int>(std::errc::no_space_on_device);
inline constexpr int kCopyIntoItself = static_cast<int>(std::errc::invalid_argument);
inline constexpr int kCopyPathTooLong = static_cast<int>(std::errc::filename_too_long);

/// Paths handed to the folder copy are refused from this length on.
inline constexpr std::size_t kMaxCopyPath = 512;
/// The copy registry never holds more keys than this.
inline constexpr std::size_t kMaxCopyRegistry = 8000;
/// A bar maximum of this placeholder total marks a copy of unknown size: the bar counts items
/// and starts again at 0 when it is full.
inline constexpr std::uint64_t kCyclingBarTotal = 400;

struct CopyEngineState {
  // Progress counters.
  std::uint64_t gBytesToTransfer = 0;   // maximum of the bar
  std::uint64_t gBytesTransferred = 0;  // done so far
  double Status_Bar_Tot = 0;            // overall total while StatusBox().Status_Bar is 2
  double Status_Bar_Cnt = 0;            // overall done count
  std::uint64_t bytesToCopy = 0;        // size of a content copy whose space is being checked

  // The bar itself (the status box's indicator).
  bool barExists = false;
  double barMaximum = 0;
  double barValue = 0;  // the value last shown

  // The copy under way.
  int gCompareFileFlag = 0;  // non-zero: the copy registry is in use (the copy key)
  int Cmd_Period = 0;        // the user stopped the last copy

  // The copy registry: sorted upper-cased keys of one course.
  std::vector<std::string> copyPath;
  std::string copyCourse;  // the 8-character course folder after "/NUVEL/CONTENT/"

  void reset() { *this = CopyEngineState{}; }
};

CopyEngineState& CopyEngine();

// ---- Copies ---------------------------------------------------------------------------------

/// Copies the file or folder tree `src` to the path `dst` (a folder is merged into an existing
/// folder there; files in it are replaced; missing folders leading to `dst` are made). A link
/// given as `src` is resolved; links inside a folder are copied as links.
/// `refreshBar` 1 redraws the progress bar first; `compareFlag` is kept in gCompareFileFlag for the
/// call, and while it is non-zero every file or link whose "%s<>%s" key (source, destination) is
/// already in the copy registry is skipped; `extension` is accepted and not used. Cmd_Period is
/// cleared at the start.
///
/// Before anything is written the copy is refused when the destination volume lacks room for
/// the whole tree (kCopyNoRoom), when the destination is the source folder or lies inside it
/// (kCopyIntoItself, comparing canonical paths), or when a path is kMaxCopyPath bytes or longer
/// (kCopyPathTooLong). Items whose path below `src`, upper-cased, contains ".DS_STORE" or ".SR"
/// are never copied, nor are partial files; stale partial files in the destination folders are
/// removed. Between items the copy stops (kCopyStopped, Cmd_Period set) when the user asks to
/// stop or the run is quitting. While the status box is visible each item is shown under
/// MSG_Message_FilesBeingCopied with the last components of its path and the bar advances:
/// gBytesTransferred counts bytes, or items when the maximum is kCyclingBarTotal.
/// Any failure is logged as "Error %d copying files from '%s' to '%s'." and returned.
int XcopyFilesWithScrollBar(const std::string& src, const std::string& dst, int refreshBar,
                            int compareFlag, const std::string& extension);

/// DuplicateMyFile of `fromDir` + `name` to `toDir` + `name` (the folders end in "/").
/// `overwrite` is accepted and not consulted: the destination is always replaced.
int CopyMyFile(const std::string& name, const std::string& fromDir, const std::string& toDir,
               int overwrite);

/// Copies one file (or a folder tree) to the exact path `dst`, replacing an existing
/// destination even when it is newer. A missing source fails without touching the destination;
/// the same path (or another name of the same file) succeeds without copying. `flags` is
/// accepted and not consulted.
int DuplicateMyFile(const std::string& src, const std::string& dst, int flags);

// ---- File operations ------------------------------------------------------------------------

/// Clear / set the locked (read-only) state of a file or folder.
int UnlockMyFile(const std::string& path);
int LockMyFile(const std::string& path);

/// Renames (moves within one volume) a file or folder; an existing file at `to` is replaced.
int RenameMyFile(const std::string& from, const std::string& to);
/// Creates one folder; an existing folder is success, a missing parent is kNotFound.
int CreateMyDirectory(const std::string& path);
/// Removes one empty folder.
int DeleteMyDirectory(const std::string& path);
/// Removes a whole tree, deepest entries first, never following links out of it. A missing
/// path gives kNotFound and deletes nothing.
int DelTree(const std::string& path);

// ---- The copy registry ----------------------------------------------------------------------

/// 1 when the upper-cased `key` is in the registry; otherwise adds it (while the registry holds
/// fewer than kMaxCopyRegistry keys) and returns 0. The registry belongs to one course: a key
/// whose path names another course folder after "/NUVEL/CONTENT/" empties it first.
int isFileCopied(const std::string& key);
/// Removes one key (upper-cased as isFileCopied does); 1 when it was there.
int clearCopyPath(const std::string& key);
/// Empties the registry and frees its memory.
void clearAllCopyPath();

/// Sets Run().current_dir to the folder that holds the running application and logs
/// "Running Setup from: %s".
void GetCurrentDir();

// ---- The progress bar -----------------------------------------------------------------------

/// Creates the bar with the maximum gBytesToTransfer, or Status_Bar_Tot in an overall run
/// (which restarts Status_Bar_Cnt at 0). `show` 1 also draws it empty at once.
void setupProgressBar(int show);
/// Shows gBytesTransferred (plus Status_Bar_Cnt in an overall run): value + 1 while that is
/// below the maximum, else maximum - 1, so the bar is never full until it is hidden. Nothing
/// when no bar exists.
void updateProgressBar();
/// Removes the bar.
void hideProgressBar();

}  // namespace nuvel::installer
