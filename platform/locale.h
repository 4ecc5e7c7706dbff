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
