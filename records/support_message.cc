#include "records/support_message.h"

#include "base/ascii.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "installer/shortcuts.h"
#include "platform/locale.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "records/server_settings.h"
#include "ui/status_box.h"

namespace nuvel::records {
namespace {

constexpr int kServerSix = 6;
constexpr const char* kSubject = "Corrupted Records IP Address";

bool HasAtSign(std::string_view address) { return address.find('@') != std::string_view::npos; }

std::string TrimBlanks(std::string_view text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return "";
  std::size_t last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

// The system's e-mail defaults, read once per run.
void LoadSystemEmailSettings() {
  SupportMessageState& state = SupportMessage();
  if (state.email_settings) return;
  std::string address = platform::SystemEmailAddress();
  state.emailAddress = HasAtSign(address) ? TrimBlanks(address) : "";
  state.mailServerName.clear();  // the session names no outgoing mail server
  state.email_settings = 1;
}

// The folder whose records.ini holds the e-mail settings: the local system folder, or the
// log's folder when the program runs from a removable drive.
std::string LocalSettingsFolder() {
  if (base::Paths().USB_Drive && !base::Log().logname.empty())
    return platform::ParentFolder(base::Log().logname) + "/";
  return base::Paths().localNuvelDirectory;
}

}  // namespace

SupportMessageState& SupportMessage() {
  static SupportMessageState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("records::SupportMessage", [] { state.reset(); });
  return state;
}

std::string GetSupportEmailAddress() {
  if (base::Run().Internet != 1) return std::string(kGeneralSupportAddress);
  const ServerSettings& server = RS();
  for (const SupportRow& row : kSupportRows) {
    if (base::EqualsIgnoreCase(server.RecordsIPAddress, row.host) ||
        (server.rs_server_number == kServerSix && row.host == kServerSixHost))
      return std::string(row.address);
  }
  return std::string(kGeneralSupportAddress);
}

void GetDefaultEmailSMTPSettings(std::string& from, std::string& smtp) {
  const std::string file = base::Paths().localNuvelDirectory + "records.ini";
  std::string value = base::ProfileValue("Records", "email_address", "", file);
  if (!value.empty()) from = value;
  value = base::ProfileValue("Records", "email_SMTP", "", file);
  if (!value.empty()) smtp = value;
}

int SendEmailMessage(int kind, const std::string& text) {
  base::WriteLogf(1, "SendEmailMessage(%d): %s", kind, text.c_str());
  if (kind != kCorruptedRecordsAddress) {
    base::WriteLogf(1, "SendEmailMessage: no message of kind %d", kind);
    return 0;
  }
  SupportMessageState& state = SupportMessage();
  LoadSystemEmailSettings();
  state.from.clear();
  state.to = GetSupportEmailAddress();
  state.smtp.clear();
  state.subject = kSubject;
  GetDefaultEmailSMTPSettings(state.from, state.smtp);
  if (!HasAtSign(state.from)) state.from.clear();
  if (!HasAtSign(state.to)) state.to.clear();
  if (state.from.empty()) state.from = state.emailAddress;
  if (state.smtp.empty()) state.smtp = state.mailServerName;
  state.theirText.clear();
  state.from = TrimBlanks(state.from);
  state.to = TrimBlanks(state.to);
  state.smtp = TrimBlanks(state.smtp);

  // The settings as they are now go with the log to support. One file serving as both is
  // added once.
  const std::string local_settings = LocalSettingsFolder() + "records.ini";
  const std::string installation_settings = base::Path("records.ini");
  base::AddOnToNuvelLog(local_settings);
  if (installation_settings != local_settings) base::AddOnToNuvelLog(installation_settings);

  ui::StatusBoxCreate();
  ui::StatusBoxUpdate("E-Mail", "Status", "");
  state.attach.clear();
  int opened =
      installer::SendEmailShell(state.subject, state.from, state.to, state.attach, state.theirText);
  base::WriteLogf(1, "SendEmailMessage: to '%s' from '%s' handed to the mail application (%d)",
                  state.to.c_str(), state.from.c_str(), opened);
  ui::StatusBoxDestroy();
  return 0;
}

}  // namespace nuvel::records
