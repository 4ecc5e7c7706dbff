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
  int CmdLine_job = 0;    // an unattended job: no dialog is shown, every answer is 1
  int Disc_Insert_OK = 0; // the disc prompt is up: the first button is hidden
  std::string gNUVEL_SERVER_STATUS;  // server-status page opened from the title item

  void reset() { *this = PromptState{}; }
};

PromptState& Prompts();

/// The id of a prompt: `id` when non-empty; otherwise the message when it is a MSG_ key;
/// otherwise the title when it is a key; otherwise the literal title.
std::string PromptId(std::string_view id, std::string_view message, std::string_view title);

int Prompt_User(std::string_view message, std::string_view button1, std::string_view button2,
                std::string_view title, std::string_view id = "");

int Prompt_User_3_Buttons(std::string_view message, std::string_view button1,
                          std::string_view button2, std::string_view button3,
                          std::string_view title, std::string_view id = "");

/// One edit field; `text` holds its initial contents and receives what was typed. Layout 3 is a
/// message with buttons and no field.
int Prompt_User_Edit1(std::string& text, std::string_view button1, std::string_view button2,
                      std::string_view button3, std::string_view message, int layout, int flags,
                      std::string_view title, std::string_view id = "");

/// Two labelled fields. Bit 1 of `flags` makes the second field a password field.
int Prompt_User_Edit2(std::string& text1, std::string& text2, std::string_view label1,
                      std::string_view label2, std::string_view button1,
                      std::string_view button2, std::string_view button3,
                      std::string_view message, int layout, int flags, std::string_view title,
                      std::string_view id = "");

/// Up to four radio choices, `preselected` 1-based. Items: 1 the first button, 2 to 5 the
/// choices, 6 the second button. Returns the item number of the chosen radio button (the first
/// choice is 2, the second 3, ...) when confirmed with the first button, and 6 (or 999 for the
/// close box) when cancelled.
int Prompt_User_Radio(std::string_view message, int preselected,
                      const std::vector<std::string>& labels, std::string_view title,
                      std::string_view button1, std::string_view button2,
                      std::string_view id = "");

/// Up to four check boxes; `flags` (one per label) are their states in and out.
int Prompt_User_CheckBox(std::string_view message, std::vector<int>& flags,
                         const std::vector<std::string>& labels, std::string_view button1,
                         std::string_view button2, std::string_view title,
                         std::string_view id = "");

/// A list of rows; `value` is the selected row (0-based, -1 none) in and out.
int Prompt_User_ListBox(std::string_view message, int& value,
                        const std::vector<std::string>& lines, std::string_view button1,
                        std::string_view button2, std::string_view title,
                        std::string_view id = "");

/// Shows a text file (missing: "File not found: %s").
int Prompt_User_Show_A_File(const std::string& path, std::string_view button1,
                            std::string_view button2, std::string_view title,
                            std::string_view id = "");

}  // namespace nuvel::ui
