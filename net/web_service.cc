#include "net/web_service.h"

#include <curl/curl.h>

#include <algorithm>

#include "base/ascii.h"
#include "base/log.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "net/transport.h"
#include "net/update_check.h"
#include "platform/clock.h"
#include "platform/events.h"
#include "platform/locale.h"
#include "platform/run_reset.h"
#include "text/dates.h"
#include "ui/dialog.h"
#include "ui/prompts.h"

namespace nuvel::net {
namespace {

constexpr int kHttpsPort = 443;
// The servers reached over plain HTTP on their own port.
constexpr int kPlainServers[] = {6, 75};
// The proxy description of the last quiet repeat.
constexpr const char* kAutoProxy = "auto:0";
// The reply of a server that had nothing to say to a request carrying the session cookie.
constexpr int kEmptyAnswerBytes = 4;

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool IsLoginPath(std::string_view path) {
  return Contains(path, "LGNL") || Contains(path, "LGNR") || Contains(path, "LGNS");
}

bool ShowsBusyCursor(std::string_view path) {
  return Contains(path, "=GRPD_") || Contains(path, "=FIND_");
}

// Nobody answers in person: a command-line job, or dialogs answered from an answer file.
bool Unattended() { return ui::Prompts().CmdLine_job || ui::CurrentBackend().Unattended(); }

std::string ProxyDescription(std::string_view proxyText) {
  if (proxyText.empty()) return "No Proxy";
  if (Contains(base::LowerAscii(proxyText), "auto")) return "Auto Detect";
  return std::string(proxyText);
}

// The failure question's text; `english` for the log.
std::string FailureMessage(const WebRequest& request, std::string_view proxyText, bool english) {
  auto text = [english](std::string_view key) {
    return english ? base::LocalizeEnglish(key) : base::Localize(key);
  };
  std::string message = text("MSG_CannotConnectToRS");
  if (!UpdateCheck().versionFile_HasBeenDownloaded)
    message += "\r" + text("MSG_Text_ConnectToInternet");
  message +=
      "\r\rRecords Server: " + request.host + "\rProxy Server: " + ProxyDescription(proxyText);
  return message;
}

// Waits `hundredths`, running the event loop, and ends early when the run quits.
void WaitUnlessQuitting(int hundredths) {
  constexpr int kSlice = 10;
  for (int left = hundredths; left > 0 && !base::Run().quitFlag; left -= kSlice)
    text::Delay_Time(std::min(left, kSlice));
}

// The result of one attempt as the call judges it.
struct Attempt {
  int result = 0;
  int received = 0;
};

bool Failed(const Attempt& attempt, const WebRequest& request) {
  return attempt.result == 0 || attempt.received == 0 ||
         (request.sendCookie && attempt.received == kEmptyAnswerBytes);
}

// Leaves the in-progress mark (and the busy cursor) whatever way the call ends.
class CallInProgress {
 public:
  explicit CallInProgress(bool busy_cursor) : busy_cursor_(busy_cursor) {
    WebService().WiniNet_has_been_called = 1;
  }
  ~CallInProgress() {
    RestoreCursor();
    WebService().WiniNet_has_been_called = 0;
  }
  void ShowCursor() {
    if (busy_cursor_) ui::CurrentBackend().SetCursor(ui::Cursor::kBusy);
  }
  void RestoreCursor() {
    if (busy_cursor_) ui::CurrentBackend().SetCursor(ui::Cursor::kArrow);
  }

 private:
  bool busy_cursor_;
};

// The on-line test's own libcurl multi handle, made once and kept for the process.
CURLM* ConnectTestMulti() {
  static CURLM* multi = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return curl_multi_init();
  }();
  return multi;
}

}  // namespace

WebServiceState& WebService() {
  static WebServiceState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("net::WebService", [] { state.reset(); });
  return state;
}

void SetRetryWaitsForTesting(int unattended, int user) {
  WebService().unattendedRetryWait = unattended;
  WebService().userRetryWait = user;
}

bool UsesHttps(const WebRequest& request) {
  if (Contains(base::LowerAscii(request.host), kContentDeliveryDomain)) return true;
  return std::find(std::begin(kPlainServers), std::end(kPlainServers), request.serverNumber) ==
         std::end(kPlainServers);
}

int ServicePort(const WebRequest& request) {
  if (UsesHttps(request)) {
    int seam = platform::TestHttpsPort();
    return seam ? seam : kHttpsPort;
  }
  return request.port == 0 ? 80 : request.port;
}

std::string WebAddress(const WebRequest& request) {
  std::string address = (UsesHttps(request) ? "https://" : "http://") + request.host + ":" +
                        std::to_string(ServicePort(request)) + request.path;
  const std::size_t limit = request.body.empty() ? kMaxAddress : kMaxAddressWithBody;
  if (address.size() > limit) {
    base::WriteLogf(1, "WiniNet: the address is cut to %zu characters: %s", limit, address.c_str());
    address.resize(limit);
  }
  return address;
}

int WiniNetCall(const WebRequest& request, std::string& reply, int& received) {
  TransportState& transport = Transport();
  transport.gSendCookie = request.sendCookie ? 1 : 0;
  // A login starts a new session.
  if (IsLoginPath(request.path)) transport.gCookieFromServer.clear();
  received = 0;
  reply.clear();
  if (request.host.empty()) {
    base::WriteLogf(1, "Error WiniNet: no Records server address");
    return 0;
  }
  reply = URLRequest(WebAddress(request), request.body.data(), request.body.size());
  received = static_cast<int>(reply.size());
  return 1;
}

int WiniNet(const WebRequest& request, std::string& reply, int& received) {
  WebServiceState& state = WebService();
  if (state.quitFlag_issued) {
    base::WriteLogf(2, "Error WiniNet: quitFlag_issued");
    return 0;
  }
  if (state.WiniNet_has_been_called) {
    base::WriteLogf(1, "Error WiniNet: busy with another command");
    return 0;
  }
  CallInProgress call(ShowsBusyCursor(request.path));
  TransportState& transport = Transport();
  int automatic_retries = 0;
  for (;;) {
    call.ShowCursor();
    std::string proxyText = request.proxyText;
    Attempt attempt;
    attempt.result = WiniNetCall(request, reply, attempt.received);
    if (Contains(request.path, "=STDR_")) return attempt.result;

    for (int repeat = 1; repeat <= 2 && Failed(attempt, request) && !base::Run().quitFlag;
         ++repeat) {
      base::WriteLogf(1,
                      repeat == 1 ? "Error WiniNet: bytes_received=%d   trying again (1) ..."
                                  : "Error WiniNet: bytes_received=%d   auto trying again (2) ...",
                      attempt.received);
      attempt.result = WiniNetCall(request, reply, attempt.received);
    }
    if (Failed(attempt, request) && proxyText.empty() && !transport.gDownloadInterrupted &&
        !base::Run().quitFlag) {
      base::WriteLogf(2, "Error WiniNet: bytes_received=%d trying again (3) ...", attempt.received);
      proxyText = kAutoProxy;
      attempt.result = WiniNetCall(request, reply, attempt.received);
      if (attempt.result != 1) {
        base::WriteLogf(1, "Error WiniNet: after retry errorFlag=%d", attempt.result);
        return attempt.result;
      }
    }

    call.RestoreCursor();
    received = attempt.received;
    if (transport.gDownloadInterrupted) {
      transport.gDownloadInterrupted = 0;
      ui::Ask({.id = "MSG_Message_DownloadIncomplete",
               .message = "MSG_Message_DownloadIncomplete",
               .buttons = {"MSG_Dialog_Button_Continue"}});
      return attempt.result;
    }
    if (!Failed(attempt, request) || base::Run().quitFlag) return attempt.result;

    if (Unattended() && automatic_retries < kUnattendedRetries) {
      ++automatic_retries;
      base::WriteLogf(1, "Error WiniNet: automatic retry %d of %d: %s", automatic_retries,
                      kUnattendedRetries, FailureMessage(request, proxyText, true).c_str());
      WaitUnlessQuitting(state.unattendedRetryWait);
      continue;
    }
    if (state.skipStatusPrompt) {
      state.skipStatusPrompt |= kStatusPromptSuppressed;
      return 0;
    }
    int answer = ui::Ask({.id = "MSG_CannotConnectToRS",
                          .message = FailureMessage(request, proxyText, false),
                          .buttons = {"MSG_Button_Quit", "MSG_Button_Retry"}});
    if (answer == 1) {
      base::SetQuitFlag("WiniNet", __LINE__, "cannot connect to the Records server");
      state.quitFlag_issued = 1;
      return attempt.result;
    }
    WaitUnlessQuitting(state.userRetryWait);
    if (base::Run().quitFlag) return attempt.result;
  }
}

int AreTheyCurrentlyConnected(const std::string& host, int port) {
  if (host.empty() || port < 1 || port > 65535) {
    base::WriteLogf(1, "AreTheyCurrentlyConnected: no server to test ('%s', port %d)", host.c_str(),
                    port);
    return 0;
  }
  CURLM* multi = ConnectTestMulti();
  CURL* easy = curl_easy_init();
  if (!multi || !easy) {
    if (easy) curl_easy_cleanup(easy);
    base::WriteLogf(1, "AreTheyCurrentlyConnected: the connection test cannot be made");
    return 0;
  }
  // An IPv6 address is written in brackets in an address.
  const std::string shown_host = Contains(host, ":") ? "[" + host + "]" : host;
  const std::string url = "http://" + shown_host + ":" + std::to_string(port) + "/";
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_CONNECT_ONLY, 1L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");  // the server itself, never a proxy
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kConnectTestMilliseconds));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(kConnectTestMilliseconds));

  int connected = 0;
  CURLcode outcome = CURLE_OPERATION_TIMEDOUT;
  if (curl_multi_add_handle(multi, easy) == CURLM_OK) {
    // libcurl keeps to its own time limit; ours only guards against a stuck resolver.
    const double deadline = platform::MonotonicSeconds() + kConnectTestMilliseconds / 1000.0 + 1;
    bool done = false;
    while (!done && !base::Run().quitFlag && platform::MonotonicSeconds() < deadline) {
      int running = 0;
      curl_multi_perform(multi, &running);
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
          outcome = message->data.result;
          done = true;
        }
      }
      if (!done) curl_multi_poll(multi, nullptr, 0, 50, nullptr);
      platform::PumpEvents();
    }
    connected = done && outcome == CURLE_OK;
    curl_multi_remove_handle(multi, easy);
  }
  curl_easy_cleanup(easy);
  base::WriteLogf(2, "AreTheyCurrentlyConnected: %s:%d %s", host.c_str(), port,
                  connected ? "connected" : curl_easy_strerror(outcome));
  return connected;
}

}  // namespace nuvel::net
