// NuvelTool: the privileged helper of nuvel-setup, run as root through pkexec when the user may
// not create the machine-wide system folder.
//
//   NuvelTool create-system-folder /…/opt/Nuvel
//
// It does exactly one thing: create the folder "Nuvel" (owned by root, mode 0777: every user of
// the machine writes the shared log and records.ini there, as in the shared data folder) in an
// existing ".../opt" folder. Since it runs with an administrator's rights on the word of an
// ordinary user, it trusts nothing in its argument: the path must be absolute and normalised
// (no "." or ".." parts, no "//", no trailing "/", no control characters), end in "/opt/Nuvel",
// and lead to its parent without any symbolic link, so that the folder cannot be made anywhere
// else. It uses no library of the project, reads no settings and runs no other program.
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
constexpr std::string_view kSuffix = "/opt/Nuvel";
constexpr std::string_view kFolderName = "Nuvel";

int Fail(const char* what, const std::string& path) {
  std::fprintf(stderr, "NuvelTool: %s: %s\n", what, path.c_str());
  return 1;
}

int FailErrno(const char* what, const std::string& path) {
  std::fprintf(stderr, "NuvelTool: %s: %s: %s\n", what, path.c_str(), std::strerror(errno));
  return 1;
}

// The textual checks; `why` says what is wrong.
bool WellFormed(const std::string& path, const char*& why) {
  if (path.empty() || path[0] != '/') {
    why = "the path must be absolute";
    return false;
  }
  if (path.size() >= PATH_MAX) {
    why = "the path is too long";
    return false;
  }
  for (unsigned char c : path) {
    if (c < 0x20 || c == 0x7f) {
      why = "the path holds a control character";
      return false;
    }
  }
  if (path.find("//") != std::string::npos || path.back() == '/') {
    why = "the path is not normalised";
    return false;
  }
  std::size_t start = 1;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string_view part(path.data() + start, end - start);
    if (part == "." || part == "..") {
      why = "the path must not contain \".\" or \"..\"";
      return false;
    }
    start = end + 1;
  }
  if (path.size() < kSuffix.size() ||
      path.compare(path.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    why = "the path must end in /opt/Nuvel";
    return false;
  }
  return true;
}

int CreateSystemFolder(const std::string& path) {
  const char* why = nullptr;
  if (!WellFormed(path, why)) return Fail(why, path);

  std::string parent = path.substr(0, path.size() - kFolderName.size() - 1);
  // The parent must be exactly where the path says: no symbolic link anywhere on the way.
  char real[PATH_MAX];
  if (!::realpath(parent.c_str(), real)) return FailErrno("the opt folder cannot be found", parent);
  if (parent != real) return Fail("the path leads through a symbolic link", path);

  int folder = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return FailErrno("the opt folder cannot be opened", parent);
  const std::string name(kFolderName);
  bool created = ::mkdirat(folder, name.c_str(), 0777) == 0;
  if (!created && errno != EEXIST) {
    int error = errno;
    ::close(folder);
    errno = error;
    return FailErrno("cannot create the folder", path);
  }
  struct stat st;
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) {
    ::close(folder);
    return Fail("something other than a folder has that name", path);
  }
  if (created) {
    // The umask must not narrow the mode, and the group is root's too.
    int made = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    bool fixed =
        made >= 0 && ::fchmod(made, 0777) == 0 && (::geteuid() != 0 || ::fchown(made, 0, 0) == 0);
    if (made >= 0) ::close(made);
    if (!fixed) {
      ::close(folder);
      return FailErrno("cannot set the folder's mode", path);
    }
  }
  ::close(folder);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || kVerb != argv[1]) {
    std::fprintf(stderr, "usage: NuvelTool create-system-folder /.../opt/Nuvel\n");
    return 1;
  }
  return CreateSystemFolder(argv[2]);
}
