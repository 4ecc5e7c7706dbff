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
#include "platform/files.h"
#include "platform/path_text.h"
#include "records/install_options.h"
#include "setup/options.h"
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

// Where the flow goes next.
enum class Step {
  kWelcome,
  kInstallOptions,
  kCheckInstallations,
  kInstallType,
  kSelection,
  kInstall,
  kFinish,
  kIncomplete,
  kUninstalled,
};

std::string RecordsIni() { return base::GetRecordsIniFilePath(); }

std::string ReadRecords(const char* key) {
  std::string value;
  base::GetNuvelPrivateProfileString("Records", key, "", value, base::kProfileValueSize,
                                     RecordsIni());
  return value;
}

void WriteRecords(const char* key, std::string value) {
  base::WriteNuvelPrivateProfileString("Records", key, value, RecordsIni());
}

// The run's state that lives across the loops of the flow.
struct FlowState {
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
};

FlowState& Flow() {
  static FlowState state;
  return state;
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

Step InstallOptionsPass() {
  base::PathState& paths = base::Paths();
  const SetupOptions& options = Options();
  Selection().install_selected_courses = 0;
  Run().fInstallOnProgress = 0;

  std::string askrecords = base::UpperAscii(ReadSetupText(Run().szDefaultIniFile, "askrecords"));
  if (askrecords.find('N') != std::string::npos) {
    if (paths.just_created_records_ini) {
      paths.rRecordsIniPath = platform::WithTrailingSlash(platform::ParentFolder(paths.DataPath));
      platform::MakeDirectories(paths.localNuvelDirectory);
      platform::MakeDirectories(paths.RecordsPath);
      base::Write_RecordsIni();
    }
  } else {
    WriteLogf(0, "Showing 'Install Options' Dialog");
    int result = records::Prompt_Records(ShowAdvancedButton());
    if (Run().fExit) return Step::kFinish;
    if (result == 2) return Step::kWelcome;
  }

  // The shared application-data root: the part of the data path before "/Nuvel/".
  std::string data = platform::WithTrailingSlash(paths.DataPath);
  if (auto at = data.find("/Nuvel/"); at != std::string::npos) {
    base::SetupCommonAppDataPath(data.substr(0, at));
    if (Run().quitFlag) return Step::kIncomplete;
    if (base::Check_Write_Privileges(base::Paths().commonAppDataPath, 1) != 1) {
      return Step::kInstallOptions;
    }
  }

  LogRecordsIni();
  const bool floppy = paths.rAccessFlag == "FLOPPY";
  if (!options.force_TCPIP) platform::MakeDirectories(paths.RecordsPath);
  platform::MakeDirectories(paths.DataPath);

  if (!installer::CheckAvailSpace(paths.DataPath, kDataFolderBytes)) return Step::kInstallOptions;
  if (floppy) {
    WriteLogf(0, "Choose FLOPPY Records");
  } else if (!installer::CheckAvailSpace(paths.RecordsPath, kRecordsFolderBytes)) {
    return Step::kInstallOptions;
  }

  if (!options.force_TCPIP && !floppy && base::Check_Write_Privileges(paths.RecordsPath, 1) != 1) {
    return Step::kInstallOptions;
  }
  if (base::Check_Write_Privileges(paths.DataPath, 1) != 1) return Step::kInstallOptions;
  if (base::Check_Write_Privileges(paths.rRecordsIniPath, 1) != 1) return Step::kInstallOptions;

  std::string backup = ReadSetupText(Run().szDefaultIniFile, "backup_days");
  if (!backup.empty() && ReadRecords("backup_days").empty()) WriteRecords("backup_days", backup);
  if (!options.force_download_courses_path.empty()) {
    WriteRecords("force_download_courses_path", options.force_download_courses_path);
  }
  if (options.force_study_online) WriteRecords("allow_study_off_line", "n");

  if (Run().quitFlag) return Step::kFinish;
  return Step::kCheckInstallations;
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

  if (!Flow().recordsLogin) {
    std::string address = ReadRecords("downloadaddress");
    if (address.empty()) {
      address = kDefaultDownloadAddress;
      WriteRecords("downloadaddress", address);
    }
    Run().DownloadAddress = address;
  }
  if (!options.force_nuvel_jpg.empty()) WriteRecords("launcher_picture", options.force_nuvel_jpg);
  if (!options.force_recordsipaddress.empty()) {
    WriteRecords("recordsipaddress", options.force_recordsipaddress);
  }
  if (options.force_always_on_default) WriteRecords("dial_up_connection", "n");

  if (!Flow().recordsLogin) return control ? Step::kInstallType : Step::kInstallOptions;
  WriteLogf(0, "Records-server login is not available in this build; installing without it");
  return Step::kInstallType;
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
    int choice = ui::Prompt_User_Radio(
        message, 1, {"MSG_Message_FullInstallation", "MSG_Message_MinimalInstallation"},
        "MSG_Message_ChooseInstallationType", "MSG_Button_Install", "MSG_Button_Cancel",
        "MSG_Message_ChooseInstallationType");
    if (choice != 2 && choice != 3) return Step::kWelcome;
    full = choice == 2;
  }
  WriteLogf(0, full ? "Selected Discless" : "Selected CD-Based");
  Run().installDiscLess = full ? 1 : 0;
  return Step::kSelection;
}

// --- Selection chain ---------------------------------------------------------------------------

// The products of the chosen family: versions, languages, products and, for a multilingual
// course, its support languages. Returns false when the user stepped back past the versions
// (`back_to_families`) or cancelled altogether.
enum class ChainResult { kChosen, kBack, kCancel };

ChainResult ChooseWithinFamily(bool ask) {
  installer::SelectionState& sel = Selection();
  enum { kVersion, kLanguage, kProducts, kMulti, kDone } stage = kVersion;
  bool versionShown = false, languageShown = false, productsShown = false;
  while (stage != kDone) {
    if (Run().fExit) return ChainResult::kCancel;
    switch (stage) {
      case kVersion:
        installer::EstablishVersions();
        versionShown = ask && sel.VersionCount() > 1;
        if (versionShown) {
          WriteLogf(0, "Showing 'Version' Dialog");
          if (installer::Prompt_VersionDialog() != 1) return ChainResult::kBack;
        } else {
          sel.theVersion = installer::NewestVersion();
        }
        stage = kLanguage;
        break;
      case kLanguage: {
        installer::EstablishLanguages();
        int available = 0;
        for (const auto& entry : sel.langTab) available += entry.available ? 1 : 0;
        languageShown = ask && available > 1;
        if (languageShown) {
          WriteLogf(0, "Showing 'List of Languages' Dialog");
          if (installer::Prompt_LangDialog() != 1) {
            if (versionShown) {
              stage = kVersion;
              break;
            }
            return ChainResult::kBack;
          }
        }
        stage = kProducts;
        break;
      }
      case kProducts:
        installer::CountProducts();
        productsShown = ask;
        if (productsShown) {
          WriteLogf(0, "Showing 'Install Multiple Products' Dialog");
          if (installer::Prompt_AddDialog() != 1) {
            if (languageShown) {
              stage = kLanguage;
            } else if (versionShown) {
              stage = kVersion;
            } else {
              return ChainResult::kBack;
            }
            break;
          }
        }
        if (sel.installOrder.empty()) return ChainResult::kBack;
        stage = kMulti;
        break;
      case kMulti: {
        stage = kDone;
        if (!sel.fMultiLingualProduct) break;
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
            if (shared) return ChainResult::kCancel;
            stage = productsShown ? kProducts : (languageShown ? kLanguage : kVersion);
            if (!productsShown && !languageShown && !versionShown) return ChainResult::kBack;
            break;
          }
          if (shared) {
            flow.multiLanguageChosen = true;
            flow.multiLanguageEntry = sel.nLangType;
          }
        } else {
          for (int i = 0; i < installer::kMLangTableSize; ++i) {
            if (sel.MLangTable[static_cast<std::size_t>(i)].available) {
              sel.nLangType = i;
              break;
            }
          }
        }
        break;
      }
      case kDone:
        break;
    }
  }
  return ChainResult::kChosen;
}

Step SelectionChain() {
  installer::SelectionState& sel = Selection();
  FlowState& flow = Flow();
  if (flow.queuedFamilies) {
    // The next of several families chosen together (or of all courses): no dialogs.
    if (flow.familyQueue.empty()) return Step::kFinish;
    sel.nFamType = flow.familyQueue.front();
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
      return SelectionChain();
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
        return SelectionChain();
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

// Once per run: the support folder of the installation.
void CopySupportFiles() {
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

// Once per run: the companion applications' versions.
void RecordCompanionVersions() {
  FlowState& flow = Flow();
  if (flow.versionsCopied) return;
  flow.versionsCopied = true;
  std::string versions =
      platform::WithTrailingSlash(Run().current_dir) + "install/data/versions.ini";
  for (const char* key :
       {"rm2_ver", "launcher2_ver", "analyze2_ver", "freshen2_ver", "docIni_ver"}) {
    std::string value;
    base::GetNuvelPrivateProfileString("Records", key, "0", value, base::kProfileValueSize,
                                       versions);
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
  if (ui::Prompt_User("MSG_Message_AboutToInstallPT", "MSG_Button_OK", "MSG_Button_Cancel", "",
                      "MSG_Message_AboutToInstallPT") != 1) {
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

Step Install() {
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
  if (Run().copyFailed) {
    ui::StatusBoxDestroy();
    return Step::kIncomplete;
  }
  if (Run().fExit) {
    ui::StatusBoxDestroy();
    return Step::kFinish;
  }

  if (!Run().fCancel) {
    if (RunsFromDisc()) installer::ChangeVersionFile();
    ui::StatusBoxCreate();
    installer::CopyOtherFiles();
    if (base::GetIsPathNetworked()) {
      platform::MakeDirectories(platform::WithTrailingSlash(base::Paths().DataPath) +
                                "extension_activities");
    }
  }

  CopySupportFiles();
  if (Run().copyFailed) {
    ui::StatusBoxDestroy();
    return Step::kIncomplete;
  }
  if (!RunsFromDisc()) installer::Create_The_Icons(1);
  if (Run().copyFailed) return Step::kIncomplete;
  if (Run().fExit) return Step::kFinish;

  installer::Copy_Technologies();
  installer::Copy_Documents();
  if (Run().installDiscLess) {
    installer::Copy_The_Content();
    installer::Installer_Disk_Inserted(0);
  }
  if (Run().copyFailed) return Step::kIncomplete;
  if (Run().fExit) return Step::kFinish;
  installer::FinishInstalledCourses();

  RecordCompanionVersions();
  if (OfferPlacementTest()) return Step::kInstall;

  // Another product.
  if (Flow().queuedFamilies) {
    if (!Flow().familyQueue.empty()) return Step::kSelection;
  } else if (ui::Prompt_User("MSG_Message_InstallAnother", "MSG_Button_Yes", "MSG_Button_No", "",
                             "MSG_Message_InstallAnother") == 1) {
    return Flow().recordsLogin ? Step::kInstallOptions : Step::kCheckInstallations;
  }

  Run().fInstallOnProgress = 0;
  Flow().queuedFamilies = false;
  Flow().multiLanguageChosen = false;
  if (!(Run().Internet && installer::prodTotal() > 1)) {
    ui::Prompt_User(base::StrRezf(0, "MSG_Message_SetupComplete", {Run().szCoursewareName}),
                    "MSG_Button_OK", "",
                    base::StrRezf(0, "MSG_Message_SetupComplete", {Run().szCoursewareName}),
                    "MSG_Message_SetupComplete");
  }
  return Step::kFinish;
}

// --- Uninstall -------------------------------------------------------------------------------

Step UninstallLoop() {
  for (;;) {
    WriteLogf(0, "Showing 'Uninstall' Dialog");
    int result = installer::Prompt_Uninstall();
    if (Run().fExit) return Step::kFinish;
    if (result == installer::kUninstallDone) return Step::kWelcome;
    // Removing the last course asks the same question as Uninstall All: the records and the
    // settings stay unless the user confirms.
    if (result != installer::kUninstallAll && result != installer::kUninstallLastRemoved) continue;

    std::string name = Run().szCoursewareName;
    if (!base::EqualsIgnoreCase(name, "Nuvel")) name += " / Nuvel";
    // Every folder the removal will touch, not only the installation folder.
    std::string folders;
    for (const std::string& folder : installer::WholeInstallationFolders()) {
      folders += (folders.empty() ? "" : "\r") + folder;
    }
    if (folders.empty()) folders = platform::ParentFolder(base::Paths().DataPath);
    std::string message =
        folders + "\r\r" + base::StrRezf(0, "MSG_Message_UninstallAllServer", {name});
    WriteLogf(0, "Showing 'Uninstall All' Dialog");
    int answer = ui::Prompt_User(message, "MSG_Button_UninstallAll", "MSG_Button_Cancel",
                                 base::StrRezf(0, "MSG_Message_UninstallAllServer", {name}),
                                 "MSG_Message_UninstallAllServer");
    if (Run().fExit) return Step::kFinish;
    if (answer == 1) break;
  }
  installer::WholeRemoval removal = installer::RemoveWholeInstallation();
  base::StopLogging();
  std::string message = "Complete!";
  if (!removal.left.empty()) {
    message += "\r\r" + base::StrRez(0, "MSG_Message_LeftInPlace");
    for (const std::string& path : removal.left) message += "\r" + path;
  }
  if (!removal.failed.empty()) {
    message += "\r\r" + base::StrRez(0, "MSG_Message_CouldNotRemove");
    for (const std::string& path : removal.failed) message += "\r" + path;
  }
  ui::Prompt_User(message, "OK", "", "", "Complete!");
  return Step::kUninstalled;
}

}  // namespace

FlowEnd RunWelcomeLoop() {
  Flow() = FlowState{};
  Step step = Step::kWelcome;
  for (;;) {
    switch (step) {
      case Step::kWelcome: {
        Run().szCoursewareName = "Nuvel";
        if (Run().SkipInstall || Run().fExit) return FlowEnd::kFinish;
        Flow().launcherPicture = FindLauncherPicture();
        WriteLogf(0, "Showing 'Welcome' Dialog");
        int result = Prompt_Welcome(Flow().launcherPicture);
        if (result == kWelcomeUninstall) {
          step = UninstallLoop();
        } else if (result == kWelcomeInstall) {
          // A pending e-mail login of an earlier pass is dropped outside records-login mode.
          if (!Options().force_TCPIP && Run().EnteredEmailAddress) {
            Run().EnteredEmailAddress = 0;
            base::RemoveLineFromRecordsIni(RecordsIni(), "recordsipaddress", 2);
            base::RemoveLineFromRecordsIni(RecordsIni(), "server_num", 2);
          }
          step = Step::kInstallOptions;
        } else {
          step = Step::kFinish;
        }
        break;
      }
      case Step::kInstallOptions:
        // Coming back here without a single dialog shown since the last time would repeat for
        // ever (the source skips the Install Options dialog and nothing else asks the user).
        if (Flow().dialogsAtInstallOptions == ui::DialogsShown()) return FlowEnd::kNoWayOn;
        Flow().dialogsAtInstallOptions = ui::DialogsShown();
        step = InstallOptionsPass();
        break;
      case Step::kCheckInstallations:
        step = AfterInstallOptions();
        break;
      case Step::kInstallType:
        step = InstallationType();
        break;
      case Step::kSelection:
        step = SelectionChain();
        break;
      case Step::kInstall:
        step = Install();
        break;
      case Step::kFinish:
        return FlowEnd::kFinish;
      case Step::kIncomplete:
        return FlowEnd::kIncomplete;
      case Step::kUninstalled:
        return FlowEnd::kUninstalled;
    }
  }
}

}  // namespace nuvel::setup
