// Scenarios of the selection chain on the generated sample source, driven by answer files: the
// family dialog (order, sizes, installed marks), the version of a course held in two versions
// and the support language of a multilingual course. Each case also looks at what was
// installed, so a choice shown but not honoured is caught too.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/scenario/scenario.h"
#include "tests/support/test_env.h"

namespace nuvel::testing {
namespace {

namespace fs = std::filesystem;

// The family dialog's lines for the sample source before anything is installed: sorted by name
// without regard to case ("for" before "Foundations"), each with its size.
const std::vector<std::string> kFamilyLines = {
    "English for Business Communication\t\t1,180 MB\t\t",
    "English Foundations, Level 1\t\t1,450 MB\t\t",
    "English Foundations, Level 3\t\t1,520 MB\t\t",
    "English Grammar in Practice\t\t380 MB\t\t",
    "English Placement Test\t\t180 MB\t\t",
};
constexpr int kLevel1Row = 1;
constexpr int kLevel3Row = 2;
constexpr const char* kLevel3 = "English Foundations, Level 3";

// Installs course 003 (of the family row given) in its preselected version and language.
std::string InstallLevel3(int row) {
  return kStart + "family select " + std::to_string(row) +
         " -> 1\nversion -> 1\nproducts -> 1\nmulti-language -> 1\ninstall -> 1\n" + kEnd;
}
// As far as the family dialog, then Cancel back to Welcome and Quit.
const std::string kFamiliesOnly =
    "welcome -> 1\nwelcome -> 2\ninstall-options -> 1\ninstall-options -> 2\n"
    "prompt:MSG_Message_AMoreRecentVersion -> 2\nfamily -> 2\ncontrol\n";

class SelectionScenarioTest : public ScenarioTest {
 protected:
  void SetUp() override { MakeSource(); }

  bool LogHas(const std::string& text) { return Log().find(text) != std::string::npos; }
};

TEST_F(SelectionScenarioTest, FamilyDialogSortsWithoutCaseShowsSizesAndMarksTheInstalledFamily) {
  RunResult run = Setup(InstallLevel3(kLevel3Row));
  ASSERT_EQ(run.status, 0) << run.output;
  auto families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u) << run.output;
  EXPECT_EQ(JsonStringArray(families[0], "lines"), kFamilyLines);

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
  EXPECT_TRUE(LogHas("Found 5 different Product Families\r\n"));
  EXPECT_TRUE(LogHas("EstablishVersions: 2\r\n"));
  EXPECT_TRUE(LogHas("CountProducts: 1\r\n"));

  // A second run, only as far as the family dialog: the installed family says so, with its
  // local content (no " CD-Based").
  run = Setup(kFamiliesOnly);
  ASSERT_EQ(run.status, 0) << run.output;
  families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u) << run.output;
  std::vector<std::string> expected = kFamilyLines;
  expected[kLevel3Row] += "Installed";
  EXPECT_EQ(JsonStringArray(families[0], "lines"), expected);
}

TEST_F(SelectionScenarioTest, ChosenOlderVersionAndSupportLanguageAreWhatGetsInstalled) {
  // Version 4.0 (first row) and, of its languages ENG FRA SPN, Spanish (second after French).
  RunResult run = Setup(kStart + "family select " + std::to_string(kLevel3Row) +
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
  std::vector<std::string> expected = kFamilyLines;
  expected[kLevel3Row] += "Installed";
  EXPECT_EQ(JsonStringArray(families[0], "lines"), expected);
}

TEST_F(SelectionScenarioTest, ForcedLimitToOneLanguageAsksNothingAndInstallsIt) {
  SetSourceOption("force_limit_multiLanguages", "FRA");
  RunResult run = Setup(kStart + "family select " + std::to_string(kLevel1Row) +
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
