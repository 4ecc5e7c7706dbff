#include "tests/scenario/scenario.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "tests/support/test_env.h"

namespace nuvel::testing {

namespace {

// Sets environment variables for one child and restores them afterwards.
class EnvOverride {
 public:
  explicit EnvOverride(const std::vector<std::pair<std::string, std::string>>& env) {
    Set("LANGUAGE", "en");
    Set("LC_ALL", "");
    Set("LC_MESSAGES", "");
    Set("LANG", "");
    for (const auto& [name, value] : env) Set(name, value);
  }
  ~EnvOverride() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second.first) {
        ::setenv(it->first.c_str(), it->second.second.c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }

 private:
  void Set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.push_back({name, {old != nullptr, old ? old : ""}});
    if (value.empty()) {
      ::unsetenv(name.c_str());
    } else {
      ::setenv(name.c_str(), value.c_str(), 1);
    }
  }
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

// Quotes an argument for the shell that popen runs.
std::string Quoted(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

RunResult RunBinary(const std::string& binary, const std::vector<std::string>& args,
                    const std::vector<std::pair<std::string, std::string>>& env) {
  EnvOverride override_env(env);
  std::string command = Quoted(binary);
  for (const auto& arg : args) command += " " + Quoted(arg);
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
