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

/// `flags` bit of the edit front ends: the (second) field is a password field.
inline constexpr int kPromptPasswordField = 1;

/// Dialog "prompt", resource 3903 with a title, 3003 without. Items: 1 button 1, 2 button 2
/// (hidden when empty; while Disc_Insert_OK is set button 1 is hidden instead), 3 the message,
/// 4 the title. Returns 1, 2 or 999.
int Prompt_User(std::string_view message, std::string_view button1, std::string_view button2,
                std::string_view title, std::string_view id = "");

/// Dialog "prompt", resource 3011. Items: 1 to 3 the buttons, 4 the message, 5 the title.
int Prompt_User_3_Buttons(std::string_view message, std::string_view button1,
                          std::string_view button2, std::string_view button3,
                          std::string_view title, std::string_view id = "");

/// One edit field; `text` holds its initial contents and receives what was typed. Layout 3 is a
/// message with buttons and no field. Dialog "prompt"; the layout chooses the resource (1 3016,
/// 2 3012, 3 3018, 4 to 6 3019, 7 3020, 14 3029, others 3016). Items: 1 to 3 the buttons,
/// 4 the message, 5 the field (hidden with layout 3; a password field with
/// kPromptPasswordField), 6 the title.
int Prompt_User_Edit1(std::string& text, std::string_view button1, std::string_view button2,
                      std::string_view button3, std::string_view message, int layout, int flags,
                      std::string_view title, std::string_view id = "");

/// Two labelled fields. kPromptPasswordField in `flags` makes the second field a password
/// field. Dialog "prompt", resources as Prompt_User_Edit1. Items: 1 to 3 the buttons,
/// 4 the message, 5 the first label, 6 the first field, 7 the second label, 8 the second field,
/// 9 the title.
int Prompt_User_Edit2(std::string& text1, std::string& text2, std::string_view label1,
                      std::string_view label2, std::string_view button1, std::string_view button2,
                      std::string_view button3, std::string_view message, int layout, int flags,
                      std::string_view title, std::string_view id = "");

/// Up to four radio choices, `preselected` 1-based (out of range: the first). Dialog "radio",
/// resource 3024. Items: 1 the first button, 2 to 5 the choices (hidden beyond the labels),
/// 6 the second button, 7 the message, 8 the title. Returns the item number of the chosen radio
/// button (the first choice is 2, the second 3, ...) when confirmed with the first button, and 6
/// (or 999 for the close box) when cancelled. A command-line job confirms the preselected
/// choice.
int Prompt_User_Radio(std::string_view message, int preselected,
                      const std::vector<std::string>& labels, std::string_view title,
                      std::string_view button1, std::string_view button2, std::string_view id = "");

/// Up to four check boxes; `flags` (one per label) are their states in and out. Dialog
/// "checkbox", resource 3025. Items: 1 button 1, 2 button 2, 3 to 6 the check boxes (hidden
/// beyond the labels), 7 the message, 8 the title.
int Prompt_User_CheckBox(std::string_view message, std::vector<int>& flags,
                         const std::vector<std::string>& labels, std::string_view button1,
                         std::string_view button2, std::string_view title,
                         std::string_view id = "");

/// A list of rows; `value` is the selected row (0-based, -1 none) in and out. Dialog
/// "listbox", resource 3026. Items: 1 button 1, 2 button 2, 3 the list, 4 the message,
/// 5 the title.
int Prompt_User_ListBox(std::string_view message, int& value, const std::vector<std::string>& lines,
                        std::string_view button1, std::string_view button2, std::string_view title,
                        std::string_view id = "");

/// Shows a text file (missing: "File not found: %s"); CR and CR LF line ends read as line
/// breaks. Dialog "show-file", resource 3019 (layout 5). Items: 1 button 1, 2 button 2, 3 the
/// file's text, 4 the title.
int Prompt_User_Show_A_File(const std::string& path, std::string_view button1,
                            std::string_view button2, std::string_view title,
                            std::string_view id = "");

/// Makes the prompts show what the base layer tells the user (base::SetNotifier): a notice as
/// Prompt_User with one button, progress in the status box. SetBackend calls it.
void ShowBaseNotices();

}  // namespace nuvel::ui
