// The update check: fetches the maker's version file (keeping the previous copy as a fallback)
// and decides which installed items are older than the versions it lists: the companion
// applications (rm2_ver, launcher2_ver, freshen2_ver), the speech engine (babel_ver_mac, when a
// speech-recognition course is installed) and every installed course.
//
// The version file is a profile file with one section, "Records". A value "A~B" carries the
// other platform's version before "~" and this platform's after it; a course line without "~"
// has no update for this platform. Application versions are 15-character texts
// "%03d.%03d.%03d.%03d" compared as text; "000.000.000.000" installed means "unknown" and is
// never updated.
//
// Decisions of this implementation:
//  - A local copy is kept for a day: it is not fetched again when its modification day is
//    today or yesterday, counted in calendar days (so a copy from the last day of a month is
//    still fresh on the first of the next).
//  - Course builds are compared as numbers when both sides are whole numbers ("10" is newer
//    than "9"); other texts as texts, as the applications' versions are.
//  - A version file is valid when it holds at least 10,000 bytes and non-empty values for
//    server_009_server_name and android_url; a fetched file that is not valid is replaced by the
//    ".BAK" copy of the previous one when that is larger than 10,000 bytes.
#pragma once

#include <string>
#include <vector>

namespace nuvel::net {

/// The version file's local name (in the local system folder).
inline constexpr const char* kVersionFileName = "VERSION2M.INI";
/// The smallest valid version file.
inline constexpr std::uint64_t kMinVersionFileBytes = 10000;
/// Room of TheItemsOutOfDate, counting five characters of slack.
inline constexpr std::size_t kItemsOutOfDateSize = 255;

struct UpdateCheckState {
  struct Entry {
    std::string key;        // application key or product folder name, lower case
    std::string latest;     // newest version from the version file; "" = no update known
    std::string installed;  // version installed here
  };
  std::vector<Entry> recordsIniSettings;  // the comparison list, at most kMaxEntries
  std::string TheItemsOutOfDate;          // " key" for each out-of-date item
  int freshen_is_outofdate = 0;           // the update checker itself is out of date
  int versionFile_HasBeenDownloaded = 0;  // fetched (or kept) in this run
  int babel_version = 0;                  // the speech engine entry was handled in this check
  int first_time = 1;
  int times_accessed = 0;

  static constexpr std::size_t kMaxEntries = 200;
  void reset() { *this = UpdateCheckState{}; }
};

UpdateCheckState& UpdateCheck();

/// True when `path` is a complete version file (see the header comment).
bool IsValidVersionFile(const std::string& path);

/// Fetches the version file from the download address into the local system folder, once per
/// run. The previous copy is kept as "<file>.BAK" and restored when the fetched file is not
/// valid. Returns 0 when a version file is in place (or was already fetched in this run), 1 when
/// the fallback copy could not be restored.
int DownloadVersionFile();

/// The check. With an empty `appsFolder` only resets the access count and returns 0. Otherwise
/// fetches the version file unless the local copy is at most a day old, builds the comparison
/// list from records.ini and the installed courses and compares. Returns 1 when something is
/// out of date (TheItemsOutOfDate lists it), 0 when nothing is, -1 when the check could not be
/// made (no version file and no copy, records.ini or the version file unreadable; a message says
/// which). `downloadAddress` is not consulted (the run's download address is).
int InstallationOutOfDate(const std::string& appsFolder, const std::string& downloadAddress);

/// 1 when the installed build of course `key` (its fix_version) is smaller than the version
/// file's part after "~", as numbers; 0 otherwise: also when either file is missing or the
/// version file's value has no "~" (no update for this platform, as in the whole check).
int IsCourseOutOfDate(const std::string& key);

/// Adds the installed courses (8-character folders of the launch folder with a fix_version) to
/// the comparison list, or updates the installed version of an entry that has their key.
void GetInstalledCourseVersions();

/// Adds an application entry `key` unless one exists: its version is `value`, or records.ini's
/// when `value` is empty; records.ini is updated when it holds a different value.
void SetRecordsIniVersionIniSetting(const std::string& dataFolder, const std::string& key,
                                    const std::string& value);

/// Appends " key" to TheItemsOutOfDate (while it fits); an empty key clears it.
void SetItemsOutOfDate(const std::string& key);
const std::string& GetItemsOutOfDate();

/// Empties the comparison list.
void InitializeOutofDate();

/// Orders two versions: numerically when both are whole numbers, else as texts over at most 15
/// characters. Negative, 0 or positive as strcmp.
int CompareVersions(const std::string& a, const std::string& b);

}  // namespace nuvel::net
