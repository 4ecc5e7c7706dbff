#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/syscalls.h"

namespace nuvel::platform {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

// Writes all of `data`, retrying short writes and EINTR.
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

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string TempNameBeside(const std::string& path) {
  static std::mt19937 rng{std::random_device{}()};
  auto slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(rng()));
  return folder + "." + name + suffix + ".tmp";
}

}  // namespace

std::error_code ReadFile(const std::string& path, std::string& out) {
  out.clear();
  int fd = syscalls().open(path.c_str(), O_RDONLY, 0);
  if (fd < 0) return LastError();
  char buf[65536];
  std::error_code ec;
  for (;;) {
    long n = syscalls().read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ec = LastError();
      break;
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  syscalls().close(fd);
  return ec;
}

std::error_code WriteFileAtomic(const std::string& path, std::string_view data) {
  unsigned mode = 0666;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  std::string temp = TempNameBeside(path);
  int fd = syscalls().open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
  if (fd < 0) return LastError();
  // The umask applied at creation; an existing file's own bits are restored exactly.
  if (mode != 0666) ::fchmod(fd, static_cast<mode_t>(mode));
  std::error_code ec = WriteAll(fd, data);
  if (!ec && syscalls().fsync(fd) != 0) ec = LastError();
  if (syscalls().close(fd) != 0 && !ec) ec = LastError();
  if (!ec && syscalls().rename(temp.c_str(), path.c_str()) != 0) ec = LastError();
  if (ec) syscalls().unlink(temp.c_str());
  return ec;
}

std::error_code AppendToFile(const std::string& path, std::string_view data) {
  int fd = syscalls().open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
  if (fd < 0) return LastError();
  std::error_code ec = WriteAll(fd, data);
  if (syscalls().close(fd) != 0 && !ec) ec = LastError();
  return ec;
}

std::error_code CreateTextFile(const std::string& path) {
  int fd = syscalls().open(path.c_str(), O_WRONLY | O_CREAT, 0666);
  if (fd < 0) return LastError();
  syscalls().close(fd);
  return {};
}

bool Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsWritable(const std::string& path) {
  return !path.empty() && ::access(path.c_str(), W_OK) == 0;
}

std::error_code FileSize(const std::string& path, std::uint64_t& size) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return LastError();
  size = static_cast<std::uint64_t>(st.st_size);
  return {};
}

std::error_code MakeDirectory(const std::string& path) {
  if (syscalls().mkdir(path.c_str(), 0777) == 0) return {};
  if (errno == EEXIST && IsDirectory(path)) return {};
  return LastError();
}

std::error_code MakeDirectories(const std::string& path) {
  if (path.empty()) return std::make_error_code(std::errc::invalid_argument);
  if (IsDirectory(path)) return {};
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::string parent = FolderOf(trimmed);
  if (parent != trimmed && parent != "." && !IsDirectory(parent)) {
    if (auto ec = MakeDirectories(parent)) return ec;
  }
  return MakeDirectory(trimmed);
}

std::error_code RemoveFile(const std::string& path) {
  if (syscalls().unlink(path.c_str()) != 0) return LastError();
  return {};
}

std::error_code RenameFile(const std::string& from, const std::string& to) {
  if (syscalls().rename(from.c_str(), to.c_str()) != 0) return LastError();
  return {};
}

std::error_code CopyFileContents(const std::string& from, const std::string& to) {
  std::string data;
  if (auto ec = ReadFile(from, data)) return ec;
  struct stat st;
  unsigned mode = ::stat(from.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0666;
  int fd = syscalls().open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (fd < 0) return LastError();
  std::error_code ec = WriteAll(fd, data);
  if (syscalls().close(fd) != 0 && !ec) ec = LastError();
  return ec;
}

std::error_code ListDirectory(const std::string& path, std::vector<std::string>& names) {
  names.clear();
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return LastError();
  while (struct dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  ::closedir(dir);
  return {};
}

}  // namespace nuvel::platform
