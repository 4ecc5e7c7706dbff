// Scenarios of a lab deployment: one machine installed by hand with its answers recorded, the
// recording replayed on sources that differ from the first one.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/scenario/scenario.h"
#include "tests/support/test_env.h"

namespace nuvel::testing {
namespace {

namespace fs = std::filesystem;

// Row 2 of the sample source's family dialog is English Foundations, Level 3 (course 003).
const std::string kInstallThirdRow =
    kStart + "family select 2 -> 1\nversion -> 1\nproducts -> 1\nmulti-language -> 1\n"
             "install -> 1\n" + kEnd;

class LabScenarioTest : public ScenarioTest {
 protected:
  void SetUp() override { MakeSource(); }

  // Takes a course (all its versions) off the source: its startup files, content and archives.
  void RemoveCourseFromSource(const std::string& number) {
    for (const char* folder : {"install/data", "Nuvel/content", "Nuvel/courses_d"}) {
      for (const std::string& name : Entries(Source(folder))) {
        if (name.starts_with(number)) fs::remove_all(Source(std::string(folder) + "/" + name));
      }
    }
  }
  // A machine as before its first installation.
  void WipeMachine() { fs::remove_all(Installed()); }
};

TEST_F(LabScenarioTest, RecordedKeysInstallTheSameCourseOnASourceInAnotherOrder) {
  const std::string recorded = sysroot_.path("recorded.answers");
  RunResult first = Setup(kInstallThirdRow, {}, {"--record-answers", recorded});
  ASSERT_EQ(first.status, 0) << first.output;
  ASSERT_TRUE(fs::is_directory(Installed("content/003MUL50")));
  const std::string answers = ReadTestFile(recorded);
  // Every choice is pinned by key, the kept preselections too.
  for (const char* line : {"\nfamily select 003 -> 1\n", "\nversion select MUL50 -> 1\n",
                           "\nproducts select 003MUL50 -> 1\n"}) {
    EXPECT_NE(answers.find(line), std::string::npos) << line << " in\n" << answers;
  }
  EXPECT_NE(answers.find("\nmulti-language select "), std::string::npos) << answers;

  // Without course 006 ("English for Business Communication", row 0), Level 3 is row 1 and
  // row 2 is "English Grammar in Practice": the keys still find course 003.
  RemoveCourseFromSource("006");
  WipeMachine();
  RunResult replay = Setup(answers);
  ASSERT_EQ(replay.status, 0) << replay.output;
  auto families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u);
  EXPECT_EQ(JsonStringArray(families[0], "keys"),
            (std::vector<std::string>{"001", "003", "010", "120"}));
  EXPECT_EQ(JsonField(families[0], "selected"), "[1") << families[0];
  EXPECT_EQ(Entries(Installed("content")), (std::set<std::string>{"003MUL50"}));

  // A source without the course: the replay stops at the family dialog with status 3, naming
  // the key and the rows the source offers, and installs nothing.
  RemoveCourseFromSource("003");
  WipeMachine();
  replay = Setup(answers);
  EXPECT_EQ(replay.status, 3) << replay.output;
  EXPECT_NE(replay.output.find("has no row with the key \"003\""), std::string::npos)
      << replay.output;
  EXPECT_NE(replay.output.find("key 001  English Foundations, Level 1"), std::string::npos)
      << replay.output;
  EXPECT_NE(replay.output.find("key 010  English Grammar in Practice"), std::string::npos)
      << replay.output;
  EXPECT_FALSE(fs::exists(Installed("content/003MUL50")));
  EXPECT_FALSE(fs::exists(Installed("launch/003MUL50")));
}

// Old files choose by row number and keep working; keys written by hand work beside them.
TEST_F(LabScenarioTest, HandWrittenKeysAndOldRowNumbersBothChoose) {
  RunResult run = Setup(kStart +
                        "family select 010 -> 1\nversion -> 1\nproducts select 010ENG50 -> 1\n"
                        "install -> 1\n" + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(fs::is_directory(Installed("content/010ENG50")));
  WipeMachine();
  run = Setup(kInstallThirdRow);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Entries(Installed("content")), (std::set<std::string>{"003MUL50"}));
}

// The lines that start with "nuvel-setup: " and hold `text`.
std::vector<std::string> StatusLines(const std::string& output, const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    if (line.starts_with("nuvel-setup: ") && line.find(text) != std::string::npos) {
      lines.push_back(line);
    }
    start = end + 1;
  }
  return lines;
}

TEST_F(LabScenarioTest, UnattendedRunsReportProgressAndEndWithOneSummaryLine) {
  const std::string log = Installed("Nuvel_log.txt");
  RunResult run = Setup(kInstallThirdRow);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(StatusLines(run.output, "installing"),
            std::vector<std::string>{
                "nuvel-setup: installing 003MUL50 (English Foundations, Level 3)"});
  // Each copy, named by its part of the course, reports the tenths it passes up to the whole.
  std::vector<std::string> progress = StatusLines(run.output, "003MUL50: ");
  ASSERT_FALSE(progress.empty()) << run.output;
  for (const char* part : {"Startup Files", "Multimedia Content"}) {
    EXPECT_NE(std::find(progress.begin(), progress.end(),
                        "nuvel-setup: 003MUL50: 100% (" + std::string(part) + ")"),
              progress.end())
        << run.output;
  }
  std::vector<std::string> summary = StatusLines(run.output, "summary:");
  ASSERT_EQ(summary.size(), 1u) << run.output;
  EXPECT_EQ(summary[0], "nuvel-setup: summary: installed 1 (003MUL50), updated 0, removed 0, "
                        "failed 0; log " + log + "; exit status 0");
  EXPECT_TRUE(run.output.ends_with(summary[0] + "\n")) << "the summary comes last";

  // A second course; Control held for the run offers the first one again as more recent, and
  // it is updated. Then one is removed through the uninstall dialog, chosen by key.
  run = Setup(kStart +
              "prompt:MSG_Message_AMoreRecentVersion -> 1\n"
              "prompt:MSG_Message_AllProductsFreshen -> 1\ninstall-options -> 1\n"
              "prompt:MSG_Message_AMoreRecentVersion -> 2\n"
              "family select 010 -> 1\nproducts select 010ENG50 -> 1\ninstall -> 1\n" + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  summary = StatusLines(run.output, "summary:");
  ASSERT_EQ(summary.size(), 1u) << run.output;
  EXPECT_EQ(summary[0], "nuvel-setup: summary: installed 1 (010ENG50), updated 1 (003MUL50), "
                        "removed 0, failed 0; log " + log + "; exit status 0");
  run = Setup("welcome -> 4\nuninstall select 010ENG50 -> 2\nuninstall -> 1\nwelcome -> 2\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_FALSE(fs::exists(Installed("launch/010ENG50")));
  EXPECT_TRUE(fs::exists(Installed("launch/003MUL50")));
  summary = StatusLines(run.output, "summary:");
  ASSERT_EQ(summary.size(), 1u) << run.output;
  EXPECT_EQ(summary[0], "nuvel-setup: summary: installed 0, updated 0, removed 1 (010ENG50), "
                        "failed 0; log " + log + "; exit status 0");

  // An answer file that does not fit ends with its status in the summary.
  run = Setup("welcome -> 4\nuninstall select 010ENG50 -> 2\n");
  EXPECT_EQ(run.status, 3) << run.output;
  summary = StatusLines(run.output, "summary:");
  ASSERT_EQ(summary.size(), 1u) << run.output;
  EXPECT_TRUE(summary[0].ends_with("; exit status 3")) << summary[0];

  // --quiet: none of these lines.
  WipeMachine();
  run = Setup(kInstallThirdRow, {}, {"--quiet"});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(fs::is_directory(Installed("content/003MUL50")));
  EXPECT_TRUE(StatusLines(run.output, "installing").empty()) << run.output;
  EXPECT_TRUE(StatusLines(run.output, "%").empty()) << run.output;
  EXPECT_TRUE(StatusLines(run.output, "summary:").empty()) << run.output;
}

// Every file (with its contents) and folder below the sysroot, with their modification times:
// what --list must leave as it found it.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    std::string relative = it->path().lexically_relative(root).string();
    std::string state = std::to_string(it->last_write_time(ec).time_since_epoch().count());
    if (it->is_regular_file(ec)) state += ":" + ReadTestFile(it->path().string());
    entries[relative] = state;
  }
  return entries;
}

// Reads the --list --json output with Python's own JSON parser and prints what the test checks,
// one fact a line; any field of the wrong type or missing fails the script.
constexpr const char* kReadInventory = R"(
import json, sys
d = json.load(open(sys.argv[1]))
assert d["format"] == 1 and isinstance(d["source"], str), d
print("installation", d["installation"])
for c in d["source_courses"]:
    assert isinstance(c["name"], str) and c["name"], c
    assert all(isinstance(code, str) and len(code) == 3 for code in c["languages"]), c
    assert c["fix_level"] is None or isinstance(c["fix_level"], int), c
    print("source", c["folder"], c["version"], c["size_mb"], c["status"], " ".join(c["languages"]))
for c in d["installed_courses"]:
    assert isinstance(c["fix_level"], int) and c["name"], c
    print("installed", c["folder"], c["language"], c["complete"])
print("counts", json.dumps(d["counts"], sort_keys=True))
)";

TEST_F(LabScenarioTest, ListShowsSourceAndMachineAsJsonAndWritesNothing) {
  RunResult run = Setup(kInstallThirdRow, {}, {"--quiet"});
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string json_file = sysroot_.root() + "-inventory.json";
  const auto before = Snapshot(sysroot_.root());

  RunResult list = RunBinary(NUVEL_SETUP_BINARY, {"--list", "--source", Source(), "--json"});
  ASSERT_EQ(list.status, 0) << list.output;
  EXPECT_EQ(Snapshot(sysroot_.root()), before) << "--list wrote into the sysroot";
  WriteTestFile(json_file, list.output);
  RunResult parsed = RunBinary("python3", {"-c", kReadInventory, json_file});
  fs::remove(json_file);
  ASSERT_EQ(parsed.status, 0) << parsed.output << "\n" << list.output;
  EXPECT_EQ(parsed.output, "installation " + Installed() + "\n" +
                               "source 001MUL50 5.0 1450 new ENG FRA SPN GER JPN\n"
                               "source 003MUL40 4.0 1520 new ENG FRA SPN\n"
                               "source 003MUL50 5.0 1520 same ENG FRA SPN GER JPN\n"
                               "source 006MUL50 5.0 1180 new ENG FRA JPN\n"
                               "source 010ENG50 5.0 380 new ENG\n"
                               "source 120MUL50 5.0 180 new ENG FRA SPN\n"
                               "installed 003MUL50 JPN True\n"
                               "counts {\"incomplete\": 0, \"more_recent\": 0, \"new\": 5, "
                               "\"older\": 0, \"same\": 1}\n")
      << list.output;

  // The build on the source changes: the same course is then more recent there, or older.
  const std::string source_ini = Source("Nuvel/content/003MUL50/NUVEL.INI");
  const std::string installed_level = IniGet(Installed("content/003MUL50/NUVEL.INI"), "nuvel.ini",
                                             "fix_level");
  IniSet(source_ini, "nuvel.ini", "fix_level", std::to_string(std::stoi(installed_level) + 1));
  list = RunBinary(NUVEL_SETUP_BINARY, {"--list", "--source", Source(), "--json"});
  EXPECT_NE(list.output.find("\"folder\":\"003MUL50\""), std::string::npos);
  EXPECT_NE(list.output.find("\"more_recent\":1"), std::string::npos) << list.output;
  IniSet(source_ini, "nuvel.ini", "fix_level", std::to_string(std::stoi(installed_level) - 1));
  list = RunBinary(NUVEL_SETUP_BINARY, {"--list", "--source", Source(), "--json"});
  EXPECT_NE(list.output.find("\"older\":1"), std::string::npos) << list.output;
  // An installation that did not finish says so.
  WriteTestFile(Installed("launch/003MUL50/.nuvel-installing"), "");
  list = RunBinary(NUVEL_SETUP_BINARY, {"--list", "--source", Source()});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.output.find("  003MUL50  incomplete   V5.0"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find("  003MUL50  incomplete   JPN"), std::string::npos) << list.output;

  // A machine without an installation: nothing installed, nothing created.
  WipeMachine();
  const auto bare = Snapshot(sysroot_.root());
  list = RunBinary(NUVEL_SETUP_BINARY, {"--list", "--json", "--source", Source()});
  EXPECT_EQ(list.status, 0) << list.output;
  EXPECT_NE(list.output.find("\"installation\":null"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find("\"installed_courses\":[]"), std::string::npos) << list.output;
  EXPECT_EQ(Snapshot(sysroot_.root()), bare);
  EXPECT_EQ(RunBinary(NUVEL_SETUP_BINARY, {"--json", "--source", Source()}).status, 2);
}

}  // namespace
}  // namespace nuvel::testing
