#include "platform/desktop.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/syscalls.h"
#include "platform/unique_fd.h"

namespace nuvel::platform {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }
std::error_code Busy() { return std::make_error_code(std::errc::device_or_resource_busy); }

constexpr unsigned kLauncherMode = 0755;

// The errors by which rename() and unlink() say "this name holds something we may not
// replace": they all mean "busy" to the caller, which then tries its alternate name.
bool MeansBusy(int error) {
  return error == EISDIR || error == ENOTEMPTY || error == EEXIST || error == EBUSY ||
         error == ETXTBSY || error == EPERM;
}

// An existing entry that is neither a regular file nor a symbolic link is never replaced.
std::error_code CheckReplaceable(const std::string& path) {
  struct stat st;
  if (syscalls().lstat(path.c_str(), &st) != 0)
    return errno == ENOENT ? std::error_code{} : LastError();
  if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return {};
  return Busy();
}

}  // namespace

std::string QuoteExecArgument(const std::string& argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
    if (c == '%') quoted += '%';
  }
  return quoted + "\"";
}

std::string EscapeDesktopString(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\r':
        escaped += "\\r";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string DesktopEntryText(const DesktopLauncher& launcher) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.0\n"
         "Name=" +
         EscapeDesktopString(launcher.name) +
         "\nExec=" + EscapeDesktopString(QuoteExecArgument(launcher.exec)) +
         "\nIcon=" + EscapeDesktopString(launcher.icon) + "\nTerminal=false\n" +
         (launcher.categories.empty()
              ? ""
              : "Categories=" + EscapeDesktopString(launcher.categories) + "\n");
}

std::error_code WriteDesktopLauncher(const std::string& path, const DesktopLauncher& launcher) {
  if (auto ec = CheckReplaceable(path)) return ec;
  std::string text = DesktopEntryText(launcher);
  std::string temp = TempNameBeside(path);
  UniqueFd fd(syscalls().open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, kLauncherMode));
  if (!fd.valid()) return LastError();
  std::error_code ec = WriteAll(fd.get(), text);
  // The umask may have taken the execute bits away.
  if (!ec && syscalls().fchmod(fd.get(), kLauncherMode) != 0) ec = LastError();
  if (!ec && syscalls().fsync(fd.get()) != 0) ec = LastError();
  if (auto closed = fd.Close(); closed && !ec) ec = closed;
  if (!ec && syscalls().rename(temp.c_str(), path.c_str()) != 0) {
    ec = MeansBusy(errno) ? Busy() : LastError();
  }
  if (ec) syscalls().unlink(temp.c_str());
  return ec;
}

std::error_code DeleteDesktopLauncher(const std::string& path) {
  if (auto ec = CheckReplaceable(path)) return ec;
  if (syscalls().unlink(path.c_str()) == 0) return {};
  return MeansBusy(errno) ? Busy() : LastError();
}

}  // namespace nuvel::platform
