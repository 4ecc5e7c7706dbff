#include "ui/terminal/terminal_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/terminal.h"
#include "tests/support/test_env.h"

namespace nuvel::ui {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

// Scripted input; everything written is kept. The input ends after the last line.
class FakeIo : public TerminalIo {
 public:
  bool ReadLine(std::string& line, bool secret) override {
    secret_reads.push_back(secret);
    if (input.empty()) return false;
    line = input.front();
    input.pop_front();
    return true;
  }
  void Write(std::string_view text) override { output += text; }
  int Columns() override { return columns; }

  std::deque<std::string> input;
  std::string output;
  std::vector<bool> secret_reads;
  int columns = 80;
};

class TerminalTest : public ::testing::Test {
 protected:
  TerminalTest() {
    auto io = std::make_unique<FakeIo>();
    io_ = io.get();
    backend_ = std::make_unique<TerminalBackend>(std::move(io));
  }
  void Type(std::initializer_list<const char*> lines) {
    for (const char* line : lines) io_->input.emplace_back(line);
  }

  FakeIo* io_;
  std::unique_ptr<TerminalBackend> backend_;
};

Dialog Question() {
  Dialog dialog;
  dialog.name = "welcome";
  dialog.title = "Nuvel Setup";
  dialog.Add(ItemKind::kButton, "Install");
  dialog.Add(ItemKind::kButton, "Quit");
  dialog.Add(ItemKind::kStaticText, "Welcome.\rInstall the courses now?");
  return dialog;
}

TEST_F(TerminalTest, ShowsTitleMessageAndNumberedEnabledButtons) {
  Type({"2"});
  Dialog dialog = Question();
  dialog.Add(ItemKind::kButton, "Uninstall").enabled = false;
  dialog.Add(ItemKind::kButton, "Hidden").visible = false;
  EXPECT_EQ(backend_->ModalDialog(dialog), 2);
  EXPECT_THAT(io_->output, HasSubstr("== Nuvel Setup ==\nWelcome.\nInstall the courses now?\n"))
      << "a CR line break of a message shows as a new line";
  EXPECT_THAT(io_->output, HasSubstr("  [1] Install  [2] Quit  (Uninstall)\n> "));
  EXPECT_THAT(io_->output, Not(HasSubstr("Hidden")));
  EXPECT_THAT(io_->output, HasSubstr("\"control\" holds the Control key"))
      << "the help line names the control command";

  // The numbers are the dialog's item numbers, as answer files and transcripts write them: a
  // disabled first button shifts nothing.
  Type({"1", "3", "5"});
  Dialog browse = Question();
  browse.item(1)->enabled = false;
  browse.Add(ItemKind::kStaticText, "/opt/Nuvel");  // 4
  browse.Add(ItemKind::kButton, "Browse");          // 5
  EXPECT_EQ(backend_->ModalDialog(browse), 5);
  EXPECT_THAT(io_->output, HasSubstr("  (Install)  [2] Quit  [5] Browse\n> "));
  EXPECT_THAT(io_->output, HasSubstr("> Please type 2 or 5.\n> Please type 2 or 5.\n"));
}

TEST_F(TerminalTest, AnswersByNumberOrTextAskAgainUntilValid) {
  Type({"7", "yes please", "", "control", "QUIT"});
  Dialog dialog = Question();
  EXPECT_FALSE(backend_->ControlKeyLatched());
  EXPECT_EQ(backend_->ModalDialog(dialog), 2);
  EXPECT_EQ(io_->secret_reads.size(), 5u);
  EXPECT_THAT(io_->output, HasSubstr("Please type 1 or 2."));
  EXPECT_TRUE(backend_->ControlKeyLatched()) << "held for the click that answered";
  EXPECT_FALSE(backend_->ControlKeyHeldForRun());
  EXPECT_THAT(io_->output, HasSubstr("The Control key is held for this dialog's answer."));

  Type({"close"});
  EXPECT_EQ(backend_->ModalDialog(dialog), kCloseBox);
  EXPECT_FALSE(backend_->ControlKeyLatched()) << "the next answer replaces the latch";
  EXPECT_EQ(backend_->ModalDialog(dialog), kCloseBox) << "the end of the input is the close box";
  EXPECT_EQ(io_->secret_reads.size(), 7u) << "the end of the input is never read twice";
}

Dialog Login() {
  Dialog dialog;
  dialog.name = "login";
  dialog.Add(ItemKind::kButton, "Log in");             // 1
  dialog.Add(ItemKind::kButton, "Cancel");             // 2
  dialog.Add(ItemKind::kStaticText, "Please log in");  // 3
  dialog.Add(ItemKind::kStaticText, "Name:");          // 4
  dialog.Add(ItemKind::kEditText, "guest");            // 5
  dialog.Add(ItemKind::kStaticText, "Password:");      // 6
  dialog.Add(ItemKind::kPassword, "");                 // 7
  dialog.Add(ItemKind::kEditText, "note");             // 8
  return dialog;
}

TEST_F(TerminalTest, FieldsAreAskedWithLabelsAndDefaultsAndEnterKeepsThem) {
  Type({"ann", "control", "-", "1"});
  Dialog dialog = Login();
  std::vector<int> changed;
  dialog.on_change = [&](Dialog&, int item) { changed.push_back(item); };
  EXPECT_EQ(backend_->ModalDialog(dialog), 1);
  EXPECT_EQ(dialog.item(5)->text, "ann");
  EXPECT_EQ(dialog.item(7)->text, "control") << "a password is never a command";
  EXPECT_EQ(dialog.item(8)->text, "") << "a single - empties a field";
  EXPECT_EQ(changed, (std::vector<int>{5, 7, 8}));
  EXPECT_FALSE(backend_->ControlKeyLatched());
  EXPECT_EQ(io_->secret_reads, (std::vector<bool>{false, true, false, false}));
  EXPECT_THAT(io_->output, HasSubstr("Please log in\n"));
  EXPECT_THAT(io_->output, Not(HasSubstr("Name:\n"))) << "a label goes with its field";
  EXPECT_THAT(io_->output, HasSubstr("5) Name [guest]: "));
  EXPECT_THAT(io_->output, HasSubstr("7) Password (not shown): "));
  EXPECT_THAT(io_->output, HasSubstr("8) Field [note]: "));

  // Enter keeps a value, "edit" asks the fields again, and closing midway is the close box.
  Type({"", "", "", "edit", "bob", "", "", "1"});
  dialog = Login();
  changed.clear();
  dialog.on_change = [&](Dialog&, int item) { changed.push_back(item); };
  EXPECT_EQ(backend_->ModalDialog(dialog), 1);
  EXPECT_EQ(dialog.item(5)->text, "bob");
  EXPECT_EQ(dialog.item(8)->text, "note");
  EXPECT_EQ(changed, std::vector<int>{5});

  Type({"ann"});
  EXPECT_EQ(backend_->ModalDialog(dialog), kCloseBox);
}

TEST_F(TerminalTest, RadioGroupsCheckBoxesAndLists) {
  Dialog dialog;
  dialog.name = "options";
  dialog.Add(ItemKind::kButton, "OK");                        // 1
  dialog.Add(ItemKind::kRadio, "Teacher").value = 1;          // 2
  dialog.Add(ItemKind::kRadio, "Student");                    // 3
  dialog.Add(ItemKind::kRadio, "Guest");                      // 4
  dialog.Add(ItemKind::kCheckBox, "Remember me");             // 5
  DialogItem& single = dialog.Add(ItemKind::kList, "Room:");  // 6
  single.lines = {"Room 1", "Room 2"};
  DialogItem& multi = dialog.Add(ItemKind::kList, "");  // 7
  multi.lines = {"French", "German", "Spanish"};
  multi.multiple = true;
  multi.selected = {1};
  Type({"5", "3", "maybe", "y", "2", "", "1", "2, 0", "1"});
  EXPECT_EQ(backend_->ModalDialog(dialog), 1);
  EXPECT_EQ(dialog.item(2)->value, 0);
  EXPECT_EQ(dialog.item(3)->value, 1);
  EXPECT_EQ(dialog.item(5)->value, 1);
  EXPECT_EQ(dialog.item(6)->selected, std::vector<int>{1});
  EXPECT_EQ(dialog.item(7)->selected, (std::vector<int>{0, 2}));
  EXPECT_THAT(io_->output, HasSubstr("  2) (*) Teacher\n  3) ( ) Student\n  4) ( ) Guest\n"))
      << "radio buttons show their item numbers";
  EXPECT_THAT(io_->output, HasSubstr("Choose 2, 3 or 4 [2]: Please type 2, 3 or 4."));
  EXPECT_THAT(io_->output, HasSubstr("5) [ ] Remember me (y/n) [n]: Please type y or n."));
  EXPECT_THAT(io_->output,
              HasSubstr("Room, row: Please type a row number from 0 to 1.\nRoom, row: Please"))
      << "a single list needs a row and takes only one; its text names it";
  EXPECT_THAT(io_->output, HasSubstr("    0) French\n  * 1) German\n"))
      << "rows are numbered from 0, as select writes them";
  EXPECT_THAT(io_->output, HasSubstr("Rows, separated by commas (- for none) [1]: "));
}

TEST_F(TerminalTest, FolderQuestion) {
  nuvel::testing::TestSysroot root;  // HOME inside it
  Type({""});
  EXPECT_EQ(backend_->ChooseFolder("MSG_Where", "Where do the courses go?", "/opt/Nuvel"),
            "/opt/Nuvel");
  EXPECT_THAT(io_->output, HasSubstr("Where do the courses go?\nFolder [/opt/Nuvel]: "));
  Type({"courses", "/srv/courses/"});
  EXPECT_EQ(backend_->ChooseFolder("MSG_Where", "Where?", ""), "/srv/courses");
  EXPECT_THAT(io_->output, HasSubstr("Please type a full path, starting with /."));
  Type({"~/courses"});
  EXPECT_EQ(backend_->ChooseFolder("MSG_Where", "Where?", ""), root.path("home") + "/courses");
  EXPECT_EQ(backend_->ChooseFolder("MSG_Where", "Where?", "/opt"), "") << "end of input cancels";
}

TEST_F(TerminalTest, StatusIsOneLineRedrawnInPlace) {
  backend_->ShowStatus({"Copying", "French 1", "", 0.3});
  EXPECT_EQ(io_->output, "\r\x1b[KCopying  -  French 1  [######--------------]  30%");
  std::size_t size = io_->output.size();
  backend_->ShowStatus({"Copying", "French 1", "", 0.3});
  EXPECT_EQ(io_->output.size(), size) << "an unchanged line is not drawn again";
  backend_->ShowStrip({"Records server", "", "", -1});
  EXPECT_THAT(io_->output, EndsWith("\r\x1b[KRecords server"));
  backend_->HideStrip();
  EXPECT_THAT(io_->output, EndsWith("\r\x1b[KCopying  -  French 1  [######--------------]  30%"))
      << "the status line comes back when the strip goes";
  backend_->HideStatus();
  EXPECT_THAT(io_->output, EndsWith("30%\r\x1b[K"));

  backend_->ShowStatus({"Copying", "", "", -1});
  Type({"1"});
  Dialog dialog = Question();
  backend_->ModalDialog(dialog);
  EXPECT_THAT(io_->output, HasSubstr("\r\x1b[KCopying\r\x1b[K"))
      << "a dialog clears the status line first";
  backend_->ShowStatus({"Copying", "", "", -1});
  backend_->Finish();
  EXPECT_THAT(io_->output, EndsWith("\r\x1b[KCopying\n"));
}

TEST(StatusLineText, CutsLongTextsButKeepsTheBar) {
  EXPECT_EQ(StatusLineText({"", "", "", 1.0}, 80), "[####################] 100%");
  EXPECT_EQ(StatusLineText({"Scanning", "a\rb", "", -1}, 80), "Scanning  -  a b");
  std::string line = StatusLineText({std::string(100, 'x'), "", "", 0.0}, 40);
  EXPECT_EQ(line, std::string(7, 'x') + "...  [--------------------]   0%");
  EXPECT_EQ(line.size(), 39u);
  // Cut by characters, not bytes: no character is split.
  EXPECT_EQ(StatusLineText({std::string(30, 'y'), "", "", -1}, 21), std::string(17, 'y') + "...");
  EXPECT_EQ(StatusLineText({"\xC3\xA9" + std::string(30, 'y'), "", "", -1}, 21),
            "\xC3\xA9" + std::string(16, 'y') + "...");
}

TEST(TerminalBackendMake, RefusesWithoutAnInteractiveTerminal) {
  if (platform::StdinIsTerminal() && platform::StdoutIsTerminal()) {
    GTEST_SKIP() << "running on a terminal";
  }
  std::string error;
  EXPECT_EQ(MakeTerminalBackend(&error), nullptr);
  EXPECT_EQ(error,
            "the terminal interface needs an interactive terminal; use --answers FILE for "
            "unattended runs");
}

}  // namespace
}  // namespace nuvel::ui
