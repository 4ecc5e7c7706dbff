// Uninstalling: the uninstall dialog, which removes single courses, and the removal of the whole
// installation after the driver's confirmation. A course is gone when its two folders are gone;
// nothing is removed piecemeal from records.ini.
//
// Dialog "uninstall": 1 Done (default and cancel), 2 Uninstall (enabled exactly while a row is
// selected), 3 the prompt, 4 the list of installed courses (sorted by display line without
// regard to case), 5 Uninstall All.
//
// The whole-installation removal never deletes the file-system root, the home folder or a folder
// above it, or a folder that does not hold an installation (none of "launch", "content",
// "records.ini", "support" or "Nuvel_log.txt" in it): a records path that was never set up would
// otherwise name a system folder as the "parent of the records folder".
#pragma once

#include <string>
#include <vector>

namespace nuvel::installer {

struct UninstallState {
  std::vector<int> installedProdSortOrder;  // indices into Sources().InstalledProducts
  int fUninstallall = 0;
  int fDeletelastone = 0;

  void reset() { *this = UninstallState{}; }
};

UninstallState& Uninstall();

inline constexpr int kUninstallLastRemoved = 1;
inline constexpr int kUninstallDone = 2;
inline constexpr int kUninstallAll = 3;

/// Runs the uninstall dialog until the user leaves it: 1 when the last course was removed,
/// 2 Done (or the close box), 3 Uninstall All.
int Prompt_Uninstall();

/// The display lines of the installed courses in sorted order (rebuilds the list).
std::vector<std::string> BuildProdInstalledList();

/// Logs "DeleteDirectory: %s" and deletes the tree; the platform status (0 success).
int DeleteDirectory(const std::string& path);

/// True when `folder` may be deleted as part of an installation (see above).
bool HoldsInstallation(const std::string& folder);

/// Deletes the installation folder and the records folder's parent (each only when it holds an
/// installation), and moves the local system folder to the Trash. Returns the number of folders
/// refused by the safety rule.
int RemoveWholeInstallation();

}  // namespace nuvel::installer
