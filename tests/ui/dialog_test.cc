#include "ui/dialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_env.h"
#include "tests/support/fake_backend.h"
#include "ui/script/script_backend.h"

namespace nuvel::ui {
namespace {

using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using ::testing::HasSubstr;
using ::testing::Not;
using ui::testing::FakeBackend;

TEST(DialogModel, ItemNumbersRadioGroupsAndStripText) {
  Dialog dialog;
  dialog.Add(ItemKind::kRadio, "a").value = 1;    // 1
  dialog.Add(ItemKind::kRadio, "b", 3);           // 3
  dialog.Add(ItemKind::kStaticText, "next");      // 4: numbers follow the highest so far
  dialog.Add(ItemKind::kRadio, "x").value = 1;    // 5
  dialog.Add(ItemKind::kRadio, "y");              // 6
  EXPECT_EQ(dialog.item(2), nullptr);
  EXPECT_EQ(static_cast<const Dialog&>(dialog).item(4)->text, "next");

  ChooseRadio(dialog, 3);
  EXPECT_EQ(dialog.item(1)->value, 0);
  EXPECT_EQ(dialog.item(3)->value, 1);
  EXPECT_EQ(dialog.item(5)->value, 1) << "another group keeps its choice";
  ChooseRadio(dialog, 4);  // not a radio button: nothing changes
  EXPECT_EQ(dialog.item(4)->value, 0);
  EXPECT_EQ(dialog.item(3)->value, 1);

  // The strip shows separators only before non-empty texts.
  EXPECT_EQ(StripText({"Records", "", "", -1}), "Records");
  EXPECT_EQ(StripText({"Records", "", "3 of 9", -1}), "Records  -  3 of 9");
}

Dialog InstallAnother() {
  Dialog dialog;
  dialog.name = "prompt";
  dialog.id = "MSG_Message_InstallAnother";
  dialog.title = "Nuvel Setup";
  dialog.Add(ItemKind::kButton, "Yes");
  dialog.Add(ItemKind::kButton, "No");
  dialog.Add(ItemKind::kStaticText, "Install another course?");
  dialog.Add(ItemKind::kTitle, "Nuvel Setup");
  return dialog;
}

TEST(Transcript, PromptLineHasTheContractedShapeWithoutHiddenItems) {
  Dialog dialog = InstallAnother();
  EXPECT_EQ(TranscriptLine(dialog, 2),
            "{\"dialog\":\"prompt\",\"id\":\"MSG_Message_InstallAnother\",\"title\":\"Nuvel "
            "Setup\",\"text\":\"Install another course?\",\"buttons\":[\"Yes\",\"No\"],"
            "\"answer\":2}");
  dialog.item(2)->visible = false;
  dialog.Add(ItemKind::kStaticText, "second text");
  dialog.Add(ItemKind::kStaticText, "hidden text").visible = false;
  std::string line = TranscriptLine(dialog, 1);
  EXPECT_THAT(line, HasSubstr("\"text\":\"Install another course?\\nsecond text\""));
  EXPECT_THAT(line, HasSubstr("\"buttons\":[\"Yes\"]"));
  EXPECT_THAT(line, Not(HasSubstr("hidden")));
}

TEST(Transcript, StringsAreEscapedAndAlwaysValidJson) {
  Dialog dialog;
  dialog.name = "prompt";
  dialog.id = "say \"hi\"";
  dialog.title = "C:\\dir";
  dialog.Add(ItemKind::kStaticText, std::string("cr\rlf\ntab\tbell\x07"
                                                "del\x7f"));
  dialog.Add(ItemKind::kButton, "caf\xC3\xA9 \xE6\x97\xA5");  // valid UTF-8 stays as it is
  dialog.Add(ItemKind::kButton, "bad \xE9 \xC0\xAF end \xED\xA0\x80");
  std::string line = TranscriptLine(dialog, 999);
  EXPECT_THAT(line, HasSubstr("\"id\":\"say \\\"hi\\\"\""));
  EXPECT_THAT(line, HasSubstr("\"title\":\"C:\\\\dir\""));
  EXPECT_THAT(line, HasSubstr("\"text\":\"cr\\rlf\\ntab\\tbell\\u0007del\\u007f\""));
  EXPECT_THAT(line, HasSubstr("\"caf\xC3\xA9 \xE6\x97\xA5\""));
  // A Latin-1 byte, an overlong form and an encoded surrogate are no UTF-8.
  EXPECT_THAT(line, HasSubstr("\"bad \xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD end "
                              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""));
  EXPECT_THAT(line, HasSubstr("\"answer\":999}"));
}

TEST(Transcript, InputItemsAreListedWithTheirValues) {
  Dialog dialog;
  dialog.name = "login";
  dialog.Add(ItemKind::kButton, "OK");
  dialog.Add(ItemKind::kEditText, "ann");
  dialog.Add(ItemKind::kPassword, "secret");
  dialog.Add(ItemKind::kRadio, "Teacher").value = 1;
  dialog.Add(ItemKind::kCheckBox, "Remember");
  DialogItem& list = dialog.Add(ItemKind::kList, "");
  list.lines = {"Class \"A\"", "Class B"};
  list.selected = {1};
  dialog.Add(ItemKind::kEditText, "off").enabled = false;
  dialog.Add(ItemKind::kEditText, "gone").visible = false;
  std::string line = TranscriptLine(dialog, 1);
  EXPECT_THAT(line,
              HasSubstr("\"items\":["
                        "{\"number\":2,\"kind\":\"edit\",\"text\":\"ann\"},"
                        "{\"number\":3,\"kind\":\"password\",\"text\":\"********\"},"
                        "{\"number\":4,\"kind\":\"radio\",\"text\":\"Teacher\",\"value\":1},"
                        "{\"number\":5,\"kind\":\"checkbox\",\"text\":\"Remember\",\"value\":0},"
                        "{\"number\":6,\"kind\":\"list\",\"lines\":[\"Class \\\"A\\\"\","
                        "\"Class B\"],\"selected\":[1]},"
                        "{\"number\":7,\"kind\":\"edit\",\"text\":\"off\",\"enabled\":false}]"));
  EXPECT_THAT(line, Not(HasSubstr("secret")));
  EXPECT_THAT(line, Not(HasSubstr("gone")));
  EXPECT_THAT(TranscriptLine(InstallAnother(), 1), Not(HasSubstr("items")));
}

class RecordAndReplay : public ::testing::Test {
 protected:
  void TearDown() override {
    FinishDialogs();
    SetBackend(nullptr);
  }
  TestSysroot root_;
};

TEST_F(RecordAndReplay, ControlHeldForTheRunIsOnePlainLineAndATakenLatchIsSpent) {
  // An old file's plain control line holds Control for every dialog; recording that replay
  // writes it back as one plain line, not as a setting of every answer.
  std::string error;
  auto replay = MakeScriptBackend("* -> 1\ncontrol\n", &error);
  ASSERT_NE(replay, nullptr) << error;
  SetBackend(std::move(replay));
  ASSERT_TRUE(OpenRecordedAnswers(root_.path("old.txt")));
  Dialog dialog = InstallAnother();
  ModalDialog(dialog);
  EXPECT_TRUE(TakeControlKeyLatch());
  EXPECT_TRUE(IsControlKeyHeldDown()) << "held for the run, never spent";
  FinishDialogs();
  EXPECT_EQ(ReadTestFile(root_.path("old.txt")),
            "# Answers recorded by nuvel-setup; replay them with --answers FILE\n"
            "prompt:MSG_Message_InstallAnother -> 1\ncontrol\n");

  auto fake = std::make_unique<FakeBackend>();
  fake->control = true;
  FakeBackend* backend = fake.get();
  SetBackend(std::move(fake));
  EXPECT_TRUE(IsControlKeyHeldDown());
  EXPECT_TRUE(TakeControlKeyLatch());
  EXPECT_FALSE(IsControlKeyHeldDown()) << "the click's latch is spent once taken";
  ModalDialog(dialog);
  EXPECT_TRUE(IsControlKeyHeldDown()) << "the next click latches again";
  backend->control = false;
  HoldControlKey();
  EXPECT_TRUE(TakeControlKeyLatch());
  EXPECT_TRUE(IsControlKeyHeldDown()) << "--control holds it for the run";
}

TEST_F(RecordAndReplay, DialogsAndFolderQuestionsAreRecordedUntilFinished) {
  auto fake = std::make_unique<FakeBackend>();
  fake->folder = "/srv/my courses";
  SetBackend(std::move(fake));
  ASSERT_TRUE(OpenTranscript(root_.path("t.jsonl")));
  ASSERT_TRUE(OpenRecordedAnswers(root_.path("a.txt")));
  Dialog dialog = InstallAnother();
  ModalDialog(dialog);
  ChooseFolder("MSG_InstallationDirectory", "Where?", "/opt/Nuvel");
  FinishDialogs();
  ModalDialog(dialog);
  EXPECT_EQ(ReadTestFile(root_.path("a.txt")),
            "# Answers recorded by nuvel-setup; replay them with --answers FILE\n"
            "prompt:MSG_Message_InstallAnother -> 1\n"
            "folder:MSG_InstallationDirectory -> /srv/my courses\n")
      << "no control line without the Control key";
  std::string transcript = ReadTestFile(root_.path("t.jsonl"));
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(), '\n'), 2)
      << "nothing is written after FinishDialogs";
  EXPECT_THAT(transcript,
              HasSubstr("{\"dialog\":\"folder\",\"id\":\"MSG_InstallationDirectory\",\"text\":"
                        "\"Where?\",\"start\":\"/opt/Nuvel\",\"answer\":\"/srv/my courses\"}\n"));
  EXPECT_FALSE(OpenTranscript(root_.path("no/such/folder/t.jsonl")));
}

}  // namespace
}  // namespace nuvel::ui
