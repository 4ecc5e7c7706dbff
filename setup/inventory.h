// The inventory (--list): what an installation source holds, what this machine has installed,
// and what installing each course of the source would do. It shows no dialog and writes
// nothing: no log, no records.ini, no system folder. A technician's script asks it before an
// installation, so that a second run over a lab can tell that there is nothing left to do.
//
// --json prints one object (format 1):
//
//   {"format":1,
//    "source":"/srv/courses",               the source root
//    "installation":"/opt/Nuvel",           the installation folder; null when none is set up
//    "source_courses":[                     every course of the source, by folder
//      {"folder":"003MUL50","name":"English Foundations, Level 3","version":"5.0",
//       "fix_level":362,"fix_version":5,    null when the source does not say
//       "languages":["ENG","FRA"],           the language codes it can be installed in
//       "size_mb":1520,                     null when unknown
//       "status":"same"}],                  see below
//    "installed_courses":[                  every course installed on this machine, by folder
//      {"folder":"003MUL50","name":"English Foundations, Level 3","language":"ENG",
//       "fix_level":362,"fix_version":5,    null when not recorded
//       "complete":true}],                  false: an installation that did not finish
//    "counts":{"new":4,"same":1,"more_recent":0,"older":0,"incomplete":0}}
//
// status: "new" (not installed), "same" (installed, same build), "more_recent" (the source's
// build is more recent: installing updates it), "older" (the installed build is more recent),
// "incomplete" (installed but not finished: installing completes it). Builds compare by fix
// level, then by fix version, as the update offer does.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace nuvel::setup {

struct SourceCourse {
  std::string folder;
  std::string name;
  std::string version;  // "5.0"
  std::optional<int> fix_level;
  std::optional<int> fix_version;
  std::vector<std::string> languages;
  std::optional<int> size_mb;
  std::string status;  // new, same, more_recent, older, incomplete
};

struct InstalledCourse {
  std::string folder;
  std::string name;
  std::string language;  // as recorded in its nuvel.ini; "" when not recorded
  std::optional<int> fix_level;
  std::optional<int> fix_version;
  bool complete = true;
};

struct Inventory {
  std::string source;
  std::string installation;  // "" when this machine has no installation
  std::vector<SourceCourse> source_courses;
  std::vector<InstalledCourse> installed_courses;
};

/// Reads the source at `source` (an absolute folder) and this machine's installation.
Inventory TakeInventory(const std::string& source);

/// The inventory as a person reads it, and as the JSON object above (one line, with a line end).
std::string InventoryText(const Inventory& inventory);
std::string InventoryJson(const Inventory& inventory);

/// --list: prints the inventory on standard output; the exit status (0).
int RunList(const std::string& source, bool json);

}  // namespace nuvel::setup
