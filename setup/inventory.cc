#include "setup/inventory.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "installer/install.h"
#include "installer/selection.h"
#include "installer/sources.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "ui/dialog.h"

namespace nuvel::setup {
namespace {

std::optional<int> IniNumber(const std::string& file, const char* key) {
  if (file.empty()) return std::nullopt;
  std::string value = base::ProfileValue("nuvel.ini", key, "", file);
  if (value.empty()) return std::nullopt;
  return std::atoi(value.c_str());
}

std::string IniText(const std::string& file, const char* key) {
  return file.empty() ? "" : base::ProfileValue("nuvel.ini", key, "", file);
}

// The first of these files that exists, whatever the case of its name; "" when none does.
std::string FirstExisting(std::initializer_list<std::string> paths) {
  for (const std::string& path : paths) {
    std::string found = base::ExistingPathAnyCase(path);
    if (!found.empty() && platform::IsRegularFile(found)) return found;
  }
  return "";
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of(" \t,", start);
    if (end == std::string::npos) end = text.size();
    if (end > start) words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

// The installation folder of this machine, read without creating or writing anything: the
// system folder that holds records.ini (the Applications folder's "Nuvel", else the shared
// data folder's), the records.ini it points to, and that file's launch_path_local (else the
// default installation folder). Also the system folder, where courses that must stay local
// are installed. Both "" when this machine has no installation.
std::pair<std::string, std::string> InstallationFolders() {
  std::string system;
  for (const std::string& folder :
       {platform::ApplicationsFolder() + "/Nuvel", platform::SharedDataFolder() + "/Nuvel"}) {
    if (platform::IsRegularFile(folder + "/records.ini")) {
      system = folder;
      break;
    }
  }
  if (system.empty()) {
    // Courses installed without a records.ini (one removed by hand) are still installed.
    std::string fallback = platform::ApplicationsFolder() + "/Nuvel";
    return platform::IsDirectory(fallback + "/launch") ? std::pair{fallback, fallback}
                                                       : std::pair{std::string(), std::string()};
  }
  std::string records = system + "/records.ini";
  std::string elsewhere = platform::WithoutTrailingSlash(base::Convert_FileName(
      base::ProfileValue("Records", "records_ini_path_mac", "", records), 2));
  if (!elsewhere.empty() && elsewhere.front() == '/' &&
      platform::IsRegularFile(elsewhere + "/records.ini")) {
    records = elsewhere + "/records.ini";
  }
  std::string launch = platform::WithoutTrailingSlash(
      base::Convert_FileName(base::ProfileValue("Records", "launch_path_local", "", records), 2));
  if (launch.empty()) launch = platform::ApplicationsFolder() + "/Nuvel";
  return {launch, system};
}

std::vector<InstalledCourse> InstalledCourses(const std::string& installation,
                                              const std::string& system) {
  std::vector<InstalledCourse> courses;
  for (const std::string& root : {installation, system}) {
    if (root.empty()) continue;
    std::vector<std::string> names;
    if (platform::ListDirectory(root + "/launch", names)) continue;
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      if (!installer::IsSafeProductFolderName(name)) continue;
      bool known = std::any_of(courses.begin(), courses.end(),
                               [&](const InstalledCourse& c) { return c.folder == name; });
      if (known) continue;
      const std::string launch = root + "/launch/" + name;
      const std::string startup = FirstExisting({launch + "/nuvel.ini"});
      const bool unfinished = platform::Exists(launch + "/" + installer::kInstallingMark);
      const std::string name_in_ini = IniText(startup, "course_name");
      if (name_in_ini.empty() && !unfinished) continue;  // not a course folder
      // The build is the content's when the course was installed with it.
      const std::string build =
          FirstExisting({root + "/content/" + name + "/NUVEL.INI", launch + "/nuvel.ini"});
      InstalledCourse course;
      course.folder = name;
      course.name = name_in_ini;
      course.language = IniText(startup, "language");
      course.fix_level = IniNumber(build, "fix_level");
      course.fix_version = IniNumber(build, "fix_version");
      course.complete = !unfinished;
      courses.push_back(std::move(course));
    }
  }
  std::sort(courses.begin(), courses.end(),
            [](const InstalledCourse& a, const InstalledCourse& b) { return a.folder < b.folder; });
  return courses;
}

std::string StatusOf(const SourceCourse& course, const std::vector<InstalledCourse>& installed) {
  auto found = std::find_if(installed.begin(), installed.end(), [&](const InstalledCourse& c) {
    return base::EqualsIgnoreCase(c.folder, course.folder);
  });
  if (found == installed.end()) return "new";
  if (!found->complete) return "incomplete";
  auto source = std::tuple(course.fix_level.value_or(0), course.fix_version.value_or(0));
  auto here = std::tuple(found->fix_level.value_or(0), found->fix_version.value_or(0));
  if (source > here) return "more_recent";
  if (source < here) return "older";
  return "same";
}

std::vector<SourceCourse> SourceCourses(const std::string& source) {
  base::Run().current_dir = source;
  base::Run().szDefaultIniFile = source + "/install/data/setup.ini";
  std::vector<SourceCourse> courses;
  if (!installer::CheckProdExistance()) return courses;
  const auto families = installer::InitialFamilyTable();
  const installer::SourceState& found = installer::Sources();
  for (std::size_t i = 0; i < found.prodList.size(); ++i) {
    const installer::FoundProduct& product = found.prodList[i];
    SourceCourse course;
    course.folder = product.folder;
    course.name = product.courseName;
    course.version = product.version.starts_with("V") ? product.version.substr(1) : product.version;
    const std::string startup = i < found.prodFilePaths.size() ? found.prodFilePaths[i] : "";
    const std::string build =
        FirstExisting({installer::SourceCourseIniPath(product.folder), startup});
    course.fix_level = IniNumber(build, "fix_level");
    course.fix_version = IniNumber(build, "fix_version");
    course.languages = Words(product.languages);
    for (const installer::FamilyRow& family : families) {
      if (family.number == product.folder.substr(0, 3) && family.sizeMB > 0) {
        course.size_mb = family.sizeMB;
      }
    }
    courses.push_back(std::move(course));
  }
  std::sort(courses.begin(), courses.end(),
            [](const SourceCourse& a, const SourceCourse& b) { return a.folder < b.folder; });
  return courses;
}

std::string Number(const std::optional<int>& value) {
  return value ? std::to_string(*value) : "null";
}

std::string Build(const std::optional<int>& level, const std::optional<int>& version) {
  if (!level) return "-";
  return std::to_string(*level) + (version ? "." + std::to_string(*version) : "");
}

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

}  // namespace

Inventory TakeInventory(const std::string& source) {
  Inventory inventory;
  inventory.source = platform::WithoutTrailingSlash(source);
  auto [installation, system] = InstallationFolders();
  inventory.installation = installation;
  inventory.installed_courses = InstalledCourses(installation, system);
  inventory.source_courses = SourceCourses(inventory.source);
  for (SourceCourse& course : inventory.source_courses) {
    course.status = StatusOf(course, inventory.installed_courses);
  }
  return inventory;
}

std::string InventoryText(const Inventory& inventory) {
  std::string text = "Source " + inventory.source + ": " +
                     std::to_string(inventory.source_courses.size()) + " course(s)\n";
  for (const SourceCourse& course : inventory.source_courses) {
    std::string languages;
    for (const std::string& code : course.languages) languages += (languages.empty() ? "" : " ") + code;
    text += "  " + Padded(course.folder, 10) + Padded(course.status, 13) + "V" +
            Padded(course.version, 5) + "fix " + Padded(Build(course.fix_level, course.fix_version), 9) +
            Padded(course.size_mb ? std::to_string(*course.size_mb) + " MB" : "-", 9) +
            course.name + (languages.empty() ? "" : " (" + languages + ")") + "\n";
  }
  if (inventory.installation.empty()) return text + "No installation on this machine\n";
  text += "Installed in " + inventory.installation + ": " +
          std::to_string(inventory.installed_courses.size()) + " course(s)\n";
  for (const InstalledCourse& course : inventory.installed_courses) {
    text += "  " + Padded(course.folder, 10) + Padded(course.complete ? "complete" : "incomplete", 13) +
            Padded(course.language.empty() ? "-" : course.language, 6) + "fix " +
            Padded(Build(course.fix_level, course.fix_version), 9) + course.name + "\n";
  }
  return text;
}

std::string InventoryJson(const Inventory& inventory) {
  std::map<std::string, int> counts = {
      {"new", 0}, {"same", 0}, {"more_recent", 0}, {"older", 0}, {"incomplete", 0}};
  std::string json = "{\"format\":1,\"source\":" + ui::JsonQuoted(inventory.source) +
                     ",\"installation\":" +
                     (inventory.installation.empty() ? "null" : ui::JsonQuoted(inventory.installation)) +
                     ",\"source_courses\":[";
  for (std::size_t i = 0; i < inventory.source_courses.size(); ++i) {
    const SourceCourse& course = inventory.source_courses[i];
    ++counts[course.status];
    std::string languages;
    for (const std::string& code : course.languages) {
      languages += (languages.empty() ? "" : ",") + ui::JsonQuoted(code);
    }
    json += std::string(i ? "," : "") + "{\"folder\":" + ui::JsonQuoted(course.folder) +
            ",\"name\":" + ui::JsonQuoted(course.name) + ",\"version\":" +
            ui::JsonQuoted(course.version) + ",\"fix_level\":" + Number(course.fix_level) +
            ",\"fix_version\":" + Number(course.fix_version) + ",\"languages\":[" + languages +
            "],\"size_mb\":" + Number(course.size_mb) + ",\"status\":" +
            ui::JsonQuoted(course.status) + "}";
  }
  json += "],\"installed_courses\":[";
  for (std::size_t i = 0; i < inventory.installed_courses.size(); ++i) {
    const InstalledCourse& course = inventory.installed_courses[i];
    json += std::string(i ? "," : "") + "{\"folder\":" + ui::JsonQuoted(course.folder) +
            ",\"name\":" + ui::JsonQuoted(course.name) + ",\"language\":" +
            ui::JsonQuoted(course.language) + ",\"fix_level\":" + Number(course.fix_level) +
            ",\"fix_version\":" + Number(course.fix_version) +
            ",\"complete\":" + (course.complete ? "true" : "false") + "}";
  }
  json += "],\"counts\":{";
  bool first = true;
  for (const char* status : {"new", "same", "more_recent", "older", "incomplete"}) {
    json += std::string(first ? "" : ",") + "\"" + status + "\":" + std::to_string(counts[status]);
    first = false;
  }
  return json + "}}\n";
}

int RunList(const std::string& source, bool json) {
  // Fresh module state, as at the start of a run; the log stays unset, so nothing is written.
  platform::ResetRunState();
  Inventory inventory = TakeInventory(source);
  std::string out = json ? InventoryJson(inventory) : InventoryText(inventory);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return 0;
}

}  // namespace nuvel::setup
