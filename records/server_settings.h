// Records-server settings: which Records server this installation reaches and how. The settings
// live in records.ini, section "Records"; the running copies below are what the protocol uses.
// The numbered list of known servers comes with the installation source's version file (keys
// "server_%03d_<key>"), copied into the local data folder as VERSION2M.INI.
//
// (The module's full description of choosing a server, the popup and the country table is
// written with its implementation.)
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nuvel::records {

/// The first path segment of every Records request when records.ini names none.
inline constexpr std::string_view kDefaultCgiPath = "NuvelRS.NRS";

/// The running Records-server settings (module-global, one instance).
struct ServerSettings {
  int rs_server_number = 0;       // the chosen server's number, 0 when none
  int rs_count = 0;               // entries of the server popup
  std::vector<int> OrderRS;       // server number of each popup entry (-1 the prompting entry)
  int show_all_servers = 0;       // the popup offers every server, or only the chosen one
  std::string RecordsIPAddress;   // host name or dotted address (at most 63 characters)
  int RecordsIPPort = 80;         // 0 is taken as 80
  std::string cgiPath;            // first path segment of every request
  std::string streamingServer;    // address of the streaming server
  std::string DownloadAddress;    // base address for course downloads of this server
  std::string force_download_courses_path;
  std::string woResponsePageIniSetting;  // response-page override, a format with one %s
  std::string DATA_I_PATH;        // the per-server data folder

  void reset();
};

/// The one instance; registered with platform::ResetRunState on first use.
ServerSettings& RS();

/// The checksum of a server's settings as stored in "server_%03d_serverchecksum" or
/// "serverchecksum": 32 lower-case hexadecimal digits of the MD5 digest of the records address,
/// salt A, the records address, salt B, the streaming address, salt A.
std::string SettingsChecksum(std::string_view records_address,
                             std::string_view streaming_address);

/// The row of the country table whose alpha-2 (two letters) or alpha-3 (three letters) code
/// equals `code` without regard to case; -1 when none.
int Get_the_country_index_letters(std::string_view code);

/// The English short name of a row of the country table; "" outside the table.
std::string_view CountryName(int row);

}  // namespace nuvel::records
