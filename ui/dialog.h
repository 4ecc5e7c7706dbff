// The dialog model. Every dialog is a list of numbered items (buttons, texts, edit fields,
// radio buttons, check boxes, lists); the core builds a Dialog, hands it to ModalDialog(), and
// gets back the number of the item hit (999 for the window's close box) with the user's edits
// written back into the items. All dialog logic (radio groups, enabling a button when a row is
// selected, checking what was typed) stays in the core; a back end only shows items and
// reports hits.
//
// Three back ends implement the same interface: script (answer files, for tests and unattended
// deployment), terminal (a TTY without a display) and qt (a desktop). ModalDialog() also writes
// the transcript (--transcript) and the recorded answers (--record-answers) for every back end.
//
// The Control key belongs to one click: each back end latches whether it was held when a dialog
// was answered, and the latch holds until the next dialog is answered. --control (and an old
// answer file's plain "control" line) hold it for the whole run instead. Recorded answers write
// a latched click as the "control" setting of that dialog's line.
//
// Passwords are never written in clear: the transcript masks password fields, recorded answers
// hold them only in the form the dialog supplies (Dialog::recorded_password), and the script
// back end's messages mask the texts of answer lines that may be passwords.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel::ui {

enum class ItemKind {
  kButton,      // a push button; hitting it ends the dialog with its number
  kStaticText,  // a text the user reads (the message, a label)
  kEditText,    // a field the user types into; `text` holds its contents
  kPassword,    // an edit field whose contents are not shown
  kRadio,       // one of a group of choices; `value` 1 when chosen
  kCheckBox,    // `value` 1 when checked
  kList,        // rows in `lines`; `selected` holds the chosen rows (0-based)
  kTitle,       // the dialog's title line
  kPicture,     // a picture; `text` holds its path
};

struct DialogItem {
  int number = 0;  // 1-based, as the dialog's item numbers
  ItemKind kind = ItemKind::kStaticText;
  std::string text;
  bool visible = true;
  bool enabled = true;
  int value = 0;
  std::vector<std::string> lines;
  /// kList: a stable key per row, in the order of `lines` (the product folder, the family
  /// number, the language code, the installed course folder), so that answer files can choose
  /// a row by what it stands for rather than by where it stands. Empty when the rows have none;
  /// a row without a key has "".
  std::vector<std::string> keys;
  std::vector<int> selected;
  bool multiple = false;  // a list that allows several rows at once
};

struct Dialog {
  std::string name;  // "welcome", "prompt", "family", ... (answer files and transcripts)
  int resource = 0;  // the dialog resource number it stands for
  std::string id;    // the prompt id: its first MSG_ key, or its literal title
  std::string title;
  std::vector<DialogItem> items;
  int default_item = 1;
  int cancel_item = 2;
  /// The buttons whose hit acts on the selected rows (OK of the course lists, Uninstall). For
  /// them the recorded answers name the selected rows of a keyed list even when the user left
  /// the preselection alone: which row is preselected depends on the source.
  std::vector<int> selection_buttons;
  /// Called by the back end after the user changed an item (typed into a field, chose a radio
  /// button, checked a box, selected rows) and before a button is hit, so that the core can
  /// enable or disable items as its dialog logic requires. May be empty.
  std::function<void(Dialog& dialog, int item)> on_change;
  /// How the recorded answers (--record-answers) hold a password typed into this dialog: a
  /// scrambled form starting with "**__" that the dialog accepts back in place of the typed
  /// text. The typed text is never recorded: without this function, a password field the user
  /// changed is left out of the recorded line (a comment line before it says so), and an
  /// emptied field is recorded as "". May be empty.
  std::function<std::string(const std::string& typed)> recorded_password;

  /// The item with this number, or nullptr.
  DialogItem* item(int number);
  const DialogItem* item(int number) const;
  /// Adds an item and returns it; numbers follow the order of adding unless given.
  DialogItem& Add(ItemKind kind, std::string text, int number = 0);
};

/// The item number that stands for the window's close box.
inline constexpr int kCloseBox = 999;

/// Names of the dialogs built by the prompt front ends.
bool IsPromptName(const std::string& name);
/// True for a dialog built by a prompt front end. Welcome, the lists and uninstall carry ids too,
/// but are not prompts.
bool IsPrompt(const Dialog& dialog);

/// Makes radio item `number` the chosen one of its group: the radio items that follow one
/// another in item order, without another kind of item between them, form a group.
void ChooseRadio(Dialog& dialog, int number);

/// The state of the status box or the Records status strip, as a back end shows it.
struct StatusView {
  std::string title;
  std::string text;
  std::string detail;
  double progress = -1;  // 0..1 while a progress bar is shown, -1 without one
};

/// The one line of the Records status strip: the title, then "  -  " and the text when the text
/// is not empty, then "  -  " and the detail when the detail is not empty.
std::string StripText(const StatusView& view);

enum class Cursor { kArrow, kBusy };

/// A user-interface back end.
class Backend {
 public:
  virtual ~Backend() = default;

  /// Shows the dialog until an enabled, visible button is hit (or the close box); writes the
  /// user's edits into the items and returns the item number.
  virtual int ModalDialog(Dialog& dialog) = 0;

  /// Lets the user choose a folder. `id` is the prompt id of the question (answer files match
  /// it as "folder:<id>"). Returns the absolute folder, or "" when cancelled.
  virtual std::string ChooseFolder(const std::string& id, const std::string& prompt,
                                   const std::string& start) = 0;

  /// Shows or updates the status box; hides it.
  virtual void ShowStatus(const StatusView& view) = 0;
  virtual void HideStatus() = 0;
  /// Shows or updates the Records status strip (one line); hides it.
  virtual void ShowStrip(const StatusView& view) = 0;
  virtual void HideStrip() = 0;

  /// One turn of the event loop.
  virtual void PumpEvents() {}
  /// True when the user asked to stop the long operation under way.
  virtual bool StopRequested() { return false; }
  /// True when the Control key was down at the click that answered the last dialog or is down
  /// now (also true all the time when ControlKeyHeldForRun()).
  virtual bool ControlKeyLatched() = 0;
  /// True when the back end holds the Control key for the whole run (an answer file's plain
  /// "control" line).
  virtual bool ControlKeyHeldForRun() { return false; }
  /// True when nobody answers the dialogs in person (an answer file): waits that a person would
  /// end by answering are then bounded by the caller instead.
  virtual bool Unattended() { return false; }
  virtual void Beep() {}
  virtual void SetCursor(Cursor) {}
  /// Called once at the end of the run (reports unused answer lines, restores the terminal).
  virtual void Finish() {}
};

/// Makes `backend` the active back end, installs its event pump and makes the prompts show what
/// the lower layers tell the user (ShowBaseNotices).
void SetBackend(std::unique_ptr<Backend> backend);
/// The active back end. Before any is set, a stand-in without answers serves: a dialog or folder
/// question that nobody can answer ends the run (EndRunUnanswered) instead of blocking.
Backend& CurrentBackend();

/// Runs the dialog on the active back end, then logs it in the transcript and the recorded
/// answers.
int ModalDialog(Dialog& dialog);

/// Asks for a folder through the active back end (recorded as "folder:<id> -> path").
std::string ChooseFolder(const std::string& id, const std::string& prompt,
                         const std::string& start);

/// How many dialogs and folder questions were shown in this run: a flow that comes back to a
/// step without any shown in between is a loop the user cannot leave.
int DialogsShown();

/// Holds the Control key for the whole run (--control).
void HoldControlKey();
/// True when the Control key is held for the run, was down at the click that answered the last
/// dialog, or is down now.
bool IsControlKeyHeldDown();
/// IsControlKeyHeldDown() for the one step that the last click was meant for. The latch of that
/// click is then spent: IsControlKeyHeldDown() is false until the next dialog is answered, unless
/// Control is held for the whole run.
bool TakeControlKeyLatch();
/// TakeControlKeyLatch() for a step that a Control key held for the whole run must not trigger
/// (old answer files hold it for the run to pass Install Options): true only when Control was
/// down at the click that answered the last dialog. The latch is spent either way.
bool TakeControlKeyClick();

/// Starts writing the transcript (JSON Lines) / the recorded answers. "" stops.
bool OpenTranscript(const std::string& path);
bool OpenRecordedAnswers(const std::string& path);
/// Flushes and closes both, and lets the back end finish.
void FinishDialogs();

/// The transcript line of a dialog that ended with `answer` (JSON, no line end):
/// {"dialog":..,"id":..,"title":..,"text":..,"buttons":[..],"items":[..],"answer":N}. "text" is
/// the visible static texts joined by "\n", "buttons" the visible buttons in item order, "items"
/// (only when there are any) the visible edit, password, radio, check-box and list items; a list
/// whose rows have keys also gives "keys":[..] beside its "lines".
/// Password contents are masked. Invalid UTF-8 is replaced by U+FFFD, so every line is valid
/// JSON.
std::string TranscriptLine(const Dialog& dialog, int answer);
/// `text` as a JSON string (quotes included); invalid UTF-8 becomes U+FFFD, so the result is
/// always valid JSON.
std::string JsonQuoted(std::string_view text);

/// The transcript line of a folder question.
std::string FolderTranscriptLine(const std::string& id, const std::string& prompt,
                                 const std::string& start, const std::string& answer);

/// Exit status of a run whose answer file did not answer a dialog.
inline constexpr int kExitAnswerMismatch = 3;

/// Ends the run because a dialog has no answer: std::exit(kExitAnswerMismatch), or the test hook.
/// When the hook returns, the caller answers the dialog with the close box.
void EndRunUnanswered();
/// Replaces the way EndRunUnanswered ends the run; nullptr restores std::exit.
void SetNoAnswerExitHookForTesting(std::function<void(int status)> hook);

}  // namespace nuvel::ui
