// Scenarios of the real binary driven by answer files: the interface language, the
// language-limited source, answer-file mismatches, recording and replaying a run, and where
// records.ini lives.
#include <gtest/gtest.h>

#include <string>

#include "tests/scenario/scenario.h"
#include "tests/support/test_env.h"

namespace nuvel::testing {
namespace {

class DialogScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult made = RunBinary(NUVEL_SAMPLE_SOURCE_TOOL, {sysroot_.path("source")});
    ASSERT_EQ(made.status, 0) << made.output;
  }

  std::string Source(const std::string& relative) {
    return sysroot_.path("source/" + relative);
  }

  void WriteSetupIni(const std::string& body) {
    WriteTestFile(Source("install/data/setup.ini"), "[Nuvel]\r\n" + body);
  }

  RunResult Setup(const std::string& answers,
                  const std::vector<std::pair<std::string, std::string>>& env = {},
                  std::vector<std::string> extra = {}) {
    std::string answer_file = sysroot_.path("answers.txt");
    WriteTestFile(answer_file, answers);
    std::vector<std::string> args = {"--source",     sysroot_.path("source"),
                                     "--answers",    answer_file,
                                     "--transcript", Transcript()};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunBinary(NUVEL_SETUP_BINARY, args, env);
  }

  std::string Transcript() { return sysroot_.path("transcript.jsonl"); }
  std::vector<std::string> TranscriptLines() { return FileLines(Transcript()); }
  std::string Log() { return ReadTestFile(sysroot_.path("opt/Nuvel/Nuvel_log.txt")); }

  TestSysroot sysroot_;
};

TEST_F(DialogScenarioTest, LanguageLimitedSourceStopsWithTheRequiredLanguageMessage) {
  WriteSetupIni("force_limit_OS_lang=JPN\r\n");
  RunResult run = Setup("prompt:MSG_InvalidOS -> 1\nprompt:MSG_Message_SetupIncomplete -> 1\n");
  EXPECT_EQ(run.status, 1) << run.output;

  auto lines = TranscriptLines();
  ASSERT_EQ(lines.size(), 2u) << run.output;
  EXPECT_NE(lines[0].find(R"("id":"MSG_InvalidOS")"), std::string::npos) << lines[0];
  // The message names the required language in that language.
  EXPECT_NE(lines[0].find("日本語"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(R"("id":"MSG_Message_SetupIncomplete")"), std::string::npos)
      << lines[1];
  EXPECT_NE(Log().find("Quit from RequireSpecificOS"), std::string::npos);
}

TEST_F(DialogScenarioTest, PreferredLanguagesChooseTheFirstKnownOne) {
  WriteSetupIni("force_limit_OS_lang=JPN\r\n");
  RunResult run = Setup("prompt:* -> 1\n", {{"LANGUAGE", "xx:de:fr"}});
  EXPECT_EQ(run.status, 1) << run.output;
  auto lines = TranscriptLines();
  ASSERT_EQ(lines.size(), 2u);
  // "xx" is unknown, so German decides.
  EXPECT_NE(lines[1].find("Das Setup ist unvollst"), std::string::npos) << lines[1];
}

TEST_F(DialogScenarioTest, ForcedUkrainianInRecordsIniMeansEnglish) {
  WriteTestFile(sysroot_.path("opt/Nuvel/records.ini"),
                "[Records]\r\nlog_level=3\r\nforce_OS_lang=ukr\r\n");
  WriteSetupIni("force_limit_OS_lang=ENG\r\n");
  // English is the required language and the interface is English: straight to Welcome.
  RunResult run = Setup("welcome -> 2\n", {{"LANGUAGE", "de"}});
  EXPECT_EQ(run.status, 0) << run.output;
  auto lines = TranscriptLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(R"("buttons":["Install","Quit")"), std::string::npos) << lines[0];
}

TEST_F(DialogScenarioTest, UnansweredDialogEndsTheRunWithStatusThreeAndNamesIt) {
  WriteSetupIni("force_limit_OS_lang=JPN\r\n");
  RunResult run = Setup("prompt:MSG_InvalidOS -> 1\n");
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.output.find("prompt"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("MSG_Message_SetupIncomplete"), std::string::npos) << run.output;
}

TEST_F(DialogScenarioTest, RecordedAnswersReplayToTheSameTranscript) {
  WriteSetupIni("force_limit_OS_lang=JPN\r\n");
  std::string recorded = sysroot_.path("recorded.txt");
  ASSERT_EQ(Setup("prompt:* -> 1\n", {}, {"--record-answers", recorded}).status, 1);
  std::string first = ReadTestFile(Transcript());
  std::string answers = ReadTestFile(recorded);
  EXPECT_NE(answers.find("prompt:MSG_InvalidOS -> 1"), std::string::npos) << answers;
  EXPECT_EQ(answers.find("prompt:*"), std::string::npos) << answers;

  WriteTestFile(Transcript(), "");
  RunResult replay = Setup(answers);
  EXPECT_EQ(replay.status, 1) << replay.output;
  EXPECT_EQ(ReadTestFile(Transcript()), first);
}

TEST_F(DialogScenarioTest, OnANetworkInstallationRecordsIniLivesInTheInstallationFolder) {
  std::string install = sysroot_.path("srv/courses");
  WriteTestFile(install + "/.keep", "");
  WriteTestFile(sysroot_.path("opt/Nuvel/records.ini"),
                "[Records]\r\nlog_level=3\r\nlaunch_path_local=" + install + "\r\n");
  WriteSetupIni("force_OS_lang=FRA\r\n");

  RunResult run = Setup("welcome -> 2\n", {{"NUVEL_NETWORK_PATHS", install}});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(ReadTestFile(install + "/records.ini").find("force_OS_lang=FRA\r\n"),
            std::string::npos);
  EXPECT_EQ(ReadTestFile(sysroot_.path("opt/Nuvel/records.ini")).find("force_OS_lang"),
            std::string::npos);

  // Without the network, the same settings go to the system folder's records.ini.
  WriteTestFile(install + "/records.ini", "");
  run = Setup("welcome -> 2\n");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(ReadTestFile(sysroot_.path("opt/Nuvel/records.ini")).find("force_OS_lang=FRA"),
            std::string::npos);
}

}  // namespace
}  // namespace nuvel::testing
