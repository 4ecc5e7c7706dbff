#include "base/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/run_reset.h"
#include "text/dates.h"
#include "text/encodings.h"

namespace nuvel::base {
namespace {

// Pieces of a line as a fixed 255-byte line buffer reads them: at most 254 characters.
constexpr std::size_t kLinePiece = 254;

std::string DateText(const platform::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
  return text;
}

std::string TimeText(const platform::LocalTime& t, bool seconds) {
  char text[32];
  if (seconds) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  } else {
    std::snprintf(text, sizeof text, "%02d:%02d", t.hour, t.minute);
  }
  return text;
}

std::string LevelMarker(int level) {
  std::string marker(static_cast<std::size_t>(2 * level + 2), '-');
  if (Log().nuvel_log_level < 2) return marker + ">";
  return marker + std::to_string(level) + ">";
}

// Splits text into lines (CR, LF or CR LF) and each line into pieces of at most 254 characters.
template <typename Fn>
void ForEachLinePiece(const std::string& data, Fn fn) {
  std::size_t i = 0;
  while (i < data.size()) {
    std::size_t end = data.find_first_of("\r\n", i);
    if (end == std::string::npos) end = data.size();
    std::string_view line(data.data() + i, end - i);
    do {
      fn(std::string(line.substr(0, kLinePiece)));
      line.remove_prefix(std::min(line.size(), kLinePiece));
    } while (!line.empty());
    i = end;
    if (i < data.size() && data[i] == '\r') ++i;
    if (i < data.size() && data[i] == '\n') ++i;
  }
}

int WriteAuxiliary(const std::string& path, const std::string& line, const std::string& text) {
  if (!platform::Exists(path)) platform::CreateTextFile(path);
  if (platform::AppendToFile(path, line)) {
    WriteLogf(1, "%s", text.c_str());
    return 0;
  }
  return 1;
}

}  // namespace

LogState& Log() {
  static LogState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("base::Log", [] { state.reset(); });
  // The text layer below logs through this log from its first use on.
  static const bool text_connected = [] {
    text::SetLogSink([](int level, const char* line) { WriteLog(level, line); });
    text::SetEncodingsLogSink([](int level, const char* line) { WriteLog(level, line); });
    return true;
  }();
  (void)text_connected;
  return state;
}

void GetLogName() {
  LogState& log = Log();
  log.set_up = true;
  std::string folder = FindLocalNuvelDirectory();
  if (folder.empty()) {
    log.nuvel_log_level = 3;
    log.held.clear();
    return;
  }
  std::string records = folder + "records.ini";
  log.logname = folder + "Nuvel_log.txt";

  std::string value =
      platform::Exists(records) ? ProfileValue("Records", "log_rollover_size", "", records) : "";
  if (!value.empty()) {
    log.log_rollover_size = std::strtol(value.c_str(), nullptr, 10);
  }

  std::string old_log = folder + "nuvel.log";
  if (!platform::Exists(log.logname) && platform::Exists(old_log)) {
    platform::CopyFileContents(old_log, log.logname);
  }

  value = ProfileValue("Records", "log_level", "", records);
  if (!value.empty()) {
    log.nuvel_log_level = std::atoi(value.c_str());
  } else {
    log.nuvel_log_level = 3;
    std::string three = "3";
    StoreProfileValue("Records", "log_level", three, records);
  }

  platform::LocalTime now = platform::Now();
  std::string os = platform::OsVersionText();
  std::string rule(55, '=');
  char title[2048];
  std::snprintf(title, sizeof title, "%s at %s with log level=%d  %s", DateText(now).c_str(),
                TimeText(now, false).c_str(), log.nuvel_log_level, log.logname.c_str());
  log.logCounter = os.empty() ? -6 : -7;
  for (int i = 0; i < 3; ++i) WriteLog(0, "");
  WriteLog(0, rule);
  WriteLog(0, title);
  WriteLog(0, rule);
  if (!os.empty()) WriteLog(0, os);

  auto held = std::move(log.held);
  log.held.clear();
  for (const auto& [level, text] : held) WriteLog(level, text);
}

int WriteLogf(int level, const char* format, ...) {
  LogState& log = Log();
  if (log.logname.empty() && log.set_up) return 0;
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return WriteLog(level, text);
}

int WriteLog(int level, const std::string& text) {
  LogState& log = Log();
  if (log.nuvel_log_level == kLogOff) return 0;
  if (log.logname.empty()) {
    // Not set up yet: hold the line for the banner of this run.
    if (!log.set_up && log.held.size() < kMaxHeldLines) log.held.emplace_back(level, text);
    return 0;
  }
  if (level > log.nuvel_log_level) return 0;

  if (!log.created) {
    if (!platform::Exists(log.logname)) platform::CreateTextFile(log.logname);
    log.created = true;
  }
  std::uint64_t size = 0;
  if (!platform::FileSize(log.logname, size)) {
    bool over_setting = log.log_rollover_size != -1 &&
                        size > static_cast<std::uint64_t>(log.log_rollover_size);
    if (over_setting || size > static_cast<std::uint64_t>(kLogHardLimit)) {
      int level_in_force = log.nuvel_log_level;
      log.nuvel_log_level = kLogOff;
      DiscardTopHalfofLogFile();
      log.nuvel_log_level = level_in_force;
    }
  }

  std::string line;
  std::string marker = LevelMarker(level);
  if (++log.logCounter >= 1) {
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%8ld %s   ", log.logCounter,
                  TimeText(platform::Now(), true).c_str());
    line = prefix + marker;
  }
  // Callers' formats may end in "\n"; every call is still exactly one CR LF line.
  std::string_view body = text;
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
  line += body;
  line += "\r\n";
  std::error_code ec = platform::AppendToFile(log.logname, line);
  if (ec == std::errc::too_many_symbolic_link_levels) {
    // Someone put a link where the log belongs: nothing is written through it, and the run
    // goes on without a log.
    WriteConsolef("nuvel-setup: %s is a link that another user may have put there; "
                  "this run writes no log",
                  log.logname.c_str());
    log.logname.clear();
  }
  return ec ? 0 : 1;
}

void DiscardTopHalfofLogFile() {
  const std::string& name = Log().logname;
  std::string data;
  if (name.empty() || platform::ReadFile(name, data)) return;
  std::size_t start = data.size() / 2;
  // Drop the rest of the line cut in the middle, as far as one line buffer reaches.
  std::size_t newline = data.find('\n', start);
  if (newline != std::string::npos && newline - start < kLinePiece) {
    start = newline + 1;
  } else {
    start = std::min(data.size(), start + kLinePiece);
  }
  // The newer half replaces the log in one rename, so a crash never loses the whole log.
  platform::WriteFileAtomic(name, std::string_view(data).substr(start));
}

void StopLogging() { Log().nuvel_log_level = kLogOff; }

void AddOnToNuvelLog(const std::string& path) {
  std::string data;
  if (platform::ReadFile(path, data)) return;
  WriteLog(1, "");
  WriteLog(1, "");
  WriteLog(1, path);
  ForEachLinePiece(data, [](const std::string& piece) { WriteLog(1, piece); });
  WriteLog(1, "");
  WriteLog(1, "");
}

void SetQuitFlag(const char* source, long line, const char* reason) {
  RunState& run = Run();
  if (run.quitFlag) return;
  run.quitFlag = 1;
  std::string why = reason ? reason : "";
  if (why == "NORM") {
    WriteLogf(1, "Quit from %s (line=%ld)", source, line);
    return;
  }
  Log().nuvel_log_level = 5;
  WriteLogf(1, "ERROR: Quit from %s (line=%ld) %s ", source, line, why.c_str());
  if (std::string_view(source) == "WiniNet") Log().fromInternet = 1;
}

int WriteAdminLog(const std::string& text) {
  platform::LocalTime now = platform::Now();
  std::string path = Path("nuvel_data") + "AdminLog.txt";
  if (!platform::Exists(path)) platform::CreateTextFile(path);
  return platform::AppendToFile(
             path, DateText(now) + "\t" + TimeText(now, false) + "\t" + text + "\r\n")
             ? 0
             : 1;
}

int WriteSyncLog(const std::string& text) {
  platform::LocalTime now = platform::Now();
  return WriteAuxiliary(Path("nuvel_data") + "SyncLog.txt",
                        DateText(now) + " " + TimeText(now, false) + " " + text + "\r\n", text);
}

int WriteDebugLog(const std::string& text) {
  platform::LocalTime now = platform::Now();
  return WriteAuxiliary(Path("nuvel_apps") + "DebugLog.txt",
                        DateText(now) + " " + TimeText(now, false) + " " + text + "\r\n", text);
}

int WriteConsolef(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "%s\n", text);
  return 1;
}

}  // namespace nuvel::base
