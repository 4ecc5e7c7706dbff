// A private sysroot per test: a fresh temporary folder, with NUVEL_SYSROOT, HOME, TMPDIR and the
// XDG folders pointing inside it for the test's lifetime, removed afterwards.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace nuvel::testing {

class TestSysroot {
 public:
  TestSysroot();
  ~TestSysroot();
  TestSysroot(const TestSysroot&) = delete;
  TestSysroot& operator=(const TestSysroot&) = delete;

  /// The root folder (absolute, no trailing "/").
  const std::string& root() const { return root_; }
  /// root() + "/" + relative.
  std::string path(std::string_view relative) const;

 private:
  std::string root_;
  std::map<std::string, std::string> saved_env_;
};

/// Writes `data` to `path`, creating parent folders.
void WriteTestFile(const std::string& path, std::string_view data);
/// The whole file ("" when missing).
std::string ReadTestFile(const std::string& path);

}  // namespace nuvel::testing
