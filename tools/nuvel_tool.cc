// NuvelTool: the privileged helper of nuvel-setup, run as root through pkexec when the user may
// not create the machine-wide system folder.
//
//   NuvelTool create-system-folder <sysroot>/opt/Nuvel
//
// It does exactly one thing: create the folder "Nuvel" (owned by root, mode 0777: every user of
// the machine writes the shared log and records.ini there, as in the shared data folder) in the
// existing "opt" folder of its sysroot. Since it runs with an administrator's rights on the word
// of an ordinary user, it trusts nothing in its argument: the argument must be exactly
// "<sysroot>/opt/Nuvel", and the tool never resolves it as a path. It opens "/" and then each
// folder of the sysroot and "opt" in turn with openat(O_DIRECTORY | O_NOFOLLOW) relative to the
// one before, and creates and opens "Nuvel" relative to the last descriptor. A symbolic link
// anywhere on the way ends the run, and a folder swapped for a link between two steps cannot
// send the creation elsewhere: every step works on a folder already held open.
//
// The sysroot: "/" (the machine itself). A different one is taken from NUVEL_SYSROOT only when
// the caller is root itself: real and effective user root, and not started by pkexec on behalf
// of another user (pkexec sets PKEXEC_UID; it also clears the environment, so a variable of an
// ordinary user never reaches the tool through it). Otherwise a NUVEL_SYSROOT is refused: a
// user who could choose the sysroot could have a root-owned folder open to everyone created in
// any folder called "opt" of their own. The sysroot must be absolute and normalised (no "." or
// ".." parts, no "//", no trailing "/", no control characters). The tool uses no library of the
// project, reads no other settings and runs no other program.
// Exit status: 0 when the folder exists afterwards, 1 (with a message) otherwise.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kVerb = "create-system-folder";
constexpr std::string_view kOpt = "opt";
constexpr std::string_view kFolderName = "Nuvel";
constexpr const char* kSysrootVariable = "NUVEL_SYSROOT";

int Fail(const char* what, const std::string& path) {
  std::fprintf(stderr, "NuvelTool: %s: %s\n", what, path.c_str());
  return 1;
}

int FailErrno(const char* what, const std::string& path) {
  std::fprintf(stderr, "NuvelTool: %s: %s: %s\n", what, path.c_str(), std::strerror(errno));
  return 1;
}

// The textual checks of a sysroot other than "/"; `why` says what is wrong.
bool WellFormed(const std::string& path, const char*& why) {
  if (path.empty() || path[0] != '/') {
    why = "the sysroot must be absolute";
    return false;
  }
  if (path.size() >= PATH_MAX - 16) {
    why = "the sysroot is too long";
    return false;
  }
  for (unsigned char c : path) {
    if (c < 0x20 || c == 0x7f) {
      why = "the sysroot holds a control character";
      return false;
    }
  }
  if (path.find("//") != std::string::npos || path.back() == '/') {
    why = "the sysroot is not normalised";
    return false;
  }
  std::size_t start = 1;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string_view part(path.data() + start, end - start);
    if (part == "." || part == "..") {
      why = "the sysroot must not contain \".\" or \"..\"";
      return false;
    }
    start = end + 1;
  }
  return true;
}

// The sysroot without a trailing "/" ("" for the machine itself); false after a message when
// NUVEL_SYSROOT may not be taken or is malformed.
bool Sysroot(std::string& root) {
  root.clear();
  const char* variable = std::getenv(kSysrootVariable);
  if (!variable || !*variable || std::string_view(variable) == "/") return true;
  bool root_itself = ::getuid() == 0 && ::geteuid() == 0 && !std::getenv("PKEXEC_UID");
  if (!root_itself) {
    Fail("NUVEL_SYSROOT is taken only from root itself", variable);
    return false;
  }
  const char* why = nullptr;
  if (!WellFormed(variable, why)) {
    Fail(why, variable);
    return false;
  }
  root = variable;
  return true;
}

// Opens the folder `name` inside `parent` without following a link; -1 with errno on failure.
int OpenFolderIn(int parent, const std::string& name) {
  return ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Opens "<root>/opt" from "/", one folder at a time. -1 after a message.
int OpenOptFolder(const std::string& root) {
  int folder = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    FailErrno("the root folder cannot be opened", "/");
    return -1;
  }
  std::string walked;
  std::string rest = root.empty() ? std::string(kOpt) : root.substr(1) + "/" + std::string(kOpt);
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    std::string name = rest.substr(start, end - start);
    walked += "/" + name;
    int next = OpenFolderIn(folder, name);
    int error = errno;
    ::close(folder);
    if (next < 0) {
      errno = error;
      FailErrno(error == ELOOP || error == ENOTDIR
                    ? "a folder on the way is a symbolic link or not a folder"
                    : "a folder on the way cannot be opened",
                walked);
      return -1;
    }
    folder = next;
    start = end + 1;
  }
  return folder;
}

int CreateSystemFolder(const std::string& path) {
  std::string root;
  if (!Sysroot(root)) return 1;
  const std::string expected = root + "/" + std::string(kOpt) + "/" + std::string(kFolderName);
  if (path != expected) {
    std::fprintf(stderr, "NuvelTool: the only folder it creates is %s, not %s\n", expected.c_str(),
                 path.c_str());
    return 1;
  }

  int folder = OpenOptFolder(root);
  if (folder < 0) return 1;
  const std::string name(kFolderName);
  bool created = ::mkdirat(folder, name.c_str(), 0777) == 0;
  if (!created && errno != EEXIST) {
    int error = errno;
    ::close(folder);
    errno = error;
    return FailErrno("cannot create the folder", path);
  }
  // Opened without following a link: a link or file planted under the name is refused.
  int made = OpenFolderIn(folder, name);
  ::close(folder);
  if (made < 0) return FailErrno("something other than a folder has that name", path);
  if (created) {
    // The umask must not narrow the mode, and the group is root's too.
    bool fixed = ::fchmod(made, 0777) == 0 && (::geteuid() != 0 || ::fchown(made, 0, 0) == 0);
    if (!fixed) {
      int error = errno;
      ::close(made);
      errno = error;
      return FailErrno("cannot set the folder's mode", path);
    }
  }
  ::close(made);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || kVerb != argv[1]) {
    std::fprintf(stderr, "usage: NuvelTool create-system-folder <sysroot>/opt/Nuvel\n");
    return 1;
  }
  return CreateSystemFolder(argv[2]);
}
