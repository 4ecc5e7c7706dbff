// Crash safety: an installation killed outright (SIGKILL: no handler, no clean-up) at many
// moments of its run, from the first settings to the last content file, and then run again with
// the same answers must end with the tree and the settings of an installation never interrupted.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "tests/scenario/scenario.h"
#include "tests/support/test_env.h"

namespace nuvel::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// What a run leaves that must not depend on being interrupted: every file below the installation
// (by its bytes' hash) but the log, and the lines of records.ini.
struct Snapshot {
  std::map<std::string, std::size_t> files;
  std::set<std::string> settings;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const std::string& installation) {
  Snapshot snapshot;
  for (const auto& entry : fs::recursive_directory_iterator(installation)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = entry.path().lexically_relative(installation).string();
    if (relative == "Nuvel_log.txt" || relative == "records.ini") continue;
    snapshot.files[relative] = std::hash<std::string>{}(ReadTestFile(entry.path().string()));
  }
  for (const std::string& line : FileLines(installation + "/records.ini")) {
    snapshot.settings.insert(line);
  }
  return snapshot;
}

// Names the first difference, so that a failure says what was lost or left over.
std::string FirstDifference(const Snapshot& want, const Snapshot& got) {
  for (const auto& [file, hash] : want.files) {
    auto it = got.files.find(file);
    if (it == got.files.end()) return "missing " + file;
    if (it->second != hash) return "differs " + file;
  }
  for (const auto& [file, hash] : got.files) {
    if (!want.files.count(file)) return "left over " + file;
  }
  for (const std::string& line : want.settings) {
    if (!got.settings.count(line)) return "records.ini lacks " + line;
  }
  for (const std::string& line : got.settings) {
    if (!want.settings.count(line)) return "records.ini has " + line;
  }
  return "";
}

class CrashSafetyTest : public ScenarioTest {
 protected:
  void SetUp() override { MakeSource({"--content-mb", "40", "--content-as", "mixed"}); }

  // The run declines the update offer that Control makes of an installed course and installs
  // Foundations 1 (French) with its content.
  const std::string answers_ =
      kStart + "prompt:MSG_Message_AMoreRecentVersion -> 2\nfamily select 1 -> 1\nproducts -> 1\n"
      "multi-language select 1 -> 1\ninstall -> 1\n" + kEnd;
};

TEST_F(CrashSafetyTest, KilledAtTwentyMomentsTheNextRunEndsAsAnUninterruptedRun) {
  const auto started = Clock::now();
  RunResult reference_run = Setup(answers_);
  const auto duration = Clock::now() - started;
  ASSERT_EQ(reference_run.status, 0) << reference_run.output;
  const Snapshot reference = Take(Installed());
  ASSERT_GT(reference.files.size(), 100u);

  constexpr int kMoments = 20;
  int killed = 0;
  for (int i = 1; i <= kMoments; ++i) {
    SCOPED_TRACE("killed at " + std::to_string(i) + "/" + std::to_string(kMoments + 1) +
                 " of the run");
    fs::remove_all(Installed());
    pid_t pid = StartSetup(answers_, sysroot_.path("killed-output.txt"));
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(duration * i / (kMoments + 1));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    killed += WIFSIGNALED(status) ? 1 : 0;

    RunResult again = Setup(answers_);
    ASSERT_EQ(again.status, 0) << again.output;
    const Snapshot after = Take(Installed());
    EXPECT_EQ(FirstDifference(reference, after), "");
  }
  // A kill after the run's end proves nothing; most moments must have caught it running.
  EXPECT_GE(killed, kMoments / 2);
}

}  // namespace
}  // namespace nuvel::testing
