#include "ui/prompts.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "tests/support/module_state.h"
#include "tests/support/fake_backend.h"
#include "tests/support/test_env.h"
#include "ui/status_box.h"

namespace nuvel::ui {
namespace {

using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;
using Strings = std::vector<std::string>;
using ui::testing::FakeBackend;

// A key and its texts by language code.
using Message = std::pair<std::string, std::vector<std::pair<std::string, std::string>>>;

// A message file as the strings module reads it: the index length in six digits and CR LF, the
// index ("KEY n CODE OFFSET ", a space after each token, keys in capitals), texts ended by "^^" CR.
std::string MessageFile(const std::vector<Message>& messages) {
  std::string index;
  std::string data;
  for (const auto& [key, texts] : messages) {
    index += base::UpperAscii(key) + " " + std::to_string(texts.size()) + " ";
    for (const auto& [code, text] : texts) {
      index += code + " " + std::to_string(data.size()) + " ";
      data += text + "^^\r";
    }
  }
  std::string length = std::to_string(index.size());
  return std::string(6 - length.size(), '0') + length + "\r\n" + index + data;
}

const std::vector<Message> kMessages = {
    {"MSG_Message_InstallAnother",
     {{"ENG", "Install another course?"}, {"FRA", "Installer un autre cours ?"}}},
    {"MSG_Button_Yes", {{"ENG", "Yes"}, {"FRA", "Oui"}}},
    {"MSG_Button_No", {{"ENG", "No"}, {"FRA", "Non"}}},
    {"MSG_Title", {{"ENG", "Nuvel Setup"}, {"FRA", "Installation Nuvel"}}},
    {"MSG_Copying", {{"ENG", "Copying"}, {"FRA", "Copie"}}},
    {"MSG_Choice_Teacher", {{"ENG", "Teacher"}}},
};

class PromptsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    base::FindLocalNuvelDirectory();
    base::GetLogName();
    std::string messages = root_.path("messages/engine.luc");
    WriteTestFile(messages, MessageFile(kMessages));
    ASSERT_EQ(base::OpenStrRez(0, messages), 1);
    base::forceLanguage(0, 0, "ENG");
    auto fake = std::make_unique<FakeBackend>();
    backend_ = fake.get();
    SetBackend(std::move(fake));
  }
  void TearDown() override {
    SetBackend(nullptr);
    ResetAll();
  }
  static void ResetAll() { nuvel::testing::ResetBaseModules(); }

  std::string Log() { return ReadTestFile(base::Paths().localNuvelDirectory + "Nuvel_log.txt"); }
  // True when a log line ends with `text` (so nothing may follow it).
  bool LogLineEndsWith(const std::string& text) {
    return Log().find(text + "\r\n") != std::string::npos;
  }
  void Answer(int answer) {
    backend_->answer = [answer](Dialog&) { return answer; };
  }
  const Dialog& Shown(std::size_t i = 0) { return backend_->shown.at(i); }
  Strings VisibleButtons(const Dialog& dialog) {
    Strings buttons;
    for (const DialogItem& item : dialog.items)
      if (item.kind == ItemKind::kButton && item.visible) buttons.push_back(item.text);
    return buttons;
  }

  TestSysroot root_;
  FakeBackend* backend_ = nullptr;
};

TEST_F(PromptsTest, PromptUserShowsLocalizedTextsAndLogsTheChoiceWithTheKey) {
  Answer(2);
  EXPECT_EQ(
      Prompt_User("MSG_Message_InstallAnother", "MSG_Button_Yes", "MSG_Button_No", "MSG_Title"), 2);
  const Dialog& dialog = Shown();
  EXPECT_EQ(dialog.name, "prompt");
  EXPECT_EQ(dialog.resource, 3903);
  EXPECT_EQ(dialog.id, "MSG_Message_InstallAnother");
  EXPECT_EQ(dialog.title, "Nuvel Setup");
  EXPECT_EQ(dialog.item(1)->text, "Yes");
  EXPECT_EQ(dialog.item(3)->text, "Install another course?");

  EXPECT_TRUE(LogLineEndsWith("----1>MSG_Message_InstallAnother")) << "the message as given";
  EXPECT_TRUE(
      LogLineEndsWith("User Choice PU: (2) No     Question: Install another course?  --  "
                      "MSG_Message_InstallAnother"));
  EXPECT_EQ(Log().find("Prompt_User:"), std::string::npos)
      << "no English copy when the interface is English";
}

TEST_F(PromptsTest, LiteralMessageOrKeyWithoutATextIsLoggedWithoutTheKeySuffix) {
  EXPECT_EQ(Prompt_User("Disk 100% full, %s", "OK", "Cancel", ""), 1);
  EXPECT_EQ(Shown().resource, 3003) << "no title";
  EXPECT_EQ(Shown().id, "Disk 100% full, %s") << "no key, no title: the message is the id";
  EXPECT_TRUE(LogLineEndsWith("User Choice PU: (1) OK     Question: Disk 100% full, %s"))
      << "the message is an argument of the log line, never its format";

  Prompt_User("MSG_Not_In_The_File", "OK", "", "");
  EXPECT_TRUE(LogLineEndsWith("User Choice PU: (1) OK     Question: MSG_Not_In_The_File"));
}

TEST_F(PromptsTest, CloseBoxAndHiddenButtons) {
  Answer(kCloseBox);
  EXPECT_EQ(Prompt_User("Go on?", "Yes", "No", ""), kCloseBox) << "two buttons keep the close box";
  EXPECT_TRUE(LogLineEndsWith("User Choice PU: (999) (close box)     Question: Go on?"));

  EXPECT_EQ(Prompt_User("MSG_Message_InstallAnother", "MSG_Button_Yes", "", ""), 1)
      << "closing a one-button message is its button";
  EXPECT_EQ(VisibleButtons(Shown(1)), Strings{"Yes"});

  Prompts().Disc_Insert_OK = 1;
  EXPECT_EQ(Prompt_User("Insert the disc", "OK", "Cancel", ""), 2)
      << "the disc prompt hides its first button";
  EXPECT_EQ(VisibleButtons(Shown(2)), Strings{"Cancel"});
}

TEST_F(PromptsTest, CommandLineJobAnswersOneWithoutShowingAnything) {
  Prompts().CmdLine_job = 1;
  EXPECT_EQ(Prompt_User("MSG_Message_InstallAnother", "MSG_Button_Yes", "MSG_Button_No", ""), 1);
  EXPECT_EQ(Prompt_User_Radio("Who?", 3, {"a", "b", "c"}, "", "OK", "Cancel"), 4)
      << "the job confirms the preselected choice";
  EXPECT_TRUE(backend_->shown.empty());
}

TEST_F(PromptsTest, OtherInterfaceLanguageLogsAnEnglishCopy) {
  base::forceLanguage(0, 0, "FRA");
  EXPECT_EQ(
      Prompt_User("MSG_Message_InstallAnother", "MSG_Button_Yes", "MSG_Button_No", "MSG_Title"), 1);
  EXPECT_TRUE(
      LogLineEndsWith("User Choice PU: (1) Oui     Question: Installer un autre cours ?  "
                      "--  MSG_Message_InstallAnother"));
  EXPECT_TRUE(LogLineEndsWith("Prompt_User: Install another course?"));
  EXPECT_TRUE(
      LogLineEndsWith("User Choice PU: (3) Yes     Question: Install another course?  --  "
                      "MSG_Message_InstallAnother"))
      << "in the English copy the first button is tagged 3";
  EXPECT_EQ(base::CurrentLanguageCode(), "FRA") << "the interface language stays";
}

TEST_F(PromptsTest, StatusBoxStepsAsideWhileAPromptIsUp) {
  StatusBoxUpdate("MSG_Copying", "French 1", nullptr);
  Strings events_at_prompt;
  backend_->answer = [&](Dialog&) {
    events_at_prompt = backend_->events;
    return 1;
  };
  Prompt_User("Go on?", "Yes", "No", "");
  EXPECT_EQ(events_at_prompt.back(), "hide");
  EXPECT_EQ(GetStatusBoxVisible(), 0);
  StatusBoxUpdate(nullptr, nullptr, "next file");
  EXPECT_EQ(backend_->events.back(), "show Copying|French 1|next file")
      << "the next update brings it back, its title looked up";

  StatusBoxUpdate("3/7 MSG_Copying", nullptr, nullptr);
  EXPECT_EQ(backend_->status.title, "3/7 Copying") << "text before a key stays";
}

TEST_F(PromptsTest, EditFieldsGiveBackWhatWasTypedAndKeepItOutOfTheLog) {
  backend_->answer = [](Dialog& dialog) {
    for (DialogItem& item : dialog.items)
      if (item.kind == ItemKind::kEditText || item.kind == ItemKind::kPassword) item.text += "2";
    return 1;
  };
  std::string text = "Room 1";
  EXPECT_EQ(Prompt_User_Edit1(text, "OK", "Cancel", "", "Name of the class?", 2, 0, ""), 1);
  EXPECT_EQ(text, "Room 12");
  text = "kept";
  Prompt_User_Edit1(text, "Install", "Quit", "", "Ready.", 3, 0, "");
  EXPECT_FALSE(Shown(1).item(5)->visible);
  EXPECT_EQ(text, "kept") << "layout 3 has no field to take a text from";

  std::string name = "ann";
  std::string password = "old";
  EXPECT_EQ(Prompt_User_Edit2(name, password, "Name:", "Password:", "Log in", "Cancel", "",
                              "Records server login", 1, kPromptPasswordField, ""),
            1);
  EXPECT_EQ(name, "ann2");
  EXPECT_EQ(password, "old2") << "the field starts with the caller's text";
  EXPECT_EQ(Shown(2).item(8)->kind, ItemKind::kPassword);
  EXPECT_TRUE(LogLineEndsWith("User Choice PU_E2: Log in     Question: Records server login"));
  EXPECT_EQ(Log().find("Room 12"), std::string::npos) << "what was typed stays out of the log";
  EXPECT_EQ(Log().find("old2"), std::string::npos);
}

TEST_F(PromptsTest, RadioReturnsTheChosenItemOrTheCancelItem) {
  const Strings labels = {"MSG_Choice_Teacher", "Student", "Guest"};
  EXPECT_EQ(Prompt_User_Radio("Who are you?", 1, labels, "", "OK", "Cancel"), 2)
      << "the first choice is item 2";
  const Dialog& dialog = Shown();
  EXPECT_EQ(dialog.name, "radio");
  EXPECT_EQ(dialog.item(2)->text, "Teacher");
  EXPECT_EQ(dialog.item(2)->value, 1);
  EXPECT_FALSE(dialog.item(5)->visible) << "a fourth choice without a label is hidden";
  EXPECT_EQ(VisibleButtons(dialog), (Strings{"OK", "Cancel"}));

  backend_->answer = [](Dialog& d) {
    ChooseRadio(d, 4);
    return 1;
  };
  EXPECT_EQ(Prompt_User_Radio("Who are you?", 1, labels, "", "OK", "Cancel"), 4);
  Answer(6);
  EXPECT_EQ(Prompt_User_Radio("Who are you?", 2, labels, "", "OK", "Cancel"), 6);
  backend_->answer = nullptr;
  EXPECT_EQ(Prompt_User_Radio("Who are you?", 9, labels, "", "OK", "Cancel"), 2)
      << "a preselection out of range chooses the first";
}

TEST_F(PromptsTest, ShowAFileReadsItOrSaysItIsMissing) {
  std::string path = root_.path("ReadMe.txt");
  WriteTestFile(path, "line one\r\nline two\rline three\n");
  Prompt_User_Show_A_File(path, "OK", "", "");
  Prompt_User_Show_A_File(root_.path("gone.txt"), "OK", "", "");
  EXPECT_EQ(Shown(0).item(3)->text, "line one\nline two\nline three\n");
  EXPECT_EQ(Shown(1).item(3)->text, "File not found: " + root_.path("gone.txt"));
  EXPECT_EQ(Shown(1).id, "gone.txt") << "without an id or title the file's name is the id";
}

// A given id (the dialog scenarios) or the message's key (the tests above) comes first.
TEST(PromptIdTest, LiteralMessageGivesWayToTheTitlesKeyOrLiteralTitle) {
  EXPECT_EQ(PromptId("", "Plain", "MSG_T"), "MSG_T");
  EXPECT_EQ(PromptId("", "Plain", "Title"), "Title");
}

}  // namespace
}  // namespace nuvel::ui
