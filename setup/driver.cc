#include "setup/driver.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "installer/copy_engine.h"
#include "installer/install.h"
#include "installer/selection.h"
#include "installer/shortcuts.h"
#include "installer/sources.h"
#include "net/download.h"
#include "net/transport.h"
#include "platform/process.h"
#include "platform/run_reset.h"
#include "platform/terminal.h"
#include "platform/volumes.h"
#include "records/server_settings.h"
#include "setup/install_flow.h"
#include "setup/options.h"
#include "setup/records_login.h"
#include "setup/updates.h"
#include "setup/version.h"
#include "ui/dialog.h"
#include "ui/prompts.h"
#include "ui/run_report.h"
#include "ui/status_box.h"

namespace nuvel::setup {
namespace {

using base::Run;
using base::WriteLogf;

// The oldest kernel this Setup runs on (file-copy offload and statx need it).
constexpr int kMinimumKernelMajor = 4;
constexpr int kMinimumKernelMinor = 5;
constexpr const char* kMinimumSystemText = "4.5";

// Where the message file lies inside an installation source and beside the program.
constexpr const char* kEngineLocalizationFileBase = "install/data/support/engine.luc";

// How the run goes on after a phase.
enum class Next {
  kContinue,
  kFinish,       // the finishing tail
  kAbort,        // the incomplete-setup message (with AbortCause()), then the end
  kEndSilently,  // the end without a message (unless a courseware application still runs)
  kEndQuietly,   // the local copy of this Setup took over: nothing at all
  kAnotherRuns,  // another Setup or the Records Manager runs: one line on standard error
  kUninstalled,  // the whole installation was removed: only the last log line
  kLoginRefused,  // the Records-server login failed: the finishing tail, a line on standard error
};

std::string CurrentDirFile(const char* relative) {
  const std::string& dir = Run().current_dir;
  if (base::IsMacHFSFileFormat(dir)) {
    std::string hfs = relative;
    for (char& c : hfs) c = c == '/' ? ':' : c;
    return dir + ":" + hfs;
  }
  return dir + "/" + relative;
}

// Why the run is aborted, shown under the incomplete-setup message; "" when files could not be
// copied (the message's own explanation).
std::string& AbortCause() {
  static std::string cause;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("setup::abort cause", [] { cause.clear(); });
  return cause;
}

Next AbortBecause(std::string cause) {
  WriteLogf(0, "Setup incomplete: %s", cause.c_str());
  AbortCause() = std::move(cause);
  return Next::kAbort;
}

// The system folder (or the default installation folder) could not be had.
Next AbortWithoutSystemFolder() {
  const std::string& folder = base::Paths().administratorNeeded;
  if (folder.empty()) return AbortBecause(base::StrRez(0, "MSG_Message_NoSystemFolder"));
  return AbortBecause(base::StrRezf(0, "MSG_Message_AdministratorNeeded", {folder}));
}

// Formats a version number such as 362 as "3.6" (the version divided by 100, one decimal).
std::string VersionAsDecimal(int version) {
  char text[32];
  std::snprintf(text, sizeof text, "%1.1f", version / 100.0);
  return text;
}

// The message file of the interface: the one downloaded into the system folder, else the
// source's, else the one shipped with the program (beside it, or in its installed data folder).
void OpenMessages() {
  const std::string candidates[] = {
      base::Paths().localNuvelDirectory.empty() ? ""
                                                : base::Paths().localNuvelDirectory + "engine.luc",
      CurrentDirFile(kEngineLocalizationFileBase),
      platform::ShippedDataFile("engine.luc"),
  };
  for (const auto& path : candidates) {
    if (!path.empty() && platform::IsRegularFile(path) && base::OpenMessageFile(0, path)) return;
  }
  WriteLogf(0, "ERROR: no message file found; texts are the built-in English ones");
}

// The oldest supported system.
bool SystemIsSupported() {
  int major = 0, minor = 0;
  if (!platform::KernelVersion(major, minor)) return true;
  return major > kMinimumKernelMajor ||
         (major == kMinimumKernelMajor && minor >= kMinimumKernelMinor);
}

// Ends the process at once (no clean-up), after showing `message` unless it is the quiet
// "Exiting Nuvel..." of a quit event.
[[noreturn]] void Quit(const std::string& message, int status) {
  if (!message.empty() && message != "Exiting Nuvel...") {
    ui::Ask({.id = message, .message = message, .buttons = {"OK"}});
  }
  WriteLogf(0, "%s", message.c_str());
  ui::PrintRunSummary(status);
  platform::RestoreTerminal();
  std::fflush(nullptr);
  std::_Exit(status);
}

// The single-instance locks of this Setup and of the Records Manager, held for the run. A lock
// that cannot be taken safely (a link or a folder in the lock file's place, no lock folder)
// ends the run as incomplete: running without it could let two installations write one
// records.ini at once, and ending as "another Setup is running" would send an unattended run
// to wait for something that never ends.
Next TakeInstanceLocks() {
  for (const char* creator : {installer::kSetupCreator, installer::kRecordsManagerCreator}) {
    std::error_code ec;
    int running = installer::IsNuvelAlreadyRunning(creator, &ec);
    if (running == -1) return Next::kAnotherRuns;
    if (running == 0) {
      OpenMessages();
      return AbortBecause(base::StrRezf(0, "MSG_Message_InstanceLockUnsafe",
                                        {platform::InstanceLockPath(creator), ec.message()}));
    }
  }
  return Next::kContinue;
}

// A settings rewrite killed between its temporary file and the rename leaves the temporary file
// behind.
void RemoveInterruptedSettingsWrites() {
  for (const std::string& folder :
       {base::Paths().localNuvelDirectory, base::Paths().rRecordsIniPath}) {
    for (const std::string& path : platform::RemoveStaleAtomicWriteFiles(folder)) {
      WriteLogf(1, "Removed the temporary file of an interrupted settings write: %s", path.c_str());
    }
  }
}

// Start-up: fresh state, the source root, the system folder, the log and records.ini.
Next StartUp(const DriverOptions& options) {
  // Every module's state as at the start of a process, so that one process can run Setup again.
  platform::ResetRunState();
  installer::Fill_langTab();

  // The quit event (SIGTERM, SIGINT, SIGHUP) ends the run wherever it is.
  platform::InstallQuitSignalHandlers([](int signal) {
    WriteLogf(0, "Quit event received (signal %d)", signal);
    Quit("Exiting Nuvel...", kExitSignalBase + signal);
  });

  Run().current_dir = options.source;
  net::SetUserAgentVersion(SETUP_VERSION);
  installer::SetCourseDownload(net::DownloadCourse);

  if (!SystemIsSupported()) {
    OpenMessages();
    ui::Ask({.id = "MSG_SupportMacOSXOnly",
             .message = base::StrRezf(0, "MSG_SupportMacOSXOnly", {kMinimumSystemText}),
             .buttons = {"MSG_Button_Quit"}});
    return Next::kEndSilently;
  }

  // Another Setup, or the Records Manager, already running: this one ends. Where the system
  // folder exists the locks are taken before anything is written; on a first run once it is made.
  bool locked = false;
  if (platform::IsDirectory(platform::InstanceLockFolder())) {
    if (Next next = TakeInstanceLocks(); next != Next::kContinue) return next;
    locked = true;
  }

  // Find the system folder and seed the random generator (names of test files, ...).
  base::Paths().localNuvelDirectory.clear();
  base::FindLocalNuvelDirectory();
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  base::FindLocalTempDirectory();

  WriteLogf(0, "Starting Nuvel Setup Application version %s (%s)", SETUP_VERSION, kBuildTag);
  std::srand(static_cast<unsigned>(std::time(nullptr)) ^ 0x5eed);

  base::Paths().rRecordsIniPath = base::FindLocalNuvelDirectory();
  if (Run().quitFlag) return AbortWithoutSystemFolder();
  if (!locked) {
    if (Next next = TakeInstanceLocks(); next != Next::kContinue) return next;
  }
  base::Read_RecordsIni();
  RemoveInterruptedSettingsWrites();
  // Opened once records.ini is known, so that its force_OS_lang chooses the language.
  OpenMessages();
  return Next::kContinue;
}

// A Setup started from the installation disc copies itself (the Setup.app bundle, or
// the program), NuvelTool and the message file into the temporary folder and runs that copy,
// so that the disc can be ejected and changed during the installation. 1 when the copy took
// over and this process must end.
int IfRunningFromCDCopyToLocalHD(const DriverOptions& options) {
  const installer::SourceState& sources = installer::Sources();
  std::string exe = platform::ExecutablePath();
  platform::Volume here;
  int here_number = platform::VolumeOf(exe, here) ? here.number : 0;
  if (sources.gCDVolRefNum == 0 || here_number != sources.gCDVolRefNum ||
      base::RunningFromTempFolder()) {
    WriteLogf(1, "Not running Setup from CD.  %d != %d.", here_number, sources.gCDVolRefNum);
    return 0;
  }
  std::string temp = base::FindLocalTempDirectory();
  std::string exe_folder = platform::WithoutFileName(exe);
  std::string bundle = platform::ApplicationFolder() + "/Setup.app";
  std::string copy;
  if (exe.starts_with(bundle + "/")) {
    copy = temp + "Setup.app/Contents/MacOS/" + platform::FileName(exe);
    if (installer::DuplicateMyFile(bundle, temp + "Setup.app", 0) != 1) {
      WriteLogf(1, "Error copying 'Setup' from %s to temp folder %s", bundle.c_str(), temp.c_str());
      return 0;
    }
  } else {
    copy = temp + platform::FileName(exe);
    if (installer::DuplicateMyFile(exe, copy, 0) != 1) {
      WriteLogf(1, "Error copying 'Setup' from %s to temp folder %s", exe.c_str(), temp.c_str());
      return 0;
    }
  }
  std::string copy_folder = platform::FolderPrefix(copy);
  for (const char* companion : {"NuvelTool", "engine.luc"}) {
    std::string from = exe_folder + "/" + companion;
    if (platform::Exists(from) && installer::DuplicateMyFile(from, copy_folder + companion, 0) != 1) {
      WriteLogf(1, "Error copying 'NuvelTool' from %s to temp folder %s", from.c_str(),
                temp.c_str());
      return 0;
    }
  }
  // The copy installs from the disc and takes both single-instance locks: one still held here
  // would end it as "another Setup is running" whenever it starts before this process has ended.
  std::vector<std::string> argv = options.argv;
  if (argv.empty()) argv.push_back(copy);
  argv[0] = copy;
  argv.push_back("--source=" + Run().current_dir);
  for (const char* creator : {installer::kSetupCreator, installer::kRecordsManagerCreator}) {
    platform::ReleaseInstanceLock(creator);
  }
  int pid = 0;
  platform::SpawnOptions spawn;
  spawn.inherit_input = true;
  if (std::error_code ec = platform::Spawn(argv, pid, spawn)) {
    WriteLogf(1, "Error %d Launching '%s', now running Setup from CD.", ec.value(), copy.c_str());
    for (const char* creator : {installer::kSetupCreator, installer::kRecordsManagerCreator}) {
      bool held = false;
      platform::TakeInstanceLock(creator, held);
    }
    return 0;
  }
  WriteLogf(0, "Running Setup from the local copy %s", copy.c_str());
  return 1;
}

// The installation disc, when one is mounted.
void FindTheDisc() {
  base::RunState& run = Run();
  std::string disc;
  if (installer::FindAMIDCD(disc)) run.The_CD_ROM = disc;
  WriteLogf(0, "CD_ROM: %s", run.The_CD_ROM.c_str());
}

// A newer Setup has been used here before: going on may break what it installed. False when
// the user does not want to go on.
bool GoOnDespiteNewerSetup() {
  const int installed = Run().max_fix_level_installed;
  if (installed <= kSetupFixLevel) return true;
  std::string message =
      base::StrRezf(0, "MSG_Message_PreviouslyInstalledUsing", {VersionAsDecimal(installed)}) +
      "\r\r" +
      base::StrRezf(0, "MSG_Message_UsingMIDMayBreak", {VersionAsDecimal(kSetupFixLevel)}) +
      "\r\r" + base::StrRez(0, "MSG_Message_SureWantToContinue");
  return ui::Ask({.id = "MSG_Message_PreviouslyInstalledUsing",
                  .message = message,
                  .buttons = {"MSG_Dialog_Button_Continue", "MSG_Button_Quit"}}) == 1;
}

// The source must hold products; otherwise the disc's own folder becomes the source. False when
// neither holds any.
bool FindProductsOnSource() {
  base::RunState& run = Run();
  if (installer::CheckProdExistance()) return true;
  run.current_dir = run.The_CD_ROM;
  run.szDefaultIniFile = CurrentDirFile("install/data/setup.ini");
  installer::SetupOpenLocalLoc();
  ApplyForceEnglish(run.szDefaultIniFile);
  if (installer::CheckProdExistance()) return true;
  WriteLogf(0, "No products found on the installation source %s", run.current_dir.c_str());
  return false;
}

// An old update checker still installed: a network installation asks whether to go on, since
// clients on older systems may still depend on it. False when the user does not want to go on.
bool GoOnDespiteOldUpdateChecker() {
  base::RunState& run = Run();
  if (run.num_of_products <= 0) return true;
  std::string freshen =
      base::ProfileValue("Records", "freshen2_ver", "", base::GetRecordsIniFilePath());
  if (freshen.empty() || freshen.substr(0, 3) >= "230") return true;
  run.oldMacInstalled = 1;
  if (!base::GetIsPathNetworked()) return true;
  std::string message = base::StrRezf(0, "MSG_Message_PreviouslyInstalledUsing",
                                      {VersionAsDecimal(std::atoi(freshen.c_str()))}) +
                        "\r\r" + base::StrRezf(0, "MSG_SupportMacOSXOnly", {kMinimumSystemText}) +
                        "\r\r" + base::StrRez(0, "MSG_Message_SureWantToContinue") + "\r\r" +
                        base::StrRez(0, "MSG_StillHaveOS9Clients");
  return ui::Ask({.id = "MSG_Message_PreviouslyInstalledUsing",
                  .message = message,
                  .buttons = {"MSG_Button_Yes", "MSG_Button_No"}}) == 1;
}

// The source's setup.ini, and the options of it that the selection uses.
void ReadSourceOptions() {
  ReadSetupOptions(Run().szDefaultIniFile);
  installer::SelectionState& selection = installer::Selection();
  selection.force_limit_multiLanguages = Options().force_limit_multiLanguages;
  selection.forced_install_selected_courses_lang = Options().forced_install_selected_courses_lang;
  selection.force_download_courses = Options().force_download_courses;
}

// The first pass: the disc, the source, its options and the download server.
Next FirstPass(const DriverOptions& options) {
  base::RunState& run = Run();
  FindTheDisc();

  // Downloads go through the proxy records.ini names (else the system's, not written there:
  // the Records login writes it), and a newer message file of the download server replaces the
  // one in use.
  net::CheckProxySettings(base::Paths().rRecordsIniPath, false);
  ChooseDownloadServer();
  if (FetchEngineMessages()) OpenMessages();

  ui::StatusBoxCreate();
  run.szDefaultIniFile = CurrentDirFile("install/data/setup.ini");
  if (run.The_CD_ROM.empty()) run.The_CD_ROM = run.current_dir;
  run.The_Course_CD_ROM = run.The_CD_ROM;
  if (IfRunningFromCDCopyToLocalHD(options)) return Next::kEndQuietly;

  run.num_of_products = installer::NumOfProducts();
  if (!GoOnDespiteNewerSetup()) {
    return AbortBecause(base::StrRez(0, "MSG_Message_StoppedBeforeInstalling"));
  }
  if (!FindProductsOnSource()) {
    return AbortBecause(base::StrRezf(0, "MSG_Message_NoCoursesOnSource", {run.current_dir}));
  }
  if (!GoOnDespiteOldUpdateChecker()) return Next::kEndSilently;

  ui::StatusBoxDestroy();
  ReadSourceOptions();

  // A second Setup started while the options were read.
  if (installer::IsNuvelAppRunning(installer::kSetupCreator) == -1) {
    return AbortBecause(base::StrRez(0, "MSG_Message_AnotherSetupRunning"));
  }

  if (platform::IsDirectory(CurrentDirFile("Nuvel/content"))) run.Content_On_MID = 1;

  // A source limited to one interface language.
  const std::string& required = Options().force_limit_OS_lang;
  if (!required.empty() && required != base::CurrentLanguageCode()) {
    base::SetRequiredLanguage(required);
    base::RequireSpecificOS();
    return AbortBecause(base::StrRez(0, "MSG_Message_NeedsSystemLanguage"));
  }

  installer::Installer_Disk_Inserted(1);

  // The download server, as the source's options leave it; then a newer Setup replaces this one
  // when the user wants it.
  ChooseDownloadServer();
  if (NewerSetupWanted()) return StartNewerSetup() ? Next::kEndQuietly : Next::kFinish;
  return Next::kContinue;
}

// The incomplete-setup message, with the cause of the abort when it was not a copy.
void ShowSetupIncomplete() {
  const std::string& cause = AbortCause();
  std::string message =
      base::StrRez(0, "MSG_Message_SetupIncomplete") + "\r\r" +
      (cause.empty() ? base::StrRez(0, "MSG_Message_SetupDidNotCopyAllFiles") : cause);
  ui::Ask({.id = "MSG_Message_SetupIncomplete",
           .message = message,
           .title = "MSG_Message_SetupIncomplete",
           .buttons = {"MSG_Button_OK"}});
}

// Clean-up at the end of the run. The message file stays open until the process ends:
// the closing item may still have to say that it could not be started.
void CleanUp() {
  installer::FreeVersions();
  ui::StatusBox().Status_Box_Leave_Open = 0;
  ui::StatusBox().Status_Bar = 0;
  ui::StatusBoxDestroy();
  RecordsLogout();
  ui::TCPStatusBoxDestroy();
}

// Where the records live and how to start a course.
void ClosingMessages() {
  const base::PathState& paths = base::Paths();
  const bool networked = base::GetIsPathNetworked() != 0;
  // An Internet installation keeps its students' data in the server's own data folder.
  const std::string records = Run().Internet ? records::Resolve_DATA_I_Path() : paths.RecordsPath;
  if (Options().force_show_rights_needed && networked) {
    std::string message = base::StrRez(0, "MSG_VeryImportant") + "\r\r" + records + "\r\r" +
                          base::StrRez(0, "MSG_GiveAllRights") + "  " +
                          base::StrRez(0, "MSG_AllPrivileges");
    ui::Ask({.id = "MSG_VeryImportant",
             .message = message,
             .title = "MSG_GiveAllRights",
             .buttons = {"MSG_Button_OK"}});
  }
  if (networked) {
    std::string message = paths.rRecordsIniPath + "Shortcuts/Nuvel Courseware\r\r" +
                          base::StrRez(0, "MSG_CopyShortcutToDesktop") + "  " +
                          base::StrRez(0, "MSG_HowToStartCourse1");
    ui::Ask({.id = "MSG_CopyShortcutToDesktop",
             .message = message,
             .title = "Copy Shortcuts",
             .buttons = {"MSG_Button_OK"}});
  } else {
    ui::Ask({.id = "MSG_HowToStartCourse2",
             .message = "MSG_HowToStartCourse2",
             .title = "Click on Shortcuts",
             .buttons = {"MSG_Button_OK"}});
  }
}

// The backup reminder of a network installation.
void BackupReminder() {
  if (Options().force_download_courses) return;
  if (!base::GetIsPathNetworked() || Run().Internet) return;
  const std::string& records = base::Paths().RecordsPath;
  std::string message = records + "\r\r" + base::StrRez(0, "MSG_Message_RememberToBackup");
  bool single = installer::prodTotal() == 1 || Run().ContentCD_MID;
  if (!(single && Run().Content_On_MID)) {
    message += "\r\r\r" + base::StrRez(0, "MSG_Message_RemoveCD");
  }
  ui::Ask({.id = "MSG_Message_RememberToBackup",
           .message = message,
           .title = "MSG_Message_RememberToBackup",
           .buttons = {"MSG_Button_OK"}});
}

// The closing item named by the installed product's own setup.ini.
void ChooseClosingItem() {
  base::RunState& run = Run();
  if (installer::prodTotal() != 1 || run.szOverrideIniFile.empty()) return;
  std::string allow = ReadSetupText(run.szOverrideIniFile, "allow_run");
  if (allow.empty() || allow.find('n') != std::string::npos) return;
  run.ItemToRun = ReadSetupText(run.szOverrideIniFile, "run_item_mac");
  run.RunSomethingWhenDone = 1;
}

// The finishing tail: closing messages, clean-up, the closing item.
void FinishingTail() {
  base::RunState& run = Run();
  base::FileUtils().gFixFileName = 1;
  if (run.actuallyInstalledSomething) ClosingMessages();
  if (!run.ContentCD_MID) installer::CD_Eject();
  if (run.actuallyInstalledSomething) BackupReminder();
  OfferUpdates();

  WriteLogf(0, "End of Nuvel Setup Application");
  if (run.fInstallOnProgress) return;
  CleanUp();
  ChooseClosingItem();
  if (run.RunSomethingWhenDone && !run.fExit) {
    std::string product;
    const auto& order = installer::Selection().installOrder;
    if (!order.empty()) {
      product = base::GetNuvelIniPath(
          base::Path("launch"),
          installer::Sources().prodList[static_cast<std::size_t>(order.front())].folder);
    }
    installer::RunProgram(run.ItemToRun, product);
  }
}

// The Welcome loop and everything it leads to; how the run ends after it.
Next WelcomeAndInstallation() {
  switch (RunWelcomeLoop()) {
    case FlowEnd::kFinish:
      return Next::kFinish;
    case FlowEnd::kIncomplete:
      if (!base::Paths().administratorNeeded.empty()) return AbortWithoutSystemFolder();
      return Next::kAbort;
    case FlowEnd::kNoWayOn:
      return AbortBecause(base::StrRez(0, "MSG_Message_InstallOptionsNeeded"));
    case FlowEnd::kUninstalled:
      return Next::kUninstalled;
    case FlowEnd::kReplaced:
      return Next::kEndQuietly;
    case FlowEnd::kLoginRefused:
      return Next::kLoginRefused;
  }
  return Next::kFinish;
}

}  // namespace

int RunSetup(const DriverOptions& options) {
  // An unattended run tells what it does on standard error, unless asked to keep quiet.
  ui::EnableRunReport(ui::CurrentBackend().Unattended() && !options.quiet);
  Next next = StartUp(options);
  if (next == Next::kContinue) next = FirstPass(options);
  if (next == Next::kContinue) next = WelcomeAndInstallation();

  int status = kExitNormal;
  switch (next) {
    case Next::kContinue:
    case Next::kFinish:
      FinishingTail();
      break;
    case Next::kUninstalled:
      WriteLogf(0, "End of Nuvel Setup Application");
      break;
    case Next::kLoginRefused:
      // An unattended run must not end as if it had installed what it was asked to.
      FinishingTail();
      std::fprintf(stderr, "nuvel-setup: the Records-server login did not succeed; see %s\n",
                   base::Path("Nuvel_log.txt").c_str());
      status = kExitIncomplete;
      break;
    case Next::kEndQuietly:
      // The local copy of this Setup does the work: nothing to report.
      return kExitNormal;
    case Next::kAnotherRuns:
      // Silent on the desktop, where the other one is in front; an unattended run must be able
      // to tell that it did nothing.
      // That one line is all: the run did nothing to summarize.
      std::fputs("nuvel-setup: another Setup is running; nothing was done\n", stderr);
      return kExitAnotherSetup;
    case Next::kAbort:
      ShowSetupIncomplete();
      status = kExitIncomplete;
      [[fallthrough]];
    case Next::kEndSilently:
      // A courseware application still running must be closed by the user.
      if (Run().fNuvRunning) {
        ui::Ask(
            {.id = "MSG_Message_TerminateNuvel",
             .message = base::StrRezf(0, "MSG_Message_TerminateNuvel", {Run().szCoursewareName}),
             .title = "MSG_Message_TerminateNuvel",
             .buttons = {"MSG_Button_OK"}});
        Run().fExit = 1;
        FinishingTail();
      } else {
        CleanUp();
      }
      break;
  }
  ui::FinishDialogs();
  ui::PrintRunSummary(status);
  return status;
}

}  // namespace nuvel::setup
