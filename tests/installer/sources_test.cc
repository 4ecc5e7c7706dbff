#include "installer/sources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/product_table.h"
#include "platform/volumes.h"
#include "tests/support/test_env.h"
#include "tests/support/fake_backend.h"
#include "ui/prompts.h"
#include "ui/status_box.h"

namespace nuvel::installer {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;
using ui::testing::FakeBackend;

// The interface language follows LANGUAGE first; the tests read English texts.
class EnglishLocale {
 public:
  EnglishLocale() {
    if (const char* value = std::getenv("LANGUAGE")) saved_ = value;
    ::setenv("LANGUAGE", "en", 1);
  }
  ~EnglishLocale() {
    if (saved_) {
      ::setenv("LANGUAGE", saved_->c_str(), 1);
    } else {
      ::unsetenv("LANGUAGE");
    }
  }

 private:
  std::optional<std::string> saved_;
};

void ResetModules() {
  Sources().reset();
  base::Run().reset();
  base::Paths().reset();
  base::Log().reset();
  base::Strings().reset();
  base::FileUtils().reset();
  base::FreePrivateProfile();
  ui::Prompts().reset();
  ui::StatusBox().reset();
}

std::string NuvelIni(const std::map<std::string, std::string>& keys) {
  std::string text = "[nuvel.ini]\r\n";
  for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
  return text;
}

// One 306-byte Products.INF record, laid out field by field.
struct Record {
  std::string course, language, version, folder, versionName, languages, parts;
  int englishOnly = 0, installed = 0, speech = 0, multilingual = 0;
};

std::string RecordBytes(const Record& r) {
  std::string bytes(306, '\0');
  auto put = [&](std::size_t at, std::size_t size, const std::string& text) {
    bytes.replace(at, std::min(size, text.size()), text.substr(0, size));
  };
  auto flag = [&](std::size_t at, int value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
  };
  put(0, 40, r.course);
  put(40, 15, r.language);
  put(55, 5, r.version);
  put(60, 35, r.folder);
  if (!r.parts.empty()) put(75, 20, r.parts);
  put(95, 100, r.versionName);
  put(195, 101, r.languages);
  flag(296, r.englishOnly);
  flag(298, r.installed);
  flag(300, r.speech);
  flag(304, r.multilingual);
  return bytes;
}

// A record with a course name and a folder, every other field empty.
Record Named(const std::string& course, const std::string& folder) {
  Record record;
  record.course = course;
  record.folder = folder;
  return record;
}

class SourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModules();
    auto backend = std::make_unique<FakeBackend>();
    ui_ = backend.get();
    ui::SetBackend(std::move(backend));
    base::FindLocalNuvelDirectory();
    base::GetLogName();
    ASSERT_EQ(base::OpenStrRez(0, NUVEL_ENGINE_LUC_FILE), 1) << NUVEL_ENGINE_LUC_FILE;
    base::Run().current_dir = source_;
    base::SetInstallDirectoryPath(install_.c_str());
    base::Paths().DataPath = install_ + "/launch";
  }
  void TearDown() override {
    ResetModules();
    ui::SetBackend(nullptr);
  }

  std::string Log() { return ReadTestFile(base::Paths().localNuvelDirectory + "Nuvel_log.txt"); }
  bool Logged(const std::string& text) { return Log().find(text) != std::string::npos; }

  // A product folder on the source with its nuvel.ini (and setup.ini when given).
  void SourceProduct(const std::string& folder, const std::map<std::string, std::string>& keys,
                     const std::string& setup_ini = "") {
    WriteTestFile(source_ + "/install/data/" + folder + "/nuvel.ini", NuvelIni(keys));
    if (!setup_ini.empty()) {
      WriteTestFile(source_ + "/install/data/" + folder + "/setup.ini", setup_ini);
    }
  }
  void ProductsInf(const std::string& bytes) {
    WriteTestFile(source_ + "/install/data/Products.INF", bytes);
  }
  const FoundProduct* Found(const std::string& folder) {
    for (const FoundProduct& product : Sources().prodList) {
      if (product.folder == folder) return &product;
    }
    return nullptr;
  }
  std::vector<std::string> FoundFolders() {
    std::vector<std::string> folders;
    for (const FoundProduct& product : Sources().prodList) folders.push_back(product.folder);
    return folders;
  }

  // A folder standing for a mounted disc, with a VERSION whose first line is `line` (none when
  // empty) and an "install" folder when asked.
  std::string Disc(const std::string& name, const std::string& line, bool install = true) {
    std::string root = sysroot_.path("media/" + name);
    fs::create_directories(root);
    if (!line.empty()) WriteTestFile(root + "/VERSION", line + "\r\nPATH: DATA\r\n");
    if (install) fs::create_directories(root + "/install/data");
    return root;
  }
  void Volumes(const std::string& seam) { ::setenv("NUVEL_VOLUMES", seam.c_str(), 1); }

  TestSysroot sysroot_;
  EnglishLocale locale_;
  FakeBackend* ui_ = nullptr;
  std::string source_ = sysroot_.path("source");
  std::string install_ = sysroot_.path("opt/Nuvel");
};

// ---- Products.INF ------------------------------------------------------------------------------

TEST_F(SourcesTest, SoundProductsInfIsTakenAsItIsAndFoldersAreNotScanned) {
  Record first{"Foundations", "English", "V4.2", "001ENG42", "Edition 2024", "ENG FRA", "ABC"};
  first.englishOnly = 1;
  first.speech = 1;
  Record second{std::string(40, 'C'), "Multilingual", "V5.0", "010MUL50", "", "JPN KOR", ""};
  second.multilingual = 1;
  ProductsInf("0002" + RecordBytes(first) + RecordBytes(second));
  SourceProduct("045JPN20", {{"course_name", "Only on disk"}});

  EXPECT_EQ(CheckProdExistance(), 1);
  ASSERT_EQ(FoundFolders(), (std::vector<std::string>{"001ENG42", "010MUL50"}));
  const FoundProduct& a = Sources().prodList[0];
  EXPECT_EQ(a.courseName + "|" + a.language + "|" + a.version + "|" + a.versionName + "|" +
                a.languages + "|" + a.parts,
            "Foundations|English|V4.2|Edition 2024|ENG FRA|ABC");
  EXPECT_EQ(std::vector<int>({a.englishOnly, a.installed, a.speechRecognition, a.multilingual}),
            std::vector<int>({1, 0, 1, 0}));
  const FoundProduct& b = Sources().prodList[1];
  EXPECT_EQ(b.courseName, std::string(39, 'C')) << "a full field has no NUL and is cut";
  EXPECT_EQ(b.multilingual, 1) << "the 16-bit flags are little-endian";
  ASSERT_EQ(Sources().prodFilePaths.size(), 2u);
  EXPECT_EQ(Sources().prodFilePaths[1], source_ + "/install/data/010MUL50/nuvel.ini");
}

TEST_F(SourcesTest, ProductsInfCountAboveNinetyNineIsRefusedAndTheFoldersAreScanned) {
  std::string records;
  for (int i = 0; i < 100; ++i) records += RecordBytes(Named("Course", "001ENG42"));
  ProductsInf("0100" + records);
  SourceProduct("045JPN20", {{"course_name", "On disk"}});
  EXPECT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(FoundFolders(), (std::vector<std::string>{"045JPN20"}));
  EXPECT_TRUE(Logged("ERROR: Products.INF refused: 100 products, at most 99"));
}

TEST_F(SourcesTest, ProductsInfRecordsRunningPastTheEndAreRefused) {
  ProductsInf("0003" + RecordBytes(Named("A", "001ENG42")) + RecordBytes(Named("B", "002ENG42")) +
              std::string(100, '\0'));
  EXPECT_EQ(CheckProdExistance(), 0);
  EXPECT_TRUE(Sources().prodList.empty()) << "no record of a truncated list is kept";
  EXPECT_TRUE(Logged("ERROR: Products.INF refused: 3 records need 922 bytes, the file holds 716"));
}

TEST_F(SourcesTest, ProductsInfRecordWhoseFolderCouldLeaveTheSourceIsSkipped) {
  std::string records;
  for (const char* folder : {"../../etc", "001/../../x", "010\\MUL42", "..", "", ".hidden"}) {
    records += RecordBytes(Named("Bad", folder));
  }
  ProductsInf("0007" + records + RecordBytes(Named("Good", "040SPN10")));
  EXPECT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(FoundFolders(), (std::vector<std::string>{"040SPN10"}));
  EXPECT_EQ(Sources().prodFilePaths, (std::vector<std::string>{source_ + "/install/data/040SPN10/nuvel.ini"}));
  EXPECT_TRUE(Logged("ERROR: Products.INF record 1 refused: folder name '../../etc'"));
}

// ---- The folder scan ---------------------------------------------------------------------------

// Dot folders, numbers not above 0, names not starting with a number, folders without nuvel.ini,
// files and the excluded numbers are no products.
TEST_F(SourcesTest, OnlyNumberedFoldersWithNuvelIniAreProducts) {
  for (const char* folder : {".010MUL42", "000MUL42", "ABCMUL42", "X10MUL42", "040SPN10"}) {
    SourceProduct(folder, {{"course_name", folder}});
  }
  fs::create_directories(source_ + "/install/data/045JPN20");
  WriteTestFile(source_ + "/install/data/046MAN10", "a file, not a folder");
  for (int number : kExcludedFromSourceScan) {
    char folder[16];
    std::snprintf(folder, sizeof folder, "%03dMUL10", number);
    SourceProduct(folder, {{"course_name", "Plan"}});
  }
  SourceProduct("084ENG10", {{"course_name", "A level of a plan"}});

  EXPECT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(FoundFolders(), (std::vector<std::string>{"040SPN10", "084ENG10"}));
  EXPECT_EQ(Found("040SPN10")->versionName, "N/A") << "a missing key keeps the default";
}

TEST_F(SourcesTest, NameGivesFolderVersionAndLocalizedLanguage) {
  SourceProduct("045jpn20", {{"course_name", "Japanese"}});
  SourceProduct("046MAS10", {{"course_name", "Mandarin"}});
  SourceProduct("014KID31", {{"course_name", "Kids"}});
  SourceProduct("050GEN", {{"course_name", "Short name"}}, "[nuvel]\r\nmultiLanguages=eng fra\r\n");

  ASSERT_EQ(CheckProdExistance(), 1);
  const FoundProduct* japanese = Found("045JPN20");
  ASSERT_NE(japanese, nullptr) << "the folder is upper-cased";
  EXPECT_EQ(japanese->version, "V2.0");
  EXPECT_EQ(japanese->language, "Japanese");
  EXPECT_EQ(japanese->multilingual, 0);
  EXPECT_EQ(japanese->languages, "JPN") << "without multiLanguages, the folder's code";
  EXPECT_EQ(Found("046MAS10")->language, "Mandarin -- Si") << "cut to its 15-byte field";
  EXPECT_EQ(Found("014KID31")->language, "KID") << "a code without a name stays";
  EXPECT_EQ(Found("050GEN")->version, "VX.X");
  EXPECT_EQ(Found("050GEN")->languages, "ENG FRA") << "the product's setup.ini, upper-cased";
}

TEST_F(SourcesTest, EnglishOnlyAndMultilingualComeFromTheNameOrTheDescription) {
  SourceProduct("030ENG10", {{"course_name", "A"}, {"english_only", "N"}});
  SourceProduct("031MIX10", {{"course_name", "B"}});
  SourceProduct("040SPN10", {{"course_name", "C"}, {"english_only", "yes"}});
  SourceProduct("010MUL42", {{"course_name", "D"}, {"multilingual", "N"}});
  SourceProduct("041SPN10", {{"course_name", "E"}, {"multilingual", "Y"}});
  SourceProduct("042FRA10", {{"course_name", "F"}});

  ASSERT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(Found("030ENG10")->englishOnly, 1) << "ENG in the name wins over english_only=N";
  EXPECT_EQ(Found("030ENG10")->language, "English");
  EXPECT_EQ(Found("031MIX10")->englishOnly, 1);
  EXPECT_EQ(Found("040SPN10")->englishOnly, 1);
  EXPECT_EQ(Found("040SPN10")->language, "---");
  EXPECT_EQ(Found("010MUL42")->multilingual, 1) << "MUL in the name wins over multilingual=N";
  EXPECT_EQ(Found("041SPN10")->multilingual, 1);
  EXPECT_EQ(Found("042FRA10")->englishOnly, 0);
  EXPECT_EQ(Found("042FRA10")->multilingual, 0);
}

TEST_F(SourcesTest, ValuesAreCutToTheirFieldsWithoutSplittingACharacter) {
  const std::string long_folder = "010MUL42" + std::string(32, 'X');
  SourceProduct(long_folder,
                {{"course_name", std::string(38, 'a') + "\xC3\xA9" + "tail"},
                 {"versionName", std::string(150, 'v')}},
                "[nuvel]\r\nmultiLanguages=" + std::string(150, 'e') + "\r\n");
  ASSERT_EQ(CheckProdExistance(), 1);
  const FoundProduct& product = Sources().prodList.at(0);
  EXPECT_EQ(product.folder, long_folder.substr(0, 34));
  EXPECT_EQ(product.courseName, std::string(38, 'a')) << "the two-byte character would not fit";
  EXPECT_EQ(product.versionName, std::string(99, 'v'));
  EXPECT_EQ(product.languages, std::string(100, 'E'));
}

// ---- Nothing to install from a disc ----------------------------------------------------------

// The only product of the disc the Setup runs from, installed already, is skipped unless Control
// is held; two products, or the same source off the disc, are not.
TEST_F(SourcesTest, OnlyProductOfTheDiscInstalledAlreadyIsSkipped) {
  std::string disc = Disc("disc", "NUVEL DISC");
  Volumes(disc + ":ro");
  std::string mount;
  ASSERT_EQ(FindAMIDCD(mount), 1);
  base::Run().current_dir = disc;
  WriteTestFile(disc + "/install/data/040SPN10/nuvel.ini", NuvelIni({{"course_name", "X"}}));
  WriteTestFile(install_ + "/launch/040SPN10/nuvel.ini", NuvelIni({}));
  ASSERT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(base::Run().SkipInstall, 1);
  ui_->control = true;
  ASSERT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(base::Run().SkipInstall, 0);
  ui_->control = false;

  WriteTestFile(disc + "/install/data/042FRA10/nuvel.ini", NuvelIni({{"course_name", "X"}}));
  ASSERT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(base::Run().SkipInstall, 0);
  fs::remove_all(disc + "/install/data/042FRA10");
  CD_Eject();
  ASSERT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(base::Run().SkipInstall, 0);
}

// ---- Installed courses -------------------------------------------------------------------------

TEST_F(SourcesTest, NamedCoursesAreListedAndTheHighestFixLevelKept) {
  WriteTestFile(install_ + "/launch/010MUL42/nuvel.ini",
                NuvelIni({{"course_name", "Multilingual Course"}, {"fix_level", "362"}}));
  WriteTestFile(install_ + "/launch/045JPN20/NUVEL.INI",
                NuvelIni({{"course_name", std::string(100, 'n')}, {"fix_level", "370"}}));
  WriteTestFile(install_ + "/launch/050ENG10/nuvel.ini", NuvelIni({{"fix_level", "400"}}));
  WriteTestFile(install_ + "/launch/.old/nuvel.ini",
                NuvelIni({{"course_name", "Hidden"}, {"fix_level", "999"}}));

  EXPECT_EQ(NumOfProducts(), 2);
  const auto& list = Sources().InstalledProducts;
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].displayLine, "Multilingual Course  (010) V4.2");
  EXPECT_EQ(list[0].folder, "010MUL42");
  EXPECT_EQ(list[1].displayLine, std::string(79, 'n')) << "cut to its 80-byte field";
  EXPECT_EQ(base::Run().max_fix_level_installed, 400) << "a course without a name still counts";

  base::Run().max_fix_level_installed = 500;
  NumOfProducts();
  EXPECT_EQ(base::Run().max_fix_level_installed, 500) << "the level is only ever raised";
}

// ---- More recent builds on the source ----------------------------------------------------------

class CheckInstallationsTest : public SourcesTest {
 protected:
  void SetUp() override {
    SourcesTest::SetUp();
    // Two products on the source, so that the check runs.
    Sources().prodList.resize(2);
    Sources().prodFilePaths.resize(2);
  }
  void Installed(const std::string& folder, int level, int version) {
    fs::create_directories(install_ + "/launch/" + folder);
    WriteTestFile(install_ + "/content/" + folder + "/NUVEL.INI",
                  NuvelIni({{"course_name", folder},
                            {"fix_level", std::to_string(level)},
                            {"fix_version", std::to_string(version)}}));
  }
  void OnSource(const std::string& folder, const std::string& name, int level, int version) {
    std::map<std::string, std::string> keys = {{"course_name", name},
                                               {"fix_level", std::to_string(level)}};
    if (version >= 0) keys["fix_version"] = std::to_string(version);
    WriteTestFile(source_ + "/Nuvel/content/" + folder + "/NUVEL.INI", NuvelIni(keys));
  }
  // The update, recording each call's `forced`.
  UpdateAllProductsFunction Update(int result = 0) {
    return [this, result](bool forced) {
      updates_.push_back(forced);
      return result;
    };
  }
  std::string Message(const ui::Dialog& dialog) { return dialog.item(3)->text; }

  std::vector<bool> updates_;
};

// A source with one product, or a source copy without fix_version, is never offered.
TEST_F(CheckInstallationsTest, NothingIsOfferedWithoutASecondProductOrAFixVersion) {
  ui_->control = true;
  Installed("010MUL42", 362, 5);
  OnSource("010MUL42", "A", 999, -1);
  EXPECT_EQ(CheckInstallations(Update()), 0);
  OnSource("010MUL42", "Newer", 363, 6);
  Sources().prodList.resize(1);
  EXPECT_EQ(CheckInstallations(Update()), 0);
  EXPECT_TRUE(ui_->shown.empty());
  EXPECT_TRUE(updates_.empty());
}

TEST_F(CheckInstallationsTest, HigherFixLevelIsOfferedAndNoLeavesItAlone) {
  Installed("010MUL42", 362, 5);
  Installed("045JPN20", 362, 5);
  OnSource("010MUL42", "Multilingual Course", 363, 0);
  OnSource("045JPN20", "Japanese", 362, 5);
  ui_->answer = [](ui::Dialog&) { return 2; };

  EXPECT_EQ(CheckInstallations(Update()), 0);
  ASSERT_EQ(ui_->shown.size(), 1u);
  EXPECT_EQ(ui_->shown[0].id, "MSG_Message_AMoreRecentVersion");
  EXPECT_EQ(Message(ui_->shown[0]),
            "A more recent version of this course is on the installation source:  Do you want "
            "to update it now?\r\rMultilingual Course\r");
  EXPECT_TRUE(updates_.empty());
}

TEST_F(CheckInstallationsTest, HigherFixVersionIsOfferedAndYesRunsTheUpdate) {
  fs::create_directories(install_ + "/launch/010MUL42");
  // Installed with its startup files only: the launch folder's nuvel.ini describes it.
  WriteTestFile(install_ + "/launch/010MUL42/nuvel.ini",
                NuvelIni({{"fix_level", "362"}, {"fix_version", "1"}}));
  OnSource("010MUL42", "Multilingual Course", 362, 2);

  EXPECT_EQ(CheckInstallations(Update()), 1);
  EXPECT_EQ(updates_, (std::vector<bool>{false}));
  EXPECT_EQ(CheckInstallations(Update(-1)), 0) << "a failed update";
}

TEST_F(CheckInstallationsTest, ControlKeyOffersEveryInstalledCourseTheSourceHolds) {
  ui_->control = true;
  for (const char* folder : {"010MUL42", "045JPN20", "050ENG10"}) Installed(folder, 362, 5);
  OnSource("010MUL42", "Multilingual Course", 362, 5);
  OnSource("045JPN20", "Japanese", 300, 1);

  EXPECT_EQ(CheckInstallations(Update()), 1);
  ASSERT_EQ(ui_->shown.size(), 1u);
  EXPECT_EQ(ui_->shown[0].id, "MSG_Message_MoreRecentVersions");
  EXPECT_NE(Message(ui_->shown[0]).find("\r\rMultilingual Course\rJapanese\r"), std::string::npos)
      << Message(ui_->shown[0]);
  EXPECT_EQ(updates_, (std::vector<bool>{true}));
}

// ---- Volumes and the installation disc ---------------------------------------------------------

TEST_F(SourcesTest, VolumeSeamNumbersTheVolumesAndVolumeOfMatchesWholeComponents) {
  Volumes("/media/disc:ro,/media/disc2/:rw,/srv/share");
  std::vector<platform::Volume> volumes;
  ASSERT_FALSE(platform::MountedVolumes(volumes));
  ASSERT_EQ(volumes.size(), 3u);
  EXPECT_EQ(volumes[1].mountPoint, "/media/disc2");
  EXPECT_FALSE(volumes[2].readOnly) << "an entry without a flag is read-write";
  EXPECT_EQ(volumes[2].number, 3);

  platform::Volume volume;
  ASSERT_TRUE(platform::VolumeOf("/media/disc2/install", volume));
  EXPECT_EQ(volume.mountPoint, "/media/disc2") << "whole components, not a string prefix";
  EXPECT_FALSE(platform::VolumeOf("/home/user", volume));
}

TEST_F(SourcesTest, OnlyALockedVolumeWithVersionAndInstallIsTheDisc) {
  std::string writable = Disc("writable", "LINE");
  std::string no_version = Disc("noversion", "");
  std::string no_install = Disc("noinstall", "LINE", false);
  std::string disc = Disc("disc", "LINE", false);
  fs::create_directories(disc + "/INSTALL");
  Volumes(writable + ":rw," + no_version + ":ro," + no_install + ":ro," + disc + ":ro");

  std::string path;
  EXPECT_EQ(FindAMIDCD(path), 1);
  EXPECT_EQ(path, disc);
  EXPECT_EQ(Sources().gCDVolRefNum, 4);
  EXPECT_EQ(Sources().cdMountPath, disc);

  Volumes(writable + ":rw");
  EXPECT_EQ(FindAMIDCD(path), 0);
  EXPECT_EQ(path, "");
  EXPECT_EQ(Sources().gCDVolRefNum, 0) << "the record of a disc no longer there is cleared";
  EXPECT_EQ(Sources().cdMountPath, "");
}

TEST_F(SourcesTest, VersionFileGivesItsFirstLineWithoutLineEnd) {
  std::string root = Disc("disc", "");
  std::string line = "left over";
  EXPECT_EQ(VerifyVersionFile(root, &line), 0);
  WriteTestFile(root + "/VERSION", std::string(300, 'v') + "\r\nsecond\r\n");
  EXPECT_EQ(VerifyVersionFile(root), 1);
  ASSERT_EQ(VerifyVersionFile(root, &line), 1);
  EXPECT_EQ(line, std::string(255, 'v'));
  WriteTestFile(root + "/VERSION", "first\nsecond");
  ASSERT_EQ(VerifyVersionFile(root, &line), 1);
  EXPECT_EQ(line, "first");
}

class DiscInsertedTest : public SourcesTest {
 protected:
  // A VERSION line of a content disc: "SC" at offsets 34 and 35.
  static std::string ContentLine() { return "010 MUL 01 V4-2     --------- 201.SC 040.00 008"; }
  // Registers the right disc (right_), then puts a wrong one in its place.
  void InsertWrongDisc() {
    right_ = Disc("right", "RIGHT DISC");
    Volumes(right_ + ":ro");
    ASSERT_EQ(Installer_Disk_Inserted(1), 1);
    Volumes(Disc("wrong", "WRONG DISC") + ":ro");
  }
  std::string right_;
};

TEST_F(DiscInsertedTest, AcceptAnyRegistersTheDiscAndItsContentMark) {
  Volumes(Disc("disc", ContentLine()) + ":ro");
  EXPECT_EQ(Installer_Disk_Inserted(1), 1);
  EXPECT_EQ(Sources().rememberedVersionLine, ContentLine());
  EXPECT_EQ(base::Run().ContentCD_MID, 1);
  EXPECT_EQ(Installer_Disk_Inserted(0), 1) << "the registered disc is accepted again";
  EXPECT_TRUE(ui_->shown.empty());

  Volumes(Disc("other", "010 MUL 01 V4-2     --------- 201.XX 040.00 008") + ":ro");
  EXPECT_EQ(Installer_Disk_Inserted(1), 1);
  EXPECT_EQ(base::Run().ContentCD_MID, 0);
}

// A wrong disc is ejected and the right one asked for: Skip ends the wait, OK looks again.
TEST_F(DiscInsertedTest, WrongDiscIsEjectedAskedForAndSkipEndsTheWait) {
  InsertWrongDisc();
  ui_->answer = [](ui::Dialog&) { return 2; };
  EXPECT_EQ(Installer_Disk_Inserted(0), 0);
  ASSERT_EQ(ui_->shown.size(), 1u);
  EXPECT_EQ(ui_->shown[0].id, "MSG_Message_InsertCD");
  EXPECT_EQ(Sources().Disc_Insert_OK, 0);
  EXPECT_EQ(Sources().gCDVolRefNum, 0) << "the wrong disc is forgotten once ejected";
  EXPECT_EQ(Sources().rememberedVersionLine, "RIGHT DISC");
}

TEST_F(DiscInsertedTest, OkLooksAgainUntilTheRightDiscIsThere) {
  InsertWrongDisc();
  ui_->answer = [&](ui::Dialog&) {
    Volumes(right_ + ":ro");  // the user changes the disc, then clicks OK
    return 1;
  };
  EXPECT_EQ(Installer_Disk_Inserted(0), 1);
  EXPECT_EQ(ui_->shown.size(), 1u);
  EXPECT_EQ(Sources().Disc_Insert_OK, 1);
  EXPECT_EQ(Sources().cdMountPath, right_);
}

TEST_F(DiscInsertedTest, WithoutDiscTheSourceFolderStandsForIt) {
  Volumes("");
  fs::create_directories(source_);
  EXPECT_EQ(Installer_Disk_Inserted(0), 1) << "nothing remembered and no VERSION: accepted";

  WriteTestFile(source_ + "/VERSION", "SOURCE FOLDER\r\n");
  ui_->answer = [](ui::Dialog&) { return 2; };
  EXPECT_EQ(Installer_Disk_Inserted(0), 0) << "a VERSION with nothing remembered is refused";
  EXPECT_EQ(Installer_Disk_Inserted(1), 1);
  EXPECT_EQ(Sources().rememberedVersionLine, "SOURCE FOLDER");
  EXPECT_EQ(Installer_Disk_Inserted(0), 1);
}

TEST_F(DiscInsertedTest, NoSkipWhenSetupAndContentShareTheDiscItRunsFrom) {
  std::string disc = Disc("disc", ContentLine());
  Volumes(disc + ":ro");
  base::Run().current_dir = disc;
  ASSERT_EQ(Installer_Disk_Inserted(1), 1);
  ASSERT_EQ(base::Run().ContentCD_MID, 1);
  Sources().rememberedVersionLine = "ANOTHER DISC";
  ui_->answer = [&](ui::Dialog&) {
    Sources().rememberedVersionLine = ContentLine();
    return 1;
  };
  EXPECT_EQ(Installer_Disk_Inserted(0), 1);
  ASSERT_EQ(ui_->shown.size(), 1u);
  EXPECT_FALSE(ui_->shown[0].item(2)->visible);
}

// ---- Free space --------------------------------------------------------------------------------

using FreeSpaceTest = SourcesTest;

TEST_F(FreeSpaceTest, FreeBytesOfAPathToBeCreatedAreItsParentsVolumes) {
  const std::string path = sysroot_.path("not/yet/created");
  const std::uint64_t expected = fs::space(sysroot_.root()).available;
  const std::uint64_t free = GetSpaceFree(path);
  // Other programs write meanwhile; the two readings agree to within 64 MB.
  const std::uint64_t slack = 64ull << 20;
  EXPECT_LE(free, expected + slack);
  EXPECT_GE(free + slack, expected);
  EXPECT_EQ(GetSpaceFree(""), 0u);
}

TEST_F(FreeSpaceTest, ExactlyTheNeedPassesAndOneByteMoreDoesNot) {
  const std::string path = sysroot_.path("courses");
  // Retried while other programs change the free space between the readings; only a round in
  // which it stayed the same counts.
  int passed = -1, refused = -1;
  bool steady = false;
  for (int attempt = 0; attempt < 100 && !steady; ++attempt) {
    const std::uint64_t before = GetSpaceFree(path);
    passed = CheckAvailSpace(path, before);
    refused = CheckAvailSpace(path, before + 1);
    steady = GetSpaceFree(path) == before;
  }
  if (!steady) GTEST_SKIP() << "the free space never held still for a round";
  EXPECT_EQ(passed, 1);
  EXPECT_EQ(refused, 0);
  EXPECT_TRUE(Logged("Hard Disk Space Needed="));
}

TEST_F(FreeSpaceTest, NeedAboveTheFreeSpaceIsToldInMegabytes) {
  base::Run().szCoursewareName = "Nuvel Courses";
  const std::uint64_t need = std::numeric_limits<std::uint64_t>::max() / 2;
  EXPECT_EQ(CheckAvailSpace(sysroot_.path("courses"), need), 0);
  ASSERT_EQ(ui_->shown.size(), 1u);
  const ui::Dialog& dialog = ui_->shown[0];
  EXPECT_EQ(dialog.id, "MSG_Message_BytesFreeOnDrive");
  EXPECT_EQ(dialog.title, "Please make more space available, then try again.");
  const std::string message = dialog.item(3)->text;
  char needed[64];
  std::snprintf(needed, sizeof needed, "Nuvel Courses needs %5.2f MB.",
                static_cast<double>(need) / 1048576.0);
  EXPECT_NE(message.find(needed), std::string::npos) << message;
  EXPECT_EQ(message.find("The disk "), 0u) << message;
}

// ---- The message file ------------------------------------------------------------------------

class LocalMessagesTest : public SourcesTest {
 protected:
  std::string Local() { return base::Paths().localNuvelDirectory + "engine.luc"; }
  std::string luc_ = ReadTestFile(NUVEL_ENGINE_LUC_FILE);
};

TEST_F(LocalMessagesTest, InstallDataThenSupportIsSearchedAndTheLocalCopyIsOpened) {
  WriteTestFile(source_ + "/install/data/engine.luc", luc_ + "first");
  WriteTestFile(source_ + "/install/data/support/engine.luc", luc_ + "second");
  EXPECT_EQ(SetupOpenLocalLoc(), 1);
  EXPECT_EQ(ReadTestFile(Local()), luc_ + "first");
  EXPECT_EQ(base::Strings().slots[0].szFileName, Local()) << "slot 0 held the build's file before";
  EXPECT_EQ(base::StrRez(0, "MSG_Button_Skip"), "Skip");

  fs::remove(source_ + "/install/data/engine.luc");
  EXPECT_EQ(SetupOpenLocalLoc(), 1);
  EXPECT_EQ(ReadTestFile(Local()), luc_ + "second") << "the support folder comes next";
}

TEST_F(LocalMessagesTest, LanguageNamesFollowTheOpenMessageFile) {
  EXPECT_EQ(LanguageNameOfCode("ENG"), "English");
  EXPECT_EQ(LanguageNameOfCode("MAS"), "Mandarin -- Simplified");
  EXPECT_EQ(LanguageNameOfCode("UKR"), "Ukrainian");
  EXPECT_EQ(LanguageNameOfCode("GEN"), "GEN");
  base::CloseStrRez(0);
  EXPECT_EQ(LanguageNameOfCode("JPN"), "JPN") << "without a message file the code stays";
}

}  // namespace
}  // namespace nuvel::installer
