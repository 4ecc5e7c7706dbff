#include "ui/terminal/terminal_backend.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/folders.h"
#include "platform/terminal.h"

namespace nuvel::ui {
namespace {

constexpr const char* kHelp =
    "(Type the number of your choice and press Enter. Enter alone keeps the value in brackets; "
    "a single - empties a field. \"control\" holds the Control key for this dialog's answer, "
    "\"close\" closes the window, \"?\" shows this help.)\n";
constexpr int kBarWidth = 20;
constexpr int kMinColumns = 20;

// Clears from the cursor to the end of the line, after a return to its start.
constexpr const char* kRedrawLine = "\r\x1b[K";

class ConsoleIo : public TerminalIo {
 public:
  bool ReadLine(std::string& line, bool secret) override {
    return platform::ReadTerminalLine(line, !secret);
  }
  void Write(std::string_view text) override { platform::WriteTerminal(text); }
  int Columns() override { return platform::TerminalColumns(); }
};

std::string Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A whole positive number in `text`, else 0.
int NumberIn(const std::string& text) {
  if (text.empty() || text.size() > 6) return 0;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

// A list row as answer files number them (from 0) in `text`, else -1.
int RowIn(const std::string& text) {
  if (text.empty()) return -1;
  if (text.find_first_not_of('0') == std::string::npos) return 0;
  int n = NumberIn(text);
  return n > 0 ? n : -1;
}

// Characters (not bytes) of UTF-8 text.
std::size_t Width(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// The first `width` characters of `text`, with "..." in place of the end when it is cut.
std::string Cut(const std::string& text, std::size_t width) {
  if (Width(text) <= width) return text;
  if (width <= 3) return std::string(width, '.');
  std::size_t keep = width - 3;
  std::size_t i = 0;
  for (std::size_t chars = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == keep) break;
  }
  return text.substr(0, i) + "...";
}

// Message texts break lines with CR (as the message files store them); the terminal needs LF.
std::string Lines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out.push_back(text[i]);
      continue;
    }
    out.push_back('\n');
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

bool IsField(const DialogItem& item) {
  return item.kind == ItemKind::kEditText || item.kind == ItemKind::kPassword;
}

// A static text right before a field is that field's label, shown with its question; so is a
// static text right before a list that bears the same text as its own name (a popup's label).
bool IsLabel(const Dialog& dialog, std::size_t index) {
  if (index + 1 >= dialog.items.size() || dialog.items[index].kind != ItemKind::kStaticText) {
    return false;
  }
  const DialogItem& next = dialog.items[index + 1];
  if (!next.visible || !next.enabled) return false;
  if (IsField(next)) return true;
  const std::string name = Trim(next.text);
  return next.kind == ItemKind::kList && !name.empty() && name == Trim(dialog.items[index].text);
}

std::string LabelOf(const Dialog& dialog, std::size_t index) {
  if (index > 0 && IsLabel(dialog, index - 1) && dialog.items[index - 1].visible) {
    std::string label = Trim(dialog.items[index - 1].text);
    while (!label.empty() && label.back() == ':') label.pop_back();
    if (!label.empty()) return label;
  }
  return "Field";  // the item number in front of the question tells which
}

bool Active(const DialogItem& item) { return item.visible && item.enabled; }

// "3", "3 or 4", "1, 2 or 7".
std::string Choices(const std::vector<int>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) text += i + 1 == numbers.size() ? " or " : ", ";
    text += std::to_string(numbers[i]);
  }
  return text;
}

bool Contains(const std::vector<int>& numbers, int number) {
  return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

// The item number in front of a question, as answer files write it.
std::string Numbered(const DialogItem& item) { return std::to_string(item.number) + ") "; }

}  // namespace

std::unique_ptr<TerminalIo> MakeConsoleIo() { return std::make_unique<ConsoleIo>(); }

std::string StatusLineText(const StatusView& view, int columns) {
  std::size_t width = static_cast<std::size_t>(std::max(columns, kMinColumns) - 1);
  std::string text = StripText(view);
  // One line: a line break inside a text would break the redraw in place.
  std::replace_if(
      text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
  if (view.progress < 0) return Cut(text, width);
  int percent = static_cast<int>(std::lround(std::clamp(view.progress, 0.0, 1.0) * 100));
  int filled = percent * kBarWidth / 100;
  char number[8];
  std::snprintf(number, sizeof number, "%3d%%", percent);
  std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                    std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] " + number;
  if (text.empty()) return Cut(bar, width);
  if (bar.size() + 2 >= width) return Cut(bar, width);
  return Cut(text, width - bar.size() - 2) + "  " + bar;
}

TerminalBackend::TerminalBackend(std::unique_ptr<TerminalIo> io) : io_(std::move(io)) {}

template <typename Accept>
TerminalBackend::Reply TerminalBackend::Ask(const std::string& question, bool secret,
                                            Accept accept) {
  for (;;) {
    io_->Write(question);
    std::string line;
    if (!io_->ReadLine(line, secret)) {
      io_->Write("\n");
      return Reply::kClose;
    }
    // What is typed into a password field is never taken as a command.
    if (!secret) {
      std::string word = Lower(Trim(line));
      if (word == "control") {
        control_ = true;
        io_->Write("The Control key is held for this dialog's answer.\n");
        continue;
      }
      if (word == "close") return Reply::kClose;
      if (word == "?" || word == "help") {
        io_->Write(kHelp);
        continue;
      }
    }
    std::string complaint = accept(line);
    if (complaint.empty()) return Reply::kText;
    io_->Write(complaint + "\n");
  }
}

void TerminalBackend::Changed(Dialog& dialog, int number) {
  if (dialog.on_change) dialog.on_change(dialog, number);
}

bool TerminalBackend::AskRadioGroup(Dialog& dialog, std::size_t first, std::size_t end) {
  std::vector<int> numbers;
  int current = 0;
  for (std::size_t i = first; i < end; ++i) {
    const DialogItem& item = dialog.items[i];
    if (!Active(item)) continue;
    numbers.push_back(item.number);
    if (item.value == 1) current = item.number;
    io_->Write("  " + Numbered(item) + (item.value == 1 ? "(*) " : "( ) ") + item.text + "\n");
  }
  if (numbers.size() < 2) return true;
  std::string question = "Choose " + Choices(numbers);
  if (current) question += " [" + std::to_string(current) + "]";
  int chosen = 0;
  Reply reply = Ask(question + ": ", false, [&](const std::string& line) -> std::string {
    std::string word = Trim(line);
    if (word.empty() && current) return "";
    int n = NumberIn(word);
    if (!Contains(numbers, n)) return "Please type " + Choices(numbers) + ".";
    chosen = n;
    return "";
  });
  if (reply == Reply::kClose) return false;
  if (chosen && chosen != current) {
    ChooseRadio(dialog, chosen);
    Changed(dialog, chosen);
  }
  return true;
}

bool TerminalBackend::AskList(Dialog& dialog, std::size_t index) {
  const DialogItem& list = dialog.items[index];
  int number = list.number;
  bool multiple = list.multiple;
  int rows = static_cast<int>(list.lines.size());
  if (rows == 0) return true;
  std::string current;
  for (int row = 0; row < rows; ++row) {
    bool selected = std::count(list.selected.begin(), list.selected.end(), row) > 0;
    if (selected) current += (current.empty() ? "" : ",") + std::to_string(row);
    // The row's key, as answer files may name the row ("select 003MUL50").
    std::string key =
        row < static_cast<int>(list.keys.size()) ? list.keys[static_cast<std::size_t>(row)] : "";
    io_->Write(std::string(selected ? "  * " : "    ") + std::to_string(row) + ") " +
               list.lines[static_cast<std::size_t>(row)] + (key.empty() ? "" : "  [" + key + "]") +
               "\n");
  }
  // A list's own text names what its rows are (the interface language, say).
  std::string label = Trim(list.text);
  while (!label.empty() && label.back() == ':') label.pop_back();
  std::string question = multiple ? "Rows, separated by commas (- for none)" : "Row";
  if (!label.empty()) question = label + ", " + Lower(question);
  if (!current.empty()) question += " [" + current + "]";
  std::vector<int> chosen;
  bool keep = false;
  Reply reply = Ask(question + ": ", false, [&](const std::string& line) -> std::string {
    std::string text = Trim(line);
    chosen.clear();
    keep = text.empty();
    if (keep) return current.empty() ? "Please choose a row." : "";
    if (multiple && text == "-") return "";
    std::string complaint = "Please type " +
                            std::string(multiple ? "row numbers" : "a row number") + " from 0 to " +
                            std::to_string(rows - 1) + ".";
    std::size_t start = 0;
    for (;;) {
      std::size_t comma = text.find(',', start);
      int n = RowIn(Trim(text.substr(start, comma - start)));
      if (n < 0 || n >= rows) return complaint;
      if (std::find(chosen.begin(), chosen.end(), n) == chosen.end()) chosen.push_back(n);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    if (!multiple && chosen.size() > 1) return complaint;
    return "";
  });
  if (reply == Reply::kClose) return false;
  if (!keep) {
    std::sort(chosen.begin(), chosen.end());
    dialog.item(number)->selected = chosen;
    Changed(dialog, number);
  }
  return true;
}

bool TerminalBackend::AskInputs(Dialog& dialog) {
  for (std::size_t i = 0; i < dialog.items.size(); ++i) {
    if (!Active(dialog.items[i])) continue;
    int number = dialog.items[i].number;
    switch (dialog.items[i].kind) {
      case ItemKind::kEditText:
      case ItemKind::kPassword: {
        bool secret = dialog.items[i].kind == ItemKind::kPassword;
        const std::string& text = dialog.items[i].text;
        std::string question = Numbered(dialog.items[i]) + LabelOf(dialog, i);
        if (secret) {
          question += text.empty() ? " (not shown)" : " (not shown; Enter keeps it)";
        } else if (!text.empty()) {
          question += " [" + text + "]";
        }
        std::string typed;
        Reply reply = Ask(question + ": ", secret, [&](const std::string& line) -> std::string {
          typed = line;
          return "";
        });
        if (reply == Reply::kClose) return false;
        if (!typed.empty()) {
          dialog.items[i].text = typed == "-" ? "" : typed;
          Changed(dialog, number);
        }
        break;
      }
      case ItemKind::kRadio: {
        std::size_t end = i;
        while (end < dialog.items.size() && dialog.items[end].kind == ItemKind::kRadio) ++end;
        if (!AskRadioGroup(dialog, i, end)) return false;
        i = end - 1;
        break;
      }
      case ItemKind::kCheckBox: {
        bool checked = dialog.items[i].value != 0;
        std::string question = Numbered(dialog.items[i]) + (checked ? "[x] " : "[ ] ") +
                               dialog.items[i].text + " (y/n) [" + (checked ? "y" : "n") + "]: ";
        bool now = checked;
        Reply reply = Ask(question, false, [&](const std::string& line) -> std::string {
          std::string word = Lower(Trim(line));
          if (word.empty()) return "";
          if (word == "y" || word == "yes") {
            now = true;
          } else if (word == "n" || word == "no") {
            now = false;
          } else {
            return "Please type y or n.";
          }
          return "";
        });
        if (reply == Reply::kClose) return false;
        if (now != checked) {
          dialog.items[i].value = now ? 1 : 0;
          Changed(dialog, number);
        }
        break;
      }
      case ItemKind::kList:
        if (!AskList(dialog, i)) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

int TerminalBackend::ModalDialog(Dialog& dialog) {
  int hit = Answer(dialog);
  // The Control key typed for this dialog belongs to the click that answered it.
  latched_ = control_;
  control_ = false;
  return hit;
}

int TerminalBackend::Answer(Dialog& dialog) {
  ClearStatusLine();
  if (!help_shown_) {
    io_->Write(kHelp);
    help_shown_ = true;
  }
  io_->Write("\n");
  if (!dialog.title.empty()) io_->Write("== " + Lines(dialog.title) + " ==\n");
  for (std::size_t i = 0; i < dialog.items.size(); ++i) {
    const DialogItem& item = dialog.items[i];
    if (item.kind == ItemKind::kStaticText && item.visible && !item.text.empty() &&
        !IsLabel(dialog, i)) {
      io_->Write(Lines(item.text) + "\n");
    }
  }
  bool has_inputs = std::any_of(dialog.items.begin(), dialog.items.end(), [](const DialogItem& it) {
    return Active(it) && (IsField(it) || it.kind == ItemKind::kRadio ||
                          it.kind == ItemKind::kCheckBox || it.kind == ItemKind::kList);
  });
  if (has_inputs && !AskInputs(dialog)) return kCloseBox;

  for (;;) {
    std::vector<int> buttons;
    std::string row;
    for (const DialogItem& item : dialog.items) {
      if (item.kind != ItemKind::kButton || !item.visible) continue;
      if (item.enabled) {
        buttons.push_back(item.number);
        row += "  [" + std::to_string(item.number) + "] " + item.text;
      } else {
        row += "  (" + item.text + ")";
      }
    }
    if (buttons.empty()) {
      io_->Write("  (nothing to choose: Enter closes the window)\n");
      Ask("> ", false, [](const std::string&) { return std::string(); });
      return kCloseBox;
    }
    io_->Write(row + "\n");
    int chosen = 0;
    bool edit = false;
    Reply reply = Ask("> ", false, [&](const std::string& line) -> std::string {
      std::string word = Trim(line);
      if (has_inputs && Lower(word) == "edit") {
        edit = true;
        return "";
      }
      int n = NumberIn(word);
      if (Contains(buttons, n)) {
        chosen = n;
        return "";
      }
      for (int number : buttons) {
        if (!word.empty() && Lower(word) == Lower(Trim(dialog.item(number)->text))) {
          chosen = number;
          return "";
        }
      }
      return "Please type " + Choices(buttons) +
             (has_inputs ? ", or edit to change the answers above." : ".");
    });
    if (reply == Reply::kClose) return kCloseBox;
    if (!edit) return chosen;
    if (!AskInputs(dialog)) return kCloseBox;
  }
}

std::string TerminalBackend::ChooseFolder(const std::string& /*id*/, const std::string& prompt,
                                          const std::string& start) {
  ClearStatusLine();
  io_->Write("\n" + Lines(prompt) + "\n");
  std::string question = start.empty() ? "Folder: " : "Folder [" + start + "]: ";
  std::string folder;
  Reply reply = Ask(question, false, [&](const std::string& line) -> std::string {
    std::string path = Trim(line);
    if (path.empty()) path = start;
    if (path.empty()) return "Please type a folder, or close to cancel.";
    if (path == "~" || path.starts_with("~/")) path = platform::HomeFolder() + path.substr(1);
    if (path.front() != '/') return "Please type a full path, starting with /.";
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    folder = path;
    return "";
  });
  return reply == Reply::kClose ? "" : folder;
}

void TerminalBackend::DrawStatusLine(const std::string& line) {
  if (line == drawn_) return;
  if (line.empty()) {
    ClearStatusLine();
    return;
  }
  io_->Write(kRedrawLine + line);
  drawn_ = line;
}

void TerminalBackend::ClearStatusLine() {
  if (drawn_.empty()) return;
  io_->Write(kRedrawLine);
  drawn_.clear();
}

void TerminalBackend::ShowStatus(const StatusView& view) {
  status_ = view;
  status_shown_ = true;
  DrawStatusLine(StatusLineText(view, io_->Columns()));
}

void TerminalBackend::HideStatus() {
  status_shown_ = false;
  if (strip_shown_) {
    DrawStatusLine(StatusLineText(strip_, io_->Columns()));
  } else {
    ClearStatusLine();
  }
}

void TerminalBackend::ShowStrip(const StatusView& view) {
  strip_ = view;
  strip_shown_ = true;
  StatusView line = view;
  line.progress = -1;
  DrawStatusLine(StatusLineText(line, io_->Columns()));
}

void TerminalBackend::HideStrip() {
  strip_shown_ = false;
  if (status_shown_) {
    DrawStatusLine(StatusLineText(status_, io_->Columns()));
  } else {
    ClearStatusLine();
  }
}

void TerminalBackend::Beep() { io_->Write("\a"); }

void TerminalBackend::Finish() {
  // The last status line stays on screen; the shell's prompt starts below it.
  if (!drawn_.empty()) io_->Write("\n");
  drawn_.clear();
}

std::unique_ptr<Backend> MakeTerminalBackend(std::string* error) {
  if (!platform::StdinIsTerminal() || !platform::StdoutIsTerminal()) {
    if (error) {
      *error =
          "the terminal interface needs an interactive terminal; use --answers FILE for "
          "unattended runs";
    }
    return nullptr;
  }
  return std::make_unique<TerminalBackend>(MakeConsoleIo());
}

}  // namespace nuvel::ui
