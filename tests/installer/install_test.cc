// Installing products from sources written by make-sample-source, for what the installation
// scenarios do not reach: archive details, checks against an installed copy, injected failures,
// the install dialog's items, the companion files and the update of installed courses.
#include "installer/install.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_utils.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "installer/copy_engine.h"
#include "installer/expand.h"
#include "installer/install_dialog.h"
#include "installer/product_table.h"
#include "installer/selection.h"
#include "installer/sources.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/syscalls.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"
#include "tests/support/fake_backend.h"
#include "ui/status_box.h"

namespace nuvel::installer {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;
using ::testing::HasSubstr;
using ui::testing::FakeBackend;

// Opens below this prefix fail as on a folder the user may not write.
std::string gRefusedPrefix;
platform::Syscalls gRealCalls;

// The path that `name` stands for relative to the folder open on `dirfd`.
std::string PathAt(int dirfd, const char* name) {
  char folder[4096];
  std::string link = "/proc/self/fd/" + std::to_string(dirfd);
  ssize_t n = ::readlink(link.c_str(), folder, sizeof folder);
  return std::string(folder, n > 0 ? static_cast<std::size_t>(n) : 0) + "/" + name;
}

void RefuseWritesBelow(const std::string& prefix) {
  gRealCalls = platform::syscalls();
  gRefusedPrefix = prefix;
  platform::syscalls().open = [](const char* path, int flags, unsigned mode) {
    if (std::string_view(path).starts_with(gRefusedPrefix)) {
      errno = EACCES;
      return -1;
    }
    return gRealCalls.open(path, flags, mode);
  };
  platform::syscalls().openat = [](int dirfd, const char* name, int flags, unsigned mode) {
    if (PathAt(dirfd, name).starts_with(gRefusedPrefix)) {
      errno = EACCES;
      return -1;
    }
    return gRealCalls.openat(dirfd, name, flags, mode);
  };
}

std::string Ini(const std::string& file, std::string_view section, std::string_view key) {
  std::string value;
  base::FreePrivateProfile();
  base::GetNuvelPrivateProfileString(section, key, "", value, base::kProfileValueSize, file);
  return value;
}

void SetIni(const std::string& file, std::string_view section, std::string_view key,
            std::string value) {
  base::FreePrivateProfile();
  ASSERT_NE(base::WriteNuvelPrivateProfileString(section, key, value, file), -2) << file;
}

// A zip archive holding the given members.
void WriteArchive(const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& members) {
  fs::create_directories(fs::path(path).parent_path());
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr);
  for (const auto& [name, data] : members) {
    zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
    ASSERT_NE(source, nullptr);
    ASSERT_GE(zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8), 0);
  }
  ASSERT_EQ(zip_close(archive), 0);
}

int FamilyRowOf(const std::string& number) {
  for (int row = 0; row < kFamilyRowCount; ++row) {
    if (Selection().fam[row].number == number) return row;
  }
  ADD_FAILURE() << "no family row for " << number;
  return 0;
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    // The volume list is the test's own: no disc of the machine is taken for the source's.
    ::setenv("NUVEL_VOLUMES", (root_.root() + ":rw").c_str(), 1);
    auto fake = std::make_unique<FakeBackend>();
    ui_ = fake.get();
    ui::SetBackend(std::move(fake));
    apps_ = root_.path("opt/Nuvel");
    ASSERT_FALSE(platform::MakeDirectories(apps_));
    base::Initialize_All_Paths(apps_);
    base::Paths().DataPath = base::Path("launch");
    ASSERT_EQ(base::OpenStrRez(0, NUVEL_ENGINE_LUC_FILE), 1);
    base::forceLanguage(0, base::kRegionEnglish, "ENG");
  }
  void TearDown() override {
    platform::ResetSyscalls();
    ui::SetBackend(nullptr);
    ResetAll();
  }
  static void ResetAll() { nuvel::testing::ResetInstallerModules(); }

  // Writes a sample source and makes it the source of the run, as the driver does: its root,
  // its setup.ini, its products, its disc registered, its families formed.
  void UseSource(const std::string& layout) {
    int status = -1;
    std::string output;
    ASSERT_FALSE(platform::RunAndWait(
        {NUVEL_SAMPLE_SOURCE_TOOL, "--content-mb", "1", "--content-as", layout, source_}, status,
        &output));
    ASSERT_EQ(status, 0) << output;
    base::RunState& run = base::Run();
    run.current_dir = source_;
    run.The_CD_ROM = source_;
    run.The_Course_CD_ROM = source_;
    run.szDefaultIniFile = source_ + "/install/data/setup.ini";
    ASSERT_EQ(CheckProdExistance(), 1);
    ASSERT_EQ(Installer_Disk_Inserted(1), 1);
    EstablishFamilies();
  }

  // Selects one product of the source, with `language` chosen for a multilingual one, through
  // the selection module's steps. Returns its found-product index.
  int Select(const std::string& folder, const std::string& language = "") {
    SelectionState& sel = Selection();
    sel.nFamType = FamilyRowOf(folder.substr(0, 3));
    sel.fam[sel.nFamType].sizeMB = 1;  // the real courses need gigabytes; the sample's is tiny
    EstablishVersions();
    for (int i = 0; i < sel.VersionCount(); ++i) {
      if (VersionKey(i) == folder.substr(3, 5)) sel.theVersion = i;
    }
    EstablishLanguages();
    CountProducts();
    EXPECT_EQ(sel.installOrder.size(), 1u);
    const int index = sel.installOrder.empty() ? -1 : sel.installOrder[0];
    EXPECT_EQ(index < 0 ? "" : Sources().prodList[index].folder, folder);
    if (sel.fMultiLingualProduct) {
      EXPECT_EQ(EstablishMultiLanguages(index), 1);
      for (int entry = 0; entry < kMLangTableSize; ++entry) {
        if (sel.MLangTable[entry].code == language) sel.nLangType = entry;
      }
      EXPECT_EQ(sel.MLangTable[sel.nLangType].code, language);
    }
    return index;
  }

  // Installs the selection: startup files, then the content.
  void InstallWithContent() {
    ASSERT_EQ(InstallProducts(), 1) << Log();
    ASSERT_EQ(Copy_The_Content(), 0) << Log();
    FinishInstalledCourses();
  }

  std::string Launch(const std::string& rel) const { return apps_ + "/launch/" + rel; }
  std::string Content(const std::string& rel) const { return apps_ + "/content/" + rel; }
  std::string Source(const std::string& rel) const { return source_ + "/" + rel; }
  std::string Records() const { return base::Path("records.ini"); }
  std::string Log() const {
    return ReadTestFile(base::Paths().localNuvelDirectory + "Nuvel_log.txt");
  }

  std::vector<std::string> PromptIds() const {
    std::vector<std::string> ids;
    for (const ui::Dialog& dialog : ui_->shown) {
      if (dialog.name == "prompt") ids.push_back(dialog.id);
    }
    return ids;
  }

  TestSysroot root_;
  std::string apps_;
  std::string source_ = root_.path("source");
  FakeBackend* ui_ = nullptr;
};

// ---- Products ---------------------------------------------------------------------------------

// The main-course edition is installed a second time as its twin, both recorded from versions.ini;
// the redirector folder is made; the installed VERSION points at the source.
TEST_F(InstallTest, MainCourseEditionIsAlsoInstalledAsItsTwinAndGetsTheVersionFile) {
  UseSource("folders");
  // The main-course edition, shaped like the sample's multilingual course.
  fs::copy(Source("install/data/001MUL50"), Source("install/data/005MUL50"),
           fs::copy_options::recursive);
  WriteTestFile(Source("install/data/versions.ini"),
                "[Records]\r\n005mul50=21~21\r\n005gra50=4~4\r\n");
  // With install_redirector_mac=Y a folder named after the course gets the program and the
  // course's settings.
  WriteTestFile(Source("install/MacOS/Nuvel"), "redirector program");
  WriteTestFile(Source("install/data/setup.ini"),
                ReadTestFile(Source("install/data/setup.ini")) + "install_redirector_mac=Y\r\n");
  ASSERT_EQ(CheckProdExistance(), 1);
  EstablishFamilies();
  Select("005MUL50", "FRA");
  ASSERT_EQ(InstallProducts(), 1) << Log();
  const std::string redirector = base::Paths().localNuvelDirectory + "005MUL50/";
  EXPECT_EQ(ReadTestFile(redirector + "Nuvel"), "redirector program");
  EXPECT_EQ(ReadTestFile(redirector + "Nuvel.Ini"),
            ReadTestFile(Source("install/data/005MUL50/nuvel.ini")));
  EXPECT_EQ(ReadTestFile(Launch("005GRA50/course.png")),
            ReadTestFile(Source("install/data/005MUL50/course.png")));
  // Both folders stay marked, and out of records.ini, until the whole course is in place.
  EXPECT_TRUE(fs::exists(Launch("005GRA50/.nuvel-installing")));
  EXPECT_EQ(Ini(Records(), "Records", "005mul50"), "");
  FinishInstalledCourses();
  EXPECT_FALSE(fs::exists(Launch("005MUL50/.nuvel-installing")));
  EXPECT_FALSE(fs::exists(Launch("005GRA50/.nuvel-installing")));
  EXPECT_EQ(Ini(Records(), "Records", "005mul50"), "21~21");
  EXPECT_EQ(Ini(Records(), "Records", "005gra50"), "4~4");

  ASSERT_EQ(ChangeVersionFile(), 0);
  const std::string original = ReadTestFile(Source("VERSION"));
  const std::string changed = ReadTestFile(Launch("005MUL50/VERSION"));
  EXPECT_EQ(changed.substr(0, changed.find("\r\n")), original.substr(0, original.find("\r\n")));
  EXPECT_THAT(changed, HasSubstr("\r\nPATH: " + source_ + "\r\n"));
  EXPECT_THAT(changed, ::testing::Not(HasSubstr("PATH: DATA")));
}

// ---- Archives ----------------------------------------------------------------------------------

// A placeholder under 20 bytes is replaced by the real file, found under the course's number or
// that of the course sharing its media; one of 20 bytes is real and stays. Each archive is
// expanded once per run, even for another part, and never deleted.
TEST_F(InstallTest, ArchivedContentGetsItsRealMediaAndIsExpandedOnce) {
  UseSource("archives");
  // The Setup did not come from this source: its archives are still not its to delete.
  base::Run().The_CD_ROM = root_.path("elsewhere");
  const std::string big(4096, 'R');
  WriteArchive(Source("Nuvel/courses_d/006MUL50_KID.EXE"),
               {{"M006KID0001.MP3", std::string(19, 'p')},
                {"M006KID0002.MP3", std::string(20, 'q')},
                {"M006KID0003.MP4", "placeholder"}});
  WriteTestFile(Source("Nuvel/audio_d_50/M006KID0001.MP3"), big);
  WriteTestFile(Source("Nuvel/audio_d_50/M006KID0002.MP3"), big);
  WriteTestFile(Source("Nuvel/audio_d_50/M062KID0003.MP4"), "shared " + big);
  Select("006MUL50", "FRA");
  InstallWithContent();
  EXPECT_EQ(ReadTestFile(Content("006MUL50/KID/M006KID0001.MP3")), big);
  EXPECT_EQ(ReadTestFile(Content("006MUL50/KID/M006KID0002.MP3")), std::string(20, 'q'));
  EXPECT_EQ(ReadTestFile(Content("006MUL50/KID/M006KID0003.MP4")), "shared " + big);
  EXPECT_TRUE(fs::exists(Source("Nuvel/courses_d/006MUL50_COM.EXE")));

  // A further copy of a part in the same run finds every archive handled.
  WriteTestFile(Content("006MUL50/COM/L0001.DAT"), "changed after the expansion");
  fs::remove(Content("006MUL50/disc.02"));
  ASSERT_EQ(Copy_It(0, Content("006MUL50"), 2), 0);
  EXPECT_EQ(ReadTestFile(Content("006MUL50/COM/L0001.DAT")), "changed after the expansion");
  EXPECT_EQ(ReadTestFile(Content("006MUL50/disc.02")), "X");
}

// A missing real media file or a truncated archive fails the content copy, and a course whose
// content failed is not marked as copied.
TEST_F(InstallTest, MissingRealMediaFileOrCorruptArchiveFailsTheCopy) {
  for (const char* error : {"ERROR: Copy_It3 ", "ERROR: Copy_It2 "}) {
    SCOPED_TRACE(error);
    TearDown();
    fs::remove_all(source_);
    fs::remove_all(apps_);
    SetUp();
    UseSource("archives");
    if (std::string_view(error).ends_with("3 ")) {
      WriteArchive(Source("Nuvel/courses_d/006MUL50_KID.EXE"), {{"M006KID0009.MP3", "tiny"}});
    } else {
      const std::string archive = Source("Nuvel/courses_d/006MUL50_ENG.EXE");
      const std::string bytes = ReadTestFile(archive);
      WriteTestFile(archive, bytes.substr(0, bytes.size() / 2));
    }
    Select("006MUL50", "FRA");
    ASSERT_EQ(InstallProducts(), 1);
    EXPECT_EQ(Copy_The_Content(), -1);
    EXPECT_EQ(base::Run().copyFailed, 1);
    EXPECT_THAT(Log(), HasSubstr(error));
    EXPECT_FALSE(fs::exists(Content("006MUL50/disc.01")));
  }
}

// ---- Installed copies and failures -------------------------------------------------------------

// An installed copy of a higher build, or in another language, is replaced only when confirmed.
TEST_F(InstallTest, InstalledCopyOfAHigherBuildOrAnotherLanguageAsksBeforeCopying) {
  UseSource("folders");
  Select("001MUL50", "FRA");
  ASSERT_EQ(InstallProducts(), 1);
  // Unfinished, the copy is nobody's choice yet and is replaced without a question.
  SetIni(Launch("001MUL50/nuvel.ini"), "nuvel.ini", "fix_level", "400");
  ASSERT_EQ(InstallProducts(), 1);
  EXPECT_EQ(PromptIds(), std::vector<std::string>{});
  FinishInstalledCourses();
  SetIni(Launch("001MUL50/nuvel.ini"), "nuvel.ini", "fix_level", "400");
  WriteTestFile(Launch("001MUL50/course.png"), "installed");
  ui_->answer = [](ui::Dialog& dialog) { return dialog.name == "prompt" ? 2 : 1; };
  EXPECT_EQ(InstallProducts(), 0);
  EXPECT_EQ(base::Run().fCancel, 1);
  EXPECT_EQ(PromptIds(), std::vector<std::string>{"MSG_FixLevelLower"});
  EXPECT_EQ(ReadTestFile(Launch("001MUL50/course.png")), "installed");

  ui_->answer = nullptr;
  ui_->shown.clear();
  base::Run().fCancel = 0;
  EXPECT_EQ(InstallProducts(), 1);
  EXPECT_EQ(PromptIds(), std::vector<std::string>{"MSG_FixLevelLower"});
  EXPECT_EQ(Ini(Launch("001MUL50/nuvel.ini"), "nuvel.ini", "fix_level"), "362");
  FinishInstalledCourses();

  Select("001MUL50", "JPN");
  ui_->answer = [](ui::Dialog& dialog) { return dialog.name == "prompt" ? 2 : 1; };
  ui_->shown.clear();
  EXPECT_EQ(InstallProducts(), 0);
  EXPECT_EQ(PromptIds(), std::vector<std::string>{"MSG_Message_AlreadyInstalled3"});
  EXPECT_EQ(Ini(Launch("001MUL50/nuvel.ini"), "nuvel.ini", "language"), "FRA");
}

TEST_F(InstallTest, UnwritableLaunchOrContentFolderOrShortDiskSpaceFailsTheCopy) {
  UseSource("folders");
  Select("001MUL50", "FRA");
  RefuseWritesBelow(Launch(""));
  EXPECT_EQ(InstallProducts(), 0);
  EXPECT_EQ(base::Run().copyFailed, 1);
  EXPECT_EQ(base::Run().num_of_products, 0);
  EXPECT_THAT(Log(), HasSubstr("ERROR: InstallProducts could not mark"));

  // The startup files are in, but the language cannot be written into the installed nuvel.ini:
  // the course would start in a language nobody chose.
  platform::ResetSyscalls();
  base::Run().copyFailed = 0;
  RefuseWritesBelow(Launch("001MUL50/.nuvel.ini."));
  EXPECT_EQ(InstallProducts(), 0);
  EXPECT_EQ(base::Run().copyFailed, 1);
  EXPECT_THAT(Log(), HasSubstr("could not record the language"));

  platform::ResetSyscalls();
  base::Run().copyFailed = 0;
  ASSERT_EQ(InstallProducts(), 1);
  Selection().fam[FamilyRowOf("001")].sizeMB = 1 << 30;  // a petabyte
  EXPECT_EQ(Copy_The_Content(), -1);
  EXPECT_EQ(base::Run().copyFailed, 1);
  EXPECT_THAT(Log(), HasSubstr("ERROR: Copy_The_Content EF1 (1073741824 1125899906842624)"));
  EXPECT_FALSE(fs::exists(Content("001MUL50")));

  base::Run().copyFailed = 0;
  Selection().fam[FamilyRowOf("001")].sizeMB = 1;
  RefuseWritesBelow(Content(""));
  EXPECT_EQ(Copy_The_Content(), -1);
  EXPECT_EQ(base::Run().copyFailed, 1);
  EXPECT_THAT(Log(), HasSubstr("ERROR: Copy_The_Content EF1\r\n"));
}

TEST_F(InstallTest, ForcedDownloadsFetchEachSubfolderOncePerRun) {
  UseSource("folders");
  fs::rename(Source("Nuvel/content"), Source("Nuvel/content_d"));
  Selection().force_download_courses = 1;
  base::Run().DownloadAddress = "http://server.example/base";
  std::vector<std::string> fetched;
  SetCourseDownload([&](const std::string& dest, const std::string& name, const std::string& url) {
    fetched.push_back(name + " " + url);
    nuvel::testing::WriteTestFile(dest + "/FROM_SERVER.TXT", name);
    return 0;
  });
  Select("010ENG50");
  ASSERT_EQ(InstallProducts(), 1);
  EXPECT_EQ(Copy_The_Content(), 0);
  EXPECT_EQ(fetched, (std::vector<std::string>{
                         "010ENG50_COM.EXE http://server.example/base/courses_d",
                         "010ENG50_ENG.EXE http://server.example/base/courses_d"}));
  EXPECT_EQ(nuvel::testing::ReadTestFile(Content("010ENG50_d/ENG/FROM_SERVER.TXT")),
            "010ENG50_ENG.EXE");
  EXPECT_EQ(Copy_The_Content(), 0);
  EXPECT_EQ(fetched.size(), 2u) << "an archive is fetched once per run";
  SetCourseDownload(nullptr);
  // A failed download failing the copy is the download scenarios' case.
}

// ---- The install dialog -------------------------------------------------------------------------

// The install dialog's lines; Exit stops before anything is copied.
TEST_F(InstallTest, InstallDialogLinesAndExit) {
  UseSource("folders");
  const int product = Select("001MUL50", "FRA");
  Install().nInstalling = 3;
  Install().nTotalToInstall = 5;
  Selection().szSupportLanguage = "FRA JPN";
  EXPECT_EQ(CallInstallDialog(product), kInstallItemInstall);
  Install().nInstalling = 1;
  Install().nTotalToInstall = 1;
  Selection().szSupportLanguage = "JPN";
  EXPECT_EQ(CallInstallDialog(product), kInstallItemInstall);

  const std::vector<ui::Dialog>& shown = ui_->shown;
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].item(kInstallItemOf)->text, "Course 3 of 5");
  EXPECT_EQ(shown[1].item(kInstallItemOf)->text, "");
  EXPECT_EQ(shown[0].item(kInstallItemCourse)->text, "English Foundations, Level 1");
  EXPECT_EQ(shown[0].item(kInstallItemBothLanguages)->text, "English / French");
  EXPECT_EQ(shown[0].item(kInstallItemBothLanguages)->value, 1);
  EXPECT_EQ(shown[1].item(kInstallItemBothLanguages)->text, "English / Support language");

  EXPECT_EQ(base::Run().fExit, 0);
  ui_->answer = [](ui::Dialog&) { return kInstallItemExit; };
  EXPECT_EQ(InstallProducts(), 0);
  EXPECT_EQ(base::Run().fExit, 1);
  EXPECT_FALSE(fs::exists(Launch("001MUL50")));
}

// forceeng=Y in a course's own settings installs it English-only without offering the choice.
TEST_F(InstallTest, ForcedEnglishOnlyIsInstalledWithoutTheChoice) {
  UseSource("folders");
  const int forced = Select("001MUL50", "FRA");
  WriteTestFile(Source("install/data/001MUL50/setup.ini"),
                "[nuvel]\r\nmultiLanguages=ENG FRA SPN GER JPN\r\nforceeng=Y\r\n");
  ASSERT_EQ(InstallProducts(), 1) << Log();
  EXPECT_EQ(Sources().prodList[static_cast<std::size_t>(forced)].englishOnly, 1);
  ASSERT_FALSE(ui_->shown.empty());
  EXPECT_FALSE(ui_->shown[0].item(kInstallItemBothLanguages)->visible);
}

// ---- Around the courses ------------------------------------------------------------------------

// The documents arrive in the installation folder; the speech technologies only when a course
// needs them.
TEST_F(InstallTest, DocumentsAndTechnologiesArrive) {
  UseSource("folders");
  EXPECT_EQ(Copy_Documents(), 0);
  EXPECT_EQ(ReadTestFile(apps_ + "/doc/Read Me.txt"), ReadTestFile(Source("doc/Read Me.txt")));
  EXPECT_EQ(Install().documentsAvailable, 1);

  EXPECT_EQ(Copy_Technologies(), 0);
  EXPECT_FALSE(fs::exists(apps_ + "/techm")) << "no course needs speech recognition yet";

  Select("001MUL50", "FRA");
  ASSERT_EQ(InstallProducts(), 1);
  ASSERT_EQ(Copy_Technologies(), 0);
  EXPECT_EQ(ReadTestFile(apps_ + "/techm/sr/libbabear.dylib"),
            ReadTestFile(Source("install/MacOS/babel/libbabear.dylib")));
}

// ---- Updating ----------------------------------------------------------------------------------

// A newer build on the source is copied over the installed course, keeping its choices; a failed
// copy ends the update without the closing message.
TEST_F(InstallTest, UpdateCopiesNewerBuildsKeepingTheChoicesAndStopsOnAFailedCopy) {
  UseSource("folders");
  Select("001MUL50", "FRA");
  InstallWithContent();
  Select("010ENG50");
  InstallWithContent();
  SetIni(Source("install/data/001MUL50/nuvel.ini"), "nuvel.ini", "fix_version", "13");
  SetIni(Source("Nuvel/content/001MUL50/NUVEL.INI"), "nuvel.ini", "fix_version", "13");
  WriteTestFile(Source("Nuvel/content/001MUL50/FRA/L0001.DAT"), "new lesson data");
  const std::string installed = Launch("001MUL50/nuvel.ini");
  SetIni(installed, "nuvel.ini", "english_only", "y");
  WriteTestFile(Launch("010ENG50/course.png"), "not touched: no newer build");
  ui_->shown.clear();

  RefuseWritesBelow(Launch(""));
  EXPECT_EQ(UpdateAllProducts(false), -1);
  EXPECT_EQ(base::Run().copyFailed, 1);
  EXPECT_TRUE(PromptIds().empty());

  platform::ResetSyscalls();
  base::Run().copyFailed = 0;
  ASSERT_EQ(UpdateAllProducts(false), 0) << Log();
  EXPECT_EQ(Ini(installed, "nuvel.ini", "fix_version"), "13");
  EXPECT_EQ(Ini(installed, "nuvel.ini", "english_only"), "y");
  EXPECT_EQ(Ini(installed, "nuvel.ini", "language"), "FRA");
  EXPECT_EQ(ReadTestFile(Content("001MUL50/FRA/L0001.DAT")), "new lesson data");
  EXPECT_EQ(ReadTestFile(Launch("010ENG50/course.png")), "not touched: no newer build");
  EXPECT_EQ(Ini(Records(), "Records", "001mul50"),
            Ini(Source("install/data/versions.ini"), "Records", "001mul50"));
  EXPECT_EQ(Ini(Records(), "Records", "rm_ver"), "4.9.2");
  EXPECT_EQ(Ini(Records(), "Records", "launcher_picture"), "Nuvel.jpg");
  EXPECT_TRUE(fs::exists(apps_ + "/Freshen.app/Contents/MacOS/Freshen"));
  EXPECT_EQ(PromptIds(), std::vector<std::string>{"MSG_Message_AllProductsFreshen"});

  // Forced, a course without a newer build is copied too; a lower build only when the user
  // accepts it.
  SetIni(Source("Nuvel/content/010ENG50/NUVEL.INI"), "nuvel.ini", "fix_level", "361");
  ui_->answer = [](ui::Dialog& dialog) { return dialog.id == "MSG_FixLevelLower" ? 2 : 1; };
  ui_->shown.clear();
  ASSERT_EQ(UpdateAllProducts(true), 0) << Log();
  EXPECT_EQ(ReadTestFile(Launch("010ENG50/course.png")), "not touched: no newer build");
  EXPECT_EQ(PromptIds(),
            (std::vector<std::string>{"MSG_FixLevelLower", "MSG_Message_AllProductsFreshen"}));
  ui_->answer = nullptr;
  ASSERT_EQ(UpdateAllProducts(true), 0) << Log();
  EXPECT_EQ(ReadTestFile(Launch("010ENG50/course.png")),
            ReadTestFile(Source("install/data/010ENG50/course.png")));
}

}  // namespace
}  // namespace nuvel::installer
