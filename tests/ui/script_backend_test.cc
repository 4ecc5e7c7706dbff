#include "ui/script/script_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_env.h"

namespace nuvel::ui {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// A prompt as the front ends build it: two buttons, a message and a title.
Dialog Prompt(const std::string& id) {
  Dialog dialog;
  dialog.name = "prompt";
  dialog.id = id;
  dialog.title = "Nuvel Setup";
  dialog.Add(ItemKind::kButton, "Yes");
  dialog.Add(ItemKind::kButton, "No");
  dialog.Add(ItemKind::kStaticText, "Install another course?");
  return dialog;
}

Dialog Named(const std::string& name) {
  Dialog dialog;
  dialog.name = name;
  for (const char* button : {"Continue", "Quit", "Help"}) dialog.Add(ItemKind::kButton, button);
  return dialog;
}

// A dialog with every kind of settable item, and buttons that may not be hit.
Dialog Form() {
  Dialog dialog;
  dialog.name = "login";
  dialog.Add(ItemKind::kButton, "OK");                      // 1
  dialog.Add(ItemKind::kButton, "Cancel");                  // 2
  dialog.Add(ItemKind::kEditText, "");                      // 3
  dialog.Add(ItemKind::kPassword, "");                      // 4
  dialog.Add(ItemKind::kCheckBox, "Remember me");           // 5
  dialog.Add(ItemKind::kRadio, "Teacher").value = 1;        // 6
  dialog.Add(ItemKind::kRadio, "Student");                  // 7
  dialog.Add(ItemKind::kStaticText, "Pick a class");        // 8
  dialog.Add(ItemKind::kRadio, "Morning").value = 1;        // 9 (a group of its own)
  dialog.Add(ItemKind::kList, "").lines = {"A", "B", "C"};  // 10
  dialog.Add(ItemKind::kEditText, "").visible = false;      // 11
  dialog.Add(ItemKind::kButton, "Hidden").visible = false;  // 12
  dialog.Add(ItemKind::kButton, "Off").enabled = false;     // 13
  return dialog;
}

class ScriptBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetNoAnswerExitHookForTesting([this](int status) { exits_.push_back(status); });
  }
  void TearDown() override { SetNoAnswerExitHookForTesting(nullptr); }

  std::unique_ptr<ScriptBackend> Make(const std::string& text) {
    AnswerFile file;
    std::string error;
    EXPECT_TRUE(ParseAnswerFile(text, file, &error)) << error;
    return std::make_unique<ScriptBackend>(std::move(file));
  }

  // Runs the dialog and returns the answer, with what went to standard error in *err.
  int Run(ScriptBackend& backend, Dialog dialog, std::string* err = nullptr) {
    ::testing::internal::CaptureStderr();
    int answer = backend.ModalDialog(dialog);
    std::string captured = ::testing::internal::GetCapturedStderr();
    if (err) *err = captured;
    return answer;
  }

  std::vector<int> exits_;
};

TEST_F(ScriptBackendTest, EachMatchKeepsItsOwnQueueAndFallbacksRankBelowSpecificLines) {
  auto backend = Make(
      "welcome -> 1\n"
      "install -> 2\n"
      "welcome -> 3\n"
      "prompt:MSG_A -> 2\n"
      "prompt:MSG_A -> 1\n"
      "welcome -> 999\n");
  EXPECT_EQ(Run(*backend, Named("welcome")), 1);
  EXPECT_EQ(Run(*backend, Prompt("MSG_A")), 2);
  EXPECT_EQ(Run(*backend, Named("install")), 2);
  EXPECT_EQ(Run(*backend, Named("welcome")), 3) << "the second Welcome takes the second line";
  EXPECT_EQ(Run(*backend, Prompt("MSG_A")), 1);
  EXPECT_EQ(Run(*backend, Named("welcome")), kCloseBox) << "999, the close box, is always allowed";
  EXPECT_TRUE(exits_.empty());

  // The fall-backs come first in the file: order in the file does not decide priority.
  backend = Make("* -> 3\nprompt:* -> 2\nprompt:MSG_A -> 1\nradio -> 1\n");
  Dialog radio = Prompt("MSG_Choice");
  radio.name = "radio";
  EXPECT_EQ(Run(*backend, Prompt("MSG_A")), 1);
  EXPECT_EQ(Run(*backend, Prompt("MSG_A")), 2) << "once its own line is used, prompt:* answers";
  EXPECT_EQ(Run(*backend, Prompt("MSG_B")), 2);
  Dialog welcome = Named("welcome");
  welcome.id = "MSG_Message_WelcomeSetup";
  EXPECT_EQ(Run(*backend, welcome), 3) << "prompt:* never answers a non-prompt, id or not";
  EXPECT_EQ(Run(*backend, radio), 1) << "a line for the dialog's name beats prompt:*";
  EXPECT_EQ(Run(*backend, radio), 2);
  // Files recorded when dialogs with ids were written as prompts still replay.
  backend = Make("prompt:MSG_Message_WelcomeSetup -> 2\n");
  EXPECT_EQ(Run(*backend, welcome), 2);

  // Fall-back lines are used in order and the last one repeats.
  backend = Make("* -> 2\n* -> 3\n");
  EXPECT_EQ(Run(*backend, Named("welcome")), 2);
  EXPECT_EQ(Run(*backend, Named("welcome")), 3);
  EXPECT_EQ(Run(*backend, Named("welcome")), 3);
  EXPECT_TRUE(exits_.empty());
}

TEST_F(ScriptBackendTest, ControlSettingHoldsTheKeyForItsOwnClickOnly) {
  auto backend = Make("install-options control -> 1\nfolder:* -> /srv\nprompt:* -> 1\n");
  EXPECT_FALSE(backend->ControlKeyLatched());
  Run(*backend, Named("install-options"));
  EXPECT_TRUE(backend->ControlKeyLatched());
  EXPECT_FALSE(backend->ControlKeyHeldForRun());
  backend->ChooseFolder("MSG_Where", "Where?", "/opt");
  EXPECT_TRUE(backend->ControlKeyLatched()) << "a folder question is not a dialog's click";
  Run(*backend, Prompt("MSG_Message_AMoreRecentVersion"));
  EXPECT_FALSE(backend->ControlKeyLatched()) << "the next answer replaces the latch";

  backend = Make("* -> 1\ncontrol\n");
  Run(*backend, Prompt("MSG_A"));
  EXPECT_TRUE(backend->ControlKeyLatched());
  EXPECT_TRUE(backend->ControlKeyHeldForRun()) << "a plain control line holds it for the run";
  EXPECT_TRUE(exits_.empty());
}

TEST_F(ScriptBackendTest, FiftyFirstFallbackUseForOneIdEndsTheRunAsALoop) {
  auto backend = Make("prompt:* -> 1\n");
  for (int i = 0; i < kMaxFallbackAnswers; ++i) {
    ASSERT_EQ(Run(*backend, Prompt("MSG_InsertDisc")), 1) << "use " << i + 1;
  }
  EXPECT_EQ(Run(*backend, Prompt("MSG_Other")), 1) << "another id counts on its own";
  EXPECT_TRUE(exits_.empty());

  std::string err;
  EXPECT_EQ(Run(*backend, Prompt("MSG_InsertDisc"), &err), kCloseBox);
  EXPECT_EQ(exits_, std::vector<int>{kExitAnswerMismatch});
  EXPECT_THAT(err, HasSubstr("answer line 1 (prompt:* -> 1) answered this dialog 50 times"));
  EXPECT_THAT(err, HasSubstr("loop"));
  EXPECT_THAT(err, HasSubstr("id: MSG_InsertDisc"));
}

TEST_F(ScriptBackendTest, DialogWithoutALineEndsTheRunNamingTheDialog) {
  auto backend = Make("welcome -> 1\n");
  Dialog prompt = Prompt("MSG_Message_InstallAnother");
  prompt.resource = 3903;
  prompt.item(3)->text += "\rReally?";
  std::string err;
  EXPECT_EQ(Run(*backend, prompt, &err), kCloseBox);
  EXPECT_EQ(exits_, std::vector<int>{kExitAnswerMismatch});
  EXPECT_TRUE(backend->failed());
  EXPECT_THAT(err, HasSubstr("the answer file has no line for this dialog"));
  EXPECT_THAT(err, HasSubstr("dialog: prompt (resource 3903)"));
  EXPECT_THAT(err, HasSubstr("id: MSG_Message_InstallAnother"));
  EXPECT_THAT(err, HasSubstr("title: Nuvel Setup"));
  EXPECT_THAT(err, HasSubstr("message: Install another course?\n           Really?\n"))
      << "a CR line break of the message lines up under the label";
  EXPECT_THAT(err, HasSubstr("[1] Yes  [2] No"));
}

TEST_F(ScriptBackendTest, SettingsApplyBeforeTheAnswerAndTellTheCore) {
  auto backend = Make(
      "login set 3=\"ann\" set 4=\"p w\" check 5 choose 7 select 2 -> 1\n"
      "login uncheck 5 select none -> 2\n");
  Dialog form = Form();
  std::vector<int> changed;
  form.on_change = [&](Dialog& dialog, int item) {
    changed.push_back(item);
    // The core's own logic: OK only once a name is there.
    dialog.item(1)->enabled = !dialog.item(3)->text.empty();
  };
  form.item(1)->enabled = false;
  EXPECT_EQ(backend->ModalDialog(form), 1);
  EXPECT_EQ(form.item(3)->text, "ann");
  EXPECT_EQ(form.item(4)->text, "p w");
  EXPECT_EQ(form.item(5)->value, 1);
  EXPECT_EQ(form.item(6)->value, 0) << "choosing a radio button clears the others of its group";
  EXPECT_EQ(form.item(7)->value, 1);
  EXPECT_EQ(form.item(9)->value, 1) << "a radio button after a text belongs to another group";
  EXPECT_EQ(form.item(10)->selected, std::vector<int>{2});
  EXPECT_EQ(changed, (std::vector<int>{3, 4, 5, 7, 10}));

  EXPECT_EQ(backend->ModalDialog(form), 2);
  EXPECT_EQ(form.item(5)->value, 0);
  EXPECT_TRUE(form.item(10)->selected.empty());
  EXPECT_TRUE(exits_.empty());
}

TEST_F(ScriptBackendTest, AnswerOrSettingThatDoesNotFitTheDialogIsAMismatch) {
  const std::pair<const char*, const char*> cases[] = {
      {"login -> 12\n", "does not fit this dialog: item 12 is a hidden button"},
      {"login -> 13\n", "does not fit this dialog: item 13 is a disabled button"},
      {"login -> 8\n", "does not fit this dialog: item 8 is a text"},
      {"login -> 77\n", "does not fit this dialog: item 77 does not exist"},
      {"login set 5=\"x\" -> 1\n", "item 5 is a check box, not an edit field"},
      {"login set 11=\"x\" -> 1\n", "item 11 is hidden"},
      {"login check 3 -> 1\n", "item 3 is an edit field, not a check box"},
      {"login choose 5 -> 1\n", "not a radio button"},
      {"login select 3 -> 1\n", "item 10 has no row 3 (it has 3)"},
      {"login select 0,1 -> 1\n", "item 10 takes one row only"},
      {"login set 42=\"x\" -> 1\n", "item 42 does not exist"},
  };
  for (const auto& [line, problem] : cases) {
    SCOPED_TRACE(line);
    exits_.clear();
    auto backend = Make(line);
    std::string err;
    EXPECT_EQ(Run(*backend, Form(), &err), kCloseBox);
    EXPECT_EQ(exits_, std::vector<int>{kExitAnswerMismatch});
    EXPECT_THAT(err, HasSubstr(problem));
    EXPECT_THAT(err, HasSubstr("answer line 1 ("));
  }
}

// A list whose rows carry keys, as the family and product dialogs build it.
Dialog Courses() {
  Dialog dialog;
  dialog.name = "products";
  dialog.Add(ItemKind::kButton, "Install");  // 1
  dialog.Add(ItemKind::kButton, "Cancel");   // 2
  DialogItem& list = dialog.Add(ItemKind::kList, "");  // 3
  list.lines = {"Level 1\t\t1,450 MB\t\t", "Level 3\t\t1,520 MB\t\tInstalled", "Grammar"};
  list.keys = {"001ENG40", "003MUL50", "010ENG20"};
  list.multiple = true;
  return dialog;
}

TEST_F(ScriptBackendTest, SelectChoosesRowsByKeyWhereverTheyStand) {
  auto backend = Make(
      "products select 003MUL50 -> 1\n"
      "products select 010ENG20,0 -> 1\n"
      "products select 003MUL50 -> 1\n");
  Dialog dialog = Courses();
  EXPECT_EQ(backend->ModalDialog(dialog), 1);
  EXPECT_EQ(dialog.item(3)->selected, std::vector<int>{1});
  dialog = Courses();
  backend->ModalDialog(dialog);
  EXPECT_EQ(dialog.item(3)->selected, (std::vector<int>{0, 2})) << "rows and keys mix";
  // The same key finds its row when the list comes in another order.
  dialog = Courses();
  std::swap(dialog.item(3)->lines[0], dialog.item(3)->lines[1]);
  std::swap(dialog.item(3)->keys[0], dialog.item(3)->keys[1]);
  backend->ModalDialog(dialog);
  EXPECT_EQ(dialog.item(3)->selected, std::vector<int>{0});
  EXPECT_TRUE(exits_.empty());
}

TEST_F(ScriptBackendTest, KeyNotOnTheListIsAMismatchNamingTheKeyAndTheRowsOffered) {
  auto backend = Make("products select 003MUL40 -> 1\n");
  std::string err;
  EXPECT_EQ(Run(*backend, Courses(), &err), kCloseBox);
  EXPECT_EQ(exits_, std::vector<int>{kExitAnswerMismatch});
  EXPECT_THAT(err, HasSubstr("item 3 has no row with the key \"003MUL40\""));
  EXPECT_THAT(err, HasSubstr("      row 0  key 001ENG40  Level 1  1,450 MB\n"));
  EXPECT_THAT(err, HasSubstr("      row 1  key 003MUL50  Level 3  1,520 MB  Installed\n"));
  EXPECT_THAT(err, HasSubstr("      row 2  key 010ENG20  Grammar\n"));

  // A list without keys says how to choose instead; a key never falls back to a row number.
  exits_.clear();
  backend = Make("login select \"1\" -> 1\n");
  EXPECT_EQ(Run(*backend, Form(), &err), kCloseBox);
  EXPECT_EQ(exits_, std::vector<int>{kExitAnswerMismatch});
  EXPECT_THAT(err, HasSubstr("has no row with the key \"1\" (its rows have no keys"));
  EXPECT_THAT(err, HasSubstr("      row 1  B\n"));

  exits_.clear();
  backend = Make("products select 001ENG40,003MUL50 -> 1\n");
  Dialog single = Courses();
  single.item(3)->multiple = false;
  EXPECT_EQ(Run(*backend, single, &err), kCloseBox);
  EXPECT_THAT(err, HasSubstr("item 3 takes one row only"));
}

TEST_F(ScriptBackendTest, FinishReportsEveryLineNeverUsedOnce) {
  auto backend = Make("# header\nwelcome -> 1\nwelcome -> 2\nprompt:MSG_Never -> 1\n* -> 1\n");
  Run(*backend, Named("welcome"));
  ::testing::internal::CaptureStderr();
  backend->Finish();
  backend->Finish();
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("answer line 3 never used: welcome -> 2\n"));
  EXPECT_THAT(err, HasSubstr("answer line 4 never used: prompt:MSG_Never -> 1\n"));
  EXPECT_THAT(err, HasSubstr("answer line 5 never used: * -> 1\n"));
  EXPECT_THAT(err, Not(HasSubstr("line 2 ")));
  EXPECT_EQ(err.find("line 3"), err.rfind("line 3")) << "reported once, however often Finish runs";
  EXPECT_TRUE(exits_.empty()) << "unused lines do not change the exit status";
}

// Form(): 3 is an edit field, 4 a password field.
TEST_F(ScriptBackendTest, MessagesNeverShowWhatALineTypesIntoAPasswordField) {
  auto backend = Make(
      "login set 3=\"ann\" set 4=\"s3cret\" -> 13\n"
      "login set 4=s3cret set 42=\"s3cret\" -> 1\n"
      "login set 3=\"bob\" set 4=\"s3cret\" -> 1\n");
  std::string err;
  Run(*backend, Form(), &err);
  EXPECT_THAT(err, HasSubstr("(login set 3=\"ann\" set 4=<password> -> 13)"));
  Run(*backend, Form(), &err);
  EXPECT_THAT(err, HasSubstr("(login set 4=<password> set 42=<hidden> -> 1)"));
  EXPECT_EQ(exits_.size(), 2u);
  ::testing::internal::CaptureStderr();
  backend->Finish();
  err += ::testing::internal::GetCapturedStderr();
  // A line never used answered no dialog: none of its texts is known to be harmless.
  EXPECT_THAT(err, HasSubstr("never used: login set 3=<hidden> set 4=<hidden> -> 1\n"));
  EXPECT_THAT(err, Not(HasSubstr("s3cret")));
}

TEST_F(ScriptBackendTest, FolderQuestions) {
  auto backend = Make(
      "folder:MSG_Where -> /srv/courses\n"
      "folder:MSG_Where -> \"\"\n"
      "folder:* -> /fallback\n");
  EXPECT_EQ(backend->ChooseFolder("MSG_Where", "Where?", "/opt"), "/srv/courses");
  EXPECT_EQ(backend->ChooseFolder("MSG_Where", "Where?", "/opt"), "") << "\"\" cancels";
  EXPECT_EQ(backend->ChooseFolder("MSG_Where", "Where?", "/opt"), "/fallback");
  EXPECT_EQ(Run(*backend, Named("welcome")), kCloseBox) << "folder:* answers no dialog";

  exits_.clear();
  EXPECT_EQ(Make("* -> 1\n")->ChooseFolder("MSG_Where", "Where?", "/opt/Nuvel"), "/opt/Nuvel")
      << "* -> 1 accepts the proposed folder";
  EXPECT_EQ(Make("* -> 2\n")->ChooseFolder("MSG_Where", "Where?", "/opt/Nuvel"), "");

  auto none = Make("prompt:* -> 1\n");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(none->ChooseFolder("MSG_Where", "Where do the courses go?", "/opt"), "");
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(exits_, std::vector<int>{kExitAnswerMismatch});
  EXPECT_THAT(err, HasSubstr("no line for this folder question"));
  EXPECT_THAT(err, HasSubstr("id: MSG_Where"));
  EXPECT_THAT(err, HasSubstr("Where do the courses go?"));
}

TEST(ScriptBackendLoad, ErrorsNameTheFileAndTheLine) {
  nuvel::testing::TestSysroot root;
  std::string path = root.path("answers.txt");
  nuvel::testing::WriteTestFile(path, "welcome -> 1\n\nbogus line here\n");
  std::string error;
  EXPECT_EQ(LoadScriptBackend(path, &error), nullptr);
  EXPECT_EQ(error, "answer file " + path + ", line 3: unknown setting 'line'" +
                       " (expected set, select, check, uncheck, choose, control or ->)");

  error.clear();
  EXPECT_EQ(LoadScriptBackend(root.path("missing.txt"), &error), nullptr);
  EXPECT_THAT(error, HasSubstr("cannot read the answer file " + root.path("missing.txt")));
}

}  // namespace
}  // namespace nuvel::ui
