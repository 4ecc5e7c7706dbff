// Language codes and their encodings; conversions between UTF-8, the Mac encodings and the
// Windows code pages; the line-by-line conversion of 8-bit text between Windows and Mac forms.
//
// Texts reach the program in three forms: UTF-8 (from a Records server asked for UTF-8, and from
// Unicode dialog fields), the Mac encoding of a three-letter language code (older Records
// servers, records of classes in a given country), and Windows code pages (records written by
// the Windows companion applications). Conversions stop at the first byte or character they
// cannot map: a failure gives no text, and callers keep the original.
//
// The run-wide settings the conversions depend on live in EncodingsState. The layers above set
// them: the driver the Unicode switch and the conversion family, the Records-server session
// whether it asked for UTF-8 and the language of the login group's country, the localized
// strings the interface language.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "text/code_pages.h"

namespace nuvel::text {

/// One row of the language table.
struct LanguageRow {
  std::string_view code;  // three upper-case letters
  int id;
  MacEncoding encoding;   // its value is the row's code-page index
  std::string_view name;  // the language's English name
};

inline constexpr int kLanguageRows = 26;
/// The language table in its fixed order; the first row ("ENG") is the default.
const std::array<LanguageRow, kLanguageRows>& LanguageTable();

struct EncodingsState {
  int translate_using_unicode = 0;   // translation uses Unicode (the driver sets it at start)
  int mac_convert_lang = 0;          // line-conversion family, 0 for none (see FamilyForLanguage)
  bool gSkipConvertLine = false;     // line conversion suspended
  bool utf8_requested = false;       // the Records server was asked for UTF-8
  std::string login_group_language;  // default language of the login group's country, or ""
  std::string interface_language = "ENG";
  std::string collation_locale;  // ICU locale for comparisons; "" = the user's preferred language

  void reset() { *this = EncodingsState{}; }
};

EncodingsState& Encodings();

/// Where the module writes its log lines; the base layer's log connects itself here when it is
/// first used. Until then the lines go nowhere.
using EncodingsLogSink = void (*)(int level, const char* line);
void SetEncodingsLogSink(EncodingsLogSink sink);

// ---- Language codes --------------------------------------------------------------------------

/// The row of a code, compared without regard to case; nothing for an empty code, a code
/// longer than three characters or one the table does not hold.
std::optional<LanguageRow> FindLanguage(std::string_view code);

/// The row of a code, or the default row ("ENG") after logging, on behalf of `caller`,
/// "<caller>: language ID String <code> was not recognized. Using the default.".
LanguageRow LanguageOrDefault(std::string_view code, const char* caller);

// ---- Conversions -----------------------------------------------------------------------------

/// The text as UTF-8: unchanged when it is valid UTF-8; otherwise, when `encoding` is Mac
/// Chinese Simplified, Mac Chinese Traditional or Mac Korean, read in that encoding. Nothing
/// when neither applies or the text cannot be read.
std::optional<std::string> TextToUtf8(std::string_view text, MacEncoding encoding);

/// Text in `encoding` read strictly into UTF-8 (no UTF-8 first).
std::optional<std::string> EncodedToUtf8(std::string_view text, MacEncoding encoding);

/// UTF-8 text written in `encoding` (the Chinese and Korean ones in their Windows code pages);
/// nothing when the text is not valid UTF-8 or holds a character the encoding lacks.
std::optional<std::string> Utf8ToEncoded(std::string_view utf8, MacEncoding encoding);

// ---- Line conversion -------------------------------------------------------------------------

/// The line-conversion family the system language selects: CZH, SVK, ROU, HUN, UKR 6; GRK 5;
/// ARB 4; TUR 3; GER, JPN, ITL, SPN, PRT, BRA, FRA 2; HIN 7; PUN 8; RUS, KAZ 9; any other 0.
/// Families 7 to 9 have no tables (text stays as it is).
int FamilyForLanguage(std::string_view language);

/// Replaces every byte through the Windows-to-Mac (or Mac-to-Windows) table of the family in
/// Encodings(); nothing happens for a family without tables. Does not test whether text should
/// be converted: Convert_Windows_Text_To_Mac and Convert_Mac_Text_To_Windows do.
void ConvertLineWindowsToMac(std::string& text);
void ConvertLineMacToWindows(std::string& text);

// ---- Described interface ---------------------------------------------------------------------
// The names and integer results the described interface states, as thin adapters over the
// functions above. `out_size` is the size of the caller's buffer with its NUL: a result must fit
// in `out_size` - 1 bytes. A failure leaves `out` empty and returns 0.

/// The id of a language code, or -1 for an empty, too long or unknown code.
int GetLanguageID(std::string_view code);

/// The Mac encoding of the code's row (unknown codes: the default row, logged).
MacEncoding CodePageNumberFromLanguageIdString(std::string_view code);

/// TextToUtf8 with the code's encoding, into `out`; returns the bytes written. Failures log
/// "UTF8FromCodePageString: CFStringCreateWithCString(mac encoding for <code>) failed." (the
/// text cannot be read) or "UTF8FromCodePageString: CFStringGetCString(kCFStringEncodingUTF8)
/// failed." (the result does not fit). `length`, when given, receives the number of characters.
int UTF8FromCodePageString(std::string& out, int out_size, std::string_view code,
                           std::string_view text, int* length = nullptr);

/// The UTF-8 text, cut at a character boundary to fit the output (and to at most 2,048 bytes),
/// written in `encoding` through Utf8ToEncoded; returns the bytes written. `length`, when given,
/// receives the number of characters converted.
int CodePageFromUTF8StringByCodePage(std::string& out, int out_size, MacEncoding encoding,
                                     std::string_view text, int* length = nullptr);
/// The same with the encoding of a language code (unknown codes: the default row, logged).
int CodePageFromUTF8String(std::string& out, int out_size, std::string_view code,
                           std::string_view text, int* length = nullptr);

/// In place, through a work buffer of 1,024 (to UTF-8) or 255 (from UTF-8) bytes; the result is
/// cut to `size` - 1 bytes, at a character boundary when it is UTF-8. Returns the new length;
/// 0 and the text unchanged when the conversion fails.
int Convert_String_From_CodePage_To_UTF8(std::string& text, int size, std::string_view code);
int Convert_String_From_UTF8_To_CodePage(std::string& text, int size, std::string_view code);

/// Conversions that check the result by converting it back: the text in the code's encoding to
/// UTF-8, and UTF-8 (cut at a character boundary to fit, logged) to the code's encoding. Each
/// failure is logged with "UTF8FromCodePageStringDetecterr:" or
/// "CodePageFromUTF8StringDetectErr:" before the reason: "unrecognized language string <code>.",
/// "conversion err.", "back-conversion err.", "the output buffer is too small.".
int UTF8FromCodePageStringDetectError(std::string& out, int out_size, std::string_view code,
                                      std::string_view text);
int CodePageFromUTF8StringDetectError(std::string& out, int out_size, std::string_view code,
                                      std::string_view text);

/// Line conversion of a record's text when Should_Text_Be_Converted() and line conversion is
/// not suspended (gSkipConvertLine).
void Convert_Windows_Text_To_Mac(std::string& text);
void Convert_Mac_Text_To_Windows(std::string& text);

void SetTranslateUsingUnicode(int flag);
int GetTranslateUsingUnicode();

/// False when the server was asked for UTF-8 and translation uses Unicode, or the family is 0;
/// otherwise true only when the login group's country language belongs to the family: 3 TUR;
/// 6 CZH, SVK, ROU, HUN, UKR; 2 GER, ITL, SPN, PRT, BRA, FRA; 4 ARB; 7 HIN; 8 PUN; 9 RUS, KAZ.
bool Should_Text_Be_Converted();

}  // namespace nuvel::text
