#include "platform/terminal.h"

#include "platform/process.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace nuvel::platform {
namespace {

// The terminal settings saved while echo is off, restored after the read and, should the
// process exit in the middle of it, by the exit handler or the quit path (RestoreTerminal).
// Not run state: it mirrors the terminal, whatever run changed it.
struct EchoState {
  volatile std::sig_atomic_t off = false;
  termios saved{};
};

EchoState& Echo() {
  static EchoState state;
  return state;
}

void RestoreEcho() {
  EchoState& echo = Echo();
  if (!echo.off) return;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &echo.saved);
  echo.off = false;
}

bool EchoOff() {
  EchoState& echo = Echo();
  if (::tcgetattr(STDIN_FILENO, &echo.saved) != 0) return false;
  static const bool registered = std::atexit(RestoreEcho) == 0;
  (void)registered;
  termios quiet = echo.saved;
  quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
  quiet.c_lflag |= ECHONL;
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &quiet) != 0) return false;
  echo.off = true;
  return true;
}

}  // namespace

void RestoreTerminal() { RestoreEcho(); }

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }
bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

int TerminalColumns() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

bool ReadTerminalLine(std::string& line, bool echo) {
  line.clear();
  std::fflush(stdout);
  bool hidden = !echo && EchoOff();
  bool got_line = false;
  bool any = false;
  // Byte by byte from the descriptor: nothing is buffered past the line, so a program started
  // later on the same terminal reads what was typed after it.
  for (;;) {
    char c;
    long n = ::read(STDIN_FILENO, &c, 1);
    // A quit signal interrupts the wait: serve it (it ends the run); any other signal resumes.
    if (n < 0 && errno == EINTR) {
      if (ServiceQuitSignal() != 0) break;
      continue;
    }
    if (n <= 0) {
      got_line = any;  // a last line without a line end still counts
      break;
    }
    any = true;
    if (c == '\n') {
      got_line = true;
      break;
    }
    line.push_back(c);
  }
  if (hidden) RestoreEcho();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return got_line;
}

void WriteTerminal(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace nuvel::platform
