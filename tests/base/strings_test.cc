#include "base/strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "platform/locale.h"
#include "tests/support/module_state.h"
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
  }
  void TearDown() override {
    ResetAll();
    for (const char* name : kLocale) {
      auto it = saved_env_.find(name);
      it != saved_env_.end() ? ::setenv(name, it->second.c_str(), 1) : ::unsetenv(name);
    }
  }
  static void Setenv(const char* name, const char* value) { ::setenv(name, value, 1); }

  static void ResetAll() { nuvel::testing::ResetBaseModules(); }

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

  bool Logged(const std::string& text) {
    return ReadTestFile(Paths().localNuvelDirectory + "Nuvel_log.txt").find(text) !=
           std::string::npos;
  }

  // force_OS_lang of records.ini ("none" when absent), after storing `code` there if given.
  std::string ForcedInRecordsIni(const char* code = nullptr) {
    std::string value = code ? code : "", records = GetRecordsIniFilePath();
    if (code) WriteNuvelPrivateProfileString("Records", "force_OS_lang", value, records);
    GetNuvelPrivateProfileString("Records", "force_OS_lang", "none", value, 255, records);
    return value;
  }

  TestSysroot sysroot_;
  std::map<std::string, std::string> saved_env_;
};

const std::vector<Entry> kBasicFile = {
    {"MSG_BUTTON_OK", {{"ENG", "OK"}, {"FRA", "D'accord"}, {"GER", "Gut"}, {"TAI", "Sawasdee"}}},
    {"MSG_ONLYENGLISH", {{"ENG", "Only in\\nEnglish C:\\dir"}}},
    {"MSG_EMPTYFRENCH", {{"FRA", ""}, {"ENG", "English stands in"}}},
    {"MSG_COUNT", {{"ENG", "^2 of ^1"}, {"FRA", "^2 sur ^1"}}},
    {"MSG_NOENGLISH", {{"FRA", "Seulement en français"}}},
    {"MSG_LANGUAGEFRENCH", {{"ENG", "French"}, {"FRA", "Français"}, {"GER", "Französisch"}}},
    {"MSG_LANGUAGEGERMAN", {{"ENG", "German"}, {"FRA", "Allemand"}, {"GER", "Deutsch"}}},
    {"MSG_SPECIFICOSREQUIRED", {{"ENG", "It needs ^1."}}},
};

// ---- Looking texts up ----------------------------------------------------------------------

using StringsLookupTest = StringsFixture;

TEST_F(StringsLookupTest, FallBacksAndPlaceholders) {
  // Without an open slot every caller gets the compiled-in English text, placeholders filled;
  // only a key the catalog does not know comes back as itself. Literal keys pass their text.
  EXPECT_EQ(StrRez(0, "MSG_TEMP_Literal text"), "Literal text");
  EXPECT_EQ(StrRez(0, "MSG_Button_OK"), "OK");
  EXPECT_EQ(StrRez(7, "msg_button_ok"), "OK");
  EXPECT_EQ(Localize("MSG_Message_SetupIncomplete"), "Setup is incomplete.");
  EXPECT_EQ(StrRezf(0, "MSG_Message_NoCoursesOnSource", {"/media/disc"}),
            "No courses were found on the installation source: /media/disc");
  EXPECT_EQ(StrRez(0, "MSG_Missing"), "MSG_Missing");

  OpenIn(MessageFile(kBasicFile), "ENG");
  // An open file without the text (an older message file) also shows the compiled-in one.
  EXPECT_EQ(PStrRez(0, "MSG_Message_SetupIncomplete"), "Setup is incomplete.");
  EXPECT_EQ(LocalizeEnglish("MSG_Button_Cancel"), "Cancel");
  EXPECT_EQ(StrRez(0, "MSG_Missing"), "");
  EXPECT_TRUE(Logged("StrRezByLanguage err finding ID: MSG_Missing"));
  EXPECT_EQ(Localize("MSG_Missing"), "MSG_Missing");
  EXPECT_EQ(LocalizeEnglish("MSG_Missing"), "MSG_Missing");
  EXPECT_EQ(LocalizeEnglish("C:\\MSG_Button_OK"), "C:\\MSG_Button_OK") << "keys only";
  EXPECT_EQ(StrRez(0, ""), "");
  EXPECT_TRUE(Logged("StrRezByLanguage null ID_passed"));

  // A translation, else English.
  auto in = [](const char* interface, const char* key) {
    forceLanguage(0, 0, interface);
    return StrRez(0, key);
  };
  EXPECT_EQ(in("FRA", "msg_button_ok"), "D'accord");
  EXPECT_EQ(in("FRA", "MSG_EmptyFrench"), "English stands in");
  EXPECT_EQ(in("GER", "MSG_NoEnglish"), "");
  EXPECT_EQ(in("FRA", "MSG_NoEnglish"), "Seulement en français");
  EXPECT_EQ(in("JPN", "MSG_OnlyEnglish"), "Only in\rEnglish C:\\dir")
      << "\"\\n\" is a line break, \"\\d\" stays";
  EXPECT_EQ(in("TAI", "MSG_Button_OK"), "OK") << "a Thai interface shows English";
  EXPECT_TRUE(Logged("StrRezByLanguage err finding OS/Def ID: MSG_NoEnglish"));
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Button_OK", nullptr), "Sawasdee")
      << "only StrRez shows English";
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Button_OK", "ger"), "Gut");
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Button_OK", "MUL"), "OK") << "MUL counts as English";

  forceLanguage(0, 0, "ENG");
  EXPECT_EQ(StrRezf(0, "MSG_Count", {"3", "5"}), "5 of 3");
  // "^2 of ^1" filled: 400 + 4 + 107 = 511 bytes are used, one more is not.
  EXPECT_EQ(StrRezf(0, "MSG_Count", {std::string(400, 'a'), std::string(107, 'b')}).size(), 511u);
  EXPECT_EQ(StrRezf(0, "MSG_Count", {std::string(400, 'a'), std::string(108, 'b')}), "^2 of ^1");
  forceLanguage(0, 0, "FRA");
  EXPECT_EQ(StrRezf(0, "MSG_Count", {"3"}), " sur 3") << "a missing argument is empty";
  EXPECT_EQ(StrRezf(0, "MSG_Button_OK", {"3"}), "D'accord");
}

TEST_F(StringsLookupTest, KeysAreWholeTokensAndTooManyLanguagesOrLongTextsMeanEnglish) {
  // MSG_A is a prefix of MSG_AB and a suffix of XMSG_A, and both come first in the index.
  OpenIn(RawMessageFile("XMSG_A 1 ENG 0 MSG_AB 1 ENG 4 MSG_A 1 ENG 9 MSG_MANY 31 FRA 13 ENG 21 ",
                        "x^^\rab^^\ra^^\rMerci^^\rThanks^^\r"),
         "FRA");
  EXPECT_EQ(StrRez(0, "MSG_A"), "a");
  EXPECT_EQ(StrRez(0, "MSG_AB"), "ab");
  EXPECT_EQ(StrRez(0, "XMSG_A"), "x");
  EXPECT_EQ(StrRez(0, "MSG_"), "");
  EXPECT_EQ(StrRez(0, "MSG_Many"), "Thanks") << "more than 30 languages";

  // A translation of more than 250 bytes is replaced by English, but only in StrRez.
  std::string longest_kept(250, 'y');
  Strings().reset();
  OpenIn(MessageFile({{"MSG_EDGE", {{"ENG", "Short English"}, {"FRA", longest_kept}}},
                      {"MSG_LONG", {{"ENG", "Short English"}, {"FRA", longest_kept + "z"}}}}),
         "FRA");
  EXPECT_EQ(StrRez(0, "MSG_Edge"), longest_kept);
  EXPECT_EQ(StrRez(0, "MSG_Long"), "Short English");
  EXPECT_EQ(StrRezByLanguage(0, "MSG_Long", nullptr), longest_kept + "z");
}

TEST_F(StringsLookupTest, OpeningSlotsAndTheIndexLengthOfAHeaderOfZero) {
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

  // Indexes padded to 40,000 bytes for engine.luc and 30,000 for any other message file.
  std::vector<Entry> entries = {{"MSG_HI", {{"ENG", "Hi"}}}};
  std::size_t index_length = MessageFile(entries).size() - 8 - std::string("Hi^^\r").size();
  std::string engine = MessageFile(entries, 40000 - index_length, "000000");
  ASSERT_EQ(OpenStrRez(0, WriteMessages(engine, "engine.luc")), 1);
  EXPECT_EQ(StrRez(0, "MSG_Hi"), "Hi");
  std::string tutor = MessageFile(entries, 30000 - index_length, "      ");
  ASSERT_EQ(OpenStrRez(1, WriteMessages(tutor, "tutor.luc")), 1);
  EXPECT_EQ(StrRez(1, "MSG_Hi"), "Hi");
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
  // Longer tags win over their prefixes, case is ignored, and some regions show English.
  const std::tuple<const char*, int, const char*> cases[] = {
      {"zh_TW", 53, "MAN"}, {"zh_hk", 53, "MAN"},   {"zh", 52, "MAS"},    {"pt-BR", 71, "BRA"},
      {"pt", 10, "PRT"},    {"th_TH", 54, "ENG"},   {"el_GR", 20, "ENG"}, {"uk_UA", 62, "UKR"},
      {"xx", 0, "ENG"},     {"xx:de:fr", 3, "GER"},
  };
  std::string file = WriteMessages(MessageFile(kBasicFile));
  for (const auto& [tag, region, code] : cases) {
    Setenv("LANGUAGE", tag);
    EXPECT_EQ(GetOSLang(), region) << tag;
    Strings().reset();
    ASSERT_EQ(OpenStrRez(0, file), 1);
    EXPECT_EQ(CurrentLanguageCode(), code) << tag;
  }
  EXPECT_FALSE(Logged("langStr=fr\r\n")) << "the walk stops at the first match";
}

TEST_F(LanguageSelectionTest, ForcedLanguageFromRecordsIniOrTheCaller) {
  Setenv("LANGUAGE", "de");
  ForcedInRecordsIni("fra");
  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
  EXPECT_EQ(CurrentLanguageCode(), "FRA");
  EXPECT_EQ(GetOSLangForced(), 1);

  ForcedInRecordsIni("xyz");
  EXPECT_EQ(GetOSLangForced(), -1);
  EXPECT_EQ(GetOSLang(), 3);
  ForcedInRecordsIni("FRA");
  SetRequiredLanguage("SPN");
  EXPECT_EQ(GetOSLangForced(), -1) << "a required language ignores the forced one";

  // Forcing by code or by region.
  EXPECT_EQ(forceLanguage(0, 0, "jpn"), 1) << "the previous region";
  EXPECT_EQ(CurrentLanguageCode(), "JPN");
  EXPECT_EQ(forceLanguage(0, 0, "GEN"), 14);
  EXPECT_EQ(CurrentLanguageCode(), "ENG");
  forceLanguage(0, kRegionEnglish, nullptr);
  EXPECT_EQ(CurrentLanguageCode(), "ENG");
  EXPECT_EQ(forceLanguage(1, 3, "GER"), 0) << "a closed slot is left alone";
}

TEST_F(LanguageSelectionTest, RequiredLanguageEndsTheRunOnceWithItsName) {
  Setenv("LANGUAGE", "de");
  ui::ShowBaseNotices();  // as a run has it once its back end is set
  ui::Prompts().CmdLine_job = 1;
  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
  SetRequiredLanguage("GER");
  RequireSpecificOS();
  EXPECT_EQ(base::Run().quitFlag, 0) << "the required language is the current one";

  SetRequiredLanguage("fra");
  RequireSpecificOS();
  EXPECT_EQ(base::Run().quitFlag, 1);
  EXPECT_TRUE(Logged("It needs Français."));
  EXPECT_EQ(CurrentLanguageCode(), "GER") << "the language is switched back";
  base::Run().quitFlag = 0;
  RequireSpecificOS();
  EXPECT_EQ(base::Run().quitFlag, 0) << "shown once per run";
}

// ---- The interface-language list of the Advanced options -----------------------------------

TEST_F(LanguageSelectionTest, FirstLanguageOfTheRunDecidesWhichScriptsAreOffered) {
  Setenv("LANGUAGE", "ja");
  ASSERT_EQ(OpenStrRez(0, WriteMessages(MessageFile(kBasicFile))), 1);
  CloseStrRez(0);
  Setenv("LANGUAGE", "de");
  OpenIn(MessageFile(kBasicFile), "FRA");
  EXPECT_EQ(Strings().first_lang, "JPN") << "only the first opening counts";

  // Eastern systems get only their own eastern script, western ones none, others every one.
  std::vector<std::string> rows;
  int current = -2;
  for (auto [first, count, shown, hidden] :
       {std::tuple("JPN", 20u, "Japanese (Japanese)", "Thai (Thai)"),
        std::tuple("RUS", 25u, "Thai (Thai)", "Vietnamese (Vietnamese)"),
        std::tuple("ENG", 19u, "Italian (Italian)", "Korean (Korean)")}) {
    SCOPED_TRACE(first);
    Strings().first_lang = first;
    rows = Fill_ForceOSLang_List(current);
    EXPECT_EQ(rows.size(), count);
    EXPECT_NE(std::find(rows.begin(), rows.end(), shown), rows.end()) << shown;
    EXPECT_EQ(std::find(rows.begin(), rows.end(), hidden), rows.end()) << hidden;
    ASSERT_GE(current, 0);
    EXPECT_EQ(rows[static_cast<std::size_t>(current)], "Français (French)");
  }
  EXPECT_EQ(rows[0], "English") << "the English row shows only its name";
  EXPECT_EQ(rows[2], "Allemand (German)") << "names are in the interface language";
  forceLanguage(0, 0, "VTN");
  Fill_ForceOSLang_List(current);
  EXPECT_EQ(current, -1) << "no row for a language that is not listed";
}

TEST_F(LanguageSelectionTest, ChoosingARowForcesAndStoresTheLanguage) {
  OpenIn(MessageFile(kBasicFile), "FRA");
  Set_ForceOSLang("Français (French)");
  EXPECT_EQ(ForcedInRecordsIni(), "none") << "choosing the current language writes nothing";
  Set_ForceOSLang("Klingon");
  EXPECT_EQ(CurrentLanguageCode(), "FRA");

  Set_ForceOSLang("Allemand (German)");
  EXPECT_EQ(CurrentLanguageCode(), "GER");
  EXPECT_EQ(ForcedInRecordsIni(), "GER");
  // The Brazilian row is told from the Portuguese one by its closing name.
  Set_ForceOSLang("Portuguese (Portuguese -- Brazil)");
  EXPECT_EQ(CurrentLanguageCode(), "BRA");
  EXPECT_EQ(ForcedInRecordsIni(), "BRA");
}

// ---- The shipped catalog, compiled by the build into engine.luc ----------------------------

// Every "MSG_..." string literal in the project's sources (tests and build folders aside), by
// key, with the first file using it. Literal-text prefixes and bare prefixes that code
// completes at run time ("MSG_Multi1_" + code) are left out.
std::map<std::string, std::string> KeysUsedBySources(const fs::path& root) {
  std::map<std::string, std::string> used;
  const std::regex literal("\"(MSG_[A-Za-z0-9_]*)\"");
  for (const fs::directory_entry& top : fs::directory_iterator(root)) {
    std::string name = top.path().filename().string();
    if (!top.is_directory() || name == "tests" || name.rfind("build", 0) == 0 || name[0] == '.' ||
        fs::exists(top.path() / "CMakeCache.txt")) {
      continue;
    }
    for (const fs::directory_entry& file : fs::recursive_directory_iterator(top.path())) {
      if (file.path().extension() != ".cc" && file.path().extension() != ".h") continue;
      std::string source = ReadTestFile(file.path().string());
      for (std::sregex_iterator m(source.begin(), source.end(), literal), end; m != end; ++m) {
        std::string key = (*m)[1];
        if (key.back() != '_' && key.rfind("MSG_TEMP_", 0) != 0 && key.rfind("MSG_TMP1_", 0) != 0) {
          used.emplace(key, fs::relative(file.path(), root).string());
        }
      }
    }
  }
  return used;
}

using MessageCatalogTest = StringsFixture;

TEST_F(MessageCatalogTest, EveryKeyTheSourcesUseHasAnEnglishText) {
  ASSERT_EQ(OpenStrRez(0, NUVEL_ENGINE_LUC_FILE), 1) << "not built: " << NUVEL_ENGINE_LUC_FILE;
  auto used = KeysUsedBySources(NUVEL_SOURCE_DIR);
  ASSERT_GE(used.size(), 10u) << "the source scan found almost nothing in " << NUVEL_SOURCE_DIR;
  std::vector<std::string> missing;
  for (const auto& [key, file] : used) {
    if (StrRezByLanguage(0, key, "ENG").empty()) missing.push_back(key + " (" + file + ")");
  }
  EXPECT_TRUE(missing.empty()) << "keys used by the code without an English text in "
                               << "data/messages/ENG.txt: " << ::testing::PrintToString(missing);
}

TEST_F(MessageCatalogTest, TranslationsCoverButtonsAndKeepThePlaceholdersOfEnglish) {
  ASSERT_EQ(OpenStrRez(0, NUVEL_ENGINE_LUC_FILE), 1) << "not built: " << NUVEL_ENGINE_LUC_FILE;
  const std::string luc = ReadTestFile(NUVEL_ENGINE_LUC_FILE);
  auto placeholders = [hat = std::regex(R"(\^[0-9])")](const std::string& text) {
    std::set<std::string> found;
    for (std::sregex_iterator m(text.begin(), text.end(), hat), end; m != end; ++m)
      found.insert(m->str());
    return found;
  };
  std::istringstream tokens(luc.substr(8, std::stoul(luc.substr(0, 6))));
  std::string key, code, offset;
  std::size_t keys = 0;
  for (std::size_t count; tokens >> key >> count; ++keys) {
    std::set<std::string> languages;
    for (std::size_t k = 0; k < count && tokens >> code >> offset; ++k) languages.insert(code);
    bool everywhere = key.rfind("MSG_BUTTON_", 0) == 0 || key.rfind("MSG_DIALOG_BUTTON_", 0) == 0 ||
                      key.rfind("MSG_LANGUAGE", 0) == 0;
    for (const char* wanted : {"FRA", "GER", "SPN", "JPN"}) {
      EXPECT_TRUE(!everywhere || languages.count(wanted)) << key << " has no " << wanted << " text";
    }
    std::string english = StrRezByLanguage(0, key, "ENG");
    for (const std::string& language : languages) {
      std::string text = StrRezByLanguage(0, key, language.c_str());
      EXPECT_EQ(placeholders(text), placeholders(english)) << key << " in " << language;
    }
  }
  EXPECT_GE(keys, 100u) << "the index was not read";
}

// The message-file compiler refuses a mistaken catalog, names its line and writes nothing, so a
// broken catalog fails the build instead of shipping a message file with gaps.
TEST_F(StringsFixture, CatalogMistakesAreRefusedWithTheirLineAndNoOutput) {
  const std::string output = sysroot_.path("out/engine.luc");
  fs::create_directories(sysroot_.path("out"));
  auto catalog = [&](const std::string& name, const std::string& text) {
    WriteTestFile(sysroot_.path("catalogs/" + name), text);
    return sysroot_.path("catalogs/" + name);
  };
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
      {"FRA.txt", "MSG_A = \xC3\x28\n", "FRA.txt:1:", false},
      {"French.txt", "MSG_A = a\n", "French.txt", false},
      {"GER.txt", "MSG_A = A\n", "no English catalog", true},
      {"ENG.txt", "MSG_A = A\n\nthis line has no equals sign\n", "ENG.txt:3:", true},
  };
  const std::string eng = catalog("ENG.txt", "MSG_A = A\nMSG_B = B\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string command = std::string("'") + NUVEL_MAKE_LUC_TOOL + "' '" + output + "'";
    if (!c.alone) command += " '" + eng + "'";
    command += " '" + catalog(c.name, c.text) + "' 2>'" + sysroot_.path("errors.txt") + "'";
    EXPECT_NE(std::system(command.c_str()), 0);
    const std::string errors = ReadTestFile(sysroot_.path("errors.txt"));
    EXPECT_NE(errors.find(c.expected), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists(output)) << "no message file after an error";
    fs::remove(sysroot_.path(std::string("catalogs/") + c.name));
  }
}

}  // namespace
}  // namespace nuvel::base
