#include "ui/status_box.h"

#include <algorithm>
#include <string_view>

#include "base/strings.h"
#include "platform/events.h"
#include "platform/run_reset.h"
#include "ui/prompts.h"
#include "ui/run_report.h"

namespace nuvel::ui {
namespace {

constexpr std::string_view kKeyMark = "MSG_";

// A text that holds a message key shows the key's text in its place; any text before the key
// stays as it is ("3/7 MSG_Copying" shows "3/7 " and the text of MSG_Copying).
std::string ShownText(const char* text) {
  std::string_view view(text);
  std::size_t key = view.find(kKeyMark);
  if (key == std::string_view::npos) return std::string(view);
  return std::string(view.substr(0, key)) + base::Localize(view.substr(key));
}

void ReplaceLines(StatusView& view, const char* title, const char* text, const char* detail) {
  if (title) view.title = ShownText(title);
  if (text) view.text = ShownText(text);
  if (detail) view.detail = ShownText(detail);
}

// Shows the box as it stands now, when it is on screen.
void RedrawBox() {
  StatusBoxState& state = StatusBox();
  if (state.gShowStatusBox && state.exists && state.gStatusBoxVisible) {
    CurrentBackend().ShowStatus(state.box);
  }
}

}  // namespace

StatusBoxState& StatusBox() {
  static StatusBoxState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("ui::StatusBox", [] { state.reset(); });
  return state;
}

int StatusBoxCreate() {
  StatusBoxState& state = StatusBox();
  if (!state.gShowStatusBox) return 0;
  bool existed = state.exists;
  state.exists = true;
  state.gStatusBoxVisible = 1;
  CurrentBackend().ShowStatus(state.box);
  return existed ? -1 : 0;
}

int StatusBoxUpdate(const char* title, const char* text, const char* detail) {
  StatusBoxState& state = StatusBox();
  if (!state.gShowStatusBox) return 0;
  ReplaceLines(state.box, title, text, detail);
  state.exists = true;
  state.gStatusBoxVisible = 1;
  CurrentBackend().ShowStatus(state.box);
  platform::PumpEvents();
  return 0;
}

int StatusBoxHide() {
  StatusBoxState& state = StatusBox();
  // With the switch off there never is a box, and hiding it is no error.
  if (!state.gShowStatusBox) return 0;
  if (!state.exists) return -1;
  if (state.gStatusBoxVisible) CurrentBackend().HideStatus();
  state.gStatusBoxVisible = 0;
  return 0;
}

int StatusBoxDestroy() {
  StatusBoxState& state = StatusBox();
  if (state.Status_Bar == 2) return 1;
  if (!state.gShowStatusBox) return 0;
  if (!state.exists) return -1;
  if (state.Status_Box_Leave_Open) return 0;
  state.box.progress = -1;
  CurrentBackend().HideStatus();
  state.exists = false;
  state.gStatusBoxVisible = 0;
  return 0;
}

int GetStatusBoxVisible() {
  const StatusBoxState& state = StatusBox();
  return state.exists && state.gStatusBoxVisible && state.gShowStatusBox ? 1 : 0;
}

void StatusBoxProgress(double fraction) {
  StatusBox().box.progress = std::clamp(fraction, 0.0, 1.0);
  ReportProgress(fraction, StatusBox().box.text);
  RedrawBox();
  platform::PumpEvents();
}

bool StatusBoxAskToStop() {
  StatusBoxHide();
  bool stop = Ask({.message = "MSG_Message_FilesBeingCopied",
                   .title = "MSG_Message_FilesBeingCopied",
                   .buttons = {"MSG_Dialog_Button_Continue", "MSG_Button_Cancel"}}) == 2;
  if (!stop && StatusBox().exists) StatusBoxUpdate(nullptr, nullptr, nullptr);
  return stop;
}

void StatusBoxRemoveProgress() {
  StatusBoxState& state = StatusBox();
  ReportProgressEnded();
  if (state.box.progress < 0) return;
  state.box.progress = -1;
  RedrawBox();
}

int TCPStatusBoxCreate() {
  StatusBoxState& state = StatusBox();
  bool existed = state.tcpExists;
  state.tcpExists = true;
  state.TCPStatusBoxVisible = 1;
  CurrentBackend().ShowStrip(state.strip);
  return existed ? -1 : 0;
}

int TCPStatusBoxUpdate(const char* title, const char* text, const char* detail) {
  StatusBoxState& state = StatusBox();
  ReplaceLines(state.strip, title, text, detail);
  state.tcpExists = true;
  state.TCPStatusBoxVisible = 1;
  CurrentBackend().ShowStrip(state.strip);
  platform::PumpEvents();
  return 0;
}

void TCPStatusBoxClear() { TCPStatusBoxUpdate("Idle...", "", ""); }

void TCPStatusBoxHide() {
  StatusBoxState& state = StatusBox();
  if (!state.tcpExists) return;
  if (state.TCPStatusBoxVisible) CurrentBackend().HideStrip();
  state.TCPStatusBoxVisible = 0;
}

void TCPStatusBoxDestroy() {
  StatusBoxState& state = StatusBox();
  if (!state.tcpExists) return;
  CurrentBackend().HideStrip();
  state.tcpExists = false;
  state.TCPStatusBoxVisible = 0;
}

int TCPGetStatusVisible() {
  const StatusBoxState& state = StatusBox();
  return state.tcpExists && state.TCPStatusBoxVisible ? 1 : 0;
}

}  // namespace nuvel::ui
