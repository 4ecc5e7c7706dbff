// The Qt back end: the dialogs as desktop windows (Qt 6 Widgets). Every dialog of the model is
// drawn by one generic renderer: the title item as a heading, the messages, then the inputs in
// item order (a field beside the text in front of it, radio groups, check boxes, lists), a
// picture on the leading side, and the buttons in a row at the bottom (a button followed by a
// text, such as Browse and the folder it chose, stays in the body beside that text).
//
// Every change the user makes is written into the items at once and handed to the dialog's
// on_change; the widgets are then refreshed from the model, so the core's enabling rules show
// immediately. Return hits the model's default button, Escape its cancel button, the window's
// close box answers 999. Whether Control was held is read (queryKeyboardModifiers) at the click
// that answers the dialog.
//
// The status box and the Records strip are modeless windows; the core pumps events while it
// works, which keeps them drawn and the Stop button answering. The layout runs right to left
// while the interface language is written that way.
//
// Widgets carry object names that tests find them by: "item<N>" for the item numbered N,
// "status", "status-stop", "status-progress", "strip", and the dialog is "dialog-<name>".
// Test seam: with NUVEL_TEST_CLOSE_FIRST_DIALOG set, the first dialog of the run is closed as
// soon as it is drawn (its close box answers), so that a benchmark can time the start-up to the
// Welcome with the real program.
//
// This header needs no Qt headers: only ui/qt/ includes them.
#pragma once

#include <memory>
#include <string>

#include "ui/dialog.h"

namespace nuvel::ui {

class QtBackend : public Backend {
 public:
  /// A QApplication must exist (MakeQtBackend creates one).
  QtBackend();
  ~QtBackend() override;

  int ModalDialog(Dialog& dialog) override;
  std::string ChooseFolder(const std::string& id, const std::string& prompt,
                           const std::string& start) override;
  void ShowStatus(const StatusView& view) override;
  void HideStatus() override;
  void ShowStrip(const StatusView& view) override;
  void HideStrip() override;
  void PumpEvents() override;
  /// True once for each click on Stop (or the status box's close box) since the last call.
  bool StopRequested() override;
  bool ControlKeyLatched() override;
  void Beep() override;
  void SetCursor(Cursor cursor) override;
  void Finish() override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

/// True for an interface language written right to left (its three-letter code).
bool IsRightToLeftLanguage(const std::string& code);

/// Creates the application object (once per process) and the back end; nullptr with the reason
/// in *error when there is no display to show windows on.
std::unique_ptr<Backend> MakeQtBackend(std::string* error);

}  // namespace nuvel::ui
