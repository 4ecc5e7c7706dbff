// The system calls of the platform layer, behind one table of function pointers. Every call that
// touches files, folders, descriptors or file systems goes through here, so that a test can
// replace an entry to make a disk fill up, a folder unreadable or a write fail after N calls.
// Nothing outside platform/ calls the OS directly. Calls that steer processes, signals and the
// terminal (spawn, wait, kill, sigaction, tcsetattr) are not file-system calls and stay direct.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>

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

  // What a name or a descriptor stands for.
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*fstat)(int fd, struct stat* st);
  int (*fstatat)(int dirfd, const char* name, struct stat* st, int flags);
  int (*statx)(int dirfd, const char* path, int flags, unsigned mask, struct statx* st);
  int (*access)(const char* path, int mode);
  long (*readlink)(const char* path, char* buf, std::size_t size);
  long (*readlinkat)(int dirfd, const char* name, char* buf, std::size_t size);
  // Space and kind of the file system holding a path.
  int (*statvfs)(const char* path, struct statvfs* st);
  int (*statfs)(const char* path, struct statfs* st);

  // Permissions, times, size, locks and extended attributes.
  int (*chmod)(const char* path, unsigned mode);
  int (*fchmod)(int fd, unsigned mode);
  int (*utimensat)(int dirfd, const char* name, const struct timespec times[2], int flags);
  int (*futimens)(int fd, const struct timespec times[2]);
  int (*ftruncate)(int fd, std::int64_t length);
  int (*fcntl)(int fd, int command, int argument);
  int (*flock)(int fd, int operation);
  long (*flistxattr)(int fd, char* list, std::size_t size);
  long (*fgetxattr)(int fd, const char* name, void* value, std::size_t size);
  int (*fsetxattr)(int fd, const char* name, const void* value, std::size_t size, int flags);

  // Folders: removal, links, and listing through a directory stream.
  int (*rmdir)(const char* path);
  int (*symlinkat)(const char* target, int dirfd, const char* name);
  DIR* (*fdopendir)(int fd);
  /// Null at the end of the folder with errno untouched, or on an error with errno set.
  struct dirent* (*readdir)(DIR* dir);
  int (*closedir)(DIR* dir);
  int (*pipe2)(int fds[2], int flags);
};

/// The table in force. Tests may assign entries; ResetSyscalls() restores the real calls.
Syscalls& syscalls();
void ResetSyscalls();

}  // namespace nuvel::platform
