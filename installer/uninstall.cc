#include "installer/uninstall.h"

#include <algorithm>
#include <numeric>

#include "base/ascii.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/copy_engine.h"
#include "installer/shortcuts.h"
#include "installer/sources.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "ui/dialog.h"
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

ui::Dialog BuildDialog(const std::vector<std::string>& lines) {
  ui::Dialog dialog;
  dialog.name = "uninstall";
  dialog.id = "MSG_Message_SelectProductToUninstall";
  dialog.title = base::Run().szCoursewareName;
  dialog.default_item = kItemDone;
  dialog.cancel_item = kItemDone;
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Done"), kItemDone);
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Uninstall"), kItemUninstall);
  dialog.Add(ui::ItemKind::kStaticText, base::Localize("MSG_Message_SelectProductToUninstall"),
             kItemPrompt);
  ui::DialogItem& list = dialog.Add(ui::ItemKind::kList, "", kItemList);
  list.lines = lines;
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
}

}  // namespace

UninstallState& Uninstall() {
  static UninstallState state;
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
    ui::Dialog dialog = BuildDialog(lines);
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

bool HoldsInstallation(const std::string& folder) {
  std::string path = platform::WithoutTrailingSlash(platform::AbsolutePath(folder));
  if (path.empty() || path == "/" || path == platform::SysRoot() || path == "/opt") return false;
  // Never the home folder or a folder that contains it.
  std::string home = platform::WithoutTrailingSlash(platform::HomeFolder());
  if (!home.empty() && (home == path || home.rfind(path + "/", 0) == 0)) return false;
  if (!platform::IsDirectory(path)) return false;
  for (const char* marker : {"launch", "content", "records.ini", "support", "Nuvel_log.txt"}) {
    if (platform::Exists(path + "/" + marker)) return true;
  }
  return false;
}

namespace {

// The desktop launchers made for this installation point into it: once it is gone they would
// only start nothing, so they go with it. Launchers of other installations are left alone.
void RemoveDesktopLaunchers(const std::string& installation) {
  if (installation.empty()) return;
  std::string desktop = platform::DesktopFolder();
  for (const char* name : {"Student", "Student Nuvel", "Teacher", "Teacher Nuvel"}) {
    std::string path = desktop + "/" + name + ".desktop";
    std::string text;
    if (platform::ReadFile(path, text)) continue;
    if (text.find(installation + "/") == std::string::npos) continue;
    platform::DeleteDesktopLauncher(path);
    base::WriteLogf(1, "Removed the desktop launcher %s", path.c_str());
  }
}

}  // namespace

int RemoveWholeInstallation() {
  base::WriteLogf(0, "Deleting Entire Nuvel Installation");
  ui::CurrentBackend().SetCursor(ui::Cursor::kBusy);
  int refused = 0;
  std::string installation = platform::ParentFolder(DataFolder());
  std::string records_parent = platform::ParentFolder(base::Paths().RecordsPath);
  std::string local = platform::WithoutTrailingSlash(base::Paths().localNuvelDirectory);
  RemoveDesktopLaunchers(installation);
  for (const std::string& folder : {installation, records_parent}) {
    if (folder.empty() || !platform::Exists(folder)) continue;
    if (!HoldsInstallation(folder)) {
      base::WriteLogf(1, "ERROR: not deleting '%s': it holds no installation", folder.c_str());
      ++refused;
      continue;
    }
    DeleteDirectory(folder);
  }
  if (!local.empty() && platform::Exists(local)) {
    if (HoldsInstallation(local)) {
      MoveFileToTrash(local);
    } else {
      base::WriteLogf(1, "ERROR: not moving '%s' to the Trash: it holds no installation",
                      local.c_str());
      ++refused;
    }
  }
  ui::CurrentBackend().SetCursor(ui::Cursor::kArrow);
  return refused;
}

}  // namespace nuvel::installer
