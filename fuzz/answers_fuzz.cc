// Answer files: any text parses or is refused with a reason, and a parsed line that answers a
// dialog is recorded as a line that, parsed again, answers the same dialog the same way.
#include <algorithm>
#include <map>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "ui/script/script_backend.h"

namespace {

using namespace nuvel;
using ui::AnswerLine;
using ui::AnswerMatch;
using ui::AnswerSetting;
using ui::Dialog;
using ui::ItemKind;

// The number of the list that "select" without a number reaches when the line names no list.
constexpr int kImplicitList = 10000;

bool failed = false;

// A dialog that the line's settings and answer fit, with the items at their starting state;
// false when the settings contradict one another (one item number for two kinds of item).
bool DialogFor(const AnswerLine& line, Dialog& dialog) {
  std::map<int, ItemKind> kinds;
  std::map<int, std::size_t> rows;
  std::map<int, bool> multiple;
  bool implicit_list = false;
  auto want = [&](int number, ItemKind kind) {
    auto [it, added] = kinds.emplace(number, kind);
    return added || it->second == kind;
  };
  for (const AnswerSetting& setting : line.settings) {
    ItemKind kind = ItemKind::kList;
    switch (setting.kind) {
      case AnswerSetting::Kind::kSet:
        kind = ItemKind::kEditText;  // password fields are recorded in another form
        break;
      case AnswerSetting::Kind::kCheck:
      case AnswerSetting::Kind::kUncheck:
        kind = ItemKind::kCheckBox;
        break;
      case AnswerSetting::Kind::kChoose:
        kind = ItemKind::kRadio;
        break;
      case AnswerSetting::Kind::kSelect:
        break;
    }
    if (setting.kind == AnswerSetting::Kind::kSelect) {
      int number = setting.item;
      if (number == 0) {
        implicit_list = true;
        number = kImplicitList;
      }
      std::size_t needed = 0;
      for (int row : setting.rows) needed = std::max(needed, static_cast<std::size_t>(row) + 1);
      rows[number] = std::max(rows[number], needed);
      if (setting.rows.size() > 1) multiple[number] = true;
    }
    int number = setting.kind == AnswerSetting::Kind::kSelect && setting.item == 0
                     ? kImplicitList
                     : setting.item;
    if (number == 0 || !want(number, kind)) return false;
  }
  // "select" without a number reaches the first list: the line's own lists come first.
  if (implicit_list && kinds.size() > 1 &&
      std::any_of(kinds.begin(), kinds.end(), [](const auto& entry) {
        return entry.first != kImplicitList && entry.second == ItemKind::kList;
      })) {
    return false;
  }
  if (line.answer != ui::kCloseBox && !want(line.answer, ItemKind::kButton)) return false;

  if (line.match.kind == AnswerMatch::Kind::kPrompt) {
    dialog.name = "prompt";
    dialog.id = line.match.key;
  } else {
    dialog.name = line.match.kind == AnswerMatch::Kind::kName ? line.match.key : "fuzz";
  }
  for (const auto& [number, kind] : kinds) {
    ui::DialogItem& item = dialog.Add(kind, "item", number);
    if (kind == ItemKind::kEditText) item.text.clear();
    item.lines.assign(rows[number], "row");
    item.multiple = multiple[number];
  }
  return true;
}

// Answers `dialog` with the one line; false when the back end refused the line.
bool Replay(const AnswerLine& line, Dialog& dialog, int& answer, bool& control) {
  ui::AnswerFile file;
  file.lines.push_back(line);
  ui::ScriptBackend backend(std::move(file));
  failed = false;
  answer = backend.ModalDialog(dialog);
  control = backend.ControlKeyLatched();
  return !failed;
}

bool SameItems(const Dialog& a, const Dialog& b) {
  if (a.items.size() != b.items.size()) return false;
  for (std::size_t i = 0; i < a.items.size(); ++i) {
    const ui::DialogItem& x = a.items[i];
    const ui::DialogItem& y = b.items[i];
    if (x.text != y.text || x.value != y.value || x.selected != y.selected) return false;
  }
  return true;
}

// A line parsed alone; aborts when a recorded line does not parse.
AnswerLine ParseRecorded(const std::string& text) {
  ui::AnswerFile file;
  std::string error;
  if (!ui::ParseAnswerFile(text, file, &error)) fuzz::Broken("recorded '" + text + "': " + error);
  if (file.lines.size() != 1) fuzz::Broken("recorded '" + text + "' is not one line");
  return file.lines.front();
}

void RoundTripFolder(const AnswerLine& line) {
  std::string id = line.match.kind == AnswerMatch::Kind::kFolder ? line.match.key : "any";
  std::string folder = line.folder;
  AnswerLine again = ParseRecorded(ui::RecordFolderLine(id, folder));
  if (again.match != AnswerMatch{AnswerMatch::Kind::kFolder, id} || again.folder != folder) {
    fuzz::Broken("folder line '" + line.source + "' does not replay as recorded");
  }
}

void RoundTripDialog(const AnswerLine& line) {
  Dialog before;
  if (!DialogFor(line, before)) return;
  Dialog after = before;
  int answer = 0;
  bool control = false;
  if (!Replay(line, after, answer, control)) return;

  std::string recorded = ui::RecordAnswerLine(before, after, answer, control);
  AnswerLine again = ParseRecorded(recorded);
  if (again.match != ui::RecordedMatchOf(after)) fuzz::Broken("'" + recorded + "': other match");
  Dialog replayed = before;
  int answer_again = 0;
  bool control_again = false;
  if (!Replay(again, replayed, answer_again, control_again)) {
    fuzz::Broken("'" + recorded + "' (recorded from '" + line.source + "') does not fit");
  }
  if (answer_again != answer || control_again != control || !SameItems(after, replayed)) {
    fuzz::Broken("'" + recorded + "' answers otherwise than '" + line.source + "'");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::ScratchFolder();  // stops logging
  ui::SetNoAnswerExitHookForTesting([](int) { failed = true; });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  ui::AnswerFile file;
  std::string error;
  if (!ui::ParseAnswerFile(text, file, &error)) {
    if (error.rfind("line ", 0) != 0) fuzz::Broken("a refusal without its line: " + error);
    return 0;
  }
  for (const AnswerLine& line : file.lines) {
    bool folder = line.match.kind == AnswerMatch::Kind::kFolder ||
                  line.match.kind == AnswerMatch::Kind::kAnyFolder;
    if (folder) {
      RoundTripFolder(line);
    } else {
      RoundTripDialog(line);
    }
  }
  return 0;
}
