#include "records/install_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/syscalls.h"
#include "records/password.h"
#include "tests/support/test_env.h"
#include "ui/dialog.h"
#include "ui/script/script_backend.h"

namespace nuvel::records {
namespace {

namespace fs = std::filesystem;
using base::Paths;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

// Answers from an answer file and remembers what was asked: one line per dialog
// ("install-options", "prompt:MSG_...") and per folder question ("folder:<id> <start>").
class RecordingScript : public ui::Backend {
 public:
  explicit RecordingScript(std::unique_ptr<ui::Backend> inner) : inner_(std::move(inner)) {}

  int ModalDialog(ui::Dialog& dialog) override {
    asked.push_back(dialog.id.empty() ? dialog.name : "prompt:" + dialog.id);
    shown.push_back(dialog);
    return inner_->ModalDialog(dialog);
  }
  std::string ChooseFolder(const std::string& id, const std::string& prompt,
                           const std::string& start) override {
    asked.push_back("folder:" + id + " " + start);
    return inner_->ChooseFolder(id, prompt, start);
  }
  void ShowStatus(const ui::StatusView& view) override { inner_->ShowStatus(view); }
  void HideStatus() override { inner_->HideStatus(); }
  void ShowStrip(const ui::StatusView& view) override { inner_->ShowStrip(view); }
  void HideStrip() override { inner_->HideStrip(); }
  bool ControlKeyLatched() override { return false; }

  std::vector<std::string> asked;
  std::vector<ui::Dialog> shown;  // as the core handed them over

 private:
  std::unique_ptr<ui::Backend> inner_;
};

void ResetModules() {
  base::FileUtils().reset();
  Paths().reset();
  base::Log().reset();
  base::Run().reset();
  base::Strings().reset();
  base::FreePrivateProfile();
  platform::ResetSyscalls();
}

class InstallOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModules();
    ::unsetenv("NUVEL_NETWORK_PATHS");
    system_ = sysroot_.path("opt/Nuvel");
    fs::create_directories(system_);
    ui::SetScriptExitHookForTesting([this](int) { script_failed_ = true; });
  }
  void TearDown() override {
    ui::SetBackend(nullptr);
    ui::SetScriptExitHookForTesting(nullptr);
    ::unsetenv("NUVEL_NETWORK_PATHS");
    ResetModules();
  }

  // Starts the way the driver does: the records.ini in use is the local system folder's.
  void StartLikeTheDriver() {
    Paths().rRecordsIniPath = base::FindLocalNuvelDirectory();
    base::Read_RecordsIni();
  }

  void Answer(const std::string& text) {
    std::string error;
    auto script = ui::MakeScriptBackend(text, &error);
    ASSERT_TRUE(script) << error;
    auto recording = std::make_unique<RecordingScript>(std::move(script));
    recorder_ = recording.get();
    ui::SetBackend(std::move(recording));
  }

  std::string Setting(const std::string& file, const char* key) {
    std::string value;
    base::FreePrivateProfile();
    base::GetPrivateProfileString("Records", key, "", value, 512, file);
    return value;
  }

  std::string StoredPassword() {
    std::string password;
    unsigned char flag = 0;
    EXPECT_EQ(DecodeThePassword(Paths().rPassword, password, flag), 1);
    return password;
  }

  TestSysroot sysroot_;
  std::string system_;  // the local system folder, no trailing "/"
  RecordingScript* recorder_ = nullptr;
  bool script_failed_ = false;
};

// ---- Folder rules --------------------------------------------------------------------------

TEST(InstallationFolderTest, NuvelIsAppendedOnlyWhenMissing) {
  EXPECT_EQ(InstallationFolderOf("/srv/share"), "/srv/share/Nuvel");
  EXPECT_EQ(InstallationFolderOf("/srv/share/"), "/srv/share/Nuvel");
  EXPECT_EQ(InstallationFolderOf("/srv/Nuvel"), "/srv/Nuvel");
  EXPECT_EQ(InstallationFolderOf("/srv/Nuvel/courses"), "/srv/Nuvel/courses");
  EXPECT_EQ(InstallationFolderOf("/srv/Nuvelle"), "/srv/Nuvelle/Nuvel");
  EXPECT_EQ(InstallationFolderOf("/"), "/Nuvel");
}

TEST(InstallationFolderTest, CutBeforeNuvelComponent) {
  EXPECT_EQ(CutBeforeNuvel("/opt/Nuvel/launch"), "/opt");
  EXPECT_EQ(CutBeforeNuvel("/opt/Nuvel/"), "/opt");
  EXPECT_EQ(CutBeforeNuvel("/Nuvel/launch"), "/");
  EXPECT_EQ(CutBeforeNuvel("/srv/Nuvelle/launch"), "/srv/Nuvelle/launch");
}

TEST(RecordsStateTest, StateOneShowsFolderAndEnablesBrowse) {
  ui::Dialog dialog;
  dialog.Add(ui::ItemKind::kButton, "Browse", kAdvancedBrowse);
  dialog.Add(ui::ItemKind::kStaticText, "/srv/records", kAdvancedFolder);
  InstallRecords_State(dialog, 0);
  EXPECT_FALSE(dialog.item(kAdvancedFolder)->visible);
  EXPECT_FALSE(dialog.item(kAdvancedBrowse)->enabled);
  InstallRecords_State(dialog, 1);
  EXPECT_TRUE(dialog.item(kAdvancedFolder)->visible);
  EXPECT_TRUE(dialog.item(kAdvancedBrowse)->enabled);
}

// ---- Install Options ------------------------------------------------------------------------

TEST_F(InstallOptionsTest, InstallWithTheDefaultFolderUsesTheApplicationsFolder) {
  StartLikeTheDriver();
  Answer("install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_FALSE(script_failed_);

  EXPECT_EQ(Paths().DataPath, system_ + "/launch/");
  EXPECT_EQ(Paths().rDataPathShort, sysroot_.path("opt"));
  std::string records_ini = system_ + "/records.ini";
  EXPECT_EQ(Setting(records_ini, "launch_path_local"), system_);
  EXPECT_EQ(Setting(records_ini, "records_ini_path_mac"), system_ + "/");
  EXPECT_EQ(Setting(records_ini, kAccessIniKey), "HD");
  std::string password;
  unsigned char flag = 1;
  ASSERT_EQ(DecodeThePassword(Setting(records_ini, kPasswordIniKey), password, flag), 1);
  EXPECT_EQ(password, kNoPassword);
  EXPECT_EQ(Paths().just_created_records_ini, 0) << "the written file is read back";
}

TEST_F(InstallOptionsTest, FirstInstallWithoutAnyLocationStillGivesAbsoluteFolders) {
  // Nothing read yet: the dialog starts from the Applications folder, never from the folder
  // the program was started in.
  Answer("install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(true), 1);
  EXPECT_EQ(Paths().DataPath, system_ + "/launch/");
  EXPECT_EQ(Paths().RecordsPath, system_ + "/data");
  EXPECT_EQ(Paths().rRecordsIniPath, system_ + "/");
  EXPECT_EQ(Setting(system_ + "/records.ini", "launch_path_local"), system_);
}

TEST_F(InstallOptionsTest, AdvancedButtonFollowsTheCaller) {
  StartLikeTheDriver();
  Answer("install-options -> 2\ninstall-options -> 2\n");
  Prompt_Records(false);
  Prompt_Records(true);
  ASSERT_EQ(recorder_->shown.size(), 2u);
  EXPECT_FALSE(recorder_->shown[0].item(kOptionsAdvanced)->visible);
  EXPECT_TRUE(recorder_->shown[1].item(kOptionsAdvanced)->visible);
  EXPECT_EQ(recorder_->shown[0].resource, kInstallOptionsResource);
}

TEST_F(InstallOptionsTest, FolderNamedNuvelIsRefused) {
  StartLikeTheDriver();
  std::string chosen = sysroot_.path("srv/nuvel");
  Answer(
      "install-options -> 5\n"
      "folder:MSG_InstallationDirectory -> " +
      chosen +
      "\n"
      "prompt:MSG_ZiviVeruzNotCalledNuvel -> 1\n"
      "install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_FALSE(script_failed_);
  std::vector<std::string> expected = {"install-options",
                                       "folder:MSG_InstallationDirectory " + sysroot_.path("opt"),
                                       "prompt:MSG_ZiviVeruzNotCalledNuvel", "install-options"};
  ASSERT_EQ(recorder_->asked, expected);
  EXPECT_EQ(Paths().DataPath, system_ + "/launch/") << "the refused folder must not be used";
  EXPECT_EQ(recorder_->shown[2].item(kOptionsFolder)->text,
            recorder_->shown[0].item(kOptionsFolder)->text);
}

TEST_F(InstallOptionsTest, FolderHoldingNuvelGetsNothingAppended) {
  StartLikeTheDriver();
  std::string chosen = sysroot_.path("srv/Nuvel/courses");
  Answer(
      "install-options -> 5\n"
      "folder:MSG_InstallationDirectory -> " +
      chosen +
      "\n"
      "install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(Paths().DataPath, chosen + "/launch/");
  EXPECT_EQ(Setting(system_ + "/records.ini", "launch_path_local"), chosen);
  // A local installation keeps its records with the local system folder.
  EXPECT_EQ(Paths().rRecordsIniPath, system_ + "/");
  EXPECT_EQ(Paths().RecordsPath, system_ + "/data");
}

TEST_F(InstallOptionsTest, OtherFolderGetsANuvelFolder) {
  StartLikeTheDriver();
  std::string chosen = sysroot_.path("srv/courses");
  Answer(
      "install-options -> 5\n"
      "folder:MSG_InstallationDirectory -> " +
      chosen +
      "/\n"
      "install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_EQ(Paths().DataPath, chosen + "/Nuvel/launch/");
  EXPECT_EQ(Paths().rDataPathShort, chosen);
  ASSERT_EQ(recorder_->shown.size(), 2u);
  EXPECT_TRUE(recorder_->shown[1].item(kOptionsFolder)->text.ends_with("/courses"))
      << "the chosen folder is shown: " << recorder_->shown[1].item(kOptionsFolder)->text;
}

TEST_F(InstallOptionsTest, CancelReturnsTwoAndChangesNothing) {
  StartLikeTheDriver();
  std::string records_ini = system_ + "/records.ini";
  std::string before_file = ReadTestFile(records_ini);
  base::PathState before = Paths();
  Answer(
      "install-options -> 5\n"
      "folder:MSG_InstallationDirectory -> " +
      sysroot_.path("srv/other") +
      "\n"
      "install-options -> 2\n");
  EXPECT_EQ(Prompt_Records(false), 2);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(ReadTestFile(records_ini), before_file);
  EXPECT_EQ(Paths().DataPath, before.DataPath);
  EXPECT_EQ(Paths().RecordsPath, before.RecordsPath);
  EXPECT_EQ(Paths().rRecordsIniPath, before.rRecordsIniPath);
  EXPECT_EQ(Paths().rDataPathShort, before.rDataPathShort);
  EXPECT_EQ(Paths().rPassword, before.rPassword);
}

TEST_F(InstallOptionsTest, CloseBoxCancels) {
  StartLikeTheDriver();
  Answer("install-options -> 999\n");
  EXPECT_EQ(Prompt_Records(false), 2);
}

TEST_F(InstallOptionsTest, NetworkFolderAsksForStudentAccessAndKeepsRecordsThere) {
  StartLikeTheDriver();
  std::string share = sysroot_.path("srv/share");
  fs::create_directories(share);
  ::setenv("NUVEL_NETWORK_PATHS", share.c_str(), 1);
  Answer(
      "install-options -> 5\n"
      "folder:MSG_InstallationDirectory -> " +
      share +
      "\n"
      "prompt:MSG_ConfirmStudentAccessToPath -> 1\n"
      "install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_FALSE(script_failed_);
  std::string install = share + "/Nuvel";
  EXPECT_EQ(Paths().DataPath, install + "/launch/");
  EXPECT_EQ(Paths().RecordsPath, install + "/data");
  EXPECT_EQ(Paths().rRecordsIniPath, install + "/");
  EXPECT_EQ(Setting(install + "/records.ini", "launch_path_local"), install);
  EXPECT_EQ(Setting(system_ + "/records.ini", "records_ini_path_mac"), install + "/")
      << "the local settings must point at the shared records.ini";
}

TEST_F(InstallOptionsTest, RefusedStudentAccessKeepsThePreviousFolder) {
  StartLikeTheDriver();
  std::string share = sysroot_.path("srv/share");
  fs::create_directories(share);
  ::setenv("NUVEL_NETWORK_PATHS", share.c_str(), 1);
  Answer(
      "install-options -> 5\n"
      "folder:MSG_InstallationDirectory -> " +
      share +
      "\n"
      "prompt:MSG_ConfirmStudentAccessToPath -> 2\n"
      "install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_EQ(Paths().DataPath, system_ + "/launch/");
  EXPECT_FALSE(fs::exists(share + "/Nuvel"));
}

TEST_F(InstallOptionsTest, BrowseAdoptsAnExistingInstallationsSettings) {
  StartLikeTheDriver();
  std::string share = sysroot_.path("srv/share");
  std::string install = share + "/Nuvel";
  std::string stored;
  EncodeThePassword(stored, "class42", 0);
  WriteTestFile(install + "/records.ini", "[Records]\r\nlaunch_path_local=" + install +
                                              "\r\nrm_password=" + stored +
                                              "\r\nrecords_access=FLOPPY\r\n");
  Answer(
      "install-options -> 5\n"
      "folder:MSG_InstallationDirectory -> " +
      share +
      "\n"
      "install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(Paths().rRecordsIniPath, install + "/");
  EXPECT_EQ(Paths().DataPath, install + "/launch/");
  EXPECT_EQ(StoredPassword(), "class42");
  EXPECT_EQ(Paths().rAccessFlag, "FLOPPY");
  EXPECT_EQ(Setting(system_ + "/records.ini", "records_ini_path_mac"), install + "/");
}

TEST_F(InstallOptionsTest, ChangingAnInstallationInUseNeedsConfirmation) {
  StartLikeTheDriver();
  EXPECT_EQ(ConfirmChangePath(system_), 1) << "a new installation is not asked";
  base::Paths().just_created_records_ini = 0;
  base::Run().num_of_products = 2;
  Answer(
      "install-options -> 5\n"
      "prompt:MSG_Message_SureWantToContinue -> 2\n"
      "install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_FALSE(script_failed_) << "No must not open the folder chooser";
  std::vector<std::string> expected = {"install-options", "prompt:MSG_Message_SureWantToContinue",
                                       "install-options"};
  ASSERT_EQ(recorder_->asked, expected);
  EXPECT_NE(recorder_->shown[1].item(3)->text.find(system_), std::string::npos)
      << "the question names the installation in use";
}

// ---- Advanced -------------------------------------------------------------------------------

TEST_F(InstallOptionsTest, AdvancedOpensFromInstallOptionsAndRedrawsTheFolder) {
  StartLikeTheDriver();
  Answer(
      "install-options -> 3\n"
      "advanced set 8=\"pass12\" set 9=\"pass12\" -> 1\n"
      "install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(true), 1);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(StoredPassword(), "pass12");
  std::string password;
  unsigned char flag = 0;
  ASSERT_EQ(DecodeThePassword(Setting(system_ + "/records.ini", kPasswordIniKey), password, flag),
            1);
  EXPECT_EQ(password, "pass12") << "Install keeps the password in records.ini";
}

TEST_F(InstallOptionsTest, MismatchedPasswordsKeepTheDialog) {
  StartLikeTheDriver();
  Answer(
      "advanced set 8=\"abc123\" set 9=\"abc124\" -> 1\n"
      "prompt:MSG_CMS_PasswordsDontMatch -> 1\n"
      "advanced set 9=\"abc123\" -> 1\n");
  ASSERT_EQ(Prompt_Advanced(), 1);
  EXPECT_FALSE(script_failed_);
  std::vector<std::string> expected = {"advanced", "prompt:MSG_CMS_PasswordsDontMatch", "advanced"};
  ASSERT_EQ(recorder_->asked, expected);
  EXPECT_EQ(recorder_->shown[2].item(kAdvancedPassword)->text, "abc123")
      << "the dialog stays as the user left it";
  EXPECT_EQ(StoredPassword(), "abc123");
}

TEST_F(InstallOptionsTest, WeakPasswordIsRefused) {
  StartLikeTheDriver();
  Answer(
      "advanced set 8=\"abc\" set 9=\"abc\" -> 1\n"
      "prompt:MSG_InvalidPasswordlength -> 1\n"
      "advanced -> 2\n");
  EXPECT_EQ(Prompt_Advanced(), 2);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(StoredPassword(), kNoPassword);
}

TEST_F(InstallOptionsTest, EmptyPasswordIsStoredAsNoPasswordAndShownEmpty) {
  StartLikeTheDriver();
  std::string encoded;
  EncodeThePassword(encoded, "old123", 5);
  Paths().rPassword = encoded;
  Answer(
      "advanced set 8=\"\" set 9=\"\" -> 1\n"
      "advanced -> 2\n");
  ASSERT_EQ(Prompt_Advanced(), 1);
  ASSERT_EQ(recorder_->shown.size(), 1u);
  EXPECT_EQ(recorder_->shown[0].item(kAdvancedPassword)->text, "old123");
  std::string password;
  unsigned char flag = 0;
  ASSERT_EQ(DecodeThePassword(Paths().rPassword, password, flag), 1);
  EXPECT_EQ(password, kNoPassword);
  EXPECT_EQ(flag, 5) << "the flag byte is kept";

  Prompt_Advanced();
  ASSERT_EQ(recorder_->shown.size(), 2u);
  EXPECT_EQ(recorder_->shown[1].item(kAdvancedPassword)->text, "");
  EXPECT_EQ(recorder_->shown[1].item(kAdvancedConfirm)->text, "");
}

TEST_F(InstallOptionsTest, FloppyRecordsHideTheRecordsFolder) {
  StartLikeTheDriver();
  Paths().rAccessFlag = kAccessFloppy;
  Answer("advanced -> 1\n");
  ASSERT_EQ(Prompt_Advanced(), 1);
  ASSERT_EQ(recorder_->shown.size(), 1u);
  const ui::Dialog& shown = recorder_->shown[0];
  EXPECT_EQ(shown.item(kAdvancedFloppy)->value, 1);
  EXPECT_FALSE(shown.item(kAdvancedFolder)->visible);
  EXPECT_FALSE(shown.item(kAdvancedBrowse)->enabled);
  EXPECT_EQ(Paths().rAccessFlag, kAccessFloppy);
}

TEST_F(InstallOptionsTest, ChoosingThisFolderSwitchesToHD) {
  StartLikeTheDriver();
  Paths().rAccessFlag = kAccessFloppy;
  std::string records = sysroot_.path("srv/records");
  Answer(
      "advanced choose 4 -> 10\n"
      "folder:MSG_RecordsDirectory -> " +
      records +
      "\n"
      "advanced -> 1\n");
  ASSERT_EQ(Prompt_Advanced(), 1);
  EXPECT_FALSE(script_failed_) << "Browse must be enabled once radio 4 is chosen";
  EXPECT_EQ(Paths().rAccessFlag, kAccessHD);
  EXPECT_EQ(Paths().RecordsPath, records + "/data");
  EXPECT_EQ(Paths().DataPath, system_ + "/launch");
  ASSERT_EQ(recorder_->shown.size(), 2u);
  EXPECT_TRUE(recorder_->shown[1].item(kAdvancedFolder)->visible);
  EXPECT_TRUE(recorder_->shown[1].item(kAdvancedFolder)->text.ends_with("/records"))
      << "the chosen folder is shown: " << recorder_->shown[1].item(kAdvancedFolder)->text;
}

TEST_F(InstallOptionsTest, CancelRestoresTheRecordsFolder) {
  StartLikeTheDriver();
  Answer("advanced -> 2\n");
  Prompt_Advanced();
  std::string on_entry = Paths().rRecordPathShort;
  std::string records_path = Paths().RecordsPath;
  Answer(
      "advanced -> 10\n"
      "folder:MSG_RecordsDirectory -> " +
      sysroot_.path("srv/elsewhere") +
      "\n"
      "advanced -> 2\n");
  EXPECT_EQ(Prompt_Advanced(), 2);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(Paths().rRecordPathShort, on_entry);
  EXPECT_EQ(Paths().RecordsPath, records_path);
}

TEST_F(InstallOptionsTest, LanguageListOffersTheLanguagesAndAppliesTheChoice) {
  StartLikeTheDriver();
  int current = -1;
  std::vector<std::string> rows = base::Fill_ForceOSLang_List(current);
  auto french = std::find(rows.begin(), rows.end(), "French (French)");
  ASSERT_NE(french, rows.end());
  Answer("advanced select " + std::to_string(french - rows.begin()) + " -> 1\n");
  ASSERT_EQ(Prompt_Advanced(), 1);
  ASSERT_EQ(recorder_->shown.size(), 1u);
  const ui::DialogItem* list = recorder_->shown[0].item(kAdvancedLanguage);
  EXPECT_EQ(list->lines, rows);
  EXPECT_EQ(list->selected, std::vector<int>{current});
  EXPECT_EQ(Setting(system_ + "/records.ini", "force_OS_lang"), "FRA");
}

}  // namespace
}  // namespace nuvel::records
