#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <string>
#include <vector>

#include "text/code_pages.h"
#include "text/collation.h"
#include "text/encodings.h"
#include "text/line_tables.h"
#include "text/utf8.h"

namespace nuvel::text {
namespace {

std::vector<std::string>& LogLines() {
  static std::vector<std::string> lines;
  return lines;
}

class EncodingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Encodings().reset();
    LogLines().clear();
    SetEncodingsLogSink([](int, const char* line) { LogLines().emplace_back(line); });
  }
  void TearDown() override {
    SetEncodingsLogSink(nullptr);
    Encodings().reset();
  }
  static bool Logged(std::string_view line) {
    for (const std::string& logged : LogLines()) {
      if (logged.find(line) != std::string::npos) return true;
    }
    return false;
  }
};

int Sign(int value) { return (value > 0) - (value < 0); }

// ---- UTF-8 -----------------------------------------------------------------------------------

TEST(Utf8Test, CutNeverSplitsACharacter) {
  struct Case {
    std::string text;
    int size;
    std::size_t cut;
  };
  const Case cases[] = {
      {"abc\xE2\x82\xAC", 5, 3},     // the 3-byte euro starts at the fourth byte
      {"abc\xE2\x82\xAC", 7, 6},     // it fits with the NUL
      {"ab\xC3\xA9", 4, 2},          // a 2-byte letter that would lose its second byte
      {"a\xF0\x9F\x98\x80z", 5, 1},  // a 4-byte character cut after its third byte
      {"a\xF0\x9F\x98\x80z", 6, 5},  // the same character complete
      {"abcdef", 4, 3},
      {"abc", 10, 3},
      {"abc", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetUTF8Truncation(c.text, c.size), c.cut) << "size " << c.size;
  }
}

TEST(Utf8Test, ValidityAndCounts) {
  struct Case {
    std::string text;
    bool valid;
    int utf8_characters;
    int characters;
  };
  const Case cases[] = {
      {"", true, 0, 0},
      {"\xC3", false, 0, 1},  // a lead byte alone
      {"caf\xC3\xA9", true, 4, 4},
      {"\xC0\xAF", false, 0, 2},      // overlong "/"
      {"\xED\xA0\x80", false, 0, 3},  // a surrogate
      {"\xF0\x9F\x98\x80!", true, 2, 2},
      {"M\x9Fller", false, 0, 6},  // Mac Roman, not UTF-8
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsAValidUTF8UnicodeString(c.text), c.valid) << c.text;
    EXPECT_EQ(CountUTF8Characters(c.text), c.utf8_characters) << c.text;
    EXPECT_EQ(CountCharacters(c.text), c.characters) << c.text;
  }
  EXPECT_EQ(GetUTF8SizeFromLeadByte(0x7F), 1);
  EXPECT_EQ(GetUTF8SizeFromLeadByte(0xC3), 2);
  EXPECT_EQ(GetUTF8SizeFromLeadByte(0xE2), 3);
  EXPECT_EQ(GetUTF8SizeFromLeadByte(0xF0), 4);
  EXPECT_EQ(GetUTF8SizeFromLeadByte(0x80), 0);
  EXPECT_EQ(GetUTF8SizeFromLeadByte(0xF8), 0);
  EXPECT_TRUE(IsUTF8TrailByte(0xBF));
  EXPECT_FALSE(IsUTF8TrailByte(0xC0));
}

// ---- Language codes --------------------------------------------------------------------------

TEST_F(EncodingsTest, LanguageCodesAreFoundWithoutRegardToCase) {
  EXPECT_EQ(GetLanguageID("eng"), 0);
  EXPECT_EQ(GetLanguageID("Grk"), 20);
  EXPECT_EQ(GetLanguageID("UKR"), 24);
  EXPECT_EQ(GetLanguageID("ENGL"), -1);
  EXPECT_EQ(GetLanguageID(""), -1);
  EXPECT_EQ(GetLanguageID("XYZ"), -1);

  std::vector<int> ids;
  for (const LanguageRow& row : LanguageTable()) ids.push_back(row.id);
  std::sort(ids.begin(), ids.end());
  std::vector<int> expected(kLanguageRows);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(ids, expected) << "every id from 0 to 25 once";
}

TEST_F(EncodingsTest, EncodingOfACodeFallsBackToEnglishWithALogLine) {
  EXPECT_EQ(CodePageNumberFromLanguageIdString("tur"), MacEncoding::kTurkish);
  EXPECT_EQ(CodePageNumberFromLanguageIdString("MAN"), MacEncoding::kChineseTraditional);
  EXPECT_EQ(CodePageNumberFromLanguageIdString("RUS"), MacEncoding::kCentralEuropeanRoman);
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(CodePageNumberFromLanguageIdString("QQQ"), MacEncoding::kRoman);
  EXPECT_TRUE(
      Logged("CodePageNumberFromLanguageIdString: language ID String QQQ was not "
             "recognized. Using the default."));
}

// ---- Conversions -----------------------------------------------------------------------------

TEST_F(EncodingsTest, TextIsTakenAsUtf8FirstThenInTheChineseOrKoreanPage) {
  struct Case {
    const char* code;
    std::string text;
    std::string utf8;  // "" when the conversion fails
  };
  const Case cases[] = {
      {"GER", "M\xC3\xBCller", "M\xC3\xBCller"},
      {"GER", "M\x9Fller", ""},  // Mac Roman is not read: only UTF-8 is
      {"MAS", "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},
      {"MAN", "\xA4\xA4\xA4\xE5", "\xE4\xB8\xAD\xE6\x96\x87"},
      {"KOR", "\xC7\xD1", "\xED\x95\x9C"},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    int length = -1;
    EXPECT_EQ(UTF8FromCodePageString(out, 64, c.code, c.text, &length),
              static_cast<int>(c.utf8.size()))
        << c.code;
    EXPECT_EQ(out, c.utf8) << c.code;
    if (!c.utf8.empty()) {
      EXPECT_EQ(length, CountUTF8Characters(c.utf8));
    }
  }
  EXPECT_TRUE(
      Logged("UTF8FromCodePageString: CFStringCreateWithCString(mac encoding for GER) "
             "failed."));
}

TEST_F(EncodingsTest, Utf8ResultMustFitTheBuffer) {
  std::string out;
  EXPECT_EQ(UTF8FromCodePageString(out, 6, "MAS", "\xD6\xD0\xCE\xC4"), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(Logged("CFStringGetCString(kCFStringEncodingUTF8) failed."));
  EXPECT_EQ(UTF8FromCodePageString(out, 7, "MAS", "\xD6\xD0\xCE\xC4"), 6);
}

TEST_F(EncodingsTest, Utf8IsWrittenInTheLanguagesEncoding) {
  struct Case {
    const char* code;
    std::string utf8;
    std::string encoded;  // "" when the conversion fails
  };
  const Case cases[] = {
      {"GER", "M\xC3\xBCller", "M\x9Fller"},
      {"TUR", "\xC5\x9F\xC4\xB1", "\xDF\xDD"},                  // ş ı in Mac Turkish
      {"GRK", "\xCE\xB1\xCE\xB2", "\xE1\xE2"},                  // α β in Mac Greek
      {"CZH", "\xC5\xA1", "\xE4"},                              // š in Mac Central European
      {"MAS", "\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4"},  // Windows page 936
      {"KOR", "\xED\x95\x9C", "\xC7\xD1"},                      // Windows page 949
      {"TAI", "\xE0\xB8\x81\xE0\xB9\x88", "\xA1\xE8"},          // ko kai and a tone mark
      {"ARB", "\xD8\xA8 \xD8\x8C", "\xC8 \xAC"},                // beh, blank, Arabic comma
      {"GER", "\xE4\xB8\xAD", ""},                              // no Chinese in Mac Roman
      {"GER", "M\x9Fller", ""},                                 // not UTF-8
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(CodePageFromUTF8String(out, 64, c.code, c.utf8), static_cast<int>(c.encoded.size()))
        << c.code;
    EXPECT_EQ(out, c.encoded) << c.code;
  }
}

TEST_F(EncodingsTest, LongUtf8IsCutAtACharacterBeforeConversion) {
  std::string out;
  int length = 0;
  EXPECT_EQ(CodePageFromUTF8StringByCodePage(out, 5, MacEncoding::kRoman, "abc\xC3\xA9z", &length),
            3);
  EXPECT_EQ(out, "abc");
  EXPECT_EQ(length, 3);
}

TEST_F(EncodingsTest, InPlaceConversionsCutToTheSize) {
  std::string text = "M\xC3\xBCller";
  EXPECT_EQ(Convert_String_From_UTF8_To_CodePage(text, 4, "GER"), 3);
  EXPECT_EQ(text, "M\x9Fl");

  text = "\xD6\xD0\xCE\xC4";
  EXPECT_EQ(Convert_String_From_CodePage_To_UTF8(text, 5, "MAS"), 3);
  EXPECT_EQ(text, "\xE4\xB8\xAD") << "the second character would have been split";

  text = "M\x9Fller";
  EXPECT_EQ(Convert_String_From_CodePage_To_UTF8(text, 64, "GER"), 0);
  EXPECT_EQ(text, "M\x9Fller") << "a failed conversion keeps the text";
}

TEST_F(EncodingsTest, RoundTripChecksReportEachFault) {
  struct Case {
    bool to_utf8;
    const char* code;
    std::string text;
    int out_size;
    std::string out;
    const char* log;  // nullptr when nothing is logged
  };
  const Case cases[] = {
      {true, "GER", "M\x9Fller", 64, "M\xC3\xBCller", nullptr},
      {true, "XYZ", "abc", 64, "",
       "UTF8FromCodePageStringDetecterr: unrecognized language string XYZ."},
      {true, "KOR", "\xC7", 64, "", "UTF8FromCodePageStringDetecterr: conversion err."},
      // a lowered tone mark reads as the plain mark, which is written at its own place
      {true, "TAI", "\x83", 64, "", "UTF8FromCodePageStringDetecterr: back-conversion err."},
      {true, "MAS", "\xD6\xD0\xCE\xC4", 6, "",
       "UTF8FromCodePageStringDetecterr: the output buffer is too small."},
      {false, "GER", "M\xC3\xBCller", 64, "M\x9Fller", nullptr},
      {false, "GER", "\xE4\xB8\xAD", 64, "", "CodePageFromUTF8StringDetectErr: conversion err."},
      {false, "GER", "ab\xC3\xA9", 4, "ab",
       "CodePageFromUTF8StringDetectErr: UTF-8 string length 4 > buffer 4 - truncating at 2."},
      {false, "ENGL", "ab", 64, "",
       "CodePageFromUTF8StringDetectErr: unrecognized language string ENGL."},
  };
  for (const Case& c : cases) {
    LogLines().clear();
    std::string out;
    const int written = c.to_utf8
                            ? UTF8FromCodePageStringDetectError(out, c.out_size, c.code, c.text)
                            : CodePageFromUTF8StringDetectError(out, c.out_size, c.code, c.text);
    EXPECT_EQ(written, static_cast<int>(c.out.size())) << c.code << " " << c.text;
    EXPECT_EQ(out, c.out) << c.code << " " << c.text;
    if (c.log) {
      EXPECT_TRUE(Logged(c.log)) << c.log;
    }
  }
}

// ---- Line conversion tables --------------------------------------------------------------------

// The character a single byte stands for in a set, if it stands for exactly one.
std::optional<char16_t> CharOf(std::string_view charset, unsigned char b) {
  const std::optional<std::u16string> text =
      DecodeText(charset, std::string(1, static_cast<char>(b)));
  if (!text || text->size() != 1) return std::nullopt;
  return (*text)[0];
}

// The single byte a set writes for a character, if any.
std::optional<unsigned char> ByteOf(std::string_view charset, char16_t c) {
  const std::optional<std::string> bytes = EncodeText(charset, std::u16string(1, c));
  if (!bytes || bytes->size() != 1) return std::nullopt;
  return static_cast<unsigned char>((*bytes)[0]);
}

TEST(LineTablesTest, TablesAgreeWithTheConvertersAndUndoEachOther) {
  for (int family = kFirstTableFamily; family <= kLastTableFamily; ++family) {
    const TableCharsets sets = LineTableCharsets(family);
    const ByteTable& to_mac = WindowsToMacTable(family);
    const ByteTable& to_windows = MacToWindowsTable(family);
    int agreed = 0;
    for (int b = 0; b < 256; ++b) {
      const auto byte = static_cast<unsigned char>(b);
      ASSERT_EQ(to_windows[to_mac[b]], b) << "family " << family << " byte " << b;
      if (b < 0x80) {
        EXPECT_EQ(to_mac[b], b) << "family " << family << ": ASCII stays";
      }
      if (const auto c = CharOf(sets.windows, byte)) {
        if (const auto mac = ByteOf(sets.mac, *c)) {
          EXPECT_EQ(to_mac[b], *mac) << "family " << family << " Windows byte " << b;
          ++agreed;
        }
      }
      // Mac to Windows, for each Mac byte that is its set's own form of its character.
      if (const auto c = CharOf(sets.mac, byte); c && ByteOf(sets.mac, *c) == byte) {
        if (const auto windows = ByteOf(sets.windows, *c)) {
          EXPECT_EQ(to_windows[b], *windows) << "family " << family << " Mac byte " << b;
        }
      }
    }
    EXPECT_GT(agreed, 200) << "family " << family << " shares most of its characters";
  }
}

TEST(LineTablesTest, OwnMacThaiAndArabicDataMatchTheStandardLetterRanges) {
  // Mac Thai holds the Thai letters where windows-874 has them; Mac Arabic holds the Arabic
  // letters and marks where ISO 8859-6 has them.
  const auto same = [](std::string_view ours, std::string_view standard, int from, int to) {
    for (int b = from; b <= to; ++b) {
      EXPECT_EQ(CharOf(ours, static_cast<unsigned char>(b)),
                CharOf(standard, static_cast<unsigned char>(b)))
          << ours << " byte " << b;
    }
  };
  same(kMacThai, "windows-874-2000", 0xA1, 0xDA);
  same(kMacThai, "windows-874-2000", 0xDF, 0xED);
  same(kMacThai, "windows-874-2000", 0xEF, 0xF9);
  same(kMacArabic, "ISO-8859-6", 0xC1, 0xDA);
  same(kMacArabic, "ISO-8859-6", 0xE0, 0xF2);
  EXPECT_FALSE(CharOf(kMacThai, 0xFC)) << "undefined bytes are not read";
}

TEST(LineTablesTest, SystemLanguageChoosesTheFamily) {
  const std::pair<const char*, int> cases[] = {
      {"CZH", 6}, {"ukr", 6}, {"GRK", 5}, {"ARB", 4}, {"TUR", 3}, {"JPN", 2}, {"FRA", 2},
      {"HIN", 7}, {"PUN", 8}, {"KAZ", 9}, {"ENG", 0}, {"TAI", 0}, {"", 0},
  };
  for (const auto& [code, family] : cases) EXPECT_EQ(FamilyForLanguage(code), family) << code;
}

TEST_F(EncodingsTest, TextIsConvertedOnlyForTheLoginGroupsLanguage) {
  struct Case {
    int family;
    const char* group_language;
    bool utf8_and_unicode;
    bool convert;
  };
  const Case cases[] = {
      {3, "TUR", false, true}, {3, "TUR", true, false},  {3, "GER", false, false},
      {2, "GER", false, true}, {2, "JPN", false, false}, {5, "GRK", false, false},
      {9, "RUS", false, true}, {0, "TUR", false, false}, {6, "", false, false},
  };
  for (const Case& c : cases) {
    Encodings().reset();
    Encodings().mac_convert_lang = c.family;
    Encodings().login_group_language = c.group_language;
    Encodings().utf8_requested = c.utf8_and_unicode;
    SetTranslateUsingUnicode(c.utf8_and_unicode ? 1 : 0);
    EXPECT_EQ(Should_Text_Be_Converted(), c.convert) << c.family << " " << c.group_language;
  }
}

TEST_F(EncodingsTest, RecordTextIsConvertedThroughTheFamilysTables) {
  Encodings().mac_convert_lang = 3;
  Encodings().login_group_language = "TUR";
  std::string text = "\xFE\xFD\xDD-a";  // ş ı İ in windows-1254
  Convert_Windows_Text_To_Mac(text);
  EXPECT_EQ(text, "\xDF\xDD\xDC-a");  // the same letters in Mac Turkish
  Convert_Mac_Text_To_Windows(text);
  EXPECT_EQ(text, "\xFE\xFD\xDD-a");

  Encodings().gSkipConvertLine = true;
  Convert_Windows_Text_To_Mac(text);
  EXPECT_EQ(text, "\xFE\xFD\xDD-a") << "suspended";

  Encodings().gSkipConvertLine = false;
  Encodings().mac_convert_lang = 9;
  Encodings().login_group_language = "RUS";
  Convert_Windows_Text_To_Mac(text);
  EXPECT_EQ(text, "\xFE\xFD\xDD-a") << "family 9 has no tables";
}

// ---- Comparison and sorting --------------------------------------------------------------------

TEST(TurkishRuleTest, OrdersTheTurkishLetters) {
  struct Case {
    std::string a;
    std::string b;
    int order;
  };
  const Case cases[] = {
      {"\xFDx", "ix", -1},  // ı before i, read as İ
      {"Ix", "\xFDx", 0},   // I reads as ı
      {"ix", "\xDDx", 0},   // i reads as İ
      {"\xC7"
       "a",
       "Ca", 1},  // Ç after C
      {"\xC7"
       "a",
       "Da", -1},            // and before D
      {"\x82", "\xE7", 0},   // both forms of Ç
      {"\xD0", "\xF0", 0},   // Ğ ğ
      {"\xD6z", "Pz", -1},   // Ö before P
      {"\xFE", "T", -1},     // ş before T
      {"\xDC", "\xDE", 1},   // Ü after Ş
      {"\xC7", "\xD0", -1},  // Ç before Ğ
      {"5", "\xC7", -1},     // digits before special letters
      {"a1", "aa", -1},      // digits before letters
      {"abc", "ABD", -1},    // letters by their upper case
      {"ab", "abc", -1},     // the shorter text first
      {"a b", "a-b", -1},    // other characters by byte value
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(CompareTurkishBytes(c.a, c.b)), c.order) << c.a << " / " << c.b;
    EXPECT_EQ(Sign(CompareTurkishBytes(c.b, c.a)), -c.order) << c.b << " / " << c.a;
  }
}

TEST_F(EncodingsTest, Utf8NamesFollowTheLocalesCollation) {
  SetTranslateUsingUnicode(1);
  struct Case {
    const char* locale;
    const char* a;
    const char* b;
    int order;
  };
  const Case cases[] = {
      {"tr", "\xC4\xB1rmak", "irmak", -1},  // ırmak before irmak
      {"tr",
       "\xC3\x87"
       "ay",
       "Cay", 1},  // Çay after Cay
      {"tr",
       "\xC3\x87"
       "ay",
       "Day", -1},                    // and before Day
      {"en", "file2", "file10", -1},  // numbers by value
      {"en", "abc", "ABD", -1},       // case ignored
      {"en",
       "\xEF\xBC\xA1\xEF\xBC\xA2"
       "C",
       "abd", -1},  // full-width letters as narrow ones
      {"en", "Abc", "Abc", 0},
      {"en", "abc", "\xC3", 0},  // not UTF-8
  };
  for (const Case& c : cases) {
    Encodings().collation_locale = c.locale;
    EXPECT_EQ(Sign(INTL_strcmp(c.a, c.b)), c.order) << c.locale << ": " << c.a << " / " << c.b;
  }
  Encodings().collation_locale = "en";
  EXPECT_NE(INTL_strcmp("abc", "ABC"), 0) << "names differing in case only are still ordered";
  EXPECT_EQ(Sign(INTL_strcmp("abc", "ABC")), -Sign(INTL_strcmp("ABC", "abc")));
}

TEST_F(EncodingsTest, EightBitNamesUseTheTurkishRuleUnderEnglishOrMacTurkish) {
  SetTranslateUsingUnicode(0);
  Encodings().collation_locale = "de";
  Encodings().interface_language = "ENG";  // Mac Roman names, the Turkish rule
  EXPECT_LT(INTL_strcmp("Ivan", "ivan"), 0);
  EXPECT_GT(INTL_strcmp("\x82"
                        "a",
                        "Ca"),
            0);  // Mac Roman Ç
  EXPECT_LT(INTL_strcmp("\x82"
                        "a",
                        "Da"),
            0);
  EXPECT_GT(INTL_strcmp("\x8A"
                        "z",
                        "b"),
            0)
      << "ä is no Turkish letter: by its byte";

  Encodings().interface_language = "GER";  // Mac Roman names, the German collation
  EXPECT_LT(INTL_strcmp("\x8A"
                        "z",
                        "b"),
            0)
      << "ä sorts with a";

  Encodings().interface_language = "TUR";    // Mac Turkish names, the Turkish rule
  EXPECT_LT(INTL_strcmp("\xDDx", "ix"), 0);  // Mac Turkish ı
}

TEST_F(EncodingsTest, ClassesAreSortedByTeacherThenName) {
  SetTranslateUsingUnicode(1);
  Encodings().collation_locale = "en";
  constexpr std::size_t kSlot = 120;
  std::vector<unsigned char> slots(4 * kSlot, 0);
  const auto put = [&](int slot, std::string_view name, std::string_view teacher) {
    std::copy(name.begin(), name.end(), slots.begin() + slot * kSlot + kClassNameOffset);
    std::copy(teacher.begin(), teacher.end(), slots.begin() + slot * kSlot + kClassTeacherOffset);
  };
  put(0, "Evening", "Smith");
  put(1, "Beginners", "Jones");
  put(2, "Advanced", "Smith");
  put(3, "Morning", "jones");
  std::vector<int> order = {0, 1, 2, 3, 7};  // slot 7 is not in the table
  sort_class(5, order, slots, kSlot);
  // Lower case first among names that differ in case only; one teacher's classes by name.
  EXPECT_EQ(order, (std::vector<int>{7, 3, 1, 2, 0}));

  order = {0, 1, 2, 3};
  sort_class(2, order, slots, kSlot);
  EXPECT_EQ(order, (std::vector<int>{1, 0, 2, 3})) << "only the first two entries are sorted";
}

}  // namespace
}  // namespace nuvel::text
