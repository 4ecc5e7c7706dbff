#include "platform/locale.h"

#include <cstdlib>
#include <string_view>

namespace nuvel::platform {
namespace {

// "de_DE.UTF-8@euro" -> "de_DE"; "" for the locales that name no language.
std::string LanguageTag(std::string_view locale) {
  std::size_t end = locale.find_first_of(".@");
  std::string tag(locale.substr(0, end));
  if (tag == "C" || tag == "POSIX") return "";
  return tag;
}

void AddTag(std::vector<std::string>& tags, std::string_view locale) {
  std::string tag = LanguageTag(locale);
  if (!tag.empty()) tags.push_back(std::move(tag));
}

}  // namespace

std::vector<std::string> PreferredLanguages() {
  std::vector<std::string> tags;
  if (const char* list = std::getenv("LANGUAGE")) {
    std::string_view rest(list);
    while (!rest.empty()) {
      std::size_t colon = rest.find(':');
      AddTag(tags, rest.substr(0, colon));
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      AddTag(tags, value);
      break;
    }
  }
  return tags;
}

}  // namespace nuvel::platform

namespace nuvel::platform {
namespace {

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

ProxyPreference SystemProxyPreference() {
  ProxyPreference preference;
  std::string no_proxy = EnvironmentValue("no_proxy");
  if (no_proxy.empty()) no_proxy = EnvironmentValue("NO_PROXY");
  if (no_proxy == "*") return preference;
  std::string value;
  for (const char* name : {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY"}) {
    value = EnvironmentValue(name);
    if (!value.empty()) break;
  }
  std::string_view rest(value);
  if (std::size_t scheme = rest.find("://"); scheme != std::string_view::npos)
    rest.remove_prefix(scheme + 3);
  rest = rest.substr(0, rest.find('/'));
  if (std::size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
  std::size_t colon = rest.rfind(':');
  std::string_view host = rest.substr(0, colon);
  if (host.empty()) return preference;
  preference.use = true;
  preference.host = std::string(host);
  preference.port = 0;
  if (colon != std::string_view::npos)
    preference.port = std::atoi(std::string(rest.substr(colon + 1)).c_str());
  return preference;
}

std::string TestCaFile() { return EnvironmentValue("NUVEL_TEST_CA_FILE"); }

int TestHttpsPort() {
  std::string value = EnvironmentValue("NUVEL_TEST_HTTPS_PORT");
  if (value.empty() || value.size() > 5 ||
      value.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  int port = std::atoi(value.c_str());
  return port >= 1 && port <= 65535 ? port : 0;
}

std::string SystemEmailAddress() { return EnvironmentValue("EMAIL"); }

}  // namespace nuvel::platform
