// The run-wide flags and source locations that every subsystem reads and sets. The driver owns
// the run; the other modules set flags (quitFlag, copyFailed, ...) and the driver tests them
// after each call.
#pragma once

#include <string>

namespace nuvel::base {

struct RunState {
  int quitFlag = 0;                    // some module ended the run (SetQuitFlag)
  int fExit = 0;                       // the user closed a dialog with Exit
  int fCancel = 0;                     // the user closed a dialog with Cancel
  int fInstallOnProgress = 0;          // an installation is under way
  int fNuvRunning = 0;                 // a courseware application was found running
  int SkipInstall = 0;                 // nothing is to be installed
  int actuallyInstalledSomething = 0;  // at least one product was installed in this run
  int copyFailed = 0;                  // the copy engine failed
  int installDiscLess = 0;             // 1 full installation, 0 disc-based
  int Content_On_MID = 0;              // the source carries the course content folder
  int ContentCD_MID = 0;               // the content comes from the Setup's own disc
  int Internet = 0;                    // an Internet-records installation
  int EnteredEmailAddress = 0;         // a student e-mail login is in use
  int RunSomethingWhenDone = 0;        // launch ItemToRun at the end
  int num_of_products = 0;             // installed courses
  int max_fix_level_installed = 0;     // highest Setup version number recorded by products
  int oldMacInstalled = 0;             // an old update checker is installed

  std::string current_dir;        // the source root the driver works from
  std::string The_CD_ROM;         // the installation source's root
  std::string The_Course_CD_ROM;  // the course source's root
  std::string szDefaultIniFile;   // the source's setup.ini
  std::string szOverrideIniFile;  // setup.ini of the product being installed
  std::string szCoursewareName;   // the name shown in messages
  std::string DownloadAddress;    // base address of the download server
  std::string ItemToRun;          // the closing item

  void reset() { *this = RunState{}; }
};

/// The one run state of the process.
RunState& Run();

}  // namespace nuvel::base
