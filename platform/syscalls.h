// The system calls that the platform layer's file code makes, behind one table of function
// pointers. Tests replace entries to make a disk fill up or a write fail after N calls; nothing
// outside platform/ calls the OS directly, and platform/ calls it for file data only through here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nuvel::platform {

struct Syscalls {
  int (*open)(const char* path, int flags, unsigned mode);
  int (*close)(int fd);
  long (*read)(int fd, void* buf, std::size_t count);
  long (*write)(int fd, const void* buf, std::size_t count);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*unlink)(const char* path);
  int (*mkdir)(const char* path, unsigned mode);
  /// Copies up to `count` bytes between the two files' current positions inside the kernel and
  /// advances both. Fails with EXDEV, EINVAL, ENOSYS or EOPNOTSUPP where the file systems
  /// cannot do it; callers then copy through a buffer.
  long (*copy_file_range)(int fd_in, int fd_out, std::size_t count);
  // The same calls relative to an open folder (`dirfd`), for code that must not be steered by
  // links planted in the folders above the name.
  int (*openat)(int dirfd, const char* name, int flags, unsigned mode);
  int (*mkdirat)(int dirfd, const char* name, unsigned mode);
  int (*renameat)(int from_dirfd, const char* from, int to_dirfd, const char* to);
  int (*unlinkat)(int dirfd, const char* name, int flags);
};

/// The table in force. Tests may assign entries; ResetSyscalls() restores the real calls.
Syscalls& syscalls();
void ResetSyscalls();

}  // namespace nuvel::platform
