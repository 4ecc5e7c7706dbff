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
#include "tests/support/module_state.h"
#include "tests/support/fake_backend.h"
#include "tests/support/test_env.h"
#include "ui/dialog.h"
#include "ui/script/script_backend.h"
#include "ui/terminal/terminal_backend.h"

namespace nuvel::records {
namespace {

namespace fs = std::filesystem;
using base::Paths;
using Strings = std::vector<std::string>;

// Answers from an answer file and remembers what was asked: one line per dialog
// ("install-options", "prompt:MSG_...") and per folder question ("folder:<id> <start>").
class RecordingScript : public ui::testing::FakeBackend {
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
  Strings asked;

 private:
  std::unique_ptr<ui::Backend> inner_;
};

void ResetModules() { nuvel::testing::ResetBaseModules(); }

// The answers that press Browse and pick `folder`.
std::string Browse(const std::string& folder) {
  return "install-options -> 5\nfolder:MSG_InstallationDirectory -> " + folder + "\n";
}

class InstallOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModules();
    ::unsetenv("NUVEL_NETWORK_PATHS");
    system_ = sysroot_.path("opt/Nuvel");
    fs::create_directories(system_);
    ui::SetNoAnswerExitHookForTesting([this](int) { script_failed_ = true; });
    // Started the way the driver does: the records.ini in use is the local system folder's.
    if (read_records_ini_) {
      Paths().rRecordsIniPath = base::FindLocalNuvelDirectory();
      base::Read_RecordsIni();
    }
  }
  void TearDown() override {
    ui::SetBackend(nullptr);
    ui::SetNoAnswerExitHookForTesting(nullptr);
    ::unsetenv("NUVEL_NETWORK_PATHS");
    ResetModules();
  }

  void Answer(const std::string& text) {
    std::string error;
    auto script = ui::MakeScriptBackend(text, &error);
    ASSERT_TRUE(script) << error;
    auto recording = std::make_unique<RecordingScript>(std::move(script));
    recorder_ = recording.get();
    ui::SetBackend(std::move(recording));
  }

  // A folder the system reports as a network path.
  std::string NetworkShare() {
    std::string share = sysroot_.path("srv/share");
    fs::create_directories(share);
    ::setenv("NUVEL_NETWORK_PATHS", share.c_str(), 1);
    return share;
  }

  std::string Setting(const std::string& file, const char* key) {
    std::string value;
    base::FreePrivateProfile();
    base::GetPrivateProfileString("Records", key, "", value, 512, file);
    return value;
  }

  std::string Decoded(const std::string& encoded) {
    std::string password;
    unsigned char flag = 0;
    EXPECT_EQ(DecodeThePassword(encoded, password, flag), 1);
    return password;
  }
  std::string StoredPassword() { return Decoded(Paths().rPassword); }
  std::string Shown(int dialog, int item) { return recorder_->shown.at(dialog).item(item)->text; }

  nuvel::testing::TestSysroot sysroot_;
  std::string system_;  // the local system folder, no trailing "/"
  RecordingScript* recorder_ = nullptr;
  bool script_failed_ = false;
  bool read_records_ini_ = true;
};

// Nothing read yet, as on a first installation.
struct FirstInstallTest : InstallOptionsTest {
  FirstInstallTest() { read_records_ini_ = false; }
};

TEST(InstallationFolderTest, NuvelIsAppendedOnlyWhenMissingAndCutBeforeIt) {
  EXPECT_EQ(InstallationFolderOf("/srv/share"), "/srv/share/Nuvel");
  EXPECT_EQ(InstallationFolderOf("/srv/share/"), "/srv/share/Nuvel");
  EXPECT_EQ(InstallationFolderOf("/srv/Nuvel"), "/srv/Nuvel");
  EXPECT_EQ(InstallationFolderOf("/srv/Nuvel/courses"), "/srv/Nuvel/courses");
  EXPECT_EQ(InstallationFolderOf("/srv/Nuvelle"), "/srv/Nuvelle/Nuvel");
  EXPECT_EQ(InstallationFolderOf("/"), "/Nuvel");
  EXPECT_EQ(CutBeforeNuvel("/opt/Nuvel/launch"), "/opt");
  EXPECT_EQ(CutBeforeNuvel("/opt/Nuvel/"), "/opt");
  EXPECT_EQ(CutBeforeNuvel("/Nuvel/launch"), "/");
  EXPECT_EQ(CutBeforeNuvel("/srv/Nuvelle/launch"), "/srv/Nuvelle/launch");
}

TEST_F(InstallOptionsTest, InstallWithTheDefaultFolderWritesEveryChoiceToRecordsIni) {
  Answer("install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_FALSE(script_failed_);
  EXPECT_FALSE(recorder_->shown[0].item(kOptionsAdvanced)->visible);

  EXPECT_EQ(Paths().DataPath, system_ + "/launch/");
  EXPECT_EQ(Paths().rDataPathShort, sysroot_.path("opt"));
  const std::string records_ini = system_ + "/records.ini";
  EXPECT_EQ(Setting(records_ini, "launch_path_local"), system_);
  EXPECT_EQ(Setting(records_ini, "records_ini_path_mac"), system_ + "/");
  EXPECT_EQ(Setting(records_ini, kAccessIniKey), "HD");
  EXPECT_EQ(Decoded(Setting(records_ini, kPasswordIniKey)), kNoPassword);
  EXPECT_EQ(Paths().just_created_records_ini, 0) << "the written file is read back";
}

// The dialog starts from the Applications folder, never from the folder the program was
// started in.
TEST_F(FirstInstallTest, WithoutAnyLocationStillGivesAbsoluteFolders) {
  Answer("install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(true), 1);
  EXPECT_TRUE(recorder_->shown[0].item(kOptionsAdvanced)->visible);
  EXPECT_EQ(Paths().DataPath, system_ + "/launch/");
  EXPECT_EQ(Paths().RecordsPath, system_ + "/data");
  EXPECT_EQ(Paths().rRecordsIniPath, system_ + "/");
  EXPECT_EQ(Setting(system_ + "/records.ini", "launch_path_local"), system_);
}

TEST_F(InstallOptionsTest, FolderNamedNuvelIsRefused) {
  Answer(Browse(sysroot_.path("srv/nuvel")) +
         "prompt:MSG_ZiviVeruzNotCalledNuvel -> 1\ninstall-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(recorder_->asked,
            (Strings{"install-options", "folder:MSG_InstallationDirectory " + sysroot_.path("opt"),
                     "prompt:MSG_ZiviVeruzNotCalledNuvel", "install-options"}));
  EXPECT_EQ(Paths().DataPath, system_ + "/launch/") << "the refused folder must not be used";
  EXPECT_EQ(Shown(2, kOptionsFolder), Shown(0, kOptionsFolder));
}

// A local installation keeps its records with the local system folder, wherever it goes.
TEST_F(InstallOptionsTest, ChosenFolderGetsANuvelFolderUnlessItHasOne) {
  const std::string other = sysroot_.path("srv/courses"),
                    nuvel = sysroot_.path("srv/Nuvel/courses");
  Answer(Browse(other + "/") + "install-options -> 1\n" + Browse(nuvel) + "install-options -> 1\n");
  for (const auto& [chosen, install] :
       {std::pair{other, other + "/Nuvel"}, std::pair{nuvel, nuvel}}) {
    SCOPED_TRACE(chosen);
    recorder_->shown.clear();
    ASSERT_EQ(Prompt_Records(false), 1);
    EXPECT_FALSE(script_failed_);
    EXPECT_EQ(Paths().rDataPathShort, chosen);
    EXPECT_EQ(Paths().DataPath, install + "/launch/");
    EXPECT_EQ(Setting(system_ + "/records.ini", "launch_path_local"), install);
    EXPECT_EQ(Paths().rRecordsIniPath, system_ + "/");
    EXPECT_EQ(Paths().RecordsPath, system_ + "/data");
    EXPECT_TRUE(Shown(1, kOptionsFolder).ends_with("/courses")) << Shown(1, kOptionsFolder);
  }
}

TEST_F(InstallOptionsTest, CancelAndTheCloseBoxReturnTwoAndChangeNothing) {
  const std::string records_ini = system_ + "/records.ini";
  const std::string before_file = nuvel::testing::ReadTestFile(records_ini);
  const base::PathState before = Paths();
  Answer(Browse(sysroot_.path("srv/other")) + "install-options -> 2\ninstall-options -> 999\n");
  EXPECT_EQ(Prompt_Records(false), 2);
  EXPECT_EQ(Prompt_Records(false), 2);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(nuvel::testing::ReadTestFile(records_ini), before_file);
  EXPECT_EQ(Paths().DataPath, before.DataPath);
  EXPECT_EQ(Paths().RecordsPath, before.RecordsPath);
  EXPECT_EQ(Paths().rRecordsIniPath, before.rRecordsIniPath);
  EXPECT_EQ(Paths().rDataPathShort, before.rDataPathShort);
  EXPECT_EQ(Paths().rPassword, before.rPassword);
}

// Refused student access keeps the previous folder; granted, the records stay in the share.
TEST_F(InstallOptionsTest, NetworkFolderAsksForStudentAccessAndKeepsRecordsThere) {
  std::string share = NetworkShare(), install = share + "/Nuvel";
  Answer(Browse(share) + "prompt:MSG_ConfirmStudentAccessToPath -> 2\ninstall-options -> 1\n" +
         Browse(share) + "prompt:MSG_ConfirmStudentAccessToPath -> 1\ninstall-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_EQ(Paths().DataPath, system_ + "/launch/");
  EXPECT_FALSE(fs::exists(install));
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(Paths().DataPath, install + "/launch/");
  EXPECT_EQ(Paths().RecordsPath, install + "/data");
  EXPECT_EQ(Paths().rRecordsIniPath, install + "/");
  EXPECT_EQ(Setting(install + "/records.ini", "launch_path_local"), install);
  EXPECT_EQ(Setting(system_ + "/records.ini", "records_ini_path_mac"), install + "/")
      << "the local settings must point at the shared records.ini";
}

TEST_F(InstallOptionsTest, BrowseAdoptsAnExistingInstallationsSettings) {
  std::string share = sysroot_.path("srv/share"), install = share + "/Nuvel", stored;
  EncodeThePassword(stored, "class42", 0);
  nuvel::testing::WriteTestFile(install + "/records.ini",
                                "[Records]\r\nlaunch_path_local=" + install +
                                    "\r\nrm_password=" + stored + "\r\nrecords_access=FLOPPY\r\n");
  Answer(Browse(share) + "install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(Paths().rRecordsIniPath, install + "/");
  EXPECT_EQ(Paths().DataPath, install + "/launch/");
  EXPECT_EQ(StoredPassword(), "class42");
  EXPECT_EQ(Paths().rAccessFlag, "FLOPPY");
  EXPECT_EQ(Setting(system_ + "/records.ini", "records_ini_path_mac"), install + "/");
}

TEST_F(InstallOptionsTest, ChangingAnInstallationInUseNeedsConfirmation) {
  EXPECT_EQ(ConfirmChangePath(system_), 1) << "a new installation is not asked";
  Paths().just_created_records_ini = 0;
  base::Run().num_of_products = 2;
  Answer(
      "install-options -> 5\nprompt:MSG_Message_SureWantToContinue -> 2\ninstall-options -> 1\n");
  ASSERT_EQ(Prompt_Records(false), 1);
  EXPECT_FALSE(script_failed_) << "No must not open the folder chooser";
  EXPECT_EQ(recorder_->asked, (Strings{"install-options", "prompt:MSG_Message_SureWantToContinue",
                                       "install-options"}));
  EXPECT_NE(Shown(1, 3).find(system_), std::string::npos)
      << "the question names the installation in use";
}

TEST_F(InstallOptionsTest, AdvancedPasswordIsKeptInRecordsIniOnInstall) {
  Answer(
      "install-options -> 3\nadvanced set 8=\"pass12\" set 9=\"pass12\" -> 1\n"
      "install-options -> 1\n");
  ASSERT_EQ(Prompt_Records(true), 1);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(StoredPassword(), "pass12");
  EXPECT_EQ(Decoded(Setting(system_ + "/records.ini", kPasswordIniKey)), "pass12");
}

// A refused OK stores nothing and keeps the dialog as the user left it. A password the settings
// could only keep cut is refused too.
const std::string kTooLong = std::string(70, 'a') + "123456";  // 76 bytes
TEST_F(InstallOptionsTest, MismatchedOrWeakPasswordsAreRefused) {
  Answer(
      "advanced set 8=\"abc123\" set 9=\"abc124\" -> 1\nprompt:MSG_CMS_PasswordsDontMatch -> 1\n"
      "advanced set 9=\"abc\" set 8=\"abc\" -> 1\nprompt:MSG_InvalidPasswordlength -> 1\n"
      "advanced set 8=\"" +
      kTooLong + "\" set 9=\"" + kTooLong +
      "\" -> 1\n"
      "prompt:MSG_InvalidPasswordlength -> 1\n"
      "advanced -> 2\n");
  EXPECT_EQ(Prompt_Advanced(), 2);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(recorder_->asked, (Strings{"advanced", "prompt:MSG_CMS_PasswordsDontMatch", "advanced",
                                       "prompt:MSG_InvalidPasswordlength", "advanced",
                                       "prompt:MSG_InvalidPasswordlength", "advanced"}));
  EXPECT_EQ(Shown(2, kAdvancedPassword), "abc123");
  EXPECT_EQ(Shown(2, kAdvancedConfirm), "abc124");
  EXPECT_EQ(Shown(4, kAdvancedPassword), "abc");
  EXPECT_EQ(StoredPassword(), kNoPassword);
}

// Typed lines in, everything written kept.
class TypedLines : public ui::TerminalIo {
 public:
  bool ReadLine(std::string& line, bool) override {
    if (input.empty()) return false;
    line = input.front();
    input.erase(input.begin());
    return true;
  }
  void Write(std::string_view text) override { output += text; }
  int Columns() override { return 80; }
  Strings input;
  std::string output;
};

// A label as a question shows it: without its closing colon.
std::string Question(const char* key) {
  std::string text = base::Localize(key);
  while (!text.empty() && (text.back() == ':' || text.back() == ' ')) text.pop_back();
  return text;
}

TEST_F(InstallOptionsTest, OnATerminalEveryAdvancedFieldIsAskedWithItsOwnLabel) {
  auto io = std::make_unique<TypedLines>();
  TypedLines* terminal = io.get();
  terminal->input = {"pass12", "pass12", "1", "1"};  // both fields, a language row, OK
  ui::SetBackend(std::make_unique<ui::TerminalBackend>(std::move(io)));
  ASSERT_EQ(Prompt_Advanced(), 1);
  EXPECT_EQ(StoredPassword(), "pass12");
  const std::string& out = terminal->output;
  EXPECT_NE(out.find("8) " + Question("MSG_Message_AdminPassword") + " (not shown"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("9) " + Question("MSG_Record_Psswrd2Prompt") + " (not shown"),
            std::string::npos);
  EXPECT_EQ(out.find("Field"), std::string::npos);
  EXPECT_NE(out.find(Question("MSG_Dialog_MenuLanguage") + ", row"), std::string::npos)
      << "the language list is asked by its name";
}

TEST_F(InstallOptionsTest, EmptyPasswordIsStoredAsNoPasswordAndShownEmpty) {
  EncodeThePassword(Paths().rPassword, "old123", 5);
  Answer("advanced set 8=\"\" set 9=\"\" -> 1\nadvanced -> 2\n");
  ASSERT_EQ(Prompt_Advanced(), 1);
  EXPECT_EQ(Shown(0, kAdvancedPassword), "old123");
  std::string password;
  unsigned char flag = 0;
  ASSERT_EQ(DecodeThePassword(Paths().rPassword, password, flag), 1);
  EXPECT_EQ(password, kNoPassword);
  EXPECT_EQ(flag, 5) << "the flag byte is kept";

  Prompt_Advanced();
  ASSERT_EQ(recorder_->shown.size(), 2u);
  EXPECT_EQ(Shown(1, kAdvancedPassword), "");
  EXPECT_EQ(Shown(1, kAdvancedConfirm), "");
}

TEST_F(InstallOptionsTest, FloppyRecordsHideTheRecordsFolderUntilThisFolderIsChosen) {
  Paths().rAccessFlag = kAccessFloppy;
  std::string records = sysroot_.path("srv/records");
  Answer("advanced -> 1\nadvanced choose 4 -> 10\nfolder:MSG_RecordsDirectory -> " + records +
         "\nadvanced -> 1\n");
  ASSERT_EQ(Prompt_Advanced(), 1);
  const ui::Dialog& shown = recorder_->shown.at(0);
  EXPECT_EQ(shown.item(kAdvancedFloppy)->value, 1);
  EXPECT_FALSE(shown.item(kAdvancedFolder)->visible);
  EXPECT_FALSE(shown.item(kAdvancedBrowse)->enabled);
  EXPECT_EQ(Paths().rAccessFlag, kAccessFloppy);

  ASSERT_EQ(Prompt_Advanced(), 1);
  EXPECT_FALSE(script_failed_) << "Browse must be enabled once radio 4 is chosen";
  EXPECT_EQ(Paths().rAccessFlag, kAccessHD);
  EXPECT_EQ(Paths().RecordsPath, records + "/data");
  EXPECT_EQ(Paths().DataPath, system_ + "/launch");
  ASSERT_EQ(recorder_->shown.size(), 3u);
  EXPECT_TRUE(recorder_->shown[2].item(kAdvancedFolder)->visible);
  EXPECT_TRUE(Shown(2, kAdvancedFolder).ends_with("/records")) << Shown(2, kAdvancedFolder);
}

TEST_F(InstallOptionsTest, CancelRestoresTheRecordsFolder) {
  Answer("advanced -> 2\n");
  Prompt_Advanced();
  const std::string on_entry = Paths().rRecordPathShort, records_path = Paths().RecordsPath;
  Answer("advanced -> 10\nfolder:MSG_RecordsDirectory -> " + sysroot_.path("srv/elsewhere") +
         "\nadvanced -> 2\n");
  EXPECT_EQ(Prompt_Advanced(), 2);
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(Paths().rRecordPathShort, on_entry);
  EXPECT_EQ(Paths().RecordsPath, records_path);
}

TEST_F(InstallOptionsTest, LanguageListOffersTheLanguagesAndAppliesTheChoice) {
  int current = -1;
  Strings rows = base::Fill_ForceOSLang_List(current);
  auto french = std::find(rows.begin(), rows.end(), "French (French)");
  ASSERT_NE(french, rows.end());
  Answer("advanced select " + std::to_string(french - rows.begin()) + " -> 1\n");
  ASSERT_EQ(Prompt_Advanced(), 1);
  const ui::DialogItem* list = recorder_->shown.at(0).item(kAdvancedLanguage);
  EXPECT_EQ(list->lines, rows);
  EXPECT_EQ(list->selected, std::vector<int>{current});
  EXPECT_EQ(Setting(system_ + "/records.ini", "force_OS_lang"), "FRA");
}

}  // namespace
}  // namespace nuvel::records
