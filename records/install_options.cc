#include "records/install_options.h"

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/selection.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_text.h"
#include "platform/volumes.h"
#include "records/password.h"
#include "ui/prompts.h"

namespace nuvel::records {
namespace {

using base::Paths;
using base::PathState;

constexpr const char* kRecordsIni = "records.ini";
constexpr const char* kSection = "Records";
// The frame captions of the Advanced dialog, as the dialog resource draws them.
constexpr const char* kRecordsFrameCaption = " Student Records ";
constexpr const char* kManagerFrameCaption = " Records Manager ";

std::string LastComponent(const std::string& path) {
  return platform::FileName(platform::WithoutTrailingSlash(path));
}

// A settings value; "" when the file or the key is missing.
std::string ReadSetting(const std::string& file, const char* key) {
  if (file.empty() || !platform::IsRegularFile(file)) return "";
  std::string value = base::ProfileValue(kSection, key, "", file);
  return value;
}

std::string RecordsIniInUse() {
  const std::string& folder = Paths().rRecordsIniPath;
  return folder.empty() ? "" : platform::WithTrailingSlash(folder) + kRecordsIni;
}

bool IsNetworked(const std::string& path) {
  bool networked = false;
  unsigned long type = 0;
  return !platform::IsNetworkPath(path, networked, type) && networked;
}

std::string Abbreviated(const std::string& path) {
  return installer::AbbreviateName(kPathFieldWidth, path);
}

// The password and records location kept in a records.ini. The printable block form may begin
// with a blank, so it is read and written without the stripping of the Nuvel variants.
void LoadStoredChoices(const std::string& file) {
  if (file.empty() || !platform::IsRegularFile(file)) return;
  PathState& p = Paths();
  std::string value = base::RawProfileValue(kSection, kPasswordIniKey, "", file);
  std::string password;
  unsigned char flag = 0;
  if (DecodeThePassword(value, password, flag)) p.rPassword = value;
  std::string access = ReadSetting(file, kAccessIniKey);
  if (access == kAccessFloppy || access == kAccessHD) p.rAccessFlag = access;
}

void StoreChoices(const std::string& file) {
  PathState& p = Paths();
  if (base::WriteProfileValue(kSection, kPasswordIniKey, p.rPassword, file) ||
      base::WriteProfileValue(kSection, kAccessIniKey, p.rAccessFlag, file)) {
    base::WriteLogf(1, "Install Options: cannot write %s", file.c_str());
  }
  // A records folder of its own (chosen in Advanced, or stored before) is kept for later runs;
  // records that follow the installation leave no key behind.
  std::string records = platform::WithoutTrailingSlash(p.rRecordPathShort);
  bool own = !records.empty() && p.RecordsPath == records + "/data" &&
             records != platform::WithoutTrailingSlash(p.rRecordsIniPath);
  if (own) {
    if (base::StoreProfileValue(kSection, base::kRecordsFolderKey, records, file)) {
      base::WriteLogf(1, "Install Options: cannot write %s", file.c_str());
    }
  } else if (!ReadSetting(file, base::kRecordsFolderKey).empty()) {
    base::RemoveSettingLines(file, base::kRecordsFolderKey, base::LineEdit::kDrop);
  }
}

// The folder shown when none was chosen yet: the one that holds the installation in use, else
// the Applications folder (so that Install gives its "Nuvel").
std::string DefaultInstallFolder() {
  std::string data = platform::WithoutTrailingSlash(Paths().DataPath);
  if (data.empty() || data.front() != '/') return platform::ApplicationsFolder();
  std::string cut = CutBeforeNuvel(data);
  if (cut != data) return cut;
  // An installation folder without a "Nuvel" component: the folder that holds "launch".
  if (LastComponent(data) == "launch") base::StripOffFilename(data);
  return data.empty() ? platform::ApplicationsFolder() : data;
}

// Gives every value the dialogs show a starting value.
void PrepareValues() {
  PathState& p = Paths();
  if (p.rDataPathShort.empty() || p.rDataPathShort.front() != '/') {
    p.rDataPathShort = DefaultInstallFolder();
  }
  if (p.rRecordPathShort.empty()) {
    p.rRecordPathShort = p.RecordsPath.empty() ? InstallationFolderOf(p.rDataPathShort)
                                               : platform::WithoutTrailingSlash(p.RecordsPath);
  }
  if (p.rPassword.empty() || p.rAccessFlag.empty()) {
    std::string password = p.rPassword;
    std::string access = p.rAccessFlag;
    LoadStoredChoices(RecordsIniInUse());
    if (!password.empty()) p.rPassword = password;
    if (!access.empty()) p.rAccessFlag = access;
  }
  if (p.rPassword.empty()) EncodeThePassword(p.rPassword, "", 0);
  if (p.rAccessFlag.empty()) p.rAccessFlag = kAccessHD;
}

// ---- Install Options ---------------------------------------------------------------------

ui::Dialog BuildInstallOptions(bool show_advanced) {
  ui::Dialog dialog;
  dialog.name = "install-options";
  dialog.resource = kInstallOptionsResource;
  dialog.title = base::Localize("MSG_InstallationOptions");
  dialog.default_item = kOptionsInstall;
  dialog.cancel_item = kOptionsCancel;
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Install"), kOptionsInstall);
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Cancel"), kOptionsCancel);
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Advanced"), kOptionsAdvanced)
      .visible = show_advanced;
  dialog.Add(ui::ItemKind::kTitle, dialog.title, kOptionsTitle);
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Message_Browse"), kOptionsBrowse);
  dialog.Add(ui::ItemKind::kStaticText, Abbreviated(Paths().rDataPathShort), kOptionsFolder);
  dialog.Add(ui::ItemKind::kStaticText, base::Localize("MSG_InstallationDirectory"),
             kOptionsFolderLabel);
  dialog.Add(ui::ItemKind::kStaticText, base::Localize("MSG_GiveAllRights"), kOptionsRights);
  return dialog;
}

bool IsNamedNuvel(const std::string& folder) {
  return base::LowerAscii(LastComponent(folder)) == "nuvel";
}

// Adopts the settings of an installation found in the chosen folder: its records.ini tells
// where the records.ini in use lives, and reading that file derives every folder.
bool AdoptExistingInstallation(const std::string& chosen) {
  std::string found;
  for (const std::string& folder : {chosen, InstallationFolderOf(chosen)}) {
    std::string file = platform::WithTrailingSlash(folder) + kRecordsIni;
    if (platform::IsRegularFile(file)) {
      found = file;
      break;
    }
  }
  if (found.empty()) return false;
  PathState& p = Paths();
  std::string location = ReadSetting(found, "records_ini_path_mac");
  if (location.empty() || location.front() != '/') {
    location = found.substr(0, found.size() - std::string_view(kRecordsIni).size());
  }
  base::WriteLogf(1, "Install Options: adopting the records.ini of %s", location.c_str());
  p.rRecordsIniPath = platform::WithTrailingSlash(location);
  base::Read_RecordsIni();
  if (ReadSetting(RecordsIniInUse(), base::kRecordsFolderKey).empty()) {
    p.rRecordPathShort = platform::WithoutTrailingSlash(p.RecordsPath);
  }
  p.rPassword.clear();
  LoadStoredChoices(RecordsIniInUse());
  if (p.rPassword.empty()) EncodeThePassword(p.rPassword, "", 0);
  return true;
}

void BrowseInstallFolder(ui::Dialog& dialog) {
  PathState& p = Paths();
  if (!ConfirmChangePath(InstallationFolderOf(p.rDataPathShort))) return;
  std::string chosen =
      ui::ChooseFolder("MSG_InstallationDirectory", base::Localize("MSG_InstallationDirectory"),
                       CutBeforeNuvel(p.rDataPathShort));
  if (chosen.empty()) return;
  chosen = platform::WithoutTrailingSlash(chosen);
  if (IsNamedNuvel(chosen)) {
    ui::Ask({.message = "MSG_ZiviVeruzNotCalledNuvel", .buttons = {"MSG_Button_OK"}});
    return;
  }
  if (ConfirmStudentAccess(chosen)) return;

  p.rDataPathShort = chosen;
  if (!AdoptExistingInstallation(chosen)) {
    p.rRecordPathShort = InstallationFolderOf(chosen);
    EncodeThePassword(p.rPassword, "", 0);
  }
  dialog.item(kOptionsFolder)->text = Abbreviated(p.rDataPathShort);
}

// The records-ini folder an installation folder leads to, "" when nothing says.
std::string LookUpRecordsIniLocation(const std::string& install) {
  std::string local = Paths().localNuvelDirectory.empty()
                          ? ""
                          : platform::WithTrailingSlash(Paths().localNuvelDirectory) + kRecordsIni;
  for (const std::string& file : {platform::WithTrailingSlash(install) + kRecordsIni, local}) {
    std::string location = ReadSetting(file, "records_ini_path_mac");
    if (!location.empty()) return location;
  }
  return ReadSetting(local, "launch_path_local");
}

void ApplyInstall() {
  PathState& p = Paths();
  std::string install = InstallationFolderOf(p.rDataPathShort);
  std::string location = LookUpRecordsIniLocation(install);
  std::string data = install + "/launch";

  if (platform::WithoutTrailingSlash(p.DataPath) != data) {
    std::string local = base::FindLocalNuvelDirectory();
    if (!local.empty() && !IsNetworked(install)) {
      p.rRecordsIniPath = platform::WithTrailingSlash(local);
      p.RecordsPath = p.rRecordsIniPath + "data";
    } else {
      p.RecordsPath = install + "/data";
      p.rRecordsIniPath = install + "/";
    }
  } else if (!location.empty() && location.front() == '/') {
    p.rRecordsIniPath = platform::WithTrailingSlash(location);
  }
  p.DataPath = data;
  base::WriteLogf(1, "Install Options: installation folder %s, records.ini in %s", install.c_str(),
                  p.rRecordsIniPath.c_str());

  if (p.rRecordsIniPath.empty()) return;
  if (std::error_code ec = platform::MakeDirectories(p.rRecordsIniPath)) {
    base::WriteLogf(1, "Install Options: cannot create %s: %s", p.rRecordsIniPath.c_str(),
                    ec.message().c_str());
  }
  std::string file = RecordsIniInUse();
  std::string value = install;
  base::StoreProfileValue(kSection, "launch_path_local", value, file);
  StoreChoices(file);
  base::Write_RecordsIni();
  if (platform::IsRegularFile(file)) {
    // Reading the file back derives every folder from the new installation folder; the
    // student-records folder is the one decided here.
    std::string records = p.RecordsPath;
    base::Read_RecordsIni();
    p.RecordsPath = records;
  }
}

// ---- Advanced ------------------------------------------------------------------------------

ui::Dialog BuildAdvanced(const std::string& password) {
  PathState& p = Paths();
  ui::Dialog dialog;
  dialog.name = "advanced";
  dialog.resource = kAdvancedResource;
  dialog.title = base::Localize("MSG_InstallationOptionsAdvanced");
  dialog.default_item = kAdvancedOK;
  dialog.cancel_item = kAdvancedCancel;
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_OK"), kAdvancedOK);
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Cancel"), kAdvancedCancel);
  // Keeping records on removable media is no longer offered, but an installation set up that
  // way keeps its choice until the user picks the records folder.
  dialog.Add(ui::ItemKind::kRadio, base::Localize("MSG_OptionFloppy"), kAdvancedFloppy).visible =
      false;
  dialog.Add(ui::ItemKind::kRadio, base::Localize("MSG_OptionThisDirectory"), kAdvancedThisFolder);
  dialog.Add(ui::ItemKind::kTitle, dialog.title, kAdvancedTitle);
  // Items keep their numbers but are added in reading order, each label right before its field:
  // text back ends pair a field with the text in front of it.
  dialog.Add(ui::ItemKind::kStaticText, base::Localize("MSG_Message_AdminPassword"),
             kAdvancedPasswordLabel);
  dialog.Add(ui::ItemKind::kPassword, password, kAdvancedPassword);
  dialog.Add(ui::ItemKind::kStaticText, base::Localize("MSG_Record_Psswrd2Prompt"),
             kAdvancedConfirmLabel);
  dialog.Add(ui::ItemKind::kPassword, password, kAdvancedConfirm);
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Message_Browse"), kAdvancedBrowse);
  dialog.Add(ui::ItemKind::kStaticText, Abbreviated(p.rRecordPathShort), kAdvancedFolder);
  dialog.Add(ui::ItemKind::kStaticText, kRecordsFrameCaption, kAdvancedRecordsFrame);
  dialog.Add(ui::ItemKind::kStaticText, base::Localize("MSG_OptionStudentRecords"),
             kAdvancedRecordsLabel);
  dialog.Add(ui::ItemKind::kStaticText, kManagerFrameCaption, kAdvancedManagerFrame);
  dialog.Add(ui::ItemKind::kStaticText, "", kAdvancedFrames).visible = false;
  ui::DialogItem& language =
      dialog.Add(ui::ItemKind::kList, base::Localize("MSG_Dialog_MenuLanguage"), kAdvancedLanguage);
  int current = -1;
  language.lines = base::Fill_ForceOSLang_List(current);
  if (current >= 0) language.selected = {current};

  // Recorded answers hold the passwords scrambled; ApplyAdvanced takes that form back.
  dialog.recorded_password = [](const std::string& typed) { return RecordedPasswordForm(typed); };

  bool floppy = p.rAccessFlag == kAccessFloppy;
  ui::ChooseRadio(dialog, floppy ? kAdvancedFloppy : kAdvancedThisFolder);
  InstallRecords_State(dialog, floppy ? 0 : 1);
  dialog.on_change = [](ui::Dialog& d, int item) {
    if (item == kAdvancedFloppy || item == kAdvancedThisFolder) {
      InstallRecords_State(d, d.item(kAdvancedThisFolder)->value ? 1 : 0);
    }
  };
  return dialog;
}

void BrowseRecordsFolder(ui::Dialog& dialog) {
  PathState& p = Paths();
  if (!ConfirmChangePath(p.rRecordPathShort)) return;
  std::string chosen = ui::ChooseFolder("MSG_RecordsDirectory",
                                        base::Localize("MSG_RecordsDirectory"), p.rRecordPathShort);
  if (chosen.empty()) return;
  chosen = platform::WithoutTrailingSlash(chosen);
  if (ConfirmStudentAccess(chosen)) return;
  p.rRecordPathShort = chosen;
  dialog.item(kAdvancedFolder)->text = Abbreviated(chosen);
}

// The password of a field: what was typed, or the clear text of a scrambled form ("**__...",
// as recorded answers hold it). A text of that shape that does not decode is taken as typed.
std::string FieldPassword(const ui::Dialog& dialog, int item) {
  const std::string& text = dialog.item(item)->text;
  std::string clear;
  return DecodeAnswerPassword(text, clear) ? clear : text;
}

// OK: false when the dialog must stay.
bool ApplyAdvanced(const ui::Dialog& dialog, unsigned char flag) {
  const std::string password = FieldPassword(dialog, kAdvancedPassword);
  if (password != FieldPassword(dialog, kAdvancedConfirm)) {
    ui::Ask({.message = "MSG_CMS_PasswordsDontMatch", .buttons = {"MSG_Button_OK"}});
    return false;
  }
  if (!CheckValidPassword(password, 6, 1)) return false;

  PathState& p = Paths();
  EncodeThePassword(p.rPassword, password, flag);
  p.rAccessFlag = dialog.item(kAdvancedFloppy)->value ? kAccessFloppy : kAccessHD;
  p.RecordsPath = p.rRecordPathShort + "/data";
  p.DataPath = InstallationFolderOf(p.rDataPathShort) + "/launch";
  base::WriteLogf(1, "Advanced options: records %s (%s)", p.RecordsPath.c_str(),
                  p.rAccessFlag.c_str());

  const ui::DialogItem* language = dialog.item(kAdvancedLanguage);
  if (!language->selected.empty()) {
    int row = language->selected.front();
    if (row >= 0 && row < static_cast<int>(language->lines.size())) {
      base::Set_ForceOSLang(language->lines[static_cast<std::size_t>(row)]);
    }
  }
  return true;
}

}  // namespace

std::string InstallationFolderOf(const std::string& folder) {
  std::string path = platform::WithoutTrailingSlash(folder);
  if ((path + "/").find("/Nuvel/") != std::string::npos) return path;
  return (path == "/" ? "" : path) + "/Nuvel";
}

std::string CutBeforeNuvel(const std::string& path) {
  std::string folder = platform::WithoutTrailingSlash(path);
  auto at = (folder + "/").find("/Nuvel/");
  if (at == std::string::npos) return folder;
  return at == 0 ? "/" : folder.substr(0, at);
}

int ConfirmChangePath(const std::string& current_folder) {
  if (base::Run().num_of_products == 0 || Paths().just_created_records_ini) return 1;
  std::string message = current_folder + "\r\r" + base::Localize("MSG_Message_SureWantToContinue");
  return ui::Ask({.id = "MSG_Message_SureWantToContinue",
                  .message = message,
                  .buttons = {"MSG_Button_Yes", "MSG_Button_No"}}) == 1
             ? 1
             : 0;
}

int ConfirmStudentAccess(const std::string& path) {
  if (!IsNetworked(path)) return 0;
  std::string message = base::Localize("MSG_ConfirmStudentAccessToPath") + "\r\r" + path;
  return ui::Ask({.id = "MSG_ConfirmStudentAccessToPath",
                  .message = message,
                  .buttons = {"MSG_Button_OK", "MSG_Button_Cancel"}}) == 1
             ? 0
             : 1;
}

void InstallRecords_State(ui::Dialog& dialog, int state) {
  if (ui::DialogItem* folder = dialog.item(kAdvancedFolder)) folder->visible = state == 1;
  if (ui::DialogItem* browse = dialog.item(kAdvancedBrowse)) browse->enabled = state == 1;
}

int Prompt_Records(bool show_advanced) {
  const PathState on_entry = Paths();
  PrepareValues();
  ui::Dialog dialog = BuildInstallOptions(show_advanced);
  for (;;) {
    switch (ui::ModalDialog(dialog)) {
      case kOptionsInstall:
        ApplyInstall();
        return 1;
      case kOptionsBrowse:
        BrowseInstallFolder(dialog);
        break;
      case kOptionsAdvanced:
        Prompt_Advanced();
        dialog.item(kOptionsFolder)->text = Abbreviated(Paths().rDataPathShort);
        break;
      default: {
        // Cancel leaves the locations as they were, even after a Browse that adopted another
        // installation's settings. The count of path set-ups stays (the log was marked).
        int calls = Paths().initializeCalls;
        Paths() = on_entry;
        Paths().initializeCalls = calls;
        base::FreePrivateProfile();
        return 2;
      }
    }
  }
}

int Prompt_Advanced() {
  PathState& p = Paths();
  PrepareValues();
  const std::string records_on_entry = p.rRecordPathShort;
  std::string password;
  unsigned char flag = 0;
  if (!DecodeThePassword(p.rPassword, password, flag) || password == kNoPassword) {
    password.clear();
  }
  ui::Dialog dialog = BuildAdvanced(password);
  for (;;) {
    switch (ui::ModalDialog(dialog)) {
      case kAdvancedOK:
        if (ApplyAdvanced(dialog, flag)) return 1;
        break;
      case kAdvancedBrowse:
        BrowseRecordsFolder(dialog);
        break;
      default:
        p.rRecordPathShort = records_on_entry;
        return 2;
    }
  }
}

}  // namespace nuvel::records
