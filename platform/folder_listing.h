// Directory streams and the one folder-listing routine of platform/: every listing reads its
// folder through it, so that a folder that fails to be read is never taken for one that has
// ended, and a test can inject that failure through the system-call table (syscalls.h).
#pragma once

#include <dirent.h>

#include <functional>
#include <string>
#include <system_error>

#include "platform/unique_fd.h"

namespace nuvel::platform {

/// A directory stream, closed when the owner goes out of scope. Move-only.
class DirStream {
 public:
  DirStream() = default;
  ~DirStream();
  DirStream(DirStream&& other) noexcept : dir_(other.dir_) { other.dir_ = nullptr; }
  DirStream& operator=(DirStream&& other) noexcept;
  DirStream(const DirStream&) = delete;
  DirStream& operator=(const DirStream&) = delete;

  /// Opens a stream on the folder open on `folder`, which it takes over (and closes also when
  /// the stream cannot be made).
  std::error_code Open(UniqueFd folder);
  bool is_open() const { return dir_ != nullptr; }
  /// The descriptor of the folder, for *at() calls on its entries.
  int fd() const;
  /// The next entry, or null at the end of the folder (`ec` clear) or on an error (`ec` set):
  /// a folder that fails to be read is never taken for one that has ended.
  const dirent* Next(std::error_code& ec);

 private:
  DIR* dir_ = nullptr;
};

/// One entry of a folder as the listing meets it.
struct FolderEntry {
  const char* name;
  unsigned char type;  // DT_REG, DT_DIR, DT_LNK, DT_UNKNOWN, ...
  int folder_fd;       // the listed folder, for fstatat() on the entry
};

/// Told each entry of a folder; false ends the listing there (no error).
using FolderVisitor = std::function<bool(const FolderEntry&)>;

/// Lists the folder open on `folder` (taken over): `visit` is told each entry but "." and "..",
/// in the file system's order. An error opening the stream or reading an entry is returned, and
/// the entries told before it stand.
std::error_code ListFolder(UniqueFd folder, const FolderVisitor& visit);
/// The same for the folder at `path`, links followed.
std::error_code ListFolder(const std::string& path, const FolderVisitor& visit);

}  // namespace nuvel::platform
