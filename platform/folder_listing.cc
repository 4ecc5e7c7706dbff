#include "platform/folder_listing.h"

#include <fcntl.h>

#include <cerrno>
#include <string_view>

#include "platform/syscalls.h"

namespace nuvel::platform {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

}  // namespace

DirStream::~DirStream() {
  if (dir_) {
    int saved = errno;
    syscalls().closedir(dir_);
    errno = saved;
  }
}

DirStream& DirStream::operator=(DirStream&& other) noexcept {
  if (this != &other) {
    DirStream old(std::move(*this));
    dir_ = other.dir_;
    other.dir_ = nullptr;
  }
  return *this;
}

std::error_code DirStream::Open(UniqueFd folder) {
  *this = DirStream();
  if (!folder.valid()) return std::make_error_code(std::errc::bad_file_descriptor);
  DIR* dir = syscalls().fdopendir(folder.get());
  if (!dir) return LastError();  // `folder` still owns the descriptor and closes it
  folder.release();              // the stream owns it now
  dir_ = dir;
  return {};
}

int DirStream::fd() const { return dir_ ? ::dirfd(dir_) : -1; }

const dirent* DirStream::Next(std::error_code& ec) {
  ec.clear();
  if (!dir_) {
    ec = std::make_error_code(std::errc::bad_file_descriptor);
    return nullptr;
  }
  // readdir() tells the end from an error only by errno, which it leaves alone at the end.
  errno = 0;
  const dirent* entry = syscalls().readdir(dir_);
  if (!entry && errno != 0) ec = LastError();
  return entry;
}

std::error_code ListFolder(UniqueFd folder, const FolderVisitor& visit) {
  DirStream stream;
  if (auto ec = stream.Open(std::move(folder))) return ec;
  std::error_code ec;
  while (const dirent* entry = stream.Next(ec)) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (!visit(FolderEntry{entry->d_name, entry->d_type, stream.fd()})) break;
  }
  return ec;
}

std::error_code ListFolder(const std::string& path, const FolderVisitor& visit) {
  UniqueFd folder(syscalls().open(path.c_str(), O_RDONLY | O_DIRECTORY, 0));
  if (!folder.valid()) return LastError();
  return ListFolder(std::move(folder), visit);
}

}  // namespace nuvel::platform
