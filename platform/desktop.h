// Desktop launchers: freedesktop.org Desktop Entry files ("<name>.desktop", Type=Application),
// the stand-ins for aliases. A desktop or a shared folder shows each with its application's
// icon and starts the application when it is opened.
#pragma once

#include <string>
#include <system_error>

namespace nuvel::platform {

struct DesktopLauncher {
  std::string name;  // the name shown (Name=)
  std::string exec;  // the program's absolute path; Exec= holds it quoted
  std::string icon;  // the absolute path of its icon image (Icon=)
  std::string categories;  // the menu's categories ("Education;"), none when empty
};

/// The text of a launcher file, LF line ends.
std::string DesktopEntryText(const DesktopLauncher& launcher);

/// One Exec= argument: always quoted, with the characters the Desktop Entry specification
/// reserves escaped and "%" doubled, so that no field code or shell syntax is ever read into a
/// path. The result is a string value still to be escaped with EscapeDesktopString.
std::string QuoteExecArgument(const std::string& argument);

/// A value of type string: backslash, newline, tab and carriage return written as escapes.
std::string EscapeDesktopString(const std::string& value);

/// Writes the launcher file at `path` (replacing an earlier file or link of that name) through
/// a temporary file in the same folder renamed over it, so that a desktop never sees half a
/// launcher. The file is executable (0755), which desktops require of a launcher they trust.
/// EBUSY when the name is taken by something that is not a file we may replace: a folder or
/// another non-regular entry, or a file the folder's sticky bit or an immutable flag protects.
std::error_code WriteDesktopLauncher(const std::string& path, const DesktopLauncher& launcher);

/// Deletes the launcher file. ENOENT when there is none, EBUSY as for WriteDesktopLauncher.
std::error_code DeleteDesktopLauncher(const std::string& path);

}  // namespace nuvel::platform
