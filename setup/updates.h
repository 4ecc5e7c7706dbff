// The driver's use of the download server: the message file of the engine at start-up, the
// offer of a newer Setup (and its download, expansion and start), and the offer to look for
// updates after an installation (a newer update checker first, then its start).
//
// Decisions of this implementation:
//  - The download address is chosen (records.ini's `downloadaddress`, else the regional or the
//    default server) before the message file is fetched, so that a school's own server is asked
//    for it too, not only for what comes later.
//  - The update offer, when the version file was fetched but the comparison has not run in this
//    run, runs it, so that an out-of-date update checker is replaced before it is started.
#pragma once

namespace nuvel::setup {

/// Sets Run().DownloadAddress from records.ini or the interface language, and logs a change.
void ChooseDownloadServer();

/// Unless the Setup runs from the disc or the installation is on a network folder: fetches
/// ENGINE_LUC.ZIP into the local system folder and expands it there. True when a message file
/// was expanded (the messages should be opened again). Failures are only logged.
bool FetchEngineMessages();

/// Fetches the version file and, when it names a Setup newer than this one, asks whether to
/// download it ("Setup out-of-date"). True when the user said Yes.
bool NewerSetupWanted();

/// Replaces the local system folder's Setup.app by the one of SETUP.ZIP and starts it. True
/// when the new Setup was started (this one must end); false when any step failed.
bool StartNewerSetup();

/// After an installation, when the source asks for it (force_show_look_for_updates): offers to
/// look for updates; Yes fetches the version file, replaces an out-of-date update checker by
/// FRESHEN.ZIP and starts the update checker.
void OfferUpdates();

}  // namespace nuvel::setup
