// The support message: when support staff must hear about a condition, a message is prepared
// and handed to the user's own mail application, which opens it ready to be sent. Nothing is
// sent by the program itself. The one such condition is a Records-server settings checksum that
// does not match (kind 11): the message goes to the support address responsible for the
// configured Records server, with the subject "Corrupted Records IP Address" and an empty body,
// and the log receives both records.ini files so that support can read the settings.
//
// Support addresses: the general address, and a table of ten rows pairing a Records-server host
// with a regional address (kSupportRows). An Internet installation whose RecordsIPAddress is one
// of the hosts (compared without regard to case) takes that row's address; server number 6
// takes the row of kServerSixHost.
//
// The sender and the mail server come from the local system folder's records.ini (section
// Records: email_address, email_SMTP; email_SMTP_user is not needed for the hand-off). A sender
// or recipient without "@" is dropped. Where records.ini names none, the system's defaults stand
// in: on this system the e-mail address is the session's EMAIL variable
// (platform::SystemEmailAddress; taken only when it holds "@"), and there is no system SMTP
// host, so the mail server stays empty. The mail application uses its own account settings
// anyway: the sender and server only travel in the prepared fields.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace nuvel::records {

/// The message kind of a corrupted Records-server setting, the only kind this system sends.
inline constexpr int kCorruptedRecordsAddress = 11;

inline constexpr std::string_view kGeneralSupportAddress = "support@nuvel.example";

struct SupportRow {
  std::string_view host;     // a Records-server host
  std::string_view address;  // the support address responsible for it
};

/// The Records-server hosts and their regional support addresses.
inline constexpr std::array<SupportRow, 10> kSupportRows{{
    {"rs-us.nuvel.example", "support-americas@nuvel.example"},
    {"rs-ca.nuvel.example", "support-americas@nuvel.example"},
    {"rs-latam.nuvel.example", "soporte-latam@nuvel.example"},
    {"rs-uk.nuvel.example", "support-uk@nuvel.example"},
    {"rs-eu.nuvel.example", "support-europe@nuvel.example"},
    {"rs-mena.nuvel.example", "support-mena@nuvel.example"},
    {"rs-jp.nuvel.example", "support-japan@nuvel.example"},
    {"rs-kr.nuvel.example", "support-korea@nuvel.example"},
    {"rs-cn.nuvel.example", "support-china@nuvel.example"},
    {"rs-apac.nuvel.example", "support-apac@nuvel.example"},
}};

/// Server number 6 is answered by the support of this host's row.
inline constexpr std::string_view kServerSixHost = "rs-us.nuvel.example";

/// The prepared fields of the last message (kept between calls) and the system's defaults.
struct SupportMessageState {
  std::string from, to, smtp, subject, attach, theirText;
  int email_settings = 0;      // the system defaults were read
  std::string emailAddress;    // the system's e-mail address
  std::string mailServerName;  // the system's SMTP host

  void reset() { *this = SupportMessageState{}; }
};

SupportMessageState& SupportMessage();

/// Prepares the message of `kind` and hands it to the mail application (see the header
/// comment); `text` is logged. Always 0: the caller ends the run whatever the mail application
/// did. A kind other than kCorruptedRecordsAddress is logged and nothing is sent.
int SendEmailMessage(int kind, const std::string& text);

/// The support address for the configured Records server (see the header comment).
std::string GetSupportEmailAddress();

/// Replaces `from` by email_address and `smtp` by email_SMTP of the local system folder's
/// records.ini, each only when the key holds a value.
void GetDefaultEmailSMTPSettings(std::string& from, std::string& smtp);

}  // namespace nuvel::records
