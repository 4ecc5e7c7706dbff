#include "platform/privileges.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "platform/process.h"
#include "platform/syscalls.h"

namespace nuvel::platform {
namespace {

constexpr const char* kHelperName = "NuvelTool";

// Not run state: a test sets the helper around the runs it makes.
std::string& HelperOverride() {
  static std::string path;
  return path;
}

// Whether this process can create `path` itself: its nearest existing ancestor is writable.
bool CanCreateDirectly(const std::string& path) {
  std::string folder = path;
  while (!folder.empty() && !Exists(folder)) {
    if (folder.find('/') == std::string::npos) return false;
    folder = WithoutFileName(folder);
    if (folder.empty()) folder = "/";
    if (folder == "/") break;
  }
  return !folder.empty() && IsWritable(folder);
}

}  // namespace

bool RunningAsAdministrator() {
  if (const char* seam = std::getenv("NUVEL_TEST_ADMINISTRATOR"); seam && *seam) {
    return std::string(seam) == "1";
  }
  return ::geteuid() == 0;
}

std::string PrivilegedHelperPath() {
  if (!HelperOverride().empty()) return HelperOverride();
  const std::string exe = ExecutablePath();
  std::string found = FindShippedFile(exe, kHelperName, kInstalledHelperFolder);
  if (!found.empty()) return found;
  // Neither there: the path beside the executable, for the message that says it is missing.
  const std::string folder = FolderPrefix(exe);
  return folder.empty() ? "" : folder + kHelperName;
}

void SetPrivilegedHelperForTesting(const std::string& path) { HelperOverride() = path; }

std::error_code CreateSystemFolder(const std::string& path) {
  if (IsDirectory(path)) return {};
  // Root passes the writability test wherever creating can succeed (not on a read-only file
  // system); the test is the one place that decides, so that IsWritable's test seam holds here.
  if (CanCreateDirectly(path)) {
    if (auto ec = MakeDirectories(path)) return ec;
    if (syscalls().chmod(path.c_str(), 0777) != 0) return {errno, std::generic_category()};
    return {};
  }

  std::string helper = PrivilegedHelperPath();
  if (helper.empty() || !IsRegularFile(helper)) {
    return std::make_error_code(std::errc::no_such_file_or_directory);
  }
  // The terminal stays with pkexec: without a graphical agent it asks for the password there.
  SpawnOptions options;
  options.search_path = true;
  options.inherit_input = true;
  int pid = 0;
  if (auto ec = Spawn({"pkexec", helper, "create-system-folder", path}, pid, options)) return ec;
  int status = 0;
  if (auto ec = WaitForChild(pid, status)) return ec;
  return IsDirectory(path) ? std::error_code{} : std::make_error_code(std::errc::permission_denied);
}

std::error_code OpenGroupAndOtherWrite(const std::string& path) {
  struct stat st;
  if (syscalls().stat(path.c_str(), &st) != 0) return {errno, std::generic_category()};
  mode_t wanted = st.st_mode | S_IWGRP | S_IWOTH;
  if (wanted != st.st_mode && syscalls().chmod(path.c_str(), wanted & 07777) != 0) {
    return {errno, std::generic_category()};
  }
  return {};
}

}  // namespace nuvel::platform
