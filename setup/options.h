// The installation source's options: section "Nuvel" of "install/data/setup.ini" tailors the
// Setup for a school, a distributor or a product line (which buttons are shown, records-login
// mode, full or disc-based installation, interface language, what is written to records.ini,
// what runs at the end). The per-product keys (all, minimal, askeng, forceeng, runfromcd,
// engine_ver) are read by the installer, where the product's own setup.ini overrides them.
//
// A missing file or key keeps the built-in default. Y/N keys follow Set_YN_ini_Value (first
// letter, any case); text keys are trimmed and at most 254 characters.
#pragma once

#include <string>

namespace nuvel::setup {

struct SetupOptions {
  // Read by ReadSetupOptions, in this order.
  int force_TCPIP = 1;
  bool force_TCPIP_present = false;  // the key is in the file (the Advanced button rule)
  std::string force_OS_lang;
  int force_show_rights_needed = 1;
  int force_show_look_for_updates = 1;
  int force_show_confirm_install_screen = 1;
  int force_show_login_screen = 1;
  int force_discless = 1;
  int force_cd_based = 0;
  int force_download_courses = 0;
  std::string force_download_courses_path;
  std::string force_limit_multiLanguages;             // upper-cased
  std::string forced_install_selected_courses_lang;   // upper-cased
  int force_show_advanced_button = 1;
  int force_show_uninstall_button = 1;
  int force_show_help = 1;
  int force_study_online = 0;
  int force_show_uninstall_button_if_no_courses_installed = 1;
  int force_auto_install_all_courses = 0;
  long force_auto_install_all_courses_size = 0;
  int force_always_on_default = 0;
  int force_dont_show_message_about_local_discless = 0;
  int force_show_need_qt = 1;
  int force_show_need_acrobat = 1;
  int force_check_need_acrobat = 1;
  int force_check_need_qt = 1;
  int force_server_num = 0;
  std::string force_recordsipaddress;
  std::string force_nuvel_jpg;
  std::string force_limit_OS_lang;
  int force_english = 0;
  std::string vendor_setup_name = "Nuvel";
  std::string vendor_setup_icon_mac = "IDI_ICON2";
  std::string vendor_setup_graphic_mac = "128";


  void reset() { *this = SetupOptions{}; }
};

SetupOptions& Options();

/// Reads every source option from `setup_ini` in the documented order and applies the ones that
/// act at once (force_OS_lang into records.ini, force_english).
void ReadSetupOptions(const std::string& setup_ini);

/// force_english: "Y..." switches the interface to English. 1 when it did.
int ApplyForceEnglish(const std::string& setup_ini);

/// Whether the Welcome dialog's route shows the Advanced button: always when force_TCPIP was
/// absent from the file, else force_show_advanced_button.
bool ShowAdvancedButton();

/// A text option of setup.ini's section "Nuvel" ("" when absent).
std::string ReadSetupText(const std::string& setup_ini, const char* key);

}  // namespace nuvel::setup
