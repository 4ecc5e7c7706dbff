#include "records/protocol.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/ascii.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/shortcuts.h"
#include "net/server_reply.h"
#include "net/transport.h"
#include "net/web_service.h"
#include "net/update_check.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "records/password.h"
#include "records/server_settings.h"
#include "records/support_message.h"
#include "text/dates.h"
#include "text/utf8.h"
#include "ui/prompts.h"
#include "ui/status_box.h"

namespace nuvel::records {

using base::WriteLogf;

void Session::reset() { *this = Session{}; }

Session& RecordsSession() {
  static Session state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("records::Session", [] { state.reset(); });
  return state;
}

namespace {

Session& S() { return RecordsSession(); }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool Quitting() { return base::Run().quitFlag != 0; }

void Quit(const char* reason) { base::SetQuitFlag("Records", __LINE__, reason); }

// The time for the IN/OUT lines of the log, in seconds of the run (the log line has the date).
std::string Now() {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", text::timer());
  return text;
}

bool IsLoginCommand(std::string_view command) { return command.starts_with("LGN"); }

// Commands whose error pages are the caller's to read.
bool RepliesAreCallers(std::string_view command) {
  return command == "QUIT" || IsLoginCommand(command) || command == "STDR";
}

std::string Base64(std::string_view data) {
  std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(data.data()),
                                static_cast<int>(data.size()));
  out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return out;
}

// What one request brought back.
struct Exchange {
  int received = 0;
  bool networkError = false;  // nothing came back and nobody said so
  bool suppressed = false;    // the failure was not asked about (dialogs suppressed)
};

Exchange Send(std::string_view command, std::string_view parameter, const std::string& body,
              std::string& reply) {
  Session& s = S();
  s.updateCMD = std::string(command.substr(0, 4));
  reply.clear();

  const ServerSettings& rs = RS();
  net::WebRequest request;
  request.host = rs.RecordsIPAddress;
  request.port = rs.RecordsIPPort;
  request.serverNumber = rs.rs_server_number;
  request.path = RequestPath(command, parameter);
  const net::TransportState& transport = net::Transport();
  if (transport.gUseProxy == 1) {
    request.proxyText = transport.ProxyIPAddress + ":" + std::to_string(transport.ProxyIPPort);
  }
  request.body = body;

  net::WebService().skipStatusPrompt &= ~net::kStatusPromptSuppressed;
  Exchange exchange;
  const int result = net::WiniNet(request, reply, exchange.received);
  exchange.suppressed =
      (net::WebService().skipStatusPrompt & net::kStatusPromptSuppressed) != 0;
  exchange.networkError = !exchange.suppressed && (result == 0 || exchange.received == 0);
  if (exchange.received == 0) reply.clear();
  s.receiveBuffer = reply;
  return exchange;
}

// Inflates a "COMP" reply and logs the outcome; -3 after logging a failure with `prefix`.
int Decompress(std::string& reply, const char* failure_format) {
  if (!reply.starts_with("COMP")) return 0;
  int compressed = 0, expanded = 0;
  ReadDigits(reply, 5, 8, compressed);
  ReadDigits(reply, 14, 8, expanded);
  const double started = text::timer();
  const int result = DecompressReply(reply);
  if (result != 0) {
    WriteLogf(1, failure_format, result, compressed, expanded);
    return result;
  }
  const double ratio = compressed > 0 ? static_cast<double>(expanded) / compressed : 0.0;
  WriteLogf(3, "COMPRESSION uncompress %d --> %d (%5.3f) in %d ticks", compressed, expanded,
            ratio, static_cast<int>((text::timer() - started) * 60));
  return 0;
}

// The notice that tells the user a reply could not be unpacked; it ends the run.
void DecompressionFailed() {
  std::string notice = "WEB 01004";
  FAQ_Message(notice);
  Quit("uncompress");
}

// The message of a server that is unreachable, with the server and the proxy.
std::string ServerAndProxy(const char* server_label) {
  const net::TransportState& transport = net::Transport();
  std::string proxy = transport.gUseProxy == 1
                          ? transport.ProxyIPAddress + ":" + std::to_string(transport.ProxyIPPort)
                          : "No Proxy";
  return std::string("\r") + server_label + RS().RecordsIPAddress + "\rProxy Server: " + proxy;
}

// Keeps at most `size` bytes of a text without cutting a UTF-8 character in two.
std::string CutText(std::string_view text, int size) {
  return std::string(text.substr(0, text::GetUTF8Truncation(text, size + 1)));
}

std::string Trimmed(std::string_view field) {
  std::size_t end = field.size();
  while (end > 0 && (field[end - 1] == ' ' || field[end - 1] == '\0')) --end;
  std::size_t start = 0;
  while (start < end && field[start] == ' ') ++start;
  return std::string(field.substr(start, end - start));
}

}  // namespace

// --- Reading replies ---------------------------------------------------------------------------

bool ReadDigits(std::string_view text, std::size_t offset, std::size_t width, int& value) {
  value = 0;
  if (offset > text.size() || width > text.size() - offset) return false;
  long number = 0;
  bool negative = false;
  for (char c : text.substr(offset, width)) {
    if (c == ' ' || c == '+') continue;
    if (c == '-') {
      negative = true;
    } else if (c >= '0' && c <= '9') {
      number = number * 10 + (c - '0');
    } else {
      return false;
    }
  }
  value = static_cast<int>(negative ? -number : number);
  return true;
}

bool IsValidStudentKey(std::string_view key) {
  return key.size() == 8 && IsAsciiLetter(key[0]);
}

bool ParseLoginReply(std::string_view reply, LoginReply& out) {
  out = LoginReply{};
  std::string line(reply.substr(0, reply.find_first_of("\r\n")));
  // A server with a 4-digit group field leaves a blank at 23: one column more makes it the
  // 5-digit layout.
  if (line.size() > 23 && line[23] == ' ') line.insert(19, 1, '0');
  if (line.size() < 48) return false;
  auto digit = [&](std::size_t at, int& value) {
    if (!IsDigit(line[at])) return false;
    value = line[at] - '0';
    return true;
  };
  int extra_level = 0;
  if (!ReadDigits(line, 19, 5, out.group) || !digit(43, out.protocolLevel) ||
      !digit(47, out.bigEndian)) {
    return false;
  }
  if (out.protocolLevel < 2 && digit(45, extra_level) && extra_level == 2) out.protocolLevel = 2;
  out.loginIdentifier = Trimmed(line.substr(10, 8));
  out.classPath = Trimmed(line.substr(25, 8));
  out.studentKey = std::string(line.substr(34, 8));
  std::vector<std::string> words;
  if (line.size() > 51) {
    std::string_view rest = std::string_view(line).substr(51);
    std::size_t at = 0;
    while (at < rest.size()) {
      const std::size_t start = rest.find_first_not_of(' ', at);
      if (start == std::string_view::npos) break;
      const std::size_t end = std::min(rest.find(' ', start), rest.size());
      words.emplace_back(rest.substr(start, end - start));
      at = end;
    }
  }
  if (words.size() > 0) out.sessionId = words[0];
  if (words.size() > 1) out.applicationName = words[1];
  if (words.size() > 2) out.countryLetters = words[2];
  return true;
}

std::string RequestPath(std::string_view command, std::string_view parameter) {
  const Session& s = S();
  std::string path = "/" + RS().cgiPath + s.ApplicationIdentifier + s.woResponsePage + "?" +
                     s.RecordsLoginName + "&CMD=" + std::string(command) + "_" +
                     std::string(parameter);
  if (path.size() > 255) path.resize(255);
  return path;
}

int DecompressReply(std::string& reply) {
  if (!reply.starts_with("COMP")) return 0;
  constexpr std::size_t kStreamOffset = 22;
  int compressed = 0, expanded = 0;
  if (!ReadDigits(reply, 5, 8, compressed) || !ReadDigits(reply, 14, 8, expanded)) return -3;
  if (compressed <= 0 || expanded < 0 || reply.size() < kStreamOffset ||
      static_cast<std::size_t>(compressed) > reply.size() - kStreamOffset ||
      static_cast<std::size_t>(expanded) > kMaxUncompressedReply) {
    return -3;
  }
  // Room for the stated length and 1,024 bytes more, as the server's length may leave out a
  // trailer; a stream that needs more than that fails.
  std::vector<unsigned char> inflated(static_cast<std::size_t>(expanded) + 1024);
  uLongf length = inflated.size();
  const int z = uncompress(inflated.data(), &length,
                           reinterpret_cast<const Bytef*>(reply.data() + kStreamOffset),
                           static_cast<uLong>(compressed));
  if (z != Z_OK) return -3;
  reply.assign(reinterpret_cast<const char*>(inflated.data()), length);
  return 0;
}

int FAQ_Message(std::string& reply) {
  if (!reply.starts_with("WEB")) return 0;
  Session& s = S();
  const std::string code = reply.size() > 5 ? reply.substr(5, 4) : "";
  if (code == s.FAQ_last) return 0;
  s.FAQ_last = code;
  if (reply.starts_with("WEB1 1003")) {
    s.server_message_installation_out_of_date = 1003;
    return 1;
  }
  if (reply.starts_with("WEB0 1005")) {
    s.server_message_installation_out_of_date = 1005;
    return 1;
  }
  s.server_message_installation_out_of_date = 0;
  WriteLogf(1, "%s", reply.substr(0, 254).c_str());
  // The code becomes part of an address: only letters and digits are taken from the server.
  const bool plain_code = code.size() == 4 && std::all_of(code.begin(), code.end(), [](char c) {
                            return IsAsciiLetter(c) || IsDigit(c);
                          });
  if (plain_code) {
    installer::LaunchWebPage(std::string(kNoticePageAddress) + "/messages/msg-" + code +
                             ".shtml");
  }
  if (reply.size() > 3 && reply[3] == '1') Quit("server notice");
  reply.replace(0, std::min<std::size_t>(4, reply.size()), "ANSW");
  return 1;
}

int GiveMessageIfNotCurrentlyConnected(const char* context) {
  WriteLogf(1, "Not connected to the network (%s)", context);
  const std::string message = base::StrRez(0, "MSG_MustConnectOnline") + "  " +
                              base::StrRez(0, "MSG_Text_ConnectToInternet");
  const int choice = ui::Ask({.id = "MSG_MustConnectOnline",
                              .message = message,
                              .buttons = {"MSG_Button_Quit", "MSG_Button_Retry"}});
  return choice == 2 ? 1 : 0;
}

// --- Sending -----------------------------------------------------------------------------------

int SendCommandToServer(std::string_view command, std::string_view parameter, std::string& reply,
                        std::string* timestamp) {
  Session& s = S();
  const std::string cmd(command);
  for (;;) {
    WriteLogf(3, "!!!!!!!IN!!!!!!!!!! %s CMD=%s_%s", Now().c_str(), cmd.c_str(),
              std::string(parameter).c_str());
    WriteLogf(3, "Calling SendCommandToServer('%s').", cmd.c_str());
    if (!s.haveReceiveBuffer) {
      WriteLogf(1, "receiveBufferHANDLE=NULL!");
      return -1;
    }
    const double started = text::timer();
    const Exchange exchange = Send(command, parameter, "", reply);
    if (Quitting()) return -2;
    if (exchange.suppressed) return -2;
    if (exchange.networkError) {
      if (GiveMessageIfNotCurrentlyConnected("SendCommandToServer")) continue;
      Quit("network");
      WriteLogf(1, "Error with network (SendCommandToServer) %d.", exchange.received);
      reply.clear();
      return -2;
    }
    WriteLogf(3, "Bytes downloaded: %d", exchange.received);
    WriteLogf(3, "!!!!!!!OUT!!!!!!!!! %s -- %s", Now().c_str(), reply.substr(0, 254).c_str());
    if (!RepliesAreCallers(command) && net::CallToServerWasBad(reply)) {
      const std::string message =
          base::StrRezf(0, "MSG_Message_UnableToConnectToServer", {RS().RecordsIPAddress});
      const int choice = ui::Ask({.id = "MSG_Message_UnableToConnectToServer",
                                  .message = message,
                                  .buttons = {"MSG_Button_Quit", "MSG_Button_Retry"}});
      if (choice == 2) continue;
      Quit("server error page");
      return -1;
    }
    const double downloaded = text::timer();
    if (Decompress(reply, "Error %d with uncompress %d --> %d") != 0) {
      DecompressionFailed();
      return -3;
    }
    if (reply.size() != static_cast<std::size_t>(exchange.received)) {
      const double done = text::timer();
      WriteLogf(3, "Download Time = %d   Decompress Time = %d   Total Time = %d",
                static_cast<int>((downloaded - started) * 60),
                static_cast<int>((done - downloaded) * 60), static_cast<int>((done - started) * 60));
    }
    break;
  }
  s.receiveBuffer = reply;
  if (reply.empty()) {
    WriteLogf(1, "Null result");
    return -1;
  }
  FAQ_Message(reply);
  if (Quitting()) return -1;
  if (reply.starts_with("UTL ")) {
    if (timestamp) *timestamp = reply.size() > 19 ? reply.substr(19, 19) : "";
    WriteLogf(3, "After UTL");
    return -1;
  }
  if (command == "HELO") return reply.find(kHeloAnswer) != std::string::npos ? 0 : -1;
  if (Quitting()) return -1;
  if (!RepliesAreCallers(command) && command != "PING" && net::CallToServerWasBad(reply)) {
    const std::string message = base::StrRez(0, "MSG_RSConnectionTimedOut") + "  " +
                                base::StrRez(0, "MSG_PleaseCnnectAgain");
    ui::Ask({.id = "MSG_RSConnectionTimedOut", .message = message,
             .buttons = {"MSG_Button_Quit"}});
    Quit("server timed out");
    return -1;
  }
  if (reply.starts_with("QUIT") || command.starts_with("QUIT")) return 0;
  if (!reply.starts_with("ANSW")) {
    WriteLogf(1, "After non ANSW");
    return -1;
  }
  if (reply.size() < 38) {
    WriteLogf(1, "!!!!!!!OUT!!!!!!!!! %s -- %s ERROR --- ERROR -- Did not get a valid timestamp",
              Now().c_str(), reply.substr(0, 254).c_str());
    return -4;
  }
  if (timestamp) *timestamp = reply.substr(19, 19);
  if (command != "PING" && command != "CLSB") s.saved_send_cmd = cmd;
  return 0;
}

int SendDataToServer(std::string_view command, std::string_view parameter, std::string_view data,
                     std::string& reply) {
  reply.clear();
  if (Quitting()) {
    WriteLogf(1, "SendDataToServer quitFlag=%d (Error=-2)", base::Run().quitFlag);
    return -2;
  }
  if (data.size() > kMaxBase64Body) {
    ui::Ask({.id = "records-body-too-large",
             .message = "Error: Trying to send data larger than 65k bytes.",
             .buttons = {"MSG_Button_OK"}});
    WriteLogf(1, "SendDataToServer: %zu bytes of data for %s not sent (more than %zu)",
              data.size(), std::string(command).c_str(), kMaxBase64Body);
    return -1;
  }
  const Exchange exchange = Send(command, parameter, Base64(data), reply);
  if (exchange.suppressed) return -2;
  if (exchange.networkError && !Quitting()) {
    if (GiveMessageIfNotCurrentlyConnected("SendDataToServer")) {
      WriteLogf(1, "Error with network (SendDataToServer) %d.  ", exchange.received);
      reply.clear();
      return -2;
    }
    Quit("network");
    return -2;
  }
  if (Quitting()) return -2;
  WriteLogf(3, "Bytes downloaded: %d.", exchange.received);
  if (Decompress(reply, "SendDataToServer Error %d with uncompress %d --> %d (Error=-3)") != 0) {
    return -3;
  }
  S().receiveBuffer = reply;
  FAQ_Message(reply);
  if (Quitting()) return -1;
  if (command == "QUIT" || IsLoginCommand(command)) return 0;
  if (net::CallToServerWasBad(reply)) {
    if (command != "FIND") {
      if (net::WebService().skipStatusPrompt != 0) {
        net::WebService().skipStatusPrompt |= net::kStatusPromptSuppressed;
      } else {
        const std::string message = base::StrRez(0, "MSG_RSConnectionTimedOut") + "  " +
                                    base::StrRez(0, "MSG_PleaseCnnectAgain");
        ui::Ask({.id = "MSG_RSConnectionTimedOut", .message = message,
                 .buttons = {"MSG_Button_Quit"}});
        Quit("server timed out");
      }
    }
    return -1;
  }
  if (reply.starts_with("ANSW")) return 0;
  const bool html = reply.find("</html>") != std::string::npos ||
                    reply.find("</HTML>") != std::string::npos;
  if (html && command != "GRLW" && reply.find("No instance available") == std::string::npos) {
    const std::string page = base::Path("nuvel_user") + "HTTPError.html";
    if (!platform::WriteFileAtomic(page, reply)) installer::LaunchWebPage(platform::FileUrl(page));
    reply.clear();
  }
  return -1;
}

// --- The session -------------------------------------------------------------------------------

int ConnectToServer(std::string_view user_in, std::string_view password_in) {
  Session& s = S();
  s.RecordsLoginName = std::string(kNoSession);
  ui::TCPStatusBoxCreate();
  struct CloseStatus {
    ~CloseStatus() { ui::TCPStatusBoxDestroy(); }
  } close_status;
  const std::string user = CutText(user_in, 50);
  const std::string password(password_in.substr(0, password_in.starts_with(kServerFormPrefix)
                                                       ? kServerFormSize
                                                       : kSQLPasswordMax));

  ui::TCPStatusBoxUpdate("", "Checking for Internet connection", "");
  const ServerSettings& rs = RS();
  for (;;) {
    net::WebRequest probe;
    probe.host = rs.RecordsIPAddress;
    probe.port = rs.RecordsIPPort;
    probe.serverNumber = rs.rs_server_number;
    const int online = net::AreTheyCurrentlyConnected(probe.host, net::ServicePort(probe));
    if (Quitting()) return -2;
    if (online) break;
    if (!GiveMessageIfNotCurrentlyConnected("ConnectToServer")) {
      Quit("not connected");
      return -2;
    }
  }
  if (CheckServerChecksum() < 0) return -3;

  // The server form of the password, unless it is given in that form already.
  std::string encoded = password;
  if (!password.starts_with(kServerFormPrefix)) {
    std::vector<unsigned char> field(kSQLFieldSize, 0);
    std::copy(password.begin(), password.end(), field.begin());
    EncodeSQLPassword(field);
    encoded.assign(reinterpret_cast<const char*>(field.data()),
                   std::find(field.begin(), field.end(), 0) - field.begin());
  }
  char lengths[2][8];
  std::snprintf(lengths[0], sizeof lengths[0], "%03d", static_cast<int>(user.size()));
  std::snprintf(lengths[1], sizeof lengths[1], "%03d", static_cast<int>(encoded.size()));
  const std::string body = std::string(lengths[0]) + "-->" + user + "<--" + lengths[1] + "-->" +
                           encoded + "<--COMP MONI";

  std::string reply;
  for (;;) {
    ui::TCPStatusBoxUpdate("", "Opening ConnectToServer", "");
    s.haveReceiveBuffer = true;
    ui::TCPStatusBoxUpdate("", "Logging in...", rs.RecordsIPAddress.c_str());
    const net::TransportState& transport = net::Transport();
    if (transport.gUseProxy == 1) {
      WriteLogf(1, "Attempting to connect to: %s:%d:%s    Via Proxy: %s:%d",
                rs.RecordsIPAddress.c_str(), rs.RecordsIPPort, user.c_str(),
                transport.ProxyIPAddress.c_str(), transport.ProxyIPPort);
    } else {
      WriteLogf(1, "Attempting to connect to: %s:%d:%s ", rs.RecordsIPAddress.c_str(),
                rs.RecordsIPPort, user.c_str());
    }
    s.woResponsePage.clear();
    s.ApplicationIdentifier.clear();
    const int result =
        SendDataToServer("LGNS", s.request_server_unicode ? "&UNICODE=1" : "", body, reply);
    if (Quitting()) {
      WriteLogf(1, "ConnectToServer err=%d from SendDataToServer(LGNL) 2", result);
      return -2;
    }
    s.login_attempts = s.LMS ? 100 : s.login_attempts + 1;
    if (result == 0) break;

    WriteLogf(1, "ConnectToServer: ERROR=%d, Unable to connect to server (-4)", result);
    std::string message = base::StrRez(0, "MSG_CannotConnectToRS") + "\r" +
                          base::StrRez(0, "MSG_StudyOffline");
    if (!net::UpdateCheck().versionFile_HasBeenDownloaded) {
      message += "\r\r" + base::StrRez(0, "MSG_Text_ConnectToInternet");
    }
    message += ServerAndProxy("Server: ");
    if (net::WebService().skipStatusPrompt != 0) {
      net::WebService().skipStatusPrompt |= net::kStatusPromptSuppressed;
      return -4;
    }
    const int choice = ui::Ask({.id = "MSG_CannotConnectToRS",
                                .message = message,
                                .buttons = {"MSG_Button_Quit", "MSG_Button_Retry"}});
    if (choice != 2) {
      Quit("cannot connect");
      return -4;
    }
  }

  // A refusal, or a reply that is not a login reply.
  auto refused = [&](const char* log_line, const std::string& message) {
    WriteLogf(1, log_line, user.c_str());
    ui::Ask({.id = "records-login-refused", .message = message, .buttons = {"MSG_Button_OK"}});
    if (s.login_attempts >= kMaxLoginAttempts) Quit("login refused");
    return 0;
  };
  LoginReply login;
  if (reply.find("BAD PASSWORD") != std::string::npos) {
    return refused("ConnectToServer: ERROR Invalid Password", "MSG_CMS_InvalidPassword");
  }
  if (reply.find("GROUP DISABLED") != std::string::npos) {
    return refused("ConnectToServer: ERROR Group has been disabled",
                   "MSG_Message_GroupHasBeenDisabled");
  }
  if (reply.find("USER NOT FOUND") != std::string::npos) {
    return refused("ConnectToServer: ERROR User not found: %s",
                   base::StrRez(0, "MSG_Message_InvalidLogin") + "\n\n" + user);
  }
  if (net::CallToServerWasBad(reply) || !ParseLoginReply(reply, login)) {
    return refused("ConnectToServer: ERROR Problem with the record server (-4)",
                   base::StrRez(0, "MSG_ProblemWithRS") + "  " + base::StrRez(0, "MSG_RSMayBeDown") +
                       "  " + base::StrRez(0, "MSG_TryAgainLater"));
  }

  s.savedUserName = user;
  s.savedUserPassword = encoded;
  s.conected_to_server = 1;
  WriteLogf(1, "Connected to Server ");
  s.loginIdentifier = login.loginIdentifier;
  s.loginClassPath = login.classPath;
  if (!login.classPath.empty()) s.forcedClassPath = login.classPath;
  if (!IsValidStudentKey(login.studentKey)) {
    WriteLogf(1, "ERROR CheckStudentSerial: %s %s", login.studentKey.c_str(), user.c_str());
    return -1;
  }
  s.forcedStudentKey = login.studentKey;
  s.ServerProtocolVersion = login.protocolLevel;
  if (s.ServerProtocolVersion < 4) s.request_server_unicode = 0;
  s.ServerIsBigEndian = login.bigEndian;
  s.RecordsLoginName = "wosid=" + login.sessionId;
  s.ApplicationIdentifier =
      login.applicationName.empty() ? "/" : "/" + login.applicationName + "/";
  WriteLogf(3, "User LIF-1");
  s.loginCountry = login.countryLetters.empty() ? "???" : login.countryLetters;
  const int country = Get_the_country_index_letters(s.loginCountry);
  if (!login.countryLetters.empty()) {
    WriteLogf(3, "User LIF-3 %d '%s'", country, s.loginCountry.c_str());
  } else {
    WriteLogf(3, "User LIF-2 %d", country);
  }
  if (country >= 0 && country <= 245) {
    WriteLogf(1, "User logged in from: %s", std::string(CountryName(country)).c_str());
  } else {
    WriteLogf(1, "User LIF-4 %d", country);
  }
  if (s.saved_login_path.empty()) {
    s.saved_login_path = s.loginIdentifier;
    if (s.saved_login_path.empty() || !IsDigit(s.saved_login_path[0])) {
      char group[16];
      std::snprintf(group, sizeof group, "%08d", login.group);
      s.saved_login_path = group;
    }
  }
  // The response page: the records.ini override, whose first "%s" stands for "Launcher".
  const std::string& page = RS().woResponsePageIniSetting;
  if (page.empty() || page == "none") {
    s.woResponsePage = "wa/getRSLauncherResponse";
  } else {
    s.woResponsePage = page;
    const std::size_t at = s.woResponsePage.find("%s");
    if (at != std::string::npos) s.woResponsePage.replace(at, 2, "Launcher");
  }
  s.SQL = 1;
  s.login_attempts = 0;
  return login.group;
}

int DisconnectFromServer() {
  Session& s = S();
  if (s.conected_to_server || s.haveReceiveBuffer) {
    ui::TCPStatusBoxUpdate("", "Logout.", "");
    if (s.RecordsLoginName != kNoSession && s.conected_to_server == 1) {
      WriteLogf(3, "DisconnectFromServer 1");
      std::string reply;
      SendCommandToServer("QUIT", s.RecordsLoginName, reply);
      WriteLogf(3, "DisconnectFromServer 2");
    }
  }
  s.conected_to_server = 0;
  s.haveReceiveBuffer = false;
  s.receiveBuffer.clear();
  s.RecordsLoginName = std::string(kNoSession);
  net::Transport().gCookieFromServer.clear();
  net::Transport().gSendCookie = 0;
  ui::TCPStatusBoxDestroy();
  return 0;
}

// --- The server's date -------------------------------------------------------------------------

void UpdateRSTime(std::string_view header_text) {
  std::size_t at = header_text.find("Date:");
  if (at == std::string_view::npos) at = header_text.find("date:");
  if (at == std::string_view::npos) at = header_text.find("DATE:");
  if (at == std::string_view::npos) return;
  const std::size_t comma = header_text.find(',', at);
  if (comma == std::string_view::npos || header_text.size() < comma + 2 + 20) return;
  const std::string_view date = header_text.substr(comma + 2, 20);  // "15 Nov 1994 08:12:31"
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int day = 0, year = 0, month = 0;
  if (!ReadDigits(date, 0, 2, day) || !ReadDigits(date, 7, 4, year)) return;
  for (int m = 0; m < 12; ++m) {
    if (base::EqualsIgnoreCase(date.substr(3, 3), kMonths[m])) month = m + 1;
  }
  if (month == 0 || day < 1 || day > 31 || year < 1980) return;
  int packed = text::GetDateValueFromYearMonthDay(year - 1980, month, day);
  text::Offset_UTCDateToLocalDate(date, packed);
  int local_day = 0, local_month = 0, years = 0;
  text::GetDayMonthYear(packed, local_day, local_month, years);
  char text_date[24];
  std::snprintf(text_date, sizeof text_date, "%04d-%02d-%02d+", years + 1980, local_month,
                local_day);
  Session& s = S();
  s.saved_server_time = std::string(text_date) + std::string(date.substr(12, 8));
  if (!s.loggedServerDate) {
    s.loggedServerDate = true;
    WriteLogf(3, "Records server %s", std::string(header_text.substr(at)).c_str());
  }
}

int TCPFindServerTime(int kind) {
  Session& s = S();
  const double now = text::timer();
  if (kind == 2 && s.TCPRecords_time != 0 && now - s.TCPRecords_LastPing < 60) {
    return s.TCPRecords_time;
  }
  if (Quitting()) {
    WriteLogf(1, "TCPFindServerTime returning 0, quit flag is set");
    return 0;
  }
  if (!net::SavedServerDateHeader().empty()) {
    UpdateRSTime(net::SavedServerDateHeader());
    net::ResetServerReply();
  }
  std::string stamp;
  if (!s.saved_server_time.empty()) {
    stamp = s.saved_server_time;
    s.saved_server_time.clear();
  } else {
    std::string reply;
    if (SendCommandToServer("PING", s.RecordsLoginName, reply, &stamp) != 0 || Quitting()) {
      if (Quitting()) WriteLogf(1, "TCPFindServerTime returning 0, quit flag is set");
      return 0;
    }
  }
  int year = 0, month = 0, day = 0;
  if (!ReadDigits(stamp, 0, 4, year) || !ReadDigits(stamp, 5, 2, month) ||
      !ReadDigits(stamp, 8, 2, day) || year < 1980 || month < 1 || month > 12 || day < 1 ||
      day > 31) {
    return 0;
  }
  const int packed = text::GetDateValueFromYearMonthDay(year - 1980, month, day);
  if (kind == 2) {
    s.TCPRecords_LastPing = now;
    s.TCPRecords_time = packed;
  }
  return packed;
}

// --- Settings checksum and the administrator password ------------------------------------------

int CheckServerChecksum() {
  Session& s = S();
  if (s.CheckServerChecksum_success) return 1;
  const std::string records_ini = base::GetRecordsIniFilePath();
  const int number = std::atoi(base::ProfileValue("Records", "server_num", "", records_ini).c_str());
  char key[40];
  std::snprintf(key, sizeof key, "server_%03d_serverchecksum", number);
  const std::string versions =
      platform::WithTrailingSlash(base::Run().current_dir) + "install/data/versions.ini";
  std::string stored = base::ProfileValue("Records", key, "", versions);
  if (stored.empty()) {
    WriteLogf(1, "SSCS=NULL in %s", versions.c_str());
    stored = base::ProfileValue("Records", key, "", records_ini);
    if (stored.empty()) stored = base::ProfileValue("Records", "serverchecksum", "", records_ini);
  }
  const ServerSettings& rs = RS();
  const std::string expected = SettingsChecksum(rs.RecordsIPAddress, rs.streamingServer);
  if (base::LowerAscii(stored) == expected) {
    s.CheckServerChecksum_success = 1;
    return 1;
  }
  WriteLogf(1, "%s %s %s %s", rs.RecordsIPAddress.c_str(), rs.streamingServer.c_str(),
            stored.c_str(), expected.c_str());
  const std::string message = "Corrupted Records Server Settings (1):" + rs.RecordsIPAddress + " ";
  WriteLogf(1, "%s", message.c_str());
  SendEmailMessage(kCorruptedRecordsAddress, message);
  ui::Ask({.id = "records-corrupted-settings", .message = message,
           .buttons = {"MSG_Button_Quit"}});
  Quit("corrupted Records server settings");
  return -1;
}

int TCPSetAdminPassword(std::string_view new_password) {
  const Session& s = S();
  // The new password travels in its server form, as every password does.
  const std::string encoded = new_password.starts_with(kServerFormPrefix)
                                  ? std::string(new_password)
                                  : EncodePlainText(kPasswordKey, new_password);
  char lengths[2][8];
  std::snprintf(lengths[0], sizeof lengths[0], "%03d",
                static_cast<int>(s.SavedEncodedAdminPassword.size()));
  std::snprintf(lengths[1], sizeof lengths[1], "%03d", static_cast<int>(encoded.size()));
  const std::string body = std::string(lengths[0]) + "-->" + s.SavedEncodedAdminPassword +
                           "<--" + lengths[1] + "-->" + encoded + "<--";
  std::string reply;
  if (SendDataToServer("PASS", "", body, reply) != 0) return 0;
  return reply.find("GOOD") != std::string::npos ? 1 : 0;
}

bool TCPmgets(std::string& line, std::size_t size, std::string_view text, std::size_t& position) {
  line.clear();
  if (size == 0 || position >= text.size()) return false;
  while (position < text.size() && line.size() + 1 < size) {
    const char c = text[position++];
    line.push_back(c);
    if (c == '\n') break;
  }
  return true;
}

}  // namespace nuvel::records
