// The answer-file syntax: read by the script back end, written by --record-answers for every
// back end (the dialog model records each dialog it shows).
//
//   # comment                        (a whole line; blank lines are ignored too)
//   <match> [settings] -> <answer>
//   control                          (the Control key is held for the whole run; kept for
//                                     files written before Control belonged to one answer)
//
// <match>: a dialog name ("welcome", "install-options", ...); "prompt:<id>" for the prompt with
// that id; "folder:<id>" for a folder question; the fall-backs "prompt:*" (any prompt),
// "folder:*" (any folder question) and "*" (anything). An id with spaces, quotes, backslashes
// or control characters, an empty id, and the literal id "*" are written quoted:
// prompt:"Nuvel Setup".
//
// Settings, applied in order before the answer:
//   set N="text"    the text of edit or password item N
//   select i,j      the selected rows (0-based) of the dialog's first list; "select N:i,j" for
//                   list item N; "select none" clears the selection. A row may also be named
//                   by its key (DialogItem::keys: product folder, family number, language
//                   code, installed course folder): "select 003MUL50", "select FRA,ENG".
//                   A bare word is a row number when it is all digits without a leading zero
//                   ("2", "10"); any other word ("003", "FRA", "003MUL50") is a key, and so is a
//                   quoted text ("select \"12\"" for a key that reads like a row number). The
//                   reading never depends on the list at hand, so a key absent from a list is
//                   reported (exit status 3, naming the key and the rows offered) instead of
//                   being taken for a row number. Rows and keys may be mixed: "select 0,FRA".
//   check N / uncheck N    check box N
//   choose N        radio item N becomes the chosen one of its group
//   control         the Control key is held for this answer's click: it stays latched until
//                   the next dialog is answered ("install-options control -> 1" goes past
//                   Install Options where the source asks for the Control key)
// Quoted texts escape `"` as \" and `\` as \\; \n, \r and \t stand for a line feed, a carriage
// return and a tab. Recorded answers never hold what was typed into a password field: they
// hold its scrambled form ("**__...", which the dialog accepts as given), or leave the field out
// (with a comment line) when the dialog has no such form; an emptied field is set N="".
// Recorded answers choose the rows of a list by key wherever the row has one, quoting a key
// that would otherwise read as a row number or holds a space, comma, colon or quote. A keyed
// list's selection is recorded whenever the answer acts on it (Dialog::selection_buttons), even
// when the user kept the preselected rows: on another source another row may be preselected.
//
// <answer>: the item number hit (999 for the close box). For folder questions, the folder (the
// rest of the line, or a quoted text; "" cancels). "* -> 1" accepts the proposed folder of a
// folder question, any other number cancels it.
//
// Messages and log lines show an answer line with the text of every "set" masked unless it went
// into an edit field of the dialog at hand: set 4=<password> for a password field, set
// 4=<hidden> where the field is not known (a line never used, an item the dialog does not have).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog.h"

namespace nuvel::ui {

struct AnswerSetting {
  enum class Kind { kSet, kSelect, kCheck, kUncheck, kChoose };
  Kind kind = Kind::kSet;
  int item = 0;      // the item number; for kSelect 0 means the dialog's first list
  std::string text;  // kSet
  // kSet: where the text (quotes included) stands in the line's source, so that messages can
  // mask it.
  std::size_t text_begin = 0;
  std::size_t text_end = 0;
  std::vector<int> rows;           // kSelect: rows chosen by number
  std::vector<std::string> keys;   // kSelect: rows chosen by key (DialogItem::keys)
};

struct AnswerMatch {
  enum class Kind { kName, kPrompt, kFolder, kAny, kAnyPrompt, kAnyFolder };
  Kind kind = Kind::kName;
  std::string key;  // the dialog name, prompt id or folder id

  bool IsFallback() const { return kind >= Kind::kAny; }
  bool operator==(const AnswerMatch&) const = default;
};

struct AnswerLine {
  int line_number = 0;
  std::string source;  // the line as written, for messages
  AnswerMatch match;
  std::vector<AnswerSetting> settings;
  bool control = false;  // the Control key is held for this answer's click
  int answer = 0;        // dialogs
  std::string folder;    // folder questions
};

struct AnswerFile {
  std::vector<AnswerLine> lines;
  bool control = false;  // a plain "control" line: held for the whole run
};

/// Parses answer-file text. On a malformed line returns false with "line N: what is wrong" in
/// *error (when given).
bool ParseAnswerFile(std::string_view text, AnswerFile& out, std::string* error);

/// `text` in double quotes with the escapes above.
std::string QuoteAnswerText(std::string_view text);

/// The match a dialog is recorded under: "prompt:<id>" for a prompt with an id, else its name
/// (Welcome, the lists and uninstall carry ids too, but are recorded by name).
AnswerMatch RecordedMatchOf(const Dialog& dialog);
/// The written form of a match ("welcome", prompt:"Nuvel Setup", "*", ...).
std::string MatchText(const AnswerMatch& match);

/// How a row key is written after "select": bare when it reads back as a key, else quoted.
std::string SelectKeyText(const std::string& key);

/// The line as messages show it: its source with the text of every "set" masked unless `dialog`
/// (the dialog it answered, nullptr when none) has an edit field of that number.
std::string ShownLine(const AnswerLine& line, const Dialog* dialog);

/// The answer-file line that replays one dialog: `before` as the core handed it to the back end,
/// `after` as the user left it, `answer` the item hit, `control` whether the Control key was held
/// for that click. Only the items the user changed give settings; a changed password field gives
/// the form of after.recorded_password, or, without one, a comment line ("# ...\n") before the
/// line instead of a setting.
std::string RecordAnswerLine(const Dialog& before, const Dialog& after, int answer,
                             bool control = false);
/// The answer-file line that replays a folder question.
std::string RecordFolderLine(const std::string& id, const std::string& folder);

}  // namespace nuvel::ui
