// Small text operations on POSIX paths, shared by every layer (they touch no file system).
#pragma once

#include <string>

namespace nuvel::platform {

/// The path with one trailing "/" ("" stays "").
inline std::string WithTrailingSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

/// The path without trailing "/" (the root "/" stays).
inline std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

/// The folder holding `path` ("/" for a top-level entry, "" for a bare name).
inline std::string ParentFolder(const std::string& path) {
  std::string trimmed = WithoutTrailingSlash(path);
  auto slash = trimmed.find_last_of('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : trimmed.substr(0, slash);
}

}  // namespace nuvel::platform
