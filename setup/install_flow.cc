#include "setup/install_flow.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/copy_engine.h"
#include "installer/install.h"
#include "installer/product_table.h"
#include "installer/selection.h"
#include "installer/shortcuts.h"
#include "installer/sources.h"
#include "installer/uninstall.h"
#include "net/download.h"
#include "platform/files.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "records/classes.h"
#include "records/install_options.h"
#include "setup/options.h"
#include "setup/records_login.h"
#include "setup/updates.h"
#include "setup/version.h"
#include "setup/welcome.h"
#include "ui/dialog.h"
#include "ui/prompts.h"
#include "ui/status_box.h"

namespace nuvel::setup {
namespace {

using base::Run;
using base::WriteLogf;
using installer::Selection;

// Room the installation folder and the records folder need before anything is copied.
constexpr std::uint64_t kDataFolderBytes = 52428800;
constexpr std::uint64_t kRecordsFolderBytes = 2000000;

// The states of the flow. Each of the first eight runs a part of it and names the state that
// comes next; the last five end the loop.
enum class Step {
  kWelcome,
  kUninstall,
  kInstallOptions,
  kCheckInstallations,
  kRecordsLogin,
  kInstallType,
  kSelection,
  kInstall,
  kFinish,
  kIncomplete,
  kNoWayOn,
  kUninstalled,
  kReplaced,
  kLoginRefused,
};

const char* StepName(Step step) {
  switch (step) {
    case Step::kWelcome:
      return "Welcome";
    case Step::kUninstall:
      return "Uninstall";
    case Step::kInstallOptions:
      return "InstallOptions";
    case Step::kCheckInstallations:
      return "CheckInstallations";
    case Step::kRecordsLogin:
      return "RecordsLogin";
    case Step::kInstallType:
      return "InstallType";
    case Step::kSelection:
      return "Selection";
    case Step::kInstall:
      return "Install";
    case Step::kFinish:
      return "Finish";
    case Step::kIncomplete:
      return "Incomplete";
    case Step::kNoWayOn:
      return "NoWayOn";
    case Step::kUninstalled:
      return "Uninstalled";
    case Step::kReplaced:
      return "Replaced";
    case Step::kLoginRefused:
      return "LoginRefused";
  }
  return "?";
}

// The level of the "state:" lines: above the level a log is written at by default (3), so that
// only a log asked to be more detailed tells the path a run took.
constexpr int kStateLogLevel = 4;

std::string RecordsIni() { return base::GetRecordsIniFilePath(); }

std::string ReadRecords(const char* key) {
  std::string value = base::ProfileValue("Records", key, "", RecordsIni());
  return value;
}

void WriteRecords(const char* key, std::string value) {
  base::StoreProfileValue("Records", key, value, RecordsIni());
}

// The run's state that lives across the loops of the flow.
struct FlowState {
  Step step = Step::kWelcome;       // changed only by Enter()
  bool supportFilesCopied = false;  // the support folder is copied once per run
  bool versionsCopied = false;      // the companions' versions are recorded once per run
  bool recordsLogin = false;        // records-login mode
  std::string launcherPicture;      // the Welcome dialog's picture
  std::vector<int> familyQueue;     // families still to install (several chosen, or all)
  bool queuedFamilies = false;
  bool multiLanguageChosen = false;      // the support language of several families, asked once
  int multiLanguageEntry = 0;            // its MLangTable entry
  bool installingPlacementTest = false;  // "INSTALLING_PT": the offered placement test
  bool placementTestOffered = false;     // offered once per run: "no" is not asked again
  int dialogsAtInstallOptions = -1;      // ui::DialogsShown() when Install Options last began
  bool controlHeld = false;  // the Control key of the click that led to the update check

  void reset() { *this = FlowState{}; }
};

FlowState& Flow() {
  static FlowState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("setup::Flow", [] { state.reset(); });
  return state;
}

// Moves the flow to `next`: the one place where its state changes, and logs the change.
// Re-entering the same state is logged too (the next of several families, the placement test
// after a course).
void Enter(Step next) {
  FlowState& flow = Flow();
  WriteLogf(kStateLogLevel, "state: %s -> %s", StepName(flow.step), StepName(next));
  flow.step = next;
}

// --- Welcome ---------------------------------------------------------------------------------

// The launcher picture: records.ini's launcher_picture, else the source's, else "Nuvel.jpg";
// looked for on the disc's support folder, the source's, the source root and the logos folder.
std::string FindLauncherPicture() {
  std::string name = ReadRecords("launcher_picture");
  if (name.empty()) name = Options().force_nuvel_jpg;
  if (name.empty()) name = "Nuvel.jpg";
  std::vector<std::string> candidates;
  const std::string& disc = installer::Sources().cdMountPath;
  if (!disc.empty())
    candidates.push_back(platform::WithTrailingSlash(disc) + "install/data/support/" + name);
  candidates.push_back(platform::WithTrailingSlash(Run().current_dir) + "install/data/support/" +
                       name);
  candidates.push_back(platform::WithTrailingSlash(Run().current_dir) + name);
  candidates.push_back(base::Path("logos") + name);
  for (const auto& path : candidates) {
    if (platform::IsRegularFile(path)) return path;
  }
  return "";
}

// A pending e-mail login of an earlier pass is dropped outside records-login mode.
void DropPendingLogin() {
  if (Options().force_TCPIP || !Run().EnteredEmailAddress) return;
  Run().EnteredEmailAddress = 0;
  base::RemoveSettingLines(RecordsIni(), "recordsipaddress", base::LineEdit::kDrop);
  base::RemoveSettingLines(RecordsIni(), "server_num", base::LineEdit::kDrop);
}

Step Welcome() {
  Run().szCoursewareName = "Nuvel";
  if (Run().SkipInstall || Run().fExit) return Step::kFinish;
  Flow().launcherPicture = FindLauncherPicture();
  WriteLogf(0, "Showing 'Welcome' Dialog");
  switch (Prompt_Welcome(Flow().launcherPicture)) {
    case kWelcomeUninstall:
      return Step::kUninstall;
    case kWelcomeInstall:
      // Install with Control at this click (not a Control held for the whole run): the newer
      // Setup of the download server replaces this one.
      if (ui::TakeControlKeyClick()) return StartNewerSetup() ? Step::kReplaced : Step::kFinish;
      DropPendingLogin();
      return Step::kInstallOptions;
    default:
      return Step::kFinish;
  }
}

// --- Install Options ---------------------------------------------------------------------------

// Logs every line of records.ini (lines holding "%s" are left out: they would be read as a
// format).
void LogRecordsIni() {
  std::string data;
  if (platform::ReadFile(RecordsIni(), data)) return;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find_first_of("\r\n", start);
    if (end == std::string::npos) end = data.size();
    std::string line = data.substr(start, std::min<std::size_t>(end - start, 254));
    if (!line.empty() && line.find("%s") == std::string::npos) WriteLogf(3, "%s", line.c_str());
    start = end + 1;
  }
}

// A source whose askrecords says no installs without the Install Options dialog.
bool SourceAsksForRecords() {
  std::string askrecords = base::UpperAscii(ReadSetupText(Run().szDefaultIniFile, "askrecords"));
  return askrecords.find('N') == std::string::npos;
}

// Without the dialog, a records.ini made in this run puts the records beside the installation
// folder.
void PlaceRecordsWithoutAsking() {
  base::PathState& paths = base::Paths();
  if (!paths.just_created_records_ini) return;
  paths.rRecordsIniPath = platform::WithTrailingSlash(platform::ParentFolder(paths.DataPath));
  platform::MakeDirectories(paths.localNuvelDirectory);
  platform::MakeDirectories(paths.RecordsPath);
  base::Write_RecordsIni();
}

// Makes the records and installation folders and checks that they have room and can be written
// (each check tells the user what is wrong). False sends the user back to Install Options.
bool PrepareInstallationFolders() {
  const base::PathState& paths = base::Paths();
  const SetupOptions& options = Options();
  const bool floppy = paths.rAccessFlag == "FLOPPY";
  if (!options.force_TCPIP) platform::MakeDirectories(paths.RecordsPath);
  platform::MakeDirectories(paths.DataPath);

  if (!installer::CheckAvailSpace(paths.DataPath, kDataFolderBytes)) return false;
  if (floppy) {
    WriteLogf(0, "Choose FLOPPY Records");
  } else if (!installer::CheckAvailSpace(paths.RecordsPath, kRecordsFolderBytes)) {
    return false;
  }

  if (!options.force_TCPIP && !floppy && !base::CanWriteIn(paths.RecordsPath, true)) {
    return false;
  }
  if (!base::CanWriteIn(paths.DataPath, true)) return false;
  return base::CanWriteIn(paths.rRecordsIniPath, true);
}

// The source's settings that records.ini keeps for the courses.
void WriteSourceSettings() {
  const SetupOptions& options = Options();
  std::string backup = ReadSetupText(Run().szDefaultIniFile, "backup_days");
  if (!backup.empty() && ReadRecords("backup_days").empty()) WriteRecords("backup_days", backup);
  if (!options.force_download_courses_path.empty()) {
    WriteRecords("force_download_courses_path", options.force_download_courses_path);
  }
  if (options.force_study_online) WriteRecords("allow_study_off_line", "n");
}

Step InstallOptionsPass() {
  Selection().install_selected_courses = 0;
  Run().fInstallOnProgress = 0;

  if (SourceAsksForRecords()) {
    WriteLogf(0, "Showing 'Install Options' Dialog");
    int result = records::Prompt_Records(ShowAdvancedButton());
    if (Run().fExit) return Step::kFinish;
    if (result == 2) return Step::kWelcome;
  } else {
    PlaceRecordsWithoutAsking();
  }

  // The shared application-data root: the part of the data path before "/Nuvel/".
  std::string data = platform::WithTrailingSlash(base::Paths().DataPath);
  if (auto at = data.find("/Nuvel/"); at != std::string::npos) {
    base::SetupCommonAppDataPath(data.substr(0, at));
    if (Run().quitFlag) return Step::kIncomplete;
    if (!base::CanWriteIn(base::Paths().commonAppDataPath, true)) {
      return Step::kInstallOptions;
    }
  }

  LogRecordsIni();
  if (!PrepareInstallationFolders()) return Step::kInstallOptions;
  // The classes of an earlier login belong to its session: another pass logs in again.
  if (Run().Internet) {
    records::ZeroAllClasses();
    Run().Internet = 0;
  }
  WriteSourceSettings();
  if (Run().quitFlag) return Step::kFinish;
  return Step::kCheckInstallations;
}

Step InstallOptions() {
  // Coming back here without a single dialog shown since the last time would repeat for ever
  // (the source skips the Install Options dialog and nothing else asks the user).
  if (Flow().dialogsAtInstallOptions == ui::DialogsShown()) return Step::kNoWayOn;
  Flow().dialogsAtInstallOptions = ui::DialogsShown();
  return InstallOptionsPass();
}

// What records.ini keeps of the source's options, in every mode; outside records-login mode also
// the download address.
void WriteModeSettings() {
  const SetupOptions& options = Options();
  if (!Flow().recordsLogin) {
    std::string address = ReadRecords("downloadaddress");
    if (address.empty()) {
      address = net::kDefaultDownloadAddress;
      WriteRecords("downloadaddress", address);
    }
    Run().DownloadAddress = address;
  }
  if (!options.force_nuvel_jpg.empty()) WriteRecords("launcher_picture", options.force_nuvel_jpg);
  if (!options.force_recordsipaddress.empty()) {
    WriteRecords("recordsipaddress", options.force_recordsipaddress);
  }
  if (options.force_always_on_default) WriteRecords("dial_up_connection", "n");
}

// After Install Options: updates of installed courses, the mode, and what every mode writes.
Step AfterInstallOptions() {
  const SetupOptions& options = Options();
  // The Control key of the click that led here (Install in Install Options, Yes to another
  // course) decides whether the installation goes on and how it is installed. It is taken before
  // the update check, so that it does not also offer every installed course as more recent, and
  // an answer to that offer does not replace it; held for the whole run, the check sees it.
  const bool control = ui::TakeControlKeyLatch();
  Flow().controlHeld = control;
  if (installer::CheckInstallations(
          [](bool forced) { return installer::UpdateAllProducts(forced); }) == 1) {
    Run().actuallyInstalledSomething = 1;
    return Step::kInstallOptions;
  }

  if (options.force_TCPIP) Run().EnteredEmailAddress = 1;
  Flow().recordsLogin = Run().EnteredEmailAddress != 0;
  if (Run().fExit) return Step::kFinish;
  WriteModeSettings();

  if (!Flow().recordsLogin) return control ? Step::kInstallType : Step::kInstallOptions;
  return Step::kRecordsLogin;
}

// The Records-server login: on to the installation type once a login is accepted.
Step RecordsLoginStep() {
  switch (RecordsLogin()) {
    case LoginEnd::kLoggedIn:
      return Step::kInstallType;
    case LoginEnd::kWelcome:
      return Step::kWelcome;
    case LoginEnd::kRefused:
      break;
  }
  return Step::kLoginRefused;
}

// --- Installation type -----------------------------------------------------------------------

Step InstallationType() {
  const SetupOptions& options = Options();
  bool full;
  if (!options.force_discless && !options.force_cd_based && base::GetIsPathNetworked() &&
      !Flow().controlHeld) {
    full = true;
  } else if (options.force_discless) {
    full = true;
  } else if (options.force_cd_based) {
    full = false;
  } else {
    std::string message = base::StrRez(0, "MSG_Message_ChooseInstallationType") + "\r\r" +
                          base::StrRez(0, "MSG_Message_InAFullInstallation");
    int choice =
        ui::AskChoice({.id = "MSG_Message_ChooseInstallationType",
                       .message = message,
                       .title = "MSG_Message_ChooseInstallationType",
                       .buttons = {"MSG_Button_Install", "MSG_Button_Cancel"}},
                      {"MSG_Message_FullInstallation", "MSG_Message_MinimalInstallation"}, 1);
    if (choice != 2 && choice != 3) return Step::kWelcome;
    full = choice == 2;
  }
  WriteLogf(0, full ? "Selected Discless" : "Selected CD-Based");
  Run().installDiscLess = full ? 1 : 0;
  return Step::kSelection;
}

// --- Selection chain ---------------------------------------------------------------------------

// The dialogs that choose the products of the chosen family, in the order they are shown:
// versions, languages, products and, for a multilingual course, its support languages.
enum class Stage { kVersion, kLanguage, kProducts, kSupportLanguage };

// How a stage of the chain ended.
enum class StageEnd {
  kSkipped,    // nothing to ask: the choice was made without a dialog
  kAnswered,   // the dialog was shown and answered
  kCancelled,  // the dialog was cancelled
  kNothing,    // nothing of the family is to be installed
  kAbandon,    // the installation of several families stops
};

StageEnd ChooseVersion(bool ask) {
  installer::SelectionState& sel = Selection();
  installer::EstablishVersions();
  if (!ask || sel.VersionCount() <= 1) {
    sel.theVersion = installer::NewestVersion();
    return StageEnd::kSkipped;
  }
  WriteLogf(0, "Showing 'Version' Dialog");
  return installer::Prompt_VersionDialog() == 1 ? StageEnd::kAnswered : StageEnd::kCancelled;
}

StageEnd ChooseLanguage(bool ask) {
  installer::EstablishLanguages();
  int available = 0;
  for (const auto& entry : Selection().langTab) available += entry.available ? 1 : 0;
  if (!ask || available <= 1) return StageEnd::kSkipped;
  WriteLogf(0, "Showing 'List of Languages' Dialog");
  return installer::Prompt_LangDialog() == 1 ? StageEnd::kAnswered : StageEnd::kCancelled;
}

StageEnd ChooseProducts(bool ask) {
  installer::CountProducts();
  if (ask) {
    WriteLogf(0, "Showing 'Install Multiple Products' Dialog");
    if (installer::Prompt_AddDialog() != 1) return StageEnd::kCancelled;
  }
  if (Selection().installOrder.empty()) return StageEnd::kNothing;
  return ask ? StageEnd::kAnswered : StageEnd::kSkipped;
}

// The support language of a multilingual course: the source's forced one, else the one chosen
// for an earlier family of the same installation, else asked when there is a choice, else the
// first available.
StageEnd ChooseSupportLanguage(bool ask) {
  installer::SelectionState& sel = Selection();
  if (!sel.fMultiLingualProduct) return StageEnd::kSkipped;
  int product = sel.installOrder.front();
  const std::string& forced = sel.forced_install_selected_courses_lang;
  installer::EstablishMultiLanguages(product);
  int available = 0, forcedEntry = -1;
  for (int i = 0; i < installer::kMLangTableSize; ++i) {
    const auto& entry = sel.MLangTable[static_cast<std::size_t>(i)];
    if (!entry.available) continue;
    ++available;
    if (!forced.empty() && base::EqualsIgnoreCase(entry.code, forced)) forcedEntry = i;
  }
  // Several families installed together share one support language, asked once.
  FlowState& flow = Flow();
  const bool shared = flow.queuedFamilies;
  if (forcedEntry >= 0) {
    sel.nLangType = forcedEntry;
  } else if (shared && flow.multiLanguageChosen) {
    sel.nLangType = flow.multiLanguageEntry;
  } else if ((ask || shared) && available > 1) {
    if (installer::Prompt_MultiLangDialog(product) != 1) {
      return shared ? StageEnd::kAbandon : StageEnd::kCancelled;
    }
    if (shared) {
      flow.multiLanguageChosen = true;
      flow.multiLanguageEntry = sel.nLangType;
    }
    return StageEnd::kAnswered;
  } else {
    for (int i = 0; i < installer::kMLangTableSize; ++i) {
      if (sel.MLangTable[static_cast<std::size_t>(i)].available) {
        sel.nLangType = i;
        break;
      }
    }
  }
  return StageEnd::kSkipped;
}

StageEnd RunStage(Stage stage, bool ask) {
  switch (stage) {
    case Stage::kVersion:
      return ChooseVersion(ask);
    case Stage::kLanguage:
      return ChooseLanguage(ask);
    case Stage::kProducts:
      return ChooseProducts(ask);
    case Stage::kSupportLanguage:
      return ChooseSupportLanguage(ask);
  }
  return StageEnd::kAbandon;
}

// How the choice within a family ended: products chosen, back to the families (the first dialog
// shown was cancelled, or nothing was chosen), or the installation abandoned.
enum class ChainResult { kChosen, kBack, kCancel };

// Runs the stages of the chosen family; `ask` false makes every choice without a dialog, except
// a support language that several families share.
ChainResult ChooseWithinFamily(bool ask) {
  // The stages whose dialog was answered on the way to the current one, newest last. Cancel goes
  // back to the newest (which, shown again, is pushed again), and out of the family when there
  // is none.
  std::vector<Stage> shown;
  Stage stage = Stage::kVersion;
  for (;;) {
    if (Run().fExit) return ChainResult::kCancel;
    switch (RunStage(stage, ask)) {
      case StageEnd::kAnswered:
        shown.push_back(stage);
        [[fallthrough]];
      case StageEnd::kSkipped:
        if (stage == Stage::kSupportLanguage) return ChainResult::kChosen;
        stage = static_cast<Stage>(static_cast<int>(stage) + 1);
        break;
      case StageEnd::kCancelled:
        if (shown.empty()) return ChainResult::kBack;
        stage = shown.back();
        shown.pop_back();
        break;
      case StageEnd::kNothing:
        return ChainResult::kBack;
      case StageEnd::kAbandon:
        return ChainResult::kCancel;
    }
  }
}

// The next of several families chosen together (or of all courses), without dialogs.
Step NextQueuedFamily() {
  FlowState& flow = Flow();
  if (flow.familyQueue.empty()) return Step::kFinish;
  Selection().nFamType = flow.familyQueue.front();
  flow.familyQueue.erase(flow.familyQueue.begin());
  switch (ChooseWithinFamily(false)) {
    case ChainResult::kChosen:
      return Step::kInstall;
    case ChainResult::kCancel:
      flow.queuedFamilies = false;
      flow.familyQueue.clear();
      return Step::kInstallOptions;
    case ChainResult::kBack:
      return Step::kSelection;  // nothing of this family to install: the next one
  }
  return Step::kSelection;
}

// The families dialog (when the source has several) and the choice within the family. Several
// families chosen together are queued; the selection state takes them one a pass.
Step SelectionChain() {
  installer::SelectionState& sel = Selection();
  FlowState& flow = Flow();
  if (flow.queuedFamilies) return NextQueuedFamily();

  for (;;) {
    if (Run().fExit) return Step::kFinish;
    installer::EstablishFamilies();
    if (sel.theDifferentFamiliesCount == 0) {
      WriteLogf(0, "No product family of this source can be installed");
      return Step::kIncomplete;
    }
    bool familyShown = false;
    if (Options().force_auto_install_all_courses) {
      flow.queuedFamilies = true;
      flow.familyQueue = sel.Order;
      sel.install_selected_courses = 1;
      return Step::kSelection;
    }
    if (sel.theDifferentFamiliesCount >= 2) {
      familyShown = true;
      if (installer::Prompt_FamDialog() != 1) return Step::kInstallOptions;
      if (sel.install_selected_courses) {
        flow.queuedFamilies = true;
        flow.familyQueue.clear();
        for (int row : sel.Order) {
          if (sel.fam[static_cast<std::size_t>(row)].selected) flow.familyQueue.push_back(row);
        }
        return Step::kSelection;
      }
    } else {
      sel.nFamType = sel.Order.front();
    }
    ChainResult result = ChooseWithinFamily(true);
    if (result == ChainResult::kChosen) return Step::kInstall;
    if (result == ChainResult::kCancel || !familyShown) return Step::kInstallOptions;
  }
}

// --- Installing ------------------------------------------------------------------------------

std::string DataFolderParent() { return platform::ParentFolder(base::Paths().DataPath); }

// The support folder of the installation, shared by every course: copied once per run.
void CopySupportFilesOnce() {
  FlowState& flow = Flow();
  if (flow.supportFilesCopied) return;
  flow.supportFilesCopied = true;
  std::string support = DataFolderParent() + "/support/";
  platform::MakeDirectories(support);
  std::string source_data = platform::WithTrailingSlash(Run().current_dir) + "install/data/";
  installer::CopyMyFile("Nuvel.jpg", source_data, support, 1);
  if (!flow.launcherPicture.empty()) {
    std::string name = platform::FileName(flow.launcherPicture);
    installer::DuplicateMyFile(flow.launcherPicture, support + name, 0);
  }
  if (platform::IsDirectory(source_data + "support")) {
    installer::XcopyFilesWithScrollBar(source_data + "support",
                                       platform::WithoutTrailingSlash(support), 1, 0, "");
  }
  std::string picture =
      flow.launcherPicture.empty() ? "" : platform::FileName(flow.launcherPicture);
  if (!picture.empty()) {
    WriteRecords("launcher_picture", picture);
  } else if (ReadRecords("launcher_picture").empty()) {
    WriteRecords("launcher_picture", "Nuvel.jpg");
  }
  if (ReadRecords("disable_QT_accleration").empty()) WriteRecords("disable_QT_accleration", "n");
}

// The companion applications' versions, the same for every course: recorded once per run.
void RecordCompanionVersionsOnce() {
  FlowState& flow = Flow();
  if (flow.versionsCopied) return;
  flow.versionsCopied = true;
  std::string versions =
      platform::WithTrailingSlash(Run().current_dir) + "install/data/versions.ini";
  for (const char* key :
       {"rm2_ver", "launcher2_ver", "analyze2_ver", "freshen2_ver", "docIni_ver"}) {
    std::string value = base::ProfileValue("Records", key, "0", versions);
    WriteRecords(key, value);
  }
  base::UpDateRecordsIniWithActualVersions();
}

bool RunsFromDisc() { return installer::InstallOpts().runfromcd == 1; }

// True when a family still queued for installation holds the product of `folder`.
bool QueuedForInstallation(const std::string& folder) {
  const std::string number = folder.substr(0, 3);
  for (int row : Flow().familyQueue) {
    if (Selection().fam[static_cast<std::size_t>(row)].number.find(number) != std::string::npos)
      return true;
  }
  return false;
}

// The placement test the source offers after a course: a placement test (not the proficiency
// test) that the source holds, that is not installed yet and that is not among the courses
// still to install. Its found-product index, or -1.
int OfferedPlacementTest() {
  const auto& products = installer::Sources().prodList;
  for (std::size_t i = 0; i < products.size(); ++i) {
    const std::string& folder = products[i].folder;
    int number = installer::ProductNumberOfFolder(folder);
    if (!installer::ProductIsAPlacementTestButNotProficiencyTest(number)) continue;
    if (platform::IsDirectory(platform::WithTrailingSlash(base::Paths().DataPath) + folder))
      continue;
    if (products[i].installed || QueuedForInstallation(folder)) continue;
    return static_cast<int>(i);
  }
  return -1;
}

// After a course, offer the source's placement test (once per run: a technician who
// said no is not asked again after every course). Installing all courses asks nothing: the
// placement test is one of them. True when it is to be installed next (the selection then holds
// it alone).
bool OfferPlacementTest() {
  FlowState& flow = Flow();
  if (flow.recordsLogin || installer::prodTotal() <= 1 || flow.installingPlacementTest ||
      Options().force_auto_install_all_courses) {
    flow.installingPlacementTest = false;
    return false;
  }
  int test = OfferedPlacementTest();
  if (test < 0 || flow.placementTestOffered) return false;
  flow.placementTestOffered = true;
  if (ui::Ask({.id = "MSG_Message_AboutToInstallPT",
               .message = "MSG_Message_AboutToInstallPT",
               .buttons = {"MSG_Button_OK", "MSG_Button_Cancel"}}) != 1) {
    return false;
  }
  installer::SelectionState& sel = Selection();
  sel.installOrder = {test};
  sel.selectedTotal = 1;
  sel.fMultiLingualProduct =
      installer::Sources().prodList[static_cast<std::size_t>(test)].multilingual;
  flow.installingPlacementTest = true;
  installer::Installer_Disk_Inserted(0);
  return true;
}

// Copies the startup files of the selected products, with the busy cursor.
void CopySelectedProducts() {
  installer::SelectionState& sel = Selection();
  Run().fInstallOnProgress = 1;
  installer::InstallOpts().force_show_confirm_install_screen =
      Options().force_show_confirm_install_screen;

  std::uint64_t total =
      sel.install_selected_courses
          ? static_cast<std::uint64_t>(sel.install_courses_total_size)
          : static_cast<std::uint64_t>(sel.fam[static_cast<std::size_t>(sel.nFamType)].sizeMB) *
                1000000ULL;
  installer::CopyEngine().gBytesToTransfer = total;
  ui::CurrentBackend().SetCursor(ui::Cursor::kBusy);
  const int installed_before = Run().num_of_products;
  installer::InstallProducts();
  ui::CurrentBackend().SetCursor(ui::Cursor::kArrow);
  if (Run().num_of_products > installed_before) Run().actuallyInstalledSomething = 1;
}

// The files every installation holds beside the courses.
void CopyFilesBesideTheCourses() {
  if (RunsFromDisc()) installer::ChangeVersionFile();
  ui::StatusBoxCreate();
  installer::CopyOtherFiles();
  if (base::GetIsPathNetworked()) {
    platform::MakeDirectories(platform::WithTrailingSlash(base::Paths().DataPath) +
                              "extension_activities");
  }
}

// The technologies and documents the courses need, and the content of a full installation.
void CopyWhatTheCoursesNeed() {
  installer::Copy_Technologies();
  installer::Copy_Documents();
  if (Run().installDiscLess) {
    installer::Copy_The_Content();
    installer::Installer_Disk_Inserted(0);
  }
}

// After the courses: another family of the queue, another product when the user wants one, or
// the end of the installation.
Step AnotherProductOrComplete() {
  if (Flow().queuedFamilies) {
    if (!Flow().familyQueue.empty()) return Step::kSelection;
  } else if (ui::Ask({.id = "MSG_Message_InstallAnother",
                      .message = "MSG_Message_InstallAnother",
                      .buttons = {"MSG_Button_Yes", "MSG_Button_No"}}) == 1) {
    return Flow().recordsLogin ? Step::kInstallOptions : Step::kCheckInstallations;
  }

  Run().fInstallOnProgress = 0;
  Flow().queuedFamilies = false;
  Flow().multiLanguageChosen = false;
  if (!(Run().Internet && installer::prodTotal() > 1)) {
    ui::Ask({.id = "MSG_Message_SetupComplete",
             .message = base::StrRezf(0, "MSG_Message_SetupComplete", {Run().szCoursewareName}),
             .title = base::StrRezf(0, "MSG_Message_SetupComplete", {Run().szCoursewareName}),
             .buttons = {"MSG_Button_OK"}});
  }
  return Step::kFinish;
}

Step Install() {
  CopySelectedProducts();
  if (Run().copyFailed) {
    ui::StatusBoxDestroy();
    return Step::kIncomplete;
  }
  if (Run().fExit) {
    ui::StatusBoxDestroy();
    return Step::kFinish;
  }

  if (!Run().fCancel) CopyFilesBesideTheCourses();
  CopySupportFilesOnce();
  if (Run().copyFailed) {
    ui::StatusBoxDestroy();
    return Step::kIncomplete;
  }
  if (!RunsFromDisc()) installer::Create_The_Icons(1);
  if (Run().copyFailed) return Step::kIncomplete;
  if (Run().fExit) return Step::kFinish;

  CopyWhatTheCoursesNeed();
  if (Run().copyFailed) return Step::kIncomplete;
  if (Run().fExit) return Step::kFinish;
  installer::FinishInstalledCourses();

  RecordCompanionVersionsOnce();
  if (OfferPlacementTest()) return Step::kInstall;
  return AnotherProductOrComplete();
}

// --- Uninstall -------------------------------------------------------------------------------

// Asks to confirm Uninstall All, naming every folder the removal will touch, not only the
// installation folder. 1 when the user confirms.
int AskUninstallAll() {
  std::string name = Run().szCoursewareName;
  if (!base::EqualsIgnoreCase(name, "Nuvel")) name += " / Nuvel";
  std::string folders;
  for (const std::string& folder : installer::WholeInstallationFolders()) {
    folders += (folders.empty() ? "" : "\r") + folder;
  }
  if (folders.empty()) folders = platform::ParentFolder(base::Paths().DataPath);
  std::string message =
      folders + "\r\r" + base::StrRezf(0, "MSG_Message_UninstallAllServer", {name});
  WriteLogf(0, "Showing 'Uninstall All' Dialog");
  return ui::Ask({.id = "MSG_Message_UninstallAllServer",
                  .message = message,
                  .title = base::StrRezf(0, "MSG_Message_UninstallAllServer", {name}),
                  .buttons = {"MSG_Button_UninstallAll", "MSG_Button_Cancel"}});
}

// Says that the installation is gone, with what was left in place and what could not be removed.
void ReportWholeRemoval(const installer::WholeRemoval& removal) {
  std::string message = "Complete!";
  if (!removal.left.empty()) {
    message += "\r\r" + base::StrRez(0, "MSG_Message_LeftInPlace");
    for (const std::string& path : removal.left) message += "\r" + path;
  }
  if (!removal.failed.empty()) {
    message += "\r\r" + base::StrRez(0, "MSG_Message_CouldNotRemove");
    for (const std::string& path : removal.failed) message += "\r" + path;
  }
  ui::Ask({.id = "Complete!", .message = message, .buttons = {"OK"}});
}

// The Uninstall dialog until the user is done, or confirms Uninstall All and everything goes.
Step Uninstall() {
  for (;;) {
    WriteLogf(0, "Showing 'Uninstall' Dialog");
    int result = installer::Prompt_Uninstall();
    if (Run().fExit) return Step::kFinish;
    if (result == installer::kUninstallDone) return Step::kWelcome;
    // Removing the last course asks the same question as Uninstall All: the records and the
    // settings stay unless the user confirms.
    if (result != installer::kUninstallAll && result != installer::kUninstallLastRemoved) continue;
    int answer = AskUninstallAll();
    if (Run().fExit) return Step::kFinish;
    if (answer == 1) break;
  }
  installer::WholeRemoval removal = installer::RemoveWholeInstallation();
  base::StopLogging();
  ReportWholeRemoval(removal);
  return Step::kUninstalled;
}

// --- The loop --------------------------------------------------------------------------------

// Runs the part of the flow that `step` names; returns the state it leads to.
Step Perform(Step step) {
  switch (step) {
    case Step::kWelcome:
      return Welcome();
    case Step::kUninstall:
      return Uninstall();
    case Step::kInstallOptions:
      return InstallOptions();
    case Step::kCheckInstallations:
      return AfterInstallOptions();
    case Step::kRecordsLogin:
      return RecordsLoginStep();
    case Step::kInstallType:
      return InstallationType();
    case Step::kSelection:
      return SelectionChain();
    case Step::kInstall:
      return Install();
    case Step::kFinish:
    case Step::kIncomplete:
    case Step::kNoWayOn:
    case Step::kUninstalled:
    case Step::kReplaced:
    case Step::kLoginRefused:
      break;
  }
  return step;
}

}  // namespace

FlowEnd RunWelcomeLoop() {
  Flow() = FlowState{};
  for (;;) {
    switch (Flow().step) {
      case Step::kFinish:
        return FlowEnd::kFinish;
      case Step::kIncomplete:
        return FlowEnd::kIncomplete;
      case Step::kNoWayOn:
        return FlowEnd::kNoWayOn;
      case Step::kUninstalled:
        return FlowEnd::kUninstalled;
      case Step::kReplaced:
        return FlowEnd::kReplaced;
      case Step::kLoginRefused:
        return FlowEnd::kLoginRefused;
      default:
        Enter(Perform(Flow().step));
    }
  }
}

}  // namespace nuvel::setup
