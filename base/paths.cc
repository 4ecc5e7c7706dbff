#include "base/paths.h"

#include <cstdio>
#include <string_view>

#include "base/log.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/privileges.h"
#include "platform/volumes.h"

namespace nuvel::base {
namespace {

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string WithoutSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string Trimmed(std::string text) {
  StripProfileValue(text);
  return text;
}

// Computes a path once per installation folder and logs where it lies.
std::string CachedPath(const char* function, std::string (*compute)()) {
  auto& cache = Paths().cached;
  if (auto it = cache.find(function); it != cache.end()) return it->second;
  std::string path = compute();
  if (platform::Exists(path)) {
    WriteLogf(4, "%s LOCATION %s\n", function, path.c_str());
  } else {
    WriteLogf(1, "%s MISSING LOCATION %s\n", function, path.c_str());
  }
  cache[function] = path;
  return path;
}

std::string InstallSub(const char* name) {
  return Paths().installDirectoryPath + "/" + name;
}

// The records folder: the installation folder on a network path or a removable drive, the
// user folder (the local system folder) otherwise.
std::string RecordsFolder() {
  if (Paths().isPathNetworked || Paths().USB_Drive) return Paths().installDirectoryPath;
  return WithoutSlash(Paths().localNuvelDirectory);
}

std::string LocalSupportFolder() {
  std::string base = Paths().isPathNetworked ? Paths().installDirectoryPath
                                             : WithoutSlash(Paths().localNuvelDirectory);
  return base + "/support_local";
}

std::string UserFile(const char* name) { return Paths().localNuvelDirectory + name; }

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
}

// Shows a message that ends the run. The dialog layer takes this over once it exists; until a
// back end is up the message goes to standard error so that it is never lost.
void ShowFatal(const std::string& message) {
  WriteLogf(0, "%s", message.c_str());
  std::fprintf(stderr, "nuvel-setup: %s\n", message.c_str());
}

}  // namespace

PathState& Paths() {
  static PathState state;
  return state;
}

int SetInstallDirectoryPath(const char* folder) {
  if (!folder) {
    WriteLogf(0, "SetInstallDirectoryPath NULL LOCATION - FATAL ERROR - TERMINATE APPLICATION\n");
    return -1;
  }
  Paths().cached.clear();
  Paths().installDirectoryPath = WithoutSlash(folder);
  WriteLogf(1, "SetInstallDirectoryPath SETTING LOCATION %s\n",
            Paths().installDirectoryPath.c_str());
  return platform::IsDirectory(Paths().installDirectoryPath) ? 1 : 0;
}

void Initialize_All_Paths(const std::string& folder) {
  SetInstallDirectoryPath(folder.c_str());
  std::string value;
  GetNuvelPrivateProfileString("Records", "use_user_folder", "", value, kProfileValueSize,
                               Paths().installDirectoryPath + "/records.ini");
  if (!value.empty() && (value[0] == 'y' || value[0] == 'Y')) Paths().use_user_folder = 1;

  FindLocalNuvelDirectory();
  IsPathNetworked_Set(Paths().installDirectoryPath);

  if (Paths().initializeCalls++ == 0) {
    GetLogName();
  } else {
    MarkRestartInLog();
  }
  ComputeAllPaths();
}

std::string FindLocalTempDirectory() { return WithSlash(platform::TempFolder()); }

std::string FindCommonAppDataPath() {
  if (!Paths().commonAppDataPath.empty()) return Paths().commonAppDataPath;
  std::string shared =
      Paths().use_user_folder ? platform::HomeFolder() : platform::SharedDataFolder();
  if (!platform::IsDirectory(shared)) return "";
  Paths().commonAppDataPath = shared + "/Nuvel";
  return Paths().commonAppDataPath;
}

void SetupCommonAppDataPath(const std::string& path) {
  std::string folder = WithoutSlash(path) + "/Nuvel";
  Paths().commonAppDataPath = folder;
  platform::MakeDirectory(folder);
  platform::OpenGroupAndOtherWrite(folder);
  if (!Paths().use_user_folder && !platform::IsWritable(folder)) {
    Paths().use_user_folder = 1;
    folder = platform::HomeFolder() + "/Nuvel";
    Paths().commonAppDataPath = folder;
    platform::MakeDirectory(folder);
    platform::OpenGroupAndOtherWrite(folder);
  }
  WriteLogf(0, "User path=%s", Paths().commonAppDataPath.c_str());
}

std::string FindLocalNuvelDirectory() {
  PathState& paths = Paths();
  if (!paths.localNuvelDirectory.empty()) return paths.localNuvelDirectory;

  std::string folder = platform::ApplicationsFolder() + "/Nuvel";
  bool shared = false;
  if (!(platform::IsDirectory(folder) && platform::IsWritable(folder))) {
    std::string common = FindCommonAppDataPath();
    if (!common.empty()) {
      SetupCommonAppDataPath(common.substr(0, common.size() - std::string_view("/Nuvel").size()));
      folder = paths.commonAppDataPath;
      shared = true;
    } else if (platform::CreateSystemFolder(folder) || !platform::IsDirectory(folder)) {
      StopLogging();
      ShowFatal("Unable to create Nuvel folder in the Applications folder.");
      SetQuitFlag("FindLocalNuvelDirectory", __LINE__, "NORM");
      return "";
    }
  }
  if (shared) {
    platform::MakeDirectories(folder);
    if (!platform::IsWritable(folder)) {
      ShowFatal("Cannot create directory (1): '" + folder +
                "'.\nMake sure that you have full (read/write/edit/create/delete) privileges to "
                "this directory.");
      SetQuitFlag("FindLocalNuvelDirectory", __LINE__, "Cannot create directory");
      return "";
    }
  }
  paths.localNuvelDirectory = WithSlash(folder);
  if (paths.USB_Drive && paths.USB_Drive_no_share) {
    paths.localNuvelDirectory = WithSlash(paths.installDirectoryPath);
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
  return CachedPath("GetLocalPRDDirectoryPath",
                    [] { return LocalSupportFolder() + "/local_prd"; });
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

std::string Path(const std::string& name) {
  static const std::map<std::string, std::string (*)()> kFolders = {
      {"nuvel_apps", [] { return Paths().installDirectoryPath; }},
      {"nuvel_user", [] { return Paths().localNuvelDirectory; }},
      {"nuvel_data", [] { return RecordsFolder(); }},
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
  };
  static const std::map<std::string, std::string (*)()> kFiles = {
      {"records.ini", GetRecordsIniFilePath},
      {"VERSION2M.INI", GetVersionIniFilePath},
      {"local.ini", GetLocalIniFilePath},
      {"forced.ini", GetForcedIniFilePath},
      {"Nuvel_log.txt", [] { return UserFile("Nuvel_log.txt"); }},
      {"setup_ini", [] { return Run().szDefaultIniFile; }},
      {"Launcher.app", [] { return InstallSub("Launcher.app"); }},
      {"Records Manager.app", [] { return InstallSub("Records Manager.app"); }},
      {"Freshen.app", [] { return InstallSub("Freshen.app"); }},
      {"Analyzer.app", [] { return InstallSub("Analyzer.app"); }},
      {"Redirector.app", [] { return InstallSub("Redirector.app"); }},
  };
  if (auto it = kFolders.find(name); it != kFolders.end()) return WithSlash(it->second());
  if (auto it = kFiles.find(name); it != kFiles.end()) return it->second();
  return "";
}

void Read_RecordsIni() {
  PathState& paths = Paths();
  std::string file = paths.rRecordsIniPath + "records.ini";
  std::string launch;
  GetNuvelPrivateProfileString("Records", "launch_path_local", "", launch, kProfileValueSize,
                               file);
  if (!launch.empty()) {
    Initialize_All_Paths(launch);
    paths.just_created_records_ini = 0;
  } else {
    Initialize_All_Paths(platform::ApplicationsFolder() + "/Nuvel");
    paths.just_created_records_ini = 1;
  }
  paths.RecordsPath = Trimmed(Path("nuvel_data"));
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
  WriteNuvelPrivateProfileString("Records", "records_ini_path_mac", value,
                                 paths.localNuvelDirectory + "records.ini");
  WriteLogf(1, "Records Path     (write) =%s", paths.RecordsPath.c_str());
  WriteLogf(1, "Data Path        (write) =%s", paths.DataPath.c_str());
  WriteLogf(1, "Records Ini Path (write) =%s", paths.rRecordsIniPath.c_str());
  paths.firstRecordsPath = paths.RecordsPath;
}

std::string ConstructFilePath(const std::string& folder, const std::string& file) {
  return WithSlash(folder) + file;
}

}  // namespace nuvel::base
