#include "base/strings.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "base/ascii.h"
#include "base/log.h"
#include "base/notifier.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/run_reset.h"

namespace nuvel::base {
namespace {

constexpr std::size_t kHeaderDigits = 6;
constexpr std::size_t kDefaultEngineIndexLength = 40000;
constexpr std::size_t kDefaultIndexLength = 30000;
constexpr std::size_t kMaxTextBytes = 512;
constexpr std::size_t kMaxKeyLength = 255;
constexpr int kMaxLanguagesPerKey = 30;
// Texts this long or longer do not fit the callers' 255-byte buffers: StrRez shows English.
constexpr std::size_t kLongTextBytes = 251;
// A filled-in text of this size or more is not used (the text stays unfilled).
constexpr std::size_t kMaxFilledBytes = 512;
constexpr int kRegionThai = 54;
constexpr std::string_view kTextEnd = "^^\r";

// One row of the interface-language table, in the order the language list shows them.
struct LanguageRow {
  const char* code;
  int region;
  const char* name_key;
  const char* english_name;
  std::vector<const char*> tags;  // preferred-language tags that select it
};

const std::vector<LanguageRow>& LanguageTable() {
  // "ms" is the usual tag of Malay on this system; "ml" is kept for sources that used it.
  // Hong Kong and Macau write traditional characters, like Taiwan.
  static const std::vector<LanguageRow> rows = {
      {"ARB", 16, "MSG_LanguageArabic", "Arabic", {"ar"}},
      {"ENG", 0, "MSG_LanguageEnglish", "English", {"en"}},
      {"FRA", 1, "MSG_LanguageFrench", "French", {"fr"}},
      {"GER", 3, "MSG_LanguageGerman", "German", {"de"}},
      {"VTN", 97, "MSG_LanguageVietnamese", "Vietnamese", {"vi"}},
      {"IND", 81, "MSG_LanguageIndonesian", "Indonesian", {"id"}},
      {"CZH", 56, "MSG_LanguageCzech", "Czech", {"cs"}},
      {"SVK", 57, "MSG_LanguageSlovakian", "Slovakian", {"sk"}},
      {"ROU", 39, "MSG_LanguageRomanian", "Romanian", {"ro"}},
      {"HUN", 43, "MSG_LanguageHungarian", "Hungarian", {"hu"}},
      {"ITL", 4, "MSG_LanguageItalian", "Italian", {"it"}},
      {"JPN", 14, "MSG_LanguageJapanese", "Japanese", {"ja"}},
      {"KOR", 51, "MSG_LanguageKorean", "Korean", {"ko"}},
      {"MAL", 72, "MSG_LanguageMalay", "Malay", {"ms", "ml"}},
      {"MAN",
       53,
       "MSG_LanguageMandarin_MAN",
       "Mandarin -- Traditional",
       {"zh-Hant", "zh_TW", "yue-Hant", "zh_HK", "zh_MO"}},
      {"MAS",
       52,
       "MSG_LanguageMandarin_MAS",
       "Mandarin -- Simplified",
       {"zh-Hans", "zh_CN", "zh", "yue-Hans"}},
      {"PRT", 10, "MSG_LanguagePortuguese", "Portuguese -- Portugal", {"pt-PT", "pt"}},
      {"BRA", 71, "MSG_LanguagePortuguese", "Portuguese -- Brazil", {"pt-BR", "pt_BR"}},
      {"SPN", 8, "MSG_LanguageSpanish", "Spanish", {"es"}},
      {"TAI", 54, "MSG_LanguageThai", "Thai", {"th"}},
      {"HIN", 33, "MSG_LanguageHindi", "Hindi", {"hi"}},
      {"PUN", 95, "MSG_LanguagePunjabi", "Punjabi", {"pa"}},
      {"RUS", 49, "MSG_LanguageRussian", "Russian", {"ru"}},
      {"KAZ", 48, "MSG_LanguageKazakh", "Kazakh", {"kk"}},
      {"UKR", 62, "MSG_LanguageUkrainian", "Ukrainian", {"uk"}},
      {"TUR", 24, "MSG_LanguageTurkish", "Turkish", {"tr"}},
  };
  return rows;
}

// Regions the code tables know besides the rows of the language list. Greek and Danish
// systems are recognised but have no interface of their own.
struct ExtraRegion {
  const char* code;
  int region;
  const char* tag;  // nullptr: not selected by a preferred-language tag
};
constexpr ExtraRegion kExtraRegions[] = {{"GRK", 20, "el"}, {"DAN", 9, "da"}, {"MON", 58, nullptr}};

const LanguageRow* RowOfCode(std::string_view code) {
  for (const LanguageRow& row : LanguageTable()) {
    if (EqualsIgnoreCase(row.code, code)) return &row;
  }
  return nullptr;
}

// "UKR", "GEN" and "KID" are languages of courses, not of the interface: they show English.
bool ShowsEnglish(std::string_view code) {
  return EqualsIgnoreCase(code, "UKR") || EqualsIgnoreCase(code, "GEN") ||
         EqualsIgnoreCase(code, "KID");
}

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Does the preferred-language entry begin with the tag? Case is ignored and "_" and "-" are
// the same separator ("zh_TW" and "zh-TW").
bool EntryMatchesTag(std::string_view entry, std::string_view tag) {
  if (entry.size() < tag.size()) return false;
  for (std::size_t i = 0; i < tag.size(); ++i) {
    char a = ToLowerAscii(entry[i]);
    char b = ToLowerAscii(tag[i]);
    if (a == '-') a = '_';
    if (b == '-') b = '_';
    if (a != b) return false;
  }
  return true;
}

// The region selected by one preferred-language entry, or -1. Longer tags are tried first so
// that "zh_TW" is not taken for plain "zh", nor "pt_BR" for "pt".
int RegionOfPreferredEntry(std::string_view entry) {
  for (const LanguageRow& row : LanguageTable()) {
    for (const char* tag : row.tags) {
      if (std::string_view(tag).size() > 2 && EntryMatchesTag(entry, tag)) return row.region;
    }
  }
  for (const LanguageRow& row : LanguageTable()) {
    for (const char* tag : row.tags) {
      if (std::string_view(tag).size() == 2 && EntryMatchesTag(entry, tag)) return row.region;
    }
  }
  for (const ExtraRegion& extra : kExtraRegions) {
    if (extra.tag && EntryMatchesTag(entry, extra.tag)) return extra.region;
  }
  return -1;
}

bool RequiredLanguageSet() {
  const StringsState& st = Strings();
  return st.lang_num_required != 0 || !st.lang_code_required.empty();
}

std::string RequiredLanguageCode() {
  const StringsState& st = Strings();
  return st.lang_code_required.empty() ? LanguageCodeOfRegion(st.lang_num_required)
                                       : st.lang_code_required;
}

// records.ini's place is known once the system folder (or a networked installation folder)
// has been found; before that there is no forced language to read.
bool RecordsIniKnown() {
  const PathState& paths = Paths();
  if (paths.isPathNetworked || paths.USB_Drive) return !paths.installDirectoryPath.empty();
  return !paths.localNuvelDirectory.empty();
}

// The index length stated by the 6-byte header (atol of those bytes), or the fixed default.
std::size_t IndexLengthOf(const std::string& data, const std::string& path) {
  std::string_view header(data.data(), std::min(data.size(), kHeaderDigits));
  std::size_t i = 0;
  while (i < header.size() && (header[i] == ' ' || header[i] == '\t')) ++i;
  std::size_t length = 0;
  for (; i < header.size() && header[i] >= '0' && header[i] <= '9'; ++i) {
    length = length * 10 + static_cast<std::size_t>(header[i] - '0');
  }
  if (length > 0) return length;
  return LowerAscii(path).find("engine.luc") != std::string::npos ? kDefaultEngineIndexLength
                                                                  : kDefaultIndexLength;
}

// The index as the reader sees it: everything before the byte at index length + 7, which
// marks its end, and never past the end of the file.
std::string_view IndexOf(const StrRezSlot& slot) {
  std::size_t end = std::min(slot.indexLength + 7, slot.LookUpTable.size());
  return std::string_view(slot.LookUpTable.data(), end);
}

bool IsTokenBoundary(char c) {
  return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\0';
}

// The position of the key token in the index, or npos. A hit counts only as a whole token:
// at the start of the index (or right after the header) or after a separator, and followed
// by a space, so that a key never matches inside a longer key that contains it.
std::size_t FindKeyToken(std::string_view index, std::string_view key) {
  std::size_t pos = 0;
  while ((pos = index.find(key, pos)) != std::string_view::npos) {
    std::size_t end = pos + key.size();
    bool starts = pos == 0 || pos == kHeaderDigits || IsTokenBoundary(index[pos - 1]);
    bool ends = end < index.size() && index[end] == ' ';
    if (starts && ends) return pos;
    ++pos;
  }
  return std::string_view::npos;
}

// The next space-terminated token from `pos` on; false at the end of the index or at an
// empty token (two spaces), which no well-formed index holds.
bool NextToken(std::string_view index, std::size_t& pos, std::string_view& token) {
  if (pos >= index.size()) return false;
  std::size_t end = index.find(' ', pos);
  if (end == std::string_view::npos) end = index.size();
  token = index.substr(pos, end - pos);
  pos = end + 1;
  return !token.empty();
}

std::optional<std::uint64_t> ParseNumber(std::string_view token, std::size_t max_digits) {
  if (!IsDigits(token) || token.size() > max_digits) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : token) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  return value;
}

// The text at `offset` in the data area, up to its "^^" CR end marker. Nothing when the
// offset lies outside the file or no end marker follows within the text size limit.
std::optional<std::string> ReadText(const StrRezSlot& slot, std::uint64_t offset) {
  const std::string& file = slot.LookUpTable;
  if (slot.nInitialOffset > file.size() || offset > file.size() - slot.nInitialOffset) {
    return std::nullopt;
  }
  std::size_t start = slot.nInitialOffset + static_cast<std::size_t>(offset);
  std::size_t limit = std::min(file.size(), start + kMaxTextBytes + kTextEnd.size());
  std::string_view window(file.data() + start, limit - start);
  std::size_t end = window.find(kTextEnd);
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(window.substr(0, end));
}

// "\n" (backslash, n) in a stored text is a line break, shown as CR.
std::string WithLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      out += '\r';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The key of a language's name from that language's "MSG_LanguageMyLanguage" text: "MSG_"
// and the text, without the 13th character ("Language_English" gives "MSG_LanguageEnglish").
std::string NameKeyFromMyLanguage(std::string_view text) {
  if (text.empty()) return "";
  std::string key = "MSG_" + std::string(text);
  if (key.size() > 12) key.erase(12, 1);
  return key;
}

// The English texts of data/messages/ENG.txt, compiled in by the build, sorted by upper-cased
// key: the last fall-back when no message file is open or the open one lacks a text.
struct CompiledText {
  std::string_view key;
  std::string_view text;
};
constexpr CompiledText kCompiledEnglish[] = {
#include "base/english_texts.inc"
};

// The compiled-in English text of `key` with its line breaks; nothing for an unknown key.
std::optional<std::string> CompiledEnglish(std::string_view key) {
  const std::string upper = UpperAscii(key);
  const auto* end = std::end(kCompiledEnglish);
  const auto* it = std::lower_bound(
      std::begin(kCompiledEnglish), end, upper,
      [](const CompiledText& entry, const std::string& wanted) { return entry.key < wanted; });
  if (it == end || it->key != upper) return std::nullopt;
  return WithLineBreaks(it->text);
}

StrRezSlot* OpenSlot(int slot) {
  if (slot < 0 || slot >= kStrRezSlots) return nullptr;
  StrRezSlot& s = Strings().slots[static_cast<std::size_t>(slot)];
  return s.fIsResourceInUse ? &s : nullptr;
}

}  // namespace

StringsState& Strings() {
  static StringsState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("base::Strings", [] { state.reset(); });
  return state;
}

std::string LanguageCodeOfRegion(int region) {
  // Danish (9), Thai (54), Vietnamese (97) and every region not listed are shown in English.
  static constexpr std::pair<int, const char*> kCodes[] = {
      {1, "FRA"},  {3, "GER"},  {4, "ITL"},  {8, "SPN"},  {10, "PRT"}, {14, "JPN"},
      {16, "ARB"}, {24, "TUR"}, {33, "HIN"}, {39, "ROU"}, {43, "HUN"}, {48, "KAZ"},
      {49, "RUS"}, {51, "KOR"}, {52, "MAS"}, {53, "MAN"}, {56, "CZH"}, {57, "SVK"},
      {58, "MON"}, {62, "UKR"}, {71, "BRA"}, {72, "MAL"}, {81, "IND"}, {95, "PUN"}};
  for (const auto& [number, code] : kCodes) {
    if (number == region) return code;
  }
  return "ENG";
}

int RegionOfLanguageCode(std::string_view code) {
  if (const LanguageRow* row = RowOfCode(code)) return row->region;
  for (const ExtraRegion& extra : kExtraRegions) {
    if (EqualsIgnoreCase(extra.code, code)) return extra.region;
  }
  return -1;
}

bool OpenMessageFile(int slot, const std::string& path) {
  if (slot < 0 || slot >= kStrRezSlots) {
    WriteLogf(0, "ERROR: OpenStrRez invalid slot %d: %s", slot, path.c_str());
    return false;
  }
  StringsState& st = Strings();
  StrRezSlot& s = st.slots[static_cast<std::size_t>(slot)];
  if (s.fIsResourceInUse) return true;

  std::string data;
  if (platform::ReadFile(path, data)) {
    WriteLogf(0, "ERROR: Couldn't open file: %s", path.c_str());
    return false;
  }
  s = StrRezSlot{};
  s.indexLength = IndexLengthOf(data, path);
  s.nInitialOffset = s.indexLength + 8;
  s.LookUpTable = std::move(data);
  s.szFileName = path;
  s.fIsResourceInUse = true;

  const bool interface_slot = slot == 0 || slot == 2;
  if (interface_slot) {
    s.LocalizationLanguage = GetOSLang();
    s.szOSLang = LanguageCodeOfRegion(s.LocalizationLanguage);
    WriteLogf(2, "OS Language: %d=%s", s.LocalizationLanguage, s.szOSLang.c_str());
  }
  if (slot == 0 && st.first_lang.empty()) {
    st.first_lang = s.szOSLang;
    st.first_lang_name = NameKeyFromMyLanguage(StrRez(0, "MSG_LanguageMyLanguage"));
  }
  if (interface_slot && RequiredLanguageSet()) {
    RequireSpecificOS();
    std::string required = RequiredLanguageCode();
    forceLanguage(slot, RegionOfLanguageCode(required), required.c_str());
  }
  WriteLogf(3, "OpenStrRez OPENED (2) %s", path.c_str());
  return true;
}

void CloseStrRez(int slot) {
  if (slot < 0 || slot >= kStrRezSlots) return;
  Strings().slots[static_cast<std::size_t>(slot)] = StrRezSlot{};
}

std::string StrRezByLanguage(int slot, std::string_view key, const char* language) {
  if (key.empty()) {
    WriteLogf(0, "StrRezByLanguage null ID_passed");
    return "";
  }
  if (key.starts_with("MSG_TEMP_") || key.starts_with("MSG_TMP1_")) {
    return std::string(key.substr(9));
  }
  std::string id(key);
  if (slot < 0 || slot >= kStrRezSlots) {
    WriteLogf(0, "StrRezByLanguage err LookUpTable NULL nResource=%d, ID: %s", slot, id.c_str());
  }
  const StrRezSlot* s = OpenSlot(slot);
  if (!s) return CompiledEnglish(key).value_or(id);
  if (s->LookUpTable.empty()) {
    WriteLogf(0, "StrRezByLanguage err LookUpTable NULL nResource=%d, ID: %s", slot, id.c_str());
    return "";
  }

  std::string wanted = UpperAscii(language && *language ? std::string_view(language)
                                                        : std::string_view(s->szOSLang));
  if (wanted == "MUL") wanted = "ENG";
  if (key.size() > kMaxKeyLength) {
    WriteLogf(0, "StrRezByLanguage err finding ID: %s", id.c_str());
    return "";
  }
  if (s->nInitialOffset > s->LookUpTable.size()) {
    WriteLogf(0, "StrRezByLanguage err finding Table Position ID: %s", id.c_str());
    return "";
  }

  std::string_view index = IndexOf(*s);
  std::string upper = UpperAscii(key);
  std::size_t pos = FindKeyToken(index, upper);
  if (pos == std::string_view::npos) {
    WriteLogf(0, "StrRezByLanguage err finding ID: %s", id.c_str());
    return "";
  }
  pos += upper.size() + 1;

  std::string_view token;
  std::optional<std::uint64_t> count;
  if (NextToken(index, pos, token)) count = ParseNumber(token, 9);
  if (!count) {
    WriteLogf(0, "StrRezByLanguage err finding nNumLocalizatins ID: %s", id.c_str());
    return "";
  }
  if (*count > kMaxLanguagesPerKey) wanted = "ENG";

  std::optional<std::uint64_t> wanted_offset;
  std::optional<std::uint64_t> english_offset;
  for (std::uint64_t i = 0; i < *count; ++i) {
    std::string_view code;
    std::string_view offset_token;
    std::optional<std::uint64_t> offset;
    if (NextToken(index, pos, code) && NextToken(index, pos, offset_token)) {
      offset = ParseNumber(offset_token, 19);
    }
    if (!offset) {
      WriteLogf(0, "StrRezByLanguage err finding unneeded lang ID: %s", id.c_str());
      break;
    }
    if (!wanted_offset && EqualsIgnoreCase(code, wanted)) wanted_offset = offset;
    if (!english_offset && EqualsIgnoreCase(code, "ENG")) english_offset = offset;
  }
  if (!wanted_offset && !english_offset) {
    WriteLogf(0, "StrRezByLanguage err finding OS/Def ID: %s", id.c_str());
    return "";
  }

  std::optional<std::string> text;
  if (wanted_offset) {
    text = ReadText(*s, *wanted_offset);
    if (!text) WriteLogf(0, "StrRezByLanguage err finding offset ID: %s", id.c_str());
  }
  // A missing, empty or unreadable translation shows the English text.
  if ((!text || text->empty()) && english_offset && english_offset != wanted_offset) {
    std::optional<std::string> english = ReadText(*s, *english_offset);
    if (!english) {
      WriteLogf(0, "StrRezByLanguage err finding offset ID: %s", id.c_str());
    } else if (!text || !english->empty()) {
      text = std::move(english);
    }
  }
  return text ? WithLineBreaks(*text) : "";
}

std::string StrRez(int slot, std::string_view key) {
  std::string text = StrRezByLanguage(slot, key, nullptr);
  const StrRezSlot* s = OpenSlot(slot);
  if (!s) return text;
  if (s->LocalizationLanguage == kRegionThai || s->szOSLang == "TAI" ||
      text.size() >= kLongTextBytes) {
    text = StrRezByLanguage(slot, key, "ENG");
  }
  // A message file without the text (an older file, a damaged one) shows the compiled-in one.
  if (text.empty()) text = CompiledEnglish(key).value_or("");
  return text;
}

std::string StrRezf(int slot, std::string_view key, const std::vector<std::string>& args) {
  std::string text = StrRez(slot, key);
  if (CountHats(text) == 0) return text;
  std::string filled;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (text[i] == '^' && next >= '0' && next <= '9') {
      // "^1".."^9" are the first nine arguments; "^0" is the tenth.
      std::size_t n = next == '0' ? 9 : static_cast<std::size_t>(next - '1');
      if (n < args.size()) filled += args[n];
      ++i;
    } else {
      filled += text[i];
    }
  }
  if (filled.size() >= kMaxFilledBytes) {
    WriteLogf(1, "StrRezf text too long when filled (%zu bytes) ID: %.*s", filled.size(),
              static_cast<int>(key.size()), key.data());
    return text;
  }
  return filled;
}

std::string PStrRez(int slot, std::string_view key) {
  std::string text = StrRez(slot, key);
  return text.empty() ? std::string(key) : text;
}

std::string Localize(std::string_view text) {
  if (!text.starts_with("MSG_")) return std::string(text);
  return PStrRez(0, text);
}

std::string LocalizeEnglish(std::string_view text) {
  if (!text.starts_with("MSG_")) return std::string(text);
  std::string english = StrRezByLanguage(0, text, "ENG");
  if (english.empty()) english = CompiledEnglish(text).value_or("");
  return english.empty() ? std::string(text) : english;
}

std::string CurrentLanguageCode() {
  const StrRezSlot* s = OpenSlot(0);
  return s ? s->szOSLang : "ENG";
}

int GetOSLangForced() {
  StringsState& st = Strings();
  if (st.dont_allow_GetOSLangForced || RequiredLanguageSet() || !RecordsIniKnown()) return -1;
  std::string value = ProfileValue("Records", "force_OS_lang", "", GetRecordsIniFilePath());
  if (value.empty()) return -1;
  std::string code = UpperAscii(value);
  int region = ShowsEnglish(code) ? kRegionEnglish : RegionOfLanguageCode(code);
  if (region < 0) {
    WriteLogf(1, "GetOSLangForced: unknown force_OS_lang=%s ignored", code.c_str());
    return -1;
  }
  forceLanguage(0, region, code.c_str());
  WriteLogf(2, "GetOSLangForced: force_OS_lang=%s (%d)", code.c_str(), region);
  return region;
}

int GetOSLang() {
  int forced = GetOSLangForced();
  if (forced >= 0) return forced;
  std::vector<std::string> preferred = platform::PreferredLanguages();
  // With no usable preference the system is taken to be English.
  if (preferred.empty()) preferred.push_back("en");
  for (std::size_t i = 0; i < preferred.size(); ++i) {
    WriteLogf(0, "GetOSLang (%d) status=%d, langStr=%s", static_cast<int>(i), 1,
              preferred[i].c_str());
    int region = RegionOfPreferredEntry(preferred[i]);
    if (region >= 0) return region;
  }
  return kRegionEnglish;
}

int forceLanguage(int slot, int region, const char* code) {
  if (slot < 0 || slot >= kStrRezSlots) return -1;
  StrRezSlot& s = Strings().slots[static_cast<std::size_t>(slot)];
  int previous = s.LocalizationLanguage;
  if (!s.fIsResourceInUse) return previous;
  if (code && *code) {
    std::string upper = UpperAscii(code);
    s.szOSLang = ShowsEnglish(upper) ? "ENG" : upper;
    int known = RegionOfLanguageCode(s.szOSLang);
    s.LocalizationLanguage = known >= 0 ? known : kRegionEnglish;
  } else if (region > 0) {
    s.szOSLang = region == 62 ? "ENG" : LanguageCodeOfRegion(region);
    s.LocalizationLanguage = region;
  } else {
    s.szOSLang = "ENG";
    s.LocalizationLanguage = kRegionEnglish;
  }
  WriteLogf(2, "forceLanguage slot=%d: %d=%s (was %d)", slot, s.LocalizationLanguage,
            s.szOSLang.c_str(), previous);
  return previous;
}

void SetRequiredLanguage(std::string_view code) {
  StringsState& st = Strings();
  st.lang_code_required = UpperAscii(code);
  int region = RegionOfLanguageCode(st.lang_code_required);
  st.lang_num_required = region > 0 ? region : 0;
}

void RequireSpecificOS() {
  StringsState& st = Strings();
  if (st.requireShown || !RequiredLanguageSet()) return;
  std::string required = RequiredLanguageCode();
  if (EqualsIgnoreCase(required, CurrentLanguageCode())) return;
  st.requireShown = true;

  // The language's own name, from the message file in that language.
  std::string name;
  if (StrRezSlot* s = OpenSlot(0)) {
    const std::string saved_code = s->szOSLang;
    const int saved_region = s->LocalizationLanguage;
    forceLanguage(0, RegionOfLanguageCode(required), required.c_str());
    std::string name_key = NameKeyFromMyLanguage(StrRez(0, "MSG_LanguageMyLanguage"));
    // A language without texts of its own answers with English's entry: use the table's key.
    const LanguageRow* row = RowOfCode(required);
    if (row && name_key != row->name_key) name_key = row->name_key;
    if (!name_key.empty()) name = StrRez(0, name_key);
    s->szOSLang = saved_code;
    s->LocalizationLanguage = saved_region;
  }
  if (name.empty()) {
    const LanguageRow* row = RowOfCode(required);
    name = row ? row->english_name : required;
  }
  WriteLogf(0, "RequireSpecificOS: the courseware requires %s (%s)", required.c_str(),
            name.c_str());
  std::string message =
      StrRez(0, "MSG_InvalidOS") + "\r\r" + StrRezf(0, "MSG_SpecificOSRequired", {name});
  Tell(message, "MSG_Button_OK", "MSG_InvalidOS");
  SetQuitFlag("RequireSpecificOS", __LINE__, "NORM");
}

std::vector<std::string> Fill_ForceOSLang_List(int& current_row) {
  static const std::vector<std::string_view> kWestern = {"ENG", "ITL", "FRA", "SPN", "GER", "GRK",
                                                         "BRA", "PRT", "TUR", "MAL", "DAN"};
  static const std::vector<std::string_view> kEastern = {"JPN", "MAN", "MAS", "KOR", "TAI", "ARB"};
  auto in = [](const std::vector<std::string_view>& set, std::string_view code) {
    return std::find(set.begin(), set.end(), code) != set.end();
  };
  const std::string& first = Strings().first_lang;
  const std::string current = CurrentLanguageCode();
  std::vector<std::string> items;
  current_row = -1;
  for (const LanguageRow& row : LanguageTable()) {
    std::string_view code = row.code;
    if (code == "VTN") continue;
    // Systems of one script group are offered only the interfaces they can display.
    if (in(kWestern, first) && in(kEastern, code)) continue;
    if (in(kEastern, first) && in(kEastern, code) && code != first) continue;
    if (code == current) current_row = static_cast<int>(items.size());
    if (code == "ENG") {
      items.emplace_back(row.english_name);
      continue;
    }
    // Without a text (or without a message file) the English name stands in.
    std::string name = StrRez(0, row.name_key);
    if (name.empty() || name == row.name_key) name = row.english_name;
    items.push_back(name + " (" + row.english_name + ")");
  }
  return items;
}

void Set_ForceOSLang(const std::string& item_text) {
  const LanguageRow* chosen = nullptr;
  // The English name closes the item ("Deutsch (German)") or is the item itself; failing
  // that, any row whose English name occurs in the item.
  for (const LanguageRow& row : LanguageTable()) {
    std::string english = row.english_name;
    std::string closing = "(" + english + ")";
    if (item_text == english || item_text.ends_with(closing)) {
      chosen = &row;
      break;
    }
  }
  if (!chosen) {
    for (const LanguageRow& row : LanguageTable()) {
      if (item_text.find(row.english_name) != std::string::npos) {
        chosen = &row;
        break;
      }
    }
  }
  if (!chosen) {
    WriteLogf(1, "Set_ForceOSLang: no language in '%s'", item_text.c_str());
    return;
  }
  if (CurrentLanguageCode() == chosen->code) return;
  forceLanguage(0, chosen->region, chosen->code);
  if (!RecordsIniKnown()) {
    WriteLogf(1, "Set_ForceOSLang: %s applied; no records.ini to store it in", chosen->code);
    return;
  }
  std::string value = chosen->code;
  StoreProfileValue("Records", "force_OS_lang", value, GetRecordsIniFilePath());
  WriteLogf(1, "Set_ForceOSLang: force_OS_lang=%s", chosen->code);
}

int CountHats(std::string_view text) {
  int count = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '^' && text[i + 1] >= '0' && text[i + 1] <= '9') ++count;
  }
  return count;
}

bool NextToken(std::string_view text, char delimiter, std::size_t& position, std::string& token) {
  token.clear();
  if (position >= text.size()) {
    position = text.size();
    return false;
  }
  std::size_t end = text.find(delimiter, position);
  if (end == std::string_view::npos) {
    token = std::string(text.substr(position));
    position = text.size();
    return false;
  }
  token = std::string(text.substr(position, end - position));
  position = end + 1;
  return true;
}

// ---- Described interface -------------------------------------------------------------------

int OpenStrRez(int slot, const std::string& path) { return OpenMessageFile(slot, path) ? 1 : 0; }

int Tokenizer(std::string_view text, char delimiter, std::size_t& state, std::string& token,
              std::size_t size) {
  bool at_delimiter = NextToken(text, delimiter, state, token);
  token.resize(std::min(token.size(), size > 0 ? size - 1 : 0));
  return at_delimiter ? 1 : 0;
}

}  // namespace nuvel::base
