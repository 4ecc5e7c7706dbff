// A file descriptor that closes itself, and writing to one. Every descriptor platform/ holds
// lives in a UniqueFd, so that no early return leaks it; both go through the system-call table
// (syscalls.h).
#pragma once

#include <string_view>
#include <system_error>

namespace nuvel::platform {

/// A file descriptor, closed when the owner goes out of scope. Move-only. Closing in the
/// destructor leaves errno as it was, so an error read from errno after the owner is gone is
/// still the caller's own.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  /// Gives the descriptor up without closing it.
  int release();
  /// Closes the descriptor held (errno kept) and takes `fd` instead.
  void reset(int fd = -1);
  /// Closes now and reports close's own error: where network file systems report a failed
  /// write. No error when nothing is held.
  std::error_code Close();

 private:
  int fd_ = -1;
};

/// Writes all of `data` to `fd`, retrying short writes and EINTR; a write of nothing is EIO.
std::error_code WriteAll(int fd, std::string_view data);

}  // namespace nuvel::platform
