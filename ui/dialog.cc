#include "ui/dialog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "base/log.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/run_reset.h"
#include "ui/answer_file.h"
#include "ui/prompts.h"
#include "ui/run_report.h"

namespace nuvel::ui {
namespace {

struct DialogModule {
  std::unique_ptr<Backend> backend;
  std::string transcript;  // path of the transcript, "" when none is written
  std::string answers;     // path of the recorded answers, "" when none are written
  bool control_forced = false;  // --control: held for the whole run
  int dialogs_shown = 0;
  bool latch_taken = false;     // the last click's Control key was spent by TakeControlKeyLatch

  // A new run has shown no dialog and spent no click. The back end, the transcript, the recorded
  // answers and a Control key held for the run are set up before the run starts, and stay.
  void reset() {
    dialogs_shown = 0;
    latch_taken = false;
  }
};

DialogModule& Module() {
  static DialogModule module;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("ui::dialog module", [] { module.reset(); });
  return module;
}

// Not run state: a test sets it around the runs it makes, as it sets the back end.
std::function<void(int)>& NoAnswerExitHook() {
  static std::function<void(int)> hook;
  return hook;
}

// The back end makes the event loop turn and shows what the lower layers tell the user.
void ConnectBackend() {
  platform::SetEventPump([] { CurrentBackend().PumpEvents(); });
  ShowBaseNotices();
}

// Stands in until a back end is set. Nobody is there to answer, so the first dialog or folder
// question ends the run instead of waiting for ever; the status box and the strip go nowhere.
class NoAnswerBackend : public Backend {
 public:
  int ModalDialog(Dialog& dialog) override {
    Unanswered("dialog " + dialog.name + " (id " + (dialog.id.empty() ? "none" : dialog.id) + ")");
    return kCloseBox;
  }
  std::string ChooseFolder(const std::string& id, const std::string&, const std::string&) override {
    Unanswered("folder question " + (id.empty() ? std::string("(no id)") : id));
    return "";
  }
  void ShowStatus(const StatusView&) override {}
  void HideStatus() override {}
  void ShowStrip(const StatusView&) override {}
  void HideStrip() override {}
  bool ControlKeyLatched() override { return false; }

 private:
  static void Unanswered(const std::string& what) {
    base::WriteLogf(0, "No user interface answers the %s", what.c_str());
    std::fputs(("nuvel-setup: no user interface answers the " + what + "\n").c_str(), stderr);
    std::fflush(stderr);
    EndRunUnanswered();
  }
};

// Length of the valid UTF-8 sequence at `s[i]`, or 0 when it is not one.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = byte(i);
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;  // no overlong forms
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return n;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else if (std::size_t n = Utf8Length(text, i); n == 0) {
          out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
        } else {
          out.append(text.substr(i, n));
          i += n;
          continue;
        }
    }
    ++i;
  }
  return out + "\"";
}

const char* TranscriptKind(ItemKind kind) {
  switch (kind) {
    case ItemKind::kEditText:
      return "edit";
    case ItemKind::kPassword:
      return "password";
    case ItemKind::kRadio:
      return "radio";
    case ItemKind::kCheckBox:
      return "checkbox";
    case ItemKind::kList:
      return "list";
    default:
      return nullptr;
  }
}

std::string JsonItem(const DialogItem& item, const char* kind) {
  std::string out = "{\"number\":" + std::to_string(item.number) + ",\"kind\":\"" + kind + "\"";
  switch (item.kind) {
    case ItemKind::kEditText:
      out += ",\"text\":" + JsonString(item.text);
      break;
    case ItemKind::kPassword:
      // What was typed never goes into the transcript; only whether something was.
      out += ",\"text\":" + JsonString(item.text.empty() ? "" : "********");
      break;
    case ItemKind::kRadio:
    case ItemKind::kCheckBox:
      out += ",\"text\":" + JsonString(item.text) + ",\"value\":" + std::to_string(item.value);
      break;
    case ItemKind::kList: {
      out += ",\"lines\":[";
      for (std::size_t i = 0; i < item.lines.size(); ++i) {
        out += (i ? "," : "") + JsonString(item.lines[i]);
      }
      out += "]";
      if (!item.keys.empty()) {
        out += ",\"keys\":[";
        for (std::size_t i = 0; i < item.keys.size(); ++i) {
          out += (i ? "," : "") + JsonString(item.keys[i]);
        }
        out += "]";
      }
      out += ",\"selected\":[";
      for (std::size_t i = 0; i < item.selected.size(); ++i) {
        out += (i ? "," : "") + std::to_string(item.selected[i]);
      }
      out += "]";
      break;
    }
    default:
      break;
  }
  if (!item.enabled) out += ",\"enabled\":false";
  return out + "}";
}

void Append(const std::string& path, const std::string& line) {
  if (!path.empty()) platform::AppendToFile(path, line + "\n");
}

bool StartFile(std::string& slot, const std::string& path, std::string_view header) {
  slot.clear();
  if (path.empty()) return true;
  if (platform::WriteFileAtomic(path, header)) return false;
  slot = path;
  return true;
}

}  // namespace

DialogItem* Dialog::item(int number) {
  for (DialogItem& it : items) {
    if (it.number == number) return &it;
  }
  return nullptr;
}

const DialogItem* Dialog::item(int number) const {
  for (const DialogItem& it : items) {
    if (it.number == number) return &it;
  }
  return nullptr;
}

DialogItem& Dialog::Add(ItemKind kind, std::string text, int number) {
  DialogItem added;
  added.kind = kind;
  added.text = std::move(text);
  int last = 0;
  for (const DialogItem& it : items) last = std::max(last, it.number);
  added.number = number > 0 ? number : last + 1;
  items.push_back(std::move(added));
  return items.back();
}

bool IsPromptName(const std::string& name) {
  return name == "prompt" || name == "radio" || name == "checkbox" || name == "listbox" ||
         name == "show-file";
}

bool IsPrompt(const Dialog& dialog) { return IsPromptName(dialog.name); }

void ChooseRadio(Dialog& dialog, int number) {
  auto& items = dialog.items;
  auto chosen = std::find_if(items.begin(), items.end(), [&](const DialogItem& it) {
    return it.number == number && it.kind == ItemKind::kRadio;
  });
  if (chosen == items.end()) return;
  auto first = chosen;
  while (first != items.begin() && std::prev(first)->kind == ItemKind::kRadio) --first;
  for (auto it = first; it != items.end() && it->kind == ItemKind::kRadio; ++it) {
    it->value = it == chosen ? 1 : 0;
  }
}

std::string StripText(const StatusView& view) {
  std::string line = view.title;
  if (!view.text.empty()) line += "  -  " + view.text;
  if (!view.detail.empty()) line += "  -  " + view.detail;
  return line;
}

std::string TranscriptLine(const Dialog& dialog, int answer) {
  std::string text;
  std::string buttons;
  std::string items;
  for (const DialogItem& item : dialog.items) {
    if (!item.visible) continue;
    if (item.kind == ItemKind::kStaticText) {
      if (!text.empty()) text += "\n";
      text += item.text;
    } else if (item.kind == ItemKind::kButton) {
      buttons += (buttons.empty() ? "" : ",") + JsonString(item.text);
    } else if (const char* kind = TranscriptKind(item.kind)) {
      items += (items.empty() ? "" : ",") + JsonItem(item, kind);
    }
  }
  std::string line = "{\"dialog\":" + JsonString(dialog.name) + ",\"id\":" + JsonString(dialog.id) +
                     ",\"title\":" + JsonString(dialog.title) + ",\"text\":" + JsonString(text) +
                     ",\"buttons\":[" + buttons + "]";
  if (!items.empty()) line += ",\"items\":[" + items + "]";
  return line + ",\"answer\":" + std::to_string(answer) + "}";
}

std::string JsonQuoted(std::string_view text) { return JsonString(text); }

std::string FolderTranscriptLine(const std::string& id, const std::string& prompt,
                                 const std::string& start, const std::string& answer) {
  return "{\"dialog\":\"folder\",\"id\":" + JsonString(id) + ",\"text\":" + JsonString(prompt) +
         ",\"start\":" + JsonString(start) + ",\"answer\":" + JsonString(answer) + "}";
}

void SetBackend(std::unique_ptr<Backend> backend) {
  Module().backend = std::move(backend);
  ConnectBackend();
}

Backend& CurrentBackend() {
  DialogModule& module = Module();
  if (!module.backend) {
    module.backend = std::make_unique<NoAnswerBackend>();
    ConnectBackend();
  }
  return *module.backend;
}

void EndRunUnanswered() {
  PrintRunSummary(kExitAnswerMismatch);
  if (NoAnswerExitHook()) {
    NoAnswerExitHook()(kExitAnswerMismatch);
  } else {
    std::exit(kExitAnswerMismatch);
  }
}

void SetNoAnswerExitHookForTesting(std::function<void(int status)> hook) {
  NoAnswerExitHook() = std::move(hook);
}

int ModalDialog(Dialog& dialog) {
  Backend& backend = CurrentBackend();
  DialogModule& module = Module();
  Dialog before = dialog;
  ++module.dialogs_shown;
  int hit = backend.ModalDialog(dialog);
  module.latch_taken = false;
  // Control held for the whole run is written once, as a plain "control" line at the end.
  bool control =
      !module.control_forced && !backend.ControlKeyHeldForRun() && backend.ControlKeyLatched();
  Append(module.transcript, TranscriptLine(dialog, hit));
  Append(module.answers, RecordAnswerLine(before, dialog, hit, control));
  return hit;
}

std::string ChooseFolder(const std::string& id, const std::string& prompt,
                         const std::string& start) {
  Backend& backend = CurrentBackend();
  DialogModule& module = Module();
  ++module.dialogs_shown;
  std::string folder = backend.ChooseFolder(id, prompt, start);
  Append(module.transcript, FolderTranscriptLine(id, prompt, start, folder));
  Append(module.answers, RecordFolderLine(id, folder));
  return folder;
}

void HoldControlKey() { Module().control_forced = true; }

int DialogsShown() { return Module().dialogs_shown; }

bool IsControlKeyHeldDown() {
  DialogModule& module = Module();
  Backend& backend = CurrentBackend();
  if (module.control_forced || backend.ControlKeyHeldForRun()) return true;
  return !module.latch_taken && backend.ControlKeyLatched();
}

bool TakeControlKeyLatch() {
  bool held = IsControlKeyHeldDown();
  Module().latch_taken = true;
  return held;
}

bool TakeControlKeyClick() {
  DialogModule& module = Module();
  Backend& backend = CurrentBackend();
  bool clicked = !module.control_forced && !backend.ControlKeyHeldForRun() &&
                 !module.latch_taken && backend.ControlKeyLatched();
  module.latch_taken = true;
  return clicked;
}

bool OpenTranscript(const std::string& path) { return StartFile(Module().transcript, path, ""); }

bool OpenRecordedAnswers(const std::string& path) {
  return StartFile(Module().answers, path,
                   "# Answers recorded by nuvel-setup; replay them with --answers FILE\n");
}

void FinishDialogs() {
  DialogModule& module = Module();
  Backend& backend = CurrentBackend();
  if (module.control_forced || backend.ControlKeyHeldForRun()) Append(module.answers, "control");
  module.transcript.clear();
  module.answers.clear();
  module.control_forced = false;
  module.latch_taken = false;
  backend.Finish();
}

}  // namespace nuvel::ui
