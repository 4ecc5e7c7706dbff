// Running the real nuvel-setup and nuvel-ini binaries inside a test sysroot.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_env.h"

namespace nuvel::testing {

using Env = std::vector<std::pair<std::string, std::string>>;

struct RunResult {
  int status = -1;     // exit status (-1: did not exit normally)
  std::string output;  // standard output and standard error together
};

/// Runs `binary` with `args` in the current environment (the test sysroot's) plus `env`
/// (NAME, VALUE; an empty value unsets NAME) and waits. The interface language is English
/// unless `env` says otherwise.
RunResult RunBinary(const std::string& binary, const std::vector<std::string>& args,
                    const Env& env = {});

/// The lines of a file, split at CR LF (or LF), without their line ends.
std::vector<std::string> FileLines(const std::string& path);
/// The names directly inside a folder (none when it does not exist).
std::set<std::string> Entries(const std::string& folder);
/// The regular files below a folder by relative path, with their contents when `read` is set.
std::map<std::string, std::string> FilesBelow(const std::string& folder, bool read = true);

/// The value of `"key":` in a transcript line (its first occurrence, or its last): a string
/// decoded, a number as written; "<none>" when the key is missing.
std::string JsonField(const std::string& line, const std::string& key, bool last = false);
/// The decoded strings of the array `"key":[...]` in a transcript line.
std::vector<std::string> JsonStringArray(const std::string& line, const std::string& key);

// Answer-file pieces. The sample source wants the Control key held to pass Install Options.
inline const std::string kStart = "welcome -> 1\ninstall-options -> 1\n";
inline const std::string kEnd =
    "prompt:MSG_Message_InstallAnother -> 2\nprompt:MSG_Message_SetupComplete -> 1\n"
    "prompt:MSG_HowToStartCourse2 -> 1\ncontrol\n";

// ::testing::Test declares a private virtual Setup() only to trap a misspelt SetUp(); the
// Setup(...) below runs the program and hides it on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Woverloaded-virtual"

/// A private sysroot with the sample source at <sysroot>/source; the system folder (and the
/// default installation folder) is <sysroot>/opt/Nuvel.
class ScenarioTest : public ::testing::Test {
 protected:
  /// Writes the sample source with these generator options, replacing an earlier one.
  void MakeSource(std::vector<std::string> options = {});
  std::string Source(const std::string& relative = "") const;
  std::string Installed(const std::string& relative = "") const;
  std::string Transcript() const { return sysroot_.path("transcript.jsonl"); }
  std::string Log() const { return ReadTestFile(Installed("Nuvel_log.txt")); }
  /// Sets one option of the source's setup.ini.
  void SetSourceOption(const std::string& key, const std::string& value) {
    IniSet(Source("install/data/setup.ini"), "Nuvel", key, value);
  }

  /// Runs nuvel-setup on the source with these answers; the transcript replaces the last one.
  /// The placement test the sample source offers after a first course is declined unless the
  /// answers say otherwise.
  RunResult Setup(const std::string& answers, const Env& env = {},
                  const std::vector<std::string>& extra_args = {});
  /// Starts the same run as Setup() (without a transcript) in the background, standard output
  /// and error into `output`; the caller waits for the process.
  pid_t StartSetup(const std::string& answers, const std::string& output);
  /// The transcript lines of the dialogs named `name`.
  std::vector<std::string> Dialogs(const std::string& name) const;
  /// "welcome 1", "prompt:MSG_FixLevelLower 2": the path the last run took through its dialogs.
  std::vector<std::string> Path() const;

  /// nuvel-ini get: the value, or "<missing>".
  static std::string IniGet(const std::string& file, const std::string& section,
                            const std::string& key);
  static void IniSet(const std::string& file, const std::string& section, const std::string& key,
                     const std::string& value);

  TestSysroot sysroot_;

 private:
  // Writes the answer file of a run (the placement-test offer declined unless answered).
  std::string WriteAnswers(const std::string& answers);
};

#pragma GCC diagnostic pop

}  // namespace nuvel::testing
