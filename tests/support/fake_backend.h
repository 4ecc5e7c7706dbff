// A back end for tests: answers dialogs through a function, records what it was shown.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/dialog.h"

namespace nuvel::ui::testing {

class FakeBackend : public Backend {
 public:
  int ModalDialog(Dialog& dialog) override {
    shown.push_back(dialog);
    return answer ? answer(dialog) : 1;
  }
  std::string ChooseFolder(const std::string& id, const std::string&,
                           const std::string& start) override {
    folder_ids.push_back(id);
    return folder.empty() ? start : folder;
  }
  void ShowStatus(const StatusView& view) override {
    status = view;
    status_shown = true;
    events.push_back("show " + view.title + "|" + view.text + "|" + view.detail);
  }
  void HideStatus() override {
    status_shown = false;
    events.push_back("hide");
  }
  void ShowStrip(const StatusView& view) override {
    strip = view;
    strip_shown = true;
    events.push_back("strip " + StripText(view));
  }
  void HideStrip() override {
    strip_shown = false;
    events.push_back("hide-strip");
  }
  void PumpEvents() override { ++pumps; }
  bool ControlKeyLatched() override { return control; }

  std::function<int(Dialog&)> answer;  // empty: the first button
  std::string folder;                  // empty: the proposed folder
  bool control = false;

  std::vector<Dialog> shown;  // every dialog as the core handed it over
  std::vector<std::string> folder_ids;
  std::vector<std::string> events;  // status box and strip calls, in order
  StatusView status;
  StatusView strip;
  bool status_shown = false;
  bool strip_shown = false;
  int pumps = 0;
};

}  // namespace nuvel::ui::testing
