// Uninstalling: the uninstall dialog, which removes single courses, and the removal of the whole
// installation after the driver's confirmation. A course is gone when its two folders are gone;
// nothing is removed piecemeal from records.ini.
//
// Dialog "uninstall": 1 Done (default and cancel), 2 Uninstall (enabled exactly while a row is
// selected), 3 the prompt, 4 the list of installed courses (sorted by display line without
// regard to case; each row keyed by the course's folder), 5 Uninstall All.
//
// Removing the whole installation deletes only what this program creates, by name: in the
// installation folder the startup files ("launch"), the content, the support files, the
// technologies, the documents and the companion applications; in a records folder records.ini,
// the log, the student records ("data", "data_i_NNN") and the shortcuts; in the local system
// folder the settings, the log and the per-user files. In "launch" and "content" only the
// folders named like a product folder are ours, in "support" only the files this program puts
// there. Every other entry stays where it is and is reported; a folder is removed only when it
// is then empty. The system folder goes to the Trash whole when it holds nothing else (and is
// not the installation folder).
//
// A folder is never touched when it is the file-system root, the system root, or is or holds
// the home folder, the Applications folder or the shared data folder, nor when it holds nothing
// this program creates: a records path that was never set up would otherwise name a system
// folder. A records folder chosen in Install Options keeps the student records in its "data"
// folder (RecordsPath): the records folder is then the chosen one, RecordsPath's parent.
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

/// What removing the whole installation left: the entries it did not create, those of its own it
/// could not delete (paths), and the number of folders refused by the safety rule.
struct WholeRemoval {
  std::vector<std::string> left;
  std::vector<std::string> failed;
  int refused = 0;
};

/// The folders that removing the whole installation touches (installation, records and system
/// folders that pass the safety rule and hold something of this program), sorted.
std::vector<std::string> WholeInstallationFolders();

/// Removes the whole installation as described above, and the desktop launchers that point
/// into it. Logs what it deletes and what it leaves, then stops logging (the log is among the
/// files removed).
WholeRemoval RemoveWholeInstallation();

}  // namespace nuvel::installer
