#include "ui/prompts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
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

struct Message {
  std::string key;
  std::vector<std::pair<std::string, std::string>> texts;  // language code, text
};

// A message file as the strings module reads it: six digits of index length and CR LF, the
// index ("KEY n CODE OFFSET ..." with a space after each token, keys in capitals), then the texts
// ended by "^^" CR.
std::string MessageFile(const std::vector<Message>& messages) {
  std::string index;
  std::string data;
  for (const Message& message : messages) {
    std::string key = message.key;
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    index += key + " " + std::to_string(message.texts.size()) + " ";
    for (const auto& [code, text] : message.texts) {
      index += code + " " + std::to_string(data.size()) + " ";
      data += text + "^^\r";
    }
  }
  char digits[16];
  std::snprintf(digits, sizeof digits, "%06zu", index.size());
  return std::string(digits) + "\r\n" + index + data;
}

const std::vector<Message> kMessages = {
    {"MSG_Message_InstallAnother",
     {{"ENG", "Install another course?"}, {"FRA", "Installer un autre cours ?"}}},
    {"MSG_Button_Yes", {{"ENG", "Yes"}, {"FRA", "Oui"}}},
    {"MSG_Button_No", {{"ENG", "No"}, {"FRA", "Non"}}},
    {"MSG_Button_Later", {{"ENG", "Later"}, {"FRA", "Plus tard"}}},
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
  static void ResetAll() {
    base::Strings().reset();
    base::Log().reset();
    base::Paths().reset();
    base::Run().reset();
    base::FreePrivateProfile();
    Prompts().reset();
    StatusBox().reset();
  }

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
    for (const DialogItem& item : dialog.items) {
      if (item.kind == ItemKind::kButton && item.visible) buttons.push_back(item.text);
    }
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
  EXPECT_EQ(dialog.item(2)->text, "No");
  EXPECT_EQ(dialog.item(3)->text, "Install another course?");
  EXPECT_EQ(dialog.item(4)->kind, ItemKind::kTitle);

  EXPECT_TRUE(LogLineEndsWith("----1>MSG_Message_InstallAnother")) << "the message as given";
  EXPECT_TRUE(
      LogLineEndsWith("User Choice PU: (2) No     Question: Install another course?  --  "
                      "MSG_Message_InstallAnother"));
  EXPECT_EQ(Log().find("Prompt_User:"), std::string::npos)
      << "no English copy when the interface is English";
}

TEST_F(PromptsTest, LiteralMessageOrKeyWithoutATextIsLoggedWithoutTheKeySuffix) {
  EXPECT_EQ(Prompt_User("Disk 100% full, %s", "OK", "Cancel", ""), 1);
  EXPECT_EQ(Shown().item(3)->text, "Disk 100% full, %s");
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
  std::string text = "typed";
  EXPECT_EQ(Prompt_User_Edit1(text, "OK", "Cancel", "", "Name?", 1, 0, ""), 1);
  EXPECT_EQ(text, "typed");
  EXPECT_EQ(Prompt_User_Radio("Who?", 3, {"a", "b", "c"}, "", "OK", "Cancel"), 4)
      << "the job confirms the preselected choice";
  EXPECT_TRUE(backend_->shown.empty());
  EXPECT_TRUE(
      LogLineEndsWith("User Choice PU: (1) Yes     Question: Install another course?  --  "
                      "MSG_Message_InstallAnother"));
}

TEST_F(PromptsTest, OtherInterfaceLanguageLogsAnEnglishCopy) {
  base::forceLanguage(0, 0, "FRA");
  EXPECT_EQ(
      Prompt_User("MSG_Message_InstallAnother", "MSG_Button_Yes", "MSG_Button_No", "MSG_Title"), 1);
  EXPECT_EQ(Shown().item(1)->text, "Oui");
  EXPECT_EQ(Shown().title, "Installation Nuvel");
  EXPECT_TRUE(
      LogLineEndsWith("User Choice PU: (1) Oui     Question: Installer un autre cours ?  "
                      "--  MSG_Message_InstallAnother"));
  EXPECT_TRUE(LogLineEndsWith("Prompt_User: Install another course?"));
  EXPECT_TRUE(
      LogLineEndsWith("User Choice PU: (3) Yes     Question: Install another course?  --  "
                      "MSG_Message_InstallAnother"));
  EXPECT_EQ(base::CurrentLanguageCode(), "FRA") << "the interface language stays";

  Answer(2);
  Prompt_User("MSG_Message_InstallAnother", "MSG_Button_Yes", "MSG_Button_No", "");
  EXPECT_TRUE(
      LogLineEndsWith("User Choice PU: (4) No     Question: Install another course?  --  "
                      "MSG_Message_InstallAnother"))
      << "the second button in English is tagged 4";

  Answer(3);
  Prompt_User_3_Buttons("MSG_Message_InstallAnother", "MSG_Button_Yes", "MSG_Button_No",
                        "MSG_Button_Later", "");
  EXPECT_TRUE(
      LogLineEndsWith("User Choice PU_3B: Plus tard     Question: Installer un autre "
                      "cours ?  --  MSG_Message_InstallAnother"));
  EXPECT_TRUE(
      LogLineEndsWith("User Choice PU_3B: Later     Question: Install another course?  "
                      "--  MSG_Message_InstallAnother"));
}

TEST_F(PromptsTest, StatusBoxStepsAsideWhileAPromptIsUp) {
  StatusBoxUpdate("MSG_Copying", "French 1", nullptr);
  EXPECT_EQ(backend_->status.title, "Copying") << "status texts with a key are looked up";
  Strings events_at_prompt;
  backend_->answer = [&](Dialog&) {
    events_at_prompt = backend_->events;
    return 1;
  };
  Prompt_User("Go on?", "Yes", "No", "");
  EXPECT_EQ(events_at_prompt.back(), "hide");
  EXPECT_EQ(GetStatusBoxVisible(), 0);
  StatusBoxUpdate(nullptr, nullptr, "next file");
  EXPECT_EQ(GetStatusBoxVisible(), 1) << "the next update brings it back";
  EXPECT_EQ(backend_->events.back(), "show Copying|French 1|next file");

  StatusBoxUpdate("3/7 MSG_Copying", nullptr, nullptr);
  EXPECT_EQ(backend_->status.title, "3/7 Copying") << "text before a key stays";
}

TEST_F(PromptsTest, ThreeButtonsAndTheirLogTag) {
  Answer(3);
  EXPECT_EQ(
      Prompt_User_3_Buttons("Replace the file?", "Yes", "No", "MSG_Button_Later", "MSG_Title"), 3);
  EXPECT_EQ(VisibleButtons(Shown()), (Strings{"Yes", "No", "Later"}));
  EXPECT_EQ(Shown().item(4)->text, "Replace the file?");
  EXPECT_EQ(Shown().id, "MSG_Title") << "no key in the message: the title's key is the id";
  EXPECT_TRUE(LogLineEndsWith("User Choice PU_3B: Later     Question: Replace the file?"));
}

TEST_F(PromptsTest, EditOneTakesTheTypedTextExceptInLayoutThree) {
  backend_->answer = [](Dialog& dialog) {
    dialog.item(5)->text = "Room 12";
    return 1;
  };
  std::string text = "Room 1";
  EXPECT_EQ(Prompt_User_Edit1(text, "OK", "Cancel", "", "Name of the class?", 2, 0, ""), 1);
  EXPECT_EQ(text, "Room 12");
  EXPECT_EQ(Shown().item(5)->kind, ItemKind::kEditText);
  EXPECT_EQ(Shown().item(4)->text, "Name of the class?");
  EXPECT_EQ(VisibleButtons(Shown()), (Strings{"OK", "Cancel"}));
  EXPECT_TRUE(LogLineEndsWith("User Choice PU_E1: OK     Question: Name of the class?"));
  EXPECT_EQ(Log().find("Room 12"), std::string::npos) << "what was typed stays out of the log";

  text = "kept";
  EXPECT_EQ(Prompt_User_Edit1(text, "Install", "Quit", "", "Ready.", 3, 0, ""), 1);
  EXPECT_FALSE(Shown(1).item(5)->visible);
  EXPECT_EQ(text, "kept") << "layout 3 has no field to take a text from";

  Prompt_User_Edit1(text, "OK", "", "", "Password?", 1, kPromptPasswordField, "");
  EXPECT_EQ(Shown(2).item(5)->kind, ItemKind::kPassword);
}

TEST_F(PromptsTest, EditTwoHasTwoLabelledFields) {
  backend_->answer = [](Dialog& dialog) {
    dialog.item(6)->text = "ann";
    dialog.item(8)->text = "secret";
    return 1;
  };
  std::string name;
  std::string password = "old";
  EXPECT_EQ(Prompt_User_Edit2(name, password, "Name:", "Password:", "Log in", "Cancel", "",
                              "Records server login", 1, kPromptPasswordField, ""),
            1);
  EXPECT_EQ(name, "ann");
  EXPECT_EQ(password, "secret");
  const Dialog& dialog = Shown();
  EXPECT_EQ(dialog.item(5)->text, "Name:");
  EXPECT_EQ(dialog.item(6)->kind, ItemKind::kEditText);
  EXPECT_EQ(dialog.item(7)->text, "Password:");
  EXPECT_EQ(dialog.item(8)->kind, ItemKind::kPassword);
  EXPECT_EQ(dialog.item(8)->text, "old") << "the field starts with the caller's text";
  EXPECT_TRUE(LogLineEndsWith("User Choice PU_E2: Log in     Question: Records server login"));
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
  Answer(kCloseBox);
  EXPECT_EQ(Prompt_User_Radio("Who are you?", 2, labels, "", "OK", "Cancel"), kCloseBox);
  backend_->answer = nullptr;
  EXPECT_EQ(Prompt_User_Radio("Who are you?", 9, labels, "", "OK", "Cancel"), 2)
      << "a preselection out of range chooses the first";
}

TEST_F(PromptsTest, CheckBoxFlagsAndListBoxValueGoInAndOut) {
  backend_->answer = [](Dialog& dialog) {
    dialog.item(3)->value = 0;
    dialog.item(5)->value = 1;
    return 1;
  };
  std::vector<int> flags = {1, 0};
  EXPECT_EQ(Prompt_User_CheckBox("Which?", flags, {"One", "Two", "Three"}, "OK", "Cancel", ""), 1);
  EXPECT_EQ(Shown(0).name, "checkbox");
  EXPECT_EQ(Shown(0).item(3)->value, 1) << "the box starts with the caller's flag";
  EXPECT_EQ(Shown(0).item(4)->value, 0);
  EXPECT_FALSE(Shown(0).item(6)->visible);
  EXPECT_EQ(flags, (std::vector<int>{0, 0, 1}));

  backend_->answer = [](Dialog& dialog) {
    dialog.item(3)->selected = {2};
    return 1;
  };
  int value = 1;
  EXPECT_EQ(
      Prompt_User_ListBox("Pick a class", value, {"A", "B", "MSG_Copying"}, "OK", "Cancel", ""), 1);
  EXPECT_EQ(Shown(1).name, "listbox");
  EXPECT_EQ(Shown(1).item(3)->selected, std::vector<int>{1});
  EXPECT_EQ(Shown(1).item(3)->lines[2], "Copying");
  EXPECT_EQ(value, 2);

  backend_->answer = [](Dialog& dialog) {
    dialog.item(3)->selected.clear();
    return 2;
  };
  EXPECT_EQ(Prompt_User_ListBox("Pick a class", value, {"A"}, "OK", "Cancel", ""), 2);
  EXPECT_EQ(value, -1);
}

TEST_F(PromptsTest, ShowAFileReadsItOrSaysItIsMissing) {
  std::string path = root_.path("ReadMe.txt");
  WriteTestFile(path, "line one\r\nline two\rline three\n");
  EXPECT_EQ(Prompt_User_Show_A_File(path, "OK", "", "MSG_Title"), 1);
  EXPECT_EQ(Shown().name, "show-file");
  EXPECT_EQ(Shown().id, "MSG_Title");
  EXPECT_EQ(Shown().item(3)->text, "line one\nline two\nline three\n");

  std::string missing = root_.path("gone.txt");
  Prompt_User_Show_A_File(missing, "OK", "", "");
  EXPECT_EQ(Shown(1).item(3)->text, "File not found: " + missing);
  EXPECT_EQ(Shown(1).id, "gone.txt") << "without an id or title the file's name is the id";
}

TEST(PromptIdTest, KeyOfTheMessageThenOfTheTitleThenLiteralTexts) {
  EXPECT_EQ(PromptId("given", "MSG_A", "MSG_T"), "given");
  EXPECT_EQ(PromptId("", "MSG_A", "MSG_T"), "MSG_A");
  EXPECT_EQ(PromptId("", "Plain", "MSG_T"), "MSG_T");
  EXPECT_EQ(PromptId("", "Plain", "Title"), "Title");
  EXPECT_EQ(PromptId("", "Plain", ""), "Plain");
}

}  // namespace
}  // namespace nuvel::ui
