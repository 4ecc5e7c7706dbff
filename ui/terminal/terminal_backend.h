// The terminal back end: dialogs as text on a terminal without a display (an SSH session into a
// lab server). A dialog shows its title, its message and numbered choices; fields are asked for
// one after the other (Enter keeps the value shown in brackets), then the buttons:
//
//   == Nuvel Setup ==
//   Install the courses now?
//     [1] Install  [2] Quit  [4] Uninstall
//   > 1
//
// Buttons, radio buttons, fields and check boxes show the item numbers that answer files and
// transcripts use, and list rows are numbered from 0 as "select" writes them, so what a
// technician sees is what an answer file writes.
//
// At every question "control" holds the Control key for the click that answers this dialog
// (typed at a folder question: the next dialog's); it stays latched until the next dialog is
// answered, "close" closes the window (answer 999) and
// "?" shows the help line. The end of the input closes the window too,
// so a run never waits forever on a closed input. The status box and the Records strip are one
// line redrawn in place, with a text progress bar.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog.h"

namespace nuvel::ui {

/// The terminal as the back end uses it; tests give it scripted input.
class TerminalIo {
 public:
  virtual ~TerminalIo() = default;
  /// Reads one line without its end; false at the end of the input. `secret`: not echoed.
  virtual bool ReadLine(std::string& line, bool secret) = 0;
  virtual void Write(std::string_view text) = 0;
  /// The width in columns.
  virtual int Columns() = 0;
};

/// Standard input and output.
std::unique_ptr<TerminalIo> MakeConsoleIo();

class TerminalBackend : public Backend {
 public:
  explicit TerminalBackend(std::unique_ptr<TerminalIo> io);

  int ModalDialog(Dialog& dialog) override;
  std::string ChooseFolder(const std::string& id, const std::string& prompt,
                           const std::string& start) override;
  void ShowStatus(const StatusView& view) override;
  void HideStatus() override;
  void ShowStrip(const StatusView& view) override;
  void HideStrip() override;
  bool ControlKeyLatched() override { return latched_ || control_; }
  void Beep() override;
  void Finish() override;

 private:
  enum class Reply { kText, kClose };
  // Shows the dialog and takes its answer.
  int Answer(Dialog& dialog);
  // Asks `question` until `accept` takes the reply; handles "control", "close" and "?".
  // Returns kClose when the user closed the window or the input ended.
  template <typename Accept>
  Reply Ask(const std::string& question, bool secret, Accept accept);
  // Walks the fields, radio groups, check boxes and lists; false when the window was closed.
  bool AskInputs(Dialog& dialog);
  bool AskRadioGroup(Dialog& dialog, std::size_t first, std::size_t end);
  bool AskList(Dialog& dialog, std::size_t index);
  void Changed(Dialog& dialog, int number);
  // Draws `line` as the one status line, replacing what was there.
  void DrawStatusLine(const std::string& line);
  void ClearStatusLine();

  std::unique_ptr<TerminalIo> io_;
  bool control_ = false;  // typed "control" while answering the dialog under way
  bool latched_ = false;  // the Control key of the click that answered the last dialog
  bool help_shown_ = false;
  std::string drawn_;  // the status line on screen, "" when none
  bool status_shown_ = false;
  bool strip_shown_ = false;
  StatusView status_;
  StatusView strip_;
};

/// The terminal back end on standard input and output; nullptr with the reason in *error when
/// they are not an interactive terminal.
std::unique_ptr<Backend> MakeTerminalBackend(std::string* error);

/// The status line's text: the strip text of `view` and, when progress >= 0, a bar such as
/// "[######--------------]  30%", cut to `columns` - 1 characters.
std::string StatusLineText(const StatusView& view, int columns);

}  // namespace nuvel::ui
