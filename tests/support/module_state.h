// Puts the run-wide state of the modules back to its initial values, so that every test starts
// as a fresh run would and leaves nothing behind for the next. Header-only: a test binary links
// only the modules it tests, and uses the function that covers them.
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
#include "platform/syscalls.h"
#include "ui/prompts.h"
#include "ui/status_box.h"

namespace nuvel::testing {

/// The run flags, paths, log, message file, file utilities, profile cache, prompts and status
/// box; the real system calls.
inline void ResetBaseModules() {
  base::Run().reset();
  base::Paths().reset();
  base::Log().reset();
  base::Strings().reset();
  base::FileUtils().reset();
  base::FreePrivateProfile();
  ui::Prompts().reset();
  ui::StatusBox().reset();
  platform::ResetSyscalls();
}

/// ResetBaseModules, and the sources, selection, installing, copy engine and expansion.
inline void ResetInstallerModules() {
  ResetBaseModules();
  installer::Sources().reset();
  installer::Selection().reset();
  installer::Install().reset();
  installer::CopyEngine().reset();
  installer::Expand().reset();
}

}  // namespace nuvel::testing
