#include "setup/welcome.h"

#include "base/log.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "setup/options.h"
#include "setup/version.h"
#include "ui/dialog.h"
#include "ui/prompts.h"

namespace nuvel::setup {
namespace {

enum WelcomeItem {
  kItemInstall = 1,
  kItemQuit = 2,
  kItemUninstall = 4,
  kItemWelcomeText = 5,
  kItemHelpText = 6,
  kItemPicture = 7,
  kItemVersion = 8,
  kItemHidden = 9,
  kItemHelp = 10,
};

ui::Dialog BuildWelcome(const std::string& picture) {
  const SetupOptions& options = Options();
  const int installed = base::Run().num_of_products;
  ui::Dialog dialog;
  dialog.name = "welcome";
  dialog.resource = 3000;
  dialog.id = "MSG_Message_WelcomeSetup";
  dialog.title = "Nuvel Setup";
  dialog.default_item = kItemInstall;
  dialog.cancel_item = kItemQuit;

  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Install"), kItemInstall);
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Quit"), kItemQuit);
  ui::DialogItem& uninstall =
      dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Uninstall"), kItemUninstall);
  uninstall.enabled = installed > 0;
  uninstall.visible = options.force_show_uninstall_button &&
                      (installed > 0 || options.force_show_uninstall_button_if_no_courses_installed);

  dialog.Add(ui::ItemKind::kStaticText,
             base::StrRezf(0, "MSG_Message_WelcomeSetup", {base::Run().szCoursewareName}),
             kItemWelcomeText);
  dialog.Add(ui::ItemKind::kStaticText, base::Localize("MSG_HelpForUG"), kItemHelpText).visible =
      options.force_show_help != 0;
  ui::DialogItem& image = dialog.Add(ui::ItemKind::kPicture, picture, kItemPicture);
  image.visible = !picture.empty();
  dialog.Add(ui::ItemKind::kStaticText,
             std::string("Version ") + SETUP_VERSION + " (" + kBuildTag + ")", kItemVersion);
  dialog.Add(ui::ItemKind::kStaticText, "", kItemHidden).visible = false;
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Menu_Help"), kItemHelp).visible =
      options.force_show_help != 0;
  return dialog;
}

}  // namespace

int Prompt_Welcome(const std::string& picture) {
  for (;;) {
    ui::Dialog dialog = BuildWelcome(picture);
    switch (ui::ModalDialog(dialog)) {
      case kItemInstall:
        return kWelcomeInstall;
      case kItemUninstall:
        return kWelcomeUninstall;
      case kItemHelp:
        ui::Ask(
            {.message = "MSG_HelpForUG", .title = "MSG_Menu_Help", .buttons = {"MSG_Button_OK"}});
        break;
      case kItemQuit:
      case ui::kCloseBox:
      default:
        return kWelcomeQuit;
    }
  }
}

}  // namespace nuvel::setup
