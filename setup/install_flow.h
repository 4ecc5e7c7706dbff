// The Welcome loop and everything it leads to: the installation chain (Install Options, the
// update of installed courses, the installation type, the selection of families, versions and
// languages, the copy, the companion and support files, "Install another", "Setup complete"),
// the uninstaller and Uninstall All.
//
// The selection chain runs families, versions, languages and products, and then, for a
// multilingual course, the choice of its support languages: the language list belongs to the
// chosen course, so it is asked for once the course is known. Each dialog's Cancel steps back to
// the previous dialog that was shown; Cancel in the first returns to Install Options.
//
// A records-login installation (force_TCPIP) logs in to the Records server after Install
// Options (setup/records_login.h) and installs with that session open.
#pragma once

namespace nuvel::setup {

/// How the Welcome loop ended.
enum class FlowEnd {
  kFinish,        // go to the finishing tail
  kIncomplete,    // show the incomplete-setup message
  kNoWayOn,       // the same, because the flow would come back to Install Options for ever
                  // without a dialog (the source skips it and nothing else leads on)
  kUninstalled,   // the whole installation was removed: straight to the end of the run
  kReplaced,      // a newer Setup was started in place of this one: end quietly
  kLoginRefused,  // the Records-server login could not be completed: the run ends
};

/// Runs the Welcome loop until the run is to end.
FlowEnd RunWelcomeLoop();

}  // namespace nuvel::setup
