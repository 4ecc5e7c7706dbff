// Web-service calls: carries one Records-server request (a path with its query and a body) to
// the server through the transport's memory mode and brings the reply back, retries quietly
// when nothing came back, and at last asks the user whether to retry or quit, naming the server
// and the proxy. It also tells whether the Records server can be reached at all.
//
// One attempt (WiniNetCall): a login path ("LGNL", "LGNR", "LGNS") clears the stored session
// cookie first, so that a login starts a new session; the request carries the cookie unless
// sendCookie is false. HTTPS on port 443, except for the servers numbered 6 and 75, which are
// reached over plain HTTP on their configured port (0 is taken as 80); a host in the
// content-delivery domain (kContentDeliveryDomain) always goes over HTTPS. The address is
// "https://host:443path" or "http://host:portpath", cut to 511 characters (254 with a body).
// Every request is a POST of the body (an empty body is a POST with an empty body).
//
// The call (WiniNet):
//  - refused (0) after the user chose Quit in this module's question, and while another call is
//    in progress (the wait runs the event loop, so a dialog may ask again);
//  - shows the busy cursor for group ("=GRPD_") and search ("=FIND_") requests;
//  - a student-record request ("=STDR_") returns after its one attempt: no retry, no question;
//  - an attempt failed when it brought no bytes, or exactly 4 bytes while the cookie is sent
//    (the server's empty answer). A failure is repeated twice at once, then, when the caller
//    named no proxy and no download was stopped, once more described as "auto:0";
//  - still failing: the question MSG_CannotConnectToRS (with MSG_Text_ConnectToInternet when the
//    version file was not fetched in this run) names the server and the proxy ("No Proxy",
//    "Auto Detect" or the proxy's "host:port"). Quit ends the run (SetQuitFlag "WiniNet") and
//    refuses every later call; Retry waits a second and starts the call again.
//  - an unattended run (a command-line job, or dialogs answered from an answer file) retries
//    50 times by itself, 10 seconds apart, logging the message each time, before it asks
//    (where the answer file, or the job's rule of answering 1, chooses);
//  - with skipStatusPrompt non-zero the question is not asked: bit 128 reports the failure to
//    the caller and the result is 0.
//
// Decisions of this implementation:
//  - The content-delivery domain is "nuvel-cdn.example" (kContentDeliveryDomain).
//  - The third repeat goes through the same transport as the others (the proxy is the one
//    records.ini names); its description "auto:0" is what the question then names, "Auto
//    Detect". Each new round (after Retry or an automatic retry) starts from the caller's
//    proxy text again.
//  - The on-line test is a TCP connect, without a proxy, to the configured Records server
//    itself (so that a school server on a network without internet access counts as on line),
//    made by libcurl with CURLOPT_CONNECT_ONLY on a multi handle of this module's own: names
//    are resolved without blocking, the event loop runs every 50 ms, and the attempt ends after
//    3 seconds. No ICMP. The transport's one transfer is not disturbed.
//  - A run that is quitting is never asked: a failed call then ends with 0 bytes. The waits
//    between retries end as soon as the run quits.
//  - Test seams: NUVEL_TEST_HTTPS_PORT (platform::TestHttpsPort) replaces 443, and
//    SetRetryWaitsForTesting shortens the waits between retries.
#pragma once

#include <string>
#include <string_view>

namespace nuvel::net {

/// Automatic retries of an unattended run, and the waits (hundredths of a second).
inline constexpr int kUnattendedRetries = 50;
inline constexpr int kUnattendedRetryWait = 1000;
inline constexpr int kUserRetryWait = 100;

/// Hosts of this domain are always reached over HTTPS, whatever the server's number.
inline constexpr std::string_view kContentDeliveryDomain = "nuvel-cdn.example";

/// Cut lengths of a request's address, without and with a body.
inline constexpr std::size_t kMaxAddress = 511;
inline constexpr std::size_t kMaxAddressWithBody = 254;

/// Time allowed to the on-line test's TCP connect.
inline constexpr int kConnectTestMilliseconds = 3000;

struct WebServiceState {
  int WiniNet_has_been_called = 0;  // a call is in progress; a nested call is refused
  int quitFlag_issued = 0;          // the user chose Quit; every later call is refused
  int skipStatusPrompt = 0;         // non-zero: failures are not asked about; bit 128 = one was
  int unattendedRetryWait = kUnattendedRetryWait;  // hundredths between automatic retries
  int userRetryWait = kUserRetryWait;              // hundredths after the user chose Retry
  void reset() { *this = WebServiceState{}; }
};

WebServiceState& WebService();

/// Bit of skipStatusPrompt that reports a suppressed failure.
inline constexpr int kStatusPromptSuppressed = 128;

/// One request to the Records server.
struct WebRequest {
  std::string host;        // RecordsIPAddress
  int port = 80;           // RecordsIPPort (0 is taken as 80); used for plain HTTP only
  int serverNumber = 0;    // rs_server_number: 6 and 75 use plain HTTP
  std::string path;        // path and query, starting with "/"
  std::string proxyText;   // "host:port" when the proxy is in use, else ""
  std::string body;        // sent as a POST body (an empty body is a POST with an empty body)
  bool sendCookie = true;  // the session cookie goes with the request (cookieText empty)
};

/// True when the request goes over HTTPS (see the header comment).
bool UsesHttps(const WebRequest& request);

/// The port the request connects to: 443 (or the NUVEL_TEST_HTTPS_PORT seam) over HTTPS, else
/// the configured port with 0 taken as 80. The on-line test of a server uses the same port.
int ServicePort(const WebRequest& request);

/// The address one attempt requests, cut to kMaxAddress (kMaxAddressWithBody with a body).
std::string WebAddress(const WebRequest& request);

/// One attempt, without retries or questions: the reply in `reply` (cut to the receive
/// buffer's size), its length in `received` (0 when the transfer failed). 1 when the request
/// was sent, 0 when no request could be made of it (an empty host).
int WiniNetCall(const WebRequest& request, std::string& reply, int& received);

/// The call with retries. `reply` receives the reply bytes (cut to the receive buffer's size),
/// `received` their count. 0 when the call was refused or a failure was suppressed; otherwise
/// 1, a failure then showing as 0 bytes received and, after Quit, in quitFlag_issued.
/// A "=STDR_" request leaves `received` as it was (`reply` holds the answer).
int WiniNet(const WebRequest& request, std::string& reply, int& received);

/// 1 when the Records server at host:port accepts a TCP connection within 3 seconds (so that a
/// school server on a network without internet access counts as on line), else 0. The event
/// loop keeps running meanwhile.
int AreTheyCurrentlyConnected(const std::string& host, int port);

/// Test seam: the waits between retries (hundredths of a second) instead of 10 s and 1 s.
void SetRetryWaitsForTesting(int unattended, int user);

}  // namespace nuvel::net
