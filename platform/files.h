// Files and folders on the local file system. Every function reports failure as a
// std::error_code (errno converted once, here) and never throws. File data goes through the
// system-call table of syscalls.h so that tests can inject failures.
//
// Shared folders. The system folder is made for every user of the computer: mode 0777 without
// the sticky bit. A sticky bit would keep a user from replacing a file that root created, and
// records.ini is rewritten by renaming a new file over it, by whichever user runs a program;
// the log is appended to by all of them. The price is that any user can put entries, links
// among them, into the folder. So every function here that writes or creates a file
// (WriteFileAtomic, AppendToFile, CreateTextFile, CreateEmptyFile, CopyFileContents) opens its
// folder one component at a time from "/" and the file itself with O_NOFOLLOW, and never
// follows a link that a user other than the folder's owner could have planted: such a write
// fails with std::errc::too_many_symbolic_link_levels (ELOOP) and nothing is written; callers
// log it and go on without that file. Links that only the folder's owner could have made
// (in folders others cannot write) are followed as always. Temporary files are created with
// O_EXCL under a fresh random name, and renamed relative to the folder's descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/clock.h"
#include "platform/unique_fd.h"

namespace nuvel::platform {

/// Reads the whole file into `out` (replacing its contents).
std::error_code ReadFile(const std::string& path, std::string& out);

/// Replaces the file with `data` through a temporary file in the same folder (locked with flock
/// until it is renamed), flushed and then renamed over the target, so that a crash leaves either the old or the new file, never a
/// truncated one. An existing file keeps its permission bits; a new one is a text file (0644
/// less the umask).
std::error_code WriteFileAtomic(const std::string& path, std::string_view data);

/// Removes the temporary files that WriteFileAtomic leaves beside a file of `folder` when the
/// process is killed between their creation and the rename (".<name>.<8 hex digits>.tmp"). A
/// writer holds an flock on its temporary file until the rename, so one that can be locked
/// belongs to no write under way. Returns the paths removed.
std::vector<std::string> RemoveStaleAtomicWriteFiles(const std::string& folder);

/// A fresh name for a temporary file beside `path`, in the same folder:
/// "/a/records.ini" -> "/a/.records.ini.<8 random lower-case hex digits>.tmp".
std::string TempNameBeside(const std::string& path);

/// Appends `data` to the file, creating it when missing.
std::error_code AppendToFile(const std::string& path, std::string_view data);

/// Creates an empty text file when none exists; an existing file is left alone.
std::error_code CreateTextFile(const std::string& path);

/// The name of the lock file beside a file called `file_name`: ".<name in lower case>.lock"
/// (lower case, so that every spelling of a name that is looked up in any case shares one).
std::string UpdateLockName(const std::string& file_name);

/// An exclusive flock on the lock file (UpdateLockName) beside `path`, held while the object
/// lives: a read-modify-write of a file that several processes update holds it for the whole
/// update, so that no writer's change is lost. The lock file is created readable by everyone
/// (any user must be able to take the lock) and removed by the holder as it gives the lock up,
/// so no lock file stays beside the file (a process killed while holding it leaves it to the
/// next update); a taker whose file was removed meanwhile starts again. It is opened with
/// O_NOFOLLOW: a link planted in its place is an error, as is a lock not had within
/// `timeout_ms`.
class FileUpdateLock {
 public:
  explicit FileUpdateLock(const std::string& path, int timeout_ms = 10000);
  ~FileUpdateLock();
  FileUpdateLock(const FileUpdateLock&) = delete;
  FileUpdateLock& operator=(const FileUpdateLock&) = delete;

  /// No error when the lock is held.
  const std::error_code& error() const { return error_; }

 private:
  UniqueFd fd_;
  UniqueFd folder_;
  std::string lock_name_;
  std::error_code error_;
};

bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);
/// True when this process may create and delete entries in the folder (or write the file).
/// A folder named in NUVEL_READONLY_FOLDERS (a test seam: colon-separated folders) is not
/// writable, and MakeDirectory creates nothing in it (EACCES), as for an ordinary user.
bool IsWritable(const std::string& path);

/// Size in bytes; an error for a missing file.
std::error_code FileSize(const std::string& path, std::uint64_t& size);

/// Creates one folder (mode 0777 less the umask); an existing folder is not an error.
std::error_code MakeDirectory(const std::string& path);
/// Creates the folder and every missing parent.
std::error_code MakeDirectories(const std::string& path);

std::error_code RemoveFile(const std::string& path);
std::error_code RenameFile(const std::string& from, const std::string& to);
/// Copies a regular file's bytes (and permission bits) to `to`, replacing it.
std::error_code CopyFileContents(const std::string& from, const std::string& to);

/// The names (not paths) of the entries of a folder, in no particular order, without "." and "..".
std::error_code ListDirectory(const std::string& path, std::vector<std::string>& names);

/// One entry of a folder listing. A symbolic link counts as what it points to (a dangling link
/// as a file).
struct DirEntry {
  std::string name;
  bool is_directory = false;
};

/// The entries of a folder with their kinds, in the file system's own order, without "." and
/// "..".
std::error_code ListDirectoryEntries(const std::string& path, std::vector<DirEntry>& entries);

/// A file's times in seconds since the epoch. `created` is the birth time when the file system
/// keeps one, else 0.
struct FileTimes {
  std::int64_t modified = 0;
  std::int64_t created = 0;
};
std::error_code GetFileTimes(const std::string& path, FileTimes& times);

/// Sets a file's modification (and access) time.
std::error_code SetModificationTime(const std::string& path, std::int64_t seconds);

/// The local calendar time of a time in seconds since the epoch; false when out of range.
bool LocalTimeOf(std::int64_t seconds, LocalTime& local);

/// `locked` is true when the owner has no write permission on the file or folder: the
/// read-only flag of the original systems.
std::error_code IsLocked(const std::string& path, bool& locked);
/// Gives the owner write permission.
std::error_code Unlock(const std::string& path);

/// Creates the file empty, or empties an existing one, and closes it again (fopen "wb").
std::error_code CreateEmptyFile(const std::string& path);
/// Opens the file for reading and closes it again (fopen "rb"): no error when it can be read.
std::error_code CheckReadable(const std::string& path);

/// Moves a file or folder to the new path `to`: a rename, or across volumes a copy of the whole
/// tree followed by removal of the original. An existing `to` is never replaced (EEXIST).
std::error_code MoveTree(const std::string& from, const std::string& to);

}  // namespace nuvel::platform
