#include "setup/records_login.h"

#include <string>

#include "base/ascii.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "net/transport.h"
#include "net/update_check.h"
#include "net/web_service.h"
#include "platform/files.h"
#include "installer/selection.h"
#include "platform/path_text.h"
#include "records/classes.h"
#include "records/protocol.h"
#include "records/server_settings.h"
#include "records/student_login.h"
#include "records/students.h"
#include "records/record_fields.h"
#include "setup/options.h"
#include "text/utf8.h"
#include "ui/prompts.h"

namespace nuvel::setup {
namespace {

using base::Run;
using base::WriteLogf;

std::string RecordsIni() { return base::GetRecordsIniFilePath(); }

std::string ReadRecords(const char* key) {
  return base::ProfileValue("Records", key, "", RecordsIni());
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() &&
         base::EqualsIgnoreCase(text.substr(text.size() - end.size()), end);
}

// The source's version file becomes the local one, so that version checks work off line.
void UseTheSourceVersionFile() {
  const std::string data = platform::WithTrailingSlash(Run().current_dir) + "install/data/";
  std::string source = data + "VERSIONS.INI";
  if (!platform::IsRegularFile(source)) source = data + "versions.ini";
  const std::string local = base::Paths().localNuvelDirectory + net::kVersionFileName;
  if (auto error = platform::CopyFileContents(source, local)) {
    WriteLogf(1, "Cannot copy the version file %s to %s: %s", source.c_str(), local.c_str(),
              error.message().c_str());
  }
}

// The records.ini settings of the Records server, the proxy, and the version file.
void ReadLoginSettings() {
  records::LoadServerSettings();
  records::ServerSettings& rs = records::RS();
  if (!rs.DownloadAddress.empty()) Run().DownloadAddress = rs.DownloadAddress;
  if (rs.cgiPath.empty()) rs.cgiPath = std::string(records::kDefaultCgiPath);
  net::CheckProxySettings(platform::WithTrailingSlash(platform::ParentFolder(RecordsIni())));

  const SetupOptions& options = Options();
  bool online = true;
  if (options.force_show_login_screen) {
    net::WebRequest probe;
    probe.host = rs.RecordsIPAddress;
    probe.port = rs.RecordsIPPort;
    probe.serverNumber = rs.rs_server_number;
    online = net::AreTheyCurrentlyConnected(probe.host, net::ServicePort(probe)) != 0;
  }
  if (!online || options.force_server_num) UseTheSourceVersionFile();
}

// The login name as the server knows it: the maker's domain appended to a bare name, and a
// name in that domain written with the domain's stored form. `appended` tells whether the
// domain was added.
std::string ServerLoginName(const std::string& typed, bool& appended) {
  std::string name = typed;
  appended = false;
  if (name.find('@') == std::string::npos && name.find('.') == std::string::npos) {
    name += kMakerEmailDomain;
    appended = true;
    name.resize(text::GetUTF8Truncation(name, 51));
  } else if (EndsWithIgnoringCase(name, kMakerEmailDomain)) {
    name.replace(name.size() - kMakerEmailDomain.size(), kMakerEmailDomain.size(),
                 kMakerEmailDomain);
  }
  return name;
}

// Ends the session and says why (the login is asked again).
void Refuse(const char* key) {
  records::DisconnectFromServer();
  Run().Internet = 0;
  if (key) ui::Ask({.id = key, .message = key, .buttons = {"MSG_Button_OK"}});
}

enum class Checks { kAccepted, kAgain, kEnd };

// The class-list mode that fills the table without listing anything.
constexpr int kFillTableOnly = -997;

// The student's record, the classes and the group: whether this login may install here.
Checks CheckTheLogin(const std::string& name) {
  const records::Session& session = records::RecordsSession();
  const bool maker_account = EndsWithIgnoringCase(name, kMakerEmailDomain);
  // A group's own login names no class; a student's login names the student's class.
  const bool student_login =
      Options().force_show_login_screen != 0 && !session.loginClassPath.empty();

  records::StudentBlock& student = records::Students().Student;
  if (student_login) {
    if (records::TCPGet_Student_Info(session.forcedClassPath, session.forcedStudentKey,
                                     student) != 0) {
      if (Run().quitFlag) return Checks::kEnd;
      Refuse(nullptr);
      return Checks::kAgain;
    }
    if (records::IsStudentExpired(student, 1)) {
      Refuse(nullptr);
      return Checks::kAgain;
    }
  }
  if (records::Load_classes(kFillTableOnly) < 0 || Run().quitFlag) {
    return Checks::kEnd;
  }
  const int group_index = records::Classes().login_group_index;
  const records::RecordBytes group = records::ClassSlot(group_index);

  if (student_login) {
    const bool home_study = records::IsStudentAllowedHomeStudy(student) ||
                            (!group.empty() && records::GroupAllowsHomeStudy(group));
    if (!home_study && !maker_account && !base::GetIsPathNetworked()) {
      Refuse("MSG_HomeStudyNotAllowed");
      return Checks::kAgain;
    }
    if (records::IsStudentDisabled(student)) {
      Refuse("MSG_StudentDisabled");
      return Checks::kAgain;
    }
    const records::RecordBytes own_class =
        records::ClassSlot(records::GetClassIndex(session.forcedClassPath));
    if (!own_class.empty()) {
      if (records::IsClassExpired(own_class, 1)) {
        Refuse(nullptr);
        return Checks::kAgain;
      }
      if (records::IsClassDisabled(own_class)) {
        Refuse("MSG_ClassDisabled");
        return Checks::kAgain;
      }
    }
  }
  if (!group.empty()) {
    if (records::IsGroupExpired(group, 1)) return Checks::kEnd;
    if (!records::GroupMayInstall(group)) {
      records::IsGroupDisabled(group, 1);
      return Checks::kEnd;
    }
  }
  return Checks::kAccepted;
}

}  // namespace

LoginEnd RecordsLogin() {
  const SetupOptions& options = Options();
  // Another course after the first logs in again: the session of the first one ends here.
  RecordsLogout();
  ReadLoginSettings();
  if (Run().quitFlag) return LoginEnd::kRefused;

  records::LoginState& login = records::Login();
  for (;;) {
    installer::Selection().install_selected_courses = 0;
    if (options.force_show_login_screen) {
      // The server a source forces is the one the login screen shows.
      if (options.force_server_num && records::RS().rs_server_number != options.force_server_num) {
        records::Set_RS_Values(options.force_server_num, 0);
      }
      const int result = records::StudentLoginScreen(login.EmailAddress);
      if (Run().quitFlag) return LoginEnd::kRefused;
      if (result != records::kLoginEntered) return LoginEnd::kWelcome;
    }
    if (options.force_server_num) records::Set_RS_Values(options.force_server_num, 0);

    bool appended = false;
    const std::string name = ServerLoginName(login.EmailAddress, appended);
    records::ServerSettings& rs = records::RS();
    base::StoreProfileValue("Records", "recordsipaddress", rs.RecordsIPAddress, RecordsIni());
    if (rs.RecordsIPAddress.empty() || rs.RecordsIPAddress == "0.0.0.0" || rs.RecordsIPPort == 0) {
      records::Prompt_User_IP();
    }
    if (rs.cgiPath.empty()) rs.cgiPath = std::string(records::kDefaultCgiPath);
    records::RecordsSession().SQL = base::LowerAscii(ReadRecords("SQL")).starts_with("y");

    if (options.force_show_login_screen) {
      const int group = records::ConnectToServer(name, login.original_group_login_password);
      if (Run().quitFlag) return LoginEnd::kRefused;
      if (group < 1) continue;
      records::SetLoginGroupNumber(group);
    }
    Run().Internet = 1;
    switch (CheckTheLogin(name)) {
      case Checks::kAccepted:
        WriteLogf(0, "Records-server login accepted for %s", login.EmailAddress.c_str());
        return LoginEnd::kLoggedIn;
      case Checks::kAgain:
        if (Run().quitFlag) return LoginEnd::kRefused;
        continue;
      case Checks::kEnd:
        RecordsLogout();
        return LoginEnd::kRefused;
    }
  }
}

void RecordsLogout() {
  if (records::RecordsSession().conected_to_server) records::DisconnectFromServer();
}

}  // namespace nuvel::setup
