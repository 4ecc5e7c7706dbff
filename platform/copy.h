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
// Links never steer a copy's writes. Everything below a copy's destination folder is reached
// from an open descriptor of its folder (openat, mkdirat, renameat, unlinkat) and never by a
// path: a folder is opened with O_NOFOLLOW, a file is created with O_EXCL (which does not
// follow a link either) and replaces an old one by a rename, which replaces a link itself.
// A link found where the copy needs a folder, whoever planted it, is removed and a real folder
// made in its place (CopyFolder::replaced_link tells); a folder swapped for a link while the
// copy runs cannot redirect it, since the copy goes on writing into the folder it holds open.
// Links that a copy makes itself (CopySymlink) are only ever replaced, never written through.
// The folders that lead to the destination folder are followed, links included: an
// administrator may well make the installation folder, or the folder of all courses, a link to
// another disk, and only the destination's own folder and what lies below it belong to the
// copy. Opening the folders relative to their parent also spares the kernel a walk of the
// whole path for every file.
//
// File data goes through the system-call table of syscalls.h (open, openat, read, write, close,
// renameat, unlinkat, mkdirat, copy_file_range), so tests can make a disk fill up in the middle
// of a copy.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/unique_fd.h"

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

/// An open folder that a copy or an extraction writes into, with the path it stands for (used
/// in messages only). Move-only; closes its descriptor when destroyed.
class CopyFolder {
 public:
  CopyFolder() = default;
  ~CopyFolder();
  CopyFolder(CopyFolder&& other) noexcept = default;
  CopyFolder& operator=(CopyFolder&& other) noexcept = default;
  CopyFolder(const CopyFolder&) = delete;
  CopyFolder& operator=(const CopyFolder&) = delete;

  bool is_open() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  /// The folder was made by the open (it was not there before).
  bool created() const { return created_; }
  /// A link stood where the folder belongs; it was removed and the folder made.
  bool replaced_link() const { return replaced_link_; }

 private:
  friend std::error_code OpenFolder(const std::string&, CopyFolder&);
  friend std::error_code OpenCopyDestination(const std::string&, CopyFolder&);
  friend std::error_code OpenCopySubfolder(const CopyFolder&, const std::string&, CopyFolder&);
  void Close();

  UniqueFd fd_;
  std::string path_;
  bool created_ = false;
  bool replaced_link_ = false;
};

/// Opens the existing folder `path`, links followed: the folder that holds a copy's destination.
std::error_code OpenFolder(const std::string& path, CopyFolder& out);

/// Opens the destination folder `path` of a copy, making it (but not the folders leading to it)
/// when missing. The folders leading to it are followed; the folder itself is never a link (see
/// the top of this file). Anything else that is not a folder there is ENOTDIR. A new folder
/// stays writable by its owner until CopyFolderAttributes gives it its final mode.
std::error_code OpenCopyDestination(const std::string& path, CopyFolder& out);

/// The same for the entry `name` of the folder `parent`.
std::error_code OpenCopySubfolder(const CopyFolder& parent, const std::string& name,
                                  CopyFolder& out);

/// Removes from `folder` (not below it) every file left by an interrupted copy: partial files
/// and files carrying the busy mark. `removed` gets their paths. Returns the first error of a
/// file that could not be removed, after trying the others.
std::error_code RemoveInterruptedCopies(const CopyFolder& folder,
                                        std::vector<std::string>& removed);

/// Told the number of bytes just written, after each chunk of a file copy.
using CopyProgress = std::function<void(std::uint64_t bytes)>;

/// Copies the regular file `from` to the entry `name` of `to`, replacing whatever file or link
/// is there. The data is streamed (inside the kernel when the file systems allow it, else
/// through a fixed buffer; never the whole file in memory) into a new file (see PartialFile),
/// which then gets the source's permission bits (with the owner's write permission added, so
/// that a copy from a read-only disc stays updatable), access and modification times to the
/// nanosecond, and extended attributes, and takes the name. Attributes the destination does not
/// support (ENOTSUP), and those outside the "user." namespace that this process may not set,
/// are left out. On failure the new file is removed and the entry is left as it was.
/// `progress` may be empty.
std::error_code CopyRegularFile(const std::string& from, const CopyFolder& to,
                                const std::string& name, const CopyProgress& progress);

/// Recreates the symbolic link `from` (its target text unchanged) as the entry `name` of `to`,
/// replacing a file or link there, with the link's own times.
std::error_code CopySymlink(const std::string& from, const CopyFolder& to, const std::string& name);

/// Gives folder `to` the permission bits (the owner's write permission added), extended
/// attributes and times of folder `from`. Call it after the folder's contents are written,
/// since adding entries changes a folder's times.
std::error_code CopyFolderAttributes(const std::string& from, const CopyFolder& to);

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
/// object destroyed before Commit() removes what it wrote. The folder it is opened in must stay
/// open until then.
class PartialFile {
 public:
  PartialFile() = default;
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  /// Creates the file that will become the entry `name` of `folder` (`mode` less the umask); a
  /// stale partial file is replaced.
  std::error_code Open(const CopyFolder& folder, const std::string& name, unsigned mode = 0666);
  /// Appends all of `data`, retrying short writes.
  std::error_code Write(const void* data, std::size_t size);
  /// Sets the permission bits (`mode` < 0: keeps them) and the modification time (`mtime` < 0:
  /// now; seconds since the epoch), closes the file and gives it its final name, replacing a
  /// file there. On failure nothing of the new file is left and the old file is untouched.
  std::error_code Commit(int mode, std::int64_t mtime);
  /// Closes and removes what was written (nothing when no file is open).
  void Abandon();

 private:
  friend std::error_code CopyRegularFile(const std::string&, const CopyFolder&, const std::string&,
                                         const CopyProgress&);
  // Closes the complete file and gives it its final name.
  std::error_code Place();

  UniqueFd fd_;
  int dirfd_ = -1;        // the folder's descriptor, owned by its CopyFolder
  bool created_ = false;  // fd_ is a new file under the final name
  std::string name_;
  std::string partial_;
};

}  // namespace nuvel::platform
