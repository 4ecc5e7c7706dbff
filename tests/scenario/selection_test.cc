// Scenarios of the selection chain on the generated sample source, driven by answer files: the
// family dialog (order, sizes, installed marks), the version of a course held in two versions,
// the support languages of a multilingual course and the forced limit on them. Every case ends
// by looking at what was installed, so a choice shown but not honoured is caught too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/scenario/scenario.h"
#include "tests/support/test_env.h"

namespace nuvel::testing {
namespace {

namespace fs = std::filesystem;

// The family table the installer is built with, read here to know which families the sample
// source holds and how large each is.
struct FamilyData {
  std::string_view number;
  std::string_view name;
  std::string_view code;
  int present;
  int order;
  int installed;
  int sizeMB;
  int reserved;
  int selected;
};
#include "data/families.inc"

// ---- Reading the transcript -------------------------------------------------------------------

void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Decodes the JSON string whose opening quote is at `at`; leaves `at` after the closing quote.
std::string JsonString(const std::string& text, std::size_t& at) {
  std::string out;
  ++at;
  while (at < text.size() && text[at] != '"') {
    char c = text[at++];
    if (c != '\\' || at >= text.size()) {
      out += c;
      continue;
    }
    char e = text[at++];
    switch (e) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'u':
        AppendUtf8(out, static_cast<unsigned>(std::stoul(text.substr(at, 4), nullptr, 16)));
        at += 4;
        break;
      default:
        out += e;
        break;
    }
  }
  ++at;
  return out;
}

// The strings of the array `"key":[...]` in one transcript line (the first such key).
std::vector<std::string> JsonStringArray(const std::string& line, const std::string& key) {
  std::vector<std::string> out;
  std::size_t at = line.find("\"" + key + "\":[");
  if (at == std::string::npos) return out;
  at += key.size() + 4;
  while (at < line.size() && line[at] != ']') {
    if (line[at] == '"') {
      out.push_back(JsonString(line, at));
    } else {
      ++at;
    }
  }
  return out;
}

// The value of the string field `"key":"..."` in one transcript line.
std::string JsonField(const std::string& line, const std::string& key) {
  std::size_t at = line.find("\"" + key + "\":\"");
  if (at == std::string::npos) return "";
  at += key.size() + 3;  // the opening quote of the value
  return JsonString(line, at);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string WithCommas(int value) {
  std::string digits = std::to_string(value), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

class SelectionScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult made = RunBinary(NUVEL_SAMPLE_SOURCE_TOOL, {sysroot_.path("source")});
    ASSERT_EQ(made.status, 0) << made.output;
  }

  std::string Source(const std::string& relative) { return sysroot_.path("source/" + relative); }
  std::string Installed(const std::string& relative) {
    return sysroot_.path("opt/Nuvel/" + relative);
  }

  // Sets one option of the source's setup.ini (section Nuvel), replacing the generator's value.
  void SetSourceOption(const std::string& key, const std::string& value) {
    RunResult set =
        RunBinary(NUVEL_INI_BINARY, {"set", Source("install/data/setup.ini"), "Nuvel", key, value});
    ASSERT_EQ(set.status, 0) << set.output;
  }

  RunResult Setup(const std::string& answers) {
    std::string answer_file = sysroot_.path("answers.txt");
    // The sample source offers its placement test after the first course: declined.
    WriteTestFile(answer_file, "prompt:MSG_Message_AboutToInstallPT -> 2\n" + answers);
    WriteTestFile(Transcript(), "");
    return RunBinary(NUVEL_SETUP_BINARY, {"--source", sysroot_.path("source"), "--answers",
                                          answer_file, "--transcript", Transcript()});
  }

  std::string Transcript() { return sysroot_.path("transcript.jsonl"); }
  std::string Log() { return ReadTestFile(Installed("Nuvel_log.txt")); }

  // The transcript lines of every dialog named `name`, in the order shown.
  std::vector<std::string> Dialogs(const std::string& name) {
    std::vector<std::string> found;
    for (const std::string& line : FileLines(Transcript())) {
      if (line.rfind("{\"dialog\":\"" + name + "\"", 0) == 0) found.push_back(line);
    }
    return found;
  }

  // The family rows of the product folders of the source (install/data/NNN...): one row per
  // family, sorted by name without regard to case, equal names in table order.
  std::vector<const FamilyData*> FamiliesOnSource() {
    std::set<std::string> numbers;
    for (const auto& entry : fs::directory_iterator(Source("install/data"))) {
      std::string name = entry.path().filename().string();
      if (entry.is_directory() && name.size() == 8 &&
          std::isdigit(static_cast<unsigned char>(name[0])) &&
          std::isdigit(static_cast<unsigned char>(name[1])) &&
          std::isdigit(static_cast<unsigned char>(name[2]))) {
        numbers.insert(name.substr(0, 3));
      }
    }
    std::vector<const FamilyData*> rows;
    for (const FamilyData& row : kFamilyData) {
      if (numbers.count(std::string(row.number))) rows.push_back(&row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const FamilyData* a, const FamilyData* b) {
      return Lower(std::string(a->name)) < Lower(std::string(b->name));
    });
    return rows;
  }

  // The family dialog's lines of a discless installation before anything is installed.
  std::vector<std::string> ExpectedDisclessFamilyLines() {
    std::vector<std::string> lines;
    for (const FamilyData* row : FamiliesOnSource()) {
      lines.push_back(std::string(row->name) + "\t\t" + WithCommas(row->sizeMB) + " MB\t\t");
    }
    return lines;
  }

  int FamilyRow(const std::string& name) {
    auto rows = FamiliesOnSource();
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i]->name == name) return static_cast<int>(i);
    }
    ADD_FAILURE() << "the source holds no family '" << name << "'";
    return 0;
  }

  bool LogHas(const std::string& text) { return Log().find(text) != std::string::npos; }

  TestSysroot sysroot_;
};

constexpr const char* kLevel3 = "English Foundations, Level 3";

// Welcome, Install Options, then the family dialog cancelled: back to Install Options, cancelled
// too, and Quit. Only the family dialog's lines are of interest.
constexpr const char* kLookAtFamiliesOnly =
    "welcome -> 1\n"
    "welcome -> 2\n"
    "install-options -> 1\n"
    "install-options -> 2\n"
    "prompt:MSG_Message_AMoreRecentVersion -> 2\n"
    "family -> 2\n"
    "control\n";

TEST_F(SelectionScenarioTest, FamilyDialogSortsWithoutCaseShowsSizesAndMarksTheInstalledFamily) {
  // The families of the source, from its product folders and the family table.
  std::vector<std::string> expected = ExpectedDisclessFamilyLines();
  ASSERT_EQ(expected.size(), 5u) << "001, 003 (two versions), 006, 010 and 120";

  const int level3 = FamilyRow(kLevel3);
  RunResult run = Setup(
      "welcome -> 1\n"
      "install-options -> 1\n"
      "family select " +
      std::to_string(level3) +
      " -> 1\n"
      "version -> 1\n"
      "products -> 1\n"
      "multi-language -> 1\n"
      "install -> 1\n"
      "prompt:MSG_Message_InstallAnother -> 2\n"
      "prompt:* -> 1\n"
      "control\n");
  ASSERT_EQ(run.status, 0) << run.output;

  auto families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u) << run.output;
  std::vector<std::string> lines = JsonStringArray(families[0], "lines");
  EXPECT_EQ(lines, expected);
  // "for" sorts before "Foundations" only when case is ignored.
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("English for Business Communication\t", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "English Foundations, Level 1\t\t1,450 MB\t\t");

  // The version dialog of the two-version course: both versions, the newer one last and
  // preselected, so "version -> 1" installs 5.0.
  auto versions = Dialogs("version");
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(JsonStringArray(versions[0], "lines"),
            (std::vector<std::string>{"Version 4.0  Multilingual Edition 4.0",
                                      "Version 5.0  Multilingual Edition 5.0"}));
  EXPECT_NE(JsonField(versions[0], "text").find(kLevel3), std::string::npos) << versions[0];
  EXPECT_TRUE(fs::is_directory(Installed("launch/003MUL50")));
  EXPECT_FALSE(fs::exists(Installed("launch/003MUL40")));
  EXPECT_TRUE(fs::is_directory(Installed("content/003MUL50")));

  EXPECT_TRUE(
      LogHas("Found " + std::to_string(expected.size()) + " different Product Families\r\n"));
  EXPECT_TRUE(LogHas("EstablishVersions: 2\r\n"));
  EXPECT_TRUE(LogHas("CountProducts: 1\r\n"));
  EXPECT_TRUE(LogHas("Showing 'Version' Dialog"));

  // A second run: the installed family says so, with its local content (no " CD-Based").
  run = Setup(kLookAtFamiliesOnly);
  ASSERT_EQ(run.status, 0) << run.output;
  families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u) << run.output;
  lines = JsonStringArray(families[0], "lines");
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (static_cast<int>(i) == level3) {
      EXPECT_EQ(lines[i], expected[i] + "Installed");
    } else {
      EXPECT_EQ(lines[i], expected[i]);
    }
  }
}

TEST_F(SelectionScenarioTest, DiscBasedInstallationShowsNoSizesAndMarksTheFamilyCdBased) {
  SetSourceOption("force_discless", "N");
  SetSourceOption("force_cd_based", "Y");
  const int level3 = FamilyRow(kLevel3);
  RunResult run = Setup(
      "welcome -> 1\n"
      "install-options -> 1\n"
      "family select " +
      std::to_string(level3) +
      " -> 1\n"
      "version -> 1\n"
      "products -> 1\n"
      "multi-language -> 1\n"
      "install -> 1\n"
      "prompt:MSG_Message_InstallAnother -> 2\n"
      "prompt:* -> 1\n"
      "control\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(Log().find("Selected CD-Based"), std::string::npos);

  std::vector<std::string> expected;
  for (const FamilyData* row : FamiliesOnSource())
    expected.push_back(std::string(row->name) + "\t\t");
  auto families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u) << run.output;
  EXPECT_EQ(JsonStringArray(families[0], "lines"), expected);
  // The content stays on the source.
  EXPECT_TRUE(fs::is_directory(Installed("launch/003MUL50")));
  EXPECT_FALSE(fs::exists(Installed("content/003MUL50")));

  run = Setup(kLookAtFamiliesOnly);
  ASSERT_EQ(run.status, 0) << run.output;
  families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u) << run.output;
  std::vector<std::string> lines = JsonStringArray(families[0], "lines");
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i],
              static_cast<int>(i) == level3 ? expected[i] + "Installed CD-Based" : expected[i]);
  }
}

TEST_F(SelectionScenarioTest, ChosenOlderVersionAndSupportLanguageAreWhatGetsInstalled) {
  const int level3 = FamilyRow(kLevel3);
  // The multi-language dialog of version 4.0 (ENG FRA SPN) lists French, Spanish, English and
  // "All languages": Spanish is its second row.
  RunResult run = Setup(
      "welcome -> 1\n"
      "install-options -> 1\n"
      "family select " +
      std::to_string(level3) +
      " -> 1\n"
      "version select 0 -> 1\n"
      "products -> 1\n"
      "multi-language select 1 -> 1\n"
      "install -> 1\n"
      "prompt:MSG_Message_InstallAnother -> 2\n"
      "prompt:* -> 1\n"
      "control\n");
  ASSERT_EQ(run.status, 0) << run.output;

  auto multi = Dialogs("multi-language");
  ASSERT_EQ(multi.size(), 1u) << run.output;
  EXPECT_EQ(JsonStringArray(multi[0], "lines"),
            (std::vector<std::string>{"French", "Spanish", "English", "All languages"}));
  auto install = Dialogs("install");
  ASSERT_EQ(install.size(), 1u);
  EXPECT_NE(JsonField(install[0], "text").find("Spanish"), std::string::npos) << install[0];
  EXPECT_NE(JsonField(install[0], "text").find("V4.0"), std::string::npos) << install[0];

  EXPECT_TRUE(fs::is_directory(Installed("launch/003MUL40")));
  EXPECT_FALSE(fs::exists(Installed("launch/003MUL50")));
  EXPECT_TRUE(fs::is_directory(Installed("content/003MUL40/SPN")));
  EXPECT_TRUE(fs::is_directory(Installed("content/003MUL40/ENG")));
  EXPECT_FALSE(fs::exists(Installed("content/003MUL40/FRA")));
  EXPECT_NE(Log().find("EstablishVersions: 2\r\n"), std::string::npos);
  EXPECT_NE(Log().find("CountProducts: 1\r\n"), std::string::npos);
}

// The multilingual course 001 (one version): its setup.ini lists ENG FRA SPN GER JPN.
std::string InstallLevel1(int family_row, int language_row) {
  return "welcome -> 1\n"
         "install-options -> 1\n"
         "family select " +
         std::to_string(family_row) +
         " -> 1\n"
         "products -> 1\n"
         "multi-language select " +
         std::to_string(language_row) +
         " -> 1\n"
         "install -> 1\n"
         "prompt:MSG_Message_InstallAnother -> 2\n"
         "prompt:* -> 1\n"
         "control\n";
}

TEST_F(SelectionScenarioTest, MultiLanguageDialogListsTheSupportLanguagesOfTheCourse) {
  EXPECT_NE(ReadTestFile(Source("install/data/001MUL50/setup.ini"))
                .find("multiLanguages=ENG FRA SPN GER JPN"),
            std::string::npos);
  // German is the fourth of the listed languages.
  RunResult run = Setup(InstallLevel1(FamilyRow("English Foundations, Level 1"), 3));
  ASSERT_EQ(run.status, 0) << run.output;

  auto multi = Dialogs("multi-language");
  ASSERT_EQ(multi.size(), 1u) << run.output;
  EXPECT_EQ(JsonStringArray(multi[0], "lines"),
            (std::vector<std::string>{"Japanese", "French", "Spanish", "German", "English",
                                      "All languages"}));
  EXPECT_NE(JsonField(multi[0], "text").find("English Foundations, Level 1"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(Installed("content/001MUL50/GER")));
  EXPECT_FALSE(fs::exists(Installed("content/001MUL50/JPN")));
}

TEST_F(SelectionScenarioTest, ForcedLanguageLimitLeavesOnlyThoseLanguagesAndNoAllChoice) {
  SetSourceOption("force_limit_multiLanguages", "FRA ENG");
  RunResult run = Setup(InstallLevel1(FamilyRow("English Foundations, Level 1"), 0));
  ASSERT_EQ(run.status, 0) << run.output;

  auto multi = Dialogs("multi-language");
  ASSERT_EQ(multi.size(), 1u) << run.output;
  // Two languages of which one is English: nothing to install "all" of.
  EXPECT_EQ(JsonStringArray(multi[0], "lines"), (std::vector<std::string>{"French", "English"}));
  EXPECT_TRUE(fs::is_directory(Installed("content/001MUL50/FRA")));
  for (const char* left_out : {"SPN", "GER", "JPN"}) {
    EXPECT_FALSE(fs::exists(Installed(std::string("content/001MUL50/") + left_out))) << left_out;
  }
}

TEST_F(SelectionScenarioTest, ForcedLimitToOneLanguageAsksNothingAndInstallsIt) {
  SetSourceOption("force_limit_multiLanguages", "FRA");
  RunResult run = Setup(
      "welcome -> 1\n"
      "install-options -> 1\n"
      "family select " +
      std::to_string(FamilyRow("English Foundations, Level 1")) +
      " -> 1\n"
      "products -> 1\n"
      "install -> 1\n"
      "prompt:MSG_Message_InstallAnother -> 2\n"
      "prompt:* -> 1\n"
      "control\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Dialogs("multi-language").empty());
  auto install = Dialogs("install");
  ASSERT_EQ(install.size(), 1u) << run.output;
  EXPECT_NE(JsonField(install[0], "text").find("French"), std::string::npos) << install[0];
  EXPECT_TRUE(fs::is_directory(Installed("content/001MUL50/FRA")));
  EXPECT_FALSE(fs::exists(Installed("content/001MUL50/SPN")));
}

TEST_F(SelectionScenarioTest, ProductWithoutContentOnAContentSourceIsNoFamily) {
  // The source carries course content, but not that of the English-only course.
  fs::remove_all(Source("Nuvel/content/010ENG50"));
  std::vector<std::string> expected;
  for (const std::string& line : ExpectedDisclessFamilyLines()) {
    if (line.rfind("English Grammar in Practice\t", 0) != 0) expected.push_back(line);
  }
  ASSERT_EQ(expected.size(), 4u);

  RunResult run = Setup(kLookAtFamiliesOnly);
  ASSERT_EQ(run.status, 0) << run.output;
  auto families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u) << run.output;
  EXPECT_EQ(JsonStringArray(families[0], "lines"), expected);
  EXPECT_TRUE(LogHas("Found 4 different Product Families\r\n"));
}

}  // namespace
}  // namespace nuvel::testing
