// Puts the run-wide state of the modules back to its initial values, so that every test starts
// as a fresh run would and leaves nothing behind for the next. Both names run the one reset of
// every module the test binary has used (platform::ResetRunState); the headers of the modules
// stay included for the tests that reach the modules' state through this one.
#pragma once

#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/copy_engine.h"
#include "installer/expand.h"
#include "installer/install.h"
#include "installer/selection.h"
#include "installer/sources.h"
#include "platform/run_reset.h"
#include "platform/syscalls.h"
#include "ui/prompts.h"
#include "ui/status_box.h"

namespace nuvel::testing {

/// The run state of every module used so far, the real system calls included.
inline void ResetBaseModules() { platform::ResetRunState(); }

/// The same reset; the name stays for the tests of the installer.
inline void ResetInstallerModules() { platform::ResetRunState(); }

}  // namespace nuvel::testing
