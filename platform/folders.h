// The machine's well-known folders. Every machine-wide folder lies under NUVEL_SYSROOT (default
// "/"), and the user's folders follow HOME, XDG_DATA_HOME, XDG_DESKTOP_DIR and TMPDIR, so that
// tests and a technician trying things out can run the whole program inside one folder.
// Results are absolute paths without a trailing "/".
#pragma once

#include <string>
#include <vector>

namespace nuvel::platform {

/// NUVEL_SYSROOT without a trailing "/"; "" for the real root.
std::string SysRoot();

/// The Applications folder ($NUVEL_SYSROOT/opt); the system folder is its "Nuvel".
std::string ApplicationsFolder();

/// The shared user-data folder ($NUVEL_SYSROOT/var/lib).
std::string SharedDataFolder();

/// The current user's home folder (HOME; the password database when HOME is unset).
std::string HomeFolder();

/// The temporary folder (TMPDIR, else /tmp).
std::string TempFolder();

/// XDG_DATA_HOME, else HOME/.local/share.
std::string DataHomeFolder();

/// XDG_DESKTOP_DIR, else HOME/Desktop.
std::string DesktopFolder();

/// The "applications" folders of the system's application menu, one per folder of
/// XDG_DATA_DIRS (default "/usr/local/share:/usr/share"), in that order, each under the sysroot.
/// Relative entries are skipped, as the XDG base directory rules require.
std::vector<std::string> SystemMenuFolders();

/// The menu folder that launchers for every account of the machine go to: the first of
/// SystemMenuFolders that this process may write, or may create in its existing parent
/// (normally /usr/local/share/applications for root). "" when there is none.
std::string SystemMenuFolder();

/// The folder that holds the running application: for an executable inside
/// "Setup.app/Contents/MacOS/" the folder holding "Setup.app", otherwise the executable's own
/// folder. Empty when the executable's path cannot be found.
std::string ApplicationFolder();

/// The running executable's absolute path ("" when unknown).
std::string ExecutablePath();

/// Where the installed program keeps what it ships besides its executables, relative to the
/// executable's folder: the privileged helper in "../libexec/nuvel-setup", the message file
/// and other data in "../share/nuvel-setup" (bin/, libexec/ and share/ of one prefix).
inline constexpr const char* kInstalledHelperFolder = "../libexec/nuvel-setup";
inline constexpr const char* kInstalledDataFolder = "../share/nuvel-setup";

/// A file shipped with the program executable `exe`: `name` beside the executable when it is
/// a regular file there (the build tree, and the copy a Setup started from a disc makes of
/// itself), else `installed_folder`/`name` relative to the executable's folder (the installed
/// layout), normalized without "..". "" when neither is a regular file or `exe` is empty.
std::string FindShippedFile(const std::string& exe, const std::string& name,
                            const std::string& installed_folder);

/// FindShippedFile for the running executable; the folder that holds the running application
/// (ApplicationFolder, which differs from the executable's inside "Setup.app") is tried first.
std::string ShippedDataFile(const std::string& name);

/// Makes a path absolute against the current folder, once, at the command line's edge.
std::string AbsolutePath(const std::string& path);

}  // namespace nuvel::platform
