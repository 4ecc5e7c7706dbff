#include "platform/files.h"

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

#include "platform/events.h"
#include "platform/folder_listing.h"
#include "platform/path_text.h"
#include "platform/syscalls.h"
#include "platform/unique_fd.h"

namespace nuvel::platform {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

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

// ---- Writing in folders other users can write ----

constexpr int kMaxLinkDepth = 16;

// Whether the link `link` found in the folder `folder` may be followed: always in a folder only
// its owner can write; in a folder others can write only when the sticky bit keeps them from
// replacing the link and it belongs to root, to this process's user or to the folder's owner.
bool LinkIsTrusted(int folder, const struct stat& link) {
  struct stat st;
  if (syscalls().fstat(folder, &st) != 0) return false;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
  if ((st.st_mode & S_ISVTX) == 0) return false;
  return link.st_uid == 0 || link.st_uid == ::geteuid() || link.st_uid == st.st_uid;
}

// Opens `folder` for use as the base of *at() calls, one component at a time from "/" (or the
// current folder), so that no link planted in a folder other users can write is followed on
// the way. ELOOP for such a link.
UniqueFd OpenFolderSafely(const std::string& folder, std::error_code& ec, int depth = 0) {
  if (depth > kMaxLinkDepth) {
    ec = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return UniqueFd();
  }
  UniqueFd dir(
      syscalls().open(!folder.empty() && folder[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY, 0));
  if (!dir.valid()) {
    ec = LastError();
    return dir;
  }
  std::string_view rest = folder;
  while (!rest.empty()) {
    std::size_t slash = rest.find('/');
    std::string name(rest.substr(0, slash));
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
    if (name.empty() || name == ".") continue;
    UniqueFd next(
        syscalls().openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0));
    if (!next.valid() && (errno == ELOOP || errno == ENOTDIR)) {
      struct stat link;
      if (syscalls().fstatat(dir.get(), name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(link.st_mode)) {
        if (!LinkIsTrusted(dir.get(), link)) {
          ec = std::make_error_code(std::errc::too_many_symbolic_link_levels);
          return UniqueFd();
        }
        // A trusted link: its target is walked the same way, from where the link points.
        std::string target(static_cast<std::size_t>(link.st_size) + 1, '\0');
        long length = syscalls().readlinkat(dir.get(), name.c_str(), target.data(), target.size());
        if (length < 0) {
          ec = LastError();
          return UniqueFd();
        }
        target.resize(static_cast<std::size_t>(length));
        std::string walked = std::string(folder.substr(0, folder.size() - rest.size()));
        // The folder holding the link: `walked` less its last component.
        std::string base = FolderPrefix(WithoutTrailingSlash(walked));
        std::string resolved = target.starts_with('/') ? target : base + target;
        if (!rest.empty()) resolved += "/" + std::string(rest);
        return OpenFolderSafely(resolved, ec, depth + 1);
      }
    }
    if (!next.valid()) {
      ec = LastError();
      return UniqueFd();
    }
    dir = std::move(next);
  }
  return dir;
}

// The folder and the name of a path ("." for a bare name).
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  std::string folder = ParentFolder(path);
  return {folder.empty() ? "." : folder, FileName(WithoutTrailingSlash(path))};
}

// Opens `path` for writing with `flags` through the system-call table (so that tests can make
// it fail), never through a link that someone other than the folder's owner could have
// planted: the folder is opened safely first, the file with O_NOFOLLOW, and the file opened
// must be the folder's entry of that name (a folder swapped for a link in between is caught
// before anything is written; O_TRUNC is applied only then). O_NONBLOCK keeps a planted FIFO
// from blocking the open. ELOOP when refused.
UniqueFd OpenForWriting(const std::string& path, int flags, unsigned mode, std::error_code& ec) {
  auto [folder_path, name] = SplitPath(path);
  UniqueFd folder = OpenFolderSafely(folder_path, ec);
  if (!folder.valid()) return UniqueFd();
  struct stat entry;
  bool follow = false;
  if (syscalls().fstatat(folder.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(entry.st_mode)) {
    if (!LinkIsTrusted(folder.get(), entry)) {
      ec = std::make_error_code(std::errc::too_many_symbolic_link_levels);
      return UniqueFd();
    }
    follow = true;
  }
  UniqueFd fd(syscalls().open(path.c_str(),
                              (flags & ~O_TRUNC) | O_NONBLOCK | (follow ? 0 : O_NOFOLLOW), mode));
  if (!fd.valid()) {
    ec = LastError();
    return fd;
  }
  struct stat opened;
  if (!follow &&
      (syscalls().fstat(fd.get(), &opened) != 0 ||
       syscalls().fstatat(folder.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 ||
       opened.st_dev != entry.st_dev || opened.st_ino != entry.st_ino)) {
    ec = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return UniqueFd();
  }
  syscalls().fcntl(fd.get(), F_SETFL, syscalls().fcntl(fd.get(), F_GETFL, 0) & ~O_NONBLOCK);
  if ((flags & O_TRUNC) && syscalls().ftruncate(fd.get(), 0) != 0) {
    ec = LastError();
    return UniqueFd();
  }
  return fd;
}

}  // namespace

std::string TempNameBeside(const std::string& path) {
  // Seeded once per process: the names only need to differ, never to repeat between runs.
  static std::mt19937 rng{std::random_device{}()};
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(rng()));
  return FolderPrefix(path) + "." + FileName(path) + suffix + ".tmp";
}

std::error_code ReadFile(const std::string& path, std::string& out) {
  out.clear();
  UniqueFd fd(syscalls().open(path.c_str(), O_RDONLY, 0));
  if (!fd.valid()) return LastError();
  char buf[65536];
  for (;;) {
    long n = syscalls().read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) return {};
    out.append(buf, static_cast<std::size_t>(n));
  }
}

std::error_code WriteFileAtomic(const std::string& path, std::string_view data) {
  auto [folder_path, name] = SplitPath(path);
  std::error_code ec;
  UniqueFd folder = OpenFolderSafely(folder_path, ec);
  if (!folder.valid()) return ec;
  unsigned mode = 0666;
  struct stat st;
  if (syscalls().fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    // A link is replaced by the new file, never written through; one that others could have
    // planted is refused, so that the file it stands for is not taken over either.
    if (S_ISLNK(st.st_mode) && !LinkIsTrusted(folder.get(), st)) {
      return std::make_error_code(std::errc::too_many_symbolic_link_levels);
    }
    if (S_ISREG(st.st_mode)) mode = st.st_mode & 07777;
  }
  // A fresh name each try: O_EXCL never opens an entry someone put there first. The file is
  // locked (flock) until it is renamed, so that RemoveStaleAtomicWriteFiles can tell it from one
  // whose writer is gone; a cleaner that took the lock between the creation and this lock has
  // removed the file, and another name is tried.
  std::string temp;
  UniqueFd fd;
  for (int attempt = 0; attempt < 8 && !fd.valid(); ++attempt) {
    ec.clear();
    temp = TempNameBeside(path);
    fd = OpenForWriting(temp, O_WRONLY | O_CREAT | O_EXCL, mode, ec);
    if (!fd.valid() && ec != std::errc::file_exists) return ec;
    if (!fd.valid()) continue;
    // Where the file system has no locks, no cleaner can take one either and removes nothing.
    (void)syscalls().flock(fd.get(), LOCK_EX);
    struct stat held, named;
    if (syscalls().fstat(fd.get(), &held) != 0 ||
        syscalls().fstatat(folder.get(), SplitPath(temp).second.c_str(), &named,
                           AT_SYMLINK_NOFOLLOW) != 0 ||
        held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
      fd.reset();
      ec = std::make_error_code(std::errc::resource_unavailable_try_again);
    }
  }
  if (!fd.valid()) return ec;
  // The umask applied at creation; an existing file's own bits are restored exactly.
  if (mode != 0666) syscalls().fchmod(fd.get(), mode);
  ec = WriteAll(fd.get(), data);
  if (!ec && syscalls().fsync(fd.get()) != 0) ec = LastError();
  // Renamed while still locked, and closed (which unlocks) after.
  const std::string temp_name = SplitPath(temp).second;
  if (!ec &&
      syscalls().renameat(folder.get(), temp_name.c_str(), folder.get(), name.c_str()) != 0) {
    ec = LastError();
  }
  if (ec) syscalls().unlinkat(folder.get(), temp_name.c_str(), 0);
  if (auto closed = fd.Close(); closed && !ec) ec = closed;
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
    if (!std::isxdigit(static_cast<unsigned char>(c)) ||
        std::isupper(static_cast<unsigned char>(c))) {
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
  for (const std::string& name : names) {
    if (!IsAtomicWriteName(name)) continue;
    const std::string path = Join(folder, name);
    UniqueFd fd(syscalls().open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0));
    if (!fd.valid()) continue;
    struct stat st;
    // A writer under way holds the lock until its rename.
    if (syscalls().fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
        syscalls().flock(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
        syscalls().unlink(path.c_str()) == 0) {
      removed.push_back(path);
    }
  }
  return removed;
}

std::error_code AppendToFile(const std::string& path, std::string_view data) {
  std::error_code ec;
  UniqueFd fd = OpenForWriting(path, O_WRONLY | O_CREAT | O_APPEND, 0666, ec);
  if (!fd.valid()) return ec;
  ec = WriteAll(fd.get(), data);
  if (auto closed = fd.Close(); closed && !ec) ec = closed;
  return ec;
}

std::error_code CreateTextFile(const std::string& path) {
  std::error_code ec;
  UniqueFd fd = OpenForWriting(path, O_WRONLY | O_CREAT, 0666, ec);
  return fd.valid() ? std::error_code{} : ec;
}

std::string UpdateLockName(const std::string& file_name) {
  std::string lower = file_name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "." + lower + ".lock";
}

FileUpdateLock::FileUpdateLock(const std::string& path, int timeout_ms) {
  auto [folder_path, name] = SplitPath(path);
  UniqueFd folder = OpenFolderSafely(folder_path, error_);
  if (!folder.valid()) return;
  lock_name_ = UpdateLockName(name);
  for (int waited = 0;;) {
    UniqueFd fd(syscalls().openat(folder.get(), lock_name_.c_str(),
                                  O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0644));
    if (!fd.valid()) {
      error_ = LastError();
      return;
    }
    struct stat st;
    if (syscalls().fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      error_ = std::make_error_code(std::errc::invalid_argument);
      return;
    }
    // Every user of the folder must be able to open it to take the lock.
    if (st.st_uid == ::geteuid() && (st.st_mode & 0044) != 0044) syscalls().fchmod(fd.get(), 0644);
    while (syscalls().flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        error_ = LastError();
        return;
      }
      if (waited >= timeout_ms) {
        error_ = std::make_error_code(std::errc::timed_out);
        return;
      }
      SleepMilliseconds(5);
      waited += 5;
    }
    // The holder before us removes the file as it gives the lock up: a lock on a file that is
    // no longer the folder's entry of that name excludes nobody, so start again.
    struct stat entry;
    if (syscalls().fstatat(folder.get(), lock_name_.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
        entry.st_dev == st.st_dev && entry.st_ino == st.st_ino) {
      fd_ = std::move(fd);
      folder_ = std::move(folder);
      return;
    }
  }
}

FileUpdateLock::~FileUpdateLock() {
  if (!fd_.valid()) return;
  // Removed while still held, so that no lock file stays beside the file (one of a process
  // killed meanwhile goes with the next update).
  syscalls().unlinkat(folder_.get(), lock_name_.c_str(), 0);
  fd_.reset();
}

bool Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && syscalls().stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && syscalls().stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return !path.empty() && syscalls().stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsWritable(const std::string& path) {
  return !path.empty() && !ReadOnlyBySeam(path) && syscalls().access(path.c_str(), W_OK) == 0;
}

std::error_code FileSize(const std::string& path, std::uint64_t& size) {
  struct stat st;
  if (syscalls().stat(path.c_str(), &st) != 0) return LastError();
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
  const std::string trimmed = WithoutTrailingSlash(path);
  const std::string parent = ParentFolder(trimmed);
  if (!parent.empty() && parent != trimmed && !IsDirectory(parent)) {
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
  unsigned mode = syscalls().stat(from.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0666;
  std::error_code ec;
  UniqueFd fd = OpenForWriting(to, O_WRONLY | O_CREAT | O_TRUNC, mode, ec);
  if (!fd.valid()) return ec;
  ec = WriteAll(fd.get(), data);
  if (auto closed = fd.Close(); closed && !ec) ec = closed;
  return ec;
}

std::error_code ListDirectory(const std::string& path, std::vector<std::string>& names) {
  names.clear();
  return ListFolder(path, [&names](const FolderEntry& entry) {
    names.emplace_back(entry.name);
    return true;
  });
}

std::error_code ListDirectoryEntries(const std::string& path, std::vector<DirEntry>& entries) {
  entries.clear();
  return ListFolder(path, [&](const FolderEntry& entry) {
    DirEntry item{entry.name, entry.type == DT_DIR};
    // Links and file systems that do not report kinds need a look at the entry itself.
    if (entry.type == DT_LNK || entry.type == DT_UNKNOWN) {
      item.is_directory = IsDirectory(Join(path, item.name));
    }
    entries.push_back(std::move(item));
    return true;
  });
}

std::error_code GetFileTimes(const std::string& path, FileTimes& times) {
  times = FileTimes{};
  struct statx stx;
  if (syscalls().statx(AT_FDCWD, path.c_str(), 0, STATX_MTIME | STATX_BTIME, &stx) == 0) {
    times.modified = stx.stx_mtime.tv_sec;
    if (stx.stx_mask & STATX_BTIME) times.created = stx.stx_btime.tv_sec;
    return {};
  }
  // Kernels or file systems without statx: the modification time alone.
  struct stat st;
  if (syscalls().stat(path.c_str(), &st) != 0) return LastError();
  times.modified = st.st_mtime;
  return {};
}

std::error_code SetModificationTime(const std::string& path, std::int64_t seconds) {
  struct timespec both[2];
  both[0].tv_sec = both[1].tv_sec = static_cast<time_t>(seconds);
  both[0].tv_nsec = both[1].tv_nsec = 0;
  if (syscalls().utimensat(AT_FDCWD, path.c_str(), both, 0) != 0) return LastError();
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
  if (syscalls().stat(path.c_str(), &st) != 0) return LastError();
  locked = (st.st_mode & S_IWUSR) == 0;
  return {};
}

std::error_code Unlock(const std::string& path) {
  struct stat st;
  if (syscalls().stat(path.c_str(), &st) != 0) return LastError();
  if ((st.st_mode & S_IWUSR) == 0 &&
      syscalls().chmod(path.c_str(), (st.st_mode | S_IWUSR) & 07777) != 0) {
    return LastError();
  }
  return {};
}

std::error_code CreateEmptyFile(const std::string& path) {
  std::error_code ec;
  UniqueFd fd = OpenForWriting(path, O_WRONLY | O_CREAT | O_TRUNC, 0666, ec);
  if (!fd.valid()) return ec;
  return fd.Close();
}

std::error_code CheckReadable(const std::string& path) {
  UniqueFd fd(syscalls().open(path.c_str(), O_RDONLY, 0));
  if (!fd.valid()) return LastError();
  return {};
}

std::error_code MoveTree(const std::string& from, const std::string& to) {
  struct stat st;
  if (syscalls().lstat(from.c_str(), &st) != 0) return LastError();
  // rename() would silently replace a file or an empty folder at the target.
  if (syscalls().lstat(to.c_str(), &st) == 0) return std::make_error_code(std::errc::file_exists);
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
