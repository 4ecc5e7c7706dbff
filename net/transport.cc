#include "net/transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "base/ascii.h"
#include "base/log.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/copy_engine.h"
#include "installer/expand.h"
#include "net/server_reply.h"
#include "platform/clock.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "platform/run_reset.h"
#include "ui/dialog.h"
#include "ui/prompts.h"
#include "ui/status_box.h"

namespace nuvel::net {
namespace {

// A memory reply never grows the receive buffer beyond this, whatever its Content-Length says.
constexpr std::uint64_t kMaxReceiveBuffer = 64u << 20;
constexpr std::size_t kMaxHeaderText = 1023;

enum class Phase { kIdle, kStarted, kReceiving, kEnded };

const char* PhaseName(Phase phase) {
  switch (phase) {
    case Phase::kIdle:
      return "idle";
    case Phase::kStarted:
      return "started";
    case Phase::kReceiving:
      return "receiving";
    case Phase::kEnded:
      return "ended";
  }
  return "?";
}

// The libcurl side of the one active transfer. TransportState::reset() ends a transfer and
// clears the run's part; the multi handle is made once and kept for the process.
struct Active {
  CURLM* multi = nullptr;  // made once, kept for the process
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  bool memory = false;
  bool first_chunk = true;
  bool timed_out = false;
  double last_data = 0;  // platform::MonotonicSeconds() of the last byte received
  Phase phase = Phase::kIdle;
  std::string user_agent_version;
};

Active& Current() {
  static Active active;
  return active;
}

// Every change of a transfer's phase goes through here, so the log tells its story.
void SetPhase(Phase phase, const char* why) {
  Active& active = Current();
  if (active.phase == phase) return;
  base::WriteLogf(4, "transfer %s -> %s (%s)", PhaseName(active.phase), PhaseName(phase), why);
  active.phase = phase;
}

void EnsureCurl() {
  static bool initialised = false;
  if (!initialised) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    initialised = true;
  }
  if (!Current().multi) Current().multi = curl_multi_init();
}

long ResponseStatus(CURL* easy) {
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

curl_off_t ContentLength(CURL* easy) {
  curl_off_t length = -1;
  curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  return length;
}

// Releases the libcurl request of the active transfer (nothing when there is none).
void ReleaseRequest() {
  Active& active = Current();
  if (active.easy) {
    if (active.multi) curl_multi_remove_handle(active.multi, active.easy);
    curl_easy_cleanup(active.easy);
    active.easy = nullptr;
  }
  curl_slist_free_all(active.headers);
  active.headers = nullptr;
}

// The first `count` bytes of a file ("" when it cannot be read).
std::string FirstBytes(const std::string& path, std::size_t count) {
  std::string bytes(count, '\0');
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return "";
  bytes.resize(std::fread(bytes.data(), 1, count, file));
  std::fclose(file);
  return bytes;
}

// Ends the transfer as a failure at once (a request that could not be started, a stop).
void Fail(const char* why) {
  Transport().gTransferFailed = true;
  base::WriteLogf(3, "transfer failed: %s", why);
  TerminateDownload();
}

std::size_t WriteFileChunk(const char* data, std::size_t size) {
  TransportState& state = Transport();
  Active& active = Current();
  std::string_view chunk(data, size);
  if (active.first_chunk) {
    active.first_chunk = false;
    // Some servers put a few bytes before an HTML page; the page starts at its DOCTYPE.
    if (std::size_t doctype = chunk.find("<!DOCTYPE");
        doctype != std::string_view::npos && state.gBytesTransferred == 0)
      chunk.remove_prefix(doctype);
    long status = ResponseStatus(active.easy);
    base::WriteLogf(0, "ReadStreamClientCallBack (2) statusCode=%ld", status);
    if (status != 200) return 0;
    curl_off_t length = ContentLength(active.easy);
    if (length >= 0 && state.gBytesToTransfer == kUnknownSize)
      state.gBytesToTransfer = static_cast<std::uint32_t>(std::min<curl_off_t>(length, UINT32_MAX));
  }
  if (chunk.empty()) return size;
  if (DownloadUpdate(static_cast<long>(chunk.size()), chunk.data()) == 0) return 0;
  return size;
}

std::size_t WriteMemoryChunk(const char* data, std::size_t size) {
  TransportState& state = Transport();
  Active& active = Current();
  if (!state.gDownloadBuff) return 0;
  if (active.first_chunk) {
    active.first_chunk = false;
    long status = ResponseStatus(active.easy);
    base::WriteLogf(0, "ReadStreamClientCallBack statusCode=%ld", status);
    if (status != 200) return 0;
    curl_off_t length = ContentLength(active.easy);
    if (length >= 0 && static_cast<std::uint64_t>(length) + 32 >= state.gBytesToTransfer &&
        static_cast<std::uint64_t>(length) + 32 <= kMaxReceiveBuffer) {
      state.gBytesToTransfer = static_cast<std::uint32_t>(length + 32);
      state.receiveBufferHANDLE.assign(state.gBytesToTransfer + 256, 0);
      state.gDownloadBuff = state.receiveBufferHANDLE.data();
    }
  }
  // A chunk that does not fit is dropped: the caller sees a cut reply.
  if (state.gBytesTransferred + size < state.gBytesToTransfer) {
    std::memcpy(state.gDownloadBuff, data, size);
    state.gDownloadBuff += size;
    state.gBytesTransferred += static_cast<std::uint32_t>(size);
  }
  return size;
}

std::size_t OnBody(char* data, std::size_t one, std::size_t count, void*) {
  Active& active = Current();
  active.last_data = platform::MonotonicSeconds();
  SetPhase(Phase::kReceiving, "data");
  return active.memory ? WriteMemoryChunk(data, one * count) : WriteFileChunk(data, one * count);
}

std::size_t OnHeader(char*, std::size_t one, std::size_t count, void*) {
  Current().last_data = platform::MonotonicSeconds();
  return one * count;
}

bool InactivityExpired() {
  Active& active = Current();
  if (platform::MonotonicSeconds() - active.last_data < Transport().inactivityTimeout) return false;
  active.timed_out = true;
  return true;
}

int OnProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return InactivityExpired() ? 1 : 0;
}

// The reply's last header of `name` (of the final reply after redirects), cut to 1,023 bytes.
bool ReplyHeader(CURL* easy, const char* name, std::string& value) {
  curl_header* header = nullptr;
  if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header)
    return false;
  value.assign(header->value, std::min(std::strlen(header->value), kMaxHeaderText));
  return true;
}

// The transfer reached its end in libcurl: take the reply's headers, judge it, end it.
void Finish(CURLcode result) {
  TransportState& state = Transport();
  Active& active = Current();
  long status = ResponseStatus(active.easy);
  bool complete = result == CURLE_OK && status == 200;
  if (complete) {
    curl_off_t length = ContentLength(active.easy);
    curl_off_t received = 0;
    curl_easy_getinfo(active.easy, CURLINFO_SIZE_DOWNLOAD_T, &received);
    if (length >= 0 && received != length) complete = false;
  }
  if (result == CURLE_OK) {
    std::string value;
    if (ReplyHeader(active.easy, "Date", value)) UpdateRSTime("Date: " + value);
    if (ReplyHeader(active.easy, "Set-Cookie", value)) {
      state.gCookieFromServer = value;
      base::WriteLogf(0, "Set-Cookie: %s", value.c_str());
    }
  }
  if (!complete) {
    base::WriteLogf(1, "transfer incomplete: status %ld, %s", status,
                    active.timed_out ? "no data within the time-out" : curl_easy_strerror(result));
  }
  state.gTransferFailed = !complete;
  TerminateDownload();
}

// Makes the request and adds it to the multi handle; false when it cannot be started.
bool Start(const std::string& url, bool memory, const char* body, std::size_t bodyLength) {
  EnsureCurl();
  ReleaseRequest();
  TransportState& state = Transport();
  Active& active = Current();
  state.gTransferFailed = false;
  active.memory = memory;
  active.first_chunk = true;
  active.timed_out = false;
  active.easy = curl_easy_init();
  if (!active.multi || !active.easy) return false;
  CURL* easy = active.easy;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE,
                   static_cast<long>(active.memory ? kChunkSize : kFileChunkSize));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
  // Only records.ini decides about the proxy: libcurl would otherwise read the environment.
  std::string proxy = EffectiveProxy();
  curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
  std::string ca_file = platform::TestCaFile();
  if (!ca_file.empty()) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, ca_file.c_str());
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
  }

  curl_slist* headers = nullptr;
  if (memory && body) {
    std::string agent = "User-Agent: (Nuvel Linux Launcher " + active.user_agent_version + ")";
    headers = curl_slist_append(headers, agent.c_str());
    // This layer sets no Content-Type, and sends the body without waiting for a go-ahead.
    headers = curl_slist_append(headers, "Content-Type:");
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodyLength));
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body);
  }
  if (state.gSendCookie && !state.gCookieFromServer.empty())
    headers = curl_slist_append(headers, ("Cookie: " + state.gCookieFromServer).c_str());
  active.headers = headers;
  if (headers) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);

  if (curl_multi_add_handle(active.multi, easy) != CURLM_OK) return false;
  active.last_data = platform::MonotonicSeconds();
  SetPhase(Phase::kStarted, url.c_str());
  return true;
}

bool IsUnreservedOrReserved(unsigned char c) {
  if (std::isalnum(c)) return true;
  return std::strchr("-._~:/?#[]@!$&'()*+,;=", c) != nullptr && c != 0;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ContainsIgnoreCase(std::string_view text, std::string_view part) {
  return base::LowerAscii(text).find(base::LowerAscii(part)) != std::string::npos;
}

}  // namespace

void TransportState::reset() {
  TerminateDownload();
  *this = TransportState{};
  Current().user_agent_version.clear();
}

TransportState& Transport() {
  static TransportState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("net::Transport", [] { state.reset(); });
  return state;
}

void SetInactivityTimeoutForTesting(double seconds) { Transport().inactivityTimeout = seconds; }

void SetUserAgentVersion(const std::string& version) { Current().user_agent_version = version; }

bool NormalizeUrl(std::string& url) {
  if (!url.starts_with("http")) url = "http://" + url;
  if (url.size() < 12) return false;
  std::string decoded;
  decoded.reserve(url.size());
  for (std::size_t i = 0; i < url.size(); ++i) {
    int high = 0, low = 0;
    if (url[i] == '%' && i + 2 < url.size() && (high = HexValue(url[i + 1])) >= 0 &&
        (low = HexValue(url[i + 2])) >= 0) {
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      decoded += url[i];
    }
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(decoded.size());
  for (unsigned char c : decoded) {
    if (IsUnreservedOrReserved(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  url = std::move(encoded);
  return true;
}

long DownloadUpdate(long length, const char* bytes) {
  TransportState& state = Transport();
  if (length <= 0 || !bytes || !state.gDownloadFile) {
    if (state.gDownloadFile) std::fclose(state.gDownloadFile);
    state.gDownloadFile = nullptr;
    return 0;
  }
  if (std::fwrite(bytes, 1, static_cast<std::size_t>(length), state.gDownloadFile) !=
      static_cast<std::size_t>(length)) {
    base::WriteLogf(0, "ERROR: the download could not be written");
    state.gTransferFailed = true;
    return DownloadUpdate(0, nullptr);
  }
  state.gBytesTransferred += static_cast<std::uint32_t>(length);
  return length;
}

void TerminateDownload() {
  TransportState& state = Transport();
  Active& active = Current();
  ReleaseRequest();
  if (state.gDownloadFile) DownloadUpdate(0, nullptr);
  state.gDownloadBuff = nullptr;
  if (active.phase != Phase::kIdle)
    SetPhase(Phase::kEnded, state.gTransferFailed ? "failed" : "done");
  active.phase = Phase::kIdle;
}

void CFDownloadURL(const std::string& url) {
  TransportState& state = Transport();
  if (!url.empty()) {
    std::string address = url;
    if (!NormalizeUrl(address)) {
      base::WriteLogf(1, "Error: CFDownloadURL invalid url:  %s.", url.c_str());
      state.lastUrl.clear();
      Fail("refused address");
      return;
    }
    state.lastUrl = address;
  }
  if (state.lastUrl.empty() || !Start(state.lastUrl, false, nullptr, 0)) Fail("not started");
}

void CFURLPost(const std::string& url, const char* body, std::size_t bodyLength) {
  std::string address = url;
  if (!NormalizeUrl(address)) {
    base::WriteLogf(1, "Error: CFURLPost invalid url:  %s.", url.c_str());
    Fail("refused address");
    return;
  }
  if (!Start(address, true, body, bodyLength)) {
    base::WriteLogf(1, "Error: CFURLPost CFReadStreamOpen");
    Fail("not started");
  }
}

void PumpTransfer(int wait_ms) {
  Active& active = Current();
  if (active.easy && active.multi) {
    int running = 0;
    curl_multi_perform(active.multi, &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(active.multi, &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == active.easy) {
        Finish(message->data.result);
        break;
      }
    }
    // libcurl calls the progress function only while it works on the transfer; a silent peer
    // is caught here as well.
    if (active.easy && InactivityExpired()) {
      base::WriteLogf(1, "transfer incomplete: no data within the time-out");
      Fail("inactivity");
    }
    // Sleeps until the connection has something to do, or wait_ms.
    if (active.easy) curl_multi_poll(active.multi, nullptr, 0, wait_ms, nullptr);
  }
  platform::PumpEvents();
}

void WaitForTransfer() {
  TransportState& state = Transport();
  while (state.gDownloadFile || state.gDownloadBuff) {
    if (base::Run().quitFlag) {
      Fail("quit");
      break;
    }
    PumpTransfer();
  }
}

std::string URLRequest(const std::string& url, const char* body, std::size_t bodyLength) {
  TransportState& state = Transport();
  state.receiveBufferHANDLE.assign(kReceiveBufferSize, 0);
  state.gBytesToTransfer = static_cast<std::uint32_t>(kReceiveBufferSize);
  state.gBytesTransferred = 0;
  state.gDownloadBuff = state.receiveBufferHANDLE.data();
  CFURLPost(url, body, bodyLength);
  WaitForTransfer();
  if (state.gTransferFailed) return "";
  return std::string(state.receiveBufferHANDLE.data(), state.gBytesTransferred);
}

int CFDownloadFile(const std::string& localDir, std::string fileName, const std::string& urlBase) {
  TransportState& state = Transport();
  ui::StatusBoxState& box = ui::StatusBox();
  installer::CopyEngineState& progress = installer::CopyEngine();
  const bool overall = box.Status_Bar == 2;
  const bool display = !overall || progress.Status_Bar_Tot != 0;

  if (fileName.find("_zp") == std::string::npos && urlBase.find("elective_d") == std::string::npos)
    fileName = base::UpperAscii(fileName);
  std::string address = (urlBase + "/" + fileName).substr(0, 1023);
  base::WriteLogf(2, "CFDownloadFile: %s", address.c_str());
  ui::CurrentBackend().SetCursor(ui::Cursor::kBusy);
  auto done = [](int result) {
    ui::CurrentBackend().SetCursor(ui::Cursor::kArrow);
    return result;
  };

  const std::string target = localDir + fileName;
  const std::string temporary = target + ".tmp";
  std::uint64_t earlier = 0;
  bool has_earlier = !platform::FileSize(target, earlier) && earlier > 0;
  state.gBytesToTransfer =
      has_earlier ? static_cast<std::uint32_t>(std::min<std::uint64_t>(earlier, UINT32_MAX))
                  : kUnknownSize;
  state.gBytesTransferred = 0;

  state.gDownloadFile = std::fopen(temporary.c_str(), "wb");
  state.gDownloadInterrupted = 0;
  if (!state.gDownloadFile) {
    ui::Ask({.id = "MSG_WritePrivileges",
             .message = base::Localize("MSG_WritePrivileges") + "\r" + localDir,
             .title = "MSG_WritePrivileges",
             .buttons = {"MSG_Button_OK"}});
    return done(-1);
  }
  CFDownloadURL(address);

  const std::string text =
      base::StrRezf(0, "MSG_Message_Downloading", {installer::GetCompressedURLPath(30, fileName)});
  const std::string shown_address = installer::GetCompressedFilePath(48, address);
  double last_drawn = -1;
  while (state.gDownloadFile) {
    if (base::Run().quitFlag) break;
    if (ui::CurrentBackend().StopRequested()) {
      if (ui::StatusBoxAskToStop()) {
        state.gDownloadInterrupted = 1;
        break;
      }
      last_drawn = -1;
    }
    // The box and its bar are drawn a few times a second, not on every turn of the wait.
    if (display && (last_drawn < 0 || platform::MonotonicSeconds() - last_drawn >= 0.1)) {
      last_drawn = platform::MonotonicSeconds();
      progress.gBytesToTransfer = state.gBytesToTransfer;
      progress.gBytesTransferred = state.gBytesTransferred;
      // The maximum may have changed when the reply said how long it is.
      if (!overall) installer::setupProgressBar(0);
      ui::StatusBoxUpdate(text.c_str(), shown_address.c_str(), "MSG_Message_PressToStopDownload2");
      installer::updateProgressBar();
    }
    PumpTransfer();
  }
  // Left by the user's stop or a quit: the transfer ends here, incomplete.
  if (state.gDownloadFile) Fail(state.gDownloadInterrupted ? "stopped by the user" : "quit");
  if (overall) progress.Status_Bar_Cnt += state.gBytesTransferred;
  DownloadUpdate(0, nullptr);
  if (!overall) {
    installer::hideProgressBar();
    ui::StatusBoxDestroy();
  }

  if (state.gDownloadInterrupted) {
    platform::RemoveFile(temporary);
    state.gDownloadInterrupted = 0;
    ui::Ask(
        {.message = "MSG_Message_DownloadIncomplete", .buttons = {"MSG_Dialog_Button_Continue"}});
    return done(1);
  }

  std::uint64_t size = 0;
  if (state.gTransferFailed || platform::FileSize(temporary, size) || size == 0) {
    platform::RemoveFile(temporary);
    if (base::Run().quitFlag) return done(1);
    for (const char* quiet : {"VERSION", "LESSON", "ENGINE_LUC.ZIP", "CONNECTED"}) {
      if (fileName.find(quiet) != std::string::npos) return done(-1);
    }
    if (urlBase.find("/logos") == std::string::npos &&
        urlBase.find("/studypaths") == std::string::npos &&
        urlBase.find("extension_activities") == std::string::npos) {
      ui::Ask({.id = "MSG_Message_ErrorDownloading",
               .message = base::Localize("MSG_Message_ErrorDownloading") + "\r\r" + address,
               .buttons = {"MSG_Button_Quit"}});
    }
    return done(1);
  }

  std::string head = FirstBytes(temporary, 12);
  if (!head.empty() && head[0] != 0 && CallToServerWasBad(base::UpperAscii(head))) {
    state.showHTTPUrl = address.substr(0, 254);
    ShowHTTPErrors(temporary);
    platform::RemoveFile(temporary);
    return done(-1);
  }
  // One rename puts the complete copy in place of the earlier one.
  if (auto ec = platform::RenameFile(temporary, target)) {
    base::WriteLogf(0, "ERROR: cannot rename %s: %s", temporary.c_str(), ec.message().c_str());
    platform::RemoveFile(temporary);
    return done(1);
  }
  return done(0);
}

void GetDefaultProxySettings(std::string& use, std::string& port, std::string& host) {
  platform::ProxyPreference preference = platform::SystemProxyPreference();
  if (preference.use) {
    use = "y";
    host = preference.host;
    port = std::to_string(preference.port);
  } else {
    use = "n";
    host = "0.0.0.0";
    port = "0";
  }
}

void CheckProxySettings(const std::string& dir, bool writeDefaults) {
  TransportState& state = Transport();
  const std::string file = dir + "records.ini";
  std::string use = base::ProfileValue("Records", "useproxy", "", file);
  if (use.empty()) {
    std::string port, host;
    GetDefaultProxySettings(use, port, host);
    if (writeDefaults) {
      base::StoreProfileValue("Records", "useproxy", use, file);
      base::StoreProfileValue("Records", "proxyipaddress", host, file);
      base::StoreProfileValue("Records", "proxyipport", port, file);
    }
    state.gUseProxy = 0;
    if (use == "y" && !ContainsIgnoreCase(host, "auto")) {
      state.ProxyIPAddress = host;
      state.ProxyIPPort = std::atoi(port.c_str());
      state.gUseProxy = 1;
      base::WriteLogf(0,
                      "CheckProxySettings (defaults): gUseProxy=%d   proxyIPAddress=%s   "
                      "ProxyIPPort=%d",
                      state.gUseProxy, state.ProxyIPAddress.c_str(), state.ProxyIPPort);
    }
  } else if (base::ToLowerAscii(use[0]) == 'y') {
    state.gUseProxy = 1;
    std::string value = base::ProfileValue("Records", "proxyipaddress", "", file);
    state.ProxyIPAddress = value;
    value = base::ProfileValue("Records", "proxyipport", "", file);
    state.ProxyIPPort = std::atoi(value.c_str());
  } else {
    state.gUseProxy = 0;
  }
  base::WriteLogf(0, "CheckProxySettings: gUseProxy=%d   proxyIPAddress=%s   ProxyIPPort=%d",
                  state.gUseProxy, state.ProxyIPAddress.c_str(), state.ProxyIPPort);
}

std::string EffectiveProxy() {
  const TransportState& state = Transport();
  if (!state.gUseProxy || state.ProxyIPAddress.empty() || state.ProxyIPAddress == "0.0.0.0" ||
      ContainsIgnoreCase(state.ProxyIPAddress, "auto"))
    return "";
  if (state.ProxyIPPort <= 0) return state.ProxyIPAddress;
  return state.ProxyIPAddress + ":" + std::to_string(state.ProxyIPPort);
}

void ShowHTTPErrors(const std::string& path) {
  TransportState& state = Transport();
  if (base::Run().quitFlag || state.showHTTPError != 1) return;
  for (const char* quiet : {"/logos", "/studypaths", "extension_activities"}) {
    if (state.showHTTPUrl.find(quiet) != std::string::npos) return;
  }
  std::string head = base::UpperAscii(FirstBytes(path, 12));
  if (!CallToServerWasBad(head) && !head.starts_with("<?XML")) return;
  if (state.showHTTPUrl.find("http://") != std::string::npos) {
    platform::OpenUrl(state.showHTTPUrl);
    state.showHTTPUrl.clear();
    return;
  }
  std::string page = path + ".HTML";
  if (platform::RenameFile(path, page)) return;
  platform::OpenUrl(platform::FileUrl(page));
}

}  // namespace nuvel::net
