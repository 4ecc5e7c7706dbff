// The Setup driver: the whole run from start-up to exit, one strictly sequential flow of steps.
// Every decision comes from the run state that the other modules fill and from the results of
// modal dialogs.
#pragma once

#include <string>
#include <vector>

namespace nuvel::setup {

struct DriverOptions {
  std::string source;              // the installation source root (absolute)
  std::vector<std::string> argv;   // the command line, for a relaunch from a local copy
  bool quiet = false;              // --quiet: no progress or summary lines on standard error
};

/// Exit statuses of the run.
enum ExitStatus : int {
  kExitNormal = 0,      // finished, cancelled or quit by the user
  kExitIncomplete = 1,  // incomplete (a copy failed, no system folder, the Records login failed)
  kExitUsage = 2,       // the command line was wrong
  kExitAnotherSetup = 4,  // another Setup (or the Records Manager) is running; nothing was done
  kExitSignalBase = 128,  // + N: the run was ended by quit signal N (SIGTERM, SIGINT, SIGHUP)
};

/// Runs the Setup flow; returns the process exit status.
int RunSetup(const DriverOptions& options);

}  // namespace nuvel::setup
