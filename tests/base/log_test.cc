#include "base/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "platform/clock.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"

namespace nuvel::base {
namespace {

using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetClockForTesting([] { return platform::LocalTime{2026, 3, 4, 5, 6, 7, 3}; });
    folder_ = sysroot_.path("opt/Nuvel/");
    records_ = folder_ + "records.ini";
  }
  void TearDown() override {
    platform::SetClockForTesting(nullptr);
    ResetAll();
  }

  static void ResetAll() { nuvel::testing::ResetBaseModules(); }

  // One run's set-up of the log, as the driver does it at start-up.
  void StartRun() {
    ResetAll();
    FindLocalNuvelDirectory();
    GetLogName();
  }

  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::string data = ReadTestFile(folder_ + "Nuvel_log.txt");
    std::size_t start = 0;
    while (start < data.size()) {
      std::size_t end = data.find("\r\n", start);
      EXPECT_NE(end, std::string::npos) << "every log line ends in CR LF";
      if (end == std::string::npos) break;
      lines.push_back(data.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  TestSysroot sysroot_;
  std::string folder_;
  std::string records_;
};

TEST_F(LogTest, HeldLinesBannerThenNumberedLinesAndLevelThreeWrittenBack) {
  // Lines written before the log is set up follow its banner; too detailed ones are dropped.
  ResetAll();
  WriteLogf(0, "Starting version %s", "x");
  WriteLogf(5, "too detailed for level 3");
  FindLocalNuvelDirectory();
  GetLogName();
  WriteLogf(0, "first %d", 1);
  WriteLogf(3, "settings");
  WriteLogf(4, "too detailed");

  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], std::string(55, '='));
  EXPECT_EQ(lines[4], "2026-03-04 at 05:06 with log level=3  " + folder_ + "Nuvel_log.txt");
  EXPECT_EQ(lines[5], std::string(55, '='));
  EXPECT_EQ(lines[7], "       1 05:06:07   --0>Starting version x");
  EXPECT_EQ(lines[8], "       2 05:06:07   --0>first 1");
  EXPECT_EQ(lines[9], "       3 05:06:07   --------3>settings");

  std::string level;
  FreePrivateProfile();
  GetNuvelPrivateProfileString("Records", "log_level", "", level, 255, records_);
  EXPECT_EQ(level, "3");

  // The next run appends its own banner and numbers from 1 again.
  StartRun();
  WriteLogf(0, "run two");
  lines = LogLines();
  ASSERT_EQ(lines.size(), 10u + 8u);
  EXPECT_EQ(lines[17], "       1 05:06:07   --0>run two");
}

TEST_F(LogTest, MarkersCarryTheLevelOnlyFromConfiguredLevelTwo) {
  WriteTestFile(records_, "[Records]\r\nlog_level=1\r\n");
  StartRun();
  WriteLogf(0, "zero");
  WriteLogf(1, "one");
  WriteLogf(2, "two");
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[7].substr(20), "-->zero");
  EXPECT_EQ(lines[8].substr(20), "---->one");

  WriteTestFile(records_, "[Records]\r\nlog_level=3\r\n");
  StartRun();
  WriteLogf(1, "one");
  EXPECT_EQ(LogLines().back().substr(20), "----1>one");
}

TEST_F(LogTest, RolloverKeepsTheNewerHalfAcrossRuns) {
  WriteTestFile(records_, "[Records]\r\nlog_level=3\r\nlog_rollover_size=1000\r\n");
  std::string last;
  for (int run = 1; run <= 6; ++run) {
    StartRun();
    for (int i = 1; i <= 5; ++i) {
      last = "run " + std::to_string(run) + " line " + std::to_string(i);
      WriteLogf(0, "%s", last.c_str());
    }
    auto size = ReadTestFile(folder_ + "Nuvel_log.txt").size();
    // Halving happens before a line is written, so the file may pass the limit by one line.
    EXPECT_LT(size, 1000u + 80u) << "run " << run;
  }
  auto lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find(last), std::string::npos);
  // Every line that survived is whole: numbered lines keep their prefix, and no line repeats.
  std::regex numbered(R"( {0,7}\d+ 05:06:07   --0>run \d line \d+)");
  for (auto it = lines.begin(); it != lines.end(); ++it) {
    if (it->empty() || (*it)[0] == '=' || it->rfind("2026", 0) == 0 || it->rfind("Linux", 0) == 0) {
      continue;
    }
    EXPECT_TRUE(std::regex_match(*it, numbered)) << "broken line: " << *it;
    EXPECT_EQ(std::count(lines.begin(), it, *it), 0) << "repeated: " << *it;
  }
  // The banner of the last run is in the newer half.
  EXPECT_NE(std::find(lines.begin(), lines.end(), std::string(55, '=')), lines.end());
}

TEST_F(LogTest, HalvingDropsOnlyTheCutLine) {
  StartRun();
  std::string log = folder_ + "Nuvel_log.txt";
  std::string data;
  for (int i = 0; i < 100; ++i) data += "line " + std::to_string(1000 + i) + "\r\n";
  WriteTestFile(log, data);
  DiscardTopHalfofLogFile();
  std::string halved = ReadTestFile(log);
  // 100 lines of 11 bytes: the middle is the start of line 1050, which is dropped as the line
  // at the cut; 1051 onwards survive, each once.
  EXPECT_EQ(halved, data.substr(data.find("line 1051")));
  // A cut inside a line drops that line's rest only.
  WriteTestFile(log, "x" + data);
  DiscardTopHalfofLogFile();
  EXPECT_EQ(ReadTestFile(log), data.substr(data.find("line 1050")));
}

TEST_F(LogTest, QuitFlagIsSetOnceAndAnAbnormalQuitRaisesTheLevel) {
  WriteTestFile(records_, "[Records]\r\nlog_level=1\r\n");
  StartRun();
  SetQuitFlag("Download", 42, "timeout");
  EXPECT_EQ(base::Run().quitFlag, 1);
  EXPECT_EQ(Log().nuvel_log_level, 5);
  SetQuitFlag("Other", 7, "NORM");
  auto lines = LogLines();
  EXPECT_EQ(lines.back().substr(20), "----1>ERROR: Quit from Download (line=42) timeout ");
}

TEST_F(LogTest, AddedFileIsFramedAndSplitIntoLines) {
  StartRun();
  std::string other = sysroot_.path("other.txt");
  WriteTestFile(other, "alpha\r\nbeta\rgamma\n" + std::string(300, 'x'));
  AddOnToNuvelLog(other);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 7u + 10u);
  EXPECT_EQ(lines[9].substr(20), "----1>" + other);
  EXPECT_EQ(lines[10].substr(20), "----1>alpha");
  EXPECT_EQ(lines[11].substr(20), "----1>beta");
  EXPECT_EQ(lines[12].substr(20), "----1>gamma");
  EXPECT_EQ(lines[13].substr(20), "----1>" + std::string(254, 'x'));
  EXPECT_EQ(lines[14].substr(20), "----1>" + std::string(46, 'x'));
  AddOnToNuvelLog(sysroot_.path("missing.txt"));
  EXPECT_EQ(LogLines().size(), lines.size());

  // StopLogging ends the log for the run.
  WriteLogf(0, "kept");
  StopLogging();
  EXPECT_EQ(WriteLogf(0, "lost"), 0);
  EXPECT_EQ(LogLines().back().substr(20), "--0>kept");
}

}  // namespace
}  // namespace nuvel::base
