#include "base/strings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
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

// ---------------------------------------------------------------------------------------------
// Helpers

// The locale variables a test sets; restored afterwards so that tests never see each other's.
class LocaleEnvironment {
 public:
  LocaleEnvironment() {
    for (const char* name : kNames) {
      if (const char* value = std::getenv(name)) saved_[name] = value;
      ::unsetenv(name);
    }
  }
  ~LocaleEnvironment() {
    for (const char* name : kNames) {
      auto it = saved_.find(name);
      if (it != saved_.end()) {
        ::setenv(name, it->second.c_str(), 1);
      } else {
        ::unsetenv(name);
      }
    }
  }
  void Set(const char* name, const char* value) { ::setenv(name, value, 1); }

 private:
  static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  std::map<std::string, std::string> saved_;
};

struct Entry {
  std::string key;
  std::vector<std::pair<std::string, std::string>> texts;  // code, stored text
};

// A message file in the shipped layout: 6-digit index length and CR LF, the index, then the
// texts each ended by "^^" CR. `index_padding` spaces end the index (for fixed-length files).
std::string MessageFile(const std::vector<Entry>& entries, std::size_t index_padding = 0,
                        const char* header = nullptr) {
  std::string index;
  std::string data;
  for (const Entry& entry : entries) {
    index += entry.key + " " + std::to_string(entry.texts.size()) + " ";
    for (const auto& [code, text] : entry.texts) {
      index += code + " " + std::to_string(data.size()) + " ";
      data += text + "^^\r";
    }
  }
  index += std::string(index_padding, ' ');
  char digits[16];
  std::snprintf(digits, sizeof digits, "%06zu", index.size());
  return std::string(header ? header : digits) + "\r\n" + index + data;
}

// A message file with an index written by hand, followed by the given data area.
std::string RawMessageFile(const std::string& index, const std::string& data) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%06zu", index.size());
  return std::string(digits) + "\r\n" + index + data;
}

class StringsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    FindLocalNuvelDirectory();
    GetLogName();
    folder_ = Paths().localNuvelDirectory;
    records_ = GetRecordsIniFilePath();
  }
  void TearDown() override { ResetAll(); }

  static void ResetAll() {
    Strings().reset();
    Log().reset();
    Paths().reset();
    base::Run().reset();
    ui::Prompts().reset();
    FreePrivateProfile();
  }

  // Writes a message file into the sysroot and returns its path.
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

  TestSysroot sysroot_;
  LocaleEnvironment env_;
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
    {"MSG_LANGUAGEMYLANGUAGE",
     {{"ENG", "Language_English"}, {"FRA", "Language_French"}, {"GER", "Language_German"}}},
    {"MSG_LANGUAGEENGLISH", {{"ENG", "English"}, {"FRA", "Anglais"}, {"GER", "Englisch"}}},
    {"MSG_LANGUAGEFRENCH", {{"ENG", "French"}, {"FRA", "Français"}, {"GER", "Französisch"}}},
    {"MSG_LANGUAGEGERMAN", {{"ENG", "German"}, {"FRA", "Allemand"}, {"GER", "Deutsch"}}},
    {"MSG_INVALIDOS", {{"ENG", "Wrong system language."}}},
    {"MSG_SPECIFICOSREQUIRED", {{"ENG", "It needs ^1."}}},
};

// ---------------------------------------------------------------------------------------------
// Looking texts up

using StringsLookupTest = StringsFixture;

TEST_F(StringsLookupTest, KeyOnlyInEnglishGivesEnglishInEveryLanguage) {
  OpenIn(MessageFile(kBasicFile), "ENG");
  for (const char* code : {"ENG", "FRA", "GER", "JPN", "SPN", "MUL", "TAI"}) {
    forceLanguage(0, 0, code);
    EXPECT_EQ(StrRez(0, "MSG_OnlyEnglish"), "Only in English") << "interface " << code;
    EXPECT_EQ(StrRezByLanguage(0, "MSG_OnlyEnglish", code), "Only in English") << code;
  }
}

TEST_F(StringsLookupTest, TranslationIsUsedAndKeysIgnoreCase) {
  OpenIn(MessageFile(kBasicFile), "FRA");
  EXPECT_EQ(StrRez(0, "MSG_Button_OK"), "D'accord");
  EXPECT_EQ(StrRez(0, "msg_button_ok"), "D'accord");
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Button_OK", "ger"), "Gut");
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Button_OK", "MUL"), "OK") << "MUL counts as English";
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Button_OK", "JPN"), "OK") << "missing language: English";
}

TEST_F(StringsLookupTest, EmptyTranslationFallsBackToEnglish) {
  OpenIn(MessageFile(kBasicFile), "FRA");
  EXPECT_EQ(StrRez(0, "MSG_EmptyFrench"), "English stands in");
}

TEST_F(StringsLookupTest, KeyWithoutEnglishIsEmptyInOtherLanguages) {
  OpenIn(MessageFile(kBasicFile), "GER");
  EXPECT_EQ(StrRez(0, "MSG_NoEnglish"), "");
  EXPECT_TRUE(Logged("StrRezByLanguage err finding OS/Def ID: MSG_NoEnglish"));
  forceLanguage(0, 0, "FRA");
  EXPECT_EQ(StrRez(0, "MSG_NoEnglish"), "Seulement en français");
}

TEST_F(StringsLookupTest, LongTranslationIsReplacedByEnglishOnlyInStrRez) {
  std::string long_text(260, 'x');
  std::string longest_kept(250, 'y');
  OpenIn(MessageFile({{"MSG_LONG", {{"ENG", "Short English"}, {"FRA", long_text}}},
                      {"MSG_EDGE", {{"ENG", "Short English"}, {"FRA", longest_kept}}},
                      {"MSG_EDGE2", {{"ENG", "Short English"}, {"FRA", longest_kept + "z"}}}}),
         "FRA");
  EXPECT_EQ(StrRez(0, "MSG_Long"), "Short English");
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Long", nullptr), long_text);
  EXPECT_EQ(StrRez(0, "MSG_Edge"), longest_kept) << "250 bytes still fit";
  EXPECT_EQ(StrRez(0, "MSG_Edge2"), "Short English") << "251 bytes do not";
}

TEST_F(StringsLookupTest, ThaiInterfaceShowsEnglish) {
  OpenIn(MessageFile({{"MSG_HELLO", {{"ENG", "Hello"}, {"TAI", "Sawasdee"}}}}), "TAI");
  EXPECT_EQ(StrRez(0, "MSG_Hello"), "Hello");
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Hello", nullptr), "Sawasdee");
}

TEST_F(StringsLookupTest, BackslashNIsALineBreakAndOtherBackslashesStay) {
  OpenIn(MessageFile(kBasicFile), "ENG");
  EXPECT_EQ(StrRez(0, "MSG_TwoLines"), "One\rTwo C:\\dir");
}

TEST_F(StringsLookupTest, TempKeysPassTheirTextThrough) {
  EXPECT_EQ(StrRez(0, "MSG_TEMP_Literal text"), "Literal text") << "even with no file open";
  OpenIn(MessageFile(kBasicFile), "FRA");
  EXPECT_EQ(StrRez(0, "MSG_TEMP_Literal text"), "Literal text");
  EXPECT_EQ(StrRezf(0, "MSG_TMP1_^1 and ^2", {"a", "b"}), "a and b");
  EXPECT_EQ(Localize("MSG_TEMP_x"), "x");
}

TEST_F(StringsLookupTest, SlotNotOpenGivesTheKey) {
  EXPECT_EQ(StrRez(0, "MSG_Button_OK"), "MSG_Button_OK");
  EXPECT_EQ(StrRez(7, "MSG_Button_OK"), "MSG_Button_OK");
  EXPECT_EQ(StrRezf(1, "MSG_Count", {"1", "2"}), "MSG_Count");
  EXPECT_EQ(Localize("MSG_Button_OK"), "MSG_Button_OK");
  EXPECT_EQ(CurrentLanguageCode(), "ENG");
}

TEST_F(StringsLookupTest, MissingKeyIsEmptyForStrRezAndTheKeyForCallersThatShowIt) {
  OpenIn(MessageFile(kBasicFile), "ENG");
  EXPECT_EQ(StrRez(0, "MSG_Missing"), "");
  EXPECT_TRUE(Logged("StrRezByLanguage err finding ID: MSG_Missing"));
  EXPECT_EQ(PStrRez(0, "MSG_Missing"), "MSG_Missing");
  EXPECT_EQ(Localize("MSG_Missing"), "MSG_Missing");
  EXPECT_EQ(LocalizeEnglish("MSG_Missing"), "MSG_Missing");
  EXPECT_EQ(StrRez(0, ""), "");
  EXPECT_TRUE(Logged("StrRezByLanguage null ID_passed"));
}

TEST_F(StringsLookupTest, LocalizeLooksUpKeysOnlyAndLocalizeEnglishIgnoresTheInterface) {
  OpenIn(MessageFile(kBasicFile), "GER");
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
  std::string index = "MSG_MANY 31 FRA 0 ENG 8 ";
  OpenIn(RawMessageFile(index, "Merci^^\rThanks^^\r"), "FRA");
  EXPECT_EQ(StrRez(0, "MSG_Many"), "Thanks");
}

TEST_F(StringsLookupTest, HeaderOfZeroUsesTheFixedIndexLengthOfTheFileName) {
  // Index padded to 40,000 bytes: right for engine.luc, wrong for any other message file.
  std::vector<Entry> entries = {{"MSG_HI", {{"ENG", "Hi"}}}};
  std::string probe = MessageFile(entries, 0);
  std::size_t index_length = probe.size() - 8 - std::string("Hi^^\r").size();
  std::string engine = MessageFile(entries, 40000 - index_length, "000000");
  ASSERT_EQ(OpenStrRez(0, WriteMessages(engine, "engine.luc")), 1);
  EXPECT_EQ(StrRez(0, "MSG_Hi"), "Hi");
  ASSERT_EQ(OpenStrRez(1, WriteMessages(engine, "tutor.luc")), 1);
  EXPECT_EQ(StrRez(1, "MSG_Hi"), "");
  std::string tutor = MessageFile(entries, 30000 - index_length, "      ");
  CloseStrRez(1);
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
  EXPECT_TRUE(Logged("OpenStrRez OPENED (2) " + first));
  EXPECT_EQ(OpenStrRez(3, second), 1);
  EXPECT_EQ(StrRez(3, "MSG_Which"), "first") << "a slot in use is left unchanged";
  CloseStrRez(3);
  EXPECT_EQ(StrRez(3, "MSG_Which"), "MSG_Which");
  ASSERT_EQ(OpenStrRez(3, second), 1);
  EXPECT_EQ(StrRez(3, "MSG_Which"), "second");
}

// ---------------------------------------------------------------------------------------------
// Placeholders and small text helpers

using StringsFormatTest = StringsFixture;

TEST_F(StringsFormatTest, PlaceholdersAreFilledByNumber) {
  OpenIn(MessageFile(kBasicFile), "ENG");
  EXPECT_EQ(StrRezf(0, "MSG_Count", {"3", "5"}), "5 of 3");
  forceLanguage(0, 0, "FRA");
  EXPECT_EQ(StrRezf(0, "MSG_Count", {"3", "5"}), "5 sur 3");
  EXPECT_EQ(StrRezf(0, "MSG_Count", {"3"}), " sur 3") << "a missing argument is empty";
  EXPECT_EQ(StrRezf(0, "MSG_Button_OK", {"3"}), "D'accord");
}

TEST_F(StringsFormatTest, FilledTextOfFiveHundredTwelveBytesStaysUnfilled) {
  OpenIn(MessageFile(kBasicFile), "ENG");
  // "^2 of ^1" filled: 400 + 4 + 107 = 511 bytes are used, one more is not.
  EXPECT_EQ(StrRezf(0, "MSG_Count", {std::string(400, 'a'), std::string(107, 'b')}).size(), 511u);
  EXPECT_EQ(StrRezf(0, "MSG_Count", {std::string(400, 'a'), std::string(108, 'b')}), "^2 of ^1");
}

TEST_F(StringsFormatTest, CountHatsCountsCaretsBeforeDigits) {
  EXPECT_EQ(CountHats(""), 0);
  EXPECT_EQ(CountHats("^1 ^^ ^a ^9^"), 2);
  EXPECT_EQ(CountHats("^^1"), 1);
  EXPECT_EQ(CountHats("100^"), 0);
}

TEST_F(StringsFormatTest, TokenizerSplitsAndCutsTokens) {
  std::size_t state = 0;
  std::string token;
  EXPECT_EQ(Tokenizer("alpha,,gamma-long", ',', state, token, 255), 1);
  EXPECT_EQ(token, "alpha");
  EXPECT_EQ(Tokenizer("alpha,,gamma-long", ',', state, token, 255), 1);
  EXPECT_EQ(token, "");
  EXPECT_EQ(Tokenizer("alpha,,gamma-long", ',', state, token, 6), 0);
  EXPECT_EQ(token, "gamma") << "cut to size - 1";
  EXPECT_EQ(Tokenizer("alpha,,gamma-long", ',', state, token, 255), 0);
  EXPECT_EQ(token, "");
}

// ---------------------------------------------------------------------------------------------
// Damaged message files: never a read outside the file, never a crash

using MessageFileCorruptionTest = StringsFixture;

TEST_F(MessageFileCorruptionTest, HeaderLargerThanTheFileGivesEmptyTexts) {
  std::string file = MessageFile(kBasicFile, 0, "999999");
  ASSERT_EQ(OpenStrRez(0, WriteMessages(file)), 1);
  EXPECT_EQ(StrRez(0, "MSG_Button_OK"), "");
  EXPECT_TRUE(Logged("StrRezByLanguage err finding Table Position ID: MSG_Button_OK"));
}

TEST_F(MessageFileCorruptionTest, OffsetPastTheEndGivesEnglishOrNothing) {
  std::string index =
      "MSG_FAR 1 ENG 99999 MSG_FARFR 2 FRA 4000000000 ENG 0 MSG_HUGE 1 ENG "
      "99999999999999999999 ";
  OpenIn(RawMessageFile(index, "Near^^\r"), "FRA");
  EXPECT_EQ(StrRez(0, "MSG_Far"), "");
  EXPECT_TRUE(Logged("StrRezByLanguage err finding offset ID: MSG_Far"));
  EXPECT_EQ(StrRez(0, "MSG_FarFr"), "Near");
  EXPECT_EQ(StrRez(0, "MSG_Huge"), "");
}

TEST_F(MessageFileCorruptionTest, TextWithoutEndMarkerGivesNothing) {
  std::string index = "MSG_OPEN 1 ENG 0 MSG_LONG 1 ENG 10 ";
  std::string data = "Unended^^";
  OpenIn(RawMessageFile(index, data), "ENG");
  EXPECT_EQ(StrRez(0, "MSG_Open"), "");
  // A marker that follows only after more than 512 bytes does not end the text either.
  CloseStrRez(0);
  OpenIn(RawMessageFile("MSG_LONG 1 ENG 0 ", std::string(513, 'x') + "^^\r"), "ENG");
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Long", nullptr), "");
}

TEST_F(MessageFileCorruptionTest, NonNumericCountOrOffsetGivesNothing) {
  std::string index = "MSG_COUNT x ENG 0 MSG_OFFSET 1 ENG 1a MSG_SHORT 2 ENG ";
  OpenIn(RawMessageFile(index, "Text^^\r"), "ENG");
  EXPECT_EQ(StrRez(0, "MSG_Count"), "");
  EXPECT_TRUE(Logged("StrRezByLanguage err finding nNumLocalizatins ID: MSG_Count"));
  EXPECT_EQ(StrRez(0, "MSG_Offset"), "");
  EXPECT_EQ(StrRez(0, "MSG_Short"), "");
}

TEST_F(MessageFileCorruptionTest, EmptyAndTinyFilesGiveNothing) {
  for (const char* contents : {"", "0", "000012\r\nMSG"}) {
    Strings().reset();
    ASSERT_EQ(OpenStrRez(0, WriteMessages(contents)), 1);
    EXPECT_EQ(StrRez(0, "MSG_Button_OK"), "") << "file: '" << contents << "'";
  }
  EXPECT_TRUE(Logged("StrRezByLanguage err LookUpTable NULL nResource=0, ID: MSG_Button_OK"));
}

TEST_F(MessageFileCorruptionTest, TruncatedFileGivesWholeTextsOrNothing) {
  StopLogging();
  std::string full = MessageFile(kBasicFile);
  for (std::size_t size = 0; size <= full.size(); ++size) {
    Strings().reset();
    ASSERT_EQ(OpenStrRez(0, WriteMessages(full.substr(0, size))), 1);
    forceLanguage(0, 0, "FRA");
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
      ASSERT_EQ(OpenStrRez(0, WriteMessages(damaged)), 1);
      forceLanguage(0, 0, "FRA");
      for (const Entry& entry : kBasicFile) {
        EXPECT_LE(StrRezByLanguage(0, entry.key, nullptr).size(), 512u);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The interface language

using LanguageSelectionTest = StringsFixture;

TEST_F(LanguageSelectionTest, PreferredLanguagesComeFromLanguageThenTheLocale) {
  env_.Set("LANGUAGE", "xx:de::fr");
  env_.Set("LC_MESSAGES", "pt_BR.UTF-8@euro");
  env_.Set("LANG", "en_US.UTF-8");
  EXPECT_EQ(platform::PreferredLanguages(), (std::vector<std::string>{"xx", "de", "fr", "pt_BR"}));
  env_.Set("LC_ALL", "C.UTF-8");
  EXPECT_EQ(platform::PreferredLanguages(), (std::vector<std::string>{"xx", "de", "fr"}))
      << "LC_ALL=C names no language and hides LC_MESSAGES and LANG";
  env_.Set("LANGUAGE", "");
  env_.Set("LC_ALL", "");
  EXPECT_EQ(platform::PreferredLanguages(), (std::vector<std::string>{"pt_BR"}));
}

TEST_F(LanguageSelectionTest, FirstRecognisedPreferredLanguageWins) {
  env_.Set("LANGUAGE", "xx:de:fr");
  EXPECT_EQ(GetOSLang(), 3);
  EXPECT_TRUE(Logged("GetOSLang (0) status=1, langStr=xx"));
  EXPECT_TRUE(Logged("GetOSLang (1) status=1, langStr=de"));
  EXPECT_FALSE(Logged("langStr=fr")) << "the walk stops at the first match";

  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
  EXPECT_EQ(CurrentLanguageCode(), "GER");
  EXPECT_EQ(StrRez(0, "MSG_Button_OK"), "Gut");
  EXPECT_TRUE(Logged("OS Language: 3=GER"));
}

TEST_F(LanguageSelectionTest, TagsSelectTheirLanguage) {
  struct Case {
    const char* tag;
    int region;
    const char* code;
  };
  const Case cases[] = {
      {"zh_TW", 53, "MAN"},    {"zh-Hant-TW", 53, "MAN"}, {"zh_HK", 53, "MAN"},
      {"yue-Hant", 53, "MAN"}, {"zh_CN", 52, "MAS"},      {"zh", 52, "MAS"},
      {"zh-Hans", 52, "MAS"},  {"pt_BR", 71, "BRA"},      {"pt-BR", 71, "BRA"},
      {"pt", 10, "PRT"},       {"pt_PT", 10, "PRT"},      {"ja_JP", 14, "JPN"},
      {"fr_CA", 1, "FRA"},     {"es", 8, "SPN"},          {"ms_MY", 72, "MAL"},
      {"th_TH", 54, "ENG"},    {"vi", 97, "ENG"},         {"el_GR", 20, "ENG"},
      {"da", 9, "ENG"},        {"uk_UA", 62, "UKR"},      {"xx", 0, "ENG"},
  };
  std::string file = WriteMessages(MessageFile(kBasicFile));
  for (const Case& c : cases) {
    env_.Set("LANGUAGE", c.tag);
    EXPECT_EQ(GetOSLang(), c.region) << c.tag;
    Strings().reset();
    ASSERT_EQ(OpenStrRez(0, file), 1);
    EXPECT_EQ(CurrentLanguageCode(), c.code) << c.tag;
  }
}

TEST_F(LanguageSelectionTest, NoPreferenceMeansEnglish) {
  EXPECT_EQ(GetOSLang(), 0);
  env_.Set("LANG", "POSIX");
  EXPECT_EQ(GetOSLang(), 0);
}

TEST_F(LanguageSelectionTest, ForcedLanguageInRecordsIniWins) {
  env_.Set("LANGUAGE", "de");
  ForceInRecordsIni("fra");
  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
  EXPECT_EQ(CurrentLanguageCode(), "FRA");
  EXPECT_EQ(GetOSLangForced(), 1);
}

TEST_F(LanguageSelectionTest, ForcedUkrainianGivesAnEnglishInterface) {
  env_.Set("LANGUAGE", "de");
  ForceInRecordsIni("ukr");
  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
  EXPECT_EQ(CurrentLanguageCode(), "ENG");
  EXPECT_EQ(StrRez(0, "MSG_Button_OK"), "OK");
  EXPECT_EQ(GetOSLang(), 0);
}

TEST_F(LanguageSelectionTest, ForcedLanguageIsSkippedWhenNotAllowedOrUnknown) {
  env_.Set("LANGUAGE", "de");
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
  EXPECT_EQ(LanguageCodeOfRegion(71), "BRA");
  EXPECT_EQ(RegionOfLanguageCode("mas"), 52);
  EXPECT_EQ(RegionOfLanguageCode("MON"), 58);
  EXPECT_EQ(RegionOfLanguageCode("XYZ"), -1);
}

TEST_F(LanguageSelectionTest, FirstLanguageAndItsNameKeyComeFromTheFirstOpening) {
  env_.Set("LANGUAGE", "de");
  std::string file = WriteMessages(MessageFile(kBasicFile));
  ASSERT_EQ(OpenStrRez(0, file), 1);
  EXPECT_EQ(Strings().first_lang, "GER");
  EXPECT_EQ(Strings().first_lang_name, "MSG_LanguageGerman");
  EXPECT_EQ(StrRez(0, Strings().first_lang_name), "Deutsch");

  CloseStrRez(0);
  env_.Set("LANGUAGE", "fr");
  ASSERT_EQ(OpenStrRez(0, file), 1);
  EXPECT_EQ(CurrentLanguageCode(), "FRA");
  EXPECT_EQ(Strings().first_lang, "GER") << "only the first opening counts";
}

TEST_F(LanguageSelectionTest, RequiredLanguageEndsTheRunOnceWithItsName) {
  env_.Set("LANGUAGE", "de");
  ui::Prompts().CmdLine_job = 1;
  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
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
}

TEST_F(LanguageSelectionTest, RequiredLanguageThatIsCurrentShowsNothing) {
  env_.Set("LANGUAGE", "fr");
  ui::Prompts().CmdLine_job = 1;
  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
  SetRequiredLanguage("FRA");
  RequireSpecificOS();
  EXPECT_EQ(base::Run().quitFlag, 0);
}

TEST_F(LanguageSelectionTest, OpeningWithARequiredLanguageAppliesIt) {
  env_.Set("LANGUAGE", "de");
  ui::Prompts().CmdLine_job = 1;
  SetRequiredLanguage("FRA");
  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
  EXPECT_EQ(base::Run().quitFlag, 1);
  EXPECT_EQ(CurrentLanguageCode(), "FRA");
}

// ---------------------------------------------------------------------------------------------
// The interface-language list of the Advanced options

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

TEST_F(LanguageListTest, WesternFirstLanguageLeavesOutTheEasternScripts) {
  OpenIn(MessageFile(kBasicFile), "FRA");
  int current = -2;
  auto rows = ListFor("ENG", current);
  EXPECT_EQ(rows.size(), 19u);
  for (const char* hidden : {"Japanese", "Mandarin -- Traditional", "Mandarin -- Simplified",
                             "Korean", "Thai", "Arabic", "Vietnamese"}) {
    EXPECT_FALSE(Has(rows, hidden)) << hidden;
  }
  EXPECT_EQ(rows[0], "English") << "the English row shows only its name";
  EXPECT_EQ(rows[1], "Français (French)");
  EXPECT_EQ(rows[2], "Allemand (German)");
  EXPECT_EQ(rows[3], "Indonesian (Indonesian)") << "a name without text shows in English";
  ASSERT_GE(current, 0);
  EXPECT_EQ(rows[static_cast<std::size_t>(current)], "Français (French)");
}

TEST_F(LanguageListTest, EasternFirstLanguageKeepsOnlyItsOwnEasternRow) {
  OpenIn(MessageFile(kBasicFile), "ENG");
  int current = -2;
  auto rows = ListFor("JPN", current);
  EXPECT_EQ(rows.size(), 20u);
  EXPECT_TRUE(Has(rows, "Japanese"));
  for (const char* hidden : {"Mandarin -- Traditional", "Mandarin -- Simplified", "Korean", "Thai",
                             "Arabic", "Vietnamese"}) {
    EXPECT_FALSE(Has(rows, hidden)) << hidden;
  }
  EXPECT_EQ(rows[static_cast<std::size_t>(current)], "English");
}

TEST_F(LanguageListTest, OtherFirstLanguageOffersEveryRowButVietnamese) {
  OpenIn(MessageFile(kBasicFile), "ENG");
  int current = -2;
  auto rows = ListFor("RUS", current);
  EXPECT_EQ(rows.size(), 25u);
  EXPECT_TRUE(Has(rows, "Thai"));
  EXPECT_FALSE(Has(rows, "Vietnamese"));
  forceLanguage(0, 0, "VTN");
  ListFor("RUS", current);
  EXPECT_EQ(current, -1) << "no row for a language that is not listed";
}

TEST_F(LanguageListTest, ChoosingARowForcesAndStoresTheLanguage) {
  OpenIn(MessageFile(kBasicFile), "ENG");
  Set_ForceOSLang("Allemand (German)");
  EXPECT_EQ(CurrentLanguageCode(), "GER");
  std::string stored;
  GetNuvelPrivateProfileString("Records", "force_OS_lang", "", stored, 255, records_);
  EXPECT_EQ(stored, "GER");

  Set_ForceOSLang("Portuguese (Portuguese -- Brazil)");
  EXPECT_EQ(CurrentLanguageCode(), "BRA");
  Set_ForceOSLang("Portuguese (Portuguese -- Portugal)");
  EXPECT_EQ(CurrentLanguageCode(), "PRT");

  // The next run starts in the stored language.
  Strings().reset();
  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
  EXPECT_EQ(CurrentLanguageCode(), "PRT");
}

TEST_F(LanguageListTest, WithoutMessageFileRowsShowEnglishNames) {
  int current = -2;
  auto rows = ListFor("ENG", current);
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[1], "French (French)");
  EXPECT_EQ(rows[static_cast<std::size_t>(current)], "English");
}

TEST_F(LanguageListTest, ChoosingTheCurrentLanguageWritesNothing) {
  OpenIn(MessageFile(kBasicFile), "FRA");
  Set_ForceOSLang("Français (French)");
  std::string stored;
  GetNuvelPrivateProfileString("Records", "force_OS_lang", "none", stored, 255, records_);
  EXPECT_EQ(stored, "none");
  Set_ForceOSLang("Klingon");
  EXPECT_EQ(CurrentLanguageCode(), "FRA");
}

// ---------------------------------------------------------------------------------------------
// The shipped catalog, compiled by the build into engine.luc

// Key -> languages that have a text, read from a compiled message file's index.
std::map<std::string, std::set<std::string>> IndexOf(const std::string& file) {
  std::map<std::string, std::set<std::string>> keys;
  std::size_t length = std::stoul(file.substr(0, 6));
  std::string index = file.substr(8, length);
  std::vector<std::string> tokens;
  std::size_t start = 0;
  for (std::size_t space; (space = index.find(' ', start)) != std::string::npos;) {
    tokens.push_back(index.substr(start, space - start));
    start = space + 1;
  }
  for (std::size_t i = 0; i + 1 < tokens.size();) {
    std::string key = tokens[i];
    std::size_t count = std::stoul(tokens[i + 1]);
    auto& languages = keys[key];
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

// The keys of `used` that have no English text in slot 0.
std::vector<std::string> WithoutEnglish(const std::map<std::string, std::string>& used) {
  std::vector<std::string> missing;
  for (const auto& [key, file] : used) {
    if (StrRezByLanguage(0, key, "ENG").empty()) missing.push_back(key + " (" + file + ")");
  }
  return missing;
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
  auto missing = WithoutEnglish(used);
  EXPECT_TRUE(missing.empty()) << "keys used by the code without an English text in "
                               << "data/messages/ENG.txt: " << ::testing::PrintToString(missing);
}

TEST_F(MessageCatalogTest, SourceScanReportsAKeyTheCatalogLacks) {
  WriteTestFile(sysroot_.path("src/setup/flow.cc"),
                "Show(\"MSG_Button_OK\"); Show(\"MSG_NoSuchKeyAnywhere\"); "
                "Show(\"MSG_TEMP_literal\"); Show(\"MSG_Multi1_\" + code);");
  WriteTestFile(sysroot_.path("src/tests/x_test.cc"), "Show(\"MSG_OnlyInATest\");");
  WriteTestFile(sysroot_.path("src/build/gen.h"), "Show(\"MSG_OnlyInABuild\");");
  auto used = KeysUsedBySources(sysroot_.path("src"));
  EXPECT_EQ(used.size(), 2u) << ::testing::PrintToString(used);
  EXPECT_EQ(WithoutEnglish(used),
            (std::vector<std::string>{"MSG_NoSuchKeyAnywhere (setup/flow.cc)"}));
}

TEST_F(MessageCatalogTest, EachLanguageNamesItselfThroughMyLanguage) {
  const std::map<std::string, std::pair<std::string, std::string>> own = {
      {"en", {"MSG_LanguageEnglish", "English"}}, {"fr", {"MSG_LanguageFrench", "Français"}},
      {"de", {"MSG_LanguageGerman", "Deutsch"}},  {"es", {"MSG_LanguageSpanish", "Español"}},
      {"ja", {"MSG_LanguageJapanese", "日本語"}},
  };
  for (const auto& [tag, expected] : own) {
    Strings().reset();
    env_.Set("LANGUAGE", tag.c_str());
    ASSERT_EQ(OpenStrRez(0, NUVEL_ENGINE_LUC_FILE), 1);
    EXPECT_EQ(Strings().first_lang_name, expected.first) << tag;
    EXPECT_EQ(StrRez(0, Strings().first_lang_name), expected.second) << tag;
  }
}

TEST_F(MessageCatalogTest, TranslationsCoverButtonsAndLanguageNames) {
  auto keys = IndexOf(luc_);
  for (const char* code : {"FRA", "GER", "SPN", "JPN"}) {
    for (const auto& [key, languages] : keys) {
      bool required = key.rfind("MSG_BUTTON_", 0) == 0 || key.rfind("MSG_DIALOG_BUTTON_", 0) == 0 ||
                      key.rfind("MSG_LANGUAGE", 0) == 0;
      if (required) {
        EXPECT_TRUE(languages.count(code)) << key << " has no " << code << " text";
      }
    }
  }
}

TEST_F(MessageCatalogTest, TranslationsKeepThePlaceholdersOfEnglish) {
  auto placeholders = [](const std::string& text) {
    std::multiset<char> found;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] == '^' && text[i + 1] >= '0' && text[i + 1] <= '9') found.insert(text[i + 1]);
    }
    return std::set<char>(found.begin(), found.end());
  };
  for (const auto& [key, languages] : IndexOf(luc_)) {
    std::string english = StrRezByLanguage(0, key, "ENG");
    for (const std::string& code : languages) {
      std::string text = StrRezByLanguage(0, key, code.c_str());
      EXPECT_EQ(placeholders(text), placeholders(english)) << key << " in " << code;
      EXPECT_LT(text.size(), 251u) << key << " in " << code;
    }
  }
}

TEST_F(MessageCatalogTest, PlainSearchOfEveryKeyFindsItsOwnEntry) {
  // A reader that takes the first plain occurrence of "KEY " must land on the key's entry.
  std::size_t length = std::stoul(luc_.substr(0, 6));
  std::string index = luc_.substr(8, length);
  for (const auto& [key, languages] : IndexOf(luc_)) {
    std::size_t first = index.find(key + " ");
    ASSERT_NE(first, std::string::npos) << key;
    EXPECT_TRUE(first == 0 || index[first - 1] == ' ') << key << " occurs inside an earlier key";
  }
}

TEST_F(MessageCatalogTest, ShippedTextsFitTheirUse) {
  EXPECT_NE(StrRezf(0, "MSG_Message_SetupComplete", {"Nuvel"}).find("Nuvel"), std::string::npos);
  EXPECT_NE(StrRezf(0, "MSG_SupportMacOSXOnly", {"4.19"}).find("4.19"), std::string::npos);
  EXPECT_NE(StrRezf(0, "MSG_SpecificOSRequired", {"Deutsch"}).find("Deutsch"), std::string::npos);
  // The texts speak of "this computer" and "the system", never of a vendor's product.
  std::regex brand(R"(\b(Mac|Windows|Apple)\b)");
  for (const auto& [key, languages] : IndexOf(luc_)) {
    for (const std::string& code : languages) {
      std::string text = StrRezByLanguage(0, key, code.c_str());
      EXPECT_FALSE(std::regex_search(text, brand)) << key << " in " << code << ": " << text;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The message-file compiler

class MessageCompilerTest : public StringsFixture {
 protected:
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
  fs::create_directories(sysroot_.path("out"));
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

TEST_F(MessageCompilerTest, MalformedLineIsReportedWithItsLineNumber) {
  fs::create_directories(sysroot_.path("out"));
  std::string eng = Catalog("ENG.txt", "MSG_A = A\n\nthis line has no equals sign\n");
  EXPECT_NE(Compile({eng}), 0);
  EXPECT_NE(errors_.find("ENG.txt:3:"), std::string::npos) << errors_;
  EXPECT_FALSE(fs::exists(output_)) << "no message file after an error";
}

TEST_F(MessageCompilerTest, CatalogMistakesAreRefused) {
  fs::create_directories(sysroot_.path("out"));
  std::string eng = Catalog("ENG.txt", "MSG_A = A\nMSG_B = B\n");
  struct Case {
    const char* name;
    std::string text;
    const char* expected;
  };
  const Case cases[] = {
      {"FRA.txt", "MSG_A = a\nMSG_A = again\n", "FRA.txt:2:"},
      {"FRA.txt", "MSG_C = no English\n", "FRA.txt:1:"},
      {"FRA.txt", "MSG_A = " + std::string(251, 'x') + "\n", "FRA.txt:1:"},
      {"FRA.txt", "MSG A = space in key\n", "FRA.txt:1:"},
      {"FRA.txt", "ENG = reads as a code\n", "FRA.txt:1:"},
      {"FRA.txt", "MSG_A = \xC3\x28\n", "FRA.txt:1:"},
      {"French.txt", "MSG_A = a\n", "French.txt"},
  };
  for (const Case& c : cases) {
    EXPECT_NE(Compile({eng, Catalog(c.name, c.text)}), 0) << c.text;
    EXPECT_NE(errors_.find(c.expected), std::string::npos) << c.text << " -> " << errors_;
    fs::remove(sysroot_.path(std::string("catalogs/") + c.name));
  }
  EXPECT_NE(Compile({Catalog("GER.txt", "MSG_A = A\n")}), 0) << "English is required";
}

}  // namespace
}  // namespace nuvel::base
