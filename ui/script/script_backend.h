// The script back end: answers every dialog from an answer file (syntax in ui/answer_file.h),
// for tests and unattended deployment.
//
// Matching: each match keeps its own queue, in file order. A dialog takes the next unused line
// of "prompt:<id>" (any dialog with that id, so that files recorded before dialogs were recorded
// by name still replay) or "folder:<id>", else of its dialog name, else the fall-backs
// "prompt:*" (the dialogs of the prompt front ends only, never Welcome, the lists or uninstall)
// or "folder:*" (folder questions only), else "*". Fall-back lines are
// used in order and the last one is used again and again, but at most 50 times for the same
// dialog id: the 51st ends the run as a loop. A dialog without an answer, an answer that names
// an item that is not an enabled, visible button, and a setting that does not fit the dialog
// end the run with exit status 3 and a message on standard error naming the dialog, its id and
// its texts (EndRunUnanswered). At the end of the run, every line never used is reported on
// standard error.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/answer_file.h"
#include "ui/dialog.h"

namespace nuvel::ui {

/// A fall-back answers at most this many dialogs of the same id.
inline constexpr int kMaxFallbackAnswers = 50;

class ScriptBackend : public Backend {
 public:
  explicit ScriptBackend(AnswerFile answers);

  int ModalDialog(Dialog& dialog) override;
  std::string ChooseFolder(const std::string& id, const std::string& prompt,
                           const std::string& start) override;
  void ShowStatus(const StatusView& view) override;
  void HideStatus() override;
  void ShowStrip(const StatusView& view) override;
  void HideStrip() override;
  /// The "control" setting of the line that answered the last dialog, or a plain "control" line.
  bool ControlKeyLatched() override { return answers_.control || control_; }
  bool ControlKeyHeldForRun() override { return answers_.control; }
  bool Unattended() override { return true; }
  void Finish() override;

  /// The status box and the strip as last shown; whether they are shown now.
  const StatusView& status() const { return status_; }
  bool status_shown() const { return status_shown_; }
  const StatusView& strip() const { return strip_; }
  bool strip_shown() const { return strip_shown_; }
  /// True once a dialog could not be answered (seen only when the exit hook returns).
  bool failed() const { return failed_; }

 private:
  // The next line for a dialog among `candidates` (in priority order), or nullptr; sets
  // *fallback when it came from a fall-back.
  AnswerLine* NextLine(const std::vector<AnswerMatch>& candidates, bool* fallback);
  // Counts a fall-back use for the dialog id; false once the limit is passed.
  bool CountFallback(const std::string& dialog_key);
  // Writes the reason and the dialog's texts to standard error and ends the run.
  void Fail(const std::string& reason, const std::string& description);

  AnswerFile answers_;
  std::vector<bool> used_;
  std::map<std::string, std::vector<std::size_t>> queues_;  // by match, in file order
  std::map<std::string, std::size_t> next_;                 // next queue position by match
  std::map<std::string, int> fallback_uses_;                // by dialog id
  StatusView status_;
  StatusView strip_;
  bool status_shown_ = false;
  bool strip_shown_ = false;
  bool failed_ = false;
  bool finished_ = false;
  bool control_ = false;  // the Control key of the last answered dialog
};

/// A script back end answering from `answer_text`; nullptr with the reason in *error when the
/// text is malformed.
std::unique_ptr<Backend> MakeScriptBackend(const std::string& answer_text, std::string* error);
/// The same from a file; the error names the file and the line.
std::unique_ptr<Backend> LoadScriptBackend(const std::string& path, std::string* error);

}  // namespace nuvel::ui
