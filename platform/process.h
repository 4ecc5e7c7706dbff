// Other programs and this process's own life: starting programs without a shell, waiting for
// them while the user interface stays live, finding running processes, the single-instance lock
// of a creator code, the quit signals, and the desktop's opener for pages and mail addresses.
//
// Nothing here goes through a shell: every path and URL is one argv element of the program
// started, so a name with blanks, quotes or ";" reaches it as it is.
#pragma once

#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace nuvel::platform {

// ---- Starting programs and waiting for them ------------------------------------------------

struct SpawnOptions {
  bool search_path = false;        // argv[0] is a program name looked up in PATH
  bool inherit_input = false;      // keep this process's standard input (default: /dev/null)
  bool own_process_group = false;  // a launched application: the terminal's Ctrl-C stays ours
  std::string output_path;         // standard output and error go to this file ("": inherited)
};

/// Starts argv[0] with the arguments argv[1..] and returns its process id in `pid`. The child
/// starts with the default signal dispositions and an empty signal mask; this process's own
/// descriptors (the instance locks among them) are not passed on. Fails with the error of the
/// start itself: ENOENT for a missing program, EACCES for one that is not executable.
std::error_code Spawn(const std::vector<std::string>& argv, int& pid,
                      const SpawnOptions& options = {});

/// Waits for the child `pid` to end, running the event loop (PumpEventsAndSignals) between
/// short sleeps, and gives its exit status (128 + the signal number for a child killed by a
/// signal). With `timeout_ms` >= 0 the wait gives up after that long with
/// std::errc::timed_out and leaves the child running. A process that is not our child is
/// waited for until it no longer exists (exit status 0).
std::error_code WaitForChild(int pid, int& exit_status, int timeout_ms = -1);

/// Runs a program to its end, pumping events while it runs. Its standard output and error are
/// collected in `output` when it is not null (otherwise inherited).
std::error_code RunAndWait(const std::vector<std::string>& argv, int& exit_status,
                           std::string* output = nullptr, bool search_path = false);

/// True while a process with that id exists and has not ended (a child that ended and was not
/// yet collected counts as ended).
bool ProcessExists(int pid);

/// The id of a running process other than this one whose name contains `text`: its kernel name
/// (/proc/PID/comm, cut at 15 bytes) or the file name of its command (the first element of
/// /proc/PID/cmdline). 0 when there is none.
int FindProcessByName(const std::string& text);

// ---- Single instance ------------------------------------------------------------------------

/// The folder of the single-instance locks: the system folder (the Applications folder's
/// "Nuvel"), which every user and every run with administrator rights sees whatever its
/// runtime or temporary folder; the shared data folder's "Nuvel" when only that one exists.
std::string InstanceLockFolder();

/// The lock file of a creator code: "nuvel-<code>.lock" in InstanceLockFolder().
std::string InstanceLockPath(const std::string& code);

/// Takes the lock of `code` for the rest of the run (an exclusive flock, given up by the system
/// when the process ends). `held_elsewhere` is true, and nothing is taken, when another process
/// holds it; a lock this process holds already counts as taken. An error when the lock file
/// cannot be opened (ENOENT while the lock folder does not exist; ELOOP for a link in its
/// place, which is never followed) or is not a plain file: the lock is then not had, and the
/// caller must not go on as if it were.
std::error_code TakeInstanceLock(const std::string& code, bool& held_elsewhere);

/// True when another process holds the lock of `code`; this process's own lock does not
/// count, and the lock is not taken.
bool InstanceLockHeldElsewhere(const std::string& code);

/// Gives up a lock taken by this process (nothing when it holds none).
void ReleaseInstanceLock(const std::string& code);

// ---- Quit signals ---------------------------------------------------------------------------

/// Installs handlers for SIGTERM, SIGINT and SIGHUP, the desktop's ways of asking a program to
/// quit. A handler only records the signal; the next turn of the event pump
/// (PumpEventsAndSignals, or ServiceQuitSignal from any other pump) calls `on_quit` with the
/// signal number, outside the signal's context. A signal that is not served within 0.9 seconds
/// ends the process with status 128 + the signal number (after giving the terminal its echo
/// back), so that no loop or long system call keeps a program alive that was asked to quit.
void InstallQuitSignalHandlers(std::function<void(int signal)> on_quit);

/// Restores the default handlers and forgets a pending signal and the quit handler.
void RemoveQuitSignalHandlers();

/// The quit signal received and not served yet; 0 when none.
int PendingQuitSignal();

/// Serves a pending quit signal: clears it and calls the quit handler. Returns the signal
/// served (0 when none was pending).
int ServiceQuitSignal();

/// One turn of the event loop (PumpEvents), collection of finished children that nobody waits
/// for, then ServiceQuitSignal. Returns the quit signal served, 0 when none.
int PumpEventsAndSignals();

// ---- The desktop's opener -------------------------------------------------------------------

/// A path with every byte other than an unreserved URI character (letters, digits, "-", ".",
/// "_", "~") and "/" written as "%XX": the form of a path inside a file URL.
std::string PercentEncodePath(const std::string& path);

/// The "file://" URL of an absolute path.
std::string FileUrl(const std::string& absolute_path);

/// Opens a URL (a web page, a "file://" page, a "mailto:" address) with the desktop's opener
/// "xdg-open", found in PATH. The opener is given `grace_ms` to report: a non-zero exit within
/// that time is its refusal (xdg-open: 1 bad arguments, 2 file missing, 3 no handler, 4 action
/// failed); one still running then (some desktops keep it until the browser ends) counts as
/// success. Returns 0 on success, the opener's exit status when it refused, or -errno when it
/// could not be started.
int OpenUrl(const std::string& url, int grace_ms = 2000);

}  // namespace nuvel::platform
