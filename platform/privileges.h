// Folders that need more rights than an ordinary user has.
#pragma once

#include <string>
#include <system_error>

namespace nuvel::platform {

/// Creates the machine-wide system folder (and its missing parents). Done directly when this
/// process may create it: when the nearest existing parent is writable to it (for root, unless
/// the file system is read-only or the NUVEL_READONLY_FOLDERS seam says otherwise). Otherwise
/// the privileged helper (PrivilegedHelperPath) does it, through
/// "pkexec <helper> create-system-folder <path>" (the desktop asks for an administrator's
/// password); the folder is looked for afterwards, and its absence is EACCES whatever the
/// helper said. ENOENT when the helper is not there. Either way the folder ends with mode 0777
/// and no sticky bit (see files.h: every user replaces records.ini by a rename).
std::error_code CreateSystemFolder(const std::string& path);

/// Whether this process acts for the whole machine (its effective user is root), so that what
/// it makes for every account (the menu launchers) is its to make. The test seam
/// NUVEL_TEST_ADMINISTRATOR ("1" or "0") answers instead, so that both cases run whoever runs
/// the tests.
bool RunningAsAdministrator();

/// The privileged helper "NuvelTool": beside the running executable (the build tree), else in
/// the installed layout's kInstalledHelperFolder (folders.h); the path beside the executable
/// when it is in neither place.
std::string PrivilegedHelperPath();

/// Makes `path` the helper that CreateSystemFolder runs; "" restores the one beside the
/// executable. For tests.
void SetPrivilegedHelperForTesting(const std::string& path);

/// Adds write permission for the group and others to an existing folder (mode bits 022), so that
/// every user of the machine can keep shared data in it. Errors are ignored by callers.
std::error_code OpenGroupAndOtherWrite(const std::string& path);

}  // namespace nuvel::platform
