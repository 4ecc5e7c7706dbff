// The client side of the Records-server protocol: logging in, sending a command or a block of
// data, classifying the reply, keeping the session, the server's date, logging out.
//
// Every command is one HTTP request (carried by net::WiniNet) whose path and query is
//   "/" cgiPath ApplicationIdentifier woResponsePage "?" RecordsLoginName "&CMD=" command "_" parameter
// Before login the session parameter is "SID=--------"; after it "wosid=<session id>", the
// application name "/<name>/" and the response page "wa/getRSLauncherResponse" (or the
// records.ini override, a text in which the first "%s" stands for "Launcher"). A command with
// data sends it as a Base64 body (RFC 4648, "=" padding, no line breaks).
//
// Replies are 8-bit texts with CR LF line ends:
//   "ANSW..."    an answer; the server's 19-character timestamp at offset 19
//   "COMP..."    compressed: compressed length at offset 5 and uncompressed length at offset 14
//                (8 digits each), the zlib stream from offset 22; inflated, the text is a reply
//                of its own
//   "WEB"        a server notice: its 4-character code at offset 5; shown once per run
//   error pages  HTML and the like (net::CallToServerWasBad); never parsed as data
//   "UTL "       a timestamp only
// The login reply (LGNS) is a line of fixed columns, read by ParseLoginReply.
//
// Result codes: 0 success; -1 a bad or refused reply; -2 the run is quitting or the network
// failed and the user chose Quit; -3 decompression failed (or the settings checksum, at login);
// -4 the server cannot be reached (login) or the timestamp is missing (commands).
//
// Decisions of this implementation:
//  - Every fixed-column read is bounds-checked: a login reply too short for its fields, or with
//    other characters where digits belong, is a bad reply and handled as an error page; an
//    answer without a full timestamp is -4, as the protocol says.
//  - "COMP" lengths are checked: the compressed length must fit in the bytes received, the
//    uncompressed length must not exceed kMaxUncompressedReply (64 MiB); inflation into a buffer
//    sized from the stated length that does not produce exactly that many bytes fails (-3).
//  - A body over 65,535 bytes is refused with the message and not sent (-1): a server that reads
//    at most that much would otherwise store a cut record.
//  - Passwords never reach the log: a login logs the user name only, and a password is sent in
//    its server form "**__..." (a password already in that form is sent unchanged).
//  - The network test before login asks whether the configured Records server itself accepts a
//    connection (net::AreTheyCurrentlyConnected), so a school server on a network without
//    internet access counts as on line.
//  - The notice page is opened at kNoticePageAddress + "/messages/msg-<code>.shtml".
//  - GiveMessageIfNotCurrentlyConnected asks MSG_MustConnectOnline with Quit and Retry; Retry
//    means "connected again". An unattended run answers Quit.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nuvel::records {

inline constexpr std::string_view kNoSession = "SID=--------";
inline constexpr std::size_t kMaxBase64Body = 65535;
inline constexpr std::size_t kMaxUncompressedReply = 64u * 1024 * 1024;
inline constexpr int kMaxLoginAttempts = 3;
inline constexpr std::string_view kNoticePageAddress = "https://www.nuvel.example";
inline constexpr std::string_view kHeloAnswer = "Records Server application is responding";

/// The session with the Records server (module-global, one instance).
struct Session {
  std::string ApplicationIdentifier;  // "/<name>/" after login
  std::string woResponsePage;         // response-page part of the path after login
  std::string RecordsLoginName{kNoSession};
  std::string loginIdentifier;        // the 8 characters at offset 10 of the login reply
  std::string saved_login_path;       // first login identity of the run
  std::string savedUserName;
  std::string savedUserPassword;      // the server form, never clear text
  std::string forcedClassPath;        // the class path named by a login reply of the run
  std::string loginClassPath;         // the class path of the last login ("" for a group's)
  std::string forcedStudentKey;       // the student key named by the login reply
  std::string loginCountry = "???";   // the country letters of the login
  int conected_to_server = 0;
  int ServerProtocolVersion = 0;
  int ServerIsBigEndian = 0;
  int request_server_unicode = 1;     // ask for UTF-8 texts ("&UNICODE=1")
  int login_attempts = 0;
  int SQL = 0;                        // set by records.ini "SQL" = "y" and by a login
  int LMS = 0;                        // any refused login ends the run
  std::string saved_send_cmd;
  std::string updateCMD;
  std::string saved_server_time;      // "YYYY-MM-DD+HH:MM:SS" from an HTTP Date header
  double TCPRecords_LastPing = -1e9;  // when the server date was last asked (seconds)
  int TCPRecords_time = 0;            // its cached result
  int CheckServerChecksum_success = 0;
  int server_message_installation_out_of_date = 0;
  std::string FAQ_last;
  std::string SavedEncodedAdminPassword;
  std::string receiveBuffer;          // the last reply
  bool haveReceiveBuffer = false;     // allocated at login, freed at logout
  bool loggedServerDate = false;      // the first Date header of the run was logged

  void reset();
};

/// The one instance; registered with platform::ResetRunState on first use.
Session& RecordsSession();

/// What the first line of a login reply says (after the 4-digit group shift).
struct LoginReply {
  std::string loginIdentifier;  // offset 10, 8 characters
  int group = 0;                // offset 19, 5 digits
  std::string classPath;        // offset 25, 8 characters (blanks and NULs removed)
  std::string studentKey;       // offset 34, 8 characters
  int protocolLevel = 0;        // offset 43 (2 when below 2 and offset 45 holds "2")
  int bigEndian = 0;            // offset 47
  std::string sessionId;        // the blank-separated words from offset 51
  std::string applicationName;
  std::string countryLetters;
};

/// Reads the first line of a login reply. False when the line is too short for its fields or a
/// number field holds other characters (a bad reply).
bool ParseLoginReply(std::string_view reply, LoginReply& out);

/// True when the student key is 8 characters whose first is an ASCII letter.
bool IsValidStudentKey(std::string_view key);

/// The number in `width` characters at `offset`: blanks and "+" skipped, "-" makes it negative.
/// False when the field lies outside the text or holds another character.
bool ReadDigits(std::string_view text, std::size_t offset, std::size_t width, int& value);

/// The path and query of a command (at most 256 bytes).
std::string RequestPath(std::string_view command, std::string_view parameter);

/// Inflates a "COMP" reply in place. 0 on success (or when `reply` is not compressed), -3 when
/// the lengths are inconsistent or inflation fails.
int DecompressReply(std::string& reply);

/// Handles a "WEB" notice in `reply` (see the top). Returns 1 when the reply was a notice.
int FAQ_Message(std::string& reply);

/// Asks the user whether the computer is connected again: 1 yes (Retry), 0 Quit.
int GiveMessageIfNotCurrentlyConnected(const char* context);

/// Sends a command without a body. `reply` receives the reply text, `timestamp` (when given)
/// the server's 19-character timestamp.
int SendCommandToServer(std::string_view command, std::string_view parameter, std::string& reply,
                        std::string* timestamp = nullptr);

/// Sends a command with `data` as its Base64 body.
int SendDataToServer(std::string_view command, std::string_view parameter, std::string_view data,
                     std::string& reply);

/// Logs in. The group number (> 0) on success; 0 refused or a bad reply; -1 an invalid student
/// key; -2 quitting (no network and Quit); -3 the settings checksum failed; -4 unreachable.
int ConnectToServer(std::string_view user, std::string_view password);

/// Logs out (QUIT) when a session is open and frees the session.
int DisconnectFromServer();

/// Keeps the date of an HTTP reply header ("Date: Tue, 15 Nov 1994 08:12:31 GMT") as
/// saved_server_time "1994-11-15+08:12:31" (the day shifted to the local date).
void UpdateRSTime(std::string_view header_text);

/// The server's current date as a packed date (kind 2; cached for 60 seconds). 0 on failure.
int TCPFindServerTime(int kind);

/// 1 when the stored checksum of the server settings matches (once per run); otherwise the
/// support message is handed over and the run ends (-1).
int CheckServerChecksum();

/// Command "PASS": 1 when the server answered "GOOD".
int TCPSetAdminPassword(std::string_view new_password);

/// The next line of `text` from `position` (advanced past it), at most size - 1 characters,
/// the LF included. False at the end of the text when nothing was read.
bool TCPmgets(std::string& line, std::size_t size, std::string_view text, std::size_t& position);

}  // namespace nuvel::records
