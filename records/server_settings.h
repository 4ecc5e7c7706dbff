// Records-server settings: which Records server this installation reaches and how.
//
// The settings live in records.ini, section "Records" (all values text):
//   server_num         the chosen server's number in the server list, "%03d"; absent: none
//                      chosen; below 1 or above 100: server 1
//   server_name        its display name
//   server_list_ver    version of the server list the settings were copied from
//   recordsipaddress   host name or dotted address (at most 63 characters); "" or "0.0.0.0":
//                      unset, kDefaultRecordsAddress is put in its place (Prompt_User_IP)
//   recordsipport      decimal port; 0 or absent: 80
//   cgipath            first path segment of every request; "": kDefaultCgiPath
//   wo_responsepage    response-page override, a format with one %s; "none" or "": none
//   streamingaddress, downloadaddress, force_download_courses_path, serverchecksum
//   server_NNN_<key>   a per-server copy of server_name, cgipath, recordsipaddress,
//                      recordsipport, wo_responsepage, streamingaddress, downloadaddress and
//                      force_download_courses_path, used when the server list has no row NNN
// The running copies in ServerSettings are what the protocol uses.
//
// The server list is the "Records" section of the installation source's versions.ini, kept in
// the local system folder as VERSION2M.INI (base::GetVersionIniFilePath()): one row of keys
// "server_%03d_<key>" per known server (1 to 99), and server_list_ver. Choosing a server
// (Set_RS_Values) copies its row into records.ini and the running state.
//
// Student data is kept per server: the records folder's "data_i_%03d" of the server number
// (base::GetDataIDirectoryPath). Resolve_DATA_I_Path makes that folder the one in use.
//
// Decisions of this implementation:
//  - Host names are ours, under the reserved ".example" domain, like the download server's
//    (net/download.h): the default Records server is the shipped list's server 1,
//    kDefaultRecordsAddress.
//  - The two salts of the settings checksum are defined once, in server_settings.cc, and
//    nowhere else: make-sample-source and `nuvel-setup --server-checksum` call SettingsChecksum.
//  - Two retired hosts of the maker's servers stand for their successors (RetiredHosts()): an
//    address naming the old host is the same server as the new one when the server list is
//    matched, and the popup rewrites records.ini to the new addresses.
//  - The countries' default servers are data of the country table (records/countries.h).
//  - Lines of the server list are read up to 254 characters; the rest of a longer line is
//    dropped (never read as a line of its own, where it could pose as a setting).
//  - A server's name that both the list and records.ini give appears once in the popup.
//  - When a server is chosen with an announcement, the data folder kept for the newly chosen
//    number is moved aside (it may hold records of whatever server had that number before);
//    nothing is deleted.
//  - Resolve_DATA_I_Path does not create the folder of server 1; base::GetDataIDirectoryPath
//    names it all the same, and whoever writes there first creates it.
//  - A chosen server's non-empty download address also becomes the run's
//    (base::Run().DownloadAddress); "the maker's download server" is net::kDefaultDownloadAddress
//    or an empty address.
//  - Fetching the version file again is net::DownloadVersionFile, which fetches at most once a
//    run; only the Retry of the missing-list question fetches once more.
//  - A version file that cannot be had is asked about (Retry/Quit) at most kVersionFileRetries
//    times; then the run ends as with Quit, so an unattended run never loops.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/countries.h"

namespace nuvel::records {

/// The first path segment of every Records request when records.ini names none.
inline constexpr std::string_view kDefaultCgiPath = "NuvelRS.NRS";
/// The Records server an installation reaches when records.ini names none.
inline constexpr const char* kDefaultRecordsAddress = "rs001.nuvel-records.example";
/// The section of records.ini and of the server list.
inline constexpr const char* kRecordsSection = "Records";
/// Longest Records-server address kept.
inline constexpr std::size_t kMaxRecordsAddress = 63;
/// Server numbers of the list run from 1 to kMaxListedServer; records.ini's server_num may
/// also be kMaxServerNumber.
inline constexpr int kMaxListedServer = 99;
inline constexpr int kMaxServerNumber = 100;
/// Times the missing version file is asked about before the run ends.
inline constexpr int kVersionFileRetries = 50;

/// The running Records-server settings (module-global, one instance).
struct ServerSettings {
  int rs_server_number = 0;      // the chosen server's number, 0 when none
  int rs_count = 0;              // entries of the server popup
  std::vector<int> OrderRS;      // server number of each popup entry (-1 the prompting entry)
  int show_all_servers = 0;      // the popup offers every server, or only the chosen one; the
                                 // login flow sets 2 to lock the chosen server
  int records_viewer_mode = 0;   // the login flow shows records only: the popup always shows
  std::string RecordsIPAddress;  // host name or dotted address (at most 63 characters)
  int RecordsIPPort = 80;        // 0 is taken as 80
  std::string cgiPath;           // first path segment of every request
  std::string streamingServer;   // address of the streaming server
  std::string DownloadAddress;   // base address for course downloads of this server
  std::string force_download_courses_path;
  std::string woResponsePageIniSetting;  // response-page override, a format with one %s
  std::string DATA_I_PATH;               // the per-server data folder

  void reset();
};

/// The one instance; registered with platform::ResetRunState on first use.
ServerSettings& RS();

/// A retired host of one of the maker's servers and the addresses that replace it.
struct RetiredHost {
  const char* old_host;          // the Records host as older installations hold it
  const char* old_download;      // the download host those installations hold
  const char* records_address;   // the server's current Records address
  const char* download_address;  // its current download address
};
/// The two retired hosts.
std::span<const RetiredHost> RetiredHosts();

/// The checksum of a server's settings as stored in "server_%03d_serverchecksum" or
/// "serverchecksum": 32 lower-case hexadecimal digits of the MD5 digest of the records address,
/// salt A, the records address, salt B, the streaming address, salt A.
std::string SettingsChecksum(std::string_view records_address, std::string_view streaming_address);

/// Reads the running copies (address, port, cgi path, streaming, download and forced course
/// addresses, response-page override, server number) from records.ini.
void LoadServerSettings();

/// Makes server `server_number` of the list the current one: copies its row into records.ini
/// (flushed key by key) and the running state and resolves the data folder. With `announce` 1
/// the user is told of the switch and the data folder kept for that number is moved aside
/// ("%s_%03d.old", the first free number from 0 to 99). When the list has no such row, the
/// per-server keys of records.ini itself are used; a missing one empties the running value.
/// -1 for server -1 (the user is asked to choose a server) or a number outside 1 to 100;
/// otherwise 1 when the list had the row, 0 when records.ini's own keys were used.
int Set_RS_Values(int server_number, int announce);

/// Copies "server_%03d_<key>" of `source_file` to `key` of `target_file` when it is not empty;
/// `value` receives it (possibly empty).
void UpdateServerSettings(const std::string& source_file, const std::string& target_file,
                          std::string_view key, int server_number, std::string& value);

/// The server popup of the login dialog, as Fill_RS_Popup leaves it. RS().OrderRS holds the
/// server number of each entry.
struct ServerPopup {
  std::vector<std::string> entries;  // entry texts; the first prompts for a choice
  int selected = 0;                  // the entry selected (0-based)
  bool popup_visible = true;         // the popup shows
  bool name_visible = false;         // the name item shows instead
  bool name_enabled = true;
  std::string name;   // the name item's text: the current server's name
  std::string label;  // "Records server:" in the interface language
};

/// Fills `popup` with the servers of the list and of records.ini, the current one selected
/// (see the header comment for the retired hosts, the network installation's version file and
/// the missing list). 1, or 0 when the run ends (the user chose Quit; quitFlag is set).
int Fill_RS_Popup(ServerPopup& popup);

/// Adds every "server_%03d_server_name" of `file` (1 to 99, lines shorter than 501 characters)
/// to the popup and its number to RS().OrderRS, and selects the entry of the current server
/// (`selected` receives its index; unchanged when the server is not named). While no server is
/// chosen, a "server_%03d_recordsipaddress" equal to the current address (any case, blanks
/// stripped, a retired host equal to its successor) chooses that server (Set_RS_Values, no
/// announcement). Returns 1.
int Read_Record_Server_names(const std::string& file, ServerPopup& popup, int& selected);

int GetRecordsServerNumber();
/// Accepts 0 to 99; false (and nothing changes) otherwise.
bool SetRecordsServerNumber(int server_number);
int GetShowAllServers();
/// Accepts 0 and 1; false (and nothing changes) otherwise.
bool SetShowAllServers(int value);

/// Server 7, the web records server.
bool IsRecordsServerWebi();
/// Servers 7, 8, 18 and 21, the servers in China.
bool IsRecordsServerIsInChina();

/// `address` up to its first "/".
std::string GetTheServerName(std::string_view address);

/// The dotted address a.b.c.d as ((a*256+b)*256+c)*256+d (modulo 2^32); missing parts count 0,
/// each part is its leading digits. 0 for "".
std::uint32_t GetUnsignedLongFromDottedDecimal(std::string_view text);

/// An empty address or "0.0.0.0" becomes kDefaultRecordsAddress, a port of 0 becomes 80; both
/// are written to records.ini (recordsipaddress, recordsipport "%d").
void Prompt_User_IP();

/// Makes the data folder of the current server (base::GetDataIDirectoryPath) the one in use:
/// when it does not exist, the records folder's plain "data_i" is renamed to it, or else it is
/// created (not for server 1). Returns it, also kept in RS().DATA_I_PATH.
std::string Resolve_DATA_I_Path();

/// The installation's shared copy of the version file: VERSION2M.INI in the records folder
/// (on the server for a network installation).
std::string SharedVersionFilePath();

}  // namespace nuvel::records
