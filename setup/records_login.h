// The Records-server login of a records-login installation (the source's force_TCPIP): the
// server settings of records.ini, the login screen, the connection, and the checks that decide
// whether the student (or the group's administrator) may install here.
//
// The settings: records.ini's Records-server keys become the running settings; the proxy is
// read; with the login screen, a server that cannot be reached (or a source that forces a
// server number) makes the source's version file the local one, so that version checks work
// off line.
//
// The login loop, until a login is accepted or the run ends:
//   the login screen (Cancel returns to Welcome); the forced server of the source; a name with
//   neither "@" nor "." gets kMakerEmailDomain appended (at most 50 bytes); the address and
//   port get their defaults; the connection (a refused login asks again; three refusals end the
//   run); then the student's record, the classes of the group and these rules, each of which
//   disconnects, says why and asks for another login:
//     an expired student (MSG_StudentExpired), a student who may not study at home installing
//     on a local disk (MSG_HomeStudyNotAllowed), a disabled student (MSG_StudentDisabled), an
//     expired class (MSG_ClassExpired), a disabled class (MSG_ClassDisabled);
//   and these, which end the run: an expired group (MSG_GroupExpired), a group without the
//   right to install courses (MSG_Message_GroupHasBeenDisabled).
// The session stays open for the installation; the run ends with a logout.
//
// Decisions of this implementation:
//  - records.ini's cgipath is kept when it is set; "NuvelRS.NRS" is put in only when it is empty
//    (a school's own server path is never replaced because it names no response page).
//  - The maker's e-mail domain is kMakerEmailDomain; a name that ends in it, in any case, is
//    written with the domain as stored here.
#pragma once

#include <string_view>

namespace nuvel::setup {

/// The domain appended to a login name that has neither an at sign nor a dot.
inline constexpr std::string_view kMakerEmailDomain = "@nuvel.example";

/// How the login ended.
enum class LoginEnd {
  kLoggedIn,  // go on with the installation
  kWelcome,   // the user cancelled the login screen
  kRefused,   // the login could not be completed: the run ends (quit, or a rule that ends it)
};

/// The records-login settings and the login loop.
LoginEnd RecordsLogin();

/// Logs out when a session is open (the end of the run).
void RecordsLogout();

}  // namespace nuvel::setup
