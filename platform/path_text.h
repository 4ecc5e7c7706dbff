// Small text operations on POSIX paths, shared by every layer. They look at the text only and
// never at the file system: "a/b" is split the same whether or not a folder "a" exists.
#pragma once

#include <string>
#include <string_view>

namespace nuvel::platform {

/// The path with one trailing "/" ("" stays ""): "/a" -> "/a/", "/a/" -> "/a/".
inline std::string WithTrailingSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

/// The path without trailing "/" (the root "/" stays): "/a//" -> "/a", "/" -> "/".
inline std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

/// `name` inside `folder`, with one "/" between: ("/a", "b") -> "/a/b", ("/a/", "b") -> "/a/b",
/// ("/", "b") -> "/b"; a name alone stays relative: ("", "b") -> "b".
inline std::string Join(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

/// The text after the last "/": "/a/b.txt" -> "b.txt", "b.txt" -> "b.txt", "/a/" -> "".
inline std::string FileName(std::string_view path) {
  return std::string(path.substr(path.find_last_of('/') + 1));
}

/// The text up to and including the last "/": "/a/b.txt" -> "/a/", "/b" -> "/", "b" -> "".
/// FolderPrefix(p) + FileName(p) == p.
inline std::string FolderPrefix(std::string_view path) {
  auto slash = path.find_last_of('/');
  return slash == std::string_view::npos ? "" : std::string(path.substr(0, slash + 1));
}

/// The text before the last "/": "/a/b.txt" -> "/a", "/b" -> "", "b" -> "". (ParentFolder
/// is the one that knows about the root and trailing slashes.)
inline std::string WithoutFileName(std::string_view path) {
  auto slash = path.find_last_of('/');
  return slash == std::string_view::npos ? "" : std::string(path.substr(0, slash));
}

/// The folder holding `path`, trailing "/" ignored: "/a/b/" -> "/a", "/a" -> "/", "/" -> "/",
/// and "" for a bare name: "b" -> "".
inline std::string ParentFolder(const std::string& path) {
  std::string trimmed = WithoutTrailingSlash(path);
  auto slash = trimmed.find_last_of('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : trimmed.substr(0, slash);
}

/// True when `path` is `folder` or lies below it: ("/a/b", "/a") and ("/a", "/a") are, ("/ab",
/// "/a") is not; every absolute path lies below "/". An empty folder holds nothing.
inline bool IsWithin(std::string_view path, std::string_view folder) {
  if (folder.empty() || !path.starts_with(folder)) return false;
  return path.size() == folder.size() || path[folder.size()] == '/' || folder == "/";
}

}  // namespace nuvel::platform
