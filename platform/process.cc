#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string_view>

#include "platform/clock.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "platform/syscalls.h"
#include "platform/terminal.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace nuvel::platform {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }
std::error_code ErrorOf(int value) { return {value, std::generic_category()}; }

constexpr int kWaitStepMilliseconds = 10;
constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Children started and not (yet) waited for. They are collected by each event-pump turn and
// each new start, so that a launched application that ends never stays a zombie. Not run state:
// the children belong to the process, and a new run must still collect them.
std::vector<int>& Unwaited() {
  static std::vector<int> pids;
  return pids;
}

void Forget(int pid) {
  auto& pids = Unwaited();
  pids.erase(std::remove(pids.begin(), pids.end(), pid), pids.end());
}

void ReapFinishedChildren() {
  auto& pids = Unwaited();
  for (auto it = pids.begin(); it != pids.end();) {
    int status = 0;
    pid_t done = ::waitpid(*it, &status, WNOHANG);
    if (done == *it || (done < 0 && errno == ECHILD)) {
      it = pids.erase(it);
    } else {
      ++it;
    }
  }
}

int ExitStatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 0;
}

// RAII holders for the two posix_spawn objects.
struct FileActions {
  posix_spawn_file_actions_t value;
  FileActions() { posix_spawn_file_actions_init(&value); }
  ~FileActions() { posix_spawn_file_actions_destroy(&value); }
};
struct SpawnAttributes {
  posix_spawnattr_t value;
  SpawnAttributes() { posix_spawnattr_init(&value); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&value); }
};

// Starts the program; with `output_fd` >= 0 its standard output and error go there.
std::error_code SpawnWith(const std::vector<std::string>& argv, int& pid,
                          const SpawnOptions& options, int output_fd) {
  pid = 0;
  if (argv.empty() || argv[0].empty()) return std::make_error_code(std::errc::invalid_argument);
  ReapFinishedChildren();

  FileActions actions;
  if (!options.inherit_input) {
    posix_spawn_file_actions_addopen(&actions.value, 0, "/dev/null", O_RDONLY, 0);
  }
  if (output_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions.value, output_fd, 1);
    posix_spawn_file_actions_adddup2(&actions.value, output_fd, 2);
  } else if (!options.output_path.empty()) {
    posix_spawn_file_actions_addopen(&actions.value, 1, options.output_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions.value, 1, 2);
  }
  // Descriptors that were opened without close-on-exec somewhere must not leak either.
  posix_spawn_file_actions_addclosefrom_np(&actions.value, 3);

  SpawnAttributes attributes;
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : kQuitSignals) sigaddset(&defaults, signal);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  posix_spawnattr_setsigmask(&attributes.value, &none);
  posix_spawnattr_setsigdefault(&attributes.value, &defaults);
  if (options.own_process_group) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes.value, 0);
  }
  posix_spawnattr_setflags(&attributes.value, flags);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_t child = 0;
  int rc =
      options.search_path
          ? ::posix_spawnp(&child, args[0], &actions.value, &attributes.value, args.data(), environ)
          : ::posix_spawn(&child, args[0], &actions.value, &attributes.value, args.data(), environ);
  if (rc != 0) return ErrorOf(rc);
  pid = child;
  Unwaited().push_back(child);
  return {};
}

std::string ReadSmallFile(const std::string& path) {
  std::string data;
  ReadFile(path, data);
  return data;
}

bool Contains(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

// ---- Instance locks ----

struct HeldLock {
  std::string code;
  UniqueFd fd;
  pid_t owner = 0;  // a child made by fork() inherits the table but not the ownership
};

// Not run state: clearing the table would close the descriptors and so release the locks that
// the process holds.
std::vector<HeldLock>& HeldLocks() {
  static std::vector<HeldLock> locks;
  return locks;
}

// Drops entries inherited through fork(). Only close(): unlocking an inherited descriptor
// would release the parent's lock too.
void ForgetInheritedLocks() {
  auto& locks = HeldLocks();
  pid_t self = ::getpid();
  for (auto it = locks.begin(); it != locks.end();) {
    if (it->owner != self) {
      it = locks.erase(it);
    } else {
      ++it;
    }
  }
}

bool HoldsLock(const std::string& code) {
  ForgetInheritedLocks();
  for (const auto& lock : HeldLocks()) {
    if (lock.code == code) return true;
  }
  return false;
}

bool IsAlphanumeric(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// `text` with every byte that `keep` refuses written as "%XX".
template <typename Keep>
std::string PercentEncode(const std::string& text, Keep keep) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : text) {
    if (keep(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return encoded;
}

// A creator code may hold any byte; the lock file's name keeps only safe ones.
std::string LockFileName(const std::string& code) {
  auto safe = [](unsigned char c) { return IsAlphanumeric(c) || c == '-' || c == '_'; };
  return "nuvel-" + PercentEncode(code, safe) + ".lock";
}

// ---- Quit signals ----

volatile std::sig_atomic_t gPendingQuitSignal = 0;

// A quit signal that nobody serves within this time ends the process from the signal context:
// a loop that never turns the event pump, or one long system call, cannot keep the program
// alive. Everything the program writes is crash-safe, so ending there loses nothing.
constexpr long kQuitGraceMicroseconds = 900'000;
volatile std::sig_atomic_t gQuitWatchdogSignal = 0;

void SetQuitWatchdog(long microseconds) {
  itimerval timer{};
  timer.it_value.tv_usec = microseconds;
  ::setitimer(ITIMER_REAL, &timer, nullptr);
}

extern "C" void EndAfterQuitGrace(int) {
  const int signal = gQuitWatchdogSignal != 0 ? gQuitWatchdogSignal : SIGTERM;
  RestoreTerminal();
  static const char kMessage[] = "nuvel-setup: ended by a quit signal\n";
  ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  (void)ignored;
  ::_exit(128 + signal);
}

extern "C" void RecordQuitSignal(int signal) {
  gPendingQuitSignal = signal;
  if (gQuitWatchdogSignal == 0) {
    gQuitWatchdogSignal = signal;
    SetQuitWatchdog(kQuitGraceMicroseconds);
  }
}

void DisarmQuitWatchdog() {
  SetQuitWatchdog(0);
  gQuitWatchdogSignal = 0;
}

// Not run state: it goes with the signal handlers installed for the process.
std::function<void(int)>& QuitHandler() {
  static std::function<void(int)> handler;
  return handler;
}

}  // namespace

std::error_code Spawn(const std::vector<std::string>& argv, int& pid, const SpawnOptions& options) {
  return SpawnWith(argv, pid, options, -1);
}

std::error_code WaitForChild(int pid, int& exit_status, int timeout_ms) {
  exit_status = 0;
  if (pid <= 0) return std::make_error_code(std::errc::invalid_argument);
  // While we wait, the pump's collection of finished children must leave this one to us.
  bool was_unwaited = std::find(Unwaited().begin(), Unwaited().end(), pid) != Unwaited().end();
  Forget(pid);
  double start = MonotonicSeconds();
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      exit_status = ExitStatusOf(status);
      return {};
    }
    if (done < 0) {
      if (errno == EINTR) continue;
      if (errno != ECHILD) return LastError();
      if (!ProcessExists(pid)) return {};
    }
    if (timeout_ms >= 0 && (MonotonicSeconds() - start) * 1000.0 >= timeout_ms) {
      if (was_unwaited) Unwaited().push_back(pid);
      return std::make_error_code(std::errc::timed_out);
    }
    PumpEventsAndSignals();
    SleepMilliseconds(kWaitStepMilliseconds);
  }
}

std::error_code RunAndWait(const std::vector<std::string>& argv, int& exit_status,
                           std::string* output, bool search_path) {
  exit_status = 0;
  SpawnOptions options;
  options.search_path = search_path;
  if (!output) {
    int pid = 0;
    if (auto ec = SpawnWith(argv, pid, options, -1)) return ec;
    return WaitForChild(pid, exit_status);
  }

  output->clear();
  int pipe_fds[2];
  if (syscalls().pipe2(pipe_fds, O_CLOEXEC) != 0) return LastError();
  UniqueFd from_child(pipe_fds[0]);
  UniqueFd to_parent(pipe_fds[1]);
  int pid = 0;
  std::error_code ec = SpawnWith(argv, pid, options, to_parent.get());
  to_parent.reset();
  if (ec) return ec;
  Forget(pid);  // collected below, not by the pump
  // Read until the child closes its end, so that a chatty child never blocks on a full pipe.
  // A child that ended while something it left behind keeps the pipe open ends the reading too.
  bool ended = false;
  int status = 0;
  char buf[4096];
  for (;;) {
    pollfd ready = {from_child.get(), POLLIN, 0};
    int n = ::poll(&ready, 1, kWaitStepMilliseconds);
    if (n < 0 && errno != EINTR) break;
    if (n > 0) {
      long got = syscalls().read(from_child.get(), buf, sizeof buf);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      output->append(buf, static_cast<std::size_t>(got));
      continue;
    }
    if (ended) break;
    ended = ::waitpid(pid, &status, WNOHANG) == pid;
    PumpEventsAndSignals();
  }
  from_child.reset();
  if (ended) {
    exit_status = ExitStatusOf(status);
    return {};
  }
  return WaitForChild(pid, exit_status);
}

bool ProcessExists(int pid) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  // A process that ended and was not collected yet still answers kill(); its state is "Z".
  std::string stat = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat");
  auto paren = stat.rfind(')');
  if (paren != std::string::npos && paren + 2 < stat.size()) return stat[paren + 2] != 'Z';
  return true;
}

int FindProcessByName(const std::string& text) {
  if (text.empty()) return 0;
  const int self = ::getpid();
  int found = 0;
  ListFolder("/proc", [&](const FolderEntry& entry) {
    char* end = nullptr;
    long pid = std::strtol(entry.name, &end, 10);
    if (pid <= 0 || *end != '\0' || pid == self) return true;
    std::string folder = std::string("/proc/") + entry.name;
    std::string comm = ReadSmallFile(folder + "/comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    // The kernel name is cut at 15 bytes; the command's file name is complete.
    std::string command = ReadSmallFile(folder + "/cmdline");
    command = command.substr(0, command.find('\0'));
    command = FileName(command);
    if (Contains(comm, text) || Contains(command, text)) {
      found = static_cast<int>(pid);
      return false;
    }
    return true;
  });
  return found;
}

std::string InstanceLockFolder() {
  const std::string system = ApplicationsFolder() + "/Nuvel";
  const std::string shared = SharedDataFolder() + "/Nuvel";
  return !IsDirectory(system) && IsDirectory(shared) ? shared : system;
}

std::string InstanceLockPath(const std::string& code) {
  return InstanceLockFolder() + "/" + LockFileName(code);
}

std::error_code TakeInstanceLock(const std::string& code, bool& held_elsewhere) {
  held_elsewhere = false;
  if (HoldsLock(code)) return {};
  // Readable by everyone: another user's copy must be able to open the file to test the lock.
  // O_NOFOLLOW: everyone can put entries into the system folder, links among them.
  UniqueFd fd(syscalls().open(InstanceLockPath(code).c_str(),
                              O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0644));
  if (!fd.valid()) return LastError();
  struct stat st;
  if (syscalls().fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  if (st.st_uid == ::geteuid() && (st.st_mode & 0044) != 0044) syscalls().fchmod(fd.get(), 0644);
  if (syscalls().flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    std::error_code ec = LastError();
    if (ec == std::errc::operation_would_block) {
      held_elsewhere = true;
      return {};
    }
    return ec;
  }
  HeldLocks().push_back({code, std::move(fd), ::getpid()});
  return {};
}

bool InstanceLockHeldElsewhere(const std::string& code) {
  if (HoldsLock(code)) return false;
  UniqueFd fd(syscalls().open(InstanceLockPath(code).c_str(), O_RDONLY | O_NOFOLLOW, 0));
  if (!fd.valid()) return false;  // no lock file: nobody ever took the lock
  // A shared lock conflicts with a holder's exclusive lock but not with another prober's.
  return syscalls().flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

void ReleaseInstanceLock(const std::string& code) {
  ForgetInheritedLocks();
  auto& locks = HeldLocks();
  for (auto it = locks.begin(); it != locks.end(); ++it) {
    if (it->code == code) {
      locks.erase(it);
      return;
    }
  }
}

void InstallQuitSignalHandlers(std::function<void(int)> on_quit) {
  QuitHandler() = std::move(on_quit);
  struct sigaction action = {};
  action.sa_handler = RecordQuitSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a dialog blocked reading the terminal wakes up and serves the quit.
  action.sa_flags = 0;
  for (int signal : kQuitSignals) ::sigaction(signal, &action, nullptr);
  action.sa_handler = EndAfterQuitGrace;
  ::sigaction(SIGALRM, &action, nullptr);
}

void RemoveQuitSignalHandlers() {
  for (int signal : kQuitSignals) std::signal(signal, SIG_DFL);
  DisarmQuitWatchdog();
  std::signal(SIGALRM, SIG_DFL);
  gPendingQuitSignal = 0;
  QuitHandler() = nullptr;
}

int PendingQuitSignal() { return gPendingQuitSignal; }

int ServiceQuitSignal() {
  int signal = gPendingQuitSignal;
  if (signal == 0) return 0;
  gPendingQuitSignal = 0;
  DisarmQuitWatchdog();
  if (QuitHandler()) QuitHandler()(signal);
  return signal;
}

int PumpEventsAndSignals() {
  int signal = ServiceQuitSignal();
  PumpEvents();  // serves a quit that arrives during the turn as well
  ReapFinishedChildren();
  if (signal == 0) signal = ServiceQuitSignal();
  return signal;
}

std::string PercentEncodePath(const std::string& path) {
  auto unreserved = [](unsigned char c) {
    return IsAlphanumeric(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
  };
  return PercentEncode(path, unreserved);
}

std::string FileUrl(const std::string& absolute_path) {
  return "file://" + PercentEncodePath(absolute_path);
}

int OpenUrl(const std::string& url, int grace_ms) {
  // The opener would take a leading "-" for an option of its own.
  if (url.empty() || url[0] == '-') return -EINVAL;
  SpawnOptions options;
  options.search_path = true;
  options.own_process_group = true;
  int pid = 0;
  if (auto ec = Spawn({"xdg-open", url}, pid, options)) return -ec.value();
  int status = 0;
  std::error_code ec = WaitForChild(pid, status, grace_ms);
  if (ec == std::errc::timed_out) return 0;
  if (ec) return -ec.value();
  return status;
}

}  // namespace nuvel::platform
