// The OS side of copying: one file's data and metadata, symbolic links, folders made for a copy,
// canonical paths, the locked flag and whole-tree removal.
//
// A file is written so that an interrupted copy or extraction is always recognisable and never
// costs a complete file:
// - A new file (nothing under its name yet) is written under its final name. From its creation
//   until it is complete it carries the busy mark, a modification time no real file has
//   (kBusyTime); the last step gives it its real times. A failed copy removes it.
// - A file that replaces an existing one is written to a partial file beside it
//   (".<name>.nuvel-partial", see PartialPathFor) that is renamed over the old one when complete,
//   so the old file stays whole until the new one is. A failure removes the partial file.
// A crash can leave a busy-marked file or a partial file; RemoveInterruptedCopies clears a folder
// of both, and the copy engine calls it on every existing folder it writes into. Renaming every
// file (or linking an unnamed one) would cost a second change of its folder per file, which shows
// as a tenth more time on trees of many small files.
//
// File data goes through the system-call table of syscalls.h (open, read, write, close, rename,
// unlink, copy_file_range), so tests can make a disk fill up in the middle of a copy.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace nuvel::platform {

/// The ending of every partial file name.
inline constexpr std::string_view kPartialSuffix = ".nuvel-partial";

/// The partial file that stands for `path` while it is being written: ".<name>.nuvel-partial" in
/// the same folder. A name too long for that keeps its first bytes and gains a hash of the whole
/// name, so that the partial name is still a valid file name and still unique.
std::string PartialPathFor(const std::string& path);

/// True for a file name (not a path) made by PartialPathFor.
bool IsPartialName(std::string_view name);

/// The busy mark: the modification time, in seconds since the epoch, of a file being written
/// (1 January 1904, 00:00 UTC, with no fraction of a second).
inline constexpr std::int64_t kBusyTime = -2082844800;

/// Removes from `folder` (not below it) every file left by an interrupted copy: partial files
/// and files carrying the busy mark. `removed` gets their paths. Returns the first error of a
/// file that could not be removed, after trying the others.
std::error_code RemoveInterruptedCopies(const std::string& folder,
                                        std::vector<std::string>& removed);

enum class ObjectKind { kMissing, kFile, kDirectory, kSymlink, kOther };

/// What a path names, a final symbolic link not followed.
struct ObjectInfo {
  ObjectKind kind = ObjectKind::kMissing;
  std::uint64_t size = 0;  // bytes, for a regular file
};

/// Examines `path` without following a final link. A missing path (ENOENT, ENOTDIR) gives
/// kMissing and no error.
std::error_code Inspect(const std::string& path, ObjectInfo& info);

/// One entry of a folder, its kind taken without following links.
struct TreeEntry {
  std::string name;
  ObjectKind kind = ObjectKind::kOther;
  std::uint64_t size = 0;  // bytes of a regular file, when asked for
};

/// The entries of a folder in the file system's order, without "." and "..". `with_sizes` also
/// fills in the sizes of regular files.
std::error_code ListTreeEntries(const std::string& folder, std::vector<TreeEntry>& entries,
                                bool with_sizes = false);

/// Told the number of bytes just written, after each chunk of a file copy.
using CopyProgress = std::function<void(std::uint64_t bytes)>;

/// Copies the regular file `from` to `to`, replacing whatever file or link is at `to`. The data
/// is streamed (inside the kernel when the file systems allow it, else through a fixed buffer;
/// never the whole file in memory) into a new file (see PartialFile), which then gets the
/// source's permission bits (with the owner's write permission added, so that a copy from a
/// read-only disc stays updatable), access and modification times to the nanosecond, and extended
/// attributes, and becomes `to`. Attributes the destination does not support (ENOTSUP), and those
/// outside the "user." namespace that this process may not set, are left out. On failure the
/// new file is removed and `to` is left as it was. `progress` may be empty.
std::error_code CopyRegularFile(const std::string& from, const std::string& to,
                                const CopyProgress& progress);

/// Recreates the symbolic link `from` (its target text unchanged) at `to`, replacing a file or
/// link there, with the link's own times.
std::error_code CopySymlink(const std::string& from, const std::string& to);

/// Makes the folder `to` for a copy unless a folder is there already; `created` tells which.
/// A new folder stays writable by its owner until CopyFolderAttributes gives it its final mode.
std::error_code CreateFolderForCopy(const std::string& to, bool& created);

/// Gives folder `to` the permission bits (the owner's write permission added), extended
/// attributes and times of folder `from`. Call
/// it after the folder's contents are written, since adding entries changes a folder's times.
std::error_code CopyFolderAttributes(const std::string& from, const std::string& to);

/// `path` made absolute with links, "." and ".." resolved; a missing tail is appended
/// normalized, as written.
std::error_code CanonicalPath(const std::string& path, std::string& out);

/// True when both paths name the same existing object (same device and inode, links followed).
bool SameObject(const std::string& a, const std::string& b);

/// Sets (locked) or clears the locked state of a file or folder: the owner's write permission.
std::error_code SetLocked(const std::string& path, bool locked);

/// Removes one empty folder.
std::error_code RemoveEmptyFolder(const std::string& path);

/// Removes the file, link or folder tree at `path`, deepest entries first, with an explicit
/// list of pending folders (no recursion). Links are removed themselves and never followed, so
/// nothing outside the tree is touched. A folder of the tree without owner write permission is
/// given it first. A missing path is ENOENT and removes nothing. Entries that cannot be removed
/// are passed over; the first such error is returned once everything else is gone.
std::error_code RemoveTree(const std::string& path);

/// A file being written: under its final name with the busy mark, or under its partial name
/// when a file is there already (see the top of this file). It is complete on Commit(); an
/// object destroyed before Commit() removes what it wrote.
class PartialFile {
 public:
  PartialFile() = default;
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  /// Creates the file that will become `path` (`mode` less the umask); a stale partial file is
  /// replaced.
  std::error_code Open(const std::string& path, unsigned mode = 0666);
  /// Appends all of `data`, retrying short writes.
  std::error_code Write(const void* data, std::size_t size);
  /// Sets the permission bits (`mode` < 0: keeps them) and the modification time (`mtime` < 0:
  /// now; seconds since the epoch), closes the file and gives it its final name, replacing a
  /// file there. On failure nothing of the new file is left and the old file is untouched.
  std::error_code Commit(int mode, std::int64_t mtime);
  /// Closes and removes what was written (nothing when no file is open).
  void Abandon();

 private:
  friend std::error_code CopyRegularFile(const std::string&, const std::string&,
                                         const CopyProgress&);
  // Closes the complete file and gives it its final name.
  std::error_code Place();

  int fd_ = -1;
  bool created_ = false;  // fd_ is a new file under the final name
  std::string path_;
  std::string partial_;
};

}  // namespace nuvel::platform
