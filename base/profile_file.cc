#include "base/profile_file.h"

#include <algorithm>
#include <vector>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "platform/files.h"
#include "platform/run_reset.h"

namespace nuvel::base {
namespace {

// The matching copy of a line holds 254 characters, as the settings format allows.
constexpr std::size_t kMatchLength = 254;

struct ProfileCache {
  std::string cachedFileName;
  std::vector<std::string> lines;  // cachedlines == lines.size(); empty means nothing cached

  void reset() { *this = ProfileCache{}; }
};

ProfileCache& Cache() {
  static ProfileCache cache;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("base::profile cache", [] { cache.reset(); });
  return cache;
}

bool IsLineByte(unsigned char c) { return c >= 32 || c == '\t'; }
bool IsTokenDelimiter(char c) { return c == '=' || c == ' ' || c == '\t'; }

// The upper-cased first token of a line, looked for within its first 254 characters.
std::string FirstToken(std::string_view line) {
  line = line.substr(0, std::min(line.size(), kMatchLength));
  std::size_t start = 0;
  while (start < line.size() && IsTokenDelimiter(line[start])) ++start;
  std::size_t end = start;
  while (end < line.size() && !IsTokenDelimiter(line[end])) ++end;
  return UpperAscii(line.substr(start, end - start));
}

std::string SectionTarget(std::string_view section) {
  return UpperAscii("[" + std::string(section) + "]");
}

// Splits file bytes into lines: runs of TAB or bytes >= 32; everything else separates, and a
// NUL ends the data.
std::vector<std::string> SplitLines(std::string_view data) {
  std::vector<std::string> lines;
  if (auto nul = data.find('\0'); nul != std::string_view::npos) data = data.substr(0, nul);
  std::size_t i = 0;
  while (i < data.size()) {
    while (i < data.size() && !IsLineByte(static_cast<unsigned char>(data[i]))) ++i;
    std::size_t start = i;
    while (i < data.size() && IsLineByte(static_cast<unsigned char>(data[i]))) ++i;
    if (i > start) lines.emplace_back(data.substr(start, i - start));
  }
  return lines;
}

// Loads `file` into the cache; lines longer than size - 1 are cut and the cut is logged.
void LoadCache(const std::string& file, std::size_t size) {
  ProfileCache& cache = Cache();
  cache.reset();
  cache.cachedFileName = file;
  std::string path = ExistingPathAnyCase(file);
  if (path.empty()) return;
  std::string data;
  if (platform::ReadFile(path, data)) return;
  cache.lines = SplitLines(data);
  std::size_t limit = size > 0 ? size - 1 : 0;
  for (std::string& line : cache.lines) {
    if (line.size() > limit) {
      line.resize(limit);
      WriteLogf(1, "ERROR:  line too long in %s", file.c_str());
      WriteLogf(1, "%s", line.c_str());
    }
  }
}

// Finds the section header and, after it, the key line. -1 where absent.
void FindSectionAndKey(const std::vector<std::string>& lines, std::string_view section,
                       std::string_view key, long& section_line, long& key_line) {
  section_line = key_line = -1;
  std::string target = SectionTarget(section);
  const std::string key_target = UpperAscii(key);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (FirstToken(lines[i]) != target) continue;
    if (section_line < 0) {
      section_line = static_cast<long>(i);
      target = key_target;
    } else {
      key_line = static_cast<long>(i);
      return;
    }
  }
}

std::string ValueOf(const std::string& line) {
  auto eq = line.find('=');
  if (eq == std::string::npos) return line;
  std::size_t start = eq + 1;
  while (start < line.size() && line[start] == '\t') ++start;
  return line.substr(start);
}

// Logs an update lock that could not be had; true when the update may go on.
bool Locked(const platform::FileUpdateLock& lock, const std::string& file) {
  if (!lock.error()) return true;
  WriteLogf(0, "ERROR: cannot lock %s for an update: %s", file.c_str(),
            lock.error().message().c_str());
  return false;
}

}  // namespace

void StripProfileValue(std::string& text) {
  std::size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) {
    text.clear();
    return;
  }
  std::size_t end = text.find_last_not_of(" \r\n");
  text = text.substr(start, end - start + 1);
}

namespace {

// The lookup behind every read: the value (or `def`) cut to size - 1 characters in `buffer`.
int LookUpCached(std::string_view section, std::string_view key, std::string_view def,
                 std::string& buffer, std::size_t size) {
  long section_line, key_line;
  FindSectionAndKey(Cache().lines, section, key, section_line, key_line);
  if (key_line >= 0) {
    buffer = ValueOf(Cache().lines[static_cast<std::size_t>(key_line)]);
  } else {
    buffer = std::string(def);
  }
  if (size == 0) {
    buffer.clear();
  } else if (buffer.size() > size - 1) {
    buffer.resize(size - 1);
  }
  return static_cast<int>(buffer.size());
}

int LookUp(std::string_view section, std::string_view key, std::string_view def,
           std::string& buffer, std::size_t size, const std::string& file) {
  ProfileCache& cache = Cache();
  if (cache.lines.empty() || cache.cachedFileName != file) LoadCache(file, size);
  return LookUpCached(section, key, def, buffer, size);
}

// A write's result in both conventions: the error and what was done, and the integer the
// described interface reports (line index, -1 added, -2 failed, 1 unchanged before a store).
struct WriteOutcome {
  std::error_code error;
  ProfileWrite what = ProfileWrite::kUnchanged;
  int described = -2;
};

WriteOutcome Failed(std::error_code error) { return {error, ProfileWrite::kUnchanged, -2}; }

WriteOutcome WriteLine(std::string_view section, std::string_view key, std::string_view value,
                       const std::string& file) {
  if (section.empty()) return Failed(std::make_error_code(std::errc::invalid_argument));
  if (!IsStorableProfileText(section) || !IsStorableProfileText(key) ||
      !IsStorableProfileText(value)) {
    WriteLogf(0, "ERROR: refused to write a line break or control character into %s",
              file.c_str());
    return Failed(std::make_error_code(std::errc::invalid_argument));
  }
  // Held from the read to the rename: another process's update in between would be lost.
  platform::FileUpdateLock lock(file);
  if (!Locked(lock, file)) return Failed(lock.error());
  std::string path = ExistingPathAnyCase(file);
  if (path.empty()) {
    std::string text = "[" + std::string(section) + "]\r\n" + std::string(key) + "=" +
                       std::string(value) + "\r\n";
    if (std::error_code error = platform::WriteFileAtomic(file, text)) return Failed(error);
    FreePrivateProfile();
    return {{}, ProfileWrite::kAdded, -1};
  }

  // The new file is made from the file as it is now: a cache left from before another writer
  // (a line removal, another process) changed it would otherwise write its old lines back.
  FreePrivateProfile();
  std::string current;
  LookUp(section, key, "", current, kProfileValueSize, file);
  StripProfileValue(current);
  long section_line, key_line;
  FindSectionAndKey(Cache().lines, section, key, section_line, key_line);
  if (current == value) return {{}, ProfileWrite::kUnchanged, static_cast<int>(key_line)};

  std::string text;
  // A new header goes on top with its key right under it: a lookup takes the first matching
  // line anywhere after the header, so a key appended at the end would lose to a later section's.
  if (section_line < 0) {
    text += "[" + std::string(section) + "]\r\n" + std::string(key) + "=" + std::string(value) +
            "\r\n";
  }
  const auto& lines = Cache().lines;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (static_cast<long>(i) == key_line) {
      text += std::string(key) + "=" + std::string(value) + "\r\n";
    } else {
      text += lines[i] + "\r\n";
    }
  }
  if (key_line < 0 && section_line >= 0) {
    text += std::string(key) + "=" + std::string(value) + "\r\n";
  }

  // On failure the cache stays as it was.
  if (std::error_code error = platform::WriteFileAtomic(path, text)) return Failed(error);
  FreePrivateProfile();
  return {{},
          key_line < 0 ? ProfileWrite::kAdded : ProfileWrite::kReplaced,
          static_cast<int>(key_line)};
}

WriteOutcome StoreLine(std::string_view section, std::string_view key, std::string& value,
                       const std::string& file) {
  FreePrivateProfile();  // compare with the file as it is now
  if (!section.empty()) {
    std::string current;
    LookUp(section, key, "", current, 512, file);
    StripProfileValue(current);
    if (!current.empty() && current == value) return {{}, ProfileWrite::kUnchanged, 1};
  }
  StripProfileValue(value);
  return WriteLine(section, key, value, file);
}

// StorePosixProfilePath; `converted` tells whether anything was stored.
WriteOutcome StorePosixPath(std::string_view section, std::string_view key, std::string& path,
                            const std::string& file, bool& converted) {
  converted = !path.empty() && IsMacHFSFileFormat(path);
  if (!converted) return {{}, ProfileWrite::kUnchanged, 0};
  std::string posix = HFSToPOSIX(path);
  WriteOutcome outcome = StoreLine(section, key, posix, file);
  path = posix;
  return outcome;
}

// RemoveProfileKey's work: the error, and whether lines were removed.
std::error_code RemoveKeyLines(std::string_view section, std::string_view key,
                               const std::string& file, bool& removed) {
  removed = false;
  if (section.empty() || key.empty() || ExistingPathAnyCase(file).empty()) return {};
  platform::FileUpdateLock lock(file);
  if (!Locked(lock, file)) return lock.error();
  std::string path = ExistingPathAnyCase(file);
  if (path.empty()) return {};
  FreePrivateProfile();
  LoadCache(path, kProfileValueSize);
  const std::vector<std::string> lines = Cache().lines;
  long section_line, key_line;
  FindSectionAndKey(lines, section, key, section_line, key_line);
  if (key_line < 0) return {};

  const std::string key_target = UpperAscii(key);
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (static_cast<long>(i) > section_line && FirstToken(lines[i]) == key_target) continue;
    text += lines[i] + "\r\n";
  }
  FreePrivateProfile();
  if (std::error_code error = platform::WriteFileAtomic(path, text)) return error;
  removed = true;
  return {};
}

}  // namespace

std::string ProfileValue(std::string_view section, std::string_view key, std::string_view def,
                         const std::string& file) {
  std::string value;
  LookUp(section, key, def, value, kProfileValueSize, file);
  StripProfileValue(value);
  return value;
}

std::string RawProfileValue(std::string_view section, std::string_view key, std::string_view def,
                            const std::string& file) {
  std::string value;
  LookUp(section, key, def, value, kProfileValueSize, file);
  return value;
}

void FreePrivateProfile() { Cache().reset(); }

bool IsStorableProfileText(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return IsLineByte(static_cast<unsigned char>(c)); });
}

std::error_code WriteProfileValue(std::string_view section, std::string_view key,
                                  std::string_view value, const std::string& file,
                                  ProfileWrite* what) {
  WriteOutcome outcome = WriteLine(section, key, value, file);
  if (what && !outcome.error) *what = outcome.what;
  return outcome.error;
}

std::error_code StoreProfileValue(std::string_view section, std::string_view key,
                                  std::string& value, const std::string& file, ProfileWrite* what) {
  WriteOutcome outcome = StoreLine(section, key, value, file);
  if (what && !outcome.error) *what = outcome.what;
  return outcome.error;
}

std::error_code RemoveProfileKey(std::string_view section, std::string_view key,
                                 const std::string& file, bool* removed) {
  bool did = false;
  std::error_code error = RemoveKeyLines(section, key, file, did);
  if (removed) *removed = did;
  return error;
}

std::optional<bool> YesNoValue(std::string_view text) {
  std::string word(text.substr(0, std::min<std::size_t>(text.size(), kMatchLength)));
  StripProfileValue(word);
  if (word.empty()) return std::nullopt;
  switch (ToLowerAscii(word[0])) {
    case 'y':
      return true;
    case 'n':
      return false;
    default:
      return std::nullopt;
  }
}

std::error_code StorePosixProfilePath(std::string_view section, std::string_view key,
                                      std::string& path, const std::string& file, bool* converted) {
  bool did = false;
  std::error_code error = StorePosixPath(section, key, path, file, did).error;
  if (converted) *converted = did;
  return error;
}

// ---- Described interface -------------------------------------------------------------------

int GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                            std::string& buffer, std::size_t size, const std::string& file) {
  return LookUp(section, key, def, buffer, size, file);
}

int CachedPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                               std::string& buffer, std::size_t size) {
  return LookUpCached(section, key, def, buffer, size);
}

int GetNuvelPrivateProfileString(std::string_view section, std::string_view key,
                                 std::string_view def, std::string& buffer, std::size_t size,
                                 const std::string& file) {
  int length = LookUp(section, key, def, buffer, size, file);
  StripProfileValue(buffer);
  return length;
}

int WritePrivateProfileString(std::string_view section, std::string_view key,
                              std::string_view value, const std::string& file) {
  return WriteLine(section, key, value, file).described;
}

int RemovePrivateProfileKey(std::string_view section, std::string_view key,
                            const std::string& file) {
  bool removed = false;
  if (RemoveKeyLines(section, key, file, removed)) return -2;
  return removed ? 1 : 0;
}

int WriteNuvelPrivateProfileString(std::string_view section, std::string_view key,
                                   std::string& value, const std::string& file) {
  return StoreLine(section, key, value, file).described;
}

int Set_YN_ini_Value(std::string_view text, int& flag) {
  std::optional<bool> yes = YesNoValue(text);
  if (!yes) return 0;
  flag = *yes ? 1 : 0;
  return 1;
}

int ConvertToPOSIXPrivateProfileString(std::string_view section, std::string_view key,
                                       std::string& path, const std::string& file) {
  bool converted = false;
  return StorePosixPath(section, key, path, file, converted).described;
}

}  // namespace nuvel::base
