#include "base/file_utils.h"

#include <vector>

#include "base/ascii.h"
#include "platform/files.h"

namespace nuvel::base {

bool IsMacHFSFileFormat(const std::string& path) { return path.find(':') != std::string::npos; }

std::string HFSToPOSIX(const std::string& path) {
  if (!IsMacHFSFileFormat(path)) return path;
  std::string result;
  std::size_t colon = path.find(':');
  // Everything after the volume name, with ":" turned into "/".
  for (std::size_t i = colon; i < path.size(); ++i) result += path[i] == ':' ? '/' : path[i];
  return result;
}

std::string FindCaseCorrectedPath(const std::string& path) {
  auto slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  if (folder.empty()) folder = "/";
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return "";
  std::vector<std::string> entries;
  if (platform::ListDirectory(folder, entries)) return "";
  for (const auto& entry : entries) {
    if (EqualsIgnoreCase(entry, name)) {
      return (slash == std::string::npos ? "" : path.substr(0, slash + 1)) + entry;
    }
  }
  return "";
}

std::string ExistingPathAnyCase(const std::string& path) {
  if (path.empty()) return "";
  if (platform::Exists(path)) return path;
  return FindCaseCorrectedPath(path);
}

}  // namespace nuvel::base
