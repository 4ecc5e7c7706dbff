// Folders that need more rights than an ordinary user has.
#pragma once

#include <string>
#include <system_error>

namespace nuvel::platform {

/// Creates the machine-wide system folder (and its missing parents). Done directly when this
/// process may create it (as root, or when the parent is writable).
std::error_code CreateSystemFolder(const std::string& path);

/// Adds write permission for the group and others to an existing folder (mode bits 022), so that
/// every user of the machine can keep shared data in it. Errors are ignored by callers.
std::error_code OpenGroupAndOtherWrite(const std::string& path);

}  // namespace nuvel::platform
