#include "base/strings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "platform/locale.h"
#include "tests/support/test_env.h"
#include "ui/prompts.h"

namespace nuvel::base {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

struct Entry {
  std::string key;
  std::vector<std::pair<std::string, std::string>> texts;  // code, stored text
};

// A message file with a hand-written index: 6-digit index length (or `header`) and CR LF, the
// index, then the data area.
std::string RawMessageFile(const std::string& index, const std::string& data,
                           const char* header = nullptr) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%06zu", index.size());
  return std::string(header ? header : digits) + "\r\n" + index + data;
}

// A message file in the shipped layout, texts each ended by "^^" CR. `index_padding` spaces
// end the index (for fixed-length files).
std::string MessageFile(const std::vector<Entry>& entries, std::size_t index_padding = 0,
                        const char* header = nullptr) {
  std::string index, data;
  for (const Entry& entry : entries) {
    index += entry.key + " " + std::to_string(entry.texts.size()) + " ";
    for (const auto& [code, text] : entry.texts) {
      index += code + " " + std::to_string(data.size()) + " ";
      data += text + "^^\r";
    }
  }
  return RawMessageFile(index + std::string(index_padding, ' '), data, header);
}

// Each test starts without locale variables; their old values come back afterwards.
class StringsFixture : public ::testing::Test {
 protected:
  static constexpr const char* kLocale[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  void SetUp() override {
    for (const char* name : kLocale) {
      if (const char* value = std::getenv(name)) saved_env_[name] = value;
      ::unsetenv(name);
    }
    ResetAll();
    FindLocalNuvelDirectory();
    GetLogName();
    folder_ = Paths().localNuvelDirectory;
    records_ = GetRecordsIniFilePath();
  }
  void TearDown() override {
    ResetAll();
    for (const char* name : kLocale) {
      auto it = saved_env_.find(name);
      it != saved_env_.end() ? ::setenv(name, it->second.c_str(), 1) : ::unsetenv(name);
    }
  }
  static void Setenv(const char* name, const char* value) { ::setenv(name, value, 1); }

  static void ResetAll() {
    Strings().reset();
    Log().reset();
    Paths().reset();
    base::Run().reset();
    ui::Prompts().reset();
    FreePrivateProfile();
  }

  std::string WriteMessages(const std::string& contents, const std::string& name = "engine.luc") {
    std::string path = sysroot_.path("messages/" + name);
    WriteTestFile(path, contents);
    return path;
  }

  // Opens slot 0 on a message file and switches it to `code`.
  void OpenIn(const std::string& contents, const char* code) {
    ASSERT_EQ(OpenStrRez(0, WriteMessages(contents)), 1);
    forceLanguage(0, 0, code);
  }

  std::string LogText() { return ReadTestFile(folder_ + "Nuvel_log.txt"); }
  bool Logged(const std::string& text) { return LogText().find(text) != std::string::npos; }

  void ForceInRecordsIni(const char* code) {
    std::string value = code;
    WriteNuvelPrivateProfileString("Records", "force_OS_lang", value, records_);
  }
  std::string StoredForce() {
    std::string stored;
    GetNuvelPrivateProfileString("Records", "force_OS_lang", "none", stored, 255, records_);
    return stored;
  }

  TestSysroot sysroot_;
  std::map<std::string, std::string> saved_env_;
  std::string folder_;
  std::string records_;
};

const std::vector<Entry> kBasicFile = {
    {"MSG_BUTTON_OK", {{"ENG", "OK"}, {"FRA", "D'accord"}, {"GER", "Gut"}}},
    {"MSG_ONLYENGLISH", {{"ENG", "Only in English"}}},
    {"MSG_EMPTYFRENCH", {{"FRA", ""}, {"ENG", "English stands in"}}},
    {"MSG_TWOLINES", {{"ENG", "One\\nTwo C:\\dir"}}},
    {"MSG_COUNT", {{"ENG", "^2 of ^1"}, {"FRA", "^2 sur ^1"}}},
    {"MSG_NOENGLISH", {{"FRA", "Seulement en français"}}},
    {"MSG_HELLO", {{"ENG", "Hello"}, {"TAI", "Sawasdee"}}},
    {"MSG_LANGUAGEMYLANGUAGE",
     {{"ENG", "Language_English"}, {"FRA", "Language_French"}, {"GER", "Language_German"}}},
    {"MSG_LANGUAGEENGLISH", {{"ENG", "English"}, {"FRA", "Anglais"}, {"GER", "Englisch"}}},
    {"MSG_LANGUAGEFRENCH", {{"ENG", "French"}, {"FRA", "Français"}, {"GER", "Französisch"}}},
    {"MSG_LANGUAGEGERMAN", {{"ENG", "German"}, {"FRA", "Allemand"}, {"GER", "Deutsch"}}},
    {"MSG_INVALIDOS", {{"ENG", "Wrong system language."}}},
    {"MSG_SPECIFICOSREQUIRED", {{"ENG", "It needs ^1."}}},
};

// ---- Looking texts up ----------------------------------------------------------------------

using StringsLookupTest = StringsFixture;

TEST_F(StringsLookupTest, TranslationOrEnglishFallBack) {
  OpenIn(MessageFile(kBasicFile), "ENG");
  struct Case {
    const char* interface;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"FRA", "MSG_Button_OK", "D'accord"},
      {"FRA", "msg_button_ok", "D'accord"},
      {"FRA", "MSG_EmptyFrench", "English stands in"},
      {"GER", "MSG_NoEnglish", ""},
      {"FRA", "MSG_NoEnglish", "Seulement en français"},
      {"JPN", "MSG_OnlyEnglish", "Only in English"},
      {"MUL", "MSG_OnlyEnglish", "Only in English"},
      {"ENG", "MSG_TwoLines", "One\rTwo C:\\dir"},  // "\n" is a line break, "\d" stays
      {"TAI", "MSG_Hello", "Hello"},                // a Thai interface shows English
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.interface) + " " + c.key);
    forceLanguage(0, 0, c.interface);
    EXPECT_EQ(StrRez(0, c.key), c.expected);
  }
  EXPECT_TRUE(Logged("StrRezByLanguage err finding OS/Def ID: MSG_NoEnglish"));
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Hello", nullptr), "Sawasdee") << "only StrRez shows English";
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Button_OK", "ger"), "Gut");
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Button_OK", "MUL"), "OK") << "MUL counts as English";
}

TEST_F(StringsLookupTest, LongTranslationIsReplacedByEnglishOnlyInStrRez) {
  std::string long_text(260, 'x'), longest_kept(250, 'y');
  OpenIn(MessageFile({{"MSG_LONG", {{"ENG", "Short English"}, {"FRA", long_text}}},
                      {"MSG_EDGE", {{"ENG", "Short English"}, {"FRA", longest_kept}}},
                      {"MSG_EDGE2", {{"ENG", "Short English"}, {"FRA", longest_kept + "z"}}}}),
         "FRA");
  EXPECT_EQ(StrRez(0, "MSG_Long"), "Short English");
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Long", nullptr), long_text);
  EXPECT_EQ(StrRez(0, "MSG_Edge"), longest_kept) << "250 bytes still fit";
  EXPECT_EQ(StrRez(0, "MSG_Edge2"), "Short English") << "251 bytes do not";
}

TEST_F(StringsLookupTest, KeysWithoutATextGiveTheKeyOrNothing) {
  // Without an open slot every caller gets the key back; literal keys pass their text.
  EXPECT_EQ(StrRez(0, "MSG_TEMP_Literal text"), "Literal text");
  EXPECT_EQ(StrRez(0, "MSG_Button_OK"), "MSG_Button_OK");
  EXPECT_EQ(StrRez(7, "MSG_Button_OK"), "MSG_Button_OK");
  EXPECT_EQ(CurrentLanguageCode(), "ENG");

  OpenIn(MessageFile(kBasicFile), "GER");
  EXPECT_EQ(StrRezf(0, "MSG_TMP1_^1 and ^2", {"a", "b"}), "a and b");
  EXPECT_EQ(StrRez(0, "MSG_Missing"), "");
  EXPECT_TRUE(Logged("StrRezByLanguage err finding ID: MSG_Missing"));
  EXPECT_EQ(Localize("MSG_Missing"), "MSG_Missing");
  EXPECT_EQ(LocalizeEnglish("MSG_Missing"), "MSG_Missing");
  EXPECT_EQ(StrRez(0, ""), "");
  EXPECT_TRUE(Logged("StrRezByLanguage null ID_passed"));
  // Localize looks up keys only; LocalizeEnglish ignores the interface language.
  EXPECT_EQ(Localize("MSG_Button_OK"), "Gut");
  EXPECT_EQ(LocalizeEnglish("MSG_Button_OK"), "OK");
  EXPECT_EQ(Localize("Button OK"), "Button OK");
  EXPECT_EQ(LocalizeEnglish("C:\\MSG_Button_OK"), "C:\\MSG_Button_OK");
  EXPECT_EQ(CurrentLanguageCode(), "GER");
}

TEST_F(StringsLookupTest, KeyIsFoundOnlyAsAWholeToken) {
  // MSG_A is a prefix of MSG_AB and a suffix of XMSG_A, and both come first in the index.
  OpenIn(MessageFile(
             {{"XMSG_A", {{"ENG", "x"}}}, {"MSG_AB", {{"ENG", "ab"}}}, {"MSG_A", {{"ENG", "a"}}}}),
         "ENG");
  EXPECT_EQ(StrRez(0, "MSG_A"), "a");
  EXPECT_EQ(StrRez(0, "MSG_AB"), "ab");
  EXPECT_EQ(StrRez(0, "XMSG_A"), "x");
  EXPECT_EQ(StrRez(0, "MSG_"), "");
}

TEST_F(StringsLookupTest, MoreThanThirtyLanguagesForcesEnglish) {
  OpenIn(RawMessageFile("MSG_MANY 31 FRA 0 ENG 8 ", "Merci^^\rThanks^^\r"), "FRA");
  EXPECT_EQ(StrRez(0, "MSG_Many"), "Thanks");
}

TEST_F(StringsLookupTest, HeaderOfZeroUsesTheFixedIndexLengthOfTheFileName) {
  // Index padded to 40,000 bytes: right for engine.luc, wrong for any other message file.
  std::vector<Entry> entries = {{"MSG_HI", {{"ENG", "Hi"}}}};
  std::size_t index_length = MessageFile(entries).size() - 8 - std::string("Hi^^\r").size();
  std::string engine = MessageFile(entries, 40000 - index_length, "000000");
  ASSERT_EQ(OpenStrRez(0, WriteMessages(engine, "engine.luc")), 1);
  EXPECT_EQ(StrRez(0, "MSG_Hi"), "Hi");
  ASSERT_EQ(OpenStrRez(1, WriteMessages(engine, "tutor.luc")), 1);
  EXPECT_EQ(StrRez(1, "MSG_Hi"), "");
  CloseStrRez(1);
  std::string tutor = MessageFile(entries, 30000 - index_length, "      ");
  ASSERT_EQ(OpenStrRez(1, WriteMessages(tutor, "tutor.luc")), 1);
  EXPECT_EQ(StrRez(1, "MSG_Hi"), "Hi");
}

TEST_F(StringsLookupTest, OpeningAndClosingSlots) {
  EXPECT_EQ(OpenStrRez(0, sysroot_.path("messages/none.luc")), 0);
  EXPECT_TRUE(Logged("ERROR: Couldn't open file: " + sysroot_.path("messages/none.luc")));
  EXPECT_EQ(OpenStrRez(5, WriteMessages(MessageFile(kBasicFile))), 0);

  std::string first = WriteMessages(MessageFile({{"MSG_WHICH", {{"ENG", "first"}}}}), "a.luc");
  std::string second = WriteMessages(MessageFile({{"MSG_WHICH", {{"ENG", "second"}}}}), "b.luc");
  ASSERT_EQ(OpenStrRez(3, first), 1);
  EXPECT_EQ(OpenStrRez(3, second), 1);
  EXPECT_EQ(StrRez(3, "MSG_Which"), "first") << "a slot in use is left unchanged";
  CloseStrRez(3);
  EXPECT_EQ(StrRez(3, "MSG_Which"), "MSG_Which");
  ASSERT_EQ(OpenStrRez(3, second), 1);
  EXPECT_EQ(StrRez(3, "MSG_Which"), "second");
}

TEST_F(StringsLookupTest, PlaceholdersAreFilledByNumberWithinFiveHundredTwelveBytes) {
  OpenIn(MessageFile(kBasicFile), "ENG");
  EXPECT_EQ(StrRezf(0, "MSG_Count", {"3", "5"}), "5 of 3");
  // "^2 of ^1" filled: 400 + 4 + 107 = 511 bytes are used, one more is not.
  EXPECT_EQ(StrRezf(0, "MSG_Count", {std::string(400, 'a'), std::string(107, 'b')}).size(), 511u);
  EXPECT_EQ(StrRezf(0, "MSG_Count", {std::string(400, 'a'), std::string(108, 'b')}), "^2 of ^1");
  forceLanguage(0, 0, "FRA");
  EXPECT_EQ(StrRezf(0, "MSG_Count", {"3", "5"}), "5 sur 3");
  EXPECT_EQ(StrRezf(0, "MSG_Count", {"3"}), " sur 3") << "a missing argument is empty";
  EXPECT_EQ(StrRezf(0, "MSG_Button_OK", {"3"}), "D'accord");

  EXPECT_EQ(CountHats("^1 ^^ ^a ^9^"), 2);
  EXPECT_EQ(CountHats("^^1"), 1);
}

TEST(TokenizerTest, SplitsAndCutsTokens) {
  std::size_t state = 0;
  std::string token;
  const char* text = "alpha,,gamma-long";
  EXPECT_EQ(Tokenizer(text, ',', state, token, 255), 1);
  EXPECT_EQ(token, "alpha");
  EXPECT_EQ(Tokenizer(text, ',', state, token, 255), 1);
  EXPECT_EQ(token, "");
  EXPECT_EQ(Tokenizer(text, ',', state, token, 6), 0);
  EXPECT_EQ(token, "gamma") << "cut to size - 1";
  EXPECT_EQ(Tokenizer(text, ',', state, token, 255), 0);
  EXPECT_EQ(token, "");
}

// ---- Damaged message files: never a read outside the file, never a crash --------------------

using MessageFileCorruptionTest = StringsFixture;

TEST_F(MessageFileCorruptionTest, BadHeadersCountsOffsetsAndMarkersGiveEnglishOrNothing) {
  struct Case {
    std::string file;
    const char* key;
    const char* expected;
    const char* logged;  // the log line for the failure, if any
  };
  const std::string far = RawMessageFile(
      "MSG_FAR 1 ENG 99999 MSG_FARFR 2 FRA 4000000000 ENG 0 MSG_HUGE 1 ENG "
      "99999999999999999999 ",
      "Near^^\r");
  const std::string numbers =
      RawMessageFile("MSG_COUNT x ENG 0 MSG_OFFSET 1 ENG 1a MSG_SHORT 2 ENG ", "Text^^\r");
  const Case cases[] = {
      {MessageFile(kBasicFile, 0, "999999"), "MSG_Button_OK", "",
       "err finding Table Position ID: MSG_Button_OK"},
      {far, "MSG_Far", "", "err finding offset ID: MSG_Far"},
      {far, "MSG_FarFr", "Near", nullptr},
      {far, "MSG_Huge", "", nullptr},
      {numbers, "MSG_Count", "", "err finding nNumLocalizatins ID: MSG_Count"},
      {numbers, "MSG_Offset", "", nullptr},
      {numbers, "MSG_Short", "", nullptr},
      {RawMessageFile("MSG_OPEN 1 ENG 0 MSG_LONG 1 ENG 10 ", "Unended^^"), "MSG_Open", "", nullptr},
      // A marker that follows only after more than 512 bytes does not end the text either.
      {RawMessageFile("MSG_LONG 1 ENG 0 ", std::string(513, 'x') + "^^\r"), "MSG_Long", "",
       nullptr},
      {"", "MSG_Button_OK", "", "err LookUpTable NULL nResource=0, ID: MSG_Button_OK"},
      {"0", "MSG_Button_OK", "", nullptr},
      {"000012\r\nMSG", "MSG_Button_OK", "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + (" in " + c.file.substr(0, 60)));
    Strings().reset();
    OpenIn(c.file, "FRA");
    EXPECT_EQ(StrRez(0, c.key), c.expected);
    if (c.logged) {
      EXPECT_TRUE(Logged(std::string("StrRezByLanguage ") + c.logged));
    }
  }
}

TEST_F(MessageFileCorruptionTest, TruncatedFileGivesWholeTextsOrNothing) {
  StopLogging();
  std::string full = MessageFile(kBasicFile);
  for (std::size_t size = 0; size <= full.size(); ++size) {
    Strings().reset();
    OpenIn(full.substr(0, size), "FRA");
    std::string ok = StrRez(0, "MSG_Button_OK");
    EXPECT_TRUE(ok.empty() || ok == "D'accord" || ok == "OK") << size << ": " << ok;
    std::string count = StrRezf(0, "MSG_Count", {"3", "5"});
    EXPECT_TRUE(count.empty() || count == "5 sur 3" || count == "5 of 3") << size << ": " << count;
  }
}

TEST_F(MessageFileCorruptionTest, DamagedBytesNeverGiveOverlongTexts) {
  StopLogging();
  std::string full = MessageFile(kBasicFile);
  for (std::size_t at = 0; at < full.size(); ++at) {
    for (char damage : {'9', ' ', '\0', 'E'}) {
      std::string damaged = full;
      damaged[at] = damage;
      Strings().reset();
      OpenIn(damaged, "FRA");
      for (const Entry& entry : kBasicFile) {
        EXPECT_LE(StrRezByLanguage(0, entry.key, nullptr).size(), 512u);
      }
    }
  }
}

// ---- The interface language ----------------------------------------------------------------

using LanguageSelectionTest = StringsFixture;

TEST_F(LanguageSelectionTest, PreferredLanguagesComeFromLanguageThenTheLocale) {
  Setenv("LANGUAGE", "xx:de::fr");
  Setenv("LC_MESSAGES", "pt_BR.UTF-8@euro");
  Setenv("LANG", "en_US.UTF-8");
  EXPECT_EQ(platform::PreferredLanguages(), (std::vector<std::string>{"xx", "de", "fr", "pt_BR"}));
  Setenv("LC_ALL", "C.UTF-8");
  EXPECT_EQ(platform::PreferredLanguages(), (std::vector<std::string>{"xx", "de", "fr"}))
      << "LC_ALL=C names no language and hides LC_MESSAGES and LANG";
  Setenv("LANGUAGE", "");
  Setenv("LC_ALL", "");
  EXPECT_EQ(platform::PreferredLanguages(), (std::vector<std::string>{"pt_BR"}));
}

TEST_F(LanguageSelectionTest, TagsSelectTheirLanguage) {
  EXPECT_EQ(GetOSLang(), 0) << "no preference means English";
  Setenv("LANG", "POSIX");
  EXPECT_EQ(GetOSLang(), 0);
  Setenv("LANG", "");
  struct Case {
    const char* tag;
    int region;
    const char* code;
  };
  // Longer tags win over their prefixes, "-" and "_" are alike, and some regions show English.
  const Case cases[] = {
      {"zh_TW", 53, "MAN"}, {"zh-Hant-TW", 53, "MAN"}, {"zh_hk", 53, "MAN"}, {"zh", 52, "MAS"},
      {"pt-BR", 71, "BRA"}, {"pt", 10, "PRT"},         {"ms_MY", 72, "MAL"}, {"th_TH", 54, "ENG"},
      {"vi", 97, "ENG"},    {"el_GR", 20, "ENG"},      {"da", 9, "ENG"},     {"uk_UA", 62, "UKR"},
      {"xx", 0, "ENG"},     {"xx:de:fr", 3, "GER"},
  };
  std::string file = WriteMessages(MessageFile(kBasicFile));
  for (const Case& c : cases) {
    Setenv("LANGUAGE", c.tag);
    EXPECT_EQ(GetOSLang(), c.region) << c.tag;
    Strings().reset();
    ASSERT_EQ(OpenStrRez(0, file), 1);
    EXPECT_EQ(CurrentLanguageCode(), c.code) << c.tag;
  }
  EXPECT_FALSE(Logged("langStr=fr\r\n")) << "the walk stops at the first match";
}

TEST_F(LanguageSelectionTest, ForcedLanguageInRecordsIniWinsUnlessNotAllowedOrUnknown) {
  Setenv("LANGUAGE", "de");
  std::string file = WriteMessages(MessageFile(kBasicFile));
  ForceInRecordsIni("fra");
  ASSERT_EQ(OpenStrRez(0, file), 1);
  EXPECT_EQ(CurrentLanguageCode(), "FRA");
  EXPECT_EQ(GetOSLangForced(), 1);

  ForceInRecordsIni("xyz");
  EXPECT_EQ(GetOSLangForced(), -1);
  EXPECT_EQ(GetOSLang(), 3);
  ForceInRecordsIni("FRA");
  Strings().dont_allow_GetOSLangForced = 1;
  EXPECT_EQ(GetOSLang(), 3);
  Strings().dont_allow_GetOSLangForced = 0;
  SetRequiredLanguage("SPN");
  EXPECT_EQ(GetOSLangForced(), -1) << "a required language ignores the forced one";
}

TEST_F(LanguageSelectionTest, ForceLanguageMapsCodesAndRegions) {
  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
  EXPECT_EQ(forceLanguage(0, 0, "jpn"), 0);
  EXPECT_EQ(CurrentLanguageCode(), "JPN");
  EXPECT_EQ(forceLanguage(0, 0, "GEN"), 14) << "the previous region";
  EXPECT_EQ(CurrentLanguageCode(), "ENG");
  for (const char* code : {"UKR", "KID"}) {
    forceLanguage(0, 0, code);
    EXPECT_EQ(CurrentLanguageCode(), "ENG") << code;
  }
  forceLanguage(0, 3, nullptr);
  EXPECT_EQ(CurrentLanguageCode(), "GER");
  for (int region : {62, 54, 97, 9, 0, -1}) {
    forceLanguage(0, region, nullptr);
    EXPECT_EQ(CurrentLanguageCode(), "ENG") << region;
  }
  EXPECT_EQ(forceLanguage(1, 3, "GER"), 0) << "a closed slot is left alone";
  EXPECT_EQ(RegionOfLanguageCode("mas"), 52);
  EXPECT_EQ(RegionOfLanguageCode("XYZ"), -1);
}

TEST_F(LanguageSelectionTest, FirstLanguageAndItsNameKeyComeFromTheFirstOpening) {
  Setenv("LANGUAGE", "de");
  std::string file = WriteMessages(MessageFile(kBasicFile));
  ASSERT_EQ(OpenStrRez(0, file), 1);
  EXPECT_EQ(Strings().first_lang, "GER");
  EXPECT_EQ(Strings().first_lang_name, "MSG_LanguageGerman");
  EXPECT_EQ(StrRez(0, Strings().first_lang_name), "Deutsch");
  CloseStrRez(0);
  Setenv("LANGUAGE", "fr");
  ASSERT_EQ(OpenStrRez(0, file), 1);
  EXPECT_EQ(CurrentLanguageCode(), "FRA");
  EXPECT_EQ(Strings().first_lang, "GER") << "only the first opening counts";
}

TEST_F(LanguageSelectionTest, RequiredLanguageEndsTheRunOnceWithItsName) {
  Setenv("LANGUAGE", "de");
  ui::Prompts().CmdLine_job = 1;
  std::string file = WriteMessages(MessageFile(kBasicFile));
  ASSERT_EQ(OpenStrRez(0, file), 1);
  SetRequiredLanguage("GER");
  RequireSpecificOS();
  EXPECT_EQ(base::Run().quitFlag, 0) << "the required language is the current one";

  SetRequiredLanguage("fra");
  EXPECT_EQ(Strings().lang_num_required, 1);
  EXPECT_EQ(Strings().lang_code_required, "FRA");
  RequireSpecificOS();
  EXPECT_EQ(base::Run().quitFlag, 1);
  EXPECT_TRUE(Logged("Quit from RequireSpecificOS"));
  EXPECT_TRUE(Logged("It needs Français.")) << LogText();
  EXPECT_EQ(CurrentLanguageCode(), "GER") << "the language is switched back";
  base::Run().quitFlag = 0;
  RequireSpecificOS();
  EXPECT_EQ(base::Run().quitFlag, 0) << "shown once per run";

  // Opening a message file applies a required language.
  Strings().reset();
  base::Run().reset();
  SetRequiredLanguage("FRA");
  ASSERT_EQ(OpenStrRez(0, file), 1);
  EXPECT_EQ(base::Run().quitFlag, 1);
  EXPECT_EQ(CurrentLanguageCode(), "FRA");
}

// ---- The interface-language list of the Advanced options -----------------------------------

class LanguageListTest : public StringsFixture {
 protected:
  std::vector<std::string> ListFor(const char* first_lang, int& current) {
    Strings().first_lang = first_lang;
    return Fill_ForceOSLang_List(current);
  }
  static bool Has(const std::vector<std::string>& rows, const std::string& english) {
    for (const auto& row : rows) {
      if (row == english || row.find("(" + english + ")") != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(LanguageListTest, FirstLanguageDecidesWhichScriptsAreOffered) {
  struct Case {
    const char* first_lang;
    std::size_t rows;
    std::vector<const char*> shown, hidden;
  };
  const std::vector<const char*> others = {"Mandarin -- Traditional",
                                           "Mandarin -- Simplified",
                                           "Korean",
                                           "Thai",
                                           "Arabic",
                                           "Vietnamese"};
  std::vector<const char*> eastern = others;
  eastern.push_back("Japanese");
  const Case cases[] = {
      {"ENG", 19, {}, eastern},
      {"JPN", 20, {"Japanese"}, others},
      {"RUS", 25, {"Thai", "Japanese"}, {"Vietnamese"}},
  };
  OpenIn(MessageFile(kBasicFile), "FRA");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first_lang);
    int current = -2;
    auto rows = ListFor(c.first_lang, current);
    EXPECT_EQ(rows.size(), c.rows);
    for (const char* name : c.shown) EXPECT_TRUE(Has(rows, name)) << name;
    for (const char* name : c.hidden) EXPECT_FALSE(Has(rows, name)) << name;
    ASSERT_GE(current, 0);
    EXPECT_EQ(rows[static_cast<std::size_t>(current)], "Français (French)");
  }
  int current = -2;
  auto rows = ListFor("ENG", current);
  EXPECT_EQ(rows[0], "English") << "the English row shows only its name";
  EXPECT_EQ(rows[1], "Français (French)");
  EXPECT_EQ(rows[2], "Allemand (German)");
  EXPECT_EQ(rows[3], "Indonesian (Indonesian)") << "a name without text shows in English";
  forceLanguage(0, 0, "VTN");
  ListFor("RUS", current);
  EXPECT_EQ(current, -1) << "no row for a language that is not listed";
}

TEST_F(LanguageListTest, WithoutMessageFileRowsShowEnglishNames) {
  int current = -2;
  auto rows = ListFor("ENG", current);
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[1], "French (French)");
  EXPECT_EQ(rows[static_cast<std::size_t>(current)], "English");
}

TEST_F(LanguageListTest, ChoosingARowForcesAndStoresTheLanguage) {
  OpenIn(MessageFile(kBasicFile), "FRA");
  Set_ForceOSLang("Français (French)");
  EXPECT_EQ(StoredForce(), "none") << "choosing the current language writes nothing";
  Set_ForceOSLang("Klingon");
  EXPECT_EQ(CurrentLanguageCode(), "FRA");

  Set_ForceOSLang("Allemand (German)");
  EXPECT_EQ(CurrentLanguageCode(), "GER");
  EXPECT_EQ(StoredForce(), "GER");
  Set_ForceOSLang("Portuguese (Portuguese -- Brazil)");
  EXPECT_EQ(CurrentLanguageCode(), "BRA");
  Set_ForceOSLang("Portuguese (Portuguese -- Portugal)");
  EXPECT_EQ(CurrentLanguageCode(), "PRT");
  // The next run starts in the stored language.
  Strings().reset();
  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
  EXPECT_EQ(CurrentLanguageCode(), "PRT");
}

// ---- The shipped catalog, compiled by the build into engine.luc ----------------------------

// Key -> languages that have a text, read from a compiled message file's index.
std::map<std::string, std::set<std::string>> IndexOf(const std::string& file) {
  std::map<std::string, std::set<std::string>> keys;
  std::string index = file.substr(8, std::stoul(file.substr(0, 6)));
  std::vector<std::string> tokens;
  for (std::size_t start = 0, space; (space = index.find(' ', start)) != std::string::npos;
       start = space + 1) {
    tokens.push_back(index.substr(start, space - start));
  }
  for (std::size_t i = 0; i + 1 < tokens.size();) {
    std::size_t count = std::stoul(tokens[i + 1]);
    auto& languages = keys[tokens[i]];
    for (std::size_t k = 0; k < count; ++k) languages.insert(tokens[i + 2 + 2 * k]);
    i += 2 + 2 * count;
  }
  return keys;
}

// Every "MSG_..." string literal in the project's sources, by key, with the first file using it.
// Tests and build folders are skipped, and so are the literal-text prefixes and bare prefixes
// that code completes at run time ("MSG_Multi1_" + code).
std::map<std::string, std::string> KeysUsedBySources(const fs::path& root) {
  std::map<std::string, std::string> used;
  std::regex literal("\"(MSG_[A-Za-z0-9_]*)\"");
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    const fs::path& path = it->path();
    std::string name = path.filename().string();
    if (it->is_directory()) {
      if (name == "tests" || name.rfind("build", 0) == 0 || name.front() == '.' ||
          fs::exists(path / "CMakeCache.txt")) {
        it.disable_recursion_pending();
      }
      continue;
    }
    if (path.extension() != ".cc" && path.extension() != ".h") continue;
    std::string source = ReadTestFile(path.string());
    for (std::sregex_iterator m(source.begin(), source.end(), literal), end; m != end; ++m) {
      std::string key = (*m)[1];
      if (key.back() == '_' || key.rfind("MSG_TEMP_", 0) == 0 || key.rfind("MSG_TMP1_", 0) == 0) {
        continue;
      }
      used.emplace(key, fs::relative(path, root).string());
    }
  }
  return used;
}

class MessageCatalogTest : public StringsFixture {
 protected:
  void SetUp() override {
    StringsFixture::SetUp();
    luc_ = ReadTestFile(NUVEL_ENGINE_LUC_FILE);
    ASSERT_GT(luc_.size(), 1000u) << "engine.luc was not built: " << NUVEL_ENGINE_LUC_FILE;
    ASSERT_EQ(OpenStrRez(0, NUVEL_ENGINE_LUC_FILE), 1);
  }
  std::string luc_;
};

TEST_F(MessageCatalogTest, EveryKeyTheSourcesUseHasAnEnglishText) {
  auto used = KeysUsedBySources(NUVEL_SOURCE_DIR);
  ASSERT_GE(used.size(), 10u) << "the source scan found almost nothing in " << NUVEL_SOURCE_DIR;
  std::vector<std::string> missing;
  for (const auto& [key, file] : used) {
    if (StrRezByLanguage(0, key, "ENG").empty()) missing.push_back(key + " (" + file + ")");
  }
  EXPECT_TRUE(missing.empty()) << "keys used by the code without an English text in "
                               << "data/messages/ENG.txt: " << ::testing::PrintToString(missing);
}

TEST_F(MessageCatalogTest, EachLanguageNamesItselfThroughMyLanguage) {
  const std::map<std::string, std::pair<std::string, std::string>> own = {
      {"en", {"MSG_LanguageEnglish", "English"}}, {"fr", {"MSG_LanguageFrench", "Français"}},
      {"de", {"MSG_LanguageGerman", "Deutsch"}},  {"es", {"MSG_LanguageSpanish", "Español"}},
      {"ja", {"MSG_LanguageJapanese", "日本語"}},
  };
  for (const auto& [tag, expected] : own) {
    Strings().reset();
    Setenv("LANGUAGE", tag.c_str());
    ASSERT_EQ(OpenStrRez(0, NUVEL_ENGINE_LUC_FILE), 1);
    EXPECT_EQ(Strings().first_lang_name, expected.first) << tag;
    EXPECT_EQ(StrRez(0, Strings().first_lang_name), expected.second) << tag;
  }
}

TEST_F(MessageCatalogTest, TranslationsCoverButtonsAndKeepThePlaceholdersOfEnglish) {
  auto placeholders = [](const std::string& text) {
    std::set<char> found;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] == '^' && text[i + 1] >= '0' && text[i + 1] <= '9') found.insert(text[i + 1]);
    }
    return found;
  };
  // The texts speak of "this computer" and "the system", never of a vendor's product.
  std::regex brand(R"(\b(Mac|Windows|Apple)\b)");
  for (const auto& [key, languages] : IndexOf(luc_)) {
    if (key.rfind("MSG_BUTTON_", 0) == 0 || key.rfind("MSG_DIALOG_BUTTON_", 0) == 0 ||
        key.rfind("MSG_LANGUAGE", 0) == 0) {
      for (const char* code : {"FRA", "GER", "SPN", "JPN"}) {
        EXPECT_TRUE(languages.count(code)) << key << " has no " << code << " text";
      }
    }
    std::string english = StrRezByLanguage(0, key, "ENG");
    for (const std::string& code : languages) {
      std::string text = StrRezByLanguage(0, key, code.c_str());
      EXPECT_EQ(placeholders(text), placeholders(english)) << key << " in " << code;
      EXPECT_LT(text.size(), 251u) << key << " in " << code;
      EXPECT_FALSE(std::regex_search(text, brand)) << key << " in " << code << ": " << text;
    }
  }
  EXPECT_NE(StrRezf(0, "MSG_Message_SetupComplete", {"Nuvel"}).find("Nuvel"), std::string::npos);
  EXPECT_NE(StrRezf(0, "MSG_SupportMacOSXOnly", {"4.19"}).find("4.19"), std::string::npos);
  EXPECT_NE(StrRezf(0, "MSG_SpecificOSRequired", {"Deutsch"}).find("Deutsch"), std::string::npos);
}

TEST_F(MessageCatalogTest, PlainSearchOfEveryKeyFindsItsOwnEntry) {
  // A reader that takes the first plain occurrence of "KEY " must land on the key's entry.
  std::string index = luc_.substr(8, std::stoul(luc_.substr(0, 6)));
  for (const auto& [key, languages] : IndexOf(luc_)) {
    std::size_t first = index.find(key + " ");
    ASSERT_NE(first, std::string::npos) << key;
    EXPECT_TRUE(first == 0 || index[first - 1] == ' ') << key << " occurs inside an earlier key";
  }
}

// ---- The message-file compiler -------------------------------------------------------------

class MessageCompilerTest : public StringsFixture {
 protected:
  void SetUp() override {
    StringsFixture::SetUp();
    fs::create_directories(sysroot_.path("out"));
  }
  // Runs make_luc on the catalogs; returns its exit status and keeps its error output.
  int Compile(const std::vector<std::string>& catalogs) {
    std::string command = std::string("'") + NUVEL_MAKE_LUC_TOOL + "' '" + output_ + "'";
    for (const auto& catalog : catalogs) command += " '" + catalog + "'";
    command += " 2>'" + sysroot_.path("errors.txt") + "'";
    int status = std::system(command.c_str());
    errors_ = ReadTestFile(sysroot_.path("errors.txt"));
    return status;
  }
  std::string Catalog(const std::string& name, const std::string& text) {
    std::string path = sysroot_.path("catalogs/" + name);
    WriteTestFile(path, text);
    return path;
  }

  std::string output_ = sysroot_.path("out/engine.luc");
  std::string errors_;
};

TEST_F(MessageCompilerTest, CompiledCatalogsReadBackInEveryLanguage) {
  std::string eng =
      Catalog("ENG.txt",
              "# comment\r\n\r\nMSG_A = Short\r\nMSG_AB = Longer ^1\\nline\r\n"
              "msg_empty = English only\r\nMSG_LanguageMyLanguage = Language_English\n");
  std::string fra = Catalog("fra.txt", "MSG_AB = Plus long ^1\\nligne\nMSG_Empty =\n");
  ASSERT_EQ(Compile({eng, fra}), 0) << errors_;
  ASSERT_EQ(OpenStrRez(0, output_), 1);
  forceLanguage(0, 0, "FRA");
  EXPECT_EQ(StrRez(0, "MSG_A"), "Short");
  EXPECT_EQ(StrRezf(0, "MSG_AB", {"x"}), "Plus long x\rligne");
  EXPECT_EQ(StrRez(0, "MSG_Empty"), "English only");
  EXPECT_EQ(LocalizeEnglish("MSG_AB"), "Longer ^1\rline");
  EXPECT_EQ(Strings().first_lang_name, "MSG_LanguageEnglish");
}

TEST_F(MessageCompilerTest, CatalogMistakesAreRefusedWithTheirLineAndNoOutput) {
  struct Case {
    const char* name;
    std::string text;
    const char* expected;
    bool alone;  // compiled without ENG.txt
  };
  const Case cases[] = {
      {"FRA.txt", "MSG_A = a\nMSG_A = again\n", "FRA.txt:2:", false},
      {"FRA.txt", "MSG_C = no English\n", "FRA.txt:1:", false},
      {"FRA.txt", "MSG_A = " + std::string(251, 'x') + "\n", "FRA.txt:1:", false},
      {"FRA.txt", "MSG A = space in key\n", "FRA.txt:1:", false},
      {"FRA.txt", "ENG = reads as a code\n", "FRA.txt:1:", false},
      {"FRA.txt", "MSG_A = \xC3\x28\n", "FRA.txt:1:", false},
      {"French.txt", "MSG_A = a\n", "French.txt", false},
      {"GER.txt", "MSG_A = A\n", "no English catalog", true},
      {"ENG.txt", "MSG_A = A\n\nthis line has no equals sign\n", "ENG.txt:3:", true},
  };
  std::string eng = Catalog("ENG.txt", "MSG_A = A\nMSG_B = B\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string catalog = Catalog(c.name, c.text);
    EXPECT_NE(Compile(c.alone ? std::vector<std::string>{catalog}
                              : std::vector<std::string>{eng, catalog}),
              0);
    EXPECT_NE(errors_.find(c.expected), std::string::npos) << errors_;
    EXPECT_FALSE(fs::exists(output_)) << "no message file after an error";
    fs::remove(catalog);
  }
}

}  // namespace
}  // namespace nuvel::base
