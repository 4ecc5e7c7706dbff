#include "installer/install_dialog.h"

#include <string>
#include <vector>

#include "base/log.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/install.h"
#include "installer/selection.h"
#include "installer/sources.h"
#include "platform/events.h"
#include "ui/dialog.h"

namespace nuvel::installer {
namespace {

// The multi-language table's entry chosen for a multilingual product; nullptr when there is
// none (the product is not installed as multilingual, or the choice is out of range).
const LanguageEntry* ChosenMultiLanguage() {
  const SelectionState& sel = Selection();
  if (!sel.fMultiLingualProduct || sel.nLangType < 0 || sel.nLangType >= kMLangTableSize) {
    return nullptr;
  }
  return &sel.MLangTable[sel.nLangType];
}

// The second half of the language choice "English / ...": the product's language; for a
// multilingual product the chosen language when the source supports it, else the words
// "Support language".
std::string SupportLanguageText(const FoundProduct& product) {
  const LanguageEntry* chosen = ChosenMultiLanguage();
  if (!chosen) return product.language;
  const std::string& supported = Selection().szSupportLanguage;
  if (!chosen->code.empty() && supported.find(chosen->code) != std::string::npos) {
    return chosen->name;
  }
  return base::Localize("MSG_Message_SupportLanguage");
}

ui::Dialog BuildInstallDialog(const FoundProduct& product) {
  const InstallState& state = Install();
  ui::Dialog dialog;
  dialog.name = "install";
  dialog.resource = kInstallDialogResource;
  dialog.title = "Nuvel Setup";
  dialog.default_item = kInstallItemInstall;
  dialog.cancel_item = kInstallItemCancel;

  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Install"), kInstallItemInstall);
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Cancel"), kInstallItemCancel);
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Exit"), kInstallItemExit);

  const bool englishOnly = product.englishOnly != 0;
  ui::DialogItem& both =
      dialog.Add(ui::ItemKind::kRadio,
                 base::Localize("MSG_LanguageEnglish") + " / " + SupportLanguageText(product),
                 kInstallItemBothLanguages);
  both.value = 1;
  both.visible = !englishOnly;
  ui::DialogItem& english = dialog.Add(
      ui::ItemKind::kRadio, base::Localize("MSG_Button_EnglishOnly"), kInstallItemEnglishOnly);
  english.visible = !englishOnly;

  std::string of;
  if (state.nTotalToInstall >= 2) {
    of = base::StrRezf(0, "MSG_Message_Of",
                       {std::to_string(state.nInstalling), std::to_string(state.nTotalToInstall)});
  }
  dialog.Add(ui::ItemKind::kStaticText, of, kInstallItemOf);
  dialog.Add(ui::ItemKind::kStaticText, product.courseName, kInstallItemCourse);
  const LanguageEntry* chosen = ChosenMultiLanguage();
  dialog.Add(ui::ItemKind::kStaticText, chosen ? chosen->name : product.language,
             kInstallItemLanguage);
  dialog.Add(ui::ItemKind::kStaticText, product.version, kInstallItemVersion);

  // The two choices exclude each other, whichever way the back end reports a click.
  dialog.on_change = [](ui::Dialog& shown, int item) {
    const ui::DialogItem* changed = shown.item(item);
    if (changed && changed->kind == ui::ItemKind::kRadio && changed->value == 1) {
      ui::ChooseRadio(shown, item);
    }
  };
  return dialog;
}

bool EnglishOnlyChosen(const ui::Dialog& dialog) {
  const ui::DialogItem* english = dialog.item(kInstallItemEnglishOnly);
  return english && english->visible && english->value == 1;
}

}  // namespace

int CallInstallDialog(int product) {
  std::vector<FoundProduct>& products = Sources().prodList;
  if (product < 0 || product >= static_cast<int>(products.size())) {
    base::WriteLogf(0, "ERROR: CallInstallDialog: no product %d", product);
    return kInstallItemCancel;
  }
  FoundProduct& found = products[product];
  const InstallOptions& options = InstallOpts();
  if (options.askeng == 0 || options.forceeng == 1) found.englishOnly = 1;

  base::WriteLogf(0, "Showing 'Install' Dialog for %s", found.folder.c_str());
  ui::Dialog dialog = BuildInstallDialog(found);
  int result = 0;
  for (;;) {
    result = ui::ModalDialog(dialog);
    if (result == kInstallItemInstall) {
      if (EnglishOnlyChosen(dialog)) Install().fTurnEngOnlyFlagOn = 1;
      break;
    }
    if (result == kInstallItemCancel) break;
    if (result == kInstallItemExit || result == ui::kCloseBox) {
      base::Run().fExit = 1;
      break;
    }
  }
  platform::PumpEvents();
  return result;
}

}  // namespace nuvel::installer
