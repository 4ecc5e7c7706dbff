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
