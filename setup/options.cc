#include "setup/options.h"

#include <cstdlib>

#include "base/ascii.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/strings.h"
#include "platform/run_reset.h"

namespace nuvel::setup {
namespace {

constexpr const char* kSection = "Nuvel";

// Reads a Y/N key; a missing or unreadable value leaves `flag` at its default. True when the
// key's value was a yes/no word.
bool ReadYN(const std::string& file, const char* key, int& flag) {
  std::optional<bool> yes = base::YesNoValue(base::ProfileValue(kSection, key, "", file));
  if (yes) flag = *yes;
  return yes.has_value();
}

}  // namespace

SetupOptions& Options() {
  static SetupOptions options;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("setup::Options", [] { options.reset(); });
  return options;
}

std::string ReadSetupText(const std::string& setup_ini, const char* key) {
  std::string value = base::ProfileValue(kSection, key, "", setup_ini);
  return value;
}

int ApplyForceEnglish(const std::string& setup_ini) {
  std::string value = base::UpperAscii(ReadSetupText(setup_ini, "force_english"));
  if (value.empty() || value[0] != 'Y') return 0;
  Options().force_english = 1;
  base::forceLanguage(0, base::kRegionEnglish, nullptr);
  return 1;
}

void ReadSetupOptions(const std::string& f) {
  SetupOptions& o = Options();

  std::string tcpip = ReadSetupText(f, "force_TCPIP");
  o.force_TCPIP_present = !tcpip.empty();
  if (std::optional<bool> yes = base::YesNoValue(tcpip)) o.force_TCPIP = *yes;
  // In records-login mode the Advanced button stays hidden unless the source asks for it.
  if (o.force_TCPIP) o.force_show_advanced_button = 0;

  o.force_OS_lang = base::UpperAscii(ReadSetupText(f, "force_OS_lang"));
  if (!o.force_OS_lang.empty()) {
    std::string records = base::GetRecordsIniFilePath();
    std::string current = base::ProfileValue("Records", "force_OS_lang", "", records);
    if (current.empty()) {
      std::string value = o.force_OS_lang;
      base::StoreProfileValue("Records", "force_OS_lang", value, records);
      base::forceLanguage(0, base::RegionOfLanguageCode(value), value.c_str());
    }
  }

  ReadYN(f, "force_show_rights_needed", o.force_show_rights_needed);
  ReadYN(f, "force_show_look_for_updates", o.force_show_look_for_updates);
  ReadYN(f, "force_show_confirm_install_screen", o.force_show_confirm_install_screen);
  ReadYN(f, "force_show_login_screen", o.force_show_login_screen);
  ReadYN(f, "force_discless", o.force_discless);
  ReadYN(f, "force_cd_based", o.force_cd_based);
  ReadYN(f, "force_download_courses", o.force_download_courses);
  o.force_download_courses_path = ReadSetupText(f, "force_download_courses_path");
  o.force_limit_multiLanguages = base::UpperAscii(ReadSetupText(f, "force_limit_multiLanguages"));
  o.forced_install_selected_courses_lang =
      base::UpperAscii(ReadSetupText(f, "forced_install_selected_courses_lang"));
  ReadYN(f, "force_show_advanced_button", o.force_show_advanced_button);
  ReadYN(f, "force_show_uninstall_button", o.force_show_uninstall_button);
  ReadYN(f, "force_show_help", o.force_show_help);
  ReadYN(f, "force_study_online", o.force_study_online);
  ReadYN(f, "force_show_uninstall_button_if_no_courses_installed",
         o.force_show_uninstall_button_if_no_courses_installed);
  ReadYN(f, "force_auto_install_all_courses", o.force_auto_install_all_courses);
  o.force_auto_install_all_courses_size =
      std::atol(ReadSetupText(f, "force_auto_install_all_courses_size").c_str());
  ReadYN(f, "force_always_on_default", o.force_always_on_default);
  ReadYN(f, "force_dont_show_message_about_local_discless",
         o.force_dont_show_message_about_local_discless);
  ReadYN(f, "force_show_need_qt", o.force_show_need_qt);
  ReadYN(f, "force_show_need_acrobat", o.force_show_need_acrobat);
  ReadYN(f, "force_check_need_acrobat", o.force_check_need_acrobat);
  ReadYN(f, "force_check_need_qt", o.force_check_need_qt);
  o.force_server_num = std::atoi(ReadSetupText(f, "force_server_num").c_str());
  o.force_recordsipaddress = ReadSetupText(f, "force_recordsipaddress");
  o.force_nuvel_jpg = ReadSetupText(f, "force_nuvel_jpg");
  o.force_limit_OS_lang = base::UpperAscii(ReadSetupText(f, "force_limit_OS_lang"));
  ApplyForceEnglish(f);
  if (std::string v = ReadSetupText(f, "vendor_setup_name"); !v.empty()) o.vendor_setup_name = v;
  if (std::string v = ReadSetupText(f, "vendor_setup_icon_mac"); !v.empty()) {
    o.vendor_setup_icon_mac = v;
  }
  if (std::string v = ReadSetupText(f, "vendor_setup_graphic_mac"); !v.empty()) {
    o.vendor_setup_graphic_mac = v;
  }
  base::WriteLogf(2, "Setup options read from %s", f.c_str());
}

bool ShowAdvancedButton() {
  return !Options().force_TCPIP_present || Options().force_show_advanced_button;
}

}  // namespace nuvel::setup
