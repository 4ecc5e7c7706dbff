#include "tests/support/test_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace nuvel::testing {
namespace fs = std::filesystem;

namespace {
const char* const kVariables[] = {"NUVEL_SYSROOT",   "HOME",          "TMPDIR",
                                  "XDG_DATA_HOME",   "XDG_DESKTOP_DIR", "XDG_RUNTIME_DIR",
                                  "NUVEL_VOLUMES",   "NUVEL_NETWORK_PATHS"};
}

TestSysroot::TestSysroot() {
  std::string pattern = (fs::temp_directory_path() / "nuvel-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) std::abort();
  root_ = pattern;
  for (const char* name : kVariables) {
    if (const char* old = std::getenv(name)) saved_env_[name] = old;
    ::unsetenv(name);
  }
  fs::create_directories(path("home"));
  fs::create_directories(path("tmp"));
  ::setenv("NUVEL_SYSROOT", root_.c_str(), 1);
  ::setenv("HOME", path("home").c_str(), 1);
  ::setenv("TMPDIR", path("tmp").c_str(), 1);
  ::setenv("XDG_DATA_HOME", path("home/.local/share").c_str(), 1);
  ::setenv("XDG_DESKTOP_DIR", path("home/Desktop").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", path("tmp").c_str(), 1);
}

TestSysroot::~TestSysroot() {
  std::error_code ec;
  // Read-only folders made by a test would stop the removal; open them up first.
  for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(root_, ec);
  for (const char* name : kVariables) {
    auto saved = saved_env_.find(name);
    if (saved != saved_env_.end()) {
      ::setenv(name, saved->second.c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
}

std::string TestSysroot::path(std::string_view relative) const {
  return root_ + "/" + std::string(relative);
}

void WriteTestFile(const std::string& path, std::string_view data) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string ReadTestFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace nuvel::testing
