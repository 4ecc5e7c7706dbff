#include "platform/trash.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "platform/process.h"
#include "platform/syscalls.h"
#include "platform/unique_fd.h"

namespace nuvel::platform {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

constexpr unsigned kTrashFolderMode = 0700;

// Creates the folder and its missing parents with mode 0700: the trash (and a data folder
// made for it) is private to the user.
std::error_code MakePrivateFolders(const std::string& path) {
  std::string partial;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    partial = path.substr(0, slash);
    start = slash + 1;
    if (partial.empty()) continue;
    if (syscalls().mkdir(partial.c_str(), kTrashFolderMode) != 0 && errno != EEXIST) {
      return LastError();
    }
  }
  return IsDirectory(path) ? std::error_code{} : std::make_error_code(std::errc::not_a_directory);
}

bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::error_code WriteNewFile(const std::string& path, const std::string& data) {
  UniqueFd fd(syscalls().open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
  if (!fd.valid()) return LastError();
  std::error_code ec = WriteAll(fd.get(), data);
  if (auto closed = fd.Close(); closed && !ec) ec = closed;
  if (ec) syscalls().unlink(path.c_str());
  return ec;
}

}  // namespace

std::string HomeTrashFolder() { return DataHomeFolder() + "/Trash"; }

bool TrashHoldsName(const std::string& name) {
  struct stat st;
  std::string trash = HomeTrashFolder();
  return syscalls().lstat((trash + "/files/" + name).c_str(), &st) == 0 ||
         syscalls().lstat((trash + "/info/" + name + ".trashinfo").c_str(), &st) == 0;
}

std::string TrashInfoText(const std::string& original_path) {
  LocalTime now = Now();
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02dT%02d:%02d:%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  return "[Trash Info]\nPath=" + PercentEncodePath(original_path) + "\nDeletionDate=" + date + "\n";
}

std::error_code MoveToTrash(const std::string& path, const std::string& name) {
  if (path.empty() || path[0] != '/' || !PlainName(name)) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  std::string source = WithoutTrailingSlash(path);
  struct stat st;
  if (syscalls().lstat(source.c_str(), &st) != 0) return LastError();

  std::string trash = HomeTrashFolder();
  // Moving the trash (or a folder holding it) into itself can never end well.
  if (source == "/" || trash == source || trash.starts_with(source + "/")) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  if (auto ec = MakePrivateFolders(trash + "/files")) return ec;
  if (auto ec = MakePrivateFolders(trash + "/info")) return ec;

  std::string target = trash + "/files/" + name;
  if (syscalls().lstat(target.c_str(), &st) == 0)
    return std::make_error_code(std::errc::file_exists);
  std::string info = trash + "/info/" + name + ".trashinfo";
  if (auto ec = WriteNewFile(info, TrashInfoText(source))) return ec;
  if (auto ec = MoveTree(source, target)) {
    syscalls().unlink(info.c_str());
    return ec;
  }
  return {};
}

}  // namespace nuvel::platform
