#include "base/paths.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/notifier.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "platform/privileges.h"
#include "platform/run_reset.h"
#include "platform/volumes.h"

namespace nuvel::base {
namespace {

std::string Trimmed(std::string text) {
  StripProfileValue(text);
  return text;
}

void LogLocation(const char* function, const std::string& path) {
  if (platform::Exists(path)) {
    WriteLogf(4, "%s LOCATION %s\n", function, path.c_str());
  } else {
    WriteLogf(1, "%s MISSING LOCATION %s\n", function, path.c_str());
  }
}

// Computes a path once per installation folder and logs where it lies. With `until_found`, a
// cached path that does not exist (yet) is computed again at the next call.
std::string CachedPath(const char* function, std::string (*compute)(), bool until_found = false) {
  auto& cache = Paths().cached;
  if (auto it = cache.find(function); it != cache.end()) {
    if (!until_found || platform::Exists(it->second)) return it->second;
    std::string path = compute();
    if (path == it->second) return path;
    cache.erase(it);
  }
  std::string path = compute();
  LogLocation(function, path);
  cache[function] = path;
  return path;
}

std::string InstallSub(const char* name) { return Paths().installDirectoryPath + "/" + name; }

// The records folder: the installation folder on a network path or a removable drive, the
// user folder (the local system folder) otherwise.
std::string RecordsFolder() {
  if (GetIsPathNetworked()) return Paths().installDirectoryPath;
  return platform::WithoutTrailingSlash(Paths().localNuvelDirectory);
}

// Whether the records.ini in use lies on a network volume (the records settings are shared).
bool RecordsSettingsNetworked() {
  const std::string& folder = Paths().rRecordsIniPath;
  if (folder.empty()) return false;
  bool networked = false;
  unsigned long type = 0;
  return !platform::IsNetworkPath(folder, networked, type) && networked;
}

std::string LocalSupportFolder() {
  std::string base = GetIsPathNetworked() || RecordsSettingsNetworked()
                         ? Paths().installDirectoryPath
                         : platform::WithoutTrailingSlash(Paths().localNuvelDirectory);
  return base + "/support_local";
}

std::string UserFile(const char* name) { return Paths().localNuvelDirectory + name; }
std::string SupportFile(const char* name) { return GetSupportDirectoryPath() + "/" + name; }
std::string SpeechFile(const char* name) { return InstallSub("support/sr/") + name; }
std::string StudentFile(const char* name) { return GetDataIDirectoryPath() + "/" + name; }

// A message file: the local system folder's copy when there is one, else the support folder's.
std::string LocalizationFile(const char* name) {
  std::string local = Paths().localNuvelDirectory.empty() ? "" : UserFile(name);
  if (!local.empty() && platform::IsRegularFile(local)) return local;
  return GetSupportDirectoryPath() + "/" + name;
}

int ServerNumberFromRecordsIni() {
  std::string value = ProfileValue("Records", "server_num", "", GetRecordsIniFilePath());
  int number = std::atoi(value.c_str());
  return number >= 1 && number <= 100 ? number : 1;
}

void MarkRestartInLog() {
  std::string tilde(55, '~');
  std::string title = "STARTING AFTER QUIT";
  std::string centred(std::string((tilde.size() - title.size()) / 2, ' ') + title);
  centred += std::string(tilde.size() - centred.size(), ' ');
  for (int i = 0; i < 3; ++i) WriteLog(0, "  ");
  WriteLog(0, tilde);
  WriteLog(0, centred);
  WriteLog(0, tilde);
}

void ComputeAllPaths() {
  GetInstallDirectoryPath();
  GetNuvelDirectoryPath();
  GetRecordsIniDirectoryPath();
  GetContentDirectoryPath();
  GetLaunchDirectoryPath();
  GetSupportDirectoryPath();
  GetLocalSupportDirectoryPath();
  GetLocalPRDDirectoryPath();
  GetVersionIniFilePath();
  GetRecordsIniFilePath();
  GetLocalIniFilePath();
  GetForcedIniFilePath();
  Get_Engine_LocalizationFilePath();
  Get_Tutor_LocalizationFilePath();
}

// A message that ends the run; its text is fixed English, as no message file may be open yet.
void ShowFatal(const std::string& message, const char* id) {
  WriteLogf(0, "%s", message.c_str());
  Tell(message, "OK", id);
}

// A folder that can serve as the system folder: there, and writable to this process.
bool Usable(const std::string& folder) {
  return platform::IsDirectory(folder) && platform::IsWritable(folder);
}

// A system folder used by an earlier run: it holds records.ini.
bool HoldsSettings(const std::string& folder) {
  return Usable(folder) && platform::IsRegularFile(folder + "/records.ini");
}

// Makes the shared application-data folder's "Nuvel" (its parent exists) and opens it to every
// user; true when it can be used.
bool OpenSharedFolder(const std::string& folder) {
  platform::MakeDirectory(folder);
  platform::OpenGroupAndOtherWrite(folder);
  if (!Usable(folder)) return false;
  WriteLogf(0, "User path=%s", folder.c_str());
  return true;
}

// Tells that the folder needs an administrator and ends the run.
void RefuseWithoutAdministrator(const std::string& folder, const char* function, int line) {
  Paths().administratorNeeded = folder;
  std::string message = StrRezf(0, "MSG_Message_NeedsAdministratorRights", {folder});
  WriteLogf(0, "%s", message.c_str());
  Tell(message, "MSG_Button_OK", "MSG_Message_NeedsAdministratorRights");
  SetQuitFlag(function, line, "Exiting Nuvel...");
}

// Creates the Applications folder's "Nuvel" with the rights that takes; 0 when it is there.
int CreateSystemFolderWithRights(const std::string& folder) {
  BeginProgress("Preparing Nuvel folder", "Part 1");
  std::error_code ec = platform::CreateSystemFolder(folder);
  Progress("Part 2");
  if (ec) WriteLogf(0, "Creating %s failed: %s", folder.c_str(), ec.message().c_str());
  Progress("Part 3");
  bool there = platform::IsDirectory(folder);
  Progress("Part 4");
  EndProgress();
  return there ? 0 : -1;
}

// Lines of a file with their own line ends (CR LF, LF or CR), so that they can be written back
// byte for byte.
std::vector<std::string_view> LinesWithEnds(std::string_view data) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      end = data.size();
    } else if (data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n') {
      end += 2;
    } else {
      end += 1;
    }
    lines.push_back(data.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::string LowerTrimmed(std::string_view text) {
  std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return "";
  std::size_t end = text.find_last_not_of(" \t\r\n");
  return LowerAscii(text.substr(start, end + 1 - start));
}

}  // namespace

PathState& Paths() {
  static PathState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("base::Paths", [] { state.reset(); });
  return state;
}

bool SetInstallFolder(const std::string& folder) {
  Paths().cached.clear();
  Paths().installDirectoryPath = platform::WithoutTrailingSlash(folder);
  WriteLogf(1, "SetInstallDirectoryPath SETTING LOCATION %s\n",
            Paths().installDirectoryPath.c_str());
  return platform::IsDirectory(Paths().installDirectoryPath);
}

void Initialize_All_Paths(const std::string& folder) {
  SetInstallFolder(folder);
  std::string value =
      ProfileValue("Records", "use_user_folder", "", Paths().installDirectoryPath + "/records.ini");
  if (IsYes(value)) Paths().use_user_folder = 1;

  // An installation on a removable drive (a USB stick carried from machine to machine) keeps its
  // records with it and is treated like a network installation.
  Paths().USB_Drive = platform::IsOnRemovableDrive(Paths().installDirectoryPath) ? 1 : 0;
  FindLocalNuvelDirectory();
  IsPathNetworked_Set(Paths().installDirectoryPath);

  if (Paths().initializeCalls++ == 0) {
    GetLogName();
  } else {
    MarkRestartInLog();
  }
  ComputeAllPaths();
}

std::string FindLocalTempDirectory() { return platform::WithTrailingSlash(platform::TempFolder()); }

std::string FindCommonAppDataPath() {
  if (!Paths().commonAppDataPath.empty()) return Paths().commonAppDataPath;
  std::string shared =
      Paths().use_user_folder ? platform::HomeFolder() : platform::SharedDataFolder();
  if (!platform::IsDirectory(shared)) return "";
  Paths().commonAppDataPath = shared + "/Nuvel";
  return Paths().commonAppDataPath;
}

// The shared user-data folder of Linux (/var/lib) is writable by root only, unlike the shared
// folder of the original systems, so its "Nuvel" is always opened up to the group and others.
void SetupCommonAppDataPath(const std::string& path) {
  std::string folder = platform::WithoutTrailingSlash(path) + "/Nuvel";
  Paths().commonAppDataPath = folder;
  platform::MakeDirectory(folder);
  platform::OpenGroupAndOtherWrite(folder);
  // The Applications folder's "Nuvel" is the default installation folder itself: a folder in
  // the home folder would not hold the installation, so an ordinary user is offered the
  // administrator's creation of it, and the run ends when that is refused.
  if (folder == platform::ApplicationsFolder() + "/Nuvel" && !Usable(folder)) {
    if (CreateSystemFolderWithRights(folder) != 0 || !platform::IsWritable(folder)) {
      RefuseWithoutAdministrator(folder, "SetupCommonAppDataPath", __LINE__);
      return;
    }
  }
  if (!Paths().use_user_folder && !platform::IsWritable(folder)) {
    Paths().use_user_folder = 1;
    folder = platform::HomeFolder() + "/Nuvel";
    Paths().commonAppDataPath = folder;
    platform::MakeDirectory(folder);
    platform::OpenGroupAndOtherWrite(folder);
  }
  WriteLogf(0, "User path=%s", Paths().commonAppDataPath.c_str());
}

std::string FindLocalNuvelDirectoryServerLog() {
  const std::string& records = Paths().rRecordsIniPath;
  if (records.empty() || !platform::IsDirectory(records)) return "";
  std::string value = ProfileValue("Records", "server_logs", "",
                                   platform::WithTrailingSlash(records) + "records.ini");
  return IsYes(value) ? platform::WithTrailingSlash(records) : "";
}

std::string FindLocalNuvelDirectory() {
  PathState& paths = Paths();
  if (!paths.localNuvelDirectory.empty()) return paths.localNuvelDirectory;
  // The administrator's creation is asked for once per run.
  if (!paths.administratorNeeded.empty()) return "";

  if (std::string server = FindLocalNuvelDirectoryServerLog(); !server.empty()) {
    paths.localNuvelDirectory = server;
    return server;
  }

  const std::string applications = platform::ApplicationsFolder() + "/Nuvel";
  const std::string common = FindCommonAppDataPath();
  std::string folder;
  if (HoldsSettings(applications)) {
    folder = applications;
  } else if (!common.empty() && HoldsSettings(common)) {
    folder = common;
  } else if (Usable(applications)) {
    folder = applications;
  } else if (!common.empty() && OpenSharedFolder(common)) {
    folder = common;
  } else if (!common.empty() && paths.use_user_folder) {
    ShowFatal("Cannot create directory (1): '" + common +
                  "'.\nMake sure that you have full (read/write/edit/create/delete) "
                  "privileges to this directory.",
              "Cannot create directory (1)");
    SetQuitFlag("FindLocalNuvelDirectory", __LINE__, "Cannot create directory");
    return "";
  } else if (CreateSystemFolderWithRights(applications) == 0 &&
             platform::IsWritable(applications)) {
    folder = applications;
  } else {
    StopLogging();
    RefuseWithoutAdministrator(applications, "FindLocalNuvelDirectory", __LINE__);
    return "";
  }
  paths.localNuvelDirectory = platform::WithTrailingSlash(folder);
  if (paths.USB_Drive && paths.USB_Drive_no_share) {
    paths.localNuvelDirectory = platform::WithTrailingSlash(paths.installDirectoryPath);
  }
  return paths.localNuvelDirectory;
}

int IsPathNetworked_Set(const std::string& path) {
  bool networked = false;
  unsigned long type = 0;
  std::error_code ec = platform::IsNetworkPath(path, networked, type);
  if (ec) {
    WriteLogf(2, "IPN FALSE err==%d, errono=%d", -1, ec.value());
    Paths().isPathNetworked = 0;
    return 0;
  }
  // The log keeps the local-volume flag word of the original (0x1000 set on a local volume).
  WriteLogf(2, networked ? "IPN TRUE flags=%x" : "IPN FALSE flags=%x", networked ? 0 : 0x1000);
  Paths().isPathNetworked = networked ? 1 : 0;
  return Paths().isPathNetworked;
}

int GetIsPathNetworked() { return Paths().USB_Drive ? 1 : Paths().isPathNetworked; }

std::string GetInstallDirectoryPath() {
  return CachedPath("GetInstallDirectoryPath", [] { return Paths().installDirectoryPath; });
}
std::string GetNuvelDirectoryPath() {
  return CachedPath("GetNuvelDirectoryPath", [] { return Paths().localNuvelDirectory; });
}
std::string GetRecordsIniDirectoryPath() {
  return CachedPath("GetRecordsIniDirectoryPath", [] { return RecordsFolder(); });
}
std::string GetContentDirectoryPath() {
  return CachedPath("GetContentDirectoryPath", [] { return InstallSub("content"); });
}
std::string GetLaunchDirectoryPath() {
  return CachedPath("GetLaunchDirectoryPath", [] { return InstallSub("launch"); });
}
std::string GetSupportDirectoryPath() {
  return CachedPath("GetSupportDirectoryPath", [] { return InstallSub("support"); });
}
std::string GetLocalSupportDirectoryPath() {
  return CachedPath("GetLocalSupportDirectoryPath", [] { return LocalSupportFolder(); });
}
std::string GetLocalPRDDirectoryPath() {
  return CachedPath("GetLocalPRDDirectoryPath", [] { return LocalSupportFolder() + "/local_prd"; });
}
std::string GetVersionIniFilePath() {
  return CachedPath("GetVersionIniFilePath", [] { return UserFile("VERSION2M.INI"); });
}
std::string GetRecordsIniFilePath() {
  return CachedPath("GetRecordsIniFilePath", [] { return RecordsFolder() + "/records.ini"; });
}
std::string GetLocalIniFilePath() {
  return CachedPath("GetLocalIniFilePath", [] { return UserFile("local.ini"); });
}
std::string GetForcedIniFilePath() {
  return CachedPath("GetForcedIniFilePath", [] { return UserFile("forced.ini"); });
}
std::string Get_Engine_LocalizationFilePath() {
  return CachedPath(
      "Get_Engine_LocalizationFilePath", [] { return LocalizationFile("engine.luc"); }, true);
}
std::string Get_Tutor_LocalizationFilePath() {
  return CachedPath(
      "Get_Tutor_LocalizationFilePath", [] { return LocalizationFile("tutor.luc"); }, true);
}

std::string GetDataIDirectoryPath() {
  return CachedPath("GetDataIDirectoryPath", [] {
    int server = Paths().dataIServerNumber;
    if (server == 0) server = ServerNumberFromRecordsIni();
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%03d", server);
    return RecordsFolder() + "/data_i" + suffix;
  });
}

void ResetDataIDirectoryPath(int server_number) {
  Paths().dataIServerNumber = server_number >= 1 && server_number <= 100 ? server_number : 0;
  Paths().cached.erase("GetDataIDirectoryPath");
}

std::string GetNuvelIniPath(const std::string& folder, const std::string& product) {
  return folder + product + "/NUVEL.INI";
}

std::string Path(const std::string& name) {
  static const std::map<std::string, std::string (*)()> kFolders = {
      {"nuvel_apps", [] { return Paths().installDirectoryPath; }},
      {"nuvel_user", [] { return Paths().localNuvelDirectory; }},
      {"nuvel_data", GetRecordsIniDirectoryPath},
      {"content", GetContentDirectoryPath},
      {"launch", GetLaunchDirectoryPath},
      {"support", GetSupportDirectoryPath},
      {"support_local", GetLocalSupportDirectoryPath},
      {"local_prd", GetLocalPRDDirectoryPath},
      {"support_local/local_prd", GetLocalPRDDirectoryPath},
      {"logos", [] { return LocalSupportFolder() + "/logos"; }},
      {"techm", [] { return InstallSub("techm"); }},
      {"fonts", [] { return InstallSub("fonts"); }},
      {"sr", [] { return InstallSub("support/sr"); }},
      {"support/about", [] { return InstallSub("support/about"); }},
      {"support/lessons", [] { return InstallSub("support/lessons"); }},
      {"data_i", GetDataIDirectoryPath},
  };
  static const std::map<std::string, std::string (*)()> kFiles = {
      {"records.ini", GetRecordsIniFilePath},
      {"VERSION2M.INI", GetVersionIniFilePath},
      {"local.ini", GetLocalIniFilePath},
      {"forced.ini", GetForcedIniFilePath},
      {"setup_ini", [] { return Run().szDefaultIniFile; }},
      // Companion applications.
      {"Launcher.app", [] { return InstallSub("Launcher.app"); }},
      {"Records Manager.app", [] { return InstallSub("Records Manager.app"); }},
      {"Freshen.app", [] { return InstallSub("Freshen.app"); }},
      {"Analyzer.app", [] { return InstallSub("Analyzer.app"); }},
      {"Redirector.app", [] { return InstallSub("Redirector.app"); }},
      // The course engine's files in "support" and "sr".
      {"engine.luc", Get_Engine_LocalizationFilePath},
      {"tutor.luc", Get_Tutor_LocalizationFilePath},
      {"Nuvel.jpg", [] { return SupportFile("Nuvel.jpg"); }},
      {"engine.ini", [] { return SupportFile("engine.ini"); }},
      {"libbabear.so", [] { return SpeechFile("libbabear.so"); }},
      {"babear.dat", [] { return SpeechFile("babear.dat"); }},
      // The student data folder.
      {"students.ini", [] { return StudentFile("students.ini"); }},
      // The log and the engine's per-user files in the user folder.
      {"Nuvel_log.txt", [] { return UserFile("Nuvel_log.txt"); }},
      {"user.ini", [] { return UserFile("user.ini"); }},
      {"recent.lst", [] { return UserFile("recent.lst"); }},
      {"scores.dat", [] { return UserFile("scores.dat"); }},
      {"bookmarks.dat", [] { return UserFile("bookmarks.dat"); }},
      {"voice.cfg", [] { return UserFile("voice.cfg"); }},
      {"sr_user.dat", [] { return UserFile("sr_user.dat"); }},
      {"window.ini", [] { return UserFile("window.ini"); }},
  };
  if (auto it = kFolders.find(name); it != kFolders.end())
    return platform::WithTrailingSlash(it->second());
  if (auto it = kFiles.find(name); it != kFiles.end()) return it->second();
  return "";
}

std::string Path_Student(const std::string& name) {
  if (name == "local.hst") return StudentFile("local.hst");
  if (name == "local.dat") return StudentFile("local.dat");
  return "";
}

void Read_RecordsIni() {
  PathState& paths = Paths();
  // A records.ini kept elsewhere (a network installation keeps it in its installation folder)
  // is named by records_ini_path_mac in the system folder's: follow it while it is there.
  std::string elsewhere =
      ProfileValue("Records", "records_ini_path_mac", "", paths.rRecordsIniPath + "records.ini");
  elsewhere = platform::WithTrailingSlash(Convert_FileName(elsewhere, 2));
  if (!elsewhere.empty() && elsewhere.front() == '/' && elsewhere != paths.rRecordsIniPath &&
      platform::IsRegularFile(elsewhere + "records.ini")) {
    WriteLogf(1, "Records Ini Path (followed) %s -> %s", paths.rRecordsIniPath.c_str(),
              elsewhere.c_str());
    paths.rRecordsIniPath = elsewhere;
  }
  std::string file = paths.rRecordsIniPath + "records.ini";
  std::string launch = ProfileValue("Records", "launch_path_local", "", file);
  if (!launch.empty()) {
    // Settings written by older systems may hold the folder in HFS or DOS form.
    Initialize_All_Paths(Convert_FileName(launch, 2));
    paths.just_created_records_ini = 0;
  } else {
    Initialize_All_Paths(platform::ApplicationsFolder() + "/Nuvel");
    paths.just_created_records_ini = 1;
  }
  paths.RecordsPath = Trimmed(Path("nuvel_data"));
  // A records folder chosen in the Advanced options holds the student records ("data").
  std::string chosen = ProfileValue("Records", kRecordsFolderKey, "", file);
  chosen = platform::WithoutTrailingSlash(chosen);
  if (!chosen.empty() && chosen.front() == '/') {
    paths.rRecordPathShort = chosen;
    paths.RecordsPath = chosen + "/data";
  }
  paths.DataPath = Trimmed(Path("launch"));
  paths.rRecordsIniPath = Trimmed(paths.rRecordsIniPath);
  WriteLogf(1, "Records Path     (read)  =%s", paths.RecordsPath.c_str());
  WriteLogf(1, "Data Path        (read)  =%s", paths.DataPath.c_str());
  WriteLogf(1, "Records Ini Path (read)  =%s", paths.rRecordsIniPath.c_str());
  paths.firstRecordsPath = paths.RecordsPath;
}

void Write_RecordsIni() {
  PathState& paths = Paths();
  std::string value = paths.rRecordsIniPath;
  StoreProfileValue("Records", "records_ini_path_mac", value,
                    paths.localNuvelDirectory + "records.ini");
  WriteLogf(1, "Records Path     (write) =%s", paths.RecordsPath.c_str());
  WriteLogf(1, "Data Path        (write) =%s", paths.DataPath.c_str());
  WriteLogf(1, "Records Ini Path (write) =%s", paths.rRecordsIniPath.c_str());
  paths.firstRecordsPath = paths.RecordsPath;
}

namespace {

// The speech-recognition library where the installation puts the technology (the source's
// babel folder becomes techm/sr), under the name it ships with, else its shared-object name.
std::string InstalledSpeechLibrary() {
  const std::string folder = InstallSub("techm/sr/");
  for (const char* name : {"libbabear.dylib", "libbabear.so"}) {
    if (platform::Exists(folder + name)) return folder + name;
  }
  return folder + "libbabear.dylib";
}

}  // namespace

void UpDateRecordsIniWithActualVersions() {
  struct Companion {
    std::string path;
    const char* key;
  };
  const Companion companions[] = {
      {Path("Records Manager.app"), "rm2_ver"}, {Path("Launcher.app"), "launcher2_ver"},
      {Path("Analyzer.app"), "analyze2_ver"},   {InstalledSpeechLibrary(), "babel_ver_mac"},
      {Path("Freshen.app"), "freshen2_ver"},
  };
  std::string records = GetRecordsIniFilePath();
  for (const Companion& companion : companions) {
    if (!PathExists(companion.path)) continue;
    std::string version;
    ReadFileVersion(companion.path, version);
    if (version == kNoVersion) continue;
    std::string stored = ProfileValue("Records", companion.key, "0", records);
    if (EqualsIgnoreCase(stored, version)) continue;
    if (StoreProfileValue("Records", companion.key, version, records) &&
        std::string_view(companion.key) == "rm2_ver") {
      std::string message = StrRezf(0, "MSG_Message_CannotWriteFile", {records});
      if (message.find(records) == std::string::npos) message += "\r" + records;
      Tell(message, "MSG_Button_OK", "MSG_Message_CannotWriteFile");
    }
  }
}

std::error_code RemoveSettingLines(const std::string& file, std::string_view key, LineEdit edit,
                                   bool* changed) {
  if (changed) *changed = false;
  platform::FileUpdateLock lock(file);  // from the read to the rename
  if (lock.error()) {
    WriteLogf(1, "RemoveLineFromRecordsIni: cannot lock %s: %s", file.c_str(),
              lock.error().message().c_str());
    return lock.error();
  }
  std::string data;
  if (std::error_code ec = platform::ReadFile(file, data)) return ec;
  std::string wanted = LowerTrimmed(key);
  if (wanted.empty()) return {};

  std::string result;
  result.reserve(data.size() + 16);
  bool matched = false;
  for (std::string_view line : LinesWithEnds(data)) {
    if (LowerTrimmed(line).starts_with(wanted)) {
      matched = true;
      if (edit == LineEdit::kCommentOut) {
        result += ';';
        result += line;
      }
      continue;
    }
    result += line;
  }
  if (!matched) return {};
  std::error_code ec = platform::WriteFileAtomic(file, result);
  FreePrivateProfile();
  if (ec) {
    WriteLogf(1, "RemoveLineFromRecordsIni: cannot rewrite %s: %s", file.c_str(),
              ec.message().c_str());
    return ec;
  }
  if (changed) *changed = true;
  return {};
}

std::string ConstructFilePath(const std::string& folder, const std::string& file) {
  return platform::Join(folder, file);
}

void SeparatePathAndFile(const std::string& path, std::string& folder, std::string& file) {
  folder = platform::FolderPrefix(path);
  file = platform::FileName(path);
}

std::string fopen_any_case(const std::string& path) { return FindCaseCorrectedPath(path); }

bool RunningFromTempFolder() {
  std::string application =
      UpperAscii(platform::WithoutTrailingSlash(platform::ApplicationFolder()));
  std::string temp = UpperAscii(platform::WithoutTrailingSlash(FindLocalTempDirectory()));
  return !application.empty() && application == temp;
}

// ---- Described interface -------------------------------------------------------------------

int SetInstallDirectoryPath(const char* folder) {
  if (!folder) {
    WriteLogf(0, "SetInstallDirectoryPath NULL LOCATION - FATAL ERROR - TERMINATE APPLICATION\n");
    return -1;
  }
  return SetInstallFolder(folder) ? 1 : 0;
}

int RemoveLineFromRecordsIni(const std::string& file, const std::string& key, int mode) {
  // Any other mode matches no line: the file is still read, so that a missing one gives -1.
  std::string_view wanted = mode == 1 || mode == 2 ? std::string_view(key) : std::string_view();
  bool changed = false;
  if (RemoveSettingLines(file, wanted, mode == 1 ? LineEdit::kCommentOut : LineEdit::kDrop,
                         &changed)) {
    return -1;
  }
  return changed ? 1 : 0;
}

int FindCaseCorrectedFileName(std::string& name, std::string& folder, const std::string& path) {
  std::string found = FindCaseCorrectedPath(path);
  if (found.empty()) return 0;
  SeparatePathAndFile(found, folder, name);
  return 1;
}

int AreWeRunningFromTheTempFolder() { return RunningFromTempFolder() ? 1 : 0; }

}  // namespace nuvel::base
