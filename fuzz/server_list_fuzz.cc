// The Records-server list on any version file and records.ini: choosing a server, reading the
// server names and filling the popup never fail, never read past the data, and leave only
// well-formed running settings: every popup entry has a server number (-1 for the prompting
// entry, else 1 to 100), the popup's selection is one of its entries, and the Records address
// is at most 63 characters.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "fuzz/fuzz_support.h"
#include "net/update_check.h"
#include "platform/run_reset.h"
#include "records/server_settings.h"
#include "ui/prompts.h"

namespace {

using namespace nuvel;

void CheckRunningState(const records::ServerPopup& popup, const char* after) {
  const records::ServerSettings& rs = records::RS();
  const std::string where = std::string(" after ") + after;
  if (rs.RecordsIPAddress.size() > records::kMaxRecordsAddress) {
    fuzz::Broken("a Records address of " + std::to_string(rs.RecordsIPAddress.size()) +
                 " characters" + where);
  }
  for (std::size_t i = 0; i < rs.OrderRS.size(); ++i) {
    const int number = rs.OrderRS[i];
    if (number == -1 ? i != 0 : number < 1 || number > records::kMaxServerNumber) {
      fuzz::Broken("popup entry " + std::to_string(i) + " has server number " +
                   std::to_string(number) + where);
    }
  }
  if (rs.rs_count != static_cast<int>(rs.OrderRS.size()) && rs.rs_count != 0) {
    fuzz::Broken("rs_count differs from the popup's entries" + where);
  }
  if (popup.selected < 0 ||
      (!popup.entries.empty() && popup.selected >= static_cast<int>(popup.entries.size())) ||
      popup.entries.size() != rs.OrderRS.size()) {
    fuzz::Broken("the popup's selection or numbers do not match its entries" + where);
  }
  if (rs.rs_server_number < 0 || rs.rs_server_number > records::kMaxServerNumber) {
    fuzz::Broken("server number " + std::to_string(rs.rs_server_number) + where);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const int number = input.ConsumeIntegralInRange<int>(-1, 101);
  const int announce = input.ConsumeBool() ? 1 : 0;
  const std::string address = input.ConsumeRandomLengthString(records::kMaxRecordsAddress);
  const std::string records_ini = input.ConsumeRandomLengthString(2048);
  const std::string list = input.ConsumeRemainingBytesAsString();

  // A local installation in the scratch folder: records.ini and VERSION2M.INI side by side.
  const std::string& folder = fuzz::ScratchFolder();
  fuzz::EmptyFolder(folder);
  platform::ResetRunState();
  base::Paths().installDirectoryPath = folder;
  base::Paths().localNuvelDirectory = folder + "/";
  // The download server is never asked: the version file counts as fetched in this run.
  net::UpdateCheck().versionFile_HasBeenDownloaded = 1;
  // Nobody answers: the announcement is taken as seen, as in an unattended job.
  ui::Prompts().CmdLine_job = 1;
  fuzz::WriteWholeFile(base::GetRecordsIniFilePath(), records_ini);
  fuzz::WriteWholeFile(base::GetVersionIniFilePath(), list);
  base::FreePrivateProfile();
  records::RS().RecordsIPAddress = address;

  // The names alone, into an empty popup.
  records::ServerPopup popup;
  int selected = 0;
  records::Read_Record_Server_names(base::GetVersionIniFilePath(), popup, selected);
  CheckRunningState(popup, "Read_Record_Server_names");
  popup = records::ServerPopup{};
  records::RS().OrderRS.clear();
  records::RS().rs_count = 0;

  if (number != -1) records::Set_RS_Values(number, announce);  // -1 only asks the user
  CheckRunningState(popup, "Set_RS_Values");

  // Fill_RS_Popup asks the user (who is not there) when the list is unusable; such a list
  // is deleted first, which Set_RS_Values above already read.
  base::FreePrivateProfile();
  if (!base::ProfileValue("Records", "server_list_ver", "", base::GetVersionIniFilePath())
           .empty()) {
    if (records::Fill_RS_Popup(popup) != 1) fuzz::Broken("the popup ended the run");
    CheckRunningState(popup, "Fill_RS_Popup");
    if (popup.entries.empty() || records::RS().OrderRS[0] != -1) {
      fuzz::Broken("the popup lacks its prompting first entry");
    }
  }
  if (base::Run().quitFlag) fuzz::Broken("the run was ended");
  return 0;
}
