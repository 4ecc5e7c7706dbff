// The start and the end of a run of the real binary: system folder, log banner, records.ini,
// command line; and the nuvel-ini tool over the same profile engine.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "tests/scenario/scenario.h"
#include "tests/support/test_env.h"

namespace nuvel::testing {
namespace {

// An empty source: the Setup finds no product and ends with the incomplete-setup message.
class StartupTest : public ScenarioTest {
 protected:
  void SetUp() override { WriteTestFile(Source(".keep"), ""); }
  RunResult RunOnEmptySource() { return Setup("prompt:MSG_Message_SetupIncomplete -> 1\n"); }
  std::string LogPath() { return Installed("Nuvel_log.txt"); }

  // The last dialog of the run is the incomplete-setup message, and it gives `cause` instead of
  // the explanation of a failed copy.
  void ExpectIncompleteBecause(const std::string& cause) {
    auto prompts = Dialogs("prompt");
    ASSERT_FALSE(prompts.empty());
    EXPECT_EQ(JsonField(prompts.back(), "id"), "MSG_Message_SetupIncomplete");
    EXPECT_EQ(JsonField(prompts.back(), "text"), "Setup is incomplete.\r\r" + cause);
  }

  // Checks one run's banner starting at `first` and returns the index of its first
  // numbered line.
  std::size_t ExpectBanner(const std::vector<std::string>& lines, std::size_t first) {
    EXPECT_GE(lines.size(), first + 8);
    if (lines.size() < first + 8) return lines.size();
    for (std::size_t i = first; i < first + 3; ++i) EXPECT_EQ(lines[i], "") << i;
    EXPECT_EQ(lines[first + 3], std::string(55, '='));
    std::regex title(R"(\d{4}-\d\d-\d\d at \d\d:\d\d with log level=3  )" + LogPath());
    EXPECT_TRUE(std::regex_match(lines[first + 4], title)) << lines[first + 4];
    EXPECT_EQ(lines[first + 5], std::string(55, '='));
    EXPECT_EQ(lines[first + 6].rfind("Linux ", 0), 0u) << lines[first + 6];
    return first + 7;
  }
};

TEST_F(StartupTest, EmptySourceEndsIncompleteAfterSettingUpTheSystemFolderLogAndRecordsIni) {
  RunResult run = RunOnEmptySource();
  ASSERT_EQ(run.status, 1) << run.output;

  auto lines = FileLines(LogPath());
  std::size_t first = ExpectBanner(lines, 0);
  ASSERT_LT(first, lines.size());
  std::regex starting(R"(       1 \d\d:\d\d:\d\d   --0>Starting Nuvel Setup Application )"
                      R"(version 362\.023\.008\.023 \(36B1\))");
  EXPECT_TRUE(std::regex_match(lines[first], starting)) << lines[first];
  // No product on the source: the run ends incomplete, and the message and the log say why.
  std::string raw = ReadTestFile(LogPath());
  EXPECT_NE(raw.find("--0>No products found on the installation source"), std::string::npos);
  ExpectIncompleteBecause("No courses were found on the installation source: " + Source());
  // Every line of the log ends in CR LF.
  for (std::size_t at = raw.find('\n'); at != std::string::npos; at = raw.find('\n', at + 1)) {
    ASSERT_TRUE(at > 0 && raw[at - 1] == '\r') << "a line ends in a bare LF at byte " << at;
  }
  EXPECT_EQ(ReadTestFile(Installed("records.ini")), "[Records]\r\nlog_level=3\r\n");

  // A second run appends its own banner and numbers its lines from 1 again.
  const std::size_t first_run_lines = lines.size();
  ASSERT_EQ(RunOnEmptySource().status, 1);
  lines = FileLines(LogPath());
  std::size_t second = ExpectBanner(lines, first_run_lines);
  ASSERT_LT(second, lines.size());
  EXPECT_TRUE(std::regex_match(lines[second], starting)) << lines[second];

  // A configured level 1 leaves out the detail and the level digit of the markers.
  const std::size_t second_run_size = ReadTestFile(LogPath()).size();
  WriteTestFile(Installed("records.ini"), "[Records]\r\nlog_level=1\r\n");
  ASSERT_EQ(RunOnEmptySource().status, 1);
  const std::string third = ReadTestFile(LogPath()).substr(second_run_size);
  EXPECT_NE(third.find("   -->Starting Nuvel Setup Application"), std::string::npos) << third;
  EXPECT_NE(third.find("   ---->Records Path     (read)  ="), std::string::npos) << third;
  EXPECT_EQ(third.find("IPN "), std::string::npos) << "level-2 lines must not be written";
}

// Quit at the warning about a newer Setup used before: incomplete, because the user stopped.
TEST_F(StartupTest, QuitAtTheNewerSetupWarningSaysThatTheUserStopped) {
  WriteTestFile(Installed("launch/001MUL50/nuvel.ini"),
                "[nuvel.ini]\r\ncourse_name=Foundations\r\nfix_level=400\r\n");
  RunResult run = Setup(
      "prompt:MSG_Message_PreviouslyInstalledUsing -> 2\nprompt:MSG_Message_SetupIncomplete -> 1\n");
  EXPECT_EQ(run.status, 1) << run.output;
  ExpectIncompleteBecause("Setup was stopped before anything was installed.");
}

TEST_F(StartupTest, CommandLine) {
  RunResult version = RunBinary(NUVEL_SETUP_BINARY, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "362.023.008.023 (36B1)\n");

  RunResult help = RunBinary(NUVEL_SETUP_BINARY, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("--source DIR"), std::string::npos);

  RunResult unknown = RunBinary(NUVEL_SETUP_BINARY, {"--frobnicate"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.output.find("unknown argument '--frobnicate'"), std::string::npos);

  RunResult missing = RunBinary(NUVEL_SETUP_BINARY, {"--source", sysroot_.path("no/such")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.output.find("is not a folder"), std::string::npos);
  // A refused command line starts no run: no log is written.
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(StartupTest, NuvelIniReadsAndWritesLikeTheSetup) {
  std::string file = sysroot_.path("records.ini");
  WriteTestFile(file, "[Other]\nx=1\n");
  RunResult set = RunBinary(NUVEL_INI_BINARY, {"set", file, "Records", "log_level", " 4 "});
  EXPECT_EQ(set.status, 0) << set.output;
  EXPECT_EQ(ReadTestFile(file), "[Records]\r\n[Other]\r\nx=1\r\nlog_level=4\r\n");

  RunResult get = RunBinary(NUVEL_INI_BINARY, {"get", file, "records", "LOG_LEVEL"});
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.output, "4\n");

  EXPECT_EQ(RunBinary(NUVEL_INI_BINARY, {"get", file, "Records", "absent"}).status, 1);
  EXPECT_EQ(RunBinary(NUVEL_INI_BINARY, {"frob", file, "Records", "k"}).status, 2);
}

}  // namespace
}  // namespace nuvel::testing
