// The Install Options dialog (where the installation lives) and the Advanced options dialog
// reached from it (where student records live, the Records Manager password, the interface
// language). Their results are the location values of base::Paths(): rDataPathShort,
// rRecordPathShort, DataPath, RecordsPath, rRecordsIniPath, rAccessFlag and rPassword.
//
// Folders. rDataPathShort is the folder that holds (or will hold) the "Nuvel" installation
// folder; the installation folder itself is InstallationFolderOf(rDataPathShort): the chosen
// folder + "/Nuvel", unless the chosen path already has a "Nuvel" component. The data path is
// the installation folder's "launch", the records path the records folder's "data". Nothing
// the user picks is ever relative: folders come from the folder chooser (absolute), from
// records.ini, or from the Applications folder.
//
// Install Options (dialog "install-options", resource 3004): 1 Install (default), 2 Cancel,
// 3 Advanced (shown when the caller offers it), 4 the title, 5 Browse, 6 the abbreviated
// installation folder, 7 its label, 8 the rights reminder.
//   Browse   ConfirmChangePath, then the folder chooser ("folder:MSG_InstallationDirectory")
//            starts at the chosen folder cut before its "/Nuvel" component. A folder named
//            "Nuvel" (any case) is refused (MSG_ZiviVeruzNotCalledNuvel); then
//            ConfirmStudentAccess. When the chosen folder, or the installation folder it leads
//            to, holds a records.ini, that file's records-ini location is adopted and read; else
//            the records folder follows the installation folder and the password starts empty.
//   Install  see Prompt_Records.
//   Cancel   (and the close box) returns 2 and restores every location value as it was on
//            entry.
//
// Advanced (dialog "advanced", resource 207): 1 OK, 2 Cancel, 3 radio "removable media"
// (hidden), 4 radio "this folder", 5 the title, 6 and 7 the password labels, 8 and 9 the
// password and its confirmation, 10 Browse, 11 the abbreviated records folder, 12 and 14 the
// captions of the two frames, 13 the student-records label, 15 the frames' drawing (hidden),
// 16 the interface-language list. A password field may also hold a scrambled form starting with
// "**__" (DecodeAnswerPassword: the answer form that recorded answers hold, or a server form);
// OK takes its clear text, so replaying recorded answers stores the password that was typed.
//
// The Records Manager password and the records location are kept in the records.ini in use
// (keys kPasswordIniKey and kAccessIniKey) when Install is pressed, and read from it when the
// dialog opens with no value yet. A records folder of its own (chosen in Advanced: the records
// path is its "data" and it is not the records.ini folder) is kept there too, under
// base::kRecordsFolderKey, which Read_RecordsIni applies on later runs; records that follow the
// installation remove that key.
#pragma once

#include <string>

#include "ui/dialog.h"

namespace nuvel::records {

inline constexpr int kInstallOptionsResource = 3004;
inline constexpr int kAdvancedResource = 207;
/// The menu resource of the Advanced dialog's language list.
inline constexpr int kLanguageMenu = 170;

enum InstallOptionsItem {
  kOptionsInstall = 1,
  kOptionsCancel = 2,
  kOptionsAdvanced = 3,
  kOptionsTitle = 4,
  kOptionsBrowse = 5,
  kOptionsFolder = 6,
  kOptionsFolderLabel = 7,
  kOptionsRights = 8,
};

enum AdvancedItem {
  kAdvancedOK = 1,
  kAdvancedCancel = 2,
  kAdvancedFloppy = 3,
  kAdvancedThisFolder = 4,
  kAdvancedTitle = 5,
  kAdvancedPasswordLabel = 6,
  kAdvancedConfirmLabel = 7,
  kAdvancedPassword = 8,
  kAdvancedConfirm = 9,
  kAdvancedBrowse = 10,
  kAdvancedFolder = 11,
  kAdvancedRecordsFrame = 12,
  kAdvancedRecordsLabel = 13,
  kAdvancedManagerFrame = 14,
  kAdvancedFrames = 15,
  kAdvancedLanguage = 16,
};

/// rAccessFlag values.
inline constexpr const char* kAccessFloppy = "FLOPPY";
inline constexpr const char* kAccessHD = "HD";

/// records.ini keys (section Records) of the Records Manager password (printable block form)
/// and of rAccessFlag.
inline constexpr const char* kPasswordIniKey = "rm_password";
inline constexpr const char* kAccessIniKey = "records_access";

/// Width of the path fields, in characters; longer paths are abbreviated.
inline constexpr int kPathFieldWidth = 44;

/// The Install Options dialog, shown until Install or Cancel. `show_advanced` shows the
/// Advanced button. Install:
///  1. the installation folder is InstallationFolderOf(rDataPathShort);
///  2. the records-ini location is looked up: records_ini_path_mac of the installation folder's
///     records.ini, else of the local system folder's, else that file's launch_path_local;
///  3. the data path becomes the installation folder's "launch". When it changed: locally the
///     records.ini folder is the local system folder and the records path its "data"; on a
///     network path the records path is the installation folder's "data" and the records.ini
///     folder the installation folder. When it did not change, the location found in 2 (if
///     any) becomes the records.ini folder;
///  4. the records.ini in use receives launch_path_local, the password and rAccessFlag; the
///     local system folder's records.ini where that file is (Write_RecordsIni); the file is
///     read back (Read_RecordsIni), which derives every folder from the new installation
///     folder, and the records path decided here is kept.
/// Returns 1 after Install, 2 after Cancel or the close box.
int Prompt_Records(bool show_advanced);

/// The Advanced options dialog. OK requires both password fields to be equal
/// (MSG_CMS_PasswordsDontMatch otherwise) and CheckValidPassword(password, 6, 1); it then stores
/// the password encoded in rPassword, rAccessFlag ("FLOPPY" for radio 3, else "HD"), the records
/// path (the records folder's "data"), the data path (the installation folder's "launch") and
/// the chosen interface language. A refused OK keeps the dialog open as it is. Cancel and the
/// close box restore the records folder. Returns 1 after OK, 2 otherwise.
int Prompt_Advanced();

/// Shows the records folder (item 11) and enables its Browse button (item 10) when `state` is
/// 1; hides the folder and disables the button otherwise.
void InstallRecords_State(ui::Dialog& dialog, int state);

/// Asks a network installation to confirm that students can use `path`
/// (MSG_ConfirmStudentAccessToPath, OK / Cancel). 1 when the user refused; 0 after OK and
/// always for a local path.
int ConfirmStudentAccess(const std::string& path);

/// Asked before the user picks another installation or records folder. Nothing is asked, and 1
/// returned, on a new installation (no course installed, or a records.ini created in this run):
/// nothing can be left behind. Otherwise the folder in use is shown with
/// MSG_Message_SureWantToContinue (Yes / No), since the courses and records already there stay
/// where they are: 1 after Yes, 0 after No.
int ConfirmChangePath(const std::string& current_folder);

/// `folder` + "/Nuvel", unless `folder` already has a "Nuvel" component (then `folder`
/// itself). No trailing "/".
std::string InstallationFolderOf(const std::string& folder);

/// The part of `path` before its first "/Nuvel" component ("/" when that is the first
/// component); `path` without a trailing "/" when it has none.
std::string CutBeforeNuvel(const std::string& path);

}  // namespace nuvel::records
