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
Dialog Prompt(const std::string& id, const std::string& second = "No") {
  Dialog dialog;
  dialog.name = "prompt";
  dialog.id = id;
  dialog.title = "Nuvel Setup";
  dialog.Add(ItemKind::kButton, "Yes");
  dialog.Add(ItemKind::kButton, second).visible = !second.empty();
  dialog.Add(ItemKind::kStaticText, "Install another course?");
  return dialog;
}

Dialog Named(const std::string& name) {
  Dialog dialog;
  dialog.name = name;
  dialog.Add(ItemKind::kButton, "Continue");
  dialog.Add(ItemKind::kButton, "Quit");
  dialog.Add(ItemKind::kButton, "Help");
  return dialog;
}

class ScriptBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetScriptExitHookForTesting([this](int status) { exits_.push_back(status); });
  }
  void TearDown() override { SetScriptExitHookForTesting(nullptr); }

  std::unique_ptr<ScriptBackend> Make(const std::string& text) {
    AnswerFile file;
    std::string error;
    EXPECT_TRUE(ParseAnswerFile(text, file, &error)) << error;
    return std::make_unique<ScriptBackend>(std::move(file));
  }

  // Runs the dialog and returns the answer, with what went to standard error in *err.
  int Run(ScriptBackend& backend, Dialog& dialog, std::string* err = nullptr) {
    ::testing::internal::CaptureStderr();
    int answer = backend.ModalDialog(dialog);
    std::string captured = ::testing::internal::GetCapturedStderr();
    if (err) *err = captured;
    return answer;
  }

  std::vector<int> exits_;
};

TEST_F(ScriptBackendTest, EachMatchKeepsItsOwnQueue) {
  auto backend = Make(
      "welcome -> 1\n"
      "install -> 2\n"
      "welcome -> 3\n"
      "prompt:MSG_A -> 2\n"
      "prompt:MSG_A -> 1\n");
  Dialog welcome = Named("welcome");
  Dialog install = Named("install");
  Dialog a = Prompt("MSG_A");
  EXPECT_EQ(Run(*backend, welcome), 1);
  EXPECT_EQ(Run(*backend, a), 2);
  EXPECT_EQ(Run(*backend, install), 2);
  EXPECT_EQ(Run(*backend, welcome), 3) << "the second Welcome takes the second welcome line";
  EXPECT_EQ(Run(*backend, a), 1);
  EXPECT_TRUE(exits_.empty());
}

TEST_F(ScriptBackendTest, SpecificLinesWinOverPromptFallbackWhichWinsOverAny) {
  // The fall-backs come first in the file: order in the file does not decide priority.
  auto backend = Make(
      "* -> 3\n"
      "prompt:* -> 2\n"
      "prompt:MSG_A -> 1\n"
      "radio -> 1\n");
  Dialog a = Prompt("MSG_A");
  Dialog b = Prompt("MSG_B");
  Dialog welcome = Named("welcome");
  Dialog radio = Prompt("MSG_Choice");
  radio.name = "radio";
  EXPECT_EQ(Run(*backend, a), 1);
  EXPECT_EQ(Run(*backend, a), 2) << "once its own line is used, prompt:* answers";
  EXPECT_EQ(Run(*backend, b), 2);
  EXPECT_EQ(Run(*backend, welcome), 3) << "prompt:* never answers a dialog that is no prompt";
  EXPECT_EQ(Run(*backend, radio), 1) << "a line for the dialog's name beats prompt:*";
  EXPECT_EQ(Run(*backend, radio), 2);
  EXPECT_TRUE(exits_.empty());
}

TEST_F(ScriptBackendTest, FallbackLinesAreUsedInOrderAndTheLastOneRepeats) {
  auto backend = Make("* -> 2\n* -> 3\n");
  Dialog welcome = Named("welcome");
  EXPECT_EQ(Run(*backend, welcome), 2);
  EXPECT_EQ(Run(*backend, welcome), 3);
  EXPECT_EQ(Run(*backend, welcome), 3);
}

TEST_F(ScriptBackendTest, FiftyFirstFallbackUseForOneIdEndsTheRunAsALoop) {
  auto backend = Make("prompt:* -> 1\n");
  Dialog disc = Prompt("MSG_InsertDisc");
  Dialog other = Prompt("MSG_Other");
  for (int i = 0; i < kMaxFallbackAnswers; ++i) {
    ASSERT_EQ(Run(*backend, disc), 1) << "use " << i + 1;
  }
  EXPECT_EQ(Run(*backend, other), 1) << "another id counts on its own";
  EXPECT_TRUE(exits_.empty());

  std::string err;
  EXPECT_EQ(Run(*backend, disc, &err), kCloseBox);
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

TEST_F(ScriptBackendTest, DefaultBackendWithoutAnswersStopsAtTheFirstDialog) {
  // What CurrentBackend() stands in with before any back end is set.
  ScriptBackend backend{AnswerFile{}};
  Dialog welcome = Named("welcome");
  EXPECT_EQ(Run(backend, welcome), kCloseBox);
  EXPECT_EQ(exits_, std::vector<int>{kExitAnswerMismatch});
}

TEST_F(ScriptBackendTest, AnswerNamingAHiddenDisabledOrNonButtonItemIsAMismatch) {
  struct Case {
    const char* line;
    const char* problem;
  };
  const Case cases[] = {
      {"prompt:MSG_A -> 2\n", "item 2 is a hidden button"},
      {"prompt:MSG_A -> 3\n", "item 3 is a text"},
      {"prompt:MSG_A -> 7\n", "item 7 does not exist"},
  };
  for (const Case& c : cases) {
    exits_.clear();
    auto backend = Make(c.line);
    Dialog one_button = Prompt("MSG_A", "");
    std::string err;
    EXPECT_EQ(Run(*backend, one_button, &err), kCloseBox) << c.line;
    EXPECT_EQ(exits_, std::vector<int>{kExitAnswerMismatch}) << c.line;
    EXPECT_THAT(err, HasSubstr("does not fit this dialog: " + std::string(c.problem)));
  }

  exits_.clear();
  auto backend = Make("welcome -> 2\nwelcome -> 999\n");
  Dialog welcome = Named("welcome");
  welcome.item(2)->enabled = false;
  std::string err;
  EXPECT_EQ(Run(*backend, welcome, &err), kCloseBox);
  EXPECT_THAT(err, HasSubstr("item 2 is a disabled button"));
  exits_.clear();
  EXPECT_EQ(Run(*backend, welcome), kCloseBox);
  EXPECT_TRUE(exits_.empty()) << "999 is the close box, always allowed";
}

// A dialog with every kind of settable item.
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
  return dialog;
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
  EXPECT_EQ(Run(*backend, form), 1);
  EXPECT_EQ(form.item(3)->text, "ann");
  EXPECT_EQ(form.item(4)->text, "p w");
  EXPECT_EQ(form.item(5)->value, 1);
  EXPECT_EQ(form.item(6)->value, 0) << "choosing a radio button clears the others of its group";
  EXPECT_EQ(form.item(7)->value, 1);
  EXPECT_EQ(form.item(9)->value, 1) << "a radio button after a text belongs to another group";
  EXPECT_EQ(form.item(10)->selected, std::vector<int>{2});
  EXPECT_EQ(changed, (std::vector<int>{3, 4, 5, 7, 10}));

  EXPECT_EQ(Run(*backend, form), 2);
  EXPECT_EQ(form.item(5)->value, 0);
  EXPECT_TRUE(form.item(10)->selected.empty());
  EXPECT_TRUE(exits_.empty());
}

TEST_F(ScriptBackendTest, SettingThatDoesNotFitTheDialogIsAMismatch) {
  const std::pair<const char*, const char*> cases[] = {
      {"login set 5=\"x\" -> 1\n", "item 5 is a check box, not an edit field"},
      {"login set 11=\"x\" -> 1\n", "item 11 is hidden"},
      {"login check 3 -> 1\n", "item 3 is an edit field, not a check box"},
      {"login choose 5 -> 1\n", "not a radio button"},
      {"login select 3 -> 1\n", "item 10 has no row 3 (it has 3)"},
      {"login select 0,1 -> 1\n", "item 10 takes one row only"},
      {"login set 42=\"x\" -> 1\n", "item 42 does not exist"},
  };
  for (const auto& [line, problem] : cases) {
    exits_.clear();
    auto backend = Make(line);
    Dialog form = Form();
    std::string err;
    EXPECT_EQ(Run(*backend, form, &err), kCloseBox) << line;
    EXPECT_EQ(exits_, std::vector<int>{kExitAnswerMismatch}) << line;
    EXPECT_THAT(err, HasSubstr(problem)) << line;
    EXPECT_THAT(err, HasSubstr("answer line 1 (")) << line;
  }
}

TEST_F(ScriptBackendTest, FinishReportsEveryLineNeverUsed) {
  auto backend = Make(
      "# header\n"
      "welcome -> 1\n"
      "welcome -> 2\n"
      "prompt:MSG_Never -> 1\n"
      "* -> 1\n");
  Dialog welcome = Named("welcome");
  Run(*backend, welcome);
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

TEST_F(ScriptBackendTest, FolderQuestions) {
  auto backend = Make(
      "folder:MSG_Where -> /srv/courses\n"
      "folder:MSG_Where -> \"\"\n"
      "folder:* -> /fallback\n");
  EXPECT_EQ(backend->ChooseFolder("MSG_Where", "Where?", "/opt"), "/srv/courses");
  EXPECT_EQ(backend->ChooseFolder("MSG_Where", "Where?", "/opt"), "") << "\"\" cancels";
  EXPECT_EQ(backend->ChooseFolder("MSG_Where", "Where?", "/opt"), "/fallback");
  Dialog welcome = Named("welcome");
  EXPECT_EQ(Run(*backend, welcome), kCloseBox) << "folder:* answers no dialog";

  exits_.clear();
  auto any = Make("* -> 1\n");
  EXPECT_EQ(any->ChooseFolder("MSG_Where", "Where?", "/opt/Nuvel"), "/opt/Nuvel")
      << "* -> 1 accepts the proposed folder";
  auto cancel = Make("* -> 2\n");
  EXPECT_EQ(cancel->ChooseFolder("MSG_Where", "Where?", "/opt/Nuvel"), "");

  auto none = Make("prompt:* -> 1\n");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(none->ChooseFolder("MSG_Where", "Where do the courses go?", "/opt"), "");
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(exits_, std::vector<int>{kExitAnswerMismatch});
  EXPECT_THAT(err, HasSubstr("no line for this folder question"));
  EXPECT_THAT(err, HasSubstr("id: MSG_Where"));
  EXPECT_THAT(err, HasSubstr("Where do the courses go?"));
}

TEST_F(ScriptBackendTest, ControlLineHoldsTheControlKeyAndStatusIsKept) {
  auto held = Make("control\n");
  auto free = Make("welcome -> 1\n");
  EXPECT_TRUE(held->ControlKeyLatched());
  EXPECT_FALSE(free->ControlKeyLatched());

  held->ShowStatus({"Copying", "Course 1", "file.dat", 0.5});
  held->HideStatus();
  EXPECT_FALSE(held->status_shown());
  EXPECT_EQ(held->status().detail, "file.dat") << "the last view stays for inspection";
  held->ShowStrip({"Records", "", "", -1});
  EXPECT_TRUE(held->strip_shown());
  EXPECT_EQ(held->strip().title, "Records");
}

TEST(ScriptBackendLoad, ErrorsNameTheFileAndTheLine) {
  nuvel::testing::TestSysroot root;
  std::string path = root.path("answers.txt");
  nuvel::testing::WriteTestFile(path, "welcome -> 1\n\nbogus line here\n");
  std::string error;
  EXPECT_EQ(LoadScriptBackend(path, &error), nullptr);
  EXPECT_EQ(error, "answer file " + path + ", line 3: unknown setting 'line'" +
                       " (expected set, select, check, uncheck, choose or ->)");

  error.clear();
  EXPECT_EQ(LoadScriptBackend(root.path("missing.txt"), &error), nullptr);
  EXPECT_THAT(error, HasSubstr("cannot read the answer file " + root.path("missing.txt")));

  nuvel::testing::WriteTestFile(path, "welcome -> 1\ncontrol\n");
  auto backend = LoadScriptBackend(path, &error);
  ASSERT_NE(backend, nullptr);
  EXPECT_TRUE(backend->ControlKeyLatched());
}

}  // namespace
}  // namespace nuvel::ui
