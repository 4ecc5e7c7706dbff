#include "platform/copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/path_text.h"
#include "platform/syscalls.h"

namespace nuvel::platform {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }
std::error_code ErrorOf(int code) { return {code, std::generic_category()}; }

// Bytes handed to copy_file_range at a time: large enough that the call costs nothing next to
// the data, small enough that the progress bar moves during a big file.
constexpr std::size_t kKernelChunk = 8u << 20;
// The buffer of the read/write path, allocated once per thread and reused for every file.
constexpr std::size_t kBufferSize = 1u << 20;

// Longest file name the Linux file systems accept.
constexpr std::size_t kMaxNameBytes = 255;

char* CopyBuffer() {
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) buffer = std::make_unique<char[]>(kBufferSize);
  return buffer.get();
}

// Errors of copy_file_range that only say "not between these two files": the data then goes
// through the buffer instead.
bool KernelCopyUnsupported(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
         error == ENOTSUP || error == EBADF || error == ETXTBSY;
}

// Copies from the current position of `in` to the current position of `out` until the end of
// `in`. The kernel path stops at its first refusal; the buffered path then carries on from
// where it stopped.
// Copies the data of `in` to `out`. `size` is the size the source reported: once that much is
// copied the copy ends without asking the kernel for an end of file it already announced (a
// system call per file saved, which shows on trees of many small files).
std::error_code CopyData(int in, int out, std::uint64_t size, const CopyProgress& progress) {
  std::uint64_t copied = 0;
  for (;;) {
    long n = syscalls().copy_file_range(in, out, kKernelChunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (KernelCopyUnsupported(errno)) break;
      return LastError();
    }
    // The end of the file, unless nothing was copied at all: files whose size the kernel does
    // not know (those of /proc, say) also end at once and must be read.
    if (n == 0 && copied > 0) return {};
    if (n == 0) break;
    copied += static_cast<std::uint64_t>(n);
    if (progress) progress(static_cast<std::uint64_t>(n));
    if (size > 0 && copied == size) return {};
  }
  char* buffer = CopyBuffer();
  for (;;) {
    long n = syscalls().read(in, buffer, kBufferSize);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) return {};
    if (auto ec = WriteAll(out, std::string_view(buffer, static_cast<std::size_t>(n)))) return ec;
    if (progress) progress(static_cast<std::uint64_t>(n));
  }
}

// An attribute this process may skip: the destination cannot hold it, or it lies in a
// namespace ("trusted.", "security.", "system.") that needs privileges we do not have.
bool SkippableAttributeError(int error, std::string_view name) {
  if (error == ENOTSUP || error == EOPNOTSUPP) return true;
  bool user_namespace = name.starts_with("user.");
  return !user_namespace && (error == EPERM || error == EACCES);
}

std::error_code CopyAttributes(int from, int to) {
  std::string names;
  for (;;) {
    ssize_t size = syscalls().flistxattr(from, nullptr, 0);
    if (size < 0) {
      return errno == ENOTSUP || errno == EOPNOTSUPP ? std::error_code{} : LastError();
    }
    if (size == 0) return {};
    names.resize(static_cast<std::size_t>(size));
    size = syscalls().flistxattr(from, names.data(), names.size());
    if (size >= 0) {
      names.resize(static_cast<std::size_t>(size));
      break;
    }
    if (errno != ERANGE) return LastError();  // the list grew in between: ask again
  }
  std::string value;
  for (std::size_t start = 0; start < names.size();) {
    std::size_t end = names.find('\0', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    ssize_t size = syscalls().fgetxattr(from, name.c_str(), nullptr, 0);
    if (size >= 0) {
      value.resize(static_cast<std::size_t>(size));
      size = syscalls().fgetxattr(from, name.c_str(), value.data(), value.size());
    }
    if (size < 0) {
      if (errno == ENODATA || SkippableAttributeError(errno, name)) continue;
      return LastError();
    }
    if (syscalls().fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(size), 0) !=
            0 &&
        !SkippableAttributeError(errno, name)) {
      return LastError();
    }
  }
  return {};
}

std::error_code SetTimes(int fd, const struct stat& st) {
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (syscalls().futimens(fd, times) != 0) return LastError();
  return {};
}

// Flags of every new file: O_EXCL also refuses a link under the name, dangling or not.
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
// Flags of every folder a copy writes into.
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW;

// Opens a new partial file exclusively; one left by an interrupted earlier run is removed first.
int CreatePartial(int dirfd, const std::string& partial, unsigned mode) {
  int fd = syscalls().openat(dirfd, partial.c_str(), kCreateFlags, mode);
  if (fd < 0 && errno == EEXIST && syscalls().unlinkat(dirfd, partial.c_str(), 0) == 0) {
    fd = syscalls().openat(dirfd, partial.c_str(), kCreateFlags, mode);
  }
  return fd;
}

// Removes the partial file after a failure without disturbing the errno being reported.
void DiscardPartial(int dirfd, const std::string& partial) {
  int saved = errno;
  syscalls().unlinkat(dirfd, partial.c_str(), 0);
  errno = saved;
}

// Sets both times of the file open on `fd` to the busy mark. A file system that cannot hold so
// early a time (FAT) keeps another; the copy goes on, only the mark is lost.
void MarkBusy(int fd) {
  const struct timespec busy[2] = {{static_cast<time_t>(kBusyTime), 0},
                                   {static_cast<time_t>(kBusyTime), 0}};
  syscalls().futimens(fd, busy);
}

bool BusyMarked(const struct stat& st) {
  return st.st_mtim.tv_sec == static_cast<time_t>(kBusyTime) && st.st_mtim.tv_nsec == 0;
}

// The permission bits a copy takes: the source's, with the owner's write permission added, so
// that what was copied from a read-only disc can be updated, amended and removed later.
mode_t WritableMode(mode_t mode) { return (mode & 07777) | S_IWUSR; }

ObjectKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return ObjectKind::kFile;
  if (S_ISDIR(mode)) return ObjectKind::kDirectory;
  if (S_ISLNK(mode)) return ObjectKind::kSymlink;
  return ObjectKind::kOther;
}

ObjectKind KindOfDirent(unsigned char type) {
  switch (type) {
    case DT_REG:
      return ObjectKind::kFile;
    case DT_DIR:
      return ObjectKind::kDirectory;
    case DT_LNK:
      return ObjectKind::kSymlink;
    case DT_UNKNOWN:
      return ObjectKind::kMissing;  // ask the entry itself
    default:
      return ObjectKind::kOther;
  }
}

// Lists the folder open on `folder`.
std::error_code ListOpenFolder(UniqueFd folder, std::vector<TreeEntry>& entries, bool with_sizes) {
  entries.clear();
  return ListFolder(std::move(folder), [&](const FolderEntry& entry) {
    TreeEntry item{entry.name, KindOfDirent(entry.type)};
    if (item.kind == ObjectKind::kMissing || (with_sizes && item.kind == ObjectKind::kFile)) {
      struct stat st;
      if (syscalls().fstatat(entry.folder_fd, entry.name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        item.kind = KindOfMode(st.st_mode);
        if (item.kind == ObjectKind::kFile) item.size = static_cast<std::uint64_t>(st.st_size);
      } else {
        item.kind = ObjectKind::kOther;
      }
    }
    entries.push_back(std::move(item));
    return true;
  });
}

std::uint64_t HashOf(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

}  // namespace

std::string PartialPathFor(const std::string& path) {
  const std::string name = FileName(path);
  std::string partial = "." + name + std::string(kPartialSuffix);
  if (partial.size() > kMaxNameBytes) {
    char hash[20];
    std::snprintf(hash, sizeof hash, "-%016llx", static_cast<unsigned long long>(HashOf(name)));
    std::size_t keep = kMaxNameBytes - 1 - kPartialSuffix.size() - 17;
    partial = "." + name.substr(0, keep) + hash + std::string(kPartialSuffix);
  }
  return FolderPrefix(path) + partial;
}

bool IsPartialName(std::string_view name) {
  return name.size() > 1 + kPartialSuffix.size() && name.front() == '.' &&
         name.ends_with(kPartialSuffix);
}

std::error_code Inspect(const std::string& path, ObjectInfo& info) {
  info = ObjectInfo{};
  struct stat st;
  if (syscalls().lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return {};
    return LastError();
  }
  info.kind = KindOfMode(st.st_mode);
  if (info.kind == ObjectKind::kFile) info.size = static_cast<std::uint64_t>(st.st_size);
  return {};
}

std::error_code ListTreeEntries(const std::string& folder, std::vector<TreeEntry>& entries,
                                bool with_sizes) {
  UniqueFd fd(syscalls().open(folder.c_str(), O_RDONLY | O_DIRECTORY, 0));
  if (!fd.valid()) return LastError();
  return ListOpenFolder(std::move(fd), entries, with_sizes);
}

std::error_code CopyRegularFile(const std::string& from, const CopyFolder& to,
                                const std::string& name, const CopyProgress& progress) {
  UniqueFd in(syscalls().open(from.c_str(), O_RDONLY, 0));
  if (!in.valid()) return LastError();
  struct stat st;
  std::error_code ec;
  if (syscalls().fstat(in.get(), &st) != 0) {
    ec = LastError();
  } else if (!S_ISREG(st.st_mode)) {
    ec = ErrorOf(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  }
  PartialFile out;
  if (!ec) ec = out.Open(to, name, 0600);
  if (!ec) {
    ec = CopyData(in.get(), out.fd_.get(), static_cast<std::uint64_t>(st.st_size), progress);
  }
  if (!ec) ec = CopyAttributes(in.get(), out.fd_.get());
  // The mode is set after the attributes: an access list copied as an attribute would otherwise
  // leave its own mask in the group bits.
  if (!ec && syscalls().fchmod(out.fd_.get(), WritableMode(st.st_mode)) != 0) ec = LastError();
  if (!ec) ec = SetTimes(out.fd_.get(), st);  // also clears the busy mark
  if (!ec) ec = out.Place();
  return ec;  // a failure before Place() leaves `out` to remove what it wrote
}

std::error_code CopySymlink(const std::string& from, const CopyFolder& to,
                            const std::string& name) {
  struct stat st;
  if (syscalls().lstat(from.c_str(), &st) != 0) return LastError();
  if (!S_ISLNK(st.st_mode)) return ErrorOf(EINVAL);
  std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
  for (;;) {
    ssize_t n = syscalls().readlink(from.c_str(), target.data(), target.size());
    if (n < 0) return LastError();
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      break;
    }
    target.resize(target.size() * 2);  // the link changed in between and grew
  }
  const int dirfd = to.fd();
  std::string partial = PartialPathFor(name);
  if (syscalls().symlinkat(target.c_str(), dirfd, partial.c_str()) != 0) {
    if (errno != EEXIST || syscalls().unlinkat(dirfd, partial.c_str(), 0) != 0 ||
        syscalls().symlinkat(target.c_str(), dirfd, partial.c_str()) != 0) {
      return LastError();
    }
  }
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  std::error_code ec;
  if (syscalls().utimensat(dirfd, partial.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    ec = LastError();
  if (!ec && syscalls().renameat(dirfd, partial.c_str(), dirfd, name.c_str()) != 0) {
    ec = LastError();
  }
  if (ec) DiscardPartial(dirfd, partial);
  return ec;
}

CopyFolder::~CopyFolder() { Close(); }

void CopyFolder::Close() {
  fd_.reset();
  created_ = replaced_link_ = false;
}

namespace {

// Opens the folder `name` of the folder open on `parent`, making it when missing. A link there
// is removed and a real folder made instead; so is a link planted again in between, a few
// times, before the open gives up.
std::error_code OpenSubfolder(int parent, const std::string& name, UniqueFd& fd, bool& created,
                              bool& replaced_link) {
  created = replaced_link = false;
  for (int attempt = 0; attempt < 4; ++attempt) {
    created = syscalls().mkdirat(parent, name.c_str(), 0700) == 0;
    if (created) {
    } else if (errno != EEXIST) {
      return LastError();
    }
    fd.reset(syscalls().openat(parent, name.c_str(), kFolderFlags, 0));
    if (fd.valid()) return {};
    if (errno == ENOENT) continue;  // removed in between: make it again
    if (errno != ELOOP && errno != ENOTDIR) return LastError();
    struct stat st;
    if (syscalls().fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      return LastError();
    }
    if (S_ISDIR(st.st_mode)) continue;  // a link swapped back for a folder
    if (!S_ISLNK(st.st_mode)) return ErrorOf(ENOTDIR);
    if (syscalls().unlinkat(parent, name.c_str(), 0) != 0 && errno != ENOENT) return LastError();
    replaced_link = true;
  }
  return ErrorOf(ELOOP);
}

}  // namespace

std::error_code OpenFolder(const std::string& path, CopyFolder& out) {
  out.Close();
  out.fd_.reset(syscalls().open(path.c_str(), O_RDONLY | O_DIRECTORY, 0));
  if (!out.fd_.valid()) return LastError();
  out.path_ = path;
  return {};
}

std::error_code OpenCopyDestination(const std::string& path, CopyFolder& out) {
  out.Close();
  const std::string name = FileName(path);
  if (name.empty() || name == "." || name == "..") return OpenFolder(path, out);
  CopyFolder parent;
  const std::string parent_path = ParentFolder(path);
  if (auto ec = OpenFolder(parent_path.empty() ? "." : parent_path, parent)) return ec;
  if (auto ec = OpenSubfolder(parent.fd(), name, out.fd_, out.created_, out.replaced_link_)) {
    return ec;
  }
  out.path_ = path;
  return {};
}

std::error_code OpenCopySubfolder(const CopyFolder& parent, const std::string& name,
                                  CopyFolder& out) {
  out.Close();
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return ErrorOf(EINVAL);
  }
  if (auto ec = OpenSubfolder(parent.fd(), name, out.fd_, out.created_, out.replaced_link_)) {
    return ec;
  }
  out.path_ = Join(parent.path_, name);
  return {};
}

std::error_code CopyFolderAttributes(const std::string& from, const CopyFolder& to) {
  UniqueFd in(syscalls().open(from.c_str(), O_RDONLY | O_DIRECTORY, 0));
  if (!in.valid()) return LastError();
  struct stat st;
  std::error_code ec;
  if (syscalls().fstat(in.get(), &st) != 0) ec = LastError();
  if (!ec) ec = CopyAttributes(in.get(), to.fd());
  if (!ec && syscalls().fchmod(to.fd(), WritableMode(st.st_mode)) != 0) ec = LastError();
  if (!ec) ec = SetTimes(to.fd(), st);
  return ec;
}

std::error_code CanonicalPath(const std::string& path, std::string& out) {
  std::error_code ec;
  std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
  if (ec) return ec;
  out = resolved.lexically_normal().string();
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return {};
}

bool SameObject(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return syscalls().stat(a.c_str(), &sa) == 0 && syscalls().stat(b.c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::error_code SetLocked(const std::string& path, bool locked) {
  if (!locked) return Unlock(path);
  struct stat st;
  if (syscalls().stat(path.c_str(), &st) != 0) return LastError();
  mode_t mode = st.st_mode & 07777 & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  if (syscalls().chmod(path.c_str(), mode) != 0) return LastError();
  return {};
}

std::error_code RemoveEmptyFolder(const std::string& path) {
  if (syscalls().rmdir(path.c_str()) != 0) return LastError();
  return {};
}

std::error_code RemoveTree(const std::string& path) {
  struct stat st;
  if (syscalls().lstat(path.c_str(), &st) != 0) return LastError();
  if (!S_ISDIR(st.st_mode)) {
    if (syscalls().unlink(path.c_str()) != 0) return LastError();
    return {};
  }

  struct Pending {
    std::string path;
    bool emptied = false;  // its files are gone and its subfolders are above it on the stack
  };
  std::vector<Pending> stack{{path}};
  std::error_code first;
  auto note = [&first](std::error_code ec) {
    if (ec && !first) first = ec;
  };
  std::vector<TreeEntry> entries;
  while (!stack.empty()) {
    if (stack.back().emptied) {
      if (syscalls().rmdir(stack.back().path.c_str()) != 0) note(LastError());
      stack.pop_back();
      continue;
    }
    stack.back().emptied = true;
    std::string folder = stack.back().path;
    // O_NOFOLLOW: a folder swapped for a link since it was listed is not entered.
    UniqueFd fd(syscalls().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0));
    if (!fd.valid()) {
      note(LastError());
      continue;
    }
    struct stat folder_st;
    if (syscalls().fstat(fd.get(), &folder_st) == 0 &&
        (folder_st.st_mode & (S_IWUSR | S_IXUSR)) != (S_IWUSR | S_IXUSR)) {
      syscalls().fchmod(fd.get(), (folder_st.st_mode & 07777) | S_IRWXU);
    }
    if (auto ec = ListOpenFolder(std::move(fd), entries, false)) {
      note(ec);
      continue;
    }
    for (const TreeEntry& entry : entries) {
      std::string child = Join(folder, entry.name);
      if (entry.kind == ObjectKind::kDirectory) {
        stack.push_back({child});
      } else if (syscalls().unlink(child.c_str()) != 0) {
        note(LastError());
      }
    }
  }
  return first;
}

PartialFile::~PartialFile() { Abandon(); }

std::error_code PartialFile::Open(const CopyFolder& folder, const std::string& name,
                                  unsigned mode) {
  Abandon();
  dirfd_ = folder.fd();
  name_ = name;
  fd_.reset(syscalls().openat(dirfd_, name.c_str(), kCreateFlags, mode));
  if (fd_.valid()) {
    created_ = true;
    MarkBusy(fd_.get());
    return {};
  }
  if (errno != EEXIST) return LastError();
  // Something is there already: it stays whole until the new file is complete.
  partial_ = PartialPathFor(name);
  fd_.reset(CreatePartial(dirfd_, partial_, mode));
  if (!fd_.valid()) {
    std::error_code ec = LastError();
    partial_.clear();
    return ec;
  }
  return {};
}

std::error_code PartialFile::Write(const void* data, std::size_t size) {
  if (!fd_.valid()) return ErrorOf(EBADF);
  return WriteAll(fd_.get(), std::string_view(static_cast<const char*>(data), size));
}

std::error_code PartialFile::Commit(int mode, std::int64_t mtime) {
  if (!fd_.valid()) return ErrorOf(EBADF);
  std::error_code ec;
  if (mode >= 0 && syscalls().fchmod(fd_.get(), static_cast<unsigned>(mode)) != 0) {
    ec = LastError();
  }
  if (!ec) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(mtime);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    // Without a time of its own the file is dated now, which also clears the busy mark.
    if (syscalls().futimens(fd_.get(), mtime >= 0 ? times : nullptr) != 0) ec = LastError();
  }
  if (ec) {
    Abandon();
    return ec;
  }
  return Place();
}

std::error_code PartialFile::Place() {
  // close() is where network file systems report write errors.
  std::error_code ec = fd_.Close();
  if (!ec && !partial_.empty() &&
      syscalls().renameat(dirfd_, partial_.c_str(), dirfd_, name_.c_str()) != 0) {
    ec = LastError();
  }
  if (ec) {
    Abandon();
  } else {
    created_ = false;
    partial_.clear();
  }
  return ec;
}

void PartialFile::Abandon() {
  fd_.reset();
  if (created_) {
    DiscardPartial(dirfd_, name_);  // made by this object, so nobody else's file
    created_ = false;
  }
  if (!partial_.empty()) {
    DiscardPartial(dirfd_, partial_);
    partial_.clear();
  }
}

std::error_code RemoveInterruptedCopies(const CopyFolder& folder,
                                        std::vector<std::string>& removed) {
  removed.clear();
  // A descriptor of its own for the listing, which reads through it.
  UniqueFd fd(syscalls().openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY, 0));
  if (!fd.valid()) return LastError();
  std::vector<std::string> names;
  // What was listed before a read error is still cleared; the error is reported.
  std::error_code first = ListFolder(std::move(fd), [&names](const FolderEntry& entry) {
    if (entry.type != DT_REG && entry.type != DT_LNK && entry.type != DT_UNKNOWN) return true;
    struct stat st;
    bool busy = entry.type != DT_LNK &&
                syscalls().fstatat(entry.folder_fd, entry.name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(st.st_mode) && BusyMarked(st);
    if (busy || IsPartialName(entry.name)) names.emplace_back(entry.name);
    return true;
  });
  for (const std::string& name : names) {
    if (syscalls().unlinkat(folder.fd(), name.c_str(), 0) == 0) {
      removed.push_back(Join(folder.path(), name));
    } else if (!first) {
      first = LastError();
    }
  }
  return first;
}

}  // namespace nuvel::platform
