#include "net/update_check.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/product_table.h"
#include "net/transport.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "text/dates.h"
#include "ui/prompts.h"

namespace nuvel::net {
namespace {

using base::WriteLogf;

constexpr std::size_t kMaxLine = 254;
constexpr std::size_t kVersionWidth = 15;
constexpr const char* kSection = "Records";
constexpr const char* kOutOfMemoryRecordsIni = "Out of memory reading records.ini";

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return "";
  const auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

// The lines of a text file, each cut to kMaxLine characters; false when it cannot be read.
bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
  std::string text;
  if (platform::ReadFile(path, text)) return false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, std::min(end - start, kMaxLine)));
    start = end + 1;
  }
  return true;
}

std::string VersionFilePath() { return base::GetVersionIniFilePath(); }

// The settings file of installed course `key` (any case of its name).
std::string CourseSettingsFile(const std::string& key) {
  const std::string launch = platform::WithTrailingSlash(base::GetLaunchDirectoryPath());
  const std::string folder = base::ExistingPathAnyCase(launch + key);
  if (folder.empty()) return "";
  return base::ExistingPathAnyCase(base::GetNuvelIniPath(launch, folder.substr(launch.size())));
}

std::string CourseSetting(const std::string& file, const char* key, const char* def = "") {
  std::string value = base::ProfileValue("nuvel.ini", key, def, file);
  return value;
}

// Some course of the launch folder is a speech-recognition course (its `sr` begins with "y").
bool SpeechCourseInstalled() {
  std::vector<std::string> names;
  const std::string launch = base::GetLaunchDirectoryPath();
  if (platform::ListDirectory(launch, names)) return false;
  for (const std::string& name : names) {
    if (name.empty() || name[0] == '.') continue;
    const std::string file = base::ExistingPathAnyCase(launch + "/" + name + "/nuvel.ini");
    if (file.empty()) continue;
    const std::string sr = CourseSetting(file, "sr");
    if (!sr.empty() && (sr[0] == 'y' || sr[0] == 'Y')) return true;
  }
  return false;
}

UpdateCheckState::Entry* FindEntry(const std::string& key) {
  for (auto& entry : UpdateCheck().recordsIniSettings) {
    if (base::EqualsIgnoreCase(entry.key, key)) return &entry;
  }
  return nullptr;
}

bool AddEntry(UpdateCheckState::Entry entry, const char* title) {
  auto& list = UpdateCheck().recordsIniSettings;
  if (list.size() >= UpdateCheckState::kMaxEntries) {
    ui::Ask({.message = "MSG_Dialog_Title_Out_Of_Memory",
             .title = title,
             .buttons = {"MSG_Button_OK"}});
    return false;
  }
  list.push_back(std::move(entry));
  return true;
}

bool IsWholeNumber(std::string_view text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// An application or course whose latest version sorts after the installed one, unless the
// installed one is the "unknown" version.
bool NewerThanInstalled(const UpdateCheckState::Entry& entry) {
  if (entry.latest.empty()) return false;
  if (entry.installed.compare(0, kVersionWidth, base::kNoVersion) == 0) return false;
  return CompareVersions(entry.latest, entry.installed) > 0;
}

// A course is also out of date when a course it is based upon is.
bool BasedUponCourseOutOfDate(const std::string& key) {
  int product = 0;
  auto [end, ec] = std::from_chars(key.data(), key.data() + std::min<std::size_t>(3, key.size()),
                                   product);
  if (ec != std::errc() || end != key.data() + 3) return false;
  std::string list;
  if (!installer::GetBasedUponCourses(product, list)) return false;
  std::size_t start = 0;
  while ((start = list.find_first_not_of(' ', start)) != std::string::npos) {
    const std::size_t stop = std::min(list.find(' ', start), list.size());
    char base_key[16];
    std::snprintf(base_key, sizeof base_key, "%03dMUL50",
                  std::atoi(list.substr(start, stop - start).c_str()));
    if (IsCourseOutOfDate(base_key)) return true;
    start = stop;
  }
  return false;
}

// Whether the local version file is fresh enough not to be fetched again: modified today or
// yesterday (calendar days of the local clock).
bool LocalCopyIsFresh(const std::string& path) {
  platform::FileTimes times;
  platform::LocalTime local;
  if (platform::GetFileTimes(path, times) || !platform::LocalTimeOf(times.modified, local)) {
    return false;
  }
  const int modified = text::GetDateValueFromYearMonthDay(local.year - 1980, local.month, local.day);
  const int today = text::GetTodays_Date_Num();
  const int age = text::CalculateDaysElapsed(modified, today);
  return today != 0 && age >= 0 && age < 2;
}

// Reads the application entries of records.ini (and the speech engine's when a speech course
// is installed). False (after the message) when records.ini cannot be read.
bool ReadApplicationEntries(bool speech_course) {
  const std::string records = base::GetRecordsIniFilePath();
  std::vector<std::string> lines;
  if (!ReadLines(records, lines)) {
    ui::Ask({.id = "MSG_Err_Cannot_Open_Files_Needed",
             .message = base::StrRezf(0, "MSG_Err_Cannot_Open_Files_Needed", {"records.ini"}),
             .buttons = {"MSG_Button_OK"}});
    WriteLogf(1, "ERROR: Can't open file (3): %s", records.c_str());
    return false;
  }
  for (const std::string& raw : lines) {
    std::string line = base::LowerAscii(raw);
    if (line.empty() || line[0] == ';') continue;
    line = line.substr(0, line.find('~'));
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Trim(std::string_view(line).substr(0, equals));
    const std::string value = Trim(std::string_view(line).substr(equals + 1));
    const bool application = key == "rm2_ver" || key == "launcher2_ver" || key == "freshen2_ver";
    if (!application && !(key == "babel_ver_mac" && speech_course)) continue;
    if (!AddEntry({key, "", value}, kOutOfMemoryRecordsIni)) return false;
  }
  return true;
}

}  // namespace

UpdateCheckState& UpdateCheck() {
  static UpdateCheckState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("net::UpdateCheck", [] { state.reset(); });
  return state;
}

int CompareVersions(const std::string& a, const std::string& b) {
  if (IsWholeNumber(a) && IsWholeNumber(b)) {
    const long x = std::atol(a.c_str());
    const long y = std::atol(b.c_str());
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  return std::strncmp(a.c_str(), b.c_str(), kVersionWidth);
}

bool IsValidVersionFile(const std::string& path) {
  std::uint64_t size = 0;
  if (platform::FileSize(path, size) || size < kMinVersionFileBytes) return false;
  base::FreePrivateProfile();
  std::string server;
  std::string android;
  server = base::ProfileValue(kSection, "server_009_server_name", "", path);
  android = base::ProfileValue(kSection, "android_url", "", path);
  return !server.empty() && !android.empty();
}

int DownloadVersionFile() {
  UpdateCheckState& state = UpdateCheck();
  if (state.versionFile_HasBeenDownloaded) return 0;
  const std::string local = VersionFilePath();
  const std::string backup = local + ".BAK";
  if (platform::IsRegularFile(local)) platform::CopyFileContents(local, backup);
  CFDownloadFile(base::Paths().localNuvelDirectory, kVersionFileName, base::Run().DownloadAddress);
  int result = 0;
  std::uint64_t backup_size = 0;
  if (!IsValidVersionFile(local) && !platform::FileSize(backup, backup_size) &&
      backup_size > kMinVersionFileBytes) {
    WriteLogf(1, "DownloadVersionFile: the fetched version file is not complete; using %s",
              backup.c_str());
    if (platform::CopyFileContents(backup, local)) result = 1;
  }
  base::FreePrivateProfile();
  state.versionFile_HasBeenDownloaded = 1 - result;
  return result;
}

void InitializeOutofDate() { UpdateCheck().recordsIniSettings.clear(); }

void SetItemsOutOfDate(const std::string& key) {
  std::string& items = UpdateCheck().TheItemsOutOfDate;
  if (key.empty()) {
    items.clear();
    return;
  }
  if (items.size() + 1 + key.size() + 5 >= kItemsOutOfDateSize) {
    WriteLogf(1, "TheItemsOutOfDate too small");
    return;
  }
  items += " " + key;
}

const std::string& GetItemsOutOfDate() { return UpdateCheck().TheItemsOutOfDate; }

void SetRecordsIniVersionIniSetting(const std::string& dataFolder, const std::string& key,
                                    const std::string& value) {
  if (FindEntry(key)) return;
  const std::string records = base::ConstructFilePath(dataFolder, "records.ini");
  std::string stored = base::ProfileValue(kSection, key, "", records);
  std::string version = value.empty() ? stored : value;
  if (version != stored) {
    std::string written = version;
    if (base::StoreProfileValue(kSection, key, written, records)) {
      WriteLogf(1, "%s %s", base::StrRez(0, "MSG_Message_CannotWriteFile").c_str(),
                records.c_str());
    }
  }
  AddEntry({base::LowerAscii(key), version, version}, kOutOfMemoryRecordsIni);
}

void GetInstalledCourseVersions() {
  std::vector<std::string> names;
  if (platform::ListDirectory(base::GetLaunchDirectoryPath(), names)) return;
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (name.size() != 8) continue;
    const std::string key = base::LowerAscii(name);
    const std::string file = CourseSettingsFile(name);
    if (file.empty()) continue;
    const std::string fix_version = CourseSetting(file, "fix_version");
    if (fix_version.empty()) continue;
    if (UpdateCheckState::Entry* entry = FindEntry(key)) {
      entry->installed = fix_version;
    } else if (!AddEntry({key, "", fix_version}, "Out of memory reading nuvel.ini")) {
      return;
    }
  }
}

int IsCourseOutOfDate(const std::string& key) {
  const std::string settings = CourseSettingsFile(key);
  const std::string versions = VersionFilePath();
  if (settings.empty() || !platform::IsRegularFile(versions)) return 0;
  const std::string installed = CourseSetting(settings, "fix_version");
  std::string published = base::ProfileValue(kSection, base::LowerAscii(key), "", versions);
  // Without "~" the course has no update for this platform.
  const auto tilde = published.find('~');
  if (tilde == std::string::npos) return 0;
  published = Trim(std::string_view(published).substr(tilde + 1));
  if (published.empty()) return 0;
  return std::atol(installed.c_str()) < std::atol(published.c_str()) ? 1 : 0;
}

int InstallationOutOfDate(const std::string& appsFolder, const std::string& /*downloadAddress*/) {
  UpdateCheckState& state = UpdateCheck();
  if (appsFolder.empty()) {
    state.times_accessed = 0;
    return 0;
  }
  const std::string versions = VersionFilePath();
  bool local_copy = false;
  if (state.versionFile_HasBeenDownloaded) state.first_time = 0;
  if (state.first_time && platform::IsRegularFile(versions)) {
    local_copy = true;
    if (LocalCopyIsFresh(versions)) {
      WriteLogf(1, "InstallationOutOfDate: the version file is at most a day old; not fetched");
      state.first_time = 0;
    }
  }
  SetItemsOutOfDate("");
  InitializeOutofDate();
  state.babel_version = 0;
  if (state.first_time) {
    if (DownloadVersionFile() != 0) return local_copy ? 0 : -1;
    state.first_time = 0;
  }
  ++state.times_accessed;

  if (!ReadApplicationEntries(SpeechCourseInstalled())) return -1;
  GetInstalledCourseVersions();

  std::vector<std::string> lines;
  if (!ReadLines(versions, lines)) {
    const std::string message =
        base::StrRezf(0, "MSG_Err_Cannot_Open_Files_Needed", {kVersionFileName}) + "\r\r" +
        base::StrRez(0, "MSG_Text_ConnectToInternet");
    ui::Ask({.id = "MSG_Err_Cannot_Open_Files_Needed",
             .message = message,
             .buttons = {"MSG_Button_OK"}});
    return -1;
  }

  int result = 0;
  std::string engine_latest;
  for (const std::string& raw : lines) {
    std::string line = base::LowerAscii(raw);
    std::string this_platform;
    const auto tilde = line.find('~');
    const bool has_tilde = tilde != std::string::npos;
    if (has_tilde) {
      this_platform = Trim(std::string_view(line).substr(tilde + 1));
      line.resize(tilde);
    }
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Trim(std::string_view(line).substr(0, equals));
    const std::string value = Trim(std::string_view(line).substr(equals + 1));
    if (key.empty() || key == "rm_ver" || key == "launcher_ver" || key == "engine_ver" ||
        key == "freshen_ver" || key.starts_with("server_") || key == "babel_ver_win") {
      continue;
    }
    if (key == "babel_ver_mac") engine_latest = has_tilde ? this_platform : value;

    auto found = std::find_if(state.recordsIniSettings.begin(), state.recordsIniSettings.end(),
                              [&](const auto& entry) {
                                return entry.key.find(key) != std::string::npos;
                              });
    if (found == state.recordsIniSettings.end()) continue;
    const std::size_t index = found - state.recordsIniSettings.begin();
    found->latest = has_tilde ? this_platform : value;

    const bool course = key.size() == 8;
    if (course) {
      const std::string settings = CourseSettingsFile(key);
      if (settings.empty() || CourseSetting(settings, "course_name").empty()) {
        WriteLogf(1, "Can't find file (1): %s",
                  base::GetNuvelIniPath(base::GetLaunchDirectoryPath() + "/", key).c_str());
        found->latest.clear();
      } else if (!state.babel_version) {
        const std::string babel = CourseSetting(settings, "babel", "n");
        if (!babel.empty() && (babel[0] == 'y' || babel[0] == 'Y')) {
          if (!FindEntry("babel_ver_mac")) {
            SetRecordsIniVersionIniSetting(base::Path("nuvel_data"), "babel_ver_mac", "0");
          }
          if (UpdateCheckState::Entry* engine = FindEntry("babel_ver_mac")) {
            engine->latest = engine_latest;
          }
          state.babel_version = 1;
        }
      }
      // Adding the engine's entry may have moved the list.
      if (!has_tilde) state.recordsIniSettings[index].latest.clear();
    }

    const UpdateCheckState::Entry& entry = state.recordsIniSettings[index];
    bool out_of_date = NewerThanInstalled(entry);
    if (!out_of_date && course) out_of_date = BasedUponCourseOutOfDate(entry.key);
    if (!out_of_date) continue;
    SetItemsOutOfDate(entry.key);
    if (entry.key == "freshen2_ver") state.freshen_is_outofdate = 1;
    WriteLogf(1, "Out-of-date: %s installed=%s latest=%s", entry.key.c_str(),
              entry.installed.c_str(), entry.latest.c_str());
    result = 1;
  }
  return result;
}

}  // namespace nuvel::net
