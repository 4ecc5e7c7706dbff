// The user's language preferences, as the desktop session states them.
#pragma once

#include <string>
#include <vector>

namespace nuvel::platform {

/// The user's preferred languages, most preferred first: the entries of LANGUAGE (a
/// colon-separated list), then the locale of the first of LC_ALL, LC_MESSAGES and LANG that is
/// set and not empty. Each entry is a tag such as "de_DE", "zh_TW", "pt_BR" or "de": the
/// encoding (".UTF-8") and modifier ("@euro") parts are removed, and the "C" and "POSIX"
/// locales, which name no language, are left out. Empty when nothing names a language.
std::vector<std::string> PreferredLanguages();

}  // namespace nuvel::platform

namespace nuvel::platform {

/// The session's HTTP proxy preference, as command-line tools read it: the first of
/// https_proxy, HTTPS_PROXY, http_proxy, HTTP_PROXY that is set and not empty, in the form
/// "[scheme://][user:password@]host[:port][/]". `use` is false (host "0.0.0.0", port 0) when
/// none is set, when its host is empty, or when no_proxy (NO_PROXY) is "*" (every host
/// bypasses the proxy). Other no_proxy entries are not taken over: the proxy that records.ini
/// keeps applies to every request.
struct ProxyPreference {
  bool use = false;
  std::string host = "0.0.0.0";
  int port = 0;
};
ProxyPreference SystemProxyPreference();

/// Test seam for HTTPS: a PEM file of certificate authorities named by NUVEL_TEST_CA_FILE,
/// trusted instead of the system's store (so that tests can use a throw-away authority).
/// "" when the variable is not set: the system's store alone is trusted.
std::string TestCaFile();

/// Test seam for HTTPS: the port named by NUVEL_TEST_HTTPS_PORT, used instead of 443 by the
/// Records-server requests that go over HTTPS (a test cannot listen on 443). 0 when the variable
/// is not set or is not a port number from 1 to 65535: the standard port is used.
int TestHttpsPort();

/// The user's e-mail address as the session states it: EMAIL, the variable mail programs read
/// for the sender. "" when it is not set. The session names no outgoing mail server.
std::string SystemEmailAddress();

}  // namespace nuvel::platform
