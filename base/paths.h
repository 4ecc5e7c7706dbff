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
//
// Where things lie:
//   records folder ("nuvel_data", holds records.ini): the installation folder when the
//     installation path is a network path or the system runs from a removable drive, otherwise
//     the local system folder ("nuvel_user").
//   "support_local" (and its "local_prd", "logos"): under the installation folder when the
//     installation path or the folder of the records.ini in use is networked, otherwise under
//     the local system folder.
//   student data folder: the records folder's "data_i_%03d" of the Records server number.
//   message files "engine.luc", "tutor.luc": the local system folder's copy (a newer one fetched
//     by the Setup) when it exists, else the support folder's when that exists, else the support
//     folder's path (where an installation puts them).
//
// Path() knows these names (folders end with "/"):
//   folders  nuvel_apps, nuvel_user, nuvel_data, content, launch, support, support_local,
//            local_prd (also support_local/local_prd), logos, techm, fonts, sr (support/sr),
//            support/about, support/lessons, data_i (the student data folder)
//   in nuvel_apps   the companions Launcher.app, Records Manager.app, Freshen.app,
//                   Analyzer.app, Redirector.app
//   in support      the course engine's files engine.luc, tutor.luc (see above), Nuvel.jpg (the
//                   launcher's default picture), engine.ini (the engine's shared settings)
//   in sr           libbabear.so (the speech-recognition library), babear.dat (its models)
//   in data_i       students.ini
//   in nuvel_user   Nuvel_log.txt, VERSION2M.INI, local.ini, forced.ini, and the engine's seven
//                   per-user files: user.ini (preferences), recent.lst (recently studied
//                   courses), scores.dat (exercise scores), bookmarks.dat (lesson bookmarks),
//                   voice.cfg (microphone calibration), sr_user.dat (the speaker's speech
//                   profile), window.ini (window positions)
//   nuvel_data      records.ini
//   setup_ini       the installation source's setup.ini
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <system_error>

namespace nuvel::base {

struct PathState {
  std::string installDirectoryPath;           // "nuvel_apps", no trailing "/"
  std::string localNuvelDirectory;            // the local system folder, with a trailing "/"
  std::string commonAppDataPath;              // the shared application-data folder's "Nuvel"
  std::map<std::string, std::string> cached;  // Get...Path results by function name

  std::string rRecordsIniPath;  // folder of the records.ini in use, with a trailing "/"
  std::string RecordsPath;      // student records folder
  std::string DataPath;         // course data folder
  std::string FloppyPath;
  std::string firstRecordsPath;  // RecordsPath as first read
  int just_created_records_ini = 0;
  int use_user_folder = 0;
  int USB_Drive = 0;
  int USB_Drive_no_share = 0;
  int isPathNetworked = 0;
  int initializeCalls = 0;    // Initialize_All_Paths calls in this run
  int dataIServerNumber = 0;  // Records server of the student data folder; 0: from records.ini
  std::string administratorNeeded;  // a system folder that only an administrator could create

  // Chosen in the Install Options and Advanced dialogs.
  std::string rDataPathShort;    // the folder chosen for the installation (it holds "Nuvel")
  std::string rRecordPathShort;  // the folder chosen for student records
  std::string rAccessFlag;       // "FLOPPY": records on each student's removable media; "HD"
  std::string rPassword;         // Records Manager password, printable block form

  void reset() { *this = PathState{}; }
};

PathState& Paths();

/// Clears every cached path and makes `folder` the installation folder; true when it exists.
bool SetInstallFolder(const std::string& folder);

/// Sets the installation folder, finds the local system folder, sets up the log on the first
/// call of the run (later calls mark a restart in it) and computes every folder.
void Initialize_All_Paths(const std::string& folder);

/// The machine-wide system folder, with a trailing "/"; found or created once per run. Empty
/// (and quitFlag set) when no such folder can be had. In this order:
///  1. the records settings keep the log with the server (FindLocalNuvelDirectoryServerLog);
///  2. the Applications folder's "Nuvel", then the shared application-data folder's, when it
///     already holds records.ini: a system folder once used stays the system folder, so that
///     the settings, the log and the records kept there survive when the other one appears
///     later (an installation creates the Applications folder's "Nuvel");
///  3. the Applications folder's "Nuvel" when it exists and is writable;
///  4. the shared application-data folder's "Nuvel" (the home folder's with use_user_folder),
///     made and opened to every user, when it is then writable; with use_user_folder a failure
///     ends the run ("Cannot create directory (1)");
///  5. the Applications folder's "Nuvel" created with administrator rights (pkexec and
///     NuvelTool). When that is refused or impossible, the user is told that installing needs
///     administrator rights (MSG_Message_NeedsAdministratorRights, naming sudo), the folder is
///     kept in administratorNeeded and the run ends. An ordinary user's home folder never
///     silently stands in for the machine-wide folder.
std::string FindLocalNuvelDirectory();

/// The system folder when the records settings keep the log with the server: the records.ini
/// in use (in rRecordsIniPath, which must be an existing folder) has server_logs starting with
/// "y". Then that folder, with a trailing "/", is the system folder; otherwise "".
std::string FindLocalNuvelDirectoryServerLog();

/// The temporary folder, with a trailing "/".
std::string FindLocalTempDirectory();

/// The shared application-data folder's "Nuvel" ("" when the system has no such folder).
std::string FindCommonAppDataPath();

/// Makes `path` + "/Nuvel" the shared application-data folder, opening its permissions to the
/// group and others; falls back to the user's home folder when it cannot be written. The
/// Applications folder's "Nuvel" (the default installation folder) is instead created with
/// administrator rights when it cannot be written; when that is refused, the user is told, as
/// in FindLocalNuvelDirectory, and quitFlag is set.
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
/// The message files; see the rule at the top. Recomputed while the cached path is missing.
std::string Get_Engine_LocalizationFilePath();
std::string Get_Tutor_LocalizationFilePath();

/// The student data folder: the records folder's "data_i_%03d" of the Records server number
/// (the one given to ResetDataIDirectoryPath, else records.ini's server_num; 1 when absent or
/// outside 1 to 100). No trailing "/".
std::string GetDataIDirectoryPath();
/// Makes `server_number` the student data folder's server (0: read server_num again) and
/// forgets the folder, so that the next GetDataIDirectoryPath derives it afresh.
void ResetDataIDirectoryPath(int server_number);

/// A product's settings file: "%s%s%c%s" of `folder` (Path("content") or Path("launch")), the
/// product folder, "/" and "NUVEL.INI".
std::string GetNuvelIniPath(const std::string& folder, const std::string& product);

/// The full path of a well-known name (see the list at the top); folders end with "/". "" for
/// a name that is not known.
std::string Path(const std::string& name);

/// The same for the student files "local.hst" and "local.dat" in the student data folder; ""
/// for any other name.
std::string Path_Student(const std::string& name);

/// records.ini key (section Records) of the records folder chosen in the Advanced options (the
/// folder that holds "data"); absent while the records follow the installation.
inline constexpr const char* kRecordsFolderKey = "records_folder";

/// Reads the records.ini of rRecordsIniPath and derives every folder from its
/// launch_path_local (or from the default installation folder when it has none). When that
/// file's records_ini_path_mac names another folder that holds a records.ini (a network
/// installation's), that one becomes the records.ini in use first, so that a later run finds
/// the installation again. A stored kRecordsFolderKey makes RecordsPath its "data" and
/// rRecordPathShort the folder.
void Read_RecordsIni();

/// Records in the local system folder's records.ini where the records.ini in use lives.
void Write_RecordsIni();

/// Writes the versions of the installed companions into records.ini: "Records Manager.app" ->
/// rm2_ver, "Launcher.app" -> launcher2_ver, "Analyzer.app" -> analyze2_ver, the speech library
/// as installed with the technology ("techm/sr/libbabear.dylib", else "techm/sr/libbabear.so")
/// -> babel_ver_mac, "Freshen.app" -> freshen2_ver. A key changes only when the companion is
/// there, its version can be read and differs (ignoring case) from the stored one. A failed
/// write of rm2_ver is told to the user (MSG_Message_CannotWriteFile).
void UpDateRecordsIniWithActualVersions();

/// What RemoveSettingLines does with a matching line.
enum class LineEdit { kCommentOut, kDrop };  // ";" before the line, or the line dropped

/// Comments out or drops every line of the settings file that begins with `key` (both
/// lower-cased and without leading blanks; an empty key matches no line). Every other byte of
/// the file stays as it was, line ends included; the file is replaced in one rename, and only
/// when a line matched. `changed` (when given) tells whether one did. An error when the file
/// could not be locked, read or written.
std::error_code RemoveSettingLines(const std::string& file, std::string_view key, LineEdit edit,
                                   bool* changed = nullptr);

/// "%s%s%s" of folder, a "/" when the folder lacks one, and file.
std::string ConstructFilePath(const std::string& folder, const std::string& file);

/// Splits at the last "/": `folder` keeps that "/" (so ConstructFilePath gives the path back),
/// `file` is the rest. A path without "/" is all file.
void SeparatePathAndFile(const std::string& path, std::string& folder, std::string& file);

/// The path under which `path` can be opened: its folder's entry of the same name without
/// regard to case; "" when there is none.
std::string fopen_any_case(const std::string& path);

/// True when the folder that holds the running application is the temporary folder (compared
/// upper-cased, without trailing "/").
bool RunningFromTempFolder();

// ---- Described interface -------------------------------------------------------------------
// The names and integer results the described interface states, as thin adapters over the
// functions above. Only that interface calls them; new code calls the functions above.

/// SetInstallFolder: -1 for a null folder (nothing changes), otherwise 1 when the folder exists
/// and 0 when it does not.
int SetInstallDirectoryPath(const char* folder);

/// RemoveSettingLines with mode 1 (comment out) or 2 (drop); any other mode matches no line.
/// 1 when a line was changed, 0 when none matched (the file is not touched), -1 when the file
/// could not be read or written.
int RemoveLineFromRecordsIni(const std::string& file, const std::string& key, int mode);

/// FindCaseCorrectedPath split as SeparatePathAndFile splits it: 1 with `name` the entry's exact
/// name and `folder` its folder, else 0.
int FindCaseCorrectedFileName(std::string& name, std::string& folder, const std::string& path);

/// RunningFromTempFolder: 1 or 0.
int AreWeRunningFromTheTempFolder();

}  // namespace nuvel::base
