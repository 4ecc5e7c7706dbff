#include "installer/selection.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/sources.h"
#include "platform/files.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "ui/dialog.h"
#include "ui/prompts.h"

namespace nuvel::installer {
namespace {

struct FamilyData {
  std::string_view number;
  std::string_view name;
  std::string_view code;
  int present;
  int order;
  int installed;
  int sizeMB;
  int reserved;
  int selected;
};

#include "data/families.inc"

static_assert(std::size(kFamilyData) == kFamilyRowCount, "the family table has 43 rows");

// Language codes and the message keys of their names (WhatLanguage).
struct LanguageName {
  std::string_view code;
  std::string_view key;
};

constexpr LanguageName kLanguageNames[] = {
    {"JPN", "MSG_LanguageJapanese"},     {"ENG", "MSG_LanguageEnglish"},
    {"MAN", "MSG_LanguageMandarin_MAN"}, {"MAS", "MSG_LanguageMandarin_MAS"},
    {"KOR", "MSG_LanguageKorean"},       {"ITL", "MSG_LanguageItalian"},
    {"FRA", "MSG_LanguageFrench"},       {"SPN", "MSG_LanguageSpanish"},
    {"GER", "MSG_LanguageGerman"},       {"GRK", "MSG_LanguageGreek"},
    {"VTN", "MSG_LanguageVietnamese"},   {"IND", "MSG_LanguageIndonesian"},
    {"CZH", "MSG_LanguageCzech"},        {"SVK", "MSG_LanguageSlovakian"},
    {"ROU", "MSG_LanguageRomanian"},     {"HUN", "MSG_LanguageHungarian"},
    {"PRT", "MSG_LanguagePortuguese"},   {"TAI", "MSG_LanguageThai"},
    {"TUR", "MSG_LanguageTurkish"},      {"ARB", "MSG_LanguageArabic"},
    {"MAL", "MSG_LanguageMalay"},        {"DAN", "MSG_LanguageDanish"},
    {"MON", "MSG_LanguageMongolian"},    {"RUS", "MSG_LanguageRussian"},
    {"KAZ", "MSG_LanguageKazakh"},       {"HIN", "MSG_LanguageHindi"},
    {"PUN", "MSG_LanguagePunjabi"},      {"UKR", "MSG_LanguageUkrainian"},
};

// langTab as filled at start: the name is the message key of the language until a product's
// code replaces it.
constexpr LanguageName kLangTabSeed[kLangTabSize] = {
    {"JPN", "MSG_LanguageJapanese"},
    {"ENG", "MSG_LanguageEnglish"},
    {"MAN", "MSG_LanguageMandarin_MAN"},
    {"KOR", "MSG_LanguageKorean"},
    {"ITL", "MSG_LanguageItalian"},
    {"FRA", "MSG_LanguageFrench"},
    {"SPN", "MSG_LanguageSpanish"},
    {"GER", "MSG_LanguageGerman"},
    {"PRT", "MSG_LanguagePortuguese"},
    {"TAI", "MSG_LanguageThai"},
    {"VTN", "MSG_LanguageVietnamese"},
    {"MIX", "MSG_Multi1_MIX"},
    {"MUL", "MSG_Language_Multilingual"},
    {"???", "???"},
    {"???", "???"},
    {"???", "???"},
    {"???", "???"},
    {"???", "???"},
};
constexpr int kMultilingualEntry = 12;  // "MUL"

constexpr std::string_view kMultiCodes[kMLangTableSize] = {
    "JPN", "VTN", "MAN", "KOR", "ITL", "FRA", "SPN", "GER", "PRT", "TAI",
    "ENG", "TUR", "MAL", "K3J", "K4J", "K5J", "KAJ", "KBJ", "KCJ", "KDJ",
    "KEJ", "MIX", "KID", "GEN", "zzz", "zzz", "zzz", "zzz", "zzz", "ALL",
};
constexpr int kAllEntry = kMLangTableSize - 1;

// The support languages offered when several families are installed together.
constexpr std::string_view kMultiFamilyLanguages = "ENG FRA ITL JPN KOR MAN PRT SPN TAI TUR";

// Resource numbers of the five dialogs.
constexpr int kFamilyResource = 3100;
constexpr int kVersionResource = 3101;
constexpr int kLanguageResource = 3102;
constexpr int kProductsResource = 3103;
constexpr int kMultiLanguageResource = 3104;

// A version entry's display text starts after the five-character key and its blank.
constexpr std::size_t kVersionTextOffset = 6;

bool LessIgnoringCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return base::ToLowerAscii(x) < base::ToLowerAscii(y);
  });
}

std::string Cut(std::string_view text, std::size_t max) { return std::string(text.substr(0, max)); }

// The product number (first three characters) and version key (the next five) of a folder.
std::string ProductNumberOf(const std::string& folder) {
  return folder.size() >= 3 ? folder.substr(0, 3) : std::string();
}
std::string VersionKeyOf(const std::string& folder) {
  return folder.size() >= 8 ? folder.substr(3, 5) : std::string();
}

// The family row of nFamType; a row matching nothing when nFamType is out of range.
const FamilyRow& ChosenFamily() {
  static const FamilyRow kNone;
  int row = Selection().nFamType;
  return row >= 0 && row < kFamilyRowCount ? Selection().fam[row] : kNone;
}

// A product belongs to the family whose product-number string holds its number.
bool InFamily(const FoundProduct& product, const FamilyRow& family) {
  std::string number = ProductNumberOf(product.folder);
  return !number.empty() && family.number.find(number) != std::string::npos;
}

// The folder of the source that holds the product folders: the folder of its setup.ini.
std::string ProductsFolder() {
  const base::RunState& run = base::Run();
  if (!run.szDefaultIniFile.empty()) {
    std::string folder;
    std::string file;
    base::SeparatePathAndFile(run.szDefaultIniFile, folder, file);
    if (!folder.empty()) return platform::WithoutTrailingSlash(folder);
  }
  return platform::WithoutTrailingSlash(run.current_dir) + "/install/data";
}

// The product's content folder on the source ("content_d" when courses are downloaded).
std::string ContentOnSource(const std::string& folder) {
  const char* content = Selection().force_download_courses ? "content_d" : "content";
  return platform::WithoutTrailingSlash(base::Run().current_dir) + "/Nuvel/" + content + "/" +
         folder;
}

// 1 when the installation's launch folder holds the product, 2 when its content folder does too.
int InstalledState(const std::string& folder) {
  if (base::Paths().installDirectoryPath.empty()) return 0;
  if (!platform::IsDirectory(base::Path("launch") + folder)) return 0;
  return platform::IsDirectory(base::Path("content") + folder) ? 2 : 1;
}

std::string GroupThousands(int value) {
  std::string digits = std::to_string(value);
  std::string out;
  int count = 0;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (count > 0 && count % 3 == 0 && *it != '-') out.insert(out.begin(), ',');
    out.insert(out.begin(), *it);
    ++count;
  }
  return out;
}

// Codes of a blank-separated list, taken four characters at a time as the lists are written
// ("ENG FRA ITL").
std::vector<std::string> CodesOf(std::string_view list) {
  std::vector<std::string> codes;
  for (std::size_t i = 0; i < list.size(); i += 4) {
    std::string code(list.substr(i, 3));
    base::StripProfileValue(code);
    if (!code.empty()) codes.push_back(code);
  }
  return codes;
}

std::string JoinCodes(const std::vector<std::string>& codes) {
  std::string out;
  for (const std::string& code : codes) out += (out.empty() ? "" : " ") + code;
  return out;
}

// Reads one setup.ini's language settings over the values read so far.
void ReadLanguageSettingsFrom(const std::string& file) {
  if (file.empty()) return;
  SelectionState& sel = Selection();
  std::string value;
  auto read = [&](const char* key, const std::string& current) {
    value = base::ProfileValue("Nuvel", key, current, file);
    return value;
  };
  sel.szMultiQuestion = read("multiQuestion", sel.szMultiQuestion);
  base::Run().szCoursewareName = read("coursewarename", base::Run().szCoursewareName);
  sel.szSupportLanguage = base::UpperAscii(read("supportlanguage", sel.szSupportLanguage));
  sel.szMultiIniLanguages = base::UpperAscii(read("multiLanguages", sel.szMultiIniLanguages));
  if (std::optional<bool> yes = base::YesNoValue(read("all", ""))) sel.kAllInMultilingual = *yes;
}

// The language settings of a product: the source's setup.ini, then the product folder's own
// (found whatever the case of its name), which wins. Each product starts from the defaults.
void ReadLanguageSettings(const std::string& folder) {
  SelectionState& sel = Selection();
  sel.szMultiQuestion.clear();
  sel.szSupportLanguage.clear();
  sel.szMultiIniLanguages.clear();
  sel.kAllInMultilingual = 1;
  if (base::Run().szCoursewareName.empty()) base::Run().szCoursewareName = "Nuvel";
  ReadLanguageSettingsFrom(base::Run().szDefaultIniFile);
  ReadLanguageSettingsFrom(
      base::ExistingPathAnyCase(ProductsFolder() + "/" + folder + "/SETUP.INI"));
}

// Keeps only the codes of the forced list (when one is set); with one code left, or two of which
// one is English, there is nothing to choose among all languages.
void LimitMultiLanguages() {
  SelectionState& sel = Selection();
  std::vector<std::string> codes = CodesOf(sel.szMultiIniLanguages);
  if (!sel.force_limit_multiLanguages.empty()) {
    std::erase_if(codes, [&](const std::string& code) {
      return sel.force_limit_multiLanguages.find(code) == std::string::npos;
    });
    sel.szMultiIniLanguages = JoinCodes(codes);
  }
  bool has_english = std::find(codes.begin(), codes.end(), "ENG") != codes.end();
  if (codes.size() == 1 || (codes.size() == 2 && has_english)) sel.kAllInMultilingual = 0;
}

// ---- The list dialogs ----

void EnableOkWhileSelected(ui::Dialog& dialog) {
  ui::DialogItem* list = dialog.item(kSelectionListItem);
  ui::DialogItem* ok = dialog.item(kSelectionOkItem);
  if (list && ok) ok->enabled = !list->selected.empty();
}

ui::Dialog ListDialog(const std::string& name, int resource, const std::string& id,
                      const std::string& prompt, std::vector<std::string> lines,
                      std::vector<std::string> keys, bool multiple, std::vector<int> preselected,
                      std::string_view ok_text) {
  ui::Dialog dialog;
  dialog.name = name;
  dialog.resource = resource;
  dialog.id = id;
  dialog.title = base::Run().szCoursewareName;
  dialog.Add(ui::ItemKind::kButton, base::Localize(ok_text), kSelectionOkItem);
  dialog.Add(ui::ItemKind::kButton, base::Localize("MSG_Button_Cancel"), kSelectionCancelItem);
  ui::DialogItem& list = dialog.Add(ui::ItemKind::kList, "", kSelectionListItem);
  list.lines = std::move(lines);
  list.keys = std::move(keys);
  list.multiple = multiple;
  std::erase_if(preselected,
                [&](int row) { return row < 0 || row >= static_cast<int>(list.lines.size()); });
  list.selected = std::move(preselected);
  dialog.Add(ui::ItemKind::kStaticText, prompt, kSelectionPromptItem);
  dialog.default_item = kSelectionOkItem;
  dialog.cancel_item = kSelectionCancelItem;
  dialog.selection_buttons = {kSelectionOkItem};
  dialog.on_change = [](ui::Dialog& d, int) { EnableOkWhileSelected(d); };
  EnableOkWhileSelected(dialog);
  return dialog;
}

// Shows the dialog until OK comes with a row selected (1, the valid rows in ascending order in
// *rows) or it is cancelled (2; also the close box). An empty list can only be cancelled.
int RunListDialog(ui::Dialog& dialog, std::vector<int>* rows) {
  for (;;) {
    int hit = ui::ModalDialog(dialog);
    if (hit != kSelectionOkItem) return kSelectionCancelItem;
    const ui::DialogItem* list = dialog.item(kSelectionListItem);
    if (list->lines.empty()) return kSelectionCancelItem;
    std::vector<int> chosen = list->selected;
    std::erase_if(chosen,
                  [&](int row) { return row < 0 || row >= static_cast<int>(list->lines.size()); });
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    if (!chosen.empty()) {
      *rows = std::move(chosen);
      return kSelectionOkItem;
    }
    base::WriteLogf(2, "Dialog '%s': OK without a selected row, shown again", dialog.name.c_str());
  }
}

// (text, langTab entry) of each line of the language dialog.
std::vector<std::pair<std::string, int>> LanguageLines() {
  std::vector<std::pair<std::string, int>> lines;
  const SelectionState& sel = Selection();
  for (int i = 0; i < kLangTabSize; ++i) {
    const LanguageEntry& entry = sel.langTab[i];
    if (!entry.available) continue;
    std::string text;
    if (entry.code == "MUL") {
      text = base::Localize("MSG_Language_Multilingual");
    } else if (entry.code == "ENG") {
      text = WhatLanguage(entry.name);
    } else {
      char first = entry.code.empty() ? ' ' : entry.code[0];
      text = WhatLanguage(entry.name) + " (" + first + "/E)";
    }
    lines.emplace_back(std::move(text), i);
  }
  return lines;
}

}  // namespace

std::array<FamilyRow, kFamilyRowCount> InitialFamilyTable() {
  std::array<FamilyRow, kFamilyRowCount> rows;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const FamilyData& d = kFamilyData[i];
    rows[i] = FamilyRow{std::string(d.number),
                        std::string(d.name),
                        std::string(d.code),
                        d.present,
                        d.order,
                        d.installed,
                        d.sizeMB,
                        d.reserved,
                        d.selected};
  }
  return rows;
}

SelectionState& Selection() {
  static SelectionState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("installer::Selection", [] { state.reset(); });
  return state;
}

// ---- Language names -----------------------------------------------------------------------

std::string WhatLanguage(std::string_view text) {
  base::WriteLogf(3, "WhatLanguage: %.*s", static_cast<int>(text.size()), text.data());
  for (const LanguageName& language : kLanguageNames) {
    if (language.code != text) continue;
    std::string name = base::StrRez(0, language.key);
    return name.empty() ? std::string(text) : name;
  }
  return std::string(text);
}

void Fill_langTab() {
  SelectionState& sel = Selection();
  for (int i = 0; i < kLangTabSize; ++i) {
    sel.langTab[i] = LanguageEntry{Cut(kLangTabSeed[i].key, kLanguageNameMax),
                                   Cut(kLangTabSeed[i].code, kLanguageCodeMax), 0};
  }
}

void SetMultiTable() {
  SelectionState& sel = Selection();
  for (int i = 0; i < kMLangTableSize; ++i) {
    std::string code(kMultiCodes[i]);
    std::string key = i == kAllEntry ? std::string("MSG_Multi1_All") : "MSG_Multi1_" + code;
    // The unused "zzz" entries have no text to look up (a lookup would only log an error).
    std::string name = code == "zzz" ? std::string() : base::StrRez(0, key);
    sel.MLangTable[i] = LanguageEntry{Cut(name, kLanguageNameMax), code, 0};
  }
}

// ---- Families -----------------------------------------------------------------------------

int EstablishFamilies() {
  SelectionState& sel = Selection();
  base::WriteLogf(2, "EstablishFamilies");
  for (FamilyRow& row : sel.fam) {
    row.present = 0;
    row.installed = 0;
  }
  sel.Order.clear();
  sel.theDifferentFamiliesCount = 0;

  std::vector<FoundProduct>& products = Sources().prodList;
  for (std::size_t i = 0; i < products.size(); ++i) {
    FoundProduct& product = products[i];
    // A product whose content the disc should carry but does not is not offered.
    if (base::Run().Content_On_MID && !platform::IsDirectory(ContentOnSource(product.folder))) {
      base::WriteLogf(2, "No content on the source for %s", product.folder.c_str());
      product.folder = std::string(kNoFamilyFolder);
    }
    int installed = InstalledState(product.folder);
    std::string number = ProductNumberOf(product.folder);
    for (int row = 0; row < kFamilyRowCount; ++row) {
      FamilyRow& family = sel.fam[row];
      if (family.number != number) continue;
      // The family counts as installed when any of its versions is, with local content when any
      // has it: a later, uninstalled version must not hide an installed one.
      family.installed = std::max(family.installed, installed);
      if (family.present) continue;
      family.present = 1;
      ++sel.theDifferentFamiliesCount;
      sel.Order.push_back(row);
      sel.nSingleProduct = static_cast<int>(i);
      sel.nFamType = row;
    }
  }
  std::stable_sort(sel.Order.begin(), sel.Order.end(), [&](int a, int b) {
    return LessIgnoringCase(sel.fam[a].name, sel.fam[b].name);
  });
  base::WriteLogf(1, "Found %d different Product Families", sel.theDifferentFamiliesCount);
  return sel.theDifferentFamiliesCount;
}

std::vector<std::string> DisplayFamilies() {
  const SelectionState& sel = Selection();
  std::vector<std::string> lines;
  for (int row : sel.Order) {
    const FamilyRow& family = sel.fam[row];
    std::string line = family.name;
    if (family.sizeMB > 0 && base::Run().installDiscLess) {
      line += "\t\t" + GroupThousands(family.sizeMB) + " MB";
    }
    line += "\t\t";
    if (family.installed) {
      line += "Installed";
      if (family.installed == 1 && family.name.find("e-") == std::string::npos) {
        line += " CD-Based";
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

int SelectCoursesToInstall(const std::vector<int>& lines) {
  SelectionState& sel = Selection();
  base::WriteLogf(1, "SelectCoursesToInstall");
  for (FamilyRow& row : sel.fam) row.selected = 0;
  std::vector<int> rows;
  for (int line : lines) {
    if (line >= 0 && line < static_cast<int>(sel.Order.size())) rows.push_back(sel.Order[line]);
  }
  if (rows.empty()) return 0;
  sel.nFamType = rows.front();
  if (rows.size() == 1) {
    sel.install_courses_total_size = std::int64_t{sel.fam[rows.front()].sizeMB} * 1000000;
    sel.install_selected_courses = 0;
    sel.install_selected_courses_tot = 0;
    sel.install_selected_courses_counter = 0;
    return 1;
  }
  sel.install_courses_total_size = 0;
  for (int row : rows) {
    sel.fam[row].selected = 1;
    sel.install_courses_total_size += std::int64_t{sel.fam[row].sizeMB} * 1000000;
  }
  sel.install_selected_courses = 1;
  sel.install_selected_courses_tot = static_cast<int>(rows.size());
  sel.install_selected_courses_counter = 0;
  return static_cast<int>(rows.size());
}

int Prompt_FamDialog() {
  SelectionState& sel = Selection();
  bool multiple = base::Run().Content_On_MID || sel.force_download_courses;
  const char* key = multiple ? "MSG_Message_Choose_Courses" : "MSG_Message_ChooseCourse";
  std::vector<std::string> keys;
  for (int row : sel.Order) keys.push_back(sel.fam[row].number);
  ui::Dialog dialog = ListDialog("family", kFamilyResource, key, base::Localize(key),
                                 DisplayFamilies(), std::move(keys), multiple, {0},
                                 "MSG_Button_OK");
  std::vector<int> rows;
  if (RunListDialog(dialog, &rows) != kSelectionOkItem) {
    base::Run().fCancel = 1;
    return kSelectionCancelItem;
  }
  sel.nFamType = sel.Order[rows.front()];
  SelectCoursesToInstall(rows);
  return kSelectionOkItem;
}

// ---- Versions -----------------------------------------------------------------------------

int EstablishVersions() {
  SelectionState& sel = Selection();
  base::WriteLogf(1, "EstablishVersions");
  FreeVersions();
  const FamilyRow& family = ChosenFamily();
  const std::vector<FoundProduct>& products = Sources().prodList;
  std::vector<std::string> seen;
  for (std::size_t i = 0; i < products.size(); ++i) {
    const FoundProduct& product = products[i];
    if (!InFamily(product, family)) continue;
    if (sel.install_selected_courses && !platform::IsDirectory(ContentOnSource(product.folder))) {
      continue;
    }
    std::string key = VersionKeyOf(product.folder);
    if (key.empty() || std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    std::string entry = key + " Version " + product.folder[6] + "." + product.folder[7] + "  " +
                        product.versionName;
    base::WriteLogf(2, "Version Found: %d %s", static_cast<int>(i), entry.c_str());
    sel.theDifferentVersions.push_back(std::move(entry));
    seen.push_back(std::move(key));
  }
  std::stable_sort(sel.theDifferentVersions.begin(), sel.theDifferentVersions.end(),
                   [](const std::string& a, const std::string& b) {
                     return LessIgnoringCase(std::string_view(a).substr(kVersionTextOffset),
                                             std::string_view(b).substr(kVersionTextOffset));
                   });
  base::WriteLogf(1, "EstablishVersions: %d", sel.VersionCount());
  sel.theVersion = 0;
  return sel.VersionCount();
}

std::string VersionKey(int index) {
  const SelectionState& sel = Selection();
  if (index < 0 || index >= sel.VersionCount()) return "";
  return sel.theDifferentVersions[index].substr(0, 5);
}

int NewestVersion() { return std::max(Selection().VersionCount() - 1, 0); }

int Prompt_VersionDialog() {
  SelectionState& sel = Selection();
  std::vector<std::string> lines;
  std::vector<std::string> keys;
  for (const std::string& entry : sel.theDifferentVersions) {
    lines.push_back(entry.size() > kVersionTextOffset ? entry.substr(kVersionTextOffset) : "");
    keys.push_back(entry.substr(0, 5));
  }
  std::string prompt = base::StrRezf(0, "MSG_Message_MatchVersion", {ChosenFamily().name});
  ui::Dialog dialog =
      ListDialog("version", kVersionResource, "MSG_Message_MatchVersion", prompt, std::move(lines),
                 std::move(keys), false, {NewestVersion()}, "MSG_Button_OK");
  std::vector<int> rows;
  if (RunListDialog(dialog, &rows) != kSelectionOkItem) return kSelectionCancelItem;
  sel.theVersion = rows.front();
  return kSelectionOkItem;
}

void FreeVersions() {
  Selection().theDifferentVersions.clear();
  Selection().theDifferentVersions.shrink_to_fit();
}

// ---- Languages ----------------------------------------------------------------------------

int EstablishLanguages() {
  SelectionState& sel = Selection();
  base::WriteLogf(1, "EstablishLanguages");
  base::Run().szCoursewareName = "Nuvel";
  Fill_langTab();
  sel.fMultiLingualProduct = 0;
  std::string key = VersionKey(sel.theVersion);
  if (key.empty()) return 0;
  const FamilyRow& family = ChosenFamily();
  const std::vector<FoundProduct>& products = Sources().prodList;
  for (std::size_t i = 0; i < products.size(); ++i) {
    const FoundProduct& product = products[i];
    if (VersionKeyOf(product.folder) != key || !InFamily(product, family)) continue;
    int entry = -1;
    if (product.multilingual) {
      entry = kMultilingualEntry;
    } else {
      for (int e = 0; e < kLangTabSize && entry < 0; ++e) {
        const std::string& code = sel.langTab[e].code;
        if (!code.empty() && product.folder.find(code) != std::string::npos) entry = e;
      }
      for (int e = 0; e < kLangTabSize && entry < 0; ++e) {
        if (sel.langTab[e].code == "???") entry = e;
      }
    }
    if (entry < 0) {
      base::WriteLogf(1, "EstablishLanguages: no free language entry for %s",
                      product.folder.c_str());
      continue;
    }
    std::string code = product.folder.substr(3, 3);
    LanguageEntry& language = sel.langTab[entry];
    language.code = Cut(code, kLanguageCodeMax);
    language.name = Cut(code, kLanguageNameMax);
    language.available = 1;
    sel.nSingleProduct = static_cast<int>(i);
    sel.nSingleLang = entry;
    if (entry == kMultilingualEntry) {
      sel.fMultiLingualProduct = 1;
      ReadLanguageSettings(product.folder);
      LimitMultiLanguages();
    } else {
      sel.nLangType = entry;
    }
  }
  return static_cast<int>(std::count_if(sel.langTab.begin(), sel.langTab.end(),
                                        [](const LanguageEntry& e) { return e.available != 0; }));
}

std::vector<std::string> DisplayLanguages() {
  std::vector<std::string> lines;
  for (auto& [text, entry] : LanguageLines()) lines.push_back(std::move(text));
  return lines;
}

int Prompt_LangDialog() {
  SelectionState& sel = Selection();
  std::vector<std::pair<std::string, int>> entries = LanguageLines();
  std::vector<std::string> lines;
  std::vector<std::string> keys;
  int preselected = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].second == sel.nLangType) preselected = static_cast<int>(i);
    lines.push_back(entries[i].first);
    keys.push_back(sel.langTab[entries[i].second].code);
  }
  const std::string& family = ChosenFamily().name;
  std::string prompt = base::Localize("MSG_Message_ChooseLanguage") + "\r" +
                       base::StrRezf(0, "MSG_Message_MatchLanguage", {family});
  ui::Dialog dialog = ListDialog("language", kLanguageResource, "MSG_Message_ChooseLanguage",
                                 prompt, std::move(lines), std::move(keys), false, {preselected},
                                 "MSG_Button_OK");
  std::vector<int> rows;
  if (RunListDialog(dialog, &rows) != kSelectionOkItem) return kSelectionCancelItem;
  sel.nLangType = entries[rows.front()].second;
  return kSelectionOkItem;
}

// ---- The selection ------------------------------------------------------------------------

int CountProducts() {
  SelectionState& sel = Selection();
  sel.selectedTotal = 0;
  sel.installOrder.clear();
  std::string key = VersionKey(sel.theVersion);
  const FamilyRow& family = ChosenFamily();
  const std::vector<FoundProduct>& products = Sources().prodList;
  for (std::size_t i = 0; i < products.size() && !key.empty(); ++i) {
    const FoundProduct& product = products[i];
    if (VersionKeyOf(product.folder) != key || !InFamily(product, family)) continue;
    bool select = false;
    if (sel.fMultiLingualProduct) {
      select = product.multilingual != 0;
    } else if (sel.nLangType >= 0 && sel.nLangType < kLangTabSize) {
      LanguageEntry& language = sel.langTab[sel.nLangType];
      select = !language.code.empty() && product.folder.find(language.code) != std::string::npos;
      if (select) language.available = 1;
    }
    base::WriteLogf(2, "Counting Possible Products: %d  %s", static_cast<int>(i),
                    product.folder.c_str());
    if (!select) continue;
    sel.installOrder.push_back(static_cast<int>(i));
    ++sel.selectedTotal;
  }
  std::stable_sort(sel.installOrder.begin(), sel.installOrder.end(), [&](int a, int b) {
    return LessIgnoringCase(products[a].folder, products[b].folder);
  });
  base::WriteLogf(1, "CountProducts: %d", sel.selectedTotal);
  return std::max(sel.selectedTotal, 1);
}

int Prompt_AddDialog() {
  SelectionState& sel = Selection();
  const std::vector<FoundProduct>& products = Sources().prodList;
  std::vector<std::string> lines;
  std::vector<std::string> keys;
  std::vector<int> all;
  for (int index : sel.installOrder) {
    const FoundProduct& product = products[index];
    all.push_back(static_cast<int>(lines.size()));
    lines.push_back(product.courseName + "\t" + product.version + "\t" + product.language);
    keys.push_back(product.folder);
  }
  std::string version;
  if (sel.theVersion >= 0 && sel.theVersion < sel.VersionCount()) {
    const std::string& entry = sel.theDifferentVersions[sel.theVersion];
    if (entry.size() > kVersionTextOffset) version = entry.substr(kVersionTextOffset);
  }
  std::string prompt =
      base::Localize("MSG_Message_ChooseCourse") + "\r" + ChosenFamily().name + " " + version;
  ui::Dialog dialog =
      ListDialog("products", kProductsResource, "MSG_Message_ChooseCourse", prompt,
                 std::move(lines), std::move(keys), true, std::move(all), "MSG_Button_Install");
  std::vector<int> rows;
  if (RunListDialog(dialog, &rows) != kSelectionOkItem) return kSelectionCancelItem;
  std::vector<int> kept;
  for (int row : rows) kept.push_back(sel.installOrder[row]);
  sel.installOrder = std::move(kept);
  sel.selectedTotal = static_cast<int>(sel.installOrder.size());
  return kSelectionOkItem;
}

// ---- Multilingual courses -----------------------------------------------------------------

int EstablishMultiLanguages(int product) {
  SelectionState& sel = Selection();
  base::WriteLogf(1, "EstablishMultiLanguages Start");
  const std::vector<FoundProduct>& products = Sources().prodList;
  if (product < 0 || product >= static_cast<int>(products.size())) {
    base::WriteLogf(1, "EstablishMultiLanguages: no product %d", product);
    return 0;
  }
  const std::string& folder = products[product].folder;
  ReadLanguageSettings(folder);
  LimitMultiLanguages();

  if (sel.install_selected_courses) {
    std::vector<std::string> codes = CodesOf(kMultiFamilyLanguages);
    if (!sel.force_limit_multiLanguages.empty()) {
      std::erase_if(codes, [&](const std::string& code) {
        return sel.force_limit_multiLanguages.find(code) == std::string::npos;
      });
    }
    sel.szMultiIniLanguages = JoinCodes(codes);
    if (sel.szMultiIniLanguages.size() > 7) sel.kAllInMultilingual = 1;
  }

  SetMultiTable();
  if (!sel.szMultiIniLanguages.empty()) {
    std::vector<std::string> codes = CodesOf(sel.szMultiIniLanguages);
    for (LanguageEntry& entry : sel.MLangTable) {
      if (std::find(codes.begin(), codes.end(), entry.code) != codes.end()) entry.available = 1;
    }
  } else {
    // Without a list, the course's DATA folder has one subfolder per support language.
    std::string data;
    std::vector<std::string> names;
    for (const std::string& candidate :
         {ProductsFolder() + "/" + folder + "/DATA", ContentOnSource(folder) + "/DATA"}) {
      if (!platform::ListDirectory(candidate, names)) {
        data = candidate;
        break;
      }
    }
    if (data.empty()) {
      base::WriteLogf(0, "ERROR: Couldn't find the DATA directory of %s", folder.c_str());
      ui::Ask({.message = "Couldn't find the DATA directory", .buttons = {"MSG_Button_OK"}});
      return 0;
    }
    for (LanguageEntry& entry : sel.MLangTable) {
      if (platform::IsDirectory(data + "/" + entry.code)) entry.available = 1;
    }
  }
  bool any = std::any_of(sel.MLangTable.begin(), sel.MLangTable.end(),
                         [](const LanguageEntry& e) { return e.available != 0; });
  if (!any) sel.MLangTable[kAllEntry].available = 1;
  base::WriteLogf(1, "EstablishMultiLanguages Done");
  return 1;
}

std::vector<MultiLanguageLine> DisplayMultiLanguages() {
  const SelectionState& sel = Selection();
  std::vector<MultiLanguageLine> lines;
  for (int i = 0; i < kAllEntry; ++i) {
    if (sel.MLangTable[i].available) lines.push_back({sel.MLangTable[i].name, i});
  }
  // "All" means something only with two languages or more to install together.
  bool all = sel.MLangTable[kAllEntry].available || (sel.kAllInMultilingual && lines.size() > 1);
  if (all) lines.push_back({base::Localize("MSG_RM_String_All"), kAllEntry});
  return lines;
}

int Prompt_MultiLangDialog(int product) {
  SelectionState& sel = Selection();
  for (const std::string& code : CodesOf(sel.szMultiIniLanguages)) {
    bool known = std::any_of(sel.MLangTable.begin(), sel.MLangTable.end(),
                             [&](const LanguageEntry& e) { return e.code == code; });
    if (known) continue;
    base::WriteLogf(0, "ERROR: invalid language entry in setup.ini: %s", code.c_str());
    ui::Ask({.message = "invalid language entry in setup.ini", .buttons = {"MSG_Button_OK"}});
  }

  std::string courses;
  if (sel.install_selected_courses) {
    for (const FamilyRow& family : sel.fam) {
      if (family.selected) courses += (courses.empty() ? "" : ", ") + family.name;
    }
  } else if (product >= 0 && product < prodTotal()) {
    courses = Sources().prodList[product].courseName;
  }
  std::string prompt = base::Localize("MSG_SelectedCourses") + "\n" + courses;

  std::vector<MultiLanguageLine> entries = DisplayMultiLanguages();
  std::vector<std::string> lines;
  std::vector<std::string> keys;
  int preselected = 0;
  const std::string& forced = sel.forced_install_selected_courses_lang;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string& code = sel.MLangTable[entries[i].entry].code;
    bool wanted =
        !forced.empty() &&
        (forced == code || (entries[i].entry == kAllEntry && (forced == "MUL" || forced == "ALL")));
    if (wanted) preselected = static_cast<int>(i);
    lines.push_back(entries[i].text);
    keys.push_back(code);
  }
  ui::Dialog dialog = ListDialog("multi-language", kMultiLanguageResource, "MSG_SelectedCourses",
                                 prompt, std::move(lines), std::move(keys), false, {preselected},
                                 "MSG_Button_OK");
  std::vector<int> rows;
  if (RunListDialog(dialog, &rows) != kSelectionOkItem) return kSelectionCancelItem;
  sel.nLangType = entries[rows.front()].entry;
  return kSelectionOkItem;
}

// ---- Helpers ------------------------------------------------------------------------------

int IsItLH(const std::string& ini_path) {
  std::string value = base::ProfileValue("nuvel.ini", "sr", "", ini_path);
  return !value.empty() && (value[0] == 'y' || value[0] == 'Y') ? 1 : 0;
}

std::string AbbreviateName(int max_width, const std::string& path) {
  // Width in characters: UTF-8 continuation bytes do not count.
  auto width = [](std::string_view text) {
    return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) {
      return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
  };
  if (path.size() < 20 || width(path) <= max_width) return path;

  // Components; a leading "/" stays with the first one.
  std::vector<std::string> parts;
  std::size_t start = path.front() == '/' ? 1 : 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  if (path.front() == '/') parts.front().insert(0, "/");
  int count = static_cast<int>(parts.size());
  if (count < 3) return path;

  // Dropped components form one block [first, last) that grows from the middle outwards,
  // taking the side that has more left each time.
  int first = count / 2;
  int last = first;
  std::string result = path;
  while (first > 1 || last < count - 1) {
    int left = first - 1;
    int right = count - 1 - last;
    if (right >= left && last < count - 1) {
      ++last;
    } else {
      --first;
    }
    result.clear();
    for (int i = 0; i < first; ++i) result += parts[i] + "/";
    result += "...";
    for (int i = last; i < count; ++i) result += "/" + parts[i];
    if (width(result) <= max_width) break;
  }
  return result;
}

}  // namespace nuvel::installer
