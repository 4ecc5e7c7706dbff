#include "records/student_login.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "base/log.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/run_reset.h"
#include "records/password.h"
#include "records/server_settings.h"
#include "text/utf8.h"
#include "ui/dialog.h"

namespace nuvel::records {
namespace {

// Interface languages whose users see the English word as the password label.
constexpr std::array<std::string_view, 6> kEnglishPasswordLabel = {"JPN", "KOR", "TAI",
                                                                   "MAN", "MAS", "TUR"};

std::string StripBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// The login name as it is kept: whole UTF-8 characters, at most kMaxLoginNameBytes bytes.
std::string CutLoginName(std::string_view name) {
  return std::string(
      name.substr(0, text::GetUTF8Truncation(name, static_cast<int>(kMaxLoginNameBytes) + 1)));
}

// The server form of a clear password, as ConnectToServer would send it.
std::string ServerForm(std::string_view clear) {
  return EncodePlainText(kPasswordKey, clear.substr(0, kSQLPasswordMax));
}

bool IsServerForm(std::string_view text) {
  std::string clear;
  return text.size() == kServerFormSize && text.starts_with(kServerFormPrefix) &&
         text.ends_with("__") && DecodePlainText(kPasswordKey, text, clear) == 1;
}

// The password of the field as the login takes it. A server form goes on unchanged; the answer
// form of the other dialogs becomes its server form, so that no clear text is made of either.
std::string FieldPassword(const std::string& text) {
  if (!text.starts_with(kServerFormPrefix) || IsServerForm(text)) return text;
  std::string clear;
  if (DecodeAnswerPassword(text, clear) == 1) return ServerForm(clear);
  return text;
}

ui::Dialog BuildLoginDialog(const LoginTexts& texts, const std::string& login_name,
                            const std::string& password, const std::string& server_address,
                            int work_off_line, const ServerPopup& popup) {
  ui::Dialog dialog;
  dialog.name = "login";
  dialog.resource = kStudentLoginResource;
  if (texts.greeting.starts_with("MSG_")) dialog.id = texts.greeting;
  dialog.title = base::Run().szCoursewareName;
  dialog.default_item = kLoginOK;
  dialog.cancel_item = kLoginCancel;

  // Items keep their numbers but are added in reading order, each label right before its field:
  // text back ends pair a field with the text in front of it.
  dialog.Add(ui::ItemKind::kTitle, dialog.title, kLoginTitle).visible = false;
  dialog.Add(ui::ItemKind::kStaticText, base::Localize(texts.greeting), kLoginGreeting);
  dialog.Add(ui::ItemKind::kStaticText, base::Localize(texts.id_label), kLoginNameLabel);
  dialog.Add(ui::ItemKind::kEditText, login_name, kLoginName);
  dialog.Add(ui::ItemKind::kStaticText, base::Localize(texts.password_label), kLoginPasswordLabel);
  dialog.Add(ui::ItemKind::kPassword, password, kLoginPassword);
  dialog.Add(ui::ItemKind::kStaticText, base::Localize(texts.address_label), kLoginAddressLabel)
      .visible = false;
  dialog.Add(ui::ItemKind::kStaticText, server_address, kLoginAddress).visible = false;
  ui::DialogItem& off_line =
      dialog.Add(ui::ItemKind::kCheckBox, base::Localize("MSG_WorkOffline"), kLoginOffLine);
  off_line.value = work_off_line & 1;
  off_line.visible = false;

  // The popup carries its label as its own name too, so that text back ends ask for a row by
  // it; the server's name stands in the popup's place when the server is locked.
  dialog.Add(ui::ItemKind::kStaticText, popup.label, kLoginServerLabel);
  ui::DialogItem& servers = dialog.Add(ui::ItemKind::kList, popup.label, kLoginServerPopup);
  servers.lines = popup.entries;
  if (popup.selected >= 0 && popup.selected < static_cast<int>(servers.lines.size())) {
    servers.selected = {popup.selected};
  }
  servers.visible = popup.popup_visible;
  ui::DialogItem& name = dialog.Add(ui::ItemKind::kStaticText, popup.name, kLoginServerName);
  name.visible = popup.name_visible;
  name.enabled = popup.name_enabled;

  ui::DialogItem& ok = dialog.Add(ui::ItemKind::kButton, base::Localize(texts.ok), kLoginOK);
  ok.visible = !ok.text.empty();
  dialog.Add(ui::ItemKind::kButton, base::Localize(texts.cancel), kLoginCancel).visible = false;
  dialog.Add(ui::ItemKind::kButton, base::Localize(texts.edit), kLoginEdit).visible = false;

  dialog.recorded_password = [](const std::string& typed) { return LoginRecordedPassword(typed); };
  return dialog;
}

// Makes the server chosen in the popup current when the user chose another one (or the row that
// asks for a choice). False when the dialog must be shown again.
bool ApplyServerChoice(const ui::Dialog& dialog, const ServerPopup& popup) {
  const ui::DialogItem* servers = dialog.item(kLoginServerPopup);
  if (!servers->visible) return true;
  const int row = servers->selected.empty() ? 0 : servers->selected.front();
  if (row != 0 && row == popup.selected) return true;
  const std::vector<int>& order = RS().OrderRS;
  const int server =
      row >= 0 && row < static_cast<int>(order.size()) ? order[static_cast<std::size_t>(row)] : -1;
  base::WriteLogf(1, "Prompt_StudentLogin_Dialog: Records server %d chosen", server);
  return Set_RS_Values(server, 0) >= 0;
}

}  // namespace

LoginState& Login() {
  static LoginState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("records::Login", [] { state.reset(); });
  return state;
}

std::string LoginRecordedPassword(const std::string& typed) {
  return typed.starts_with(kServerFormPrefix) ? FieldPassword(typed)
                                              : ServerForm(StripBlanks(typed));
}

std::string PasswordLabel(const std::string& language_code) {
  const bool english = std::find(kEnglishPasswordLabel.begin(), kEnglishPasswordLabel.end(),
                                 language_code) != kEnglishPasswordLabel.end();
  return english ? "Password" : base::StrRez(0, "MSG_CMS_StudentPassword");
}

int Prompt_StudentLogin_Dialog(const LoginTexts& texts, std::string& login_name,
                               std::string& password, const std::string& server_address,
                               int& work_off_line) {
  ServerPopup popup;
  if (!Fill_RS_Popup(popup)) return kShowAgain;
  ui::Dialog dialog =
      BuildLoginDialog(texts, login_name, password, server_address, work_off_line, popup);
  const int hit = ui::ModalDialog(dialog);
  if (hit != kLoginOK) return kLoginQuit;

  login_name = CutLoginName(dialog.item(kLoginName)->text);
  password = FieldPassword(dialog.item(kLoginPassword)->text);
  work_off_line = (work_off_line & ~1) | (dialog.item(kLoginOffLine)->value ? 1 : 0);
  return ApplyServerChoice(dialog, popup) ? kLoginEntered : kShowAgain;
}

int StudentLoginScreen(std::string& login_name) {
  LoginState& state = Login();
  const LoginTexts texts{
      .greeting = RS().records_viewer_mode ? "MSG_Message_WelcomeToRecordsViewer"
                                           : "MSG_Message_WelcomeToInternetCourseware",
      .ok = "MSG_Button_OK",
      .cancel = "MSG_Button_Cancel",
      .edit = "MSG_CMS_Edit",
      .id_label = base::StrRez(0, "MSG_MessageStudentLoginID") + " / " +
                  base::StrRez(0, "MSG_Message_GroupLoginID"),
      .password_label = PasswordLabel(base::CurrentLanguageCode()),
      .address_label = "MSG_Message_IPAddress",
  };
  for (;;) {
    state.WorkOffLine &= kWorkOffLineMask;
    const int result =
        Prompt_StudentLogin_Dialog(texts, login_name, state.original_group_login_password,
                                   RS().RecordsIPAddress, state.WorkOffLine);
    const bool quitting = base::Run().quitFlag != 0;
    if (result == kShowAgain && !quitting) continue;
    if (result == kLoginQuit || quitting) {
      base::WriteLogf(1, "StudentLoginScreen,2723: quit %s",
                      result == kLoginQuit ? "button" : "flag");
      return kLoginQuit;
    }
    login_name = StripBlanks(login_name);
    state.original_group_login_password = StripBlanks(state.original_group_login_password);
    if (login_name.empty()) {
      base::WriteLogf(1, "StudentLoginScreen,2739: no student ID, repeat dialog.");
      continue;
    }
    state.EmailAddress = login_name;
    base::WriteLogf(1, "StudentLoginScreen: login %s, Records server %d", login_name.c_str(),
                    RS().rs_server_number);
    return result;
  }
}

}  // namespace nuvel::records
