#include "platform/privileges.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/files.h"

namespace nuvel::platform {

std::error_code CreateSystemFolder(const std::string& path) { return MakeDirectories(path); }

std::error_code OpenGroupAndOtherWrite(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {errno, std::generic_category()};
  mode_t wanted = st.st_mode | S_IWGRP | S_IWOTH;
  if (wanted != st.st_mode && ::chmod(path.c_str(), wanted & 07777) != 0) {
    return {errno, std::generic_category()};
  }
  return {};
}

}  // namespace nuvel::platform
