// Families, versions and languages: turns the products found on the source (Sources().prodList)
// into the user's choice of what to install, in three steps. First the family (a course,
// whatever its language variant and version), then the version of that family (the five
// characters of the folder name after the product number: language code and version digits),
// then the language. The result is installOrder, the found-product indices to install.
//
// The driver runs: EstablishFamilies, Prompt_FamDialog; EstablishVersions, Prompt_VersionDialog;
// EstablishLanguages, Prompt_LangDialog; CountProducts, Prompt_AddDialog; for multilingual
// courses EstablishMultiLanguages and Prompt_MultiLangDialog. Each establishing step fills the
// lists below; each dialog shows them and stores the user's choice in an index.
//
// Inputs from elsewhere: the found products (installer/sources.h); Run().current_dir (the source
// root), Run().szDefaultIniFile (the source's setup.ini; its folder holds the product folders),
// Run().Content_On_MID and Run().installDiscLess; the installation's "launch" and "content"
// folders (base/paths.h). The three setup options this module acts on are copied into
// SelectionState by the driver after it has read setup.ini (see the fields marked "driver").
//
// The five dialogs share one layout: item 1 the OK (Install) button, the default; item 2 the
// Cancel button; item 3 the list; item 4 the prompt text. Each returns 1 for OK and 2 for Cancel
// (the close box counts as Cancel). OK is enabled only while a row is selected (on_change keeps
// it so); should a back end report OK without a selected row anyway, the dialog is shown again.
// Each list row carries a key (ui::DialogItem::keys) that answer files may choose it by: the
// family number ("003"), the version key ("MUL50"), the language code ("ENG"), the product
// folder ("003MUL50") and the support-language code ("FRA", "ALL" for all of them).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel::installer {

inline constexpr int kFamilyRowCount = 43;
inline constexpr int kLangTabSize = 18;
inline constexpr int kMLangTableSize = 30;

/// Field widths that stay observable: a language name holds 80 characters, a code 6.
inline constexpr std::size_t kLanguageNameMax = 80;
inline constexpr std::size_t kLanguageCodeMax = 6;

/// The dialog item numbers shared by the five dialogs.
inline constexpr int kSelectionOkItem = 1;
inline constexpr int kSelectionCancelItem = 2;
inline constexpr int kSelectionListItem = 3;
inline constexpr int kSelectionPromptItem = 4;

/// The folder name given to a found product whose content is missing from a source that carries
/// content; it belongs to no family.
inline constexpr std::string_view kNoFamilyFolder = "999xxx00";

/// One row of the family table (data/families.inc).
struct FamilyRow {
  std::string number;  // the product number, three digits
  std::string name;    // display name; several rows may share one (editions of a course)
  std::string code;    // short code
  int present = 0;     // the source holds a product of this family
  int order = 0;       // display-order number
  int installed = 0;   // 0 not installed, 1 launch folder only, 2 launch and content folders
  int sizeMB = 0;      // 0: unknown
  int reserved = 0;
  int selected = 0;  // chosen in a multi-family installation
};

/// One entry of langTab or MLangTable.
struct LanguageEntry {
  std::string name;  // at most kLanguageNameMax characters
  std::string code;  // at most kLanguageCodeMax characters
  std::int32_t available = 0;
};

/// The family table as compiled in, with every flag clear.
std::array<FamilyRow, kFamilyRowCount> InitialFamilyTable();

struct SelectionState {
  std::array<FamilyRow, kFamilyRowCount> fam = InitialFamilyTable();

  // Families present on the source: Order holds their rows, sorted by name.
  int theDifferentFamiliesCount = 0;
  std::vector<int> Order;
  int nFamType = 0;        // the chosen family row
  int nSingleProduct = 0;  // found-product index of the last product matched

  // Versions of nFamType: "%s Version %c.%c  %s" (key, digits, version name), sorted.
  std::vector<std::string> theDifferentVersions;
  int theVersion = 0;

  std::array<LanguageEntry, kLangTabSize> langTab{};
  // The chosen entry: of langTab after the language dialog, of MLangTable after the
  // multi-language dialog (the installer reads it through fMultiLingualProduct).
  int nLangType = 0;
  int nSingleLang = 0;  // the langTab entry EstablishLanguages matched last
  int fMultiLingualProduct = 0;

  std::array<LanguageEntry, kMLangTableSize> MLangTable{};
  int kAllInMultilingual = 1;       // offer / install all support languages
  std::string szMultiQuestion;      // multiQuestion
  std::string szSupportLanguage;    // supportlanguage, upper-cased
  std::string szMultiIniLanguages;  // multiLanguages, upper-cased, blank-separated codes

  // The selection.
  int selectedTotal = 0;
  std::vector<int> installOrder;  // found-product indices, by folder name

  // A multi-family installation.
  int install_selected_courses = 0;
  int install_selected_courses_tot = 0;
  int install_selected_courses_counter = 0;
  std::int64_t install_courses_total_size = 0;  // bytes

  // Filled by the driver from the setup options once setup.ini has been read.
  std::string force_limit_multiLanguages;            // driver: upper-cased codes, or ""
  std::string forced_install_selected_courses_lang;  // driver: a code preselected, or ""
  int force_download_courses = 0;                    // driver: courses are downloaded

  int VersionCount() const { return static_cast<int>(theDifferentVersions.size()); }
  void reset() { *this = SelectionState{}; }
};

SelectionState& Selection();

// ---- Language names -------------------------------------------------------------------------

/// The localized name of a three-letter language code ("FRA" -> "French"); any other text is
/// returned unchanged. Logs "WhatLanguage: %s" with the text given.
std::string WhatLanguage(std::string_view text);

/// Fills langTab with its 18 entries: JPN ENG MAN KOR ITL FRA SPN GER PRT TAI VTN MIX MUL and
/// five catch-all entries coded "???". Names start as the message keys of the languages.
void Fill_langTab();

/// Rebuilds MLangTable: 24 support languages, five unused "zzz" entries and ALL last; each name
/// the localized "MSG_Multi1_<code>" ("MSG_Multi1_All" for ALL); nothing available.
void SetMultiTable();

// ---- Families -------------------------------------------------------------------------------

/// Fills the family list from the found products (clearing the previous one). On a source that
/// carries content (Run().Content_On_MID), a product whose "<current_dir>/Nuvel/content/<folder>"
/// ("content_d" when downloads are forced) is missing is renamed kNoFamilyFolder and so joins
/// no family. Records each family's installed state. Returns theDifferentFamiliesCount.
int EstablishFamilies();

/// The family dialog's lines, in Order: name, then for a discless installation with a known
/// size "\t\t<size grouped by commas> MB", then "\t\t", then "Installed" for an installed
/// family, followed by " CD-Based" when only its launch folder is there and its name has no
/// "e-".
std::vector<std::string> DisplayFamilies();

/// Records the families chosen in the family dialog; `lines` are positions in Order. One family:
/// the total size is its size in bytes (MB x 1,000,000) and the multi-family counters are
/// cleared. Several: each gets its selected flag, the sizes are summed, the first becomes
/// nFamType and install_selected_courses = 1, _tot = count, _counter = 0. Other rows lose their
/// selected flag. Returns the number of families recorded.
int SelectCoursesToInstall(const std::vector<int>& lines);

/// Family dialog ("family", id MSG_Message_Choose_Courses with several rows selectable when the
/// source carries content or downloads are forced, else MSG_Message_ChooseCourse). First row
/// preselected. OK sets nFamType and calls SelectCoursesToInstall; Cancel sets fCancel.
int Prompt_FamDialog();

// ---- Versions -------------------------------------------------------------------------------

/// Builds the version list of nFamType (one entry per version key; in a multi-family
/// installation products whose content is missing on the source are skipped), sorted without
/// regard to case from the seventh character on; theVersion = 0. Returns the count.
int EstablishVersions();

/// The version key (first five characters) of entry `index`; "" when out of range.
std::string VersionKey(int index);

/// The newest version of the list: the last entry, as the entries sort by their version digits.
/// The version dialog preselects it, and an installation without that dialog (a family alone
/// in its version, several families chosen together, all courses installed) takes it. 0 for an
/// empty list.
int NewestVersion();

/// Version dialog ("version", id MSG_Message_MatchVersion): the entries from their seventh
/// character on, the newest one preselected. OK sets theVersion.
int Prompt_VersionDialog();

/// Frees the version list.
void FreeVersions();

// ---- Languages ------------------------------------------------------------------------------

/// Marks the langTab entries available for the chosen version (refilling langTab first) and,
/// for a multilingual product, sets fMultiLingualProduct and reads the language settings from
/// the source's setup.ini then the product's own setup.ini (which wins), limited by
/// force_limit_multiLanguages. Sets nLangType to the matched entry unless it is the
/// multilingual one (that choice belongs to the multi-language dialog). Resets
/// szCoursewareName to "Nuvel" first. Returns the number of available entries.
int EstablishLanguages();

/// The language dialog's lines, one per available langTab entry: MUL as
/// MSG_Language_Multilingual, ENG as its localized name, others "%s (%c/E)".
std::vector<std::string> DisplayLanguages();

/// Language dialog ("language", id MSG_Message_ChooseLanguage; "%s\r%s" with
/// MSG_Message_MatchLanguage). The entry nLangType is preselected when listed, else the first.
/// OK sets nLangType.
int Prompt_LangDialog();

// ---- The selection --------------------------------------------------------------------------

/// Builds installOrder for the chosen family, version and language and returns its size, but at
/// least 1 (installOrder itself may be empty; selectedTotal is its true size).
int CountProducts();

/// Confirmation dialog ("products", id MSG_Message_ChooseCourse; buttons MSG_Button_Install and
/// MSG_Button_Cancel) listing the selected products, all rows preselected. OK keeps the rows
/// still selected in installOrder and selectedTotal.
int Prompt_AddDialog();

// ---- Multilingual courses -------------------------------------------------------------------

/// Builds MLangTable's availability for the multilingual product `product` (a found-product
/// index): the language settings of the source's and the product's setup.ini, limited by the
/// forced list; in a multi-family installation the fixed list ENG FRA ITL JPN KOR MAN PRT SPN
/// TAI TUR instead. Without a multiLanguages list the product's DATA folder on the source is
/// looked into ("<product folder>/DATA", else "<current_dir>/Nuvel/content/<folder>/DATA"); when
/// neither can be listed, "Couldn't find the DATA directory" is shown and 0 returned. When
/// nothing is available, ALL is. Returns 1 otherwise.
int EstablishMultiLanguages(int product);

/// One line of the multi-language dialog and the MLangTable entry it stands for.
struct MultiLanguageLine {
  std::string text;
  int entry = 0;
};

/// The available entries by name, then MSG_RM_String_All (standing for ALL) when ALL is
/// available or all languages may be installed (kAllInMultilingual).
std::vector<MultiLanguageLine> DisplayMultiLanguages();

/// Multi-language dialog ("multi-language", id MSG_SelectedCourses; "%s\n%s" with the course
/// name of `product`, or the chosen families' names in a multi-family installation). Each code
/// of szMultiIniLanguages that MLangTable does not know is first reported ("invalid language
/// entry in setup.ini", MSG_Button_OK). The entry of forced_install_selected_courses_lang is
/// preselected when listed, else the first row. OK sets nLangType to the chosen MLangTable entry.
int Prompt_MultiLangDialog(int product);

// ---- Helpers --------------------------------------------------------------------------------

/// 1 when key "sr" in section "nuvel.ini" of `ini_path` begins with "y" or "Y", else 0.
int IsItLH(const std::string& ini_path);

/// `path` shortened for a field `max_width` characters wide: a path of at least 20 characters
/// that does not fit loses whole components from its middle, replaced by "...", keeping the
/// first component and the last, until it fits or nothing more can be dropped.
std::string AbbreviateName(int max_width, const std::string& path);

}  // namespace nuvel::installer
