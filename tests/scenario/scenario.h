// Running the real nuvel-setup and nuvel-ini binaries inside a test sysroot.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace nuvel::testing {

struct RunResult {
  int status = -1;     // exit status (-1: did not exit normally)
  std::string output;  // standard output and standard error together
};

/// Runs `binary` with `args` in the current environment (the test sysroot's) plus `env`
/// (NAME, VALUE; an empty value unsets NAME) and waits. The interface language is English
/// unless `env` says otherwise.
RunResult RunBinary(const std::string& binary, const std::vector<std::string>& args,
                    const std::vector<std::pair<std::string, std::string>>& env = {});

/// The lines of a file, split at CR LF (or LF), without their line ends.
std::vector<std::string> FileLines(const std::string& path);

}  // namespace nuvel::testing
