#include "platform/unique_fd.h"

#include <cerrno>

#include "platform/syscalls.h"

namespace nuvel::platform {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int UniqueFd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) {
    int saved = errno;
    syscalls().close(fd_);
    errno = saved;
  }
  fd_ = fd;
}

std::error_code UniqueFd::Close() {
  if (fd_ < 0) return {};
  int fd = release();
  if (syscalls().close(fd) != 0) return LastError();
  return {};
}

std::error_code WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    long n = syscalls().write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) return std::make_error_code(std::errc::io_error);
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace nuvel::platform
