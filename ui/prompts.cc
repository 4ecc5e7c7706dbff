#include "ui/prompts.h"

#include <algorithm>

#include "base/log.h"
#include "base/notifier.h"
#include "base/strings.h"
#include "platform/files.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "ui/dialog.h"
#include "ui/status_box.h"

namespace nuvel::ui {
namespace {

using base::WriteLogf;

constexpr int kResourcePrompt = 3003;
constexpr int kResourcePromptWithTitle = 3903;
constexpr int kResourceThreeButtons = 3011;
constexpr int kResourceRadio = 3024;
constexpr int kResourceCheckBox = 3025;
constexpr int kResourceListBox = 3026;
constexpr int kShowFileLayout = 5;
constexpr int kNoFieldLayout = 3;
constexpr int kMaxChoices = 4;

// What the log shows for an answer given with the window's close box.
constexpr std::string_view kCloseBoxText = "(close box)";

bool IsKey(std::string_view text) { return text.substr(0, 4) == "MSG_"; }

std::string Shown(std::string_view text) { return base::Localize(text); }

int ResourceOfLayout(int layout) {
  switch (layout) {
    case 2:
      return 3012;
    case 3:
      return 3018;
    case 4:
    case 5:
    case 6:
      return 3019;
    case 7:
      return 3020;
    case 14:
      return 3029;
    default:
      return 3016;
  }
}

Dialog NewDialog(const char* name, int resource, std::string id, std::string_view title) {
  Dialog dialog;
  dialog.name = name;
  dialog.resource = resource;
  dialog.id = std::move(id);
  dialog.title = Shown(title);
  return dialog;
}

// An empty button text hides the button.
void AddButton(Dialog& dialog, int number, std::string_view text) {
  DialogItem& button = dialog.Add(ItemKind::kButton, Shown(text), number);
  button.visible = !button.text.empty();
}

void AddTitle(Dialog& dialog, int number) {
  DialogItem& title = dialog.Add(ItemKind::kTitle, dialog.title, number);
  title.visible = !title.text.empty();
}

// Shows the prompt over the long operation under way: its status box steps aside.
int ShowPrompt(Dialog& dialog) {
  if (GetStatusBoxVisible()) StatusBoxHide();
  return ModalDialog(dialog);
}

// The dialog's answer: 1 without a window in a command-line job.
int Answer(Dialog& dialog) { return Prompts().CmdLine_job ? 1 : ShowPrompt(dialog); }

// The raw text of the button that gave `result`, for the log.
std::string_view RawButton(const std::vector<std::string_view>& buttons, int result) {
  if (result >= 1 && result <= static_cast<int>(buttons.size())) return buttons[result - 1];
  return kCloseBoxText;
}

// "  --  KEY" after a logged message that came from a key with a text of its own.
std::string KeySuffix(std::string_view raw, const std::string& text) {
  if (!IsKey(raw) || text.empty() || text == raw) return "";
  return "  --  " + std::string(raw);
}

void LogChoice(int level, const std::string& tag, const std::string& button,
               std::string_view raw_message, const std::string& message) {
  WriteLogf(level, "%s %s     Question: %s%s", tag.c_str(), button.c_str(), message.c_str(),
            KeySuffix(raw_message, message).c_str());
}

bool InterfaceIsEnglish() { return base::CurrentLanguageCode() == "ENG"; }

// The message again in English for support, when the interface speaks another language; with
// a tag, the choice too.
void LogInEnglish(const char* front_end, std::string_view raw_message, const std::string& tag = "",
                  std::string_view raw_button = "") {
  if (InterfaceIsEnglish()) return;
  std::string message = base::LocalizeEnglish(raw_message);
  WriteLogf(2, "%s: %s", front_end, message.c_str());
  if (!tag.empty()) LogChoice(2, tag, base::LocalizeEnglish(raw_button), raw_message, message);
}

// First of every front end: the message as the caller gave it.
void LogQuestion(std::string_view message) { WriteLogf(1, "%s", std::string(message).c_str()); }

// Logs a choice of one of several buttons under `tag`, in both languages.
void LogButtonChoice(const char* front_end, const std::string& tag, const Dialog& dialog,
                     const std::vector<std::string_view>& buttons, int result,
                     std::string_view raw_message, const std::string& message) {
  const DialogItem* button = dialog.item(result);
  std::string shown =
      button && button->kind == ItemKind::kButton ? button->text : std::string(kCloseBoxText);
  LogChoice(1, tag, shown, raw_message, message);
  LogInEnglish(front_end, raw_message, tag, RawButton(buttons, result));
}

// Up to four labels, each looked up.
int ChoiceCount(const std::vector<std::string>& labels) {
  return std::min(static_cast<int>(labels.size()), kMaxChoices);
}

std::string WithLineFeeds(const std::string& data) {
  std::string text;
  text.reserve(data.size());
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\r') {
      text.push_back('\n');
      if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
    } else {
      text.push_back(data[i]);
    }
  }
  return text;
}

}  // namespace

PromptState& Prompts() {
  static PromptState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("ui::Prompts", [] { state.reset(); });
  return state;
}

std::string PromptId(std::string_view id, std::string_view message, std::string_view title) {
  if (!id.empty()) return std::string(id);
  if (IsKey(message)) return std::string(message);
  if (IsKey(title)) return std::string(title);
  if (!title.empty()) return std::string(title);
  return std::string(message);
}

namespace {

// The prompt's button texts, padded with hidden ones ("") to `count`.
std::vector<std::string_view> Buttons(const Prompt& prompt, std::size_t count) {
  std::vector<std::string_view> buttons(prompt.buttons.begin(), prompt.buttons.end());
  if (buttons.size() < count) buttons.resize(count);
  return buttons;
}

Dialog NewPrompt(const char* name, int resource, const Prompt& prompt) {
  return NewDialog(name, resource, PromptId(prompt.id, prompt.message, prompt.title), prompt.title);
}

// The two-button prompt.
int AskTwo(const Prompt& prompt) {
  const std::string& message = prompt.message;
  const std::vector<std::string_view> buttons = Buttons(prompt, 2);
  LogQuestion(message);
  Dialog dialog = NewPrompt(
      "prompt", prompt.title.empty() ? kResourcePrompt : kResourcePromptWithTitle, prompt);
  AddButton(dialog, 1, buttons[0]);
  AddButton(dialog, 2, buttons[1]);
  // While the disc prompt is up only its second button (Cancel) can be hit; inserting the disc
  // answers it.
  if (Prompts().Disc_Insert_OK) dialog.item(1)->visible = false;
  std::string shown_message = dialog.Add(ItemKind::kStaticText, Shown(message), 3).text;
  AddTitle(dialog, 4);

  int result = Answer(dialog);
  // With a single button, closing the window is that button's answer.
  bool only1 = dialog.item(1)->visible && !dialog.item(2)->visible;
  bool only2 = !dialog.item(1)->visible && dialog.item(2)->visible;
  if (result == kCloseBox && (only1 || only2)) result = only1 ? 1 : 2;

  std::string button = result == 1   ? dialog.item(1)->text
                       : result == 2 ? dialog.item(2)->text
                                     : std::string(kCloseBoxText);
  LogChoice(1, "User Choice PU: (" + std::to_string(result) + ")", button, message, shown_message);
  int english_tag = result == 1 || result == 2 ? result + 2 : result;
  LogInEnglish("Prompt_User", message, "User Choice PU: (" + std::to_string(english_tag) + ")",
               RawButton(buttons, result));
  return result;
}

// The three-button prompt.
int AskThree(const Prompt& prompt) {
  const std::string& message = prompt.message;
  const std::vector<std::string_view> buttons = Buttons(prompt, 3);
  LogQuestion(message);
  Dialog dialog = NewPrompt("prompt", kResourceThreeButtons, prompt);
  AddButton(dialog, 1, buttons[0]);
  AddButton(dialog, 2, buttons[1]);
  AddButton(dialog, 3, buttons[2]);
  std::string shown_message = dialog.Add(ItemKind::kStaticText, Shown(message), 4).text;
  AddTitle(dialog, 5);

  int result = Answer(dialog);
  LogButtonChoice("Prompt_User_3_Buttons", "User Choice PU_3B:", dialog, buttons, result, message,
                  shown_message);
  return result;
}

}  // namespace

int Ask(const Prompt& prompt) {
  return prompt.buttons.size() > 2 ? AskThree(prompt) : AskTwo(prompt);
}

int AskText(const Prompt& prompt, int layout, std::vector<TextField>& fields) {
  const std::string& message = prompt.message;
  const std::vector<std::string_view> buttons = Buttons(prompt, 3);
  const bool two_fields = fields.size() > 1;
  if (fields.empty()) fields.resize(1);
  LogQuestion(message);
  Dialog dialog = NewPrompt("prompt", ResourceOfLayout(layout), prompt);
  AddButton(dialog, 1, buttons[0]);
  AddButton(dialog, 2, buttons[1]);
  AddButton(dialog, 3, buttons[2]);
  std::string shown_message = dialog.Add(ItemKind::kStaticText, Shown(message), 4).text;
  auto field_kind = [](const TextField& field) {
    return field.password ? ItemKind::kPassword : ItemKind::kEditText;
  };
  if (two_fields) {
    dialog.Add(ItemKind::kStaticText, Shown(fields[0].label), 5);
    dialog.Add(field_kind(fields[0]), fields[0].text, 6);
    dialog.Add(ItemKind::kStaticText, Shown(fields[1].label), 7);
    dialog.Add(field_kind(fields[1]), fields[1].text, 8);
    AddTitle(dialog, 9);
  } else {
    DialogItem& field = dialog.Add(field_kind(fields[0]), fields[0].text, 5);
    field.visible = field.enabled = layout != kNoFieldLayout;
    AddTitle(dialog, 6);
  }

  int result = Answer(dialog);
  if (two_fields) {
    fields[0].text = dialog.item(6)->text;
    fields[1].text = dialog.item(8)->text;
    LogButtonChoice("Prompt_User_Edit2", "User Choice PU_E2:", dialog, buttons, result, message,
                    shown_message);
  } else {
    if (layout != kNoFieldLayout) fields[0].text = dialog.item(5)->text;
    LogButtonChoice("Prompt_User_Edit1", "User Choice PU_E1:", dialog, buttons, result, message,
                    shown_message);
  }
  return result;
}

int AskChoice(const Prompt& prompt, const std::vector<std::string>& labels, int preselected) {
  const std::string& message = prompt.message;
  const std::vector<std::string_view> buttons = Buttons(prompt, 2);
  LogQuestion(message);
  Dialog dialog = NewPrompt("radio", kResourceRadio, prompt);
  dialog.cancel_item = 6;
  int count = ChoiceCount(labels);
  if (preselected < 1 || preselected > count) preselected = 1;
  AddButton(dialog, 1, buttons[0]);
  for (int i = 0; i < kMaxChoices; ++i) {
    DialogItem& choice = dialog.Add(ItemKind::kRadio, i < count ? Shown(labels[i]) : "", 2 + i);
    choice.visible = choice.enabled = i < count;
    choice.value = i + 1 == preselected ? 1 : 0;
  }
  AddButton(dialog, 6, buttons[1]);
  dialog.Add(ItemKind::kStaticText, Shown(message), 7);
  AddTitle(dialog, 8);

  int result = Answer(dialog);
  LogInEnglish("Prompt_User_Radio", message);
  if (result != 1) return result;
  for (int number = 2; number < 2 + count; ++number) {
    if (dialog.item(number)->value == 1) return number;
  }
  return dialog.cancel_item;  // no choice at all: nothing was confirmed
}

int AskChecks(const Prompt& prompt, const std::vector<std::string>& labels,
              std::vector<int>& checked) {
  const std::string& message = prompt.message;
  const std::vector<std::string_view> buttons = Buttons(prompt, 2);
  LogQuestion(message);
  Dialog dialog = NewPrompt("checkbox", kResourceCheckBox, prompt);
  int count = ChoiceCount(labels);
  if (static_cast<int>(checked.size()) < count) checked.resize(static_cast<std::size_t>(count), 0);
  AddButton(dialog, 1, buttons[0]);
  AddButton(dialog, 2, buttons[1]);
  for (int i = 0; i < kMaxChoices; ++i) {
    DialogItem& box = dialog.Add(ItemKind::kCheckBox, i < count ? Shown(labels[i]) : "", 3 + i);
    box.visible = box.enabled = i < count;
    box.value = i < count && checked[static_cast<std::size_t>(i)] ? 1 : 0;
  }
  dialog.Add(ItemKind::kStaticText, Shown(message), 7);
  AddTitle(dialog, 8);

  int result = Answer(dialog);
  for (int i = 0; i < count; ++i) checked[static_cast<std::size_t>(i)] = dialog.item(3 + i)->value;
  LogInEnglish("Prompt_User_CheckBox", message);
  return result;
}

int AskFromList(const Prompt& prompt, const std::vector<std::string>& lines, int& selected) {
  const std::string& message = prompt.message;
  const std::vector<std::string_view> buttons = Buttons(prompt, 2);
  LogQuestion(message);
  Dialog dialog = NewPrompt("listbox", kResourceListBox, prompt);
  AddButton(dialog, 1, buttons[0]);
  AddButton(dialog, 2, buttons[1]);
  DialogItem& list = dialog.Add(ItemKind::kList, "", 3);
  for (const std::string& line : lines) list.lines.push_back(Shown(line));
  if (selected >= 0 && selected < static_cast<int>(lines.size())) list.selected = {selected};
  dialog.Add(ItemKind::kStaticText, Shown(message), 4);
  AddTitle(dialog, 5);

  int result = Answer(dialog);
  const DialogItem* shown = dialog.item(3);
  selected = shown->selected.empty() ? -1 : shown->selected.front();
  LogInEnglish("Prompt_User_ListBox", message);
  return result;
}

int ShowTextFile(const Prompt& prompt, const std::string& path) {
  const std::vector<std::string_view> buttons = Buttons(prompt, 2);
  LogQuestion(path);
  std::string data;
  std::string text;
  if (platform::ReadFile(path, data)) {
    text = "File not found: " + path;
  } else {
    text = WithLineFeeds(data);
  }
  std::string prompt_id = PromptId(prompt.id, "", prompt.title);
  if (prompt_id.empty()) prompt_id = platform::FileName(path);
  Dialog dialog =
      NewDialog("show-file", ResourceOfLayout(kShowFileLayout), prompt_id, prompt.title);
  AddButton(dialog, 1, buttons[0]);
  AddButton(dialog, 2, buttons[1]);
  dialog.Add(ItemKind::kStaticText, std::move(text), 3);
  AddTitle(dialog, 4);
  return Answer(dialog);
}

// ---- Described interface -------------------------------------------------------------------

int Prompt_User(std::string_view message, std::string_view button1, std::string_view button2,
                std::string_view title, std::string_view id) {
  return Ask({.id = std::string(id),
              .message = std::string(message),
              .title = std::string(title),
              .buttons = {std::string(button1), std::string(button2)}});
}

int Prompt_User_3_Buttons(std::string_view message, std::string_view button1,
                          std::string_view button2, std::string_view button3,
                          std::string_view title, std::string_view id) {
  return Ask({.id = std::string(id),
              .message = std::string(message),
              .title = std::string(title),
              .buttons = {std::string(button1), std::string(button2), std::string(button3)}});
}

int Prompt_User_Edit1(std::string& text, std::string_view button1, std::string_view button2,
                      std::string_view button3, std::string_view message, int layout, int flags,
                      std::string_view title, std::string_view id) {
  std::vector<TextField> fields = {{.text = text, .password = (flags & kPromptPasswordField) != 0}};
  int result =
      AskText({.id = std::string(id),
               .message = std::string(message),
               .title = std::string(title),
               .buttons = {std::string(button1), std::string(button2), std::string(button3)}},
              layout, fields);
  text = fields[0].text;
  return result;
}

int Prompt_User_Edit2(std::string& text1, std::string& text2, std::string_view label1,
                      std::string_view label2, std::string_view button1, std::string_view button2,
                      std::string_view button3, std::string_view message, int layout, int flags,
                      std::string_view title, std::string_view id) {
  std::vector<TextField> fields = {{.label = std::string(label1), .text = text1},
                                   {.label = std::string(label2),
                                    .text = text2,
                                    .password = (flags & kPromptPasswordField) != 0}};
  int result =
      AskText({.id = std::string(id),
               .message = std::string(message),
               .title = std::string(title),
               .buttons = {std::string(button1), std::string(button2), std::string(button3)}},
              layout, fields);
  text1 = fields[0].text;
  text2 = fields[1].text;
  return result;
}

int Prompt_User_Radio(std::string_view message, int preselected,
                      const std::vector<std::string>& labels, std::string_view title,
                      std::string_view button1, std::string_view button2, std::string_view id) {
  return AskChoice({.id = std::string(id),
                    .message = std::string(message),
                    .title = std::string(title),
                    .buttons = {std::string(button1), std::string(button2)}},
                   labels, preselected);
}

int Prompt_User_CheckBox(std::string_view message, std::vector<int>& flags,
                         const std::vector<std::string>& labels, std::string_view button1,
                         std::string_view button2, std::string_view title, std::string_view id) {
  return AskChecks({.id = std::string(id),
                    .message = std::string(message),
                    .title = std::string(title),
                    .buttons = {std::string(button1), std::string(button2)}},
                   labels, flags);
}

int Prompt_User_ListBox(std::string_view message, int& value, const std::vector<std::string>& lines,
                        std::string_view button1, std::string_view button2, std::string_view title,
                        std::string_view id) {
  return AskFromList({.id = std::string(id),
                      .message = std::string(message),
                      .title = std::string(title),
                      .buttons = {std::string(button1), std::string(button2)}},
                     lines, value);
}

int Prompt_User_Show_A_File(const std::string& path, std::string_view button1,
                            std::string_view button2, std::string_view title, std::string_view id) {
  return ShowTextFile({.id = std::string(id),
                       .title = std::string(title),
                       .buttons = {std::string(button1), std::string(button2)}},
                      path);
}

namespace {

// Base's notices as the prompts and the status box show them.
class PromptNotifier : public base::Notifier {
 public:
  void Tell(std::string_view message, std::string_view button, std::string_view id) override {
    Ask({.id = std::string(id), .message = std::string(message), .buttons = {std::string(button)}});
  }
  void BeginProgress(std::string_view title, std::string_view text) override {
    StatusBoxCreate();
    StatusBoxUpdate(std::string(title).c_str(), std::string(text).c_str(), nullptr);
  }
  void Progress(std::string_view text) override {
    StatusBoxUpdate(nullptr, std::string(text).c_str(), nullptr);
  }
  void EndProgress() override { StatusBoxDestroy(); }
};

}  // namespace

void ShowBaseNotices() {
  static PromptNotifier notifier;
  base::SetNotifier(&notifier);
}

}  // namespace nuvel::ui
