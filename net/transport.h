// The HTTP transport: every exchange with the download server and the Records server goes
// through here. Two forms: a GET whose body is written to a file (CFDownloadFile, which starts
// CFDownloadURL), and a GET or POST whose body is collected in memory (CFURLPost). Transfers run
// on libcurl (a multi handle) but are synchronous for the caller: it starts a transfer and then
// calls PumpTransfer() (or WaitForTransfer()) until the end marker is cleared: gDownloadFile
// closed in file mode, gDownloadBuff none in memory mode. Each turn runs libcurl briefly, then
// one turn of the event loop, so that the status box's Stop keeps working and a quit signal is
// served. One transfer is active at a time; its state lives in TransportState.
//
// A transfer follows redirects, reads in 16 KB chunks (256 KB for a file download), and ends
// after kMaxTimeoutSeconds without receiving a byte (measured from the last byte, not a limit
// on the whole transfer).
// Requests carry `Cookie` when gSendCookie is set; the last `Set-Cookie` received is kept; the
// `Date` of a reply is handed to UpdateRSTime.
//
// Decisions of this implementation:
//  - A transfer ended by the inactivity time-out, a connection or protocol error, a refused
//    request, a body shorter than its Content-Length, the user's Stop or a quit is a failure
//    (gTransferFailed). A file download then removes its ".tmp" file and never replaces a
//    complete earlier copy; a memory request delivers no bytes.
//  - A request that cannot be started (an address refused by URL normalisation, a handle that
//    cannot be made) ends its transfer at once, so that no wait is left without an end.
//  - The proxy is set on every request explicitly (none when records.ini says so), so that no
//    environment variable overrides records.ini. The system default of a records.ini without
//    `useproxy` is the session's proxy environment (platform::SystemProxyPreference).
//  - HTTPS peers are verified against the system's certificate store; the only other trust is
//    the test seam NUVEL_TEST_CA_FILE (platform::TestCaFile). Verification cannot be turned off.
//  - A memory reply grows its buffer once, from its Content-Length, to at most 64 MB; beyond
//    that (or without a Content-Length) chunks that do not fit are dropped.
//  - The inactivity limit can be shortened only by tests (SetInactivityTimeoutForTesting).
//  - There is no streaming-proxy preference to reconcile on this system; CheckProxySettings is
//    the whole proxy set-up.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace nuvel::net {

inline constexpr int kMaxTimeoutSeconds = 60;              // MAX_TIMEOUT
inline constexpr std::uint32_t kUnknownSize = 999999;      // progress maximum when none is known
inline constexpr std::size_t kReceiveBufferSize = 393210;  // receiveBufferHANDLE's first size
inline constexpr std::size_t kChunkSize = 16384;
inline constexpr std::size_t kFileChunkSize = 256 * 1024;  // file downloads: fewer, larger writes

struct TransportState {
  std::FILE* gDownloadFile = nullptr;  // open while a file transfer runs
  char* gDownloadBuff = nullptr;       // write position while a memory transfer runs
  std::vector<char> receiveBufferHANDLE;
  std::uint32_t gBytesToTransfer = 0;
  std::uint32_t gBytesTransferred = 0;
  bool gTransferFailed = false;   // the last transfer did not end complete
  std::string gCookieFromServer;  // last Set-Cookie value (at most 1,023 characters)
  int gSendCookie = 0;
  int gDownloadInterrupted = 0;
  int gUseProxy = 0;
  std::string ProxyIPAddress = "0.0.0.0";
  int ProxyIPPort = 0;
  std::string showHTTPUrl;  // address of the last request that gave an error page
  int showHTTPError = 1;    // error pages may be shown in the browser
  std::string lastUrl;      // the normalised address of the last file download
  double inactivityTimeout = kMaxTimeoutSeconds;

  void reset();
};

TransportState& Transport();

/// Test seam: ends transfers after `seconds` without data instead of kMaxTimeoutSeconds.
void SetInactivityTimeoutForTesting(double seconds);

/// URL normalisation: "http://" is put in front of an address that does not begin with
/// "http"; an address then shorter than 12 characters is refused (false). Every percent escape
/// is decoded and the result encoded again as UTF-8, so that unsafe characters become escapes
/// and escapes already present are not doubled. Reserved characters (":/?#[]@!$&'()*+,;=")
/// and "%" that does not start an escape are kept as they are.
bool NormalizeUrl(std::string& url);

/// Starts a file-mode GET into the open gDownloadFile. An empty `url` repeats the previous
/// address. A request that cannot be started ends the transfer at once (file closed, failed).
void CFDownloadURL(const std::string& url);

/// Starts a memory-mode request into receiveBufferHANDLE at gDownloadBuff: POST of `body` when
/// it is given, else GET. The POST carries User-Agent "(Nuvel Linux Launcher <version>)" with
/// the version of SetUserAgentVersion. A request that cannot be started ends at once with no bytes.
void CFURLPost(const std::string& url, const char* body, std::size_t bodyLength);

/// Writes a received chunk to gDownloadFile and returns its length; with length <= 0 or no
/// open file, closes the file, sets gDownloadFile to none and returns 0.
long DownloadUpdate(long length, const char* bytes);

/// Ends the active transfer: the file is closed (file mode) or gDownloadBuff cleared (memory
/// mode), and the request released. Safe to call when nothing is active.
void TerminateDownload();

/// One turn of the wait: runs the active transfer for at most `wait_ms` milliseconds (ending
/// it on completion, error or inactivity), then one turn of the event loop.
void PumpTransfer(int wait_ms = 20);

/// Runs PumpTransfer until the active transfer has ended, or the run is quitting (then the
/// transfer ends as a failure).
void WaitForTransfer();

/// A whole memory request: receiveBufferHANDLE is made kReceiveBufferSize bytes, the request
/// started and waited for. Returns the reply's bytes ("" on any failure or status other than
/// 200; a reply larger than the buffer is cut, as the buffer grows only once).
std::string URLRequest(const std::string& url, const char* body, std::size_t bodyLength);

/// Downloads `urlBase`/`fileName` into `localDir` + `fileName` (localDir ends with "/").
/// The file name is upper-cased unless it contains "_zp" or urlBase contains "elective_d".
/// The body goes to "<name>.tmp", which replaces the file only when the transfer ended
/// complete with status 200. Shows the download status box and asks about Stop.
/// 0 success; 1 stopped by the user (MSG_Message_DownloadIncomplete shown), failed
/// (MSG_Message_ErrorDownloading shown, except for addresses under "/logos", "/studypaths" and
/// "extension_activities"), or ended by a quit (nothing shown); -1 the ".tmp" file cannot be
/// written (MSG_WritePrivileges shown), the reply was an error page (handed to ShowHTTPErrors),
/// or a quiet download (a name containing VERSION, LESSON, ENGINE_LUC.ZIP or CONNECTED) failed.
int CFDownloadFile(const std::string& localDir, std::string fileName, const std::string& urlBase);

/// Loads gUseProxy, ProxyIPAddress and ProxyIPPort from "<dir>records.ini". When `useproxy` is
/// absent, the system default is taken and, with `writeDefaults`, written back (useproxy,
/// proxyipaddress, proxyipport).
void CheckProxySettings(const std::string& dir, bool writeDefaults = true);

/// The system's proxy preference: "y"/"n", the port and the host ("n", "0", "0.0.0.0" when
/// there is none).
void GetDefaultProxySettings(std::string& use, std::string& port, std::string& host);

/// The proxy a request goes through: "host:port", or "" for a direct connection (gUseProxy 0,
/// or a host "0.0.0.0" or containing "auto").
std::string EffectiveProxy();

/// The version text that POST requests name in their User-Agent (the Setup's version).
void SetUserAgentVersion(const std::string& version);

/// The error page display: opens showHTTPUrl (or the page itself, renamed "<path>.HTML") in the
/// browser when the file at `path` is an error page and error pages may be shown.
void ShowHTTPErrors(const std::string& path);

}  // namespace nuvel::net
