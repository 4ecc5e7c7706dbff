#include "platform/syscalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace nuvel::platform {
namespace {

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

constexpr Syscalls kReal = {RealOpen,    ::close,    RealRead,  RealWrite,         ::fsync,
                            ::rename,    ::unlink,   RealMkdir, RealCopyFileRange, RealOpenat,
                            RealMkdirat, ::renameat, ::unlinkat};

Syscalls gTable = kReal;

}  // namespace

Syscalls& syscalls() { return gTable; }
void ResetSyscalls() { gTable = kReal; }

}  // namespace nuvel::platform
