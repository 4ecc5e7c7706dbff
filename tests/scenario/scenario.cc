#include "tests/scenario/scenario.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "tests/support/test_env.h"

namespace nuvel::testing {

RunResult RunBinary(const std::string& binary, const std::vector<std::string>& args) {
  std::string command = "'" + binary + "'";
  for (const auto& arg : args) command += " '" + arg + "'";
  command += " 2>&1";
  RunResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buf;
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe)) result.output.append(buf.data(), n);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::string data = ReadTestFile(path);
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    std::string line = data.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace nuvel::testing
