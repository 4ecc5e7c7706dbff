// Web-service calls: carries one Records-server request (a path with its query and an optional
// body) to the server through the transport's memory mode and brings the reply back, with the
// quiet retries and, at last, the Quit/Retry question that names the server and the proxy.
//
// (The module's full description is written with its implementation.)
#pragma once

#include <string>

namespace nuvel::net {

struct WebServiceState {
  int WiniNet_has_been_called = 0;  // a call is in progress; a nested call is refused
  int quitFlag_issued = 0;          // the user chose Quit; every later call is refused
  int skipStatusPrompt = 0;         // non-zero: failures are not asked about; bit 128 = one was
  void reset() { *this = WebServiceState{}; }
};

WebServiceState& WebService();

/// Bit of skipStatusPrompt that reports a suppressed failure.
inline constexpr int kStatusPromptSuppressed = 128;

/// One request to the Records server.
struct WebRequest {
  std::string host;       // RecordsIPAddress
  int port = 80;          // RecordsIPPort (0 is taken as 80); used for plain HTTP only
  int serverNumber = 0;   // rs_server_number: 6 and 75 use plain HTTP
  std::string path;       // path and query, starting with "/"
  std::string proxyText;  // "host:port" when the proxy is in use, else ""
  std::string body;       // sent as a POST body (an empty body is a POST with an empty body)
  bool sendCookie = true; // the session cookie goes with the request (cookieText empty)
};

/// The call with retries. `reply` receives the reply bytes (cut to the receive buffer's size),
/// `received` their count. 0 when the call was refused or a failure was suppressed; otherwise
/// 1, a failure then showing as 0 bytes received and, after Quit, in quitFlag_issued.
int WiniNet(const WebRequest& request, std::string& reply, int& received);

/// 1 when the Records server at host:port accepts a TCP connection within 3 seconds (so that a
/// school server on a network without internet access counts as on line), else 0.
int AreTheyCurrentlyConnected(const std::string& host, int port);

}  // namespace nuvel::net
