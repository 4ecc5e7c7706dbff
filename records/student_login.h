// The student login of a records-login installation: the login screen asks for a login name, a
// password and the Records server to use; the Setup driver then logs in with them
// (ConnectToServer) and reads the student's record.
//
// Login dialog (dialog "login", resource 3932):
//    1 OK (the default; hidden when its text is empty)
//    2 Cancel, 3 Edit        buttons the screen passes but the dialog keeps hidden: the user
//                            leaves the login through the window's close box, which counts as
//                            Cancel
//    4 the address label, 6 the server's address (hidden: the popup chooses the server)
//    5 the login name, an edit field, pre-filled
//    7 the password, a password field, pre-filled
//    8 the dialog's title line (hidden; the window shows the title)
//    9 the off-line check box (hidden, set from bit 0 of the off-line flags)
//   10 the greeting, 14 the login-name label, 15 the password label
//   11 the chosen server's name, shown disabled in place of the popup when the server is locked
//      (ServerPopup::name_visible), hidden otherwise
//   12 the Records-server label, 13 the server popup (a list of one row, as Fill_RS_Popup fills
//      it; row 0 prompts for a choice)
// Answer files fill it by item number: login set 5="ann@school.example" set 7="**__..." -> 1
//
// Passwords. The password is never shown, logged or recorded in clear. Recorded answers hold it
// in its server form ("**__" + 32 Base64 characters + "__": EncodePlainText of the first
// kSQLPasswordMax characters, exactly what ConnectToServer sends for the typed text), and a
// password that reaches the dialog in that form (a replayed answer) is passed on to the login
// unchanged, never decoded. A password in the answer form of the other dialogs (108 Base64
// characters) is turned into its server form. The Records server matches passwords upper-cased,
// so the server form of a typed password decodes to its upper-case letters.
//
// Decisions of this implementation:
//  - The password label is "MSG_CMS_StudentPassword" in the interface language, except in
//    Japanese, Korean, Chinese (TAI, MAN, MAS) and Turkish, which see the English word
//    "Password". The Records server compares passwords as upper-cased Latin text: the keyboards
//    of the first five compose other scripts by default, and Turkish upper-cases i and ı
//    differently from the server, so the English word reminds those users to type the password
//    in plain Latin letters as it was given to them.
//  - A different server chosen in the popup becomes current without an announcement
//    (Set_RS_Values(n, 0)): the user has just chosen it, and the data folder already kept for
//    that server holds this installation's own records of it, which must stay in use.
//  - Choosing the prompting first row asks the user to choose a server and shows the dialog
//    again (result kShowAgain); so does a popup that could not be filled while the run goes on.
//  - The off-line check box writes bit 0 of the off-line flags; bits 1 to 6 are kept.
//  - records_viewer_mode is the one of the server settings (RS()), which the popup reads too.
#pragma once

#include <cstddef>
#include <string>

namespace nuvel::records {

inline constexpr int kStudentLoginResource = 3932;

enum StudentLoginItem {
  kLoginOK = 1,
  kLoginCancel = 2,
  kLoginEdit = 3,
  kLoginAddressLabel = 4,
  kLoginName = 5,
  kLoginAddress = 6,
  kLoginPassword = 7,
  kLoginTitle = 8,
  kLoginOffLine = 9,
  kLoginGreeting = 10,
  kLoginServerName = 11,
  kLoginServerLabel = 12,
  kLoginServerPopup = 13,
  kLoginNameLabel = 14,
  kLoginPasswordLabel = 15,
};

/// Results of the login dialog and the login screen.
inline constexpr int kLoginEntered = 1;  // OK
inline constexpr int kLoginQuit = 2;     // Cancel, the close box, or the run is quitting
inline constexpr int kShowAgain = -99;   // the dialog must be shown again

/// The longest login name kept, in bytes of UTF-8 (whole characters only).
inline constexpr std::size_t kMaxLoginNameBytes = 254;
/// The bits of WorkOffLine that are kept.
inline constexpr int kWorkOffLineMask = 0x7F;

/// What the login screen leaves for the driver (module-global, one instance).
struct LoginState {
  std::string EmailAddress;                   // the login name typed, blanks stripped
  std::string original_group_login_password;  // the password typed (or its server form)
  int WorkOffLine = 0;                        // bits 0-6: the user chose to work off line

  void reset() { *this = LoginState{}; }
};

/// The one instance; registered with platform::ResetRunState on first use.
LoginState& Login();

/// The texts of the login dialog, each a MSG_ key or a literal text.
struct LoginTexts {
  std::string greeting;
  std::string ok;
  std::string cancel;
  std::string edit;
  std::string id_label;
  std::string password_label;
  std::string address_label;
};

/// One showing of the login dialog. `login_name`, `password` and `work_off_line` pre-fill it.
/// Only OK changes them: the name cut to kMaxLoginNameBytes, the password as typed or in its
/// server form (see Passwords above), bit 0 of the flags from the check box; a changed server
/// choice is then made current. Returns kLoginEntered after OK, kLoginQuit after Cancel or the
/// close box, kShowAgain when the user chose the popup's prompting row (the values typed are
/// kept for the next showing) or the popup could not be filled (quitFlag tells whether the run
/// goes on).
int Prompt_StudentLogin_Dialog(const LoginTexts& texts, std::string& login_name,
                               std::string& password, const std::string& server_address,
                               int& work_off_line);

/// The label of the password field for an interface language code (see the decisions above).
std::string PasswordLabel(const std::string& language_code);

/// The login screen: shows the login dialog until a login name is entered (kLoginEntered; the
/// name, blanks stripped, is in `login_name` and Login().EmailAddress, the password in
/// Login().original_group_login_password) or the user quits or the run is quitting (kLoginQuit,
/// logged as "StudentLoginScreen,2723: quit button" or "... quit flag"). A name of blanks only
/// logs "StudentLoginScreen,2739: no student ID, repeat dialog." and shows the dialog again.
int StudentLoginScreen(std::string& login_name);

/// What recorded answers hold for a password typed into the login dialog: its server form; a
/// text that is a server form already stays as it is.
std::string LoginRecordedPassword(const std::string& typed);

}  // namespace nuvel::records
