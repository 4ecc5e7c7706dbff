#include "tests/scenario/scenario.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace nuvel::testing {

namespace {

// Quotes an argument for the shell that popen runs.
std::string Quoted(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

RunResult RunBinary(const std::string& binary, const std::vector<std::string>& args,
                    const Env& env) {
  // Through env(1): the test's environment without the locale variables, LANGUAGE=en unless
  // `env` names it, then `env` applied. A run that never ends (a loop) is ended after two
  // minutes and fails its test with status 124 instead of holding up the suite.
  // Without a display, so that a run without answers never opens the desktop interface.
  std::string unset =
      " -u LC_ALL -u LC_MESSAGES -u LANG -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM";
  std::string set;
  bool language = false;
  for (const auto& [name, value] : env) {
    language = language || name == "LANGUAGE";
    (value.empty() ? unset : set) +=
        value.empty() ? " -u " + Quoted(name) : " " + Quoted(name + "=" + value);
  }
  std::string command =
      "timeout -k 5 120 env" + unset + (language ? "" : " LANGUAGE=en") + set + " " +
      Quoted(binary);
  for (const auto& arg : args) command += " " + Quoted(arg);
  command += " 2>&1";
  RunResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buf;
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe))
    result.output.append(buf.data(), n);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadTestFile(path));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    names.insert(it->path().filename().string());
  }
  return names;
}

std::map<std::string, std::string> FilesBelow(const std::string& folder, bool read) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    files[it->path().lexically_relative(folder).string()] =
        read ? ReadTestFile(it->path().string()) : "";
  }
  return files;
}

namespace {

// Decodes the JSON string whose opening quote is at `at`; leaves `at` after the closing quote.
// Four-digit escapes stand for control characters here: the transcript keeps other text as UTF-8.
std::string JsonString(const std::string& text, std::size_t& at) {
  static const std::string kEscaped = "nrt", kMeant = "\n\r\t";
  std::string out;
  for (++at; at < text.size() && text[at] != '"'; ++at) {
    if (text[at] != '\\' || at + 1 == text.size()) {
      out += text[at];
    } else if (text[++at] == 'u') {
      out += static_cast<char>(std::stoul(text.substr(at + 1, 4), nullptr, 16));
      at += 4;
    } else {
      std::size_t i = kEscaped.find(text[at]);
      out += i == std::string::npos ? text[at] : kMeant[i];
    }
  }
  ++at;
  return out;
}

}  // namespace

std::string JsonField(const std::string& line, const std::string& key, bool last) {
  const std::string name = "\"" + key + "\":";
  std::size_t at = last ? line.rfind(name) : line.find(name);
  if (at == std::string::npos) return "<none>";
  at += key.size() + 3;
  if (at < line.size() && line[at] == '"') return JsonString(line, at);
  return line.substr(at, line.find_first_of(",}]", at) - at);
}

std::vector<std::string> JsonStringArray(const std::string& line, const std::string& key) {
  std::vector<std::string> out;
  std::size_t at = line.find("\"" + key + "\":[");
  if (at == std::string::npos) return out;
  for (at += key.size() + 4; at < line.size() && line[at] != ']';) {
    if (line[at] == '"') {
      out.push_back(JsonString(line, at));
    } else {
      ++at;
    }
  }
  return out;
}

void ScenarioTest::MakeSource(std::vector<std::string> options) {
  options.push_back("--force");
  options.push_back(Source());
  RunResult made = RunBinary(NUVEL_SAMPLE_SOURCE_TOOL, options);
  ASSERT_EQ(made.status, 0) << made.output;
}

std::string ScenarioTest::Source(const std::string& relative) const {
  return sysroot_.path("source") + (relative.empty() ? "" : "/" + relative);
}

std::string ScenarioTest::Installed(const std::string& relative) const {
  return sysroot_.path("opt/Nuvel") + (relative.empty() ? "" : "/" + relative);
}

std::string ScenarioTest::WriteAnswers(const std::string& answers) {
  const std::string answer_file = sysroot_.path("answers.txt");
  const bool answered = answers.find("MSG_Message_AboutToInstallPT") != std::string::npos;
  WriteTestFile(answer_file,
                (answered ? "" : "prompt:MSG_Message_AboutToInstallPT -> 2\n") + answers);
  return answer_file;
}

pid_t ScenarioTest::StartSetup(const std::string& answers, const std::string& output) {
  const std::string answer_file = WriteAnswers(answers);
  const std::string source = Source();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("LANGUAGE", "en", 1);
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) ::unsetenv(name);
    int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::execl(NUVEL_SETUP_BINARY, NUVEL_SETUP_BINARY, "--source", source.c_str(), "--answers",
            answer_file.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

RunResult ScenarioTest::Setup(const std::string& answers, const Env& env,
                              const std::vector<std::string>& extra_args) {
  const std::string answer_file = WriteAnswers(answers);
  std::error_code ec;
  std::filesystem::remove(Transcript(), ec);
  std::vector<std::string> args = {"--source",  Source(),       "--answers",
                                   answer_file, "--transcript", Transcript()};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  return RunBinary(NUVEL_SETUP_BINARY, args, env);
}

std::vector<std::string> ScenarioTest::Dialogs(const std::string& name) const {
  std::vector<std::string> found;
  for (const std::string& line : FileLines(Transcript())) {
    if (JsonField(line, "dialog") == name) found.push_back(line);
  }
  return found;
}

std::vector<std::string> ScenarioTest::Path() const {
  std::vector<std::string> path;
  for (const std::string& line : FileLines(Transcript())) {
    if (line.empty()) continue;
    std::string dialog = JsonField(line, "dialog");
    if (dialog == "prompt" || dialog == "radio") dialog += ":" + JsonField(line, "id");
    path.push_back(dialog + " " + JsonField(line, "answer", true));
  }
  return path;
}

std::string ScenarioTest::IniGet(const std::string& file, const std::string& section,
                                 const std::string& key) {
  RunResult got = RunBinary(NUVEL_INI_BINARY, {"get", file, section, key});
  if (got.status != 0) return "<missing>";
  while (!got.output.empty() && (got.output.back() == '\n' || got.output.back() == '\r')) {
    got.output.pop_back();
  }
  return got.output;
}

void ScenarioTest::IniSet(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& value) {
  RunResult set = RunBinary(NUVEL_INI_BINARY, {"set", file, section, key, value});
  ASSERT_EQ(set.status, 0) << set.output;
}

}  // namespace nuvel::testing
