#include "records/student_login.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "net/download.h"
#include "net/update_check.h"
#include "records/password.h"
#include "records/server_settings.h"
#include "tests/support/fake_backend.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"
#include "ui/dialog.h"
#include "ui/script/script_backend.h"
#include "ui/terminal/terminal_backend.h"

namespace nuvel::records {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::WriteTestFile;
using Strings = std::vector<std::string>;

// A server list of three servers, as the sample source ships it (shortened).
const std::string kList =
    "[Records]\r\n"
    "server_list_ver=023\r\n"
    "server_001_server_name=Main\r\n"
    "server_001_recordsipaddress=rs001.nuvel-records.example\r\n"
    "server_001_wo_responsepage=none\r\n"
    "server_001_streamingaddress=stream001.nuvel-records.example\r\n"
    "server_003_server_name=Europe Central\r\n"
    "server_003_recordsipaddress=rs003.nuvel-records.example\r\n"
    "server_003_recordsipport=8080\r\n"
    "server_003_wo_responsepage=none\r\n"
    "server_003_streamingaddress=stream003.nuvel-records.example\r\n"
    "server_007_server_name=Web Asia\r\n"
    "server_007_recordsipaddress=rs007.nuvel-records.example\r\n"
    "server_007_wo_responsepage=/webi/%s.html\r\n"
    "server_007_streamingaddress=stream007.nuvel-records.example\r\n";

// records.ini of an installation on server 3 ("Europe Central", row 2 of the popup).
const std::string kOnServer3 =
    "[Records]\r\nserver_num=003\r\nserver_list_ver=023\r\nserver_name=Europe Central\r\n"
    "recordsipaddress=rs003.nuvel-records.example\r\nrecordsipport=8080\r\n"
    "wo_responsepage=none\r\nstreamingaddress=stream003.nuvel-records.example\r\n";

class StudentLoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nuvel::testing::ResetBaseModules();
    ui::SetNoAnswerExitHookForTesting([this](int) { script_failed_ = true; });
    system_ = sysroot_.path("opt/Nuvel/");
    const std::string apps = sysroot_.path("srv/Courses");
    fs::create_directories(apps);
    base::Initialize_All_Paths(apps);
    net::UpdateCheck().versionFile_HasBeenDownloaded = 1;  // no test reaches a server
    base::Run().DownloadAddress = net::kDefaultDownloadAddress;
    Write(system_ + "VERSION2M.INI", kList);
    Write(base::GetRecordsIniFilePath(), kOnServer3);
    LoadServerSettings();
  }
  void TearDown() override {
    ui::OpenTranscript("");
    ui::OpenRecordedAnswers("");
    ui::SetBackend(nullptr);
    ui::SetNoAnswerExitHookForTesting(nullptr);
    nuvel::testing::ResetBaseModules();
  }

  void Write(const std::string& path, const std::string& data) {
    WriteTestFile(path, data);
    base::FreePrivateProfile();
  }
  std::string Setting(const std::string& key) {
    base::FreePrivateProfile();
    return base::ProfileValue(kRecordsSection, key, "<absent>", base::GetRecordsIniFilePath());
  }
  std::string LogText() const { return ReadTestFile(system_ + "Nuvel_log.txt"); }

  // Answers each login dialog with the next function; a prompt with OK.
  ui::testing::FakeBackend& Answer(std::vector<std::function<int(ui::Dialog&)>> answers) {
    auto fake = std::make_unique<ui::testing::FakeBackend>();
    ui::testing::FakeBackend& backend = *fake;
    fake->answer = [answers = std::move(answers), next = std::size_t{0}](ui::Dialog& d) mutable {
      if (d.name != "login") return 1;
      return next < answers.size() ? answers[next++](d) : ui::kCloseBox;
    };
    ui::SetBackend(std::move(fake));
    return backend;
  }
  void Script(const std::string& text) {
    std::string error;
    auto script = ui::MakeScriptBackend(text, &error);
    ASSERT_TRUE(script) << error;
    ui::SetBackend(std::move(script));
  }
  std::vector<const ui::Dialog*> LoginDialogs(const ui::testing::FakeBackend& backend) const {
    std::vector<const ui::Dialog*> logins;
    for (const ui::Dialog& d : backend.shown) {
      if (d.name == "login") logins.push_back(&d);
    }
    return logins;
  }

  nuvel::testing::TestSysroot sysroot_;
  std::string system_;  // the local system folder, with "/"
  bool script_failed_ = false;
};

// Types a name and a password and hits OK.
std::function<int(ui::Dialog&)> Type(std::string name, std::string password = "") {
  return [name = std::move(name), password = std::move(password)](ui::Dialog& d) {
    d.item(kLoginName)->text = name;
    if (!password.empty()) d.item(kLoginPassword)->text = password;
    return kLoginOK;
  };
}

// Closes the window.
std::function<int(ui::Dialog&)> Close() {
  return [](ui::Dialog&) { return ui::kCloseBox; };
}

// ---- The dialog ---------------------------------------------------------------------------

TEST_F(StudentLoginTest, DialogOffersNamePasswordAndTheServerListWithTheUnusedItemsHidden) {
  Login().WorkOffLine = 0x81;  // bit 7 is not kept; bit 0 checks the box
  Login().original_group_login_password = "kept";
  ui::testing::FakeBackend& backend = Answer({Close()});
  std::string name = "ann@school.example";
  EXPECT_EQ(StudentLoginScreen(name), kLoginQuit);

  ASSERT_EQ(backend.shown.size(), 1u);
  const ui::Dialog& d = backend.shown[0];
  EXPECT_EQ(d.name, "login");
  EXPECT_EQ(d.resource, kStudentLoginResource);
  EXPECT_EQ(d.item(kLoginGreeting)->text,
            base::StrRez(0, "MSG_Message_WelcomeToInternetCourseware"));
  EXPECT_EQ(d.item(kLoginNameLabel)->text, "Student login ID / Group login ID");
  EXPECT_EQ(d.item(kLoginName)->kind, ui::ItemKind::kEditText);
  EXPECT_EQ(d.item(kLoginName)->text, "ann@school.example");
  EXPECT_EQ(d.item(kLoginPassword)->kind, ui::ItemKind::kPassword) << "the password is masked";
  EXPECT_EQ(d.item(kLoginPassword)->text, "kept");
  EXPECT_EQ(d.item(kLoginPasswordLabel)->text, base::StrRez(0, "MSG_CMS_StudentPassword"));
  EXPECT_EQ(d.item(kLoginOffLine)->value, 1);
  EXPECT_EQ(d.item(kLoginAddress)->text, "rs003.nuvel-records.example");
  for (int hidden : {2, 3, 4, 6, 8, 9, 11}) {
    EXPECT_FALSE(d.item(hidden)->visible) << "item " << hidden << " is hidden";
  }
  for (int shown : {1, 5, 7, 12, 13}) {
    EXPECT_TRUE(d.item(shown)->visible) << "item " << shown << " shows";
  }
  const ui::DialogItem& popup = *d.item(kLoginServerPopup);
  EXPECT_EQ(popup.lines,
            (Strings{"Choose a Records server", "Main", "Europe Central", "Web Asia"}));
  EXPECT_EQ(popup.selected, (std::vector<int>{2})) << "the current server is selected";
  EXPECT_EQ(d.item(kLoginServerLabel)->text, "Records server:");

  // A locked server shows its name instead of the popup.
  RS().show_all_servers = 2;
  ui::testing::FakeBackend& locked = Answer({Close()});
  EXPECT_EQ(StudentLoginScreen(name), kLoginQuit);
  const ui::Dialog& l = locked.shown.at(0);
  EXPECT_FALSE(l.item(kLoginServerPopup)->visible);
  EXPECT_TRUE(l.item(kLoginServerName)->visible);
  EXPECT_FALSE(l.item(kLoginServerName)->enabled);
  EXPECT_EQ(l.item(kLoginServerName)->text, "Europe Central");
}

TEST_F(StudentLoginTest, GreetingFollowsTheRecordsViewerMode) {
  RS().records_viewer_mode = 1;
  ui::testing::FakeBackend& backend = Answer({Close()});
  std::string name;
  StudentLoginScreen(name);
  EXPECT_EQ(backend.shown.at(0).item(kLoginGreeting)->text,
            base::StrRez(0, "MSG_Message_WelcomeToRecordsViewer"));
  EXPECT_EQ(backend.shown.at(0).id, "MSG_Message_WelcomeToRecordsViewer");
}

TEST_F(StudentLoginTest, InputMethodLanguagesAndTurkishSeeTheEnglishPasswordLabel) {
  for (const char* code : {"JPN", "KOR", "TAI", "MAN", "MAS", "TUR"}) {
    EXPECT_EQ(PasswordLabel(code), "Password") << code;
  }
  for (const char* code : {"ENG", "FRA", "GER", "SPN", "RUS", "THA"}) {
    EXPECT_EQ(PasswordLabel(code), base::StrRez(0, "MSG_CMS_StudentPassword")) << code;
  }
}

// ---- The screen's loop --------------------------------------------------------------------

TEST_F(StudentLoginTest, NameOfBlanksOnlyShowsTheDialogAgainAndBlanksAreStripped) {
  ui::testing::FakeBackend& backend =
      Answer({Type("   \t "), Type("  ann@school.example ", " pass12  ")});
  std::string name;
  ASSERT_EQ(StudentLoginScreen(name), kLoginEntered);
  EXPECT_EQ(LoginDialogs(backend).size(), 2u);
  EXPECT_EQ(name, "ann@school.example");
  EXPECT_EQ(Login().EmailAddress, "ann@school.example");
  EXPECT_EQ(Login().original_group_login_password, "pass12");
  EXPECT_NE(LogText().find("StudentLoginScreen,2739: no student ID, repeat dialog."),
            std::string::npos);
  EXPECT_EQ(LogText().find("pass12"), std::string::npos) << "the password is never logged";
}

TEST_F(StudentLoginTest, CancelTheCloseBoxAndAQuitFlagEndTheScreenWithTheQuitLog) {
  std::string name = "ann";
  Answer({Close()});
  EXPECT_EQ(StudentLoginScreen(name), kLoginQuit);
  EXPECT_NE(LogText().find("StudentLoginScreen,2723: quit button"), std::string::npos);
  EXPECT_EQ(Login().EmailAddress, "");

  // The run is told to quit (a signal, say) while the dialog is up: OK does not log in.
  Answer({[](ui::Dialog&) {
    base::SetQuitFlag(__FILE__, __LINE__, "test");
    return kLoginOK;
  }});
  EXPECT_EQ(StudentLoginScreen(name), kLoginQuit);
  EXPECT_NE(LogText().find("StudentLoginScreen,2723: quit flag"), std::string::npos);
  EXPECT_EQ(Login().EmailAddress, "");
}

TEST_F(StudentLoginTest, CancelIsHiddenSoAnAnswerFileLeavesThroughTheCloseBox) {
  Script("login -> 2\n");
  std::string name = "ann";
  EXPECT_EQ(StudentLoginScreen(name), kLoginQuit);
  EXPECT_TRUE(script_failed_) << "item 2 is a hidden button";

  script_failed_ = false;
  Script("login -> 999\n");
  EXPECT_EQ(StudentLoginScreen(name), kLoginQuit);
  EXPECT_FALSE(script_failed_);
}

TEST_F(StudentLoginTest, LongNameIsCutToWholeCharactersWithin254Bytes) {
  const std::string fits = std::string(252, 'a') + "\xC3\xA9";         // 254 bytes
  const std::string split = std::string(253, 'a') + "\xC3\xA9" + "b";  // é would straddle 254
  const std::string cjk = std::string(252, 'a') + "\xE5\xAD\xA6";      // 3 bytes at 253-255
  for (const auto& [typed, kept] : {std::pair{fits, fits}, std::pair{split, std::string(253, 'a')},
                                    std::pair{cjk, std::string(252, 'a')}}) {
    Answer({Type(typed)});
    std::string name;
    ASSERT_EQ(StudentLoginScreen(name), kLoginEntered);
    EXPECT_EQ(name, kept) << "typed " << typed.size() << " bytes";
    EXPECT_LE(name.size(), kMaxLoginNameBytes);
  }
}

// ---- The server popup ---------------------------------------------------------------------

TEST_F(StudentLoginTest, AnotherServerChosenInThePopupBecomesCurrent) {
  ASSERT_EQ(RS().rs_server_number, 3);
  Answer({[](ui::Dialog& d) {
    d.item(kLoginName)->text = "ann";
    d.item(kLoginServerPopup)->selected = {3};  // Web Asia
    return kLoginOK;
  }});
  std::string name;
  ASSERT_EQ(StudentLoginScreen(name), kLoginEntered);
  EXPECT_EQ(RS().rs_server_number, 7);
  EXPECT_EQ(RS().RecordsIPAddress, "rs007.nuvel-records.example");
  EXPECT_EQ(Setting("server_num"), "007");
  EXPECT_EQ(Setting("recordsipaddress"), "rs007.nuvel-records.example");
}

TEST_F(StudentLoginTest, TheServerShownAtFirstIsNotChosenAgain) {
  // A records.ini edited behind the running settings: choosing server 3 again would copy its
  // list row over the edit.
  Write(base::GetRecordsIniFilePath(), kOnServer3 + "cgipath=Edited.NRS\r\n");
  Answer({Type("ann")});
  std::string name;
  ASSERT_EQ(StudentLoginScreen(name), kLoginEntered);
  EXPECT_EQ(RS().rs_server_number, 3);
  EXPECT_EQ(Setting("cgipath"), "Edited.NRS");
  EXPECT_EQ(LogText().find("Records server 3 chosen"), std::string::npos);
}

TEST_F(StudentLoginTest, PromptingRowAsksForAServerAndShowsTheDialogAgainWithWhatWasTyped) {
  ui::testing::FakeBackend& backend = Answer({[](ui::Dialog& d) {
                                                d.item(kLoginName)->text = "ann";
                                                d.item(kLoginPassword)->text = "pw1234";
                                                d.item(kLoginServerPopup)->selected = {0};
                                                return kLoginOK;
                                              },
                                              [](ui::Dialog& d) {
                                                d.item(kLoginServerPopup)->selected = {1};
                                                return kLoginOK;
                                              }});
  std::string name;
  ASSERT_EQ(StudentLoginScreen(name), kLoginEntered);
  Strings shown;
  for (const ui::Dialog& d : backend.shown) shown.push_back(d.id.empty() ? d.name : d.id);
  EXPECT_EQ(shown, (Strings{"MSG_Message_WelcomeToInternetCourseware", "MSG_ChooseARecordsServer",
                            "MSG_Message_WelcomeToInternetCourseware"}));
  const std::vector<const ui::Dialog*> logins = LoginDialogs(backend);
  EXPECT_EQ(logins[1]->item(kLoginName)->text, "ann");
  EXPECT_EQ(logins[1]->item(kLoginPassword)->text, "pw1234");
  EXPECT_EQ(RS().rs_server_number, 1);
  EXPECT_EQ(Login().original_group_login_password, "pw1234");
}

// ---- Answer files, the transcript and recorded answers ------------------------------------

TEST_F(StudentLoginTest, AnswerFileFillsTheDialogAndOnlyTheServerFormIsRecorded) {
  Script("login set 5=\"ann@school.example\" set 7=\"Secret12\" select 1 -> 1\n");
  ASSERT_TRUE(ui::OpenTranscript(sysroot_.path("t.jsonl")));
  ASSERT_TRUE(ui::OpenRecordedAnswers(sysroot_.path("a.txt")));
  std::string name;
  ASSERT_EQ(StudentLoginScreen(name), kLoginEntered);
  ui::FinishDialogs();
  EXPECT_FALSE(script_failed_);
  EXPECT_EQ(name, "ann@school.example");
  EXPECT_EQ(Login().original_group_login_password, "Secret12");
  EXPECT_EQ(RS().rs_server_number, 1);

  const std::string server_form = EncodePlainText(kPasswordKey, "Secret12");
  const std::string recorded = ReadTestFile(sysroot_.path("a.txt"));
  EXPECT_NE(recorded.find("login set 5=\"ann@school.example\" set 7=\"" + server_form +
                          "\" select 1 -> 1\n"),
            std::string::npos)
      << recorded;
  std::string decoded;
  ASSERT_EQ(DecodePlainText(kPasswordKey, server_form, decoded), 1);
  EXPECT_EQ(decoded, "SECRET12") << "the server matches passwords upper-cased";

  const std::string transcript = ReadTestFile(sysroot_.path("t.jsonl"));
  EXPECT_NE(transcript.find("\"kind\":\"password\",\"text\":\"********\""), std::string::npos)
      << transcript;
  for (const std::string& text : {recorded, transcript, LogText()}) {
    EXPECT_EQ(text.find("Secret12"), std::string::npos) << text;
    EXPECT_EQ(text.find("SECRET12"), std::string::npos) << text;
  }
}

TEST_F(StudentLoginTest, RecordedFormIsWhatTheLoginSendsForALongPassword) {
  // The login sends at most 20 characters of a typed password; the recorded form carries the
  // same 20, so that a replay logs in exactly as the recorded run did.
  const std::string typed = "abcdefghij0123456789XYZ";
  const std::string recorded = LoginRecordedPassword("  " + typed + " ");
  EXPECT_EQ(recorded.size(), kServerFormSize);
  std::string decoded;
  ASSERT_EQ(DecodePlainText(kPasswordKey, recorded, decoded), 1);
  EXPECT_EQ(decoded, "ABCDEFGHIJ0123456789");
}

TEST_F(StudentLoginTest, ReplayedServerFormGoesToTheLoginUnchangedAndIsRecordedUnchanged) {
  const std::string server_form = EncodePlainText(kPasswordKey, "Secret12");
  Script("login set 5=\"ann\" set 7=\"" + server_form + "\" -> 1\n");
  ASSERT_TRUE(ui::OpenTranscript(sysroot_.path("t.jsonl")));
  ASSERT_TRUE(ui::OpenRecordedAnswers(sysroot_.path("a.txt")));
  std::string name;
  ASSERT_EQ(StudentLoginScreen(name), kLoginEntered);
  ui::FinishDialogs();
  EXPECT_EQ(Login().original_group_login_password, server_form) << "never decoded";
  EXPECT_NE(ReadTestFile(sysroot_.path("a.txt")).find("set 7=\"" + server_form + "\""),
            std::string::npos);
  for (const std::string& text : {ReadTestFile(sysroot_.path("t.jsonl")), LogText()}) {
    EXPECT_EQ(text.find("SECRET12"), std::string::npos) << text;
    EXPECT_EQ(text.find(server_form), std::string::npos) << "not even the scrambled form";
  }
}

TEST_F(StudentLoginTest, AnswerFormOfAnotherDialogBecomesTheServerForm) {
  const std::string answer_form = EncodeAnswerPassword("Secret12");
  ASSERT_NE(answer_form.size(), kServerFormSize);
  Script("login set 5=\"ann\" set 7=\"" + answer_form + "\" -> 1\n");
  std::string name;
  ASSERT_EQ(StudentLoginScreen(name), kLoginEntered);
  EXPECT_EQ(Login().original_group_login_password, EncodePlainText(kPasswordKey, "Secret12"));
  EXPECT_EQ(LoginRecordedPassword(answer_form), EncodePlainText(kPasswordKey, "Secret12"));
}

// ---- The terminal -------------------------------------------------------------------------

// Typed lines in, everything written kept.
class TypedLines : public ui::TerminalIo {
 public:
  bool ReadLine(std::string& line, bool secret) override {
    if (input.empty()) return false;
    line = input.front();
    input.erase(input.begin());
    if (secret) secret_lines.push_back(line);
    return true;
  }
  void Write(std::string_view text) override { output += text; }
  int Columns() override { return 80; }
  Strings input;
  Strings secret_lines;
  std::string output;
};

TEST_F(StudentLoginTest, OnATerminalEachFieldIsAskedByItsLabelAndThePasswordIsNotShown) {
  auto io = std::make_unique<TypedLines>();
  TypedLines& terminal = *io;
  terminal.input = {"ann@school.example", "Secret12", "3", "1"};  // name, password, row, OK
  ui::SetBackend(std::make_unique<ui::TerminalBackend>(std::move(io)));
  std::string name;
  ASSERT_EQ(StudentLoginScreen(name), kLoginEntered);
  EXPECT_EQ(name, "ann@school.example");
  EXPECT_EQ(Login().original_group_login_password, "Secret12");
  EXPECT_EQ(RS().rs_server_number, 7);
  EXPECT_EQ(terminal.secret_lines, Strings{"Secret12"}) << "only the password is read unechoed";

  const std::string& out = terminal.output;
  EXPECT_NE(out.find("5) Student login ID / Group login ID: "), std::string::npos) << out;
  EXPECT_NE(out.find("7) Password (not shown): "), std::string::npos) << out;
  EXPECT_NE(out.find("  * 2) Europe Central\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Records server, row [2]: "), std::string::npos) << out;
  EXPECT_EQ(out.find("\nRecords server:\n"), std::string::npos)
      << "the popup's label is asked with its rows, not shown on its own";
  EXPECT_NE(out.find("  [1] OK\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Cancel"), std::string::npos) << "hidden buttons are not offered";
  EXPECT_EQ(out.find("Work offline"), std::string::npos) << "the hidden box is not asked";
  EXPECT_EQ(out.find("Secret12"), std::string::npos);
}

}  // namespace
}  // namespace nuvel::records
