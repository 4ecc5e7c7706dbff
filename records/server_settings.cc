#include "records/server_settings.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "base/ascii.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "net/download.h"
#include "net/update_check.h"
#include "platform/files.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "ui/prompts.h"

namespace nuvel::records {
namespace {

// The salts of the settings checksum. Every stored checksum was computed with these two texts
// (by make-sample-source, by `nuvel-setup --server-checksum` for a school's own server), so they
// never change.
constexpr std::string_view kChecksumSaltA = "nuvel-records-salt1";  // 19 characters
constexpr std::string_view kChecksumSaltB = "kx7q2";                // 5 characters
static_assert(kChecksumSaltA.size() == 19 && kChecksumSaltB.size() == 5);

constexpr RetiredHost kRetiredHosts[] = {
    {"records.nuvel-learning.example", "download.nuvel-learning.example",
     "rs001.nuvel-records.example",
     "http://download.nuvel-courses.example/softwareupdates/courses2"},
    {"records-asia.nuvel-learning.example", "download-asia.nuvel-learning.example",
     "rs007.nuvel-records.example",
     "http://download-cn.nuvel-courses.example/softwareupdates/courses2"},
};

// Lines of the server list are matched on this many characters; names are read from lines
// shorter than kMaxNameLine.
constexpr std::size_t kMaxListLine = 254;
constexpr std::size_t kMaxNameLine = 501;

std::string Format(const char* format, int number) {
  char text[32];
  std::snprintf(text, sizeof text, format, number);
  return text;
}

std::string ServerKey(int number, std::string_view key) {
  return Format("server_%03d_", number) + std::string(key);
}

std::string Stripped(std::string_view text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return "";
  std::size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

// The lines of a settings file as the profile engine sees them: any control byte but TAB ends
// a line, a NUL ends the file. Empty lines are dropped.
std::vector<std::string> FileLines(const std::string& path) {
  std::string data;
  std::vector<std::string> lines;
  if (platform::ReadFile(path, data)) return lines;
  data = data.substr(0, data.find('\0'));
  std::string line;
  for (char c : data) {
    if (static_cast<unsigned char>(c) < 32 && c != '\t') {
      if (!line.empty()) lines.push_back(std::move(line));
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

std::string RecordsIni() { return base::GetRecordsIniFilePath(); }
std::string ListFile() { return base::GetVersionIniFilePath(); }

std::string Setting(const std::string& file, std::string_view key) {
  return base::ProfileValue(kRecordsSection, key, "", file);
}

// Writes one key of records.ini (the write is complete on disk when it returns).
void Store(const std::string& file, std::string_view key, std::string value) {
  if (std::error_code error = base::StoreProfileValue(kRecordsSection, key, value, file)) {
    base::WriteLogf(1, "Cannot write %.*s to %s: %s", static_cast<int>(key.size()), key.data(),
                    file.c_str(), error.message().c_str());
  }
}

int PortOf(const std::string& text) {
  int port = std::atoi(text.c_str());
  return port > 0 ? port : 80;
}

// server_num of records.ini: 0 when absent, 1 when outside 1 to 100.
int ServerNumberOfRecordsIni() {
  std::string value = Setting(RecordsIni(), "server_num");
  if (value.empty()) return 0;
  int number = std::atoi(value.c_str());
  return number >= 1 && number <= kMaxServerNumber ? number : 1;
}

std::string HostOf(std::string_view address) {
  for (std::string_view scheme : {"http://", "https://"}) {
    if (address.size() >= scheme.size() &&
        base::EqualsIgnoreCase(address.substr(0, scheme.size()), scheme)) {
      address.remove_prefix(scheme.size());
      break;
    }
  }
  return std::string(address.substr(0, address.find_first_of("/:")));
}

// A Records address with a retired host replaced by its successor's, for comparing.
std::string CurrentHost(std::string_view address) {
  std::string host = Stripped(address);
  for (const RetiredHost& retired : kRetiredHosts) {
    if (base::EqualsIgnoreCase(host, retired.old_host)) return retired.records_address;
  }
  return host;
}

bool SameServerAddress(std::string_view a, std::string_view b) {
  return base::EqualsIgnoreCase(CurrentHost(a), CurrentHost(b));
}

// Whether the run downloads from the maker's main download server (an empty address means it).
bool DownloadsFromMakersServer() {
  std::string address = platform::WithoutTrailingSlash(base::Run().DownloadAddress);
  return address.empty() || base::EqualsIgnoreCase(address, net::kDefaultDownloadAddress);
}

void SetDownloadAddress(const std::string& address) {
  RS().DownloadAddress = address;
  if (!address.empty()) base::Run().DownloadAddress = address;
}

// Sets the running copy of a key of the server list; other keys have none.
void SetRunningValue(std::string_view key, const std::string& value) {
  ServerSettings& rs = RS();
  if (key == "recordsipaddress") {
    rs.RecordsIPAddress = value.substr(0, kMaxRecordsAddress);
  } else if (key == "recordsipport") {
    rs.RecordsIPPort = PortOf(value);
  } else if (key == "cgipath") {
    rs.cgiPath = value;
  } else if (key == "streamingaddress") {
    rs.streamingServer = value;
  } else if (key == "downloadaddress") {
    SetDownloadAddress(value);
  } else if (key == "force_download_courses_path") {
    rs.force_download_courses_path = value;
  } else if (key == "wo_responsepage") {
    rs.woResponsePageIniSetting = base::EqualsIgnoreCase(value, "none") ? "" : value;
  }
}

bool NetworkInstallation() { return base::GetIsPathNetworked() && !base::Paths().USB_Drive; }

// On a network installation the server's copy of the version file may be older than the
// maker's: a fresh one is fetched into the local system folder. False when there is none.
bool FetchVersionFileForNetwork(int where) {
  const std::string shared = SharedVersionFilePath();
  if (!NetworkInstallation() || !platform::IsRegularFile(shared)) return false;
  base::WriteLogf(1, "WARNING: VERSION File exists on the server: (%d) %s", where, shared.c_str());
  return true;
}

// The data folder kept for the current number goes aside as "<folder>_NNN.old".
void MoveDataFolderAside() {
  const std::string folder = base::GetDataIDirectoryPath();
  if (!platform::IsDirectory(folder)) return;
  for (int i = 0; i <= 99; ++i) {
    const std::string aside = folder + Format("_%03d.old", i);
    if (platform::Exists(aside)) continue;
    if (std::error_code error = platform::RenameFile(folder, aside)) {
      base::WriteLogf(1, "The 'data_i' folder %s could not be renamed: %s", folder.c_str(),
                      error.message().c_str());
    } else {
      base::WriteLogf(1, "The 'data_i' folder was renamed from %s to %s", folder.c_str(),
                      aside.c_str());
    }
    return;
  }
  base::WriteLogf(1, "The 'data_i' folder %s stays: no free name to move it to", folder.c_str());
}

void AnnounceSwitch(const std::string& server_name) {
  const std::string message = base::StrRez(0, "MSG_SwitchedRecordsServer") + " " +
                              base::StrRez(0, "MSG_PleaseCnnectAgain") + "\r" + "\r" + server_name;
  ui::Ask({.id = "MSG_SwitchedRecordsServer", .message = message, .buttons = {"MSG_Button_OK"}});
  MoveDataFolderAside();
}

// Copies the list's row of server `number` into records.ini and the running state.
void CopyListRow(int number, int announce) {
  if (FetchVersionFileForNetwork(2)) {
    base::WriteLogf(1, "Try to download a new VERSION file");
    net::DownloadVersionFile();
  }
  const std::vector<std::string> lines = FileLines(ListFile());
  const std::string prefix = Format("server_%03d", number);
  const std::string records = RecordsIni();
  for (const std::string& whole : lines) {
    const std::string line = Stripped(std::string_view(whole).substr(0, kMaxListLine));
    if (line.size() <= prefix.size() || line[prefix.size()] != '_' ||
        !base::EqualsIgnoreCase(std::string_view(line).substr(0, prefix.size()), prefix)) {
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key =
        base::LowerAscii(Stripped(line.substr(prefix.size() + 1, equals - prefix.size() - 1)));
    std::string value = Stripped(line.substr(equals + 1));
    if (key.empty()) continue;
    if (key == "server_name" && announce == 1) AnnounceSwitch(value);
    if (key == "recordsipaddress" && base::EqualsIgnoreCase(value, RS().RecordsIPAddress) &&
        DownloadsFromMakersServer()) {
      break;  // the settings are current
    }
    Store(records, key, value);
    SetRunningValue(key, value);
  }
}

// Takes the per-server keys that records.ini keeps for server `number`; a missing one empties
// the running value.
void CopyRecordsIniRow(int number) {
  const std::string records = RecordsIni();
  std::string value;
  UpdateServerSettings(records, records, "server_name", number, value);
  for (const char* key :
       {"cgipath", "recordsipaddress", "recordsipport", "wo_responsepage", "streamingaddress"}) {
    UpdateServerSettings(records, records, key, number, value);
    SetRunningValue(key, value);
  }
}

}  // namespace

void ServerSettings::reset() { *this = ServerSettings{}; }

ServerSettings& RS() {
  static ServerSettings state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("records::ServerSettings", [] { state.reset(); });
  return state;
}

std::span<const RetiredHost> RetiredHosts() { return kRetiredHosts; }

std::string SettingsChecksum(std::string_view records_address, std::string_view streaming_address) {
  std::string text;
  text.append(records_address).append(kChecksumSaltA);
  text.append(records_address).append(kChecksumSaltB);
  text.append(streaming_address).append(kChecksumSaltA);
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) {
    return "";
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

void LoadServerSettings() {
  const std::string records = RecordsIni();
  for (const char* key : {"recordsipaddress", "recordsipport", "cgipath", "streamingaddress",
                          "force_download_courses_path", "wo_responsepage"}) {
    SetRunningValue(key, Setting(records, key));
  }
  RS().DownloadAddress = Setting(records, "downloadaddress");
  RS().rs_server_number = ServerNumberOfRecordsIni();
}

int Set_RS_Values(int server_number, int announce) {
  if (server_number == -1) {
    ui::Ask({.id = "MSG_ChooseARecordsServer",
             .message = "MSG_ChooseARecordsServer",
             .buttons = {"MSG_Button_OK"}});
    return -1;
  }
  if (server_number < 1 || server_number > kMaxServerNumber) {
    base::WriteLogf(1, "Set_RS_Values: no server %d", server_number);
    return -1;
  }
  base::FreePrivateProfile();
  const std::string list = ListFile();
  const std::string records = RecordsIni();
  const std::string name = Setting(list, ServerKey(server_number, "server_name"));
  const std::string list_version = Setting(list, "server_list_ver");
  const std::string number = Format("%03d", server_number);
  ServerSettings& rs = RS();
  int result = 0;
  if (!name.empty()) {
    base::WriteLogf(1, "Update2 %s for server %s\n", list_version.c_str(), name.c_str());
    Store(records, "server_num", number);
    Store(records, "server_list_ver", list_version);
    rs.rs_server_number = server_number;
    rs.DATA_I_PATH.clear();
    base::ResetDataIDirectoryPath(server_number);
    CopyListRow(server_number, announce);
    result = 1;
  } else {
    base::WriteLogf(1, "Update1 %s for server %s\n", list_version.c_str(), number.c_str());
    Store(records, "server_num", number);
    Store(records, "server_list_ver", list_version);
    const std::string address_before = rs.RecordsIPAddress;
    CopyRecordsIniRow(server_number);
    // The download keys stay while the server's address is unchanged and the run downloads
    // from the maker's server.
    if (!(base::EqualsIgnoreCase(address_before, rs.RecordsIPAddress) &&
          DownloadsFromMakersServer())) {
      std::string value;
      UpdateServerSettings(records, records, "downloadaddress", server_number, value);
      SetRunningValue("downloadaddress", value);
      UpdateServerSettings(records, records, "force_download_courses_path", server_number, value);
      SetRunningValue("force_download_courses_path", value);
    }
    rs.rs_server_number = server_number;
    rs.DATA_I_PATH.clear();
    base::ResetDataIDirectoryPath(server_number);
  }
  Resolve_DATA_I_Path();
  return result;
}

void UpdateServerSettings(const std::string& source_file, const std::string& target_file,
                          std::string_view key, int server_number, std::string& value) {
  value = Setting(source_file, ServerKey(server_number, key));
  if (!value.empty()) Store(target_file, key, value);
}

int Read_Record_Server_names(const std::string& file, ServerPopup& popup, int& selected) {
  ServerSettings& rs = RS();
  constexpr std::string_view kPrefix = "server_";
  for (const std::string& whole : FileLines(file)) {
    if (whole.size() >= kMaxNameLine) continue;
    const std::string line = Stripped(whole);
    // "server_NNN_<key>=<value>" with NNN three digits.
    if (line.size() < kPrefix.size() + 5 ||
        !base::EqualsIgnoreCase(std::string_view(line).substr(0, kPrefix.size()), kPrefix)) {
      continue;
    }
    const std::string_view digits = std::string_view(line).substr(kPrefix.size(), 3);
    if (digits.find_first_not_of("0123456789") != std::string_view::npos ||
        line[kPrefix.size() + 3] != '_') {
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const int number = std::atoi(std::string(digits).c_str());
    if (number < 1 || number > kMaxListedServer) continue;
    const std::size_t key_start = kPrefix.size() + 4;
    const std::string key = Stripped(std::string_view(line).substr(key_start, equals - key_start));
    const std::string value = Stripped(std::string_view(line).substr(equals + 1));
    if (base::EqualsIgnoreCase(key, "server_name")) {
      if (value.empty()) continue;
      bool listed = false;
      for (int order : rs.OrderRS) listed = listed || order == number;
      if (listed) continue;
      popup.entries.push_back(value);
      rs.OrderRS.push_back(number);
      rs.rs_count = static_cast<int>(rs.OrderRS.size());
    } else if (base::EqualsIgnoreCase(key, "recordsipaddress") && rs.rs_server_number == 0 &&
               !Stripped(rs.RecordsIPAddress).empty() &&
               SameServerAddress(value, rs.RecordsIPAddress)) {
      base::WriteLogf(1, "Read_Record_Server_names: %s is server %d", value.c_str(), number);
      Set_RS_Values(number, 0);
    }
  }
  for (std::size_t i = 0; i < rs.OrderRS.size() && i < popup.entries.size(); ++i) {
    if (rs.rs_server_number > 0 && rs.OrderRS[i] == rs.rs_server_number) {
      selected = popup.selected = static_cast<int>(i);
      popup.name = popup.entries[i];
      break;
    }
  }
  return 1;
}

int Fill_RS_Popup(ServerPopup& popup) {
  ServerSettings& rs = RS();
  const std::string records = RecordsIni();

  // 1. Addresses of a retired host become its successor's.
  {
    const std::string address = Setting(records, "recordsipaddress");
    const std::string download = Setting(records, "downloadaddress");
    for (const RetiredHost& retired : kRetiredHosts) {
      if (!base::EqualsIgnoreCase(Stripped(address), retired.old_host) &&
          !base::EqualsIgnoreCase(HostOf(download), retired.old_download)) {
        continue;
      }
      base::WriteLogf(1, "WARNING: the retired server %s / %s is now %s / %s", address.c_str(),
                      download.c_str(), retired.records_address, retired.download_address);
      Store(records, "recordsipaddress", retired.records_address);
      Store(records, "downloadaddress", retired.download_address);
      rs.RecordsIPAddress = retired.records_address;
      SetDownloadAddress(retired.download_address);
      break;
    }
  }

  // 2. The network installation's version file names every server of records.ini.
  const std::string list = ListFile();
  if (FetchVersionFileForNetwork(1)) {
    const int chosen = ServerNumberOfRecordsIni();
    const std::string key = ServerKey(chosen, "recordsipaddress");
    const std::string shared = SharedVersionFilePath();
    if (chosen > 0 && Setting(shared, key).empty()) {
      base::WriteLogf(1, "WARNING: VERSION File is old on the server: %s", shared.c_str());
      base::WriteLogf(1, "Try to download a new VERSION file");
      net::DownloadVersionFile();
      base::FreePrivateProfile();
      if (Setting(list, key).empty()) {
        const std::string message = "WARNING: VERSION File is old on the server: " + shared;
        ui::Ask({.id = "WARNING: VERSION File is old on the server",
                 .message = message,
                 .buttons = {"MSG_Button_Quit"}});
        base::SetQuitFlag(__FILE__, __LINE__, "the version file on the server is old");
        return 0;
      }
    }
  }

  // 3. A local server list, copied from the shared folder or downloaded when there is none.
  std::uint64_t size = 0;
  if (platform::IsRegularFile(list) &&
      (platform::FileSize(list, size) || size == 0 || Setting(list, "server_list_ver").empty())) {
    base::WriteLogf(1, "Fill_RS_Popup: %s holds no server list; deleted", list.c_str());
    platform::RemoveFile(list);
    base::FreePrivateProfile();
  }
  for (int attempt = 0; !platform::IsRegularFile(list); ++attempt) {
    const std::string shared = SharedVersionFilePath();
    const bool shared_differs =
        platform::WithoutTrailingSlash(base::GetRecordsIniDirectoryPath()) !=
        platform::WithoutTrailingSlash(base::Paths().localNuvelDirectory);
    if (shared_differs && platform::IsRegularFile(shared)) {
      platform::CopyFileContents(shared, list);
    } else {
      if (attempt > 0) net::UpdateCheck().versionFile_HasBeenDownloaded = 0;
      net::DownloadVersionFile();
    }
    base::FreePrivateProfile();
    if (platform::IsRegularFile(list) || base::GetIsPathNetworked()) break;
    const std::string message = base::StrRezf(0, "MSG_Err_Cannot_Open_Files_Needed", {list}) +
                                "\r\r" + base::StrRez(0, "MSG_Text_ConnectToInternet");
    if (attempt + 1 >= kVersionFileRetries ||
        ui::Ask({.id = "MSG_Err_Cannot_Open_Files_Needed",
                 .message = message,
                 .buttons = {"MSG_Button_Retry", "MSG_Button_Quit"}}) != 1) {
      base::SetQuitFlag(__FILE__, __LINE__, "no server list");
      return 0;
    }
  }

  // 4. and 5. The current server, the entries and the selection.
  rs.rs_server_number = ServerNumberOfRecordsIni();
  popup = ServerPopup{};
  popup.entries.push_back(base::StrRez(0, "MSG_Multi1_Quest1"));
  rs.OrderRS.assign(1, -1);
  rs.rs_count = 1;
  int selected = 0;
  const bool have_list = platform::IsRegularFile(list);
  if (have_list) {
    Read_Record_Server_names(list, popup, selected);
  } else if (rs.rs_server_number > 0) {
    const std::string name = Setting(records, "server_name");
    if (!name.empty()) {
      popup.entries.push_back(name);
      rs.OrderRS.push_back(rs.rs_server_number);
      rs.rs_count = static_cast<int>(rs.OrderRS.size());
    }
  }
  Read_Record_Server_names(records, popup, selected);

  // 6. A locked server shows as a disabled name instead of the popup.
  if (rs.show_all_servers == 2 && rs.rs_server_number > 0 && !rs.records_viewer_mode) {
    popup.popup_visible = false;
    popup.name_visible = true;
    popup.name_enabled = false;
  }
  popup.label = base::StrRez(0, "MSG_RecordsServer") + ":";

  // 7. Settings copied from an older list are brought up to date.
  if (have_list && rs.rs_server_number > 0) {
    base::FreePrivateProfile();
    std::string records_version = Setting(records, "server_list_ver");
    if (Setting(records, "wo_responsepage").empty() ||
        Setting(records, "streamingaddress").empty()) {
      records_version = "001";
    }
    if (Setting(list, "server_list_ver") != records_version) {
      Set_RS_Values(rs.rs_server_number, 0);
    }
  }
  return 1;
}

int GetRecordsServerNumber() { return RS().rs_server_number; }

bool SetRecordsServerNumber(int server_number) {
  if (server_number < 0 || server_number > kMaxListedServer) return false;
  RS().rs_server_number = server_number;
  return true;
}

int GetShowAllServers() { return RS().show_all_servers; }

bool SetShowAllServers(int value) {
  if (value != 0 && value != 1) return false;
  RS().show_all_servers = value;
  return true;
}

bool IsRecordsServerWebi() { return RS().rs_server_number == 7; }

bool IsRecordsServerIsInChina() {
  const int n = RS().rs_server_number;
  return n == 7 || n == 8 || n == 18 || n == 21;
}

std::string GetTheServerName(std::string_view address) {
  return std::string(address.substr(0, address.find('/')));
}

std::uint32_t GetUnsignedLongFromDottedDecimal(std::string_view text) {
  std::uint32_t result = 0;
  std::size_t position = 0;
  for (int part = 0; part < 4; ++part) {
    std::uint32_t value = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
      value = value * 10 + static_cast<std::uint32_t>(text[position] - '0');
      ++position;
    }
    result = result * 256 + value;
    position = text.find('.', position);
    position = position == std::string_view::npos ? text.size() : position + 1;
  }
  return result;
}

void Prompt_User_IP() {
  ServerSettings& rs = RS();
  if (Stripped(rs.RecordsIPAddress).empty() || Stripped(rs.RecordsIPAddress) == "0.0.0.0") {
    rs.RecordsIPAddress = kDefaultRecordsAddress;
  }
  if (rs.RecordsIPPort == 0) rs.RecordsIPPort = 80;
  const std::string records = RecordsIni();
  Store(records, "recordsipaddress", rs.RecordsIPAddress);
  Store(records, "recordsipport", std::to_string(rs.RecordsIPPort));
}

std::string Resolve_DATA_I_Path() {
  ServerSettings& rs = RS();
  base::ResetDataIDirectoryPath(rs.rs_server_number);
  const std::string path = base::GetDataIDirectoryPath();
  if (!platform::IsDirectory(path)) {
    std::string folder, name;
    base::SeparatePathAndFile(path, folder, name);
    const std::string plain = folder + "data_i";
    if (platform::IsDirectory(plain)) {
      if (std::error_code error = platform::RenameFile(plain, path)) {
        base::WriteLogf(1, "Resolve_DATA_I_Path: cannot rename %s to %s: %s", plain.c_str(),
                        path.c_str(), error.message().c_str());
      } else {
        base::WriteLogf(1, "The 'data_i' folder was renamed from %s to %s", plain.c_str(),
                        path.c_str());
      }
    } else if (!path.ends_with("_001")) {
      if (std::error_code error = platform::MakeDirectories(path)) {
        base::WriteLogf(1, "Resolve_DATA_I_Path: cannot create %s: %s", path.c_str(),
                        error.message().c_str());
      }
    }
  }
  rs.DATA_I_PATH = path;
  return path;
}

std::string SharedVersionFilePath() {
  return base::ConstructFilePath(base::GetRecordsIniDirectoryPath(), net::kVersionFileName);
}

}  // namespace nuvel::records
