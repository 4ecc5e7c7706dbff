#include "setup/updates.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/copy_engine.h"
#include "installer/expand.h"
#include "installer/shortcuts.h"
#include "net/download.h"
#include "net/transport.h"
#include "net/update_check.h"
#include "platform/copy.h"
#include "platform/files.h"
#include "setup/options.h"
#include "setup/version.h"
#include "ui/prompts.h"

namespace nuvel::setup {
namespace {

using base::Run;
using base::WriteLogf;

std::string RecordsValue(const char* key) {
  std::string value = base::ProfileValue("Records", key, "", base::GetRecordsIniFilePath());
  return value;
}

// Downloads `name` from the download address into the local system folder and expands it into
// `folder`. False when either step failed.
bool DownloadAndExpand(std::string name, const std::string& folder) {
  const std::string local = base::Paths().localNuvelDirectory;
  std::string address = Run().DownloadAddress;
  if (net::DownloadFile(local, name, address) != 0) return false;
  if (!platform::IsRegularFile(local + name)) return false;
  return installer::ExpandFile(folder, local + name, 0) == 0;
}

std::string CheckNowMessage() {
  return base::StrRez(0, "MSG_CheckForUpdatesNow") + "\r\r" +
         base::StrRez(0, "MSG_MustConnectOnline");
}

}  // namespace

void ChooseDownloadServer() {
  base::RunState& run = Run();
  std::string address = RecordsValue("downloadaddress");
  if (address.empty()) {
    const std::string language = base::CurrentLanguageCode();
    address = (language == "MAN" || language == "MAS") ? net::kRegionalDownloadAddress
                                                       : net::kDefaultDownloadAddress;
  }
  if (address == run.DownloadAddress) return;
  run.DownloadAddress = address;
  WriteLogf(0, "Download address: %s", run.DownloadAddress.c_str());
}

bool FetchEngineMessages() {
  const base::RunState& run = Run();
  if (run.current_dir == run.The_CD_ROM || base::GetIsPathNetworked()) return false;
  const std::string local = base::Paths().localNuvelDirectory;
  const std::string archive = local + "ENGINE_LUC.ZIP";
  net::CFDownloadFile(local, "ENGINE_LUC.ZIP", run.DownloadAddress);
  if (!platform::IsRegularFile(archive)) return false;
  if (installer::ExpandFile(local, archive, 0) != 0) return false;
  WriteLogf(1, "The message file of the download server is in %s", local.c_str());
  return true;
}

bool NewerSetupWanted() {
  if (net::DownloadVersionFile() != 0) return false;
  const std::string file = base::GetVersionIniFilePath();
  if (!platform::IsRegularFile(file)) return false;
  std::string value = base::ProfileValue("Records", "setup2_ver", "", file);
  if (value.empty()) return false;
  WriteLogf(0, "Newest Setup on the download server: %s", value.c_str());
  const auto tilde = value.find('~');
  if (tilde == std::string::npos || !(value.substr(tilde + 1) > SETUP_VERSION)) return false;
  const std::string message = base::StrRezf(0, "MSG_Message_ThereIsANewerVersion", {"SETUP.APP"}) +
                              "\r\r" + base::StrRez(0, "MSG_Message_WouldYouLikeToDownload") +
                              "\r\r" + base::StrRez(0, "MSG_Message_RecommendedUpdate");
  return ui::Ask({.id = "MSG_Message_ThereIsANewerVersion",
                  .message = message,
                  .title = "Setup out-of-date",
                  .buttons = {"MSG_Button_Yes", "MSG_Button_No"}}) == 1;
}

bool StartNewerSetup() {
  base::RunState& run = Run();
  run.DownloadAddress = RecordsValue("downloadaddress");
  if (run.DownloadAddress.empty()) run.DownloadAddress = net::kDefaultDownloadAddress;
  const std::string local = base::Paths().localNuvelDirectory;
  const std::string bundle = local + "Setup.app";
  if (platform::Exists(bundle)) {
    if (std::error_code ec = platform::RemoveTree(bundle)) {
      WriteLogf(0, "ERROR: cannot remove the old %s: %s", bundle.c_str(), ec.message().c_str());
      return false;
    }
  }
  if (!DownloadAndExpand("SETUP.ZIP", local)) {
    WriteLogf(0, "ERROR: the newer Setup could not be downloaded");
    return false;
  }
  if (!installer::RunThisApp(bundle, 0)) return false;
  WriteLogf(0, "Started the newer Setup %s; this one ends", bundle.c_str());
  return true;
}

void OfferUpdates() {
  base::RunState& run = Run();
  SetupOptions& options = Options();
  if (!run.actuallyInstalledSomething || !options.force_show_look_for_updates) return;
  const std::string apps = base::Path("nuvel_apps");
  std::string message;
  if (run.EnteredEmailAddress && options.force_show_login_screen) {
    // Quietly: no error page is shown for this look.
    net::TransportState& transport = net::Transport();
    const int shown = transport.showHTTPError;
    transport.showHTTPError = 0;
    net::DownloadVersionFile();
    const int out_of_date = net::InstallationOutOfDate(apps, run.DownloadAddress);
    transport.showHTTPError = shown;
    if (out_of_date == 0) {
      options.force_show_look_for_updates = 0;
      return;
    }
    if (out_of_date == 1) {
      message = base::StrRezf(0, "MSG_Message_ThereIsANewerVersion", {"Nuvel Courseware"}) +
                "\r\r" + base::StrRez(0, "MSG_Message_WouldYouLikeToDownload");
    }
  }
  if (message.empty()) message = CheckNowMessage();

  net::UpdateCheckState& check = net::UpdateCheck();
  for (;;) {
    if (ui::Ask({.id = "MSG_CheckForUpdatesNow",
                 .message = message,
                 .title = "Check for Updates",
                 .buttons = {"MSG_Button_Yes", "MSG_Button_No"}}) != 1) {
      return;
    }
    if (net::DownloadVersionFile() != 0) return;
    if (!platform::IsRegularFile(base::GetVersionIniFilePath())) {
      // Asked again: the next Yes tries the server again.
      check.versionFile_HasBeenDownloaded = 0;
      message = CheckNowMessage();
      continue;
    }
    if (check.times_accessed == 0) net::InstallationOutOfDate(apps, run.DownloadAddress);
    if (check.freshen_is_outofdate && !DownloadAndExpand("FRESHEN.ZIP", apps)) {
      WriteLogf(0, "ERROR: the newer update checker could not be installed");
      return;
    }
    break;
  }
  WriteLogf(1, "Starting the update checker %s/Freshen.app", apps.c_str());
  installer::RunThisApp(apps + "/Freshen.app", 0);
}

}  // namespace nuvel::setup
