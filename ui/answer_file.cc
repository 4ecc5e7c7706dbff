#include "ui/answer_file.h"

#include <algorithm>
#include <tuple>

namespace nuvel::ui {
namespace {

constexpr int kMaxAnswerNumber = 9999;

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// Reads one answer-file line from left to right.
class LineReader {
 public:
  explicit LineReader(std::string_view line) : start_(line.data()), rest_(line) {}

  void SkipSpace() {
    while (!rest_.empty() && IsSpace(rest_.front())) rest_.remove_prefix(1);
  }
  bool AtEnd() const { return rest_.empty(); }
  char Peek() const { return rest_.empty() ? '\0' : rest_.front(); }
  bool Take(std::string_view prefix) {
    if (rest_.substr(0, prefix.size()) != prefix) return false;
    rest_.remove_prefix(prefix.size());
    return true;
  }
  // Everything up to the next space (or `stop`).
  std::string_view Word(char stop = '\0') {
    std::size_t n = 0;
    while (n < rest_.size() && !IsSpace(rest_[n]) && rest_[n] != stop) ++n;
    std::string_view word = rest_.substr(0, n);
    rest_.remove_prefix(n);
    return word;
  }
  std::string_view Rest() const { return rest_; }
  // Where the reader stands, counted from the start of the line.
  std::size_t Offset() const { return static_cast<std::size_t>(rest_.data() - start_); }

  bool Number(int& value) {
    std::size_t n = 0;
    value = 0;
    while (n < rest_.size() && rest_[n] >= '0' && rest_[n] <= '9') {
      if (value > kMaxAnswerNumber) return false;
      value = value * 10 + (rest_[n] - '0');
      ++n;
    }
    if (n == 0 || value > kMaxAnswerNumber) return false;
    rest_.remove_prefix(n);
    return true;
  }

  // A quoted text at the current position; false with the reason in *error.
  bool Quoted(std::string& out, std::string& error) {
    out.clear();
    if (!Take("\"")) {
      error = "expected a quoted text";
      return false;
    }
    while (!rest_.empty()) {
      char c = rest_.front();
      rest_.remove_prefix(1);
      if (c == '"') return true;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (rest_.empty()) break;
      char e = rest_.front();
      rest_.remove_prefix(1);
      switch (e) {
        case '"':
        case '\\':
          out.push_back(e);
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        default:
          error = std::string("unknown escape \\") + e + " in a quoted text";
          return false;
      }
    }
    error = "a quoted text has no closing \"";
    return false;
  }

 private:
  const char* start_;
  std::string_view rest_;
};

bool NeedsQuotes(std::string_view text) {
  if (text.empty() || text == "*" || text.front() == '"') return true;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == ' ' || c == '"' || c == '\\' || c == 0x7f) {
      return true;
    }
  }
  return false;
}

std::string IdText(std::string_view id) {
  return NeedsQuotes(id) ? QuoteAnswerText(id) : std::string(id);
}

// Reads the match at the start of a line.
bool ReadMatch(LineReader& in, AnswerMatch& match, std::string& error) {
  for (auto [prefix, kind, any] :
       {std::tuple{"prompt:", AnswerMatch::Kind::kPrompt, AnswerMatch::Kind::kAnyPrompt},
        std::tuple{"folder:", AnswerMatch::Kind::kFolder, AnswerMatch::Kind::kAnyFolder}}) {
    if (!in.Take(prefix)) continue;
    if (in.Peek() == '"') {
      match.kind = kind;
      return in.Quoted(match.key, error);
    }
    std::string_view id = in.Word();
    if (id.empty()) {
      error = std::string("\"") + prefix + "\" needs an id (or * for any)";
      return false;
    }
    match.kind = id == "*" ? any : kind;
    match.key = id == "*" ? "" : std::string(id);
    return true;
  }
  std::string_view name = in.Word();
  if (name == "*") {
    match.kind = AnswerMatch::Kind::kAny;
    return true;
  }
  if (name.empty() || !std::all_of(name.begin(), name.end(), IsNameChar)) {
    error = "'" + std::string(name) +
            "' is not a dialog name, prompt:<id>, folder:<id>, prompt:*, folder:* or *";
    return false;
  }
  match.kind = AnswerMatch::Kind::kName;
  match.key = std::string(name);
  return true;
}

// A bare word after "select" that stands for a row number: digits without a leading zero, as
// row numbers are written. "003" is a key (a family number), never row 3.
bool IsRowNumberWord(std::string_view word) {
  if (word.empty() || !std::all_of(word.begin(), word.end(), [](char c) {
        return c >= '0' && c <= '9';
      })) {
    return false;
  }
  return word.size() == 1 || word.front() != '0';
}

// A character a key may hold without quotes.
bool IsBareKeyChar(char c) {
  return static_cast<unsigned char>(c) > 0x20 && c != 0x7f && c != '"' && c != ',' && c != ':' &&
         c != '\\';
}

bool ReadsAsBareKey(std::string_view word) {
  return !word.empty() && word != "none" && !IsRowNumberWord(word) &&
         std::all_of(word.begin(), word.end(), IsBareKeyChar);
}

// The rows after "select": "none", or "[N:]" and a comma-separated list of row numbers, bare
// keys and quoted keys.
bool ReadRows(LineReader& in, AnswerSetting& setting, std::string& error) {
  std::string_view rest = in.Rest();
  std::string_view word = rest.substr(0, std::min(rest.find(' '), rest.find('\t')));
  if (word == "none") {
    in.Take(word);
    return true;
  }
  if (in.Peek() != '"') {
    std::size_t colon = word.find(':');
    if (colon != std::string_view::npos && word.substr(0, colon).find('"') == std::string_view::npos) {
      LineReader item(word.substr(0, colon));
      if (!item.Number(setting.item) || !item.AtEnd()) {
        error = "'select " + std::string(word) + "': expected the list's item number before ':'";
        return false;
      }
      in.Take(word.substr(0, colon + 1));
      if (in.Take("none")) {
        if (!in.AtEnd() && !IsSpace(in.Peek())) {
          error = "unexpected '" + std::string(in.Word()) + "' after 'none'";
          return false;
        }
        return true;
      }
    }
  }
  for (;;) {
    if (in.Peek() == '"') {
      std::string key;
      if (!in.Quoted(key, error)) return false;
      if (key.empty()) {
        error = "'select' needs a key that is not empty";
        return false;
      }
      setting.keys.push_back(std::move(key));
    } else {
      std::string_view token = in.Word(',');
      if (token.empty()) {
        error = "'select' needs rows such as 0,2 or keys such as 003MUL50 (or none)";
        return false;
      }
      if (IsRowNumberWord(token)) {
        LineReader row(token);
        int value = 0;
        if (!row.Number(value) || !row.AtEnd()) {
          error = "'select': row " + std::string(token) + " is too large";
          return false;
        }
        setting.rows.push_back(value);
      } else if (std::all_of(token.begin(), token.end(), IsBareKeyChar)) {
        setting.keys.emplace_back(token);
      } else {
        error = "'select': '" + std::string(token) +
                "' is neither a row number nor a key (quote a key that holds quotes, colons or "
                "backslashes)";
        return false;
      }
    }
    if (!in.Take(",")) break;
  }
  if (!in.AtEnd() && !IsSpace(in.Peek())) {
    error = "unexpected '" + std::string(in.Word()) + "' after the rows of 'select'";
    return false;
  }
  return true;
}

bool ReadSetting(LineReader& in, std::string_view keyword, AnswerSetting& setting,
                 std::string& error) {
  in.SkipSpace();
  if (keyword == "select") {
    setting.kind = AnswerSetting::Kind::kSelect;
    return ReadRows(in, setting, error);
  }
  if (keyword == "set") {
    setting.kind = AnswerSetting::Kind::kSet;
    if (!in.Number(setting.item) || !in.Take("=")) {
      error = "'set' needs an item number and a text: set N=\"text\"";
      return false;
    }
    setting.text_begin = in.Offset();
    if (in.Peek() == '"') {
      if (!in.Quoted(setting.text, error)) return false;
    } else {
      setting.text = std::string(in.Word());
    }
    setting.text_end = in.Offset();
    return true;
  }
  if (keyword == "check") {
    setting.kind = AnswerSetting::Kind::kCheck;
  } else if (keyword == "uncheck") {
    setting.kind = AnswerSetting::Kind::kUncheck;
  } else if (keyword == "choose") {
    setting.kind = AnswerSetting::Kind::kChoose;
  } else {
    error = "unknown setting '" + std::string(keyword) +
            "' (expected set, select, check, uncheck, choose, control or ->)";
    return false;
  }
  if (!in.Number(setting.item)) {
    error = "'" + std::string(keyword) + "' needs an item number";
    return false;
  }
  return true;
}

bool ReadAnswer(LineReader& in, AnswerLine& line, std::string& error) {
  in.SkipSpace();
  bool folder = line.match.kind == AnswerMatch::Kind::kFolder ||
                line.match.kind == AnswerMatch::Kind::kAnyFolder;
  if (folder) {
    if (in.Peek() == '"') {
      if (!in.Quoted(line.folder, error)) return false;
    } else {
      std::string_view rest = in.Rest();
      while (!rest.empty() && IsSpace(rest.back())) rest.remove_suffix(1);
      if (rest.empty()) {
        error = "a folder answer needs a folder (\"\" to cancel)";
        return false;
      }
      line.folder = std::string(rest);
      return true;
    }
  } else if (!in.Number(line.answer) || line.answer == 0) {
    error = "the answer after -> must be an item number";
    return false;
  }
  in.SkipSpace();
  if (!in.AtEnd()) {
    error = "unexpected '" + std::string(in.Rest()) + "' after the answer";
    return false;
  }
  return true;
}

bool ParseLine(std::string_view text, AnswerLine& line, std::string& error) {
  LineReader in(text);
  in.SkipSpace();
  if (!ReadMatch(in, line.match, error)) return false;
  for (;;) {
    in.SkipSpace();
    if (in.AtEnd()) {
      error = "expected '-> <answer>' at the end of the line";
      return false;
    }
    if (in.Take("->")) break;
    std::string_view keyword = in.Word();
    if (keyword == "control") {
      line.control = true;
      continue;
    }
    AnswerSetting setting;
    if (!ReadSetting(in, keyword, setting, error)) return false;
    line.settings.push_back(std::move(setting));
  }
  bool folder = line.match.kind == AnswerMatch::Kind::kFolder ||
                line.match.kind == AnswerMatch::Kind::kAnyFolder;
  if (folder && (!line.settings.empty() || line.control)) {
    error = "a folder question takes no settings";
    return false;
  }
  return ReadAnswer(in, line, error);
}

}  // namespace

bool ParseAnswerFile(std::string_view text, AnswerFile& out, std::string* error) {
  out = AnswerFile{};
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int number = 0;
  while (!text.empty()) {
    ++number;
    std::size_t end = text.find('\n');
    std::string_view raw = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    std::string_view trimmed = raw;
    while (!trimmed.empty() && IsSpace(trimmed.front())) trimmed.remove_prefix(1);
    while (!trimmed.empty() && IsSpace(trimmed.back())) trimmed.remove_suffix(1);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    if (trimmed == "control") {
      out.control = true;
      continue;
    }
    AnswerLine line;
    line.line_number = number;
    line.source = std::string(trimmed);
    std::string problem;
    if (!ParseLine(trimmed, line, problem)) {
      if (error) *error = "line " + std::to_string(number) + ": " + problem;
      return false;
    }
    out.lines.push_back(std::move(line));
  }
  return true;
}

std::string QuoteAnswerText(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
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
        out.push_back(c);
    }
  }
  return out + "\"";
}

AnswerMatch RecordedMatchOf(const Dialog& dialog) {
  if (!dialog.id.empty() && IsPrompt(dialog)) return {AnswerMatch::Kind::kPrompt, dialog.id};
  return {AnswerMatch::Kind::kName, dialog.name};
}

std::string MatchText(const AnswerMatch& match) {
  switch (match.kind) {
    case AnswerMatch::Kind::kName:
      return match.key;
    case AnswerMatch::Kind::kPrompt:
      return "prompt:" + IdText(match.key);
    case AnswerMatch::Kind::kFolder:
      return "folder:" + IdText(match.key);
    case AnswerMatch::Kind::kAny:
      return "*";
    case AnswerMatch::Kind::kAnyPrompt:
      return "prompt:*";
    case AnswerMatch::Kind::kAnyFolder:
      return "folder:*";
  }
  return "";
}

std::string ShownLine(const AnswerLine& line, const Dialog* dialog) {
  std::string shown = line.source;
  // From the right, so that the offsets of the texts still to mask stay valid.
  for (auto setting = line.settings.rbegin(); setting != line.settings.rend(); ++setting) {
    if (setting->kind != AnswerSetting::Kind::kSet || setting->text_end > shown.size() ||
        setting->text_begin > setting->text_end) {
      continue;
    }
    const DialogItem* item = dialog ? dialog->item(setting->item) : nullptr;
    if (item && item->kind == ItemKind::kEditText) continue;
    const char* mask = item && item->kind == ItemKind::kPassword ? "<password>" : "<hidden>";
    shown.replace(setting->text_begin, setting->text_end - setting->text_begin, mask);
  }
  return shown;
}

std::string RecordAnswerLine(const Dialog& before, const Dialog& after, int answer, bool control) {
  std::string line = MatchText(RecordedMatchOf(after));
  std::string notes;
  int first_list = 0;
  for (const DialogItem& item : after.items) {
    if (item.kind == ItemKind::kList && first_list == 0) first_list = item.number;
    // The user changes only items that can be used; a change to a hidden or disabled item came
    // from the core's own dialog logic, which the replay runs again.
    if (!item.visible || !item.enabled) continue;
    const DialogItem* old = before.item(item.number);
    std::string number = std::to_string(item.number);
    switch (item.kind) {
      case ItemKind::kEditText:
        if (!old || old->text != item.text)
          line += " set " + number + "=" + QuoteAnswerText(item.text);
        break;
      case ItemKind::kPassword:
        if (old && old->text == item.text) break;
        if (item.text.empty()) {
          line += " set " + number + "=\"\"";
        } else if (after.recorded_password) {
          line += " set " + number + "=" + QuoteAnswerText(after.recorded_password(item.text));
        } else {
          notes += "# " + MatchText(RecordedMatchOf(after)) + ": password item " + number +
                   " is not recorded; add set " + number + "=\"...\" to replay it\n";
        }
        break;
      case ItemKind::kCheckBox:
        if (!old || (old->value != 0) != (item.value != 0)) {
          line += (item.value ? " check " : " uncheck ") + number;
        }
        break;
      case ItemKind::kRadio:
        if (item.value == 1 && (!old || old->value != 1)) line += " choose " + number;
        break;
      case ItemKind::kList: {
        bool pinned = !item.keys.empty() && !item.selected.empty() &&
                      std::find(after.selection_buttons.begin(), after.selection_buttons.end(),
                                answer) != after.selection_buttons.end();
        if (!old || old->selected != item.selected || pinned) {
          line += " select ";
          if (item.number != first_list) line += number + ":";
          if (item.selected.empty()) line += "none";
          for (std::size_t i = 0; i < item.selected.size(); ++i) {
            // By key wherever the row has one: the replay then finds the same course on a
            // source that lists its courses in another order, or reports it missing.
            int row = item.selected[i];
            bool keyed = row >= 0 && row < static_cast<int>(item.keys.size()) &&
                         !item.keys[static_cast<std::size_t>(row)].empty();
            line += (i ? "," : "") + (keyed ? SelectKeyText(item.keys[static_cast<std::size_t>(row)])
                                            : std::to_string(row));
          }
        }
        break;
      }
      default:
        break;
    }
  }
  if (control) line += " control";
  return notes + line + " -> " + std::to_string(answer);
}

std::string SelectKeyText(const std::string& key) {
  return ReadsAsBareKey(key) ? key : QuoteAnswerText(key);
}

std::string RecordFolderLine(const std::string& id, const std::string& folder) {
  // The rest of the line is the folder, so only an empty folder, one that starts with a quote
  // or ends in spaces, and one with control characters or backslashes need quotes.
  bool plain = !folder.empty() && folder.front() != '"' && !IsSpace(folder.front()) &&
               !IsSpace(folder.back()) && std::none_of(folder.begin(), folder.end(), [](char c) {
                 return static_cast<unsigned char>(c) < 0x20 || c == '\\';
               });
  return MatchText({AnswerMatch::Kind::kFolder, id}) + " -> " +
         (plain ? folder : QuoteAnswerText(folder));
}
}  // namespace nuvel::ui
