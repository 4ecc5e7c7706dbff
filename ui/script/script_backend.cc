#include "ui/script/script_backend.h"

#include <algorithm>
#include <cstdio>

#include "base/log.h"
#include "platform/files.h"

namespace nuvel::ui {
namespace {

std::string QueueKey(const AnswerMatch& match) {
  switch (match.kind) {
    case AnswerMatch::Kind::kName:
      return "n:" + match.key;
    case AnswerMatch::Kind::kPrompt:
      return "p:" + match.key;
    case AnswerMatch::Kind::kFolder:
      return "f:" + match.key;
    case AnswerMatch::Kind::kAny:
      return "*";
    case AnswerMatch::Kind::kAnyPrompt:
      return "p*";
    case AnswerMatch::Kind::kAnyFolder:
      return "f*";
  }
  return "";
}

const char* KindName(ItemKind kind) {
  switch (kind) {
    case ItemKind::kButton:
      return "button";
    case ItemKind::kStaticText:
      return "text";
    case ItemKind::kEditText:
      return "edit field";
    case ItemKind::kPassword:
      return "password field";
    case ItemKind::kRadio:
      return "radio button";
    case ItemKind::kCheckBox:
      return "check box";
    case ItemKind::kList:
      return "list";
    case ItemKind::kTitle:
      return "title";
    case ItemKind::kPicture:
      return "picture";
  }
  return "item";
}

// "a check box", "an edit field".
std::string WithArticle(ItemKind kind) {
  std::string name = KindName(kind);
  return (std::string("aeiou").find(name.front()) != std::string::npos ? "an " : "a ") + name;
}

// A multi-line text lined up under its label; message texts break lines with CR.
std::string Indented(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\n' && c != '\r') {
      out.push_back(c);
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    out += "\n           ";
  }
  return out;
}

// A list row on one line: the tabs between its columns become two spaces, trailing ones go.
std::string RowText(const std::string& line) {
  std::string out;
  for (char c : line) {
    if (c == '\t') {
      if (out.size() < 2 || out.compare(out.size() - 2, 2, "  ") != 0) out += "  ";
    } else if (c != '\r' && c != '\n') {
      out.push_back(c);
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The dialog as the mismatch message shows it: name, id, title, message, buttons, fields.
std::string Describe(const Dialog& dialog) {
  std::string text = "  dialog: " + dialog.name;
  if (dialog.resource) text += " (resource " + std::to_string(dialog.resource) + ")";
  text += "\n  id: " + (dialog.id.empty() ? std::string("(none)") : dialog.id) + "\n";
  text += "  title: " + dialog.title + "\n";
  std::string message;
  std::string buttons;
  std::string fields;
  for (const DialogItem& item : dialog.items) {
    if (!item.visible) continue;
    std::string number = "[" + std::to_string(item.number) + "] ";
    switch (item.kind) {
      case ItemKind::kStaticText:
        if (!message.empty()) message += "\n";
        message += item.text;
        break;
      case ItemKind::kButton:
        buttons += "  " + number + item.text + (item.enabled ? "" : " (disabled)");
        break;
      case ItemKind::kEditText:
      case ItemKind::kRadio:
      case ItemKind::kCheckBox:
        fields += "    " + number + KindName(item.kind) + " " + QuoteAnswerText(item.text) + "\n";
        break;
      case ItemKind::kPassword:
        fields += "    " + number + KindName(item.kind) + "\n";
        break;
      case ItemKind::kList:
        // Every row, with its key, so that a technician sees what a file could have chosen.
        fields += "    " + number + KindName(item.kind) + "\n";
        for (std::size_t row = 0; row < item.lines.size(); ++row) {
          std::string key = row < item.keys.size() ? item.keys[row] : "";
          fields += "      row " + std::to_string(row) +
                    (key.empty() ? std::string() : "  key " + SelectKeyText(key)) + "  " +
                    RowText(item.lines[row]) + "\n";
        }
        break;
      case ItemKind::kTitle:
      case ItemKind::kPicture:
        break;
    }
  }
  text += "  message: " + Indented(message) + "\n";
  text += "  buttons:" + (buttons.empty() ? std::string(" (none)") : buttons) + "\n";
  if (!fields.empty()) text += "  items:\n" + fields;
  return text;
}

// Applies one setting; "" when done, else what does not fit.
std::string Apply(Dialog& dialog, const AnswerSetting& setting) {
  int number = setting.item;
  if (setting.kind == AnswerSetting::Kind::kSelect && number == 0) {
    for (const DialogItem& item : dialog.items) {
      if (item.kind == ItemKind::kList) {
        number = item.number;
        break;
      }
    }
    if (number == 0) return "'select' given, but the dialog has no list";
  }
  DialogItem* item = dialog.item(number);
  std::string name = "item " + std::to_string(number);
  if (!item) return name + " does not exist";
  auto expect = [&](std::initializer_list<ItemKind> kinds) -> std::string {
    if (std::find(kinds.begin(), kinds.end(), item->kind) == kinds.end()) {
      return name + " is " + WithArticle(item->kind) + ", not " + WithArticle(*kinds.begin());
    }
    if (!item->visible) return name + " is hidden";
    if (!item->enabled) return name + " is disabled";
    return "";
  };
  std::string problem;
  switch (setting.kind) {
    case AnswerSetting::Kind::kSet:
      problem = expect({ItemKind::kEditText, ItemKind::kPassword});
      if (problem.empty()) item->text = setting.text;
      break;
    case AnswerSetting::Kind::kCheck:
    case AnswerSetting::Kind::kUncheck:
      problem = expect({ItemKind::kCheckBox});
      if (problem.empty()) item->value = setting.kind == AnswerSetting::Kind::kCheck ? 1 : 0;
      break;
    case AnswerSetting::Kind::kChoose:
      problem = expect({ItemKind::kRadio});
      if (problem.empty()) ChooseRadio(dialog, number);
      break;
    case AnswerSetting::Kind::kSelect:
      problem = expect({ItemKind::kList});
      if (!problem.empty()) break;
    {
      if (!item->multiple && setting.rows.size() + setting.keys.size() > 1) {
        problem = name + " takes one row only";
        break;
      }
      std::vector<int> rows = setting.rows;
      for (int row : setting.rows) {
        if (row >= static_cast<int>(item->lines.size())) {
          problem = name + " has no row " + std::to_string(row) + " (it has " +
                    std::to_string(item->lines.size()) + ")";
          break;
        }
      }
      // A key names what the row stands for; one not on the list is a mismatch, never a guess.
      for (const std::string& key : setting.keys) {
        if (!problem.empty()) break;
        auto found = std::find(item->keys.begin(), item->keys.end(), key);
        if (found == item->keys.end()) {
          problem = name + " has no row with the key " + QuoteAnswerText(key) +
                    (item->keys.empty() ? " (its rows have no keys; choose them by number)"
                                        : " (the rows offered are listed below)");
          break;
        }
        rows.push_back(static_cast<int>(found - item->keys.begin()));
      }
      if (problem.empty()) item->selected = std::move(rows);
      break;
    }
  }
  if (problem.empty() && dialog.on_change) dialog.on_change(dialog, number);
  return problem;
}

// "" when `answer` may end the dialog, else why not.
std::string CheckAnswer(const Dialog& dialog, int answer) {
  if (answer == kCloseBox) return "";
  const DialogItem* item = dialog.item(answer);
  std::string name = "item " + std::to_string(answer);
  if (!item) return name + " does not exist";
  if (item->kind != ItemKind::kButton) return name + " is " + WithArticle(item->kind);
  if (!item->visible) return name + " is a hidden button";
  if (!item->enabled) return name + " is a disabled button";
  return "";
}

void WriteError(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

ScriptBackend::ScriptBackend(AnswerFile answers)
    : answers_(std::move(answers)), used_(answers_.lines.size(), false) {
  for (std::size_t i = 0; i < answers_.lines.size(); ++i) {
    queues_[QueueKey(answers_.lines[i].match)].push_back(i);
  }
}

AnswerLine* ScriptBackend::NextLine(const std::vector<AnswerMatch>& candidates, bool* fallback) {
  for (const AnswerMatch& match : candidates) {
    std::string key = QueueKey(match);
    auto queue = queues_.find(key);
    if (queue == queues_.end()) continue;
    std::size_t& next = next_[key];
    const std::vector<std::size_t>& lines = queue->second;
    std::size_t position;
    if (next < lines.size()) {
      position = next++;
    } else if (match.IsFallback()) {
      position = lines.size() - 1;  // the last fall-back line keeps answering
    } else {
      continue;
    }
    *fallback = match.IsFallback();
    used_[lines[position]] = true;
    return &answers_.lines[lines[position]];
  }
  return nullptr;
}

bool ScriptBackend::CountFallback(const std::string& dialog_key) {
  return ++fallback_uses_[dialog_key] <= kMaxFallbackAnswers;
}

void ScriptBackend::Fail(const std::string& reason, const std::string& description) {
  failed_ = true;
  base::WriteLogf(0, "Answer file: %s", reason.c_str());
  WriteError("nuvel-setup: " + reason + "\n" + description);
  EndRunUnanswered();
}

int ScriptBackend::ModalDialog(Dialog& dialog) {
  std::vector<AnswerMatch> candidates;
  if (!dialog.id.empty()) candidates.push_back({AnswerMatch::Kind::kPrompt, dialog.id});
  candidates.push_back({AnswerMatch::Kind::kName, dialog.name});
  if (IsPrompt(dialog)) candidates.push_back({AnswerMatch::Kind::kAnyPrompt, ""});
  candidates.push_back({AnswerMatch::Kind::kAny, ""});

  bool fallback = false;
  AnswerLine* line = NextLine(candidates, &fallback);
  // This click replaces the Control key of the one before.
  control_ = line && line->control;
  if (!line) {
    Fail("the answer file has no line for this dialog", Describe(dialog));
    return kCloseBox;
  }
  std::string at =
      "answer line " + std::to_string(line->line_number) + " (" + ShownLine(*line, &dialog) + ")";
  if (fallback && !CountFallback("d:" + dialog.name + ":" + dialog.id)) {
    Fail(at + " answered this dialog " + std::to_string(kMaxFallbackAnswers) +
             " times: stopping what looks like a loop",
         Describe(dialog));
    return kCloseBox;
  }
  for (const AnswerSetting& setting : line->settings) {
    std::string problem = Apply(dialog, setting);
    if (!problem.empty()) {
      Fail(at + " does not fit this dialog: " + problem, Describe(dialog));
      return kCloseBox;
    }
  }
  std::string problem = CheckAnswer(dialog, line->answer);
  if (!problem.empty()) {
    Fail(at + " does not fit this dialog: " + problem, Describe(dialog));
    return kCloseBox;
  }
  return line->answer;
}

std::string ScriptBackend::ChooseFolder(const std::string& id, const std::string& prompt,
                                        const std::string& start) {
  std::string description = "  dialog: folder\n  id: " + id + "\n  message: " + Indented(prompt) +
                            "\n  proposed folder: " + start + "\n";
  bool fallback = false;
  AnswerLine* line = NextLine({{AnswerMatch::Kind::kFolder, id},
                               {AnswerMatch::Kind::kAnyFolder, ""},
                               {AnswerMatch::Kind::kAny, ""}},
                              &fallback);
  if (!line) {
    Fail("the answer file has no line for this folder question", description);
    return "";
  }
  if (fallback && !CountFallback("f:" + id)) {
    Fail("answer line " + std::to_string(line->line_number) + " (" + ShownLine(*line, nullptr) +
             ") answered this folder question " + std::to_string(kMaxFallbackAnswers) +
             " times: stopping what looks like a loop",
         description);
    return "";
  }
  if (line->match.kind == AnswerMatch::Kind::kAny) return line->answer == 1 ? start : "";
  return line->folder;
}

void ScriptBackend::ShowStatus(const StatusView& view) {
  status_ = view;
  status_shown_ = true;
}
void ScriptBackend::HideStatus() { status_shown_ = false; }
void ScriptBackend::ShowStrip(const StatusView& view) {
  strip_ = view;
  strip_shown_ = true;
}
void ScriptBackend::HideStrip() { strip_shown_ = false; }

void ScriptBackend::Finish() {
  if (finished_) return;
  finished_ = true;
  for (std::size_t i = 0; i < answers_.lines.size(); ++i) {
    if (used_[i]) continue;
    const AnswerLine& line = answers_.lines[i];
    std::string text = "answer line " + std::to_string(line.line_number) +
                       " never used: " + ShownLine(line, nullptr);
    base::WriteLogf(1, "Answer file: %s", text.c_str());
    WriteError("nuvel-setup: " + text + "\n");
  }
}

std::unique_ptr<Backend> MakeScriptBackend(const std::string& answer_text, std::string* error) {
  AnswerFile answers;
  if (!ParseAnswerFile(answer_text, answers, error)) return nullptr;
  return std::make_unique<ScriptBackend>(std::move(answers));
}

std::unique_ptr<Backend> LoadScriptBackend(const std::string& path, std::string* error) {
  std::string text;
  if (std::error_code ec = platform::ReadFile(path, text)) {
    if (error) *error = "cannot read the answer file " + path + ": " + ec.message();
    return nullptr;
  }
  std::string problem;
  auto backend = MakeScriptBackend(text, &problem);
  if (!backend && error) *error = "answer file " + path + ", " + problem;
  return backend;
}

}  // namespace nuvel::ui
