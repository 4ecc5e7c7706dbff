#include "text/encodings.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

#include "text/line_tables.h"
#include "text/utf8.h"

namespace nuvel::text {
namespace {

constexpr std::array<LanguageRow, kLanguageRows> kLanguages = {{
    {"ENG", 0, MacEncoding::kRoman, "English"},
    {"FRA", 1, MacEncoding::kRoman, "French"},
    {"JPN", 2, MacEncoding::kJapanese, "Japanese"},
    {"SPN", 3, MacEncoding::kRoman, "Spanish"},
    {"KOR", 4, MacEncoding::kKorean, "Korean"},
    {"PRT", 5, MacEncoding::kRoman, "Portuguese"},
    {"BRA", 6, MacEncoding::kRoman, "Brazilian Portuguese"},
    {"ITL", 7, MacEncoding::kRoman, "Italian"},
    {"GER", 8, MacEncoding::kRoman, "German"},
    {"TAI", 9, MacEncoding::kThai, "Thai"},
    {"MAN", 10, MacEncoding::kChineseTraditional, "Chinese (Traditional)"},
    {"MAS", 11, MacEncoding::kChineseSimplified, "Chinese (Simplified)"},
    {"TUR", 12, MacEncoding::kTurkish, "Turkish"},
    {"ARB", 13, MacEncoding::kArabic, "Arabic"},
    {"MAL", 14, MacEncoding::kRoman, "Malay"},
    {"IND", 15, MacEncoding::kRoman, "Indonesian"},
    {"CZH", 16, MacEncoding::kCentralEuropeanRoman, "Czech"},
    {"SVK", 17, MacEncoding::kCentralEuropeanRoman, "Slovak"},
    {"ROU", 18, MacEncoding::kCentralEuropeanRoman, "Romanian"},
    {"HUN", 19, MacEncoding::kCentralEuropeanRoman, "Hungarian"},
    {"HIN", 21, MacEncoding::kCentralEuropeanRoman, "Hindi"},
    {"PUN", 22, MacEncoding::kCentralEuropeanRoman, "Punjabi"},
    {"RUS", 23, MacEncoding::kCentralEuropeanRoman, "Russian"},
    {"KAZ", 25, MacEncoding::kCentralEuropeanRoman, "Kazakh"},
    {"UKR", 24, MacEncoding::kCentralEuropeanRoman, "Ukrainian"},
    {"GRK", 20, MacEncoding::kGreek, "Greek"},
}};

// The longest UTF-8 text CodePageFromUTF8StringByCodePage converts, and the work buffers of
// the in-place conversions.
constexpr int kUtf8WorkBytes = 2048;
constexpr int kToUtf8WorkBytes = 1024;
constexpr int kFromUtf8WorkBytes = 255;

EncodingsLogSink& LogSinkSlot() {
  static EncodingsLogSink sink = nullptr;
  return sink;
}

void Logf(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Logf(int level, const char* format, ...) {
  const EncodingsLogSink sink = LogSinkSlot();
  if (sink == nullptr) return;
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  sink(level, line);
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool OneOf(std::string_view code, std::initializer_list<std::string_view> codes) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// Stores `result` in `out` when it fits a buffer of `out_size` bytes; the bytes written, or 0.
int Store(std::string& out, int out_size, const std::string& result) {
  if (out_size < 1 || result.size() > static_cast<std::size_t>(out_size - 1)) {
    out.clear();
    return 0;
  }
  out = result;
  return static_cast<int>(out.size());
}

void ConvertThrough(std::string& text, const ByteTable& table) {
  for (char& c : text) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
}

// Whether line conversion applies to records of the login group's country language.
bool FamilyHoldsLanguage(int family, std::string_view language) {
  switch (family) {
    case 2:
      return OneOf(language, {"GER", "ITL", "SPN", "PRT", "BRA", "FRA"});
    case 3:
      return language == "TUR";
    case 4:
      return language == "ARB";
    case 6:
      return OneOf(language, {"CZH", "SVK", "ROU", "HUN", "UKR"});
    case 7:
      return language == "HIN";
    case 8:
      return language == "PUN";
    case 9:
      return OneOf(language, {"RUS", "KAZ"});
    default:
      return false;
  }
}

}  // namespace

const std::array<LanguageRow, kLanguageRows>& LanguageTable() { return kLanguages; }

EncodingsState& Encodings() {
  static EncodingsState state;
  return state;
}

void SetEncodingsLogSink(EncodingsLogSink sink) { LogSinkSlot() = sink; }

std::optional<LanguageRow> FindLanguage(std::string_view code) {
  if (code.empty() || code.size() > 3) return std::nullopt;
  const std::string upper = Upper(code);
  for (const LanguageRow& row : kLanguages) {
    if (row.code == upper) return row;
  }
  return std::nullopt;
}

LanguageRow LanguageOrDefault(std::string_view code, const char* caller) {
  if (const std::optional<LanguageRow> row = FindLanguage(code)) return *row;
  Logf(1, "%s: language ID String %.*s was not recognized. Using the default.\n", caller,
       static_cast<int>(code.size()), code.data());
  return kLanguages[0];
}

std::optional<std::string> TextToUtf8(std::string_view text, MacEncoding encoding) {
  if (IsAValidUTF8UnicodeString(text)) return std::string(text);
  if (!IsChineseOrKorean(encoding)) return std::nullopt;
  return EncodedToUtf8(text, encoding);
}

std::optional<std::string> EncodedToUtf8(std::string_view text, MacEncoding encoding) {
  const std::optional<std::u16string> unicode = DecodeText(CharsetOf(encoding), text);
  if (!unicode) return std::nullopt;
  return EncodeText("UTF-8", *unicode);
}

std::optional<std::string> Utf8ToEncoded(std::string_view utf8, MacEncoding encoding) {
  const std::optional<std::u16string> unicode = DecodeText("UTF-8", utf8);
  if (!unicode) return std::nullopt;
  return EncodeText(CharsetOf(encoding), *unicode);
}

int FamilyForLanguage(std::string_view language) {
  const std::string code = Upper(language);
  if (OneOf(code, {"CZH", "SVK", "ROU", "HUN", "UKR"})) return 6;
  if (code == "GRK") return 5;
  if (code == "ARB") return 4;
  if (code == "TUR") return 3;
  if (OneOf(code, {"GER", "JPN", "ITL", "SPN", "PRT", "BRA", "FRA"})) return 2;
  if (code == "HIN") return 7;
  if (code == "PUN") return 8;
  if (OneOf(code, {"RUS", "KAZ"})) return 9;
  return 0;
}

void ConvertLineWindowsToMac(std::string& text) {
  const int family = Encodings().mac_convert_lang;
  if (HasLineTables(family)) ConvertThrough(text, WindowsToMacTable(family));
}

void ConvertLineMacToWindows(std::string& text) {
  const int family = Encodings().mac_convert_lang;
  if (HasLineTables(family)) ConvertThrough(text, MacToWindowsTable(family));
}

// ---- Described interface ---------------------------------------------------------------------

int GetLanguageID(std::string_view code) {
  const std::optional<LanguageRow> row = FindLanguage(code);
  return row ? row->id : -1;
}

MacEncoding CodePageNumberFromLanguageIdString(std::string_view code) {
  return LanguageOrDefault(code, "CodePageNumberFromLanguageIdString").encoding;
}

int UTF8FromCodePageString(std::string& out, int out_size, std::string_view code,
                           std::string_view text, int* length) {
  static constexpr const char* kName = "UTF8FromCodePageString";
  const LanguageRow row = LanguageOrDefault(code, kName);
  out.clear();
  const std::optional<std::string> utf8 = TextToUtf8(text, row.encoding);
  if (!utf8) {
    Logf(1, "%s: CFStringCreateWithCString(mac encoding for %s) failed.\n", kName,
         std::string(row.code).c_str());
    return 0;
  }
  const int written = Store(out, out_size, *utf8);
  if (written == 0 && !utf8->empty()) {
    Logf(1, "%s: CFStringGetCString(kCFStringEncodingUTF8) failed.\n", kName);
    return 0;
  }
  if (length != nullptr) *length = CountUTF8Characters(out);
  return written;
}

int CodePageFromUTF8StringByCodePage(std::string& out, int out_size, MacEncoding encoding,
                                     std::string_view text, int* length) {
  out.clear();
  const std::string_view cut =
      text.substr(0, GetUTF8Truncation(text, std::min(out_size, kUtf8WorkBytes)));
  const std::optional<std::string> encoded = Utf8ToEncoded(cut, encoding);
  if (!encoded) return 0;
  const int written = Store(out, out_size, *encoded);
  if (length != nullptr) *length = written > 0 ? CountUTF8Characters(cut) : 0;
  return written;
}

int CodePageFromUTF8String(std::string& out, int out_size, std::string_view code,
                           std::string_view text, int* length) {
  const LanguageRow row = LanguageOrDefault(code, "CodePageFromUTF8String");
  return CodePageFromUTF8StringByCodePage(out, out_size, row.encoding, text, length);
}

int Convert_String_From_CodePage_To_UTF8(std::string& text, int size, std::string_view code) {
  std::string work;
  if (UTF8FromCodePageString(work, kToUtf8WorkBytes, code, text) == 0 || size < 1) return 0;
  work.resize(GetUTF8Truncation(work, size));
  text = work;
  return static_cast<int>(text.size());
}

int Convert_String_From_UTF8_To_CodePage(std::string& text, int size, std::string_view code) {
  std::string work;
  if (CodePageFromUTF8String(work, kFromUtf8WorkBytes, code, text) == 0 || size < 1) return 0;
  work.resize(std::min(work.size(), static_cast<std::size_t>(size - 1)));
  text = work;
  return static_cast<int>(text.size());
}

namespace {

// The row of language `code`; none, logged after `prefix`, when the code is unknown.
std::optional<LanguageRow> LanguageOrLog(std::string_view code, const char* prefix) {
  std::optional<LanguageRow> row = FindLanguage(code);
  if (!row) {
    Logf(1, "%s unrecognized language string %.*s.\n", prefix, static_cast<int>(code.size()),
         code.data());
  }
  return row;
}

// Store() that logs, after `prefix`, a non-empty text that did not fit.
int StoreOrLog(std::string& out, int out_size, const std::string& text, const char* prefix) {
  const int written = Store(out, out_size, text);
  if (written == 0 && !text.empty()) Logf(1, "%s the output buffer is too small.\n", prefix);
  return written;
}

}  // namespace

int UTF8FromCodePageStringDetectError(std::string& out, int out_size, std::string_view code,
                                      std::string_view text) {
  static constexpr const char* kPrefix = "UTF8FromCodePageStringDetecterr:";
  out.clear();
  const std::optional<LanguageRow> row = LanguageOrLog(code, kPrefix);
  if (!row) return 0;
  const std::optional<std::string> utf8 = EncodedToUtf8(text, row->encoding);
  if (!utf8) {
    Logf(1, "%s conversion err.\n", kPrefix);
    return 0;
  }
  if (Utf8ToEncoded(*utf8, row->encoding) != std::string(text)) {
    Logf(1, "%s back-conversion err.\n", kPrefix);
    return 0;
  }
  return StoreOrLog(out, out_size, *utf8, kPrefix);
}

int CodePageFromUTF8StringDetectError(std::string& out, int out_size, std::string_view code,
                                      std::string_view text) {
  static constexpr const char* kPrefix = "CodePageFromUTF8StringDetectErr:";
  out.clear();
  const std::optional<LanguageRow> row = LanguageOrLog(code, kPrefix);
  if (!row) return 0;
  std::string_view utf8 = text;
  if (out_size > 0 && text.size() > static_cast<std::size_t>(out_size - 1)) {
    const std::size_t cut = GetUTF8Truncation(text, out_size);
    Logf(1, "%s UTF-8 string length %d > buffer %d - truncating at %d.\n", kPrefix,
         static_cast<int>(text.size()), out_size, static_cast<int>(cut));
    utf8 = text.substr(0, cut);
  }
  const std::optional<std::string> encoded = Utf8ToEncoded(utf8, row->encoding);
  if (!encoded) {
    Logf(1, "%s conversion err.\n", kPrefix);
    return 0;
  }
  if (EncodedToUtf8(*encoded, row->encoding) != std::string(utf8)) {
    Logf(1, "%s back-conversion err.\n", kPrefix);
    return 0;
  }
  return StoreOrLog(out, out_size, *encoded, kPrefix);
}

void Convert_Windows_Text_To_Mac(std::string& text) {
  if (Should_Text_Be_Converted() && !Encodings().gSkipConvertLine) ConvertLineWindowsToMac(text);
}

void Convert_Mac_Text_To_Windows(std::string& text) {
  if (Should_Text_Be_Converted() && !Encodings().gSkipConvertLine) ConvertLineMacToWindows(text);
}

void SetTranslateUsingUnicode(int flag) { Encodings().translate_using_unicode = flag; }
int GetTranslateUsingUnicode() { return Encodings().translate_using_unicode; }

bool Should_Text_Be_Converted() {
  const EncodingsState& state = Encodings();
  if (state.utf8_requested && state.translate_using_unicode != 0) return false;
  if (state.mac_convert_lang == 0) return false;
  return FamilyHoldsLanguage(state.mac_convert_lang, Upper(state.login_group_language));
}

}  // namespace nuvel::text
