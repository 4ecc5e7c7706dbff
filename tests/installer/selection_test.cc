#include "installer/selection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/product_table.h"
#include "installer/sources.h"
#include "platform/files.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"
#include "tests/support/fake_backend.h"

namespace nuvel::installer {
namespace {

using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;
using ::testing::ElementsAre;
using ui::testing::FakeBackend;

// The row of the family table for a product number.
int Row(const std::string& number) {
  const auto& fam = Selection().fam;
  for (int row = 0; row < kFamilyRowCount; ++row) {
    if (fam[row].number == number) return row;
  }
  ADD_FAILURE() << "no family row for " << number;
  return 0;
}

class SelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    base::FindLocalNuvelDirectory();
    base::GetLogName();
    ASSERT_EQ(base::OpenStrRez(0, NUVEL_ENGINE_LUC_FILE), 1);
    base::forceLanguage(0, 0, "ENG");
    apps_ = root_.path("opt/Nuvel");
    ASSERT_FALSE(platform::MakeDirectories(apps_));
    base::SetInstallDirectoryPath(apps_.c_str());
    source_ = root_.path("source");
    base::Run().current_dir = source_;
    base::Run().szDefaultIniFile = source_ + "/install/data/setup.ini";
    auto fake = std::make_unique<FakeBackend>();
    backend_ = fake.get();
    ui::SetBackend(std::move(fake));
  }
  void TearDown() override {
    ui::SetBackend(nullptr);
    ResetAll();
  }
  static void ResetAll() { nuvel::testing::ResetInstallerModules(); }

  // A product found on the source: its folder with nuvel.ini, and the record as the sources
  // module fills it. `multi_languages` (when given) goes into the product's setup.ini.
  int AddProduct(const std::string& folder, const std::string& version_name = "Standard",
                 const std::string& multi_languages = "") {
    std::string dir = source_ + "/install/data/" + folder;
    WriteTestFile(dir + "/nuvel.ini", "[nuvel.ini]\r\ncourse_name=Course " + folder +
                                          "\r\nversionName=" + version_name + "\r\n");
    if (!multi_languages.empty()) {
      WriteTestFile(dir + "/setup.ini", "[Nuvel]\r\nmultiLanguages=" + multi_languages + "\r\n");
    }
    FoundProduct product;
    product.folder = folder;
    product.courseName = "Course " + folder;
    product.versionName = version_name;
    product.version = std::string("V") + folder[6] + "." + folder[7];
    product.multilingual = folder.find("MUL") != std::string::npos ? 1 : 0;
    Sources().prodList.push_back(product);
    Sources().prodFilePaths.push_back(dir + "/nuvel.ini");
    return prodTotal() - 1;
  }
  void MakeFolder(const std::string& path) { ASSERT_FALSE(platform::MakeDirectories(path)); }
  void AddContentOnSource(const std::string& folder, const std::string& content = "content") {
    MakeFolder(source_ + "/Nuvel/" + content + "/" + folder);
  }
  // Chooses the family of `number` (or a row) and builds its versions, as after the family dialog.
  void ChooseFamily(const std::string& number) { ChooseRow(Row(number)); }
  void ChooseRow(int row) {
    EstablishFamilies();
    Selection().nFamType = row;
    EstablishVersions();
  }
  // Makes the family of `number` hold the products of every number in `numbers`.
  int Widen(const std::string& number, const std::string& numbers) {
    int row = Row(number);
    Selection().fam[row].number = numbers;
    return row;
  }
  void Restart() {
    ResetAll();
    SetUp();
  }

  TestSysroot root_;
  std::string apps_;
  std::string source_;
  FakeBackend* backend_ = nullptr;
};

TEST(FamilyTableData, EveryCourseHasOneFamilyRowWithTheProductTablesCode) {
  std::set<int> numbers;
  for (const FamilyRow& row : InitialFamilyTable()) {
    SCOPED_TRACE(row.number);
    const int prod = std::stoi(row.number);
    EXPECT_TRUE(numbers.insert(prod).second) << "two rows";
    if (IsProductANormalCourse(prod) || IsProductAVirtualProduct(prod)) {
      std::string code(ProductCode(prod));
      while (!code.empty() && code.back() == ' ') code.pop_back();
      EXPECT_EQ(row.code, code);
    }
  }
  for (int prod = 1; prod <= kMaxProduct; ++prod) {
    if (IsProductANormalCourse(prod)) {
      EXPECT_EQ(numbers.count(prod), 1u) << prod << " has no family";
    }
  }
}

// ---- Families and versions ----

// On a source with content, a product whose content folder is missing is no family; forced
// downloads look in the download content folder instead.
TEST_F(SelectionTest, ProductWithoutContentOnAContentDiscIsNoFamily) {
  for (bool forced : {false, true}) {
    SCOPED_TRACE(forced);
    Restart();
    base::Run().Content_On_MID = 1;
    Selection().force_download_courses = forced ? 1 : 0;
    AddProduct("001MUL50");
    int missing = AddProduct("006ENG50");
    AddContentOnSource("001MUL50", forced ? "content_d" : "content");
    if (forced) AddContentOnSource("006ENG50", "content");
    EXPECT_EQ(EstablishFamilies(), 1);
    EXPECT_THAT(Selection().Order, ElementsAre(Row("001")));
    EXPECT_EQ(Sources().prodList[missing].folder, kNoFamilyFolder);
  }
}

// With content on the source several families may be chosen; All Courses shows no size.
TEST_F(SelectionTest, FamilyDialogSelectsSeveralFamilies) {
  base::Run().Content_On_MID = 1;
  base::Run().installDiscLess = 1;
  for (const char* folder : {"005MUL50", "080MUL50", "001MUL50", "070MUL50"}) {
    AddProduct(folder);
    AddContentOnSource(folder);
  }
  EstablishFamilies();
  backend_->answer = [](ui::Dialog& dialog) {
    dialog.item(kSelectionListItem)->selected = {1, 3};
    return 1;
  };
  EXPECT_EQ(Prompt_FamDialog(), 1);
  const ui::DialogItem* list = backend_->shown.at(0).item(kSelectionListItem);
  EXPECT_TRUE(list->multiple);
  EXPECT_THAT(list->lines, ElementsAre("All Courses\t\t",
                                       "English Foundations, Complete Edition\t\t4,860 MB\t\t",
                                       "English Foundations, Level 1\t\t1,450 MB\t\t",
                                       "General English Certification Plan\t\t3,600 MB\t\t"));
  const SelectionState& sel = Selection();
  EXPECT_EQ(sel.nFamType, Row("005"));
  EXPECT_EQ(sel.install_selected_courses, 1);
  EXPECT_EQ(sel.install_selected_courses_tot, 2);
  EXPECT_EQ(sel.install_courses_total_size, std::int64_t{4860 + 3600} * 1000000)
      << "sizes are decimal megabytes and the sum passes 32 bits";
}

// Without content on the source: one family only, the first row preselected; OK without a row
// shows the dialog again.
TEST_F(SelectionTest, FamilyDialogWithoutContentIsASingleChoiceNeedingARow) {
  AddProduct("001MUL50");
  AddProduct("006ENG50");
  EstablishFamilies();
  Selection().install_selected_courses = 1;  // left from an earlier selection
  std::vector<bool> ok_enabled;
  backend_->answer = [&](ui::Dialog& dialog) {
    ui::DialogItem* list = dialog.item(kSelectionListItem);
    list->selected = backend_->shown.size() == 1 ? std::vector<int>{} : std::vector<int>{1};
    dialog.on_change(dialog, kSelectionListItem);
    ok_enabled.push_back(dialog.item(kSelectionOkItem)->enabled);
    return 1;  // the first time regardless of the disabled button
  };
  EXPECT_EQ(Prompt_FamDialog(), 1);
  EXPECT_THAT(ok_enabled, ElementsAre(false, true));
  ASSERT_EQ(backend_->shown.size(), 2u) << "OK without a row shows the dialog again";
  const ui::Dialog& shown = backend_->shown[0];
  EXPECT_EQ(shown.item(kSelectionPromptItem)->text, "Choose the course to install:");
  EXPECT_FALSE(shown.item(kSelectionListItem)->multiple);
  EXPECT_THAT(shown.item(kSelectionListItem)->selected, ElementsAre(0)) << "first row preselected";
  EXPECT_EQ(Selection().nFamType, Row("001"));
  EXPECT_EQ(Selection().install_courses_total_size, std::int64_t{1450} * 1000000);
  EXPECT_EQ(Selection().install_selected_courses, 0);
}

// Products sharing a version key give one version; versions sort by their text, ignoring the key
// and case.
TEST_F(SelectionTest, VersionsOfAFamilyAndOfOneChosenWithOthers) {
  int row = Widen("001", "001 002");
  AddProduct("001ENG50", "B edition");
  AddProduct("002ENG50", "B edition");
  AddProduct("001MUL50", "a edition");
  AddProduct("006ENG50");  // another family
  ChooseRow(row);
  EXPECT_THAT(Selection().theDifferentVersions,
              ElementsAre("MUL50 Version 5.0  a edition", "ENG50 Version 5.0  B edition"));
  EXPECT_EQ(VersionKey(1), "ENG50");
  EXPECT_EQ(VersionKey(2), "");

  // Chosen with other families, a family offers only the versions with content on the source.
  AddContentOnSource("001MUL50");
  Selection().install_selected_courses = 1;
  EXPECT_EQ(EstablishVersions(), 1);
  EXPECT_EQ(VersionKey(0), "MUL50");
}

// ---- Languages ----

// A known code gets its own entry; an unknown one takes the first catch-all entry (13). The
// language dialog names the course and keeps the product's entry.
TEST_F(SelectionTest, LanguageEntryOfAProductItsLineAndTheLanguageDialog) {
  for (auto [folder, entry, line] : {std::tuple{"045XYZ50", 13, "XYZ (X/E)"},
                                     std::tuple{"045FRA50", -1, "French (F/E)"}}) {
    SCOPED_TRACE(folder);
    Restart();
    AddProduct(folder);
    ChooseFamily("045");
    EXPECT_EQ(EstablishLanguages(), 1);
    EXPECT_EQ(Selection().fMultiLingualProduct, 0);
    EXPECT_EQ(Selection().langTab[Selection().nLangType].code, std::string(folder).substr(3, 3));
    if (entry >= 0) {
      EXPECT_EQ(Selection().nLangType, entry);
    }
    EXPECT_THAT(DisplayLanguages(), ElementsAre(line));
  }
  const int french = Selection().nLangType;
  Selection().nLangType = 0;
  EXPECT_EQ(Prompt_LangDialog(), 1);
  const ui::Dialog& shown = backend_->shown.at(0);
  EXPECT_EQ(shown.name, "language");
  EXPECT_EQ(shown.item(kSelectionPromptItem)->text,
            "Choose the language of the course.\rWhich language version of Japanese for "
            "Beginners do you want to install?");
  EXPECT_EQ(Selection().nLangType, french);

  Fill_langTab();
  LanguageEntry& english = Selection().langTab[1];
  english.name = english.code;
  english.available = 1;
  EXPECT_THAT(DisplayLanguages(), ElementsAre("English")) << "not English (E/E)";
}

// One code, or two codes of which one is English, leave nothing to install "all" of.
TEST_F(SelectionTest, ForcedLanguageListLimitsTheCodesAndAllLanguages) {
  struct Case {
    const char* listed;
    const char* forced;
    const char* codes;
    int all;
  };
  for (const Case& c : {Case{"jpn fra kor", "FRA", "FRA", 0},
                        Case{"JPN FRA ENG", "ENG FRA", "FRA ENG", 0},
                        Case{"JPN FRA ENG", "JPN FRA", "JPN FRA", 1}}) {
    SCOPED_TRACE(c.forced);
    Restart();
    Selection().force_limit_multiLanguages = c.forced;
    AddProduct("001MUL50", "Standard", c.listed);
    ChooseFamily("001");
    EstablishLanguages();
    EXPECT_EQ(Selection().fMultiLingualProduct, 1);
    EXPECT_EQ(Selection().szMultiIniLanguages, c.codes);
    EXPECT_EQ(Selection().kAllInMultilingual, c.all);
  }
  EXPECT_THAT(DisplayLanguages(), ElementsAre("Multilingual"));
}

TEST_F(SelectionTest, ProductSetupIniWinsOverTheSources) {
  WriteTestFile(base::Run().szDefaultIniFile,
                "[Nuvel]\r\nsupportlanguage=jpn\r\ncoursewarename=School Courses\r\nall=n\r\n");
  WriteTestFile(source_ + "/install/data/001MUL50/SETUP.INI",
                "[Nuvel]\r\nsupportlanguage=kor\r\nmultiLanguages=jpn kor fra\r\n");
  AddProduct("001MUL50");
  ChooseFamily("001");
  base::Run().szCoursewareName = "Other";
  EstablishLanguages();
  EXPECT_EQ(Selection().szSupportLanguage, "KOR");
  EXPECT_EQ(Selection().szMultiIniLanguages, "JPN KOR FRA");
  EXPECT_EQ(base::Run().szCoursewareName, "School Courses");
  EXPECT_EQ(Selection().kAllInMultilingual, 0);
}

// ---- The selection ----

// The multilingual products of the version, in folder order; the products dialog offers them all
// preselected and keeps the rows left selected.
TEST_F(SelectionTest, MultilingualVersionSelectsItsProductsAndTheProductsDialogNarrows) {
  const int row = Widen("001", "001 002 003");
  AddProduct("002MUL50");
  AddProduct("003MUL50");
  AddProduct("001MUL50");
  AddProduct("001ENG50");  // another version
  Sources().prodList[1].multilingual = 0;
  ChooseRow(row);
  ASSERT_EQ(VersionKey(Selection().theVersion), "MUL50");
  EstablishLanguages();
  ASSERT_EQ(Selection().fMultiLingualProduct, 1);
  EXPECT_EQ(CountProducts(), 2);
  EXPECT_THAT(Selection().installOrder, ElementsAre(2, 0)) << "by folder name, not found order";

  backend_->answer = [](ui::Dialog& dialog) {
    EXPECT_THAT(dialog.item(kSelectionListItem)->selected, ElementsAre(0, 1));
    dialog.item(kSelectionListItem)->selected = {1};
    return 1;
  };
  EXPECT_EQ(Prompt_AddDialog(), 1);
  const ui::Dialog& shown = backend_->shown.at(0);
  EXPECT_EQ(shown.item(kSelectionOkItem)->text, "Install");
  EXPECT_EQ(shown.item(kSelectionPromptItem)->text,
            "Choose the course to install:\rEnglish Foundations, Level 1 Version 5.0  Standard");
  EXPECT_THAT(shown.item(kSelectionListItem)->lines,
              ElementsAre("Course 001MUL50\tV5.0\tN/A", "Course 002MUL50\tV5.0\tN/A"));
  EXPECT_THAT(Selection().installOrder, ElementsAre(0));
  EXPECT_EQ(Selection().selectedTotal, 1);
}

TEST_F(SelectionTest, LanguageVersionSelectsByTheChosenCode) {
  AddProduct("045FRA50");
  AddProduct("045FRA42");
  ChooseFamily("045");
  Selection().theVersion = VersionKey(0) == "FRA50" ? 0 : 1;
  EstablishLanguages();
  EXPECT_EQ(CountProducts(), 1);
  EXPECT_THAT(Selection().installOrder, ElementsAre(0));
  EXPECT_EQ(Selection().selectedTotal, 1);

  Selection().nLangType = 0;  // Japanese, which no product of the version has
  EXPECT_EQ(CountProducts(), 1) << "nothing matching still reports one";
  EXPECT_EQ(Selection().selectedTotal, 0);
  EXPECT_TRUE(Selection().installOrder.empty());
}

// ---- Multilingual courses ----

// Without a list, the languages are the language folders of DATA; with none, only "all" is left;
// without DATA the course cannot be set up.
TEST_F(SelectionTest, MultiLanguagesFromTheDataFolder) {
  int product = AddProduct("001MUL50");
  EXPECT_EQ(EstablishMultiLanguages(product), 0);
  ASSERT_EQ(backend_->shown.size(), 1u);
  EXPECT_EQ(backend_->shown[0].id, "Couldn't find the DATA directory");

  MakeFolder(source_ + "/install/data/001MUL50/DATA/COM");
  EXPECT_EQ(EstablishMultiLanguages(product), 1);
  std::vector<MultiLanguageLine> lines = DisplayMultiLanguages();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "All languages");
  EXPECT_EQ(Selection().MLangTable[lines[0].entry].code, "ALL");

  MakeFolder(source_ + "/install/data/001MUL50/DATA/FRA");
  EXPECT_EQ(EstablishMultiLanguages(product), 1);
  std::vector<std::string> available;
  for (const LanguageEntry& entry : Selection().MLangTable) {
    if (entry.available) available.push_back(entry.code);
  }
  EXPECT_THAT(available, ElementsAre("FRA"));
}

TEST_F(SelectionTest, SeveralFamiliesUseTheFixedListLimitedByTheForcedOne) {
  // The product lists one code, which turns all languages off before the fixed list is taken.
  int product = AddProduct("001MUL50", "Standard", "TUR");
  Selection().install_selected_courses = 1;
  const std::tuple<const char*, const char*, int> cases[] = {
      {"", "ENG FRA ITL JPN KOR MAN PRT SPN TAI TUR", 1},
      {"TUR ENG JPN", "ENG JPN TUR", 1},
      {"TUR ENG", "ENG TUR", 0}};  // two codes do not turn all languages back on
  for (auto [forced, codes, all] : cases) {
    SCOPED_TRACE(forced);
    Selection().force_limit_multiLanguages = forced;
    EstablishMultiLanguages(product);
    EXPECT_EQ(Selection().szMultiIniLanguages, codes);
    EXPECT_EQ(Selection().kAllInMultilingual, all);
  }
  std::vector<MultiLanguageLine> lines = DisplayMultiLanguages();
  ASSERT_EQ(lines.size(), 2u) << "all languages offered with all turned off";
  EXPECT_EQ(lines[0].text, "English");
  EXPECT_EQ(lines[1].text, "Turkish");
}

TEST_F(SelectionTest, MultiLanguageDialogReportsUnknownCodesAndPreselectsTheForcedOne) {
  int product = AddProduct("001MUL50", "Standard", "ENG XXX FRA");
  EstablishMultiLanguages(product);
  Selection().forced_install_selected_courses_lang = "ENG";
  EXPECT_EQ(Prompt_MultiLangDialog(product), 1);
  ASSERT_EQ(backend_->shown.size(), 2u);
  EXPECT_EQ(backend_->shown[0].id, "invalid language entry in setup.ini");
  const ui::Dialog& shown = backend_->shown[1];
  EXPECT_EQ(shown.item(kSelectionPromptItem)->text,
            "Choose the support languages to install with the selected course:\nCourse 001MUL50");
  EXPECT_THAT(shown.item(kSelectionListItem)->lines,
              ElementsAre("French", "English", "All languages"));
  EXPECT_THAT(shown.item(kSelectionListItem)->selected, ElementsAre(1));
  EXPECT_EQ(Selection().MLangTable[Selection().nLangType].code, "ENG");
}

// ---- Helpers ----

TEST(SelectionHelpers, AbbreviateNameDropsMiddleComponentsUntilItFits) {
  EXPECT_EQ(AbbreviateName(22, "/home/teacher/courses/x/y"), "/home/teacher/.../x/y")
      << "only as much as needed is dropped";
  EXPECT_EQ(AbbreviateName(10, "/home/teacher/courses/english/unit01.dat"), "/home/.../unit01.dat")
      << "the first component and the tail always stay";
  EXPECT_EQ(AbbreviateName(5, "/srv/a/b/c/d.txt"), "/srv/a/b/c/d.txt") << "under 20 characters";
  EXPECT_EQ(AbbreviateName(29, "/srv/courses/english/unit.dat"), "/srv/courses/english/unit.dat");
}

}  // namespace
}  // namespace nuvel::installer
