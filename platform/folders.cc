#include "platform/folders.h"
#include "platform/files.h"
#include "platform/path_text.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace nuvel::platform {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::string SysRoot() {
  std::string root = Env("NUVEL_SYSROOT");
  // A relative sysroot would make every folder relative to wherever the program was started.
  if (!root.empty() && root[0] != '/') root = AbsolutePath(root);
  root = WithoutTrailingSlash(root);
  return root == "/" ? "" : root;
}

std::string ApplicationsFolder() { return SysRoot() + "/opt"; }

std::string SharedDataFolder() { return SysRoot() + "/var/lib"; }

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (home.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home = pw->pw_dir;
  }
  return WithoutTrailingSlash(home);
}

std::string TempFolder() {
  std::string tmp = WithoutTrailingSlash(Env("TMPDIR"));
  return tmp.empty() ? "/tmp" : tmp;
}

std::string DataHomeFolder() {
  std::string data = WithoutTrailingSlash(Env("XDG_DATA_HOME"));
  return data.empty() ? HomeFolder() + "/.local/share" : data;
}

std::string DesktopFolder() {
  std::string desktop = WithoutTrailingSlash(Env("XDG_DESKTOP_DIR"));
  return desktop.empty() ? HomeFolder() + "/Desktop" : desktop;
}

std::vector<std::string> SystemMenuFolders() {
  std::string dirs = Env("XDG_DATA_DIRS");
  if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
  std::vector<std::string> folders;
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = WithoutTrailingSlash(dirs.substr(start, end - start));
    if (!dir.empty() && dir[0] == '/') folders.push_back(SysRoot() + dir + "/applications");
    start = end + 1;
  }
  return folders;
}

std::string SystemMenuFolder() {
  for (const std::string& folder : SystemMenuFolders()) {
    if (IsDirectory(folder) ? IsWritable(folder)
                            : IsDirectory(WithoutFileName(folder)) &&
                                  IsWritable(WithoutFileName(folder))) {
      return folder;
    }
  }
  return "";
}

std::string ExecutablePath() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? "" : exe.string();
}

std::string ApplicationFolder() {
  std::filesystem::path exe = ExecutablePath();
  if (exe.empty()) return "";
  std::filesystem::path folder = exe.parent_path();
  // Setup.app/Contents/MacOS/<exe>: the source root is the folder holding the bundle.
  if (folder.filename() == "MacOS" && folder.parent_path().filename() == "Contents" &&
      folder.parent_path().parent_path().extension() == ".app") {
    return folder.parent_path().parent_path().parent_path().string();
  }
  return folder.string();
}

std::string FindShippedFile(const std::string& exe, const std::string& name,
                            const std::string& installed_folder) {
  if (exe.empty()) return "";
  const std::filesystem::path folder = std::filesystem::path(exe).parent_path();
  const std::string beside = (folder / name).string();
  if (IsRegularFile(beside)) return beside;
  const std::string installed = (folder / installed_folder / name).lexically_normal().string();
  return IsRegularFile(installed) ? installed : "";
}

std::string ShippedDataFile(const std::string& name) {
  const std::string application = ApplicationFolder();
  if (!application.empty() && IsRegularFile(application + "/" + name)) {
    return application + "/" + name;
  }
  return FindShippedFile(ExecutablePath(), name, kInstalledDataFolder);
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  auto abs = std::filesystem::absolute(path, ec);
  return WithoutTrailingSlash(ec ? path : abs.lexically_normal().string());
}

}  // namespace nuvel::platform
