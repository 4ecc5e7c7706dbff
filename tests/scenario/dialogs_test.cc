// Scenarios of the real binary driven by answer files: the interface language, the
// language-limited source, answer-file mismatches, recording and replaying a run, and where
// records.ini lives.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/scenario/scenario.h"

namespace nuvel::testing {
namespace {

class DialogScenarioTest : public ScenarioTest {
 protected:
  void SetUp() override { MakeSource(); }
};

TEST_F(DialogScenarioTest, LanguageLimitedSourceStopsWithTheRequiredLanguageMessage) {
  SetSourceOption("force_limit_OS_lang", "JPN");
  RunResult run = Setup("prompt:MSG_InvalidOS -> 1\nprompt:MSG_Message_SetupIncomplete -> 1\n");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(Path(), (std::vector<std::string>{"prompt:MSG_InvalidOS 1",
                                              "prompt:MSG_Message_SetupIncomplete 1"}));
  // The message names the required language in that language.
  auto lines = FileLines(Transcript());
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("日本語"), std::string::npos) << lines[0];
  EXPECT_NE(Log().find("Quit from RequireSpecificOS"), std::string::npos);
  // The incomplete-setup message gives that reason, not a failed copy.
  EXPECT_EQ(JsonField(lines.back(), "text"),
            "Setup is incomplete.\r\rNothing was installed: the courses on this source need a "
            "system set to another language.");

  // Of the preferred languages "xx" is unknown, so German decides.
  run = Setup("prompt:* -> 1\n", {{"LANGUAGE", "xx:de:fr"}});
  EXPECT_EQ(run.status, 1) << run.output;
  lines = FileLines(Transcript());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("Das Setup ist unvollst"), std::string::npos) << lines[1];

  // A dialog without an answer ends the run with status 3 and is named.
  run = Setup("prompt:MSG_InvalidOS -> 1\n");
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.output.find("dialog: prompt"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("id: MSG_Message_SetupIncomplete"), std::string::npos) << run.output;
}

TEST_F(DialogScenarioTest, ForcedUkrainianInRecordsIniMeansEnglish) {
  WriteTestFile(Installed("records.ini"), "[Records]\r\nlog_level=3\r\nforce_OS_lang=ukr\r\n");
  SetSourceOption("force_limit_OS_lang", "ENG");
  // English is the required language and the interface is English: straight to Welcome.
  RunResult run = Setup("welcome -> 2\n", {{"LANGUAGE", "de"}});
  EXPECT_EQ(run.status, 0) << run.output;
  auto lines = FileLines(Transcript());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(R"("buttons":["Install","Quit")"), std::string::npos) << lines[0];
}

// A technician types the Records Manager password in Advanced: the recorded answers hold it
// scrambled, and replaying them on a fresh machine stores the same password.
TEST_F(DialogScenarioTest, RecordedAdvancedPasswordIsScrambledAndReplaysToTheSameSetting) {
  const std::string recorded = sysroot_.path("recorded.txt");
  const std::string answers =
      "welcome -> 1\ninstall-options -> 3\n"
      "advanced set 8=\"Quill7pen\" set 9=\"Quill7pen\" -> 1\n"
      "install-options -> 1\nfamily -> 2\ninstall-options -> 2\nwelcome -> 2\n"
      // Never used: its password must not be echoed either.
      "advanced set 8=\"Unused9key\" -> 1\n";
  RunResult first = Setup(answers, {}, {"--record-answers", recorded});
  ASSERT_EQ(first.status, 0) << first.output;
  const std::string stored = IniGet(Installed("records.ini"), "Records", "rm_password");
  ASSERT_FALSE(stored.empty());
  const std::string record = ReadTestFile(recorded);
  EXPECT_NE(record.find("advanced set 8=\"**__"), std::string::npos) << record;
  for (const char* secret : {"Quill7pen", "QUILL7PEN", "Unused9key"}) {
    EXPECT_EQ(record.find(secret), std::string::npos) << record;
    EXPECT_EQ(first.output.find(secret), std::string::npos) << first.output;
    EXPECT_EQ(Log().find(secret), std::string::npos);
    EXPECT_EQ(ReadTestFile(Transcript()).find(secret), std::string::npos);
  }
  EXPECT_NE(first.output.find("never used: advanced set 8=<hidden> -> 1"), std::string::npos)
      << first.output;

  std::filesystem::remove_all(Installed());
  RunResult replay = Setup(record);
  ASSERT_EQ(replay.status, 0) << replay.output;
  EXPECT_EQ(IniGet(Installed("records.ini"), "Records", "rm_password"), stored);
}

// The installed files but the log (every run adds to it).
std::map<std::string, std::string> TreeOf(const std::string& folder) {
  auto files = FilesBelow(folder);
  files.erase("Nuvel_log.txt");
  return files;
}

// Control held for the click of Install Options only: a machine that already has the course
// is not offered it as more recent, so the same answers run again and again.
TEST_F(DialogScenarioTest, ExampleAnswersAndTheirRecordingRunTwiceWithTheSameTree) {
  const std::string example = ReadTestFile(NUVEL_EXAMPLES_DIR "/install-one-course.answers");
  const std::string recorded = sysroot_.path("recorded.txt");
  RunResult first = Setup(example, {}, {"--record-answers", recorded});
  ASSERT_EQ(first.status, 0) << first.output;
  const auto tree = TreeOf(Installed());
  ASSERT_EQ(tree.count("content/003MUL50/complete.txt"), 1u) << "the example installs Foundations 3";
  const std::vector<std::string> path = Path();

  RunResult second = Setup(example);
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_EQ(Path(), path);
  EXPECT_EQ(TreeOf(Installed()), tree);

  const std::string answers = ReadTestFile(recorded);
  EXPECT_NE(answers.find("\nwelcome -> 1\n"), std::string::npos) << answers;
  EXPECT_NE(answers.find("\ninstall-options control -> 1\n"), std::string::npos) << answers;
  EXPECT_EQ(answers.find("\ncontrol\n"), std::string::npos) << "Control belongs to one click";
  EXPECT_EQ(answers.find("prompt:*"), std::string::npos) << "each prompt is recorded by its id";
  for (int run = 0; run < 2; ++run) {
    RunResult replay = Setup(answers);
    EXPECT_EQ(replay.status, 0) << replay.output;
    EXPECT_EQ(Path(), path);
    EXPECT_EQ(TreeOf(Installed()), tree);
  }
}

TEST_F(DialogScenarioTest, OnANetworkInstallationRecordsIniLivesInTheInstallationFolder) {
  const std::string install = sysroot_.path("srv/courses");
  WriteTestFile(install + "/.keep", "");
  WriteTestFile(Installed("records.ini"),
                "[Records]\r\nlog_level=3\r\nlaunch_path_local=" + install + "\r\n");
  SetSourceOption("force_OS_lang", "FRA");

  RunResult run = Setup("welcome -> 2\n", {{"NUVEL_NETWORK_PATHS", install}});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(ReadTestFile(install + "/records.ini").find("force_OS_lang=FRA\r\n"),
            std::string::npos);
  EXPECT_EQ(ReadTestFile(Installed("records.ini")).find("force_OS_lang"), std::string::npos);

  // Without the network, the same settings go to the system folder's records.ini.
  WriteTestFile(install + "/records.ini", "");
  run = Setup("welcome -> 2\n");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(ReadTestFile(Installed("records.ini")).find("force_OS_lang=FRA"), std::string::npos);
}

}  // namespace
}  // namespace nuvel::testing
