// Scenarios of the selection chain on the generated sample source, driven by answer files: the
// family dialog (order, sizes, installed marks), the version of a course held in two versions
// and the support language of a multilingual course. Each case also looks at what was
// installed, so a choice shown but not honoured is caught too.
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

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string WithCommas(int value) {
  std::string digits = std::to_string(value), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

constexpr const char* kLevel1 = "English Foundations, Level 1";
// Installs course 003 (of the family row given) in its preselected version and language.
std::string InstallLevel3(int row) {
  return kStart + "family select " + std::to_string(row) +
         " -> 1\nversion -> 1\nproducts -> 1\nmulti-language -> 1\ninstall -> 1\n" + kEnd;
}
// As far as the family dialog, then Cancel back to Welcome and Quit.
const std::string kFamiliesOnly =
    "welcome -> 1\nwelcome -> 2\ninstall-options -> 1\ninstall-options -> 2\n"
    "prompt:MSG_Message_AMoreRecentVersion -> 2\nfamily -> 2\ncontrol\n";
constexpr const char* kLevel3 = "English Foundations, Level 3";

class SelectionScenarioTest : public ScenarioTest {
 protected:
  void SetUp() override { MakeSource(); }

  // The family rows of the product folders of the source (install/data/NNN...): one row per
  // family, sorted by name without regard to case, equal names in table order.
  std::vector<const FamilyData*> FamiliesOnSource() {
    std::set<std::string> numbers;
    for (const std::string& name : Entries(Source("install/data"))) {
      if (name.size() == 8 && std::all_of(name.begin(), name.begin() + 3, ::isdigit)) {
        numbers.insert(name.substr(0, 3));
      }
    }
    std::vector<const FamilyData*> rows;
    for (const FamilyData& row : kFamilyData) {
      if (numbers.count(std::string(row.number))) rows.push_back(&row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const FamilyData* a, const FamilyData* b) {
      return Lower(a->name) < Lower(b->name);
    });
    return rows;
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
};

TEST_F(SelectionScenarioTest, FamilyDialogSortsWithoutCaseShowsSizesAndMarksTheInstalledFamily) {
  // The family dialog's lines of a discless installation before anything is installed.
  std::vector<std::string> expected;
  for (const FamilyData* row : FamiliesOnSource()) {
    expected.push_back(std::string(row->name) + "\t\t" + WithCommas(row->sizeMB) + " MB\t\t");
  }
  ASSERT_EQ(expected.size(), 5u) << "001, 003 (two versions), 006, 010 and 120";

  const int level3 = FamilyRow(kLevel3);
  RunResult run = Setup(InstallLevel3(level3));
  ASSERT_EQ(run.status, 0) << run.output;
  auto families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u) << run.output;
  std::vector<std::string> lines = JsonStringArray(families[0], "lines");
  EXPECT_EQ(lines, expected);
  // "for" sorts before "Foundations" only when case is ignored.
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("English for Business Communication\t", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], std::string(kLevel1) + "\t\t1,450 MB\t\t");

  // The version dialog of the two-version course: both versions, the newer one last and
  // preselected, so "version -> 1" installs 5.0.
  auto versions = Dialogs("version");
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(JsonStringArray(versions[0], "lines"),
            (std::vector<std::string>{"Version 4.0  Multilingual Edition 4.0",
                                      "Version 5.0  Multilingual Edition 5.0"}));
  EXPECT_NE(JsonField(versions[0], "text").find(kLevel3), std::string::npos) << versions[0];
  EXPECT_TRUE(fs::is_directory(Installed("content/003MUL50")));
  EXPECT_FALSE(fs::exists(Installed("launch/003MUL40")));
  EXPECT_TRUE(
      LogHas("Found " + std::to_string(expected.size()) + " different Product Families\r\n"));
  EXPECT_TRUE(LogHas("EstablishVersions: 2\r\n"));
  EXPECT_TRUE(LogHas("CountProducts: 1\r\n"));

  // A second run, only as far as the family dialog: the installed family says so, with its
  // local content (no " CD-Based").
  run = Setup(kFamiliesOnly);
  ASSERT_EQ(run.status, 0) << run.output;
  families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u) << run.output;
  expected[static_cast<std::size_t>(level3)] += "Installed";
  EXPECT_EQ(JsonStringArray(families[0], "lines"), expected);
}

TEST_F(SelectionScenarioTest, ChosenOlderVersionAndSupportLanguageAreWhatGetsInstalled) {
  // Version 4.0 (first row) and, of its languages ENG FRA SPN, Spanish (second after French).
  RunResult run = Setup(kStart + "family select " + std::to_string(FamilyRow(kLevel3)) +
                        " -> 1\nversion select 0 -> 1\nproducts -> 1\n"
                        "multi-language select 1 -> 1\ninstall -> 1\n" +
                        kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  auto multi = Dialogs("multi-language");
  ASSERT_EQ(multi.size(), 1u) << run.output;
  EXPECT_EQ(JsonStringArray(multi[0], "lines"),
            (std::vector<std::string>{"French", "Spanish", "English", "All languages"}));
  auto install = Dialogs("install");
  ASSERT_EQ(install.size(), 1u);
  EXPECT_NE(JsonField(install[0], "text").find("Spanish"), std::string::npos) << install[0];
  EXPECT_NE(JsonField(install[0], "text").find("V4.0"), std::string::npos) << install[0];
  EXPECT_FALSE(fs::exists(Installed("launch/003MUL50")));
  EXPECT_EQ(Entries(Installed("content/003MUL40")),
            (std::set<std::string>{"COM", "ENG", "SPN", "VERSION", "NUVEL.INI", "complete.txt",
                                   "disc.01"}));
  EXPECT_TRUE(LogHas("EstablishVersions: 2\r\n"));
  EXPECT_TRUE(LogHas("CountProducts: 1\r\n"));

  // The installed older version marks its family, although the newer one, found after it, is
  // not installed.
  run = Setup(kFamiliesOnly);
  ASSERT_EQ(run.status, 0) << run.output;
  auto families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u) << run.output;
  std::vector<std::string> lines = JsonStringArray(families[0], "lines");
  const auto level3 = static_cast<std::size_t>(FamilyRow(kLevel3));
  ASSERT_LT(level3, lines.size());
  EXPECT_TRUE(lines[level3].ends_with("MB\t\tInstalled")) << lines[level3];
}

TEST_F(SelectionScenarioTest, ForcedLimitToOneLanguageAsksNothingAndInstallsIt) {
  SetSourceOption("force_limit_multiLanguages", "FRA");
  RunResult run = Setup(kStart + "family select " + std::to_string(FamilyRow(kLevel1)) +
                        " -> 1\nproducts -> 1\ninstall -> 1\n" + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Dialogs("multi-language").empty());
  auto install = Dialogs("install");
  ASSERT_EQ(install.size(), 1u) << run.output;
  EXPECT_NE(JsonField(install[0], "text").find("French"), std::string::npos) << install[0];
  EXPECT_TRUE(fs::is_directory(Installed("content/001MUL50/FRA")));
  EXPECT_FALSE(fs::exists(Installed("content/001MUL50/SPN")));
}

}  // namespace
}  // namespace nuvel::testing
