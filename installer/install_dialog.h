// The install dialog: shown before each product is installed, it names the product, its language
// and version and how many products are being installed, and lets the user install the product
// with its support language or in English only.
//
// Items (dialog "install", resource 3007): 1 Install (default), 2 Cancel (cancel item), 3 Exit,
// 4 and 5 a radio group (4, chosen at first: English and the product's language; 5: English
// only), 6 "Course n of m" (empty unless at least two products are being installed), 7 the
// course name, 8 the language, 9 the version. An English-only product shows no radio buttons.
#pragma once

namespace nuvel::installer {

inline constexpr int kInstallDialogResource = 3007;

enum InstallDialogItem {
  kInstallItemInstall = 1,
  kInstallItemCancel = 2,
  kInstallItemExit = 3,
  kInstallItemBothLanguages = 4,
  kInstallItemEnglishOnly = 5,
  kInstallItemOf = 6,
  kInstallItemCourse = 7,
  kInstallItemLanguage = 8,
  kInstallItemVersion = 9,
};

/// Shows the dialog for found product `product`. Before it is shown, the product is marked
/// English-only when the English-only question is switched off (askeng 0) or English only is
/// forced (forceeng 1). Returns 1 Install (setting Install().fTurnEngOnlyFlagOn when English only
/// was chosen), 2 Cancel, 3 Exit or 999 for the close box (both setting Run().fExit). The "of"
/// line shows Install().nInstalling and Install().nTotalToInstall.
int CallInstallDialog(int product);

}  // namespace nuvel::installer
