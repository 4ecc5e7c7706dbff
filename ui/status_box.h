// The status box of long operations (three lines and, during copies and downloads, a progress
// bar) and the Records status strip (the same three texts on one line). Neither takes input;
// every update gives the event loop one turn so that the application keeps answering.
//
// Text arguments that contain "MSG_" are looked up as message keys; a null argument leaves its
// line as it was.
#pragma once

#include "ui/dialog.h"

namespace nuvel::ui {

struct StatusBoxState {
  int gShowStatusBox = 1;         // 0: no status box is ever shown
  bool exists = false;            // gStatusBox
  int gStatusBoxVisible = 0;
  int Status_Box_Leave_Open = 0;  // 1: destroying does nothing
  int Status_Bar = 0;             // 2 while an overall progress run spans several operations
  StatusView box;                 // StatusBoxTitle, GroupLabel, subGroupLabel, progress

  bool tcpExists = false;         // TCPStatusBox
  int TCPStatusBoxVisible = 0;
  StatusView strip;               // TCPStatusBoxTitle, TCPGroupLabel, TCPsubGroupLabel

  void reset() { *this = StatusBoxState{}; }
};

StatusBoxState& StatusBox();

/// 0 when a box was created (or nothing is to be shown), -1 when an existing box was shown again.
int StatusBoxCreate();
/// Replaces the given lines (null: unchanged), shows the box and gives the event loop a turn.
int StatusBoxUpdate(const char* title, const char* text, const char* detail);
/// -1 when there is no box, else 0.
int StatusBoxHide();
/// 1 while Status_Bar is 2 (nothing done); 0 after destroying or when there is nothing to do;
/// -1 when the switch is on but no box exists.
int StatusBoxDestroy();
int GetStatusBoxVisible();

/// Shows the progress bar at `fraction` (0..1); RemoveProgress takes it away.
void StatusBoxProgress(double fraction);
/// After the user clicked Stop during a copy or a download: hides the box and asks whether to
/// stop (MSG_Message_FilesBeingCopied with Continue / Cancel). True when the user chose to stop;
/// otherwise the box is shown again and the work goes on.
bool StatusBoxAskToStop();
void StatusBoxRemoveProgress();

int TCPStatusBoxCreate();
int TCPStatusBoxUpdate(const char* title, const char* text, const char* detail);
void TCPStatusBoxClear();
void TCPStatusBoxHide();
void TCPStatusBoxDestroy();
int TCPGetStatusVisible();

}  // namespace nuvel::ui
