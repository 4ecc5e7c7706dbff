#include "platform/syscalls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>

#include "platform/run_reset.h"

namespace nuvel::platform {
namespace {

// Descriptors are opened close-on-exec: a launched program never inherits them.
int RealOpen(const char* path, int flags, unsigned mode) {
  return ::open(path, flags | O_CLOEXEC, static_cast<mode_t>(mode));
}
long RealRead(int fd, void* buf, std::size_t count) { return ::read(fd, buf, count); }
long RealWrite(int fd, const void* buf, std::size_t count) { return ::write(fd, buf, count); }
int RealMkdir(const char* path, unsigned mode) { return ::mkdir(path, static_cast<mode_t>(mode)); }
int RealOpenat(int dirfd, const char* name, int flags, unsigned mode) {
  return ::openat(dirfd, name, flags | O_CLOEXEC, static_cast<mode_t>(mode));
}
int RealMkdirat(int dirfd, const char* name, unsigned mode) {
  return ::mkdirat(dirfd, name, static_cast<mode_t>(mode));
}
long RealCopyFileRange(int fd_in, int fd_out, std::size_t count) {
  return ::copy_file_range(fd_in, nullptr, fd_out, nullptr, count, 0);
}
int RealStat(const char* path, struct stat* st) { return ::stat(path, st); }
int RealLstat(const char* path, struct stat* st) { return ::lstat(path, st); }
int RealFstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int RealStatvfs(const char* path, struct statvfs* st) { return ::statvfs(path, st); }
int RealStatfs(const char* path, struct statfs* st) { return ::statfs(path, st); }
long RealReadlink(const char* path, char* buf, std::size_t size) {
  return ::readlink(path, buf, size);
}
long RealReadlinkat(int dirfd, const char* name, char* buf, std::size_t size) {
  return ::readlinkat(dirfd, name, buf, size);
}
int RealChmod(const char* path, unsigned mode) { return ::chmod(path, static_cast<mode_t>(mode)); }
int RealFchmod(int fd, unsigned mode) { return ::fchmod(fd, static_cast<mode_t>(mode)); }
int RealFtruncate(int fd, std::int64_t length) {
  return ::ftruncate(fd, static_cast<off_t>(length));
}
int RealFcntl(int fd, int command, int argument) { return ::fcntl(fd, command, argument); }
long RealFlistxattr(int fd, char* list, std::size_t size) { return ::flistxattr(fd, list, size); }
long RealFgetxattr(int fd, const char* name, void* value, std::size_t size) {
  return ::fgetxattr(fd, name, value, size);
}

constexpr Syscalls kReal = {
    .open = RealOpen,
    .close = ::close,
    .read = RealRead,
    .write = RealWrite,
    .fsync = ::fsync,
    .rename = ::rename,
    .unlink = ::unlink,
    .mkdir = RealMkdir,
    .copy_file_range = RealCopyFileRange,
    .openat = RealOpenat,
    .mkdirat = RealMkdirat,
    .renameat = ::renameat,
    .unlinkat = ::unlinkat,
    .stat = RealStat,
    .lstat = RealLstat,
    .fstat = RealFstat,
    .fstatat = ::fstatat,
    .statx = ::statx,
    .access = ::access,
    .readlink = RealReadlink,
    .readlinkat = RealReadlinkat,
    .statvfs = RealStatvfs,
    .statfs = RealStatfs,
    .chmod = RealChmod,
    .fchmod = RealFchmod,
    .utimensat = ::utimensat,
    .futimens = ::futimens,
    .ftruncate = RealFtruncate,
    .fcntl = RealFcntl,
    .flock = ::flock,
    .flistxattr = RealFlistxattr,
    .fgetxattr = RealFgetxattr,
    .fsetxattr = ::fsetxattr,
    .rmdir = ::rmdir,
    .symlinkat = ::symlinkat,
    .fdopendir = ::fdopendir,
    .readdir = ::readdir,
    .closedir = ::closedir,
    .pipe2 = ::pipe2,
};

Syscalls gTable = kReal;

}  // namespace

Syscalls& syscalls() {
  [[maybe_unused]] static const bool registered =
      RegisterRunState("platform::syscalls", ResetSyscalls);
  return gTable;
}
void ResetSyscalls() { gTable = kReal; }

}  // namespace nuvel::platform
