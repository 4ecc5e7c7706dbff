#include "installer/sources.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
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
#include "platform/syscalls.h"
#include "platform/volumes.h"
#include "tests/support/fake_backend.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"
#include "ui/prompts.h"
#include "ui/status_box.h"

namespace nuvel::installer {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;
using ui::testing::FakeBackend;

void ResetModules() { nuvel::testing::ResetInstallerModules(); }

std::string NuvelIni(const std::map<std::string, std::string>& keys) {
  std::string text = "[nuvel.ini]\r\n";
  for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
  return text;
}

// One 306-byte Products.INF record, laid out field by field.
struct Record {
  std::string course{}, language{}, version{}, folder{}, versionName{}, languages{}, parts{};
  int englishOnly = 0, installed = 0, speech = 0, multilingual = 0;
};

std::string RecordBytes(const Record& r) {
  auto field = [](const std::string& text, std::size_t size) {
    return text.substr(0, size) + std::string(size - std::min(size, text.size()), '\0');
  };
  auto flag = [](int value) {  // 16 bits, little-endian; the fourth flag is not read
    return std::string{static_cast<char>(value), static_cast<char>(value >> 8)};
  };
  // A folder name shorter than 15 bytes leaves the rest of its field to the parts list.
  return field(r.course, 40) + field(r.language, 15) + field(r.version, 5) + field(r.folder, 15) +
         field(r.parts, 20) + field(r.versionName, 100) + field(r.languages, 101) +
         flag(r.englishOnly) + flag(r.installed) + flag(r.speech) + flag(0) + flag(r.multilingual);
}

class SourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The interface language follows LANGUAGE first; the tests read English texts.
    if (const char* value = std::getenv("LANGUAGE")) language_ = value;
    ::setenv("LANGUAGE", "en", 1);
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
    language_ ? ::setenv("LANGUAGE", language_->c_str(), 1) : ::unsetenv("LANGUAGE");
  }

  bool Logged(const std::string& text) {
    return ReadTestFile(base::Paths().localNuvelDirectory + "Nuvel_log.txt").find(text) !=
           std::string::npos;
  }

  // A product folder on the source with its nuvel.ini (and setup.ini when given).
  void SourceProduct(const std::string& folder, const std::map<std::string, std::string>& keys,
                     const std::string& setup_ini = "") {
    WriteTestFile(data_ + folder + "/nuvel.ini", NuvelIni(keys));
    if (!setup_ini.empty()) WriteTestFile(data_ + folder + "/setup.ini", setup_ini);
  }
  void ProductsInf(const std::string& bytes) { WriteTestFile(data_ + "Products.INF", bytes); }
  const FoundProduct* Found(const std::string& folder) {
    auto it = std::ranges::find(Sources().prodList, folder, &FoundProduct::folder);
    return it == Sources().prodList.end() ? nullptr : &*it;
  }
  std::vector<std::string> FoundFolders() {
    std::vector<std::string> folders;
    for (const FoundProduct& found : Sources().prodList) folders.push_back(found.folder);
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
  std::optional<std::string> language_;
  FakeBackend* ui_ = nullptr;
  std::string source_ = sysroot_.path("source");
  std::string data_ = source_ + "/install/data/";
  std::string install_ = sysroot_.path("opt/Nuvel");
};

// ---- Products.INF ------------------------------------------------------------------------------

TEST_F(SourcesTest, SoundProductsInfIsTakenAsItIsAndFoldersAreNotScanned) {
  Record first{.course = std::string(40, 'F'), .language = "English", .version = "V4.2",
               .folder = "001ENG42", .versionName = "Edition 2024", .languages = "ENG FRA",
               .parts = "ABC", .englishOnly = 1, .speech = 1, .multilingual = 1};
  ProductsInf("0002" + RecordBytes(first) + RecordBytes({.course = "B", .folder = "010MUL50"}));
  SourceProduct("045JPN20", {{"course_name", "Only on disk"}});

  EXPECT_EQ(CheckProdExistance(), 1);
  ASSERT_EQ(FoundFolders(), (std::vector<std::string>{"001ENG42", "010MUL50"}));
  const FoundProduct& a = Sources().prodList[0];
  EXPECT_EQ(a.courseName + "|" + a.language + "|" + a.version + "|" + a.versionName + "|" +
                a.languages + "|" + a.parts,
            std::string(39, 'F') + "|English|V4.2|Edition 2024|ENG FRA|ABC")
      << "a full field has no NUL and is cut";
  EXPECT_EQ(std::vector<int>({a.englishOnly, a.installed, a.speechRecognition, a.multilingual}),
            std::vector<int>({1, 0, 1, 1}));
  EXPECT_EQ(Sources().prodList[1].multilingual, 0) << "taken as it is, not from the name";
  EXPECT_EQ(Sources().prodFilePaths,
            (std::vector<std::string>{data_ + "001ENG42/nuvel.ini", data_ + "010MUL50/nuvel.ini"}));
}

// A count above 99, or records running past the end of the file, refuse the whole file and the
// folders are scanned instead; a record whose folder could leave the source is skipped alone.
TEST_F(SourcesTest, DamagedProductsInfIsRefusedAndUnsafeRecordsAreSkipped) {
  SourceProduct("045JPN20", {{"course_name", "On disk"}});
  std::string records;
  for (int i = 0; i < 100; ++i) records += RecordBytes({.course = "Course", .folder = "001ENG42"});
  ProductsInf("0100" + records);
  EXPECT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(FoundFolders(), (std::vector<std::string>{"045JPN20"}));
  EXPECT_TRUE(Logged("ERROR: Products.INF refused: 100 products, at most 99"));

  ProductsInf("0003" + records.substr(0, 2 * 306 + 100));
  EXPECT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(FoundFolders(), (std::vector<std::string>{"045JPN20"})) << "a truncated list kept";
  EXPECT_TRUE(Logged("ERROR: Products.INF refused: 3 records need 922 bytes, the file holds 716"));

  records.clear();
  for (const char* folder : {"../../etc", "001/../../x", "010\\MUL42", "..", "", ".hidden"}) {
    records += RecordBytes({.course = "Bad", .folder = folder});
  }
  ProductsInf("0007" + records + RecordBytes({.course = "Good", .folder = "040SPN10"}));
  EXPECT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(FoundFolders(), (std::vector<std::string>{"040SPN10"}));
  EXPECT_EQ(Sources().prodFilePaths, (std::vector<std::string>{data_ + "040SPN10/nuvel.ini"}));
  EXPECT_TRUE(Logged("ERROR: Products.INF record 1 refused: folder name '../../etc'"));
}

// ---- The folder scan ---------------------------------------------------------------------------

// Only folders named with a number above 0 that is not excluded and holding nuvel.ini are
// products. The name gives the version and the language; "ENG" or "MIX" in it marks English
// only and "MUL" multilingual, whatever nuvel.ini says, which can only add the marks.
TEST_F(SourcesTest, ScanTakesNumberedFoldersWithNuvelIniAndReadsTheirNames) {
  std::vector<std::string> no_products = {".010MUL42", "000MUL42", "X10MUL42"};
  for (int number : kExcludedFromSourceScan) {
    no_products.push_back(std::to_string(1000 + number).substr(1) + "MUL10");
  }
  for (const std::string& folder : no_products) SourceProduct(folder, {{"course_name", folder}});
  fs::create_directories(data_ + "045JPN10");
  WriteTestFile(data_ + "046MAN10", "a file, not a folder");
  SourceProduct("045jpn20", {{"course_name", "Japanese"}});
  SourceProduct("046MAS10", {{"course_name", "Mandarin"}});
  SourceProduct("050GEN", {{"course_name", "Short name"}}, "[nuvel]\r\nmultiLanguages=eng fra\r\n");
  SourceProduct("030ENG10", {{"course_name", "A"}, {"english_only", "N"}});
  SourceProduct("031MIX10", {{"course_name", "B"}});
  SourceProduct("010MUL42", {{"course_name", "D"}, {"multilingual", "N"}});
  SourceProduct("040SPN10", {{"course_name", "C"}, {"english_only", "yes"}, {"multilingual", "Y"}});
  const std::string long_folder = "011MUL42" + std::string(32, 'X');
  SourceProduct(long_folder, {{"course_name", std::string(38, 'a') + "\xC3\xA9" + "tail"}});

  ASSERT_EQ(CheckProdExistance(), 1);
  EXPECT_EQ(FoundFolders(),
            (std::vector<std::string>{"010MUL42", long_folder.substr(0, 34), "030ENG10", "031MIX10",
                                      "040SPN10", "045JPN20", "046MAS10", "050GEN"}))
      << "sorted by name, the folder upper-cased and cut to its field";
  EXPECT_EQ(Found(long_folder.substr(0, 34))->courseName, std::string(38, 'a'))
      << "cut without splitting the two-byte character";
  const FoundProduct* japanese = Found("045JPN20");
  EXPECT_EQ(japanese->version, "V2.0");
  EXPECT_EQ(japanese->language, "Japanese");
  EXPECT_EQ(japanese->languages, "JPN") << "without multiLanguages, the folder's code";
  EXPECT_EQ(japanese->englishOnly + japanese->multilingual, 0);
  EXPECT_EQ(japanese->versionName, "N/A") << "a missing key keeps the default";
  EXPECT_EQ(Found("046MAS10")->language, "Mandarin -- Si") << "cut to its 15-byte field";
  EXPECT_EQ(Found("050GEN")->language, "GEN") << "a code without a name stays";
  EXPECT_EQ(Found("050GEN")->version, "VX.X");
  EXPECT_EQ(Found("050GEN")->languages, "ENG FRA") << "the product's setup.ini, upper-cased";

  EXPECT_EQ(Found("030ENG10")->englishOnly, 1) << "ENG in the name wins over english_only=N";
  EXPECT_EQ(Found("030ENG10")->language, "English");
  EXPECT_EQ(Found("031MIX10")->englishOnly, 1);
  EXPECT_EQ(Found("010MUL42")->multilingual, 1) << "MUL in the name wins over multilingual=N";
  EXPECT_EQ(Found("040SPN10")->englishOnly, 1);
  EXPECT_EQ(Found("040SPN10")->multilingual, 1);
  EXPECT_EQ(Found("040SPN10")->language, "---");

  base::CloseStrRez(0);
  EXPECT_EQ(LanguageNameOfCode("JPN"), "Japanese") << "without a message file, the built-in name";
  EXPECT_EQ(LanguageNameOfCode("XYZ"), "XYZ") << "an unknown code stays";
}

// ---- Nothing to install from a disc ----------------------------------------------------------

// The only product of the disc the Setup runs from, installed already, is skipped unless Control
// is held; two products, or the same source off the disc, are not.
TEST_F(SourcesTest, OnlyProductOfTheDiscInstalledAlreadyIsSkipped) {
  std::string disc = Disc("disc", "NUVEL DISC");
  Volumes(disc + ":ro");
  base::Run().current_dir = disc;
  ASSERT_EQ(Installer_Disk_Inserted(1), 1);
  WriteTestFile(disc + "/install/data/040SPN10/nuvel.ini", NuvelIni({{"course_name", "X"}}));
  WriteTestFile(install_ + "/launch/040SPN10/nuvel.ini", NuvelIni({}));
  auto skip = [] { return CheckProdExistance() == 1 ? base::Run().SkipInstall : -1; };
  EXPECT_EQ(skip(), 1);
  ui_->control = true;
  EXPECT_EQ(skip(), 0);
  ui_->control = false;
  WriteTestFile(disc + "/install/data/042FRA10/nuvel.ini", NuvelIni({{"course_name", "X"}}));
  EXPECT_EQ(skip(), 0) << "two products";
  fs::remove_all(disc + "/install/data/042FRA10");
  CD_Eject();
  EXPECT_EQ(skip(), 0) << "off the disc";
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

// A higher fix level, or the same level with a higher fix version, is offered; the same build,
// or a lower level with a higher fix version, is not, unless Control is held. No leaves the course
// alone, Yes runs the update. A source copy without fix_version, or anything of a source of one
// product, is never offered.
TEST_F(SourcesTest, MoreRecentBuildOnTheSourceIsOfferedAndYesRunsTheUpdate) {
  auto on_source = [&](const std::string& folder, const std::string& name, int level, int version) {
    std::map<std::string, std::string> keys = {{"course_name", name},
                                               {"fix_level", std::to_string(level)}};
    if (version >= 0) keys["fix_version"] = std::to_string(version);
    WriteTestFile(source_ + "/Nuvel/content/" + folder + "/NUVEL.INI", NuvelIni(keys));
  };
  std::vector<bool> updates;  // each update's `forced`
  int result = 0;
  auto update = [&](bool forced) {
    updates.push_back(forced);
    return result;
  };
  auto message = [&](size_t dialog) { return ui_->shown.at(dialog).item(3)->text; };
  Sources().prodList.resize(2);  // the check runs for two products or more
  for (const char* folder : {"045JPN20", "050ENG10"}) {
    fs::create_directories(install_ + "/launch/" + folder);
    WriteTestFile(install_ + "/content/" + folder + "/NUVEL.INI",
                  NuvelIni({{"course_name", folder}, {"fix_level", "362"}, {"fix_version", "5"}}));
  }
  on_source("045JPN20", "Japanese", 362, 5);
  // Installed with its startup files only: the launch folder's nuvel.ini describes it.
  WriteTestFile(install_ + "/launch/010MUL42/nuvel.ini",
                NuvelIni({{"fix_level", "362"}, {"fix_version", "1"}}));
  on_source("010MUL42", "Multilingual Course", 363, 0);
  ui_->answer = [](ui::Dialog&) { return 2; };
  EXPECT_EQ(CheckInstallations(update), 0);
  ASSERT_EQ(ui_->shown.size(), 1u);
  EXPECT_EQ(ui_->shown[0].id, "MSG_Message_AMoreRecentVersion");
  EXPECT_EQ(message(0),
            "A more recent version of this course is on the installation source:  Do you want "
            "to update it now?\r\rMultilingual Course\r");
  EXPECT_TRUE(updates.empty());
  // A lower fix level is older whatever its fix version: 361.9 is not offered over 362.5.
  on_source("045JPN20", "Japanese", 361, 9);
  EXPECT_EQ(CheckInstallations(update), 0);
  ASSERT_EQ(ui_->shown.size(), 2u);
  EXPECT_EQ(message(1), message(0));

  on_source("010MUL42", "Multilingual Course", 362, 2);
  ui_->answer = nullptr;
  EXPECT_EQ(CheckInstallations(update), 1);
  EXPECT_EQ(updates, (std::vector<bool>{false}));
  result = -1;
  EXPECT_EQ(CheckInstallations(update), 0) << "a failed update";
  result = 0;

  ui_->control = true;
  EXPECT_EQ(CheckInstallations(update), 1);
  ASSERT_EQ(ui_->shown.size(), 5u);
  EXPECT_EQ(ui_->shown[4].id, "MSG_Message_MoreRecentVersions");
  EXPECT_EQ(message(4),
            "More recent versions of these courses are on the installation source:  Do you want "
            "to update them now?\r\rMultilingual Course\rJapanese\r");
  EXPECT_EQ(updates, (std::vector<bool>{false, false, true}));

  on_source("010MUL42", "A", 999, -1);
  on_source("045JPN20", "B", 999, -1);
  EXPECT_EQ(CheckInstallations(update), 0);
  on_source("010MUL42", "Newer", 363, 6);
  Sources().prodList.resize(1);
  EXPECT_EQ(CheckInstallations(update), 0);
}

// ---- The installation disc ---------------------------------------------------------------------

// Only a locked volume holding VERSION and an "install" or "INSTALL" folder is the disc. Accepting
// any disc registers the first line of its VERSION and its content mark ("SC" at offsets 34 and
// 35); later only that disc is accepted. When the Setup runs from the content disc, the prompt for
// another one offers no Skip.
TEST_F(SourcesTest, LockedVolumeWithVersionAndInstallIsTheDiscAndAcceptingAnyRegistersIt) {
  const std::string content_line = "010 MUL 01 V4-2     --------- 201.SC 040.00 008";
  std::string writable = Disc("writable", "LINE");
  std::string disc = Disc("disc", content_line, false);
  fs::create_directories(disc + "/INSTALL");
  Volumes(writable + ":rw," + Disc("noversion", "") + ":ro," + Disc("noinstall", "LINE", false) +
          ":ro," + disc + ":ro");
  base::Run().current_dir = disc;
  EXPECT_EQ(Installer_Disk_Inserted(1), 1);
  EXPECT_EQ(Sources().gCDVolRefNum, 4);
  EXPECT_EQ(Sources().cdMountPath, disc);
  EXPECT_EQ(Sources().rememberedVersionLine, content_line);
  EXPECT_EQ(base::Run().ContentCD_MID, 1);
  EXPECT_EQ(Installer_Disk_Inserted(0), 1) << "the registered disc is accepted again";

  Sources().rememberedVersionLine = "ANOTHER DISC";
  ui_->answer = [&](ui::Dialog&) {
    Sources().rememberedVersionLine = content_line;
    return 1;
  };
  EXPECT_EQ(Installer_Disk_Inserted(0), 1);
  ASSERT_EQ(ui_->shown.size(), 1u);
  EXPECT_FALSE(ui_->shown[0].item(2)->visible);

  WriteTestFile(disc + "/VERSION", std::string(300, 'v') + "\nsecond");
  EXPECT_EQ(Installer_Disk_Inserted(1), 1);
  EXPECT_EQ(Sources().rememberedVersionLine, std::string(255, 'v'));
  EXPECT_EQ(base::Run().ContentCD_MID, 0);

  Volumes(writable + ":rw");
  std::string path = "stale";
  EXPECT_EQ(FindAMIDCD(path), 0);
  EXPECT_EQ(path, "");
  EXPECT_EQ(Sources().gCDVolRefNum, 0) << "the record of a disc no longer there is cleared";
  EXPECT_EQ(Sources().cdMountPath, "");
}

// A wrong disc is ejected and the right one asked for: OK looks again, Skip ends the wait.
TEST_F(SourcesTest, WrongDiscIsEjectedAndAskedForUntilItIsThereOrSkipped) {
  const std::string right = Disc("right", "RIGHT DISC");
  const std::string wrong = Disc("wrong", "WRONG DISC");
  Volumes(right + ":ro");
  ASSERT_EQ(Installer_Disk_Inserted(1), 1);
  Volumes(wrong + ":ro");
  ui_->answer = [&](ui::Dialog&) {
    Volumes(right + ":ro");  // the user changes the disc, then clicks OK
    return 1;
  };
  EXPECT_EQ(Installer_Disk_Inserted(0), 1);
  EXPECT_EQ(Sources().cdMountPath, right);

  Volumes(wrong + ":ro");
  ui_->answer = [](ui::Dialog&) { return 2; };
  EXPECT_EQ(Installer_Disk_Inserted(0), 0);
  ASSERT_EQ(ui_->shown.size(), 2u);
  EXPECT_EQ(ui_->shown[1].id, "MSG_Message_InsertCD");
  EXPECT_TRUE(ui_->shown[1].item(2)->visible) << "Skip";
  EXPECT_EQ(Sources().Disc_Insert_OK, 0);
  EXPECT_EQ(Sources().gCDVolRefNum, 0) << "the wrong disc is forgotten once ejected";
  EXPECT_EQ(Sources().rememberedVersionLine, "RIGHT DISC");
}

TEST_F(SourcesTest, WithoutDiscTheSourceFolderStandsForIt) {
  Volumes("");
  fs::create_directories(source_);
  EXPECT_EQ(Installer_Disk_Inserted(0), 1) << "nothing remembered and no VERSION: accepted";

  WriteTestFile(source_ + "/VERSION", "SOURCE FOLDER\r\n");
  ui_->answer = [](ui::Dialog&) { return 2; };
  EXPECT_EQ(Installer_Disk_Inserted(0), 0) << "a VERSION with nothing remembered is refused";
}

// ---- Free space: a volume of 10 MB free, through the call table -----------------------------

int TenMegabytesFree(const char*, struct statvfs* buf) {
  *buf = {};
  buf->f_frsize = 4096;
  buf->f_bavail = 2560;
  return 0;
}

using FreeSpaceTest = SourcesTest;

// The disk is named by the mount point of its volume, matched by whole path components.
TEST_F(FreeSpaceTest, ExactlyTheNeedPassesAndOneByteMoreIsToldInMegabytes) {
  constexpr std::uint64_t kFree = 10ull << 20;
  platform::syscalls().statvfs = TenMegabytesFree;
  Volumes(sysroot_.path("cour") + ":rw," + sysroot_.root() + "/:rw");
  base::Run().szCoursewareName = "Nuvel Courses";
  const std::string path = sysroot_.path("courses/not/yet/made");
  EXPECT_EQ(GetSpaceFree(path), kFree);
  EXPECT_EQ(CheckAvailSpace(path, kFree), 1);
  EXPECT_TRUE(ui_->shown.empty());
  EXPECT_TRUE(Logged("Hard Disk Space Needed=10.00MB   Space Available=10.00MB"));

  EXPECT_EQ(CheckAvailSpace(path, kFree + 1), 0);
  ASSERT_EQ(ui_->shown.size(), 1u);
  EXPECT_EQ(ui_->shown[0].id, "MSG_Message_BytesFreeOnDrive");
  EXPECT_EQ(ui_->shown[0].title, "Please make more space available, then try again.");
  EXPECT_EQ(ui_->shown[0].item(3)->text, "The disk " + sysroot_.root() +
                                             " has 10.00 MB free.\rNuvel Courses needs 10.00 MB."
                                             "\rPlease make more space available, then try again.");

  EXPECT_EQ(GetSpaceFree(""), 0u);
  EXPECT_TRUE(Logged("ERROR: free space of '' unknown"));
}

// ---- The message file ------------------------------------------------------------------------

TEST_F(SourcesTest, MessageFileFromInstallDataThenSupportIsCopiedLocallyAndOpened) {
  const std::string luc = ReadTestFile(NUVEL_ENGINE_LUC_FILE);
  const std::string local = base::Paths().localNuvelDirectory + "engine.luc";
  WriteTestFile(data_ + "engine.luc", luc + "first");
  WriteTestFile(data_ + "support/engine.luc", luc + "second");
  EXPECT_EQ(SetupOpenLocalLoc(), 1);
  EXPECT_EQ(ReadTestFile(local), luc + "first");
  EXPECT_EQ(base::Strings().slots[0].szFileName, local) << "slot 0 held the build's file before";

  fs::remove(data_ + "engine.luc");
  EXPECT_EQ(SetupOpenLocalLoc(), 1);
  EXPECT_EQ(ReadTestFile(local), luc + "second") << "the support folder comes next";
}

}  // namespace
}  // namespace nuvel::installer
