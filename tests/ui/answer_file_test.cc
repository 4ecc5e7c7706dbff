#include <gtest/gtest.h>

#include <string>

#include "ui/answer_file.h"

namespace nuvel::ui {
namespace {

using Kind = AnswerSetting::Kind;
using MatchKind = AnswerMatch::Kind;

AnswerFile Parse(std::string_view text) {
  AnswerFile file;
  std::string error;
  EXPECT_TRUE(ParseAnswerFile(text, file, &error)) << error;
  return file;
}

// Every parsed line in one compact form: "line: match[key] settings -> answer [folder]".
std::vector<std::string> Summaries(const AnswerFile& file) {
  static const char* const kMatches[] = {"name", "prompt", "folder", "*", "prompt:*", "folder:*"};
  static const char* const kSettings[] = {"set", "select", "check", "uncheck", "choose"};
  std::vector<std::string> out;
  for (const AnswerLine& line : file.lines) {
    std::string text = std::to_string(line.line_number) + ": " +
                       kMatches[static_cast<int>(line.match.kind)] + "[" + line.match.key + "]";
    for (const AnswerSetting& setting : line.settings) {
      text += std::string(" ") + kSettings[static_cast<int>(setting.kind)] + " " +
              std::to_string(setting.item);
      if (setting.kind == Kind::kSet) text += "=<" + setting.text + ">";
      for (int row : setting.rows) text += ":" + std::to_string(row);
      for (const std::string& key : setting.keys) text += ":key<" + key + ">";
    }
    if (line.control) text += " control";
    out.push_back(text + " -> " + std::to_string(line.answer) + " [" + line.folder + "]");
  }
  return out;
}

TEST(AnswerFileParse, EveryKindOfLineAndSetting) {
  AnswerFile file = Parse(
      "# comment\n"
      "welcome -> 1\n"
      "\n"
      "family select 0,2 -> 1\n"
      "login set 5=\"ann@school.example\" set 7=\"secret\" -> 1\n"
      "folder:MSG_InstallationDirectory -> /srv/my courses\n"
      "prompt:MSG_Message_InstallAnother -> 2\n"
      "options check 3 uncheck 4 choose 6 select 9:1 -> 999\n"
      "prompt:* -> 1\n"
      "folder:* -> /tmp\n"
      "* -> 2\n"
      "install-options control -> 1\n"
      "control\n");
  EXPECT_TRUE(file.control);
  // Comments and blank lines still count as lines; a plain select means the first list (0).
  EXPECT_EQ(Summaries(file),
            (std::vector<std::string>{
                "2: name[welcome] -> 1 []",
                "4: name[family] select 0:0:2 -> 1 []",
                "5: name[login] set 5=<ann@school.example> set 7=<secret> -> 1 []",
                "6: folder[MSG_InstallationDirectory] -> 0 [/srv/my courses]",
                "7: prompt[MSG_Message_InstallAnother] -> 2 []",
                "8: name[options] check 3 uncheck 4 choose 6 select 9:1 -> 999 []",
                "9: prompt:*[] -> 1 []",
                "10: folder:*[] -> 0 [/tmp]",
                "11: *[] -> 2 []",
                "12: name[install-options] control -> 1 []",
            }));

  // Carriage returns, a byte order mark and indented comments are no part of the lines.
  file = Parse("\xEF\xBB\xBFwelcome -> 1\r\n   # indented comment\r\n\tinstall -> 2\r\n");
  EXPECT_EQ(Summaries(file),
            (std::vector<std::string>{"1: name[welcome] -> 1 []", "3: name[install] -> 2 []"}));
  EXPECT_FALSE(file.control);
}

TEST(AnswerFileParse, QuotedTextsAndIds) {
  AnswerFile file = Parse(
      "login set 5=\"say \\\"hi\\\" C:\\\\dir\\n\\ttab\" set 6=plain -> 1\n"
      "prompt:\"Nuvel Setup\" -> 1\n"
      "prompt:\"*\" -> 2\n"
      "folder:\"id with space\" -> \"  /padded \"\n"
      "folder:MSG_Folder -> \"\"\n");
  // A quoted * is the id "*", not the fall-back; "" cancels the folder question.
  EXPECT_EQ(Summaries(file),
            (std::vector<std::string>{
                "1: name[login] set 5=<say \"hi\" C:\\dir\n\ttab> set 6=<plain> -> 1 []",
                "2: prompt[Nuvel Setup] -> 1 []",
                "3: prompt[*] -> 2 []",
                "4: folder[id with space] -> 0 [  /padded ]",
                "5: folder[MSG_Folder] -> 0 []",
            }));

  const std::string nasty = "quote \" backslash \\ line\nreturn\r tab\t end\\";
  file = Parse("login set 5=" + QuoteAnswerText(nasty) + " -> 1\n");
  ASSERT_EQ(file.lines.size(), 1u);
  EXPECT_EQ(file.lines[0].settings[0].text, nasty);
  EXPECT_EQ(QuoteAnswerText("a\"b\\c"), "\"a\\\"b\\\\c\"");
}

// Whether a word is a row or a key depends on its form only, never on the list it meets: a
// recorded key that a replay's list lacks must be reported, not taken for a row number.
TEST(AnswerFileParse, SelectTellsRowNumbersFromKeysByTheirForm) {
  AnswerFile file = Parse(
      "family select 003 -> 1\n"
      "products select 003MUL50 -> 1\n"
      "multi-language select FRA -> 1\n"
      "products select 2,006ENG30,0 -> 1\n"
      "family select \"12\" -> 1\n"
      "uninstall select 4:\"my course, 2\" -> 2\n"
      "family select 0 -> 1\n"
      "family select 10 -> 1\n"
      "family select 9:none -> 1\n");
  EXPECT_EQ(Summaries(file),
            (std::vector<std::string>{
                "1: name[family] select 0:key<003> -> 1 []",
                "2: name[products] select 0:key<003MUL50> -> 1 []",
                "3: name[multi-language] select 0:key<FRA> -> 1 []",
                "4: name[products] select 0:2:0:key<006ENG30> -> 1 []",
                "5: name[family] select 0:key<12> -> 1 []",
                "6: name[uninstall] select 4:key<my course, 2> -> 2 []",
                "7: name[family] select 0:0 -> 1 []",
                "8: name[family] select 0:10 -> 1 []",
                "9: name[family] select 9 -> 1 []",
            }));
}

TEST(AnswerFileParse, MalformedLinesNameTheirLineAndProblem) {
  const std::pair<const char*, const char*> cases[] = {
      {"welcome\n", "line 1: expected '-> <answer>'"},
      {"# fine\nwelcome 1\n", "line 2: unknown setting '1'"},
      {"welcome -> one\n", "line 1: the answer after -> must be an item number"},
      {"welcome -> 0\n", "line 1: the answer after -> must be an item number"},
      {"welcome -> 1 2\n", "line 1: unexpected '2' after the answer"},
      {"\n\nlogin set 5=\"open -> 1\n", "line 3: a quoted text has no closing \""},
      {"login set 5=\"a\\qb\" -> 1\n", "line 1: unknown escape \\q"},
      {"login set five=\"x\" -> 1\n", "line 1: 'set' needs an item number"},
      {"family select 0,,2 -> 1\n", "line 1: 'select' needs rows"},
      {"family select x:1 -> 1\n", "line 1: 'select x:1': expected the list's item number"},
      {"family select 003, -> 1\n", "line 1: 'select' needs rows"},
      {"family select \"\" -> 1\n", "line 1: 'select' needs a key that is not empty"},
      {"family select 003\"x\" -> 1\n", "line 1: 'select': '003\"x\"' is neither"},
      {"family select 1,a:b -> 1\n", "line 1: 'select 1,a:b': expected the list's item number"},
      {"family select \"a\"b -> 1\n", "line 1: unexpected 'b' after the rows of 'select'"},
      {"family select 99999 -> 1\n", "line 1: 'select': row 99999 is too large"},
      {"options check -> 1\n", "line 1: 'check' needs an item number"},
      {"Welcome -> 1\n", "line 1: 'Welcome' is not a dialog name"},
      {"prompt: -> 1\n", "line 1: \"prompt:\" needs an id"},
      {"folder:MSG_X ->\n", "line 1: a folder answer needs a folder"},
      {"folder:MSG_X set 1=\"a\" -> /x\n", "line 1: a folder question takes no settings"},
      {"folder:MSG_X control -> /x\n", "line 1: a folder question takes no settings"},
      {"control now\n", "line 1: unknown setting 'now'"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    AnswerFile file;
    std::string error;
    EXPECT_FALSE(ParseAnswerFile(text, file, &error));
    EXPECT_NE(error.find(expected), std::string::npos) << "got: " << error;
  }
}

// A dialog with one item of each settable kind, as the core would build it.
Dialog FormDialog() {
  Dialog dialog;
  dialog.name = "login";
  dialog.Add(ItemKind::kButton, "OK");
  dialog.Add(ItemKind::kButton, "Cancel");
  dialog.Add(ItemKind::kEditText, "old name");
  dialog.Add(ItemKind::kPassword, "");
  dialog.Add(ItemKind::kCheckBox, "Remember").value = 1;
  dialog.Add(ItemKind::kRadio, "Here").value = 1;
  dialog.Add(ItemKind::kRadio, "There");
  DialogItem& first = dialog.Add(ItemKind::kList, "");
  first.lines = {"a", "b", "c"};
  first.multiple = true;
  DialogItem& second = dialog.Add(ItemKind::kList, "");
  second.lines = {"x", "y"};
  second.selected = {1};
  return dialog;
}

TEST(AnswerFileRecord, OnlyItemsTheUserChangedBecomeSettings) {
  Dialog before = FormDialog();
  EXPECT_EQ(RecordAnswerLine(before, before, 2), "login -> 2");

  Dialog after = before;
  after.item(3)->text = "ann \"the\" admin";
  after.item(4)->text = "s3cret";
  after.item(5)->value = 0;
  ChooseRadio(after, 7);
  after.item(8)->selected = {0, 2};
  after.item(9)->selected.clear();
  // A typed password is never written: the dialog's scrambled form stands for it, and without
  // one the field is left out with a comment that says so.
  EXPECT_EQ(RecordAnswerLine(before, after, 1),
            "# login: password item 4 is not recorded; add set 4=\"...\" to replay it\n"
            "login set 3=\"ann \\\"the\\\" admin\" uncheck 5 choose 7 "
            "select 0,2 select 9:none -> 1");
  after.recorded_password = [](const std::string& typed) { return "**__" + typed + "__"; };
  EXPECT_EQ(RecordAnswerLine(before, after, 1),
            "login set 3=\"ann \\\"the\\\" admin\" set 4=\"**__s3cret__\" uncheck 5 choose 7 "
            "select 0,2 select 9:none -> 1");
  Dialog emptied = after;
  before.item(4)->text = "old";
  emptied.item(4)->text = "";
  EXPECT_NE(RecordAnswerLine(before, emptied, 1).find(" set 4=\"\" "), std::string::npos);
  before.item(4)->text = "";

  // Changes to hidden or disabled items were made by the core, not the user.
  after = before;
  after.item(3)->text = "cleared by the core";
  after.item(3)->enabled = false;
  after.item(5)->value = 0;
  after.item(5)->visible = false;
  EXPECT_EQ(RecordAnswerLine(before, after, 1), "login -> 1");

  // Control held for the click is a setting of its line; a dialog that carries an id but is no
  // prompt is recorded by its name.
  before.name = "welcome";
  before.id = "MSG_Message_WelcomeSetup";
  EXPECT_EQ(RecordAnswerLine(before, before, 1, true), "welcome control -> 1");
  before.name = "prompt";
  EXPECT_EQ(RecordAnswerLine(before, before, 1), "prompt:MSG_Message_WelcomeSetup -> 1");
}

// Recorded lines name rows by key wherever the row has one, and every key parses back as the
// same key (never as a row number), however it reads.
TEST(AnswerFileRecord, ListRowsAreRecordedByKeyAndParseBackAsKeys) {
  Dialog before;
  before.name = "products";
  before.Add(ItemKind::kButton, "Install");
  DialogItem& list = before.Add(ItemKind::kList, "");
  list.lines = {"a", "b", "c", "d", "e", "f", "g"};
  list.keys = {"003MUL50", "", "12", "none", "my course", "0", "007"};
  list.multiple = true;
  Dialog after = before;
  after.item(2)->selected = {0, 1, 2, 3, 4, 5, 6};
  std::string line = RecordAnswerLine(before, after, 1);
  EXPECT_EQ(line,
            "products select 003MUL50,1,\"12\",\"none\",\"my course\",\"0\",007 -> 1");
  AnswerFile file = Parse(line + "\n");
  ASSERT_EQ(file.lines.size(), 1u);
  ASSERT_EQ(file.lines[0].settings.size(), 1u);
  const AnswerSetting& select = file.lines[0].settings[0];
  EXPECT_EQ(select.rows, std::vector<int>{1}) << "the row without a key stays a number";
  EXPECT_EQ(select.keys,
            (std::vector<std::string>{"003MUL50", "12", "none", "my course", "0", "007"}));
  EXPECT_EQ(SelectKeyText("a\"b"), "\"a\\\"b\"");

  // A preselection the user kept is written only for a button that acts on it.
  before.item(2)->selected = {0};
  after = before;
  before.Add(ItemKind::kButton, "Cancel");
  after.Add(ItemKind::kButton, "Cancel");
  EXPECT_EQ(RecordAnswerLine(before, after, 1), "products -> 1");
  after.selection_buttons = {1};
  EXPECT_EQ(RecordAnswerLine(before, after, 1), "products select 003MUL50 -> 1");
  EXPECT_EQ(RecordAnswerLine(before, after, 3), "products -> 3");
}

TEST(AnswerFileRecord, FolderLinesQuoteOnlyWhenNeededAndParseBack) {
  EXPECT_EQ(RecordFolderLine("MSG_Where", "/srv/my courses"),
            "folder:MSG_Where -> /srv/my courses");
  EXPECT_EQ(RecordFolderLine("MSG_Where", ""), "folder:MSG_Where -> \"\"");
  for (const char* folder : {"/a\\b", " /lead", "/trail ", "\"/q"}) {
    SCOPED_TRACE(folder);
    AnswerFile file = Parse(RecordFolderLine("Where to?", folder) + "\n");
    ASSERT_EQ(file.lines.size(), 1u);
    EXPECT_EQ(file.lines[0].match.key, "Where to?");
    EXPECT_EQ(file.lines[0].folder, folder);
  }
}

}  // namespace
}  // namespace nuvel::ui
