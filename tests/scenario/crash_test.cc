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

// Regular files below a folder, complete or not.
std::size_t FileCount(const std::string& folder) {
  std::size_t count = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    count += it->is_regular_file(ec) ? 1 : 0;
  }
  return count;
}

TEST_F(CrashSafetyTest, KilledAtTwentyMomentsTheNextRunEndsAsAnUninterruptedRun) {
  RunResult reference_run = Setup(answers_);
  ASSERT_EQ(reference_run.status, 0) << reference_run.output;
  const Snapshot reference = Take(Installed());
  const std::size_t files = reference.files.size();
  ASSERT_GT(files, 100u);

  // The moments are spread over the run by how much of the tree is written: from the first
  // settings to the last content file.
  constexpr int kMoments = 20;
  int killed = 0;
  for (int i = 0; i < kMoments; ++i) {
    SCOPED_TRACE("killed with " + std::to_string(i) + "/" + std::to_string(kMoments) +
                 " of the files written");
    fs::remove_all(Installed());
    pid_t pid = StartSetup(answers_, sysroot_.path("killed-output.txt"));
    ASSERT_GT(pid, 0);
    const std::size_t target = files * static_cast<std::size_t>(i) / kMoments;
    int status = 0;
    bool ended = false;
    for (auto deadline = Clock::now() + std::chrono::seconds(60); Clock::now() < deadline;) {
      if ((ended = ::waitpid(pid, &status, WNOHANG) == pid)) break;
      if (FileCount(Installed()) >= target) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
    killed += WIFSIGNALED(status) ? 1 : 0;

    RunResult again = Setup(answers_);
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(FirstDifference(reference, Take(Installed())), "");
  }
  // A kill after the run's end proves nothing; the moments must have caught it running.
  EXPECT_GE(killed, kMoments * 3 / 4);
}

}  // namespace
}  // namespace nuvel::testing
