#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>

#include "platform/path_text.h"
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

// The NUVEL_READONLY_FOLDERS test seam: colon-separated folders that this process may neither
// write nor create entries in, as an ordinary user finds /opt and /var/lib (tests run as root,
// whom permission bits do not stop).
bool ReadOnlyBySeam(const std::string& folder) {
  const char* seam = std::getenv("NUVEL_READONLY_FOLDERS");
  if (!seam || folder.empty()) return false;
  const std::string wanted = WithoutTrailingSlash(folder);
  std::string_view rest = seam;
  while (!rest.empty()) {
    auto colon = rest.find(':');
    if (!rest.substr(0, colon).empty() &&
        WithoutTrailingSlash(std::string(rest.substr(0, colon))) == wanted) {
      return true;
    }
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return false;
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

// Creates the temporary file of an atomic write and locks it for the whole write, so that
// RemoveStaleAtomicWriteFiles can tell it from one whose writer is gone. A cleaner that took the
// lock between the creation and this lock has removed the file: then another name is tried.
int CreateLockedTemporary(const std::string& path, unsigned mode, std::string& temp) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    temp = TempNameBeside(path);
    int fd = syscalls().open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd < 0) return -1;
    struct stat held, named;
    if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &held) == 0 &&
        ::lstat(temp.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev) {
      return fd;
    }
    syscalls().close(fd);
  }
  errno = EAGAIN;
  return -1;
}

std::error_code WriteFileAtomic(const std::string& path, std::string_view data) {
  unsigned mode = 0666;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  std::string temp;
  int fd = CreateLockedTemporary(path, mode, temp);
  if (fd < 0) return LastError();
  // The umask applied at creation; an existing file's own bits are restored exactly.
  if (mode != 0666) ::fchmod(fd, static_cast<mode_t>(mode));
  std::error_code ec = WriteAll(fd, data);
  if (!ec && syscalls().fsync(fd) != 0) ec = LastError();
  // Renamed while still locked, and closed (which unlocks) after.
  if (!ec && syscalls().rename(temp.c_str(), path.c_str()) != 0) ec = LastError();
  if (ec) syscalls().unlink(temp.c_str());
  if (syscalls().close(fd) != 0 && !ec) ec = LastError();
  return ec;
}

namespace {

// ".<name>.<8 hex digits>.tmp", as TempNameBeside makes them.
bool IsAtomicWriteName(std::string_view name) {
  constexpr std::size_t kTail = 1 + 8 + 4;  // ".xxxxxxxx.tmp"
  if (name.size() < 1 + 1 + kTail || name.front() != '.' || !name.ends_with(".tmp")) return false;
  std::string_view hex = name.substr(name.size() - kTail, kTail);
  if (hex.front() != '.') return false;
  for (char c : hex.substr(1, 8)) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) || std::isupper(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> RemoveStaleAtomicWriteFiles(const std::string& folder) {
  std::vector<std::string> removed;
  std::vector<std::string> names;
  if (ListDirectory(folder, names)) return removed;
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (const std::string& name : names) {
    if (!IsAtomicWriteName(name)) continue;
    const std::string path = base + name;
    int fd = syscalls().open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) continue;
    struct stat st;
    // A writer under way holds the lock until its rename.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        syscalls().unlink(path.c_str()) == 0) {
      removed.push_back(path);
    }
    syscalls().close(fd);
  }
  return removed;
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
  return !path.empty() && !ReadOnlyBySeam(path) && ::access(path.c_str(), W_OK) == 0;
}

std::error_code FileSize(const std::string& path, std::uint64_t& size) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return LastError();
  size = static_cast<std::uint64_t>(st.st_size);
  return {};
}

std::error_code MakeDirectory(const std::string& path) {
  if (ReadOnlyBySeam(ParentFolder(path)) && !IsDirectory(path)) {
    return std::make_error_code(std::errc::permission_denied);
  }
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

std::error_code ListDirectoryEntries(const std::string& path, std::vector<DirEntry>& entries) {
  entries.clear();
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return LastError();
  std::string folder = path.empty() || path.back() == '/' ? path : path + "/";
  while (struct dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    DirEntry item{std::string(name), entry->d_type == DT_DIR};
    // Links and file systems that do not report kinds need a look at the entry itself.
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      item.is_directory = IsDirectory(folder + item.name);
    }
    entries.push_back(std::move(item));
  }
  ::closedir(dir);
  return {};
}

std::error_code GetFileTimes(const std::string& path, FileTimes& times) {
  times = FileTimes{};
  struct statx stx;
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_MTIME | STATX_BTIME, &stx) == 0) {
    times.modified = stx.stx_mtime.tv_sec;
    if (stx.stx_mask & STATX_BTIME) times.created = stx.stx_btime.tv_sec;
    return {};
  }
  // Kernels or file systems without statx: the modification time alone.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return LastError();
  times.modified = st.st_mtime;
  return {};
}

std::error_code SetModificationTime(const std::string& path, std::int64_t seconds) {
  struct timespec both[2];
  both[0].tv_sec = both[1].tv_sec = static_cast<time_t>(seconds);
  both[0].tv_nsec = both[1].tv_nsec = 0;
  if (::utimensat(AT_FDCWD, path.c_str(), both, 0) != 0) return LastError();
  return {};
}

bool LocalTimeOf(std::int64_t seconds, LocalTime& local) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) return false;
  local = LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                    tm.tm_min,         tm.tm_sec,     tm.tm_wday};
  return true;
}

std::error_code IsLocked(const std::string& path, bool& locked) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return LastError();
  locked = (st.st_mode & S_IWUSR) == 0;
  return {};
}

std::error_code Unlock(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return LastError();
  if ((st.st_mode & S_IWUSR) == 0 && ::chmod(path.c_str(), (st.st_mode | S_IWUSR) & 07777) != 0) {
    return LastError();
  }
  return {};
}

std::error_code CreateEmptyFile(const std::string& path) {
  int fd = syscalls().open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return LastError();
  if (syscalls().close(fd) != 0) return LastError();
  return {};
}

std::error_code CheckReadable(const std::string& path) {
  int fd = syscalls().open(path.c_str(), O_RDONLY, 0);
  if (fd < 0) return LastError();
  syscalls().close(fd);
  return {};
}

std::error_code MoveTree(const std::string& from, const std::string& to) {
  struct stat st;
  if (::lstat(from.c_str(), &st) != 0) return LastError();
  // rename() would silently replace a file or an empty folder at the target.
  if (::lstat(to.c_str(), &st) == 0) return std::make_error_code(std::errc::file_exists);
  if (syscalls().rename(from.c_str(), to.c_str()) == 0) return {};
  if (errno != EXDEV) return LastError();

  namespace fs = std::filesystem;
  std::error_code ec;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove_all(to, ignored);
    return ec;
  }
  fs::remove_all(from, ec);
  return ec;
}

}  // namespace nuvel::platform
