// The installation's folder layout and the location entries of records.ini.
//
// The installation folder ("nuvel_apps") is set by SetInstallDirectoryPath; every other folder
// and well-known file is derived from it and from the local system folder (the machine-wide
// "Nuvel" folder found by FindLocalNuvelDirectory), computed once and cached until the
// installation folder changes. Folder results of Path() end with "/".
//
// On Linux the Applications folder is $NUVEL_SYSROOT/opt and the shared user-data folder
// $NUVEL_SYSROOT/var/lib. The fixed default installation folder of a records.ini without
// launch_path_local is the Applications folder's "Nuvel" (never a path relative to the folder
// the program was started from).
#pragma once

#include <map>
#include <string>

namespace nuvel::base {

struct PathState {
  std::string installDirectoryPath;  // "nuvel_apps", no trailing "/"
  std::string localNuvelDirectory;   // the local system folder, with a trailing "/"
  std::string commonAppDataPath;     // the shared application-data folder's "Nuvel"
  std::map<std::string, std::string> cached;  // Get...Path results by function name

  std::string rRecordsIniPath;   // folder of the records.ini in use, with a trailing "/"
  std::string RecordsPath;       // student records folder
  std::string DataPath;          // course data folder
  std::string FloppyPath;
  std::string firstRecordsPath;  // RecordsPath as first read
  int just_created_records_ini = 0;
  int use_user_folder = 0;
  int USB_Drive = 0;
  int USB_Drive_no_share = 0;
  int isPathNetworked = 0;
  int initializeCalls = 0;  // Initialize_All_Paths calls in this run

  void reset() { *this = PathState{}; }
};

PathState& Paths();

/// Clears every cached path and makes `folder` the installation folder. -1 for a null folder,
/// otherwise 1 when the folder exists and 0 when it does not.
int SetInstallDirectoryPath(const char* folder);

/// Sets the installation folder, finds the local system folder, sets up the log on the first
/// call of the run (later calls mark a restart in it) and computes every folder.
void Initialize_All_Paths(const std::string& folder);

/// The machine-wide system folder, with a trailing "/"; found or created once per run. Empty
/// (and quitFlag set) when no such folder can be had.
std::string FindLocalNuvelDirectory();

/// The temporary folder, with a trailing "/".
std::string FindLocalTempDirectory();

/// The shared application-data folder's "Nuvel" ("" when the system has no such folder).
std::string FindCommonAppDataPath();

/// Makes `path` + "/Nuvel" the shared application-data folder, opening its permissions to the
/// group and others; falls back to the user's home folder when it cannot be written.
void SetupCommonAppDataPath(const std::string& path);

/// Records whether `path` lies on a network volume; 1 when it does.
int IsPathNetworked_Set(const std::string& path);
/// 1 when the installation path is a network path (or the system runs from a removable drive).
int GetIsPathNetworked();

std::string GetInstallDirectoryPath();
std::string GetNuvelDirectoryPath();
std::string GetRecordsIniDirectoryPath();
std::string GetContentDirectoryPath();
std::string GetLaunchDirectoryPath();
std::string GetSupportDirectoryPath();
std::string GetLocalSupportDirectoryPath();
std::string GetLocalPRDDirectoryPath();
std::string GetVersionIniFilePath();
std::string GetRecordsIniFilePath();
std::string GetLocalIniFilePath();
std::string GetForcedIniFilePath();

/// The full path of a well-known name ("nuvel_apps", "nuvel_data", "content", ...); folders
/// end with "/". "" for a name that is not known.
std::string Path(const std::string& name);

/// Reads the records.ini of rRecordsIniPath and derives every folder from its
/// launch_path_local (or from the default installation folder when it has none).
void Read_RecordsIni();

/// Records in the local system folder's records.ini where the records.ini in use lives.
void Write_RecordsIni();

/// "%s%s%s" of folder, a "/" when the folder lacks one, and file.
std::string ConstructFilePath(const std::string& folder, const std::string& file);

}  // namespace nuvel::base
