// The prompt front ends: a message with one to three buttons, edit fields, radio choices, check
// boxes, a list, a text file. Every text argument that starts with "MSG_" is looked up in the
// interface language; any other text is shown as it is. An empty button text hides the button.
// Results: the number of the button hit (1 first, 2 second, 3 third), 999 for the close box.
//
// Every prompt carries an id for answer files and transcripts ("prompt:<id>"): see PromptId().
// Callers that compose a message from several texts pass the id of its first key.
//
// Each answer is logged twice: in the interface language and, when that is not English, in
// English, so that support can read every log.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nuvel::ui {

struct PromptState {
  int CmdLine_job = 0;               // an unattended job: no dialog is shown, every answer is 1
  int Disc_Insert_OK = 0;            // the disc prompt is up: the first button is hidden
  std::string gNUVEL_SERVER_STATUS;  // server-status page opened from the title item

  void reset() { *this = PromptState{}; }
};

PromptState& Prompts();

/// The id of a prompt: `id` when non-empty; otherwise the message when it is a MSG_ key;
/// otherwise the title when it is a key; otherwise the literal title, or the literal message
/// when there is no title.
std::string PromptId(std::string_view id, std::string_view message, std::string_view title);

/// A prompt: what it says and which buttons it offers. Built with designated initializers, so
/// that the id, the message and the title cannot change places unnoticed:
///   ui::Ask({.id = "MSG_Message_InstallAnother", .message = "MSG_Message_InstallAnother",
///            .buttons = {"MSG_Button_Yes", "MSG_Button_No"}});
/// Every text that starts with "MSG_" is looked up in the interface language.
struct Prompt {
  std::string id{};                    // for answer files and transcripts; "" lets PromptId choose
  std::string message{};               // the question or notice
  std::string title{};                 // "" for a prompt without a title
  std::vector<std::string> buttons{};  // first to last; a missing or empty text hides the button
};

/// A message with buttons. Up to two buttons: dialog "prompt", resource 3903 with a title, 3003
/// without; items 1 and 2 the buttons (while Disc_Insert_OK is set the first is hidden), 3 the
/// message, 4 the title; with a single visible button the close box counts as that button.
/// Three buttons: resource 3011; items 1 to 3 the buttons, 4 the message, 5 the title. Returns
/// the number of the button hit (1 first), or 999 for the close box.
int Ask(const Prompt& prompt);

/// A field of an edit prompt.
struct TextField {
  std::string label{};    // shown before the field (two-field prompts only)
  std::string text{};     // the initial contents in, what was typed out
  bool password = false;  // typing is not shown
};

/// A message with up to three buttons and one or two edit fields; `layout` chooses the resource
/// (1 3016, 2 3012, 3 3018, 4 to 6 3019, 7 3020, 14 3029, others 3016). One field: items 1 to 3
/// the buttons, 4 the message, 5 the field (hidden with layout 3, which shows no field), 6 the
/// title. Two fields: 5 the first label, 6 the first field, 7 the second label, 8 the second
/// field, 9 the title. Returns the number of the button hit, or 999 for the close box.
int AskText(const Prompt& prompt, int layout, std::vector<TextField>& fields);

/// Up to four radio choices, `preselected` 1-based (out of range: the first); the prompt's first
/// button confirms, the second cancels. Dialog "radio", resource 3024. Items: 1 the first button,
/// 2 to 5 the choices (hidden beyond the labels), 6 the second button, 7 the message, 8 the
/// title. Returns the item number of the chosen radio button (the first choice is 2, the second
/// 3, ...) when confirmed, and 6 (or 999) when cancelled. A command-line job confirms the
/// preselected choice.
int AskChoice(const Prompt& prompt, const std::vector<std::string>& labels, int preselected);

/// Up to four check boxes; `checked` (one per label) are their states in and out. Dialog
/// "checkbox", resource 3025. Items: 1 and 2 the buttons, 3 to 6 the check boxes (hidden beyond
/// the labels), 7 the message, 8 the title. Returns the number of the button hit, or 999.
int AskChecks(const Prompt& prompt, const std::vector<std::string>& labels,
              std::vector<int>& checked);

/// A list of rows; `selected` is the selected row (0-based, -1 none) in and out. Dialog
/// "listbox", resource 3026. Items: 1 and 2 the buttons, 3 the list, 4 the message, 5 the title.
int AskFromList(const Prompt& prompt, const std::vector<std::string>& lines, int& selected);

/// Shows a text file (missing: "File not found: %s"); CR and CR LF line ends read as line
/// breaks. The prompt's message is not used; without an id or title the file's name is the id.
/// Dialog "show-file", resource 3019 (layout 5). Items: 1 and 2 the buttons, 3 the file's text,
/// 4 the title.
int ShowTextFile(const Prompt& prompt, const std::string& path);

/// Makes the prompts show what the base layer tells the user (base::SetNotifier): a notice as
/// Prompt_User with one button, progress in the status box. SetBackend calls it.
void ShowBaseNotices();

// ---- Described interface -------------------------------------------------------------------
// The front ends the described interface names, with their positional arguments, as thin
// forwarders to the functions above. The project's own code builds a Prompt instead.

/// `flags` bit of the edit front ends: the (second) field is a password field.
inline constexpr int kPromptPasswordField = 1;

/// Ask with buttons {button1, button2}.
int Prompt_User(std::string_view message, std::string_view button1, std::string_view button2,
                std::string_view title, std::string_view id = "");

/// Ask with buttons {button1, button2, button3}.
int Prompt_User_3_Buttons(std::string_view message, std::string_view button1,
                          std::string_view button2, std::string_view button3,
                          std::string_view title, std::string_view id = "");

/// AskText with one field holding `text`; kPromptPasswordField in `flags` makes it a password
/// field.
int Prompt_User_Edit1(std::string& text, std::string_view button1, std::string_view button2,
                      std::string_view button3, std::string_view message, int layout, int flags,
                      std::string_view title, std::string_view id = "");

/// AskText with the fields {label1, text1} and {label2, text2}; kPromptPasswordField in `flags`
/// makes the second a password field.
int Prompt_User_Edit2(std::string& text1, std::string& text2, std::string_view label1,
                      std::string_view label2, std::string_view button1, std::string_view button2,
                      std::string_view button3, std::string_view message, int layout, int flags,
                      std::string_view title, std::string_view id = "");

/// AskChoice with buttons {button1, button2}.
int Prompt_User_Radio(std::string_view message, int preselected,
                      const std::vector<std::string>& labels, std::string_view title,
                      std::string_view button1, std::string_view button2, std::string_view id = "");

/// AskChecks with buttons {button1, button2}; `flags` are the check boxes' states.
int Prompt_User_CheckBox(std::string_view message, std::vector<int>& flags,
                         const std::vector<std::string>& labels, std::string_view button1,
                         std::string_view button2, std::string_view title,
                         std::string_view id = "");

/// AskFromList with buttons {button1, button2}; `value` is the selected row.
int Prompt_User_ListBox(std::string_view message, int& value, const std::vector<std::string>& lines,
                        std::string_view button1, std::string_view button2, std::string_view title,
                        std::string_view id = "");

/// ShowTextFile with buttons {button1, button2}.
int Prompt_User_Show_A_File(const std::string& path, std::string_view button1,
                            std::string_view button2, std::string_view title,
                            std::string_view id = "");

}  // namespace nuvel::ui
