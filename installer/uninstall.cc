#include "installer/uninstall.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <numeric>
#include <string_view>
#include <utility>

#include "base/ascii.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/copy_engine.h"
#include "installer/shortcuts.h"
#include "installer/sources.h"
#include "platform/copy.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "ui/dialog.h"
#include "ui/run_report.h"
#include "ui/status_box.h"

namespace nuvel::installer {
namespace {

enum UninstallItem {
  kItemDone = 1,
  kItemUninstall = 2,
  kItemPrompt = 3,
  kItemList = 4,
  kItemUninstallAll = 5,
};

// The data folder (launch) without its trailing separator.
std::string DataFolder() { return platform::WithoutTrailingSlash(base::Paths().DataPath); }

ui::Dialog BuildDialog(const std::vector<std::string>& lines, std::vector<std::string> keys) {
  ui::Dialog dialog;
  dialog.name = "uninstall";
  dialog.id = "MSG_Message_SelectProductToUninstall";
  dialog.title = base::Run().szCoursewareName;
  dialog.default_item = kItemDone;
  dialog.cancel_item = kItemDone;
  dialog.selection_buttons = {kItemUninstall};
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Done"), kItemDone);
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Uninstall"), kItemUninstall);
  dialog.Add(ui::ItemKind::kStaticText, base::Localize("MSG_Message_SelectProductToUninstall"),
             kItemPrompt);
  ui::DialogItem& list = dialog.Add(ui::ItemKind::kList, "", kItemList);
  list.lines = lines;
  list.keys = std::move(keys);
  if (!lines.empty()) list.selected = {0};
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_UninstallAll"), kItemUninstallAll);
  // Uninstall is enabled exactly while a row is selected.
  auto sync = [](ui::Dialog& d) {
    const ui::DialogItem* rows = d.item(kItemList);
    d.item(kItemUninstall)->enabled = rows && !rows->selected.empty();
  };
  sync(dialog);
  dialog.on_change = [sync](ui::Dialog& d, int) { sync(d); };
  return dialog;
}

// Removes one course: its startup folder and its content folder (a CD-based course has none).
void RemoveCourse(const std::string& folder) {
  ui::CurrentBackend().SetCursor(ui::Cursor::kBusy);
  std::string data = DataFolder();
  DelTree(data + "/" + folder);
  DelTree(platform::ParentFolder(data) + "/content/" + folder);
  ui::CurrentBackend().SetCursor(ui::Cursor::kArrow);
  base::WriteLogf(0, "Uninstalled %s", folder.c_str());
  ui::ReportCourseRemoved(folder);
}

}  // namespace

UninstallState& Uninstall() {
  static UninstallState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("installer::Uninstall", [] { state.reset(); });
  return state;
}

std::vector<std::string> BuildProdInstalledList() {
  int count = NumOfProducts();
  auto& order = Uninstall().installedProdSortOrder;
  order.resize(static_cast<std::size_t>(std::max(count, 0)));
  std::iota(order.begin(), order.end(), 0);
  const auto& installed = Sources().InstalledProducts;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return base::LowerAscii(installed[static_cast<std::size_t>(a)].displayLine) <
           base::LowerAscii(installed[static_cast<std::size_t>(b)].displayLine);
  });
  std::vector<std::string> lines;
  for (int index : order) lines.push_back(installed[static_cast<std::size_t>(index)].displayLine);
  ui::StatusBoxDestroy();
  return lines;
}

int Prompt_Uninstall() {
  for (;;) {
    std::vector<std::string> lines = BuildProdInstalledList();
    // Each row's key is the installed course's folder, in the order of the lines.
    std::vector<std::string> keys;
    for (int index : Uninstall().installedProdSortOrder) {
      keys.push_back(Sources().InstalledProducts[static_cast<std::size_t>(index)].folder);
    }
    ui::Dialog dialog = BuildDialog(lines, std::move(keys));
    int hit = ui::ModalDialog(dialog);
    if (hit == kItemUninstallAll) {
      Uninstall().fUninstallall = 1;
      return kUninstallAll;
    }
    if (hit != kItemUninstall) return kUninstallDone;

    const ui::DialogItem* list = dialog.item(kItemList);
    if (!list || list->selected.empty()) continue;
    int row = list->selected.front();
    const auto& order = Uninstall().installedProdSortOrder;
    if (row < 0 || row >= static_cast<int>(order.size())) continue;
    RemoveCourse(Sources().InstalledProducts[static_cast<std::size_t>(order[row])].folder);
    if (BuildProdInstalledList().empty()) {
      Uninstall().fDeletelastone = 1;
      return kUninstallLastRemoved;
    }
  }
}

int DeleteDirectory(const std::string& path) {
  base::WriteLogf(0, "DeleteDirectory: %s", path.c_str());
  std::string folder = path;
  if (folder.empty() || folder.back() != '/') folder += '/';
  return DelTree(folder);
}

namespace {

// The roles a folder plays in an installation; one folder may play several.
enum Role : unsigned {
  kInstallationRole = 1,  // the installation folder: startup files, content, applications
  kRecordsRole = 2,       // a records folder: records.ini, the student records
  kSystemRole = 4,        // the local system folder: settings, the log, per-user files
};

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsLetters(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// A product folder name: three digits, three letters, two digits ("010ENG50"). Redirector
// folders of older courses drop the first digit.
bool IsProductFolderName(std::string_view name, bool short_form_too = false) {
  std::size_t digits = name.size() == 8 ? 3 : (short_form_too && name.size() == 7 ? 2 : 0);
  return digits != 0 && IsDigits(name.substr(0, digits)) && IsLetters(name.substr(digits, 3)) &&
         IsDigits(name.substr(digits + 3));
}

// The student data folder of a Records server: "data_i_" and three digits.
bool IsStudentDataFolderName(std::string_view name) {
  return name.size() == 10 && name.starts_with("data_i_") && IsDigits(name.substr(7));
}

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Entries this program creates, and removes whole, in a folder of these roles.
bool IsOwnEntry(std::string_view name, unsigned roles) {
  // Every role: the settings and the log may live in any of these folders, with the lock files
  // of the settings files' updates (".records.ini.lock") and the single-instance locks.
  if (IsOneOf(name, {"records.ini", "Nuvel_log.txt", "nuvel.log", "data", "Shortcuts",
                     "support_local", ".records.ini.lock"}) ||
      IsStudentDataFolderName(name)) {
    return true;
  }
  for (std::string_view creator : kNuvelCreators) {
    if (name == "nuvel-" + std::string(creator) + ".lock") return true;
  }
  if ((roles & kSystemRole) && name.starts_with('.') && name.ends_with(".lock")) {
    // The update lock of one of the system folder's settings files.
    for (std::string_view file : {"VERSION2M.INI", "local.ini", "forced.ini", "user.ini",
                                  "window.ini"}) {
      if (name == platform::UpdateLockName(std::string(file))) return true;
    }
  }
  if ((roles & kInstallationRole) &&
      IsOneOf(name, {"techm", "doc", "fonts", "babel", "Nuvel", "Launcher.app",
                     "Records Manager.app", "Freshen.app", "Analyzer.app", "Redirector.app"})) {
    return true;
  }
  if ((roles & kSystemRole) &&
      (IsOneOf(name, {"VERSION2M.INI", "VERSION2M.INI.BAK", "local.ini", "forced.ini",
                      "engine.luc", "tutor.luc", "user.ini", "recent.lst", "scores.dat",
                      "bookmarks.dat", "voice.cfg", "sr_user.dat", "window.ini", "Setup.app"}) ||
       IsProductFolderName(name, true))) {
    return true;
  }
  return false;
}

// Folders this program creates that others may also put files in: only their own entries
// (by name) are removed, and the folder only when it is then empty.
bool IsSharedSubfolder(std::string_view name, unsigned roles) {
  if (roles & kInstallationRole) return IsOneOf(name, {"launch", "content", "support"});
  if (roles & kSystemRole) return name == "launch";  // courses installed locally
  return false;
}

bool IsOwnInSubfolder(std::string_view subfolder, std::string_view name) {
  if (subfolder == "support") {
    return IsOneOf(
        name, {"engine.luc", "tutor.luc", "engine.ini", "Nuvel.jpg", "sr", "about", "lessons"});
  }
  return IsProductFolderName(name);  // launch and content hold one folder per course
}

// What removing the whole installation does in one folder.
struct FolderPlan {
  std::string folder;
  unsigned roles = 0;
  std::vector<std::string> ours;   // deleted whole
  std::vector<std::string> sweep;  // subfolders removed when empty afterwards
  std::vector<std::string> left;   // entries this program did not create: left in place
};

struct RemovalPlan {
  std::vector<FolderPlan> folders;  // deepest first
  int refused = 0;
};

std::string Normalized(const std::string& path) {
  return platform::WithoutTrailingSlash(platform::AbsolutePath(path));
}

bool IsSameOrInside(const std::string& path, const std::string& folder) {
  return path == folder || path.starts_with(folder == "/" ? folder : folder + "/");
}

// The safety rule: never the root, the system root, or a folder that is or holds the home
// folder, the Applications folder or the shared data folder.
bool MayBeTouched(const std::string& folder) {
  if (folder.empty() || folder == "/" || folder == Normalized(platform::SysRoot() + "/")) {
    return false;
  }
  for (const std::string& kept :
       {platform::HomeFolder(), platform::ApplicationsFolder(), platform::SharedDataFolder()}) {
    std::string protected_folder = Normalized(kept);
    if (!protected_folder.empty() && IsSameOrInside(protected_folder, folder)) return false;
  }
  return platform::IsDirectory(folder);
}

// The folder the user chose for the student records holds them in its "data" folder; a records
// folder read from records.ini is the folder itself.
std::string RecordsFolder() {
  std::string records = platform::WithoutTrailingSlash(base::Paths().RecordsPath);
  if (records.empty()) return "";
  std::string parent = platform::ParentFolder(records);
  return records.size() > parent.size() && records.ends_with("/data") ? parent : records;
}

// Sorts the entries of `plan.folder` (and of its shared subfolders) into ours and left.
// Entries that are themselves planned folders, or hold one, are dealt with on their own.
void SortEntries(FolderPlan& plan, const std::vector<std::string>& planned) {
  auto holds_planned = [&](const std::string& path) {
    return std::any_of(planned.begin(), planned.end(),
                       [&](const std::string& other) { return IsSameOrInside(other, path); });
  };
  std::vector<platform::TreeEntry> entries;
  platform::ListTreeEntries(plan.folder, entries);
  for (const platform::TreeEntry& entry : entries) {
    std::string path = plan.folder + "/" + entry.name;
    if (holds_planned(path)) continue;
    if (IsOwnEntry(entry.name, plan.roles)) {
      plan.ours.push_back(path);
    } else if (IsSharedSubfolder(entry.name, plan.roles) &&
               entry.kind == platform::ObjectKind::kDirectory) {
      std::vector<platform::TreeEntry> inside;
      platform::ListTreeEntries(path, inside);
      for (const platform::TreeEntry& item : inside) {
        std::string item_path = path + "/" + item.name;
        if (holds_planned(item_path)) continue;
        (IsOwnInSubfolder(entry.name, item.name) ? plan.ours : plan.left).push_back(item_path);
      }
      plan.sweep.push_back(path);
    } else {
      plan.left.push_back(path);
    }
  }
  std::sort(plan.ours.begin(), plan.ours.end());
  std::sort(plan.left.begin(), plan.left.end());
}

RemovalPlan PlanWholeRemoval() {
  const base::PathState& paths = base::Paths();
  std::vector<std::pair<std::string, unsigned>> candidates = {
      {platform::ParentFolder(DataFolder()), kInstallationRole},
      {RecordsFolder(), kRecordsRole},
      {paths.rRecordsIniPath, kRecordsRole},
      {paths.localNuvelDirectory, kSystemRole},
  };
  RemovalPlan plan;
  for (auto& [path, role] : candidates) {
    if (path.empty()) continue;
    std::string folder = Normalized(path);
    auto same = std::find_if(plan.folders.begin(), plan.folders.end(),
                             [&](const FolderPlan& p) { return p.folder == folder; });
    if (same != plan.folders.end()) {
      same->roles |= role;
    } else if (platform::Exists(folder)) {
      FolderPlan added;
      added.folder = folder;
      added.roles = role;
      plan.folders.push_back(std::move(added));
    }
  }
  std::vector<std::string> planned;
  for (auto it = plan.folders.begin(); it != plan.folders.end();) {
    if (!MayBeTouched(it->folder)) {
      base::WriteLogf(1, "ERROR: not deleting '%s': it is a system or home folder",
                      it->folder.c_str());
      ++plan.refused;
      it = plan.folders.erase(it);
    } else {
      planned.push_back(it->folder);
      ++it;
    }
  }
  for (auto it = plan.folders.begin(); it != plan.folders.end();) {
    std::vector<std::string> others;
    std::copy_if(planned.begin(), planned.end(), std::back_inserter(others),
                 [&](const std::string& other) { return other != it->folder; });
    SortEntries(*it, others);
    if (it->ours.empty()) {
      base::WriteLogf(1, "ERROR: not deleting '%s': it holds no installation", it->folder.c_str());
      ++plan.refused;
      it = plan.folders.erase(it);
    } else {
      ++it;
    }
  }
  // Deepest first, so that a folder inside another is gone before the outer one is emptied.
  std::stable_sort(plan.folders.begin(), plan.folders.end(),
                   [](const FolderPlan& a, const FolderPlan& b) {
                     return std::count(a.folder.begin(), a.folder.end(), '/') >
                            std::count(b.folder.begin(), b.folder.end(), '/');
                   });
  return plan;
}

// Deletes the launcher file `path` when it starts something inside `installation`.
void RemoveLauncherInto(const std::string& path, const std::string& installation) {
  std::string text;
  if (platform::ReadFile(path, text)) return;
  if (text.find(installation + "/") == std::string::npos) return;
  if (auto ec = platform::DeleteDesktopLauncher(path)) {
    base::WriteLogf(1, "ERROR: cannot remove the launcher %s (%d)", path.c_str(), ec.value());
    return;
  }
  base::WriteLogf(1, "Removed the desktop launcher %s", path.c_str());
}

// The launchers made for this installation, on the desktop and in the system's application
// menu, point into it: once it is gone they would only start nothing, so they go with it.
// Launchers of other installations are left alone.
void RemoveDesktopLaunchers(const std::string& installation) {
  if (installation.empty()) return;
  std::string desktop = platform::DesktopFolder();
  for (const char* name : {"Student", "Student Nuvel", "Teacher", "Teacher Nuvel"}) {
    RemoveLauncherInto(desktop + "/" + name + ".desktop", installation);
  }
  for (const std::string& menu : platform::SystemMenuFolders()) {
    for (const char* file : kMenuLauncherFiles) RemoveLauncherInto(menu + "/" + file, installation);
  }
}

// Whether nothing is left in `folder` but entries of its own and planned folders.
bool HoldsOnlyOwnEntries(const FolderPlan& plan) {
  std::vector<platform::TreeEntry> entries;
  platform::ListTreeEntries(plan.folder, entries);
  return std::all_of(entries.begin(), entries.end(), [&](const platform::TreeEntry& entry) {
    const std::string path = plan.folder + "/" + entry.name;
    return std::find(plan.ours.begin(), plan.ours.end(), path) != plan.ours.end();
  });
}

}  // namespace

std::vector<std::string> WholeInstallationFolders() {
  RemovalPlan plan = PlanWholeRemoval();
  std::vector<std::string> folders;
  for (const FolderPlan& folder : plan.folders) folders.push_back(folder.folder);
  std::sort(folders.begin(), folders.end());
  return folders;
}

WholeRemoval RemoveWholeInstallation() {
  base::WriteLogf(0, "Deleting Entire Nuvel Installation");
  ui::CurrentBackend().SetCursor(ui::Cursor::kBusy);
  RemoveDesktopLaunchers(platform::ParentFolder(DataFolder()));
  RemovalPlan plan = PlanWholeRemoval();
  WholeRemoval result;
  result.refused = plan.refused;
  // The courses among what goes: the folders of "launch".
  std::vector<std::string> courses;
  for (const FolderPlan& folder : plan.folders) {
    for (const std::string& path : folder.ours) {
      base::WriteLogf(0, "DeleteDirectory: %s", path.c_str());
      if (platform::FileName(platform::ParentFolder(path)) == "launch") courses.push_back(path);
    }
    for (const std::string& path : folder.left) {
      base::WriteLogf(0, "Left in place (not made by Setup): %s", path.c_str());
      result.left.push_back(path);
    }
  }
  // The log usually lies in one of these folders: it ends here rather than being written again
  // into a folder that was just emptied.
  base::StopLogging();
  const std::string system = Normalized(base::Paths().localNuvelDirectory);
  for (const FolderPlan& folder : plan.folders) {
    // The system folder goes to the Trash whole, settings and log included, unless it is the
    // installation folder or holds anything else.
    if (folder.folder == system && !(folder.roles & kInstallationRole) &&
        HoldsOnlyOwnEntries(folder) && MoveFileToTrash(folder.folder) == 0) {
      continue;
    }
    for (const std::string& path : folder.ours) {
      if (DelTree(path) != 0 && platform::Exists(path)) result.failed.push_back(path);
    }
    for (const std::string& path : folder.sweep) platform::RemoveEmptyFolder(path);
    platform::RemoveEmptyFolder(folder.folder);
  }
  for (const std::string& path : courses) {
    if (!platform::Exists(path)) ui::ReportCourseRemoved(platform::FileName(path));
  }
  ui::CurrentBackend().SetCursor(ui::Cursor::kArrow);
  return result;
}

}  // namespace nuvel::installer
