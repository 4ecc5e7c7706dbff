#include "setup/driver.h"

#include <cstdlib>
#include <ctime>

#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "setup/version.h"

namespace nuvel::setup {
namespace {

using base::Run;
using base::WriteLogf;

// Start-up: fresh state, the source root, the system folder, the log and records.ini.
void StartUp(const DriverOptions& options) {
  base::Run().reset();
  base::Paths().reset();
  base::Log().reset();
  base::FreePrivateProfile();

  Run().current_dir = options.source;

  // Find the system folder and seed the random generator (names of test files, ...).
  base::Paths().localNuvelDirectory.clear();
  base::FindLocalNuvelDirectory();
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  base::FindLocalTempDirectory();

  WriteLogf(0, "Starting Nuvel Setup Application version %s (%s)", SETUP_VERSION, kBuildTag);
  std::srand(static_cast<unsigned>(std::time(nullptr)) ^ 0x5eed);

  base::Paths().rRecordsIniPath = base::FindLocalNuvelDirectory();
  if (!Run().quitFlag) base::Read_RecordsIni();
}

}  // namespace

int RunSetup(const DriverOptions& options) {
  StartUp(options);
  bool failed = Run().quitFlag != 0;

  WriteLogf(0, "End of Nuvel Setup Application");
  return failed ? kExitIncomplete : kExitNormal;
}

}  // namespace nuvel::setup
