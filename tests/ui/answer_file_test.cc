#include <gtest/gtest.h>

#include <string>

#include "ui/script/script_backend.h"

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

std::string ParseError(std::string_view text) {
  AnswerFile file;
  std::string error;
  EXPECT_FALSE(ParseAnswerFile(text, file, &error)) << "accepted: " << text;
  return error;
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
      "control\n");
  ASSERT_EQ(file.lines.size(), 9u);
  EXPECT_TRUE(file.control);

  EXPECT_EQ(file.lines[0].match, (AnswerMatch{MatchKind::kName, "welcome"}));
  EXPECT_EQ(file.lines[0].answer, 1);
  EXPECT_EQ(file.lines[0].line_number, 2) << "comments and blank lines still count as lines";

  const AnswerLine& family = file.lines[1];
  ASSERT_EQ(family.settings.size(), 1u);
  EXPECT_EQ(family.settings[0].kind, Kind::kSelect);
  EXPECT_EQ(family.settings[0].item, 0) << "a plain select means the first list";
  EXPECT_EQ(family.settings[0].rows, (std::vector<int>{0, 2}));

  const AnswerLine& login = file.lines[2];
  ASSERT_EQ(login.settings.size(), 2u);
  EXPECT_EQ(login.settings[0].item, 5);
  EXPECT_EQ(login.settings[0].text, "ann@school.example");
  EXPECT_EQ(login.settings[1].item, 7);
  EXPECT_EQ(login.settings[1].text, "secret");

  EXPECT_EQ(file.lines[3].match, (AnswerMatch{MatchKind::kFolder, "MSG_InstallationDirectory"}));
  EXPECT_EQ(file.lines[3].folder, "/srv/my courses") << "the folder is the rest of the line";

  EXPECT_EQ(file.lines[4].match, (AnswerMatch{MatchKind::kPrompt, "MSG_Message_InstallAnother"}));
  EXPECT_EQ(file.lines[4].answer, 2);

  const AnswerLine& options = file.lines[5];
  ASSERT_EQ(options.settings.size(), 4u);
  EXPECT_EQ(options.settings[0].kind, Kind::kCheck);
  EXPECT_EQ(options.settings[1].kind, Kind::kUncheck);
  EXPECT_EQ(options.settings[1].item, 4);
  EXPECT_EQ(options.settings[2].kind, Kind::kChoose);
  EXPECT_EQ(options.settings[2].item, 6);
  EXPECT_EQ(options.settings[3].item, 9);
  EXPECT_EQ(options.settings[3].rows, (std::vector<int>{1}));
  EXPECT_EQ(options.answer, 999);

  EXPECT_EQ(file.lines[6].match.kind, MatchKind::kAnyPrompt);
  EXPECT_EQ(file.lines[7].match.kind, MatchKind::kAnyFolder);
  EXPECT_EQ(file.lines[7].folder, "/tmp");
  EXPECT_EQ(file.lines[8].match.kind, MatchKind::kAny);
}

TEST(AnswerFileParse, CrLfLineEndsByteOrderMarkAndIndentedComments) {
  AnswerFile file =
      Parse("\xEF\xBB\xBFwelcome -> 1\r\n   # indented comment\r\n\tinstall -> 2\r\n");
  ASSERT_EQ(file.lines.size(), 2u);
  EXPECT_EQ(file.lines[0].match.key, "welcome");
  EXPECT_EQ(file.lines[1].answer, 2);
  EXPECT_EQ(file.lines[1].line_number, 3);
  EXPECT_FALSE(file.control);
}

TEST(AnswerFileParse, QuotedTextsAndIds) {
  AnswerFile file = Parse(
      "login set 5=\"say \\\"hi\\\" C:\\\\dir\\n\\ttab\" set 6=plain -> 1\n"
      "prompt:\"Nuvel Setup\" -> 1\n"
      "prompt:\"*\" -> 2\n"
      "folder:\"id with space\" -> \"  /padded \"\n"
      "folder:MSG_Folder -> \"\"\n");
  ASSERT_EQ(file.lines.size(), 5u);
  EXPECT_EQ(file.lines[0].settings[0].text, "say \"hi\" C:\\dir\n\ttab");
  EXPECT_EQ(file.lines[0].settings[1].text, "plain");
  EXPECT_EQ(file.lines[1].match, (AnswerMatch{MatchKind::kPrompt, "Nuvel Setup"}));
  EXPECT_EQ(file.lines[2].match, (AnswerMatch{MatchKind::kPrompt, "*"}))
      << "a quoted * is the id \"*\", not the fall-back";
  EXPECT_EQ(file.lines[3].match.key, "id with space");
  EXPECT_EQ(file.lines[3].folder, "  /padded ");
  EXPECT_EQ(file.lines[4].folder, "") << "\"\" cancels the folder question";
}

TEST(AnswerFileParse, MalformedLinesNameTheirLineAndProblem) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
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
      {"options check -> 1\n", "line 1: 'check' needs an item number"},
      {"Welcome -> 1\n", "line 1: 'Welcome' is not a dialog name"},
      {"prompt: -> 1\n", "line 1: \"prompt:\" needs an id"},
      {"folder:MSG_X ->\n", "line 1: a folder answer needs a folder"},
      {"folder:MSG_X set 1=\"a\" -> /x\n", "line 1: a folder question takes no settings"},
      {"control now\n", "line 1: unknown setting 'now'"},
  };
  for (const Case& c : cases) {
    std::string error = ParseError(c.text);
    EXPECT_NE(error.find(c.expected), std::string::npos)
        << "for " << c.text << "got: " << error << "\nwanted: " << c.expected;
  }
}

TEST(AnswerFileParse, QuotingRoundTripsAnyText) {
  const std::string nasty = "quote \" backslash \\ line\nreturn\r tab\t end\\";
  AnswerFile file = Parse("login set 5=" + QuoteAnswerText(nasty) + " -> 1\n");
  ASSERT_EQ(file.lines.size(), 1u);
  EXPECT_EQ(file.lines[0].settings[0].text, nasty);
  EXPECT_EQ(QuoteAnswerText("a\"b\\c"), "\"a\\\"b\\\\c\"");
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

TEST(AnswerFileRecord, OnlyChangedItemsBecomeSettings) {
  Dialog before = FormDialog();
  EXPECT_EQ(RecordAnswerLine(before, before, 2), "login -> 2");

  Dialog after = before;
  after.item(3)->text = "ann \"the\" admin";
  after.item(4)->text = "s3cret";
  after.item(5)->value = 0;
  ChooseRadio(after, 7);
  after.item(8)->selected = {0, 2};
  after.item(9)->selected.clear();
  EXPECT_EQ(RecordAnswerLine(before, after, 1),
            "login set 3=\"ann \\\"the\\\" admin\" set 4=\"s3cret\" uncheck 5 choose 7 "
            "select 0,2 select 9:none -> 1");
}

TEST(AnswerFileRecord, ChangesToHiddenOrDisabledItemsAreNotTheUsers) {
  Dialog before = FormDialog();
  Dialog after = before;
  after.item(3)->text = "cleared by the core";
  after.item(3)->enabled = false;
  after.item(5)->value = 0;
  after.item(5)->visible = false;
  EXPECT_EQ(RecordAnswerLine(before, after, 1), "login -> 1");
}

TEST(AnswerFileRecord, RecordedLineParsesBackToTheSameSettings) {
  Dialog before = FormDialog();
  before.name = "prompt";
  before.id = "Title with \"quotes\"";
  Dialog after = before;
  after.item(3)->text = "back\\slash";
  after.item(8)->selected = {1};

  AnswerFile file = Parse(RecordAnswerLine(before, after, 2) + "\n");
  ASSERT_EQ(file.lines.size(), 1u);
  const AnswerLine& line = file.lines[0];
  EXPECT_EQ(line.match, (AnswerMatch{MatchKind::kPrompt, "Title with \"quotes\""}));
  ASSERT_EQ(line.settings.size(), 2u);
  EXPECT_EQ(line.settings[0].text, "back\\slash");
  EXPECT_EQ(line.settings[1].rows, (std::vector<int>{1}));
  EXPECT_EQ(line.answer, 2);
}

TEST(AnswerFileRecord, FolderLinesQuoteOnlyWhenNeeded) {
  EXPECT_EQ(RecordFolderLine("MSG_Where", "/srv/my courses"),
            "folder:MSG_Where -> /srv/my courses");
  EXPECT_EQ(RecordFolderLine("MSG_Where", ""), "folder:MSG_Where -> \"\"");
  for (const std::string& folder :
       {std::string("/a\\b"), std::string(" /lead"), std::string("/trail "), std::string("\"/q")}) {
    AnswerFile file = Parse(RecordFolderLine("Where to?", folder) + "\n");
    ASSERT_EQ(file.lines.size(), 1u);
    EXPECT_EQ(file.lines[0].match.key, "Where to?");
    EXPECT_EQ(file.lines[0].folder, folder);
  }
}

}  // namespace
}  // namespace nuvel::ui
