// Installing and uninstalling courses with the real binary: a generated source, an answer file
// and a private sysroot per test; the assertions look at the installed tree, records.ini, the log
// and the path the run took through its dialogs. With Control held, the update check offers every
// installed course again; answers that start a second installation decline that offer.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/copy.h"
#include "tests/scenario/scenario.h"

namespace nuvel::testing {
namespace {

namespace fs = std::filesystem;

// Family dialog rows: 006 Business Communication, 001 Foundations 1, 003 Foundations 3 (two
// versions), 010 Grammar in Practice (English only), 120 Placement Test.
constexpr int kRowBusiness = 0;
constexpr int kRowFoundations1 = 1;
constexpr int kRowFoundations3 = 2;
constexpr int kRowGrammar = 3;
constexpr int kRowPlacementTest = 4;
// The multi-language rows of 001MUL50: Japanese, French, Spanish, German, English, All (French
// is the second row of 006MUL50 too).
constexpr int kRowFrench = 1;
constexpr int kRowAllLanguages = 5;

// The family of `row` (with the support language of `language_row`), then `install` in the
// install dialog.
std::string Pick(int row, int language_row = -1, const std::string& install = "install -> 1") {
  return "family select " + std::to_string(row) + " -> 1\nproducts -> 1\n" +
         (language_row < 0 ? ""
                           : "multi-language select " + std::to_string(language_row) + " -> 1\n") +
         install + "\n";
}
const std::string kFoundations1French = Pick(kRowFoundations1, kRowFrench);
const std::string kGrammar = Pick(kRowGrammar);
const std::string kDeclineUpdate = "prompt:MSG_Message_AMoreRecentVersion -> 2\n";
const std::string kIncomplete = "prompt:MSG_Message_SetupIncomplete -> 1\ncontrol\n";

bool Contains(const std::vector<std::string>& items, const std::string& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

// Files below `folder` left by an unfinished copy or rewrite: the copy's busy-marked files and
// ".<name>.nuvel-partial", and the profile rewrite's ".<name>.<hex>.tmp".
std::vector<std::string> TemporaryFilesBelow(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    struct stat st {};
    bool busy = ::lstat(it->path().c_str(), &st) == 0 && st.st_mtim.tv_sec == platform::kBusyTime &&
                st.st_mtim.tv_nsec == 0;
    if (busy || name.ends_with(".nuvel-partial") ||
        (name.front() == '.' && name.ends_with(".tmp"))) {
      found.push_back(it->path().string());
    }
  }
  return found;
}

class InstallScenarioTest : public ScenarioTest {
 protected:
  void SetUp() override { MakeSource(); }

  std::string Records(const std::string& key) {
    return IniGet(Installed("records.ini"), "Records", key);
  }
  std::string SourceVersions(const std::string& key) {
    return IniGet(Source("install/data/versions.ini"), "Records", key);
  }

  // The content folder of an installed course: exactly the chosen subfolders with the source's
  // bytes, the files the copy adds, and the identification line of VERSION (product number,
  // folder code, version digits, content mark).
  void ExpectCompleteContent(const std::string& folder, const std::set<std::string>& subfolders) {
    SCOPED_TRACE("content/" + folder);
    const std::string installed = Installed("content/" + folder);
    const std::string source = Source("Nuvel/content/" + folder);
    std::set<std::string> expected = subfolders;
    expected.insert({"VERSION", "NUVEL.INI", "complete.txt", "disc.01"});
    EXPECT_EQ(Entries(installed), expected);
    for (const std::string& sub : subfolders) {
      auto files = FilesBelow(source + "/" + sub);
      ASSERT_FALSE(files.empty()) << sub;
      // Not EXPECT_EQ: a mismatch would print megabytes.
      EXPECT_TRUE(FilesBelow(installed + "/" + sub) == files) << sub << " differs from the source";
    }
    for (const char* file : {"NUVEL.INI", "complete.txt"}) {
      EXPECT_EQ(ReadTestFile(installed + "/" + file), ReadTestFile(source + "/" + file));
    }
    EXPECT_EQ(ReadTestFile(installed + "/disc.01"), "X");
    auto version = FileLines(installed + "/VERSION");
    ASSERT_GE(version.size(), 2u);
    const std::string& id = version[0];
    ASSERT_EQ(id.size(), 47u) << id;
    EXPECT_EQ(id.substr(0, 7), folder.substr(0, 3) + " " + folder.substr(3, 3)) << id;
    EXPECT_EQ((std::string{id[12], id[14]}), folder.substr(6, 2)) << id;
    EXPECT_EQ(id.substr(34, 2), "SC") << id;
    EXPECT_EQ(version[1], "PATH: DATA");
  }

  // The startup folder: a copy of the source's product folder, nuvel.ini amended.
  void ExpectStartupFiles(const std::string& folder) {
    SCOPED_TRACE("launch/" + folder);
    auto installed = FilesBelow(Installed("launch/" + folder));
    auto source = FilesBelow(Source("install/data/" + folder));
    ASSERT_EQ(installed.count("nuvel.ini"), 1u);
    EXPECT_NE(installed["nuvel.ini"].find(
                  "course_name=" + IniGet(Source("install/data/" + folder + "/nuvel.ini"),
                                          "nuvel.ini", "course_name")),
              std::string::npos);
    installed.erase("nuvel.ini");
    source.erase("nuvel.ini");
    EXPECT_TRUE(installed == source) << "the startup files differ from the source's";
  }

  // records.ini after an installation: the companion applications' versions (the part of the
  // versions.ini value after "~": the version of the installed bundle) and the course's own key.
  void ExpectRecordedVersions(const std::string& course_key) {
    for (const char* key : {"rm2_ver", "launcher2_ver", "analyze2_ver", "freshen2_ver"}) {
      std::string listed = SourceVersions(key);
      ASSERT_NE(listed.find('~'), std::string::npos) << key << "=" << listed;
      EXPECT_EQ(Records(key), listed.substr(listed.find('~') + 1)) << key;
    }
    EXPECT_EQ(Records("docIni_ver"), SourceVersions("docIni_ver"));
    ASSERT_NE(SourceVersions(course_key), "<missing>") << course_key;
    EXPECT_EQ(Records(course_key), SourceVersions(course_key)) << course_key;
  }
};

// ---- Full installations ----------------------------------------------------------------------

TEST_F(InstallScenarioTest, MultilingualCourseCopiesOnlyTheChosenLanguageWithItsVariants) {
  RunResult run = Setup(kStart + kFoundations1French + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;

  EXPECT_EQ(Path(), (std::vector<std::string>{
                        "welcome 1", "install-options 1", "family 1", "products 1",
                        "multi-language 1", "install 1", "prompt:MSG_Message_AboutToInstallPT 2",
                        "prompt:MSG_Message_InstallAnother 2", "prompt:MSG_Message_SetupComplete 1",
                        "prompt:MSG_HowToStartCourse2 1"}));
  // The install dialog names the chosen language.
  auto install = Dialogs("install");
  ASSERT_EQ(install.size(), 1u);
  EXPECT_NE(install[0].find("French"), std::string::npos) << install[0];

  ExpectStartupFiles("001MUL50");
  EXPECT_EQ(IniGet(Installed("launch/001MUL50/nuvel.ini"), "nuvel.ini", "language"), "FRA");
  // COM and ENG always, GEN and KID as variants, and French: not SPN, GER or JPN.
  ExpectCompleteContent("001MUL50", {"COM", "ENG", "GEN", "KID", "FRA"});
  EXPECT_EQ(Entries(Installed("content")), std::set<std::string>{"001MUL50"});
  EXPECT_EQ(Entries(Installed("launch")), std::set<std::string>{"001MUL50"});

  ExpectRecordedVersions("001mul50");
  // The course uses speech recognition: the technology is installed and its version recorded.
  EXPECT_TRUE(fs::is_regular_file(Installed("techm/sr/libbabear.dylib")));
  const std::string babel = SourceVersions("babel_ver_mac");
  EXPECT_EQ(Records("babel_ver_mac"), babel.substr(babel.find('~') + 1));
  EXPECT_NE(Log().find("Selected Discless"), std::string::npos);
  EXPECT_NE(Log().find("Installing: English Foundations, Level 1 (001MUL50) (FRA - French)"),
            std::string::npos);
  EXPECT_EQ(TemporaryFilesBelow(Installed()), std::vector<std::string>{});
}

TEST_F(InstallScenarioTest, AllLanguagesCopiesEveryListedLanguageAndEnglishOnlyIsRecorded) {
  // The last row stands for all support languages; the install dialog's English-only choice.
  RunResult run =
      Setup(kStart + Pick(kRowFoundations1, kRowAllLanguages, "install choose 5 -> 1") + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  ExpectCompleteContent("001MUL50", {"COM", "ENG", "GEN", "KID", "FRA", "SPN", "GER", "JPN"});
  const std::string ini = Installed("launch/001MUL50/nuvel.ini");
  EXPECT_EQ(IniGet(ini, "nuvel.ini", "language"), "MUL");
  EXPECT_EQ(IniGet(ini, "nuvel.ini", "english_only"), "y");
}

TEST_F(InstallScenarioTest, ChosenLanguageWithoutLessonsIsRecordedAsEnglish) {
  ASSERT_TRUE(fs::remove(Source("install/data/001MUL50/FRA/LESSONS.C")));
  RunResult run = Setup(kStart + kFoundations1French + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string ini = Installed("launch/001MUL50/nuvel.ini");
  EXPECT_EQ(IniGet(ini, "nuvel.ini", "language"), "ENG");
  // Only the recorded language changes: the content is still the French choice.
  ExpectCompleteContent("001MUL50", {"COM", "ENG", "GEN", "KID", "FRA"});
  // Install dialog not switched to English only: the flag keeps the source's value.
  EXPECT_EQ(IniGet(ini, "nuvel.ini", "english_only"),
            IniGet(Source("install/data/001MUL50/nuvel.ini"), "nuvel.ini", "english_only"));
}

TEST_F(InstallScenarioTest, ArchivedCourseIsExpandedWithItsRealMediaForBothParts) {
  // 006MUL50: content as one archive per subfolder in Nuvel/courses_d, media as placeholders
  // whose real files are in Nuvel/audio_d_50, two parts (discs).
  RunResult run = Setup(kStart + Pick(kRowBusiness, kRowFrench) + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_FALSE(fs::exists(Source("Nuvel/content/006MUL50/COM")));  // archives only
  const std::string content = Installed("content/006MUL50");
  EXPECT_EQ(Entries(content),
            (std::set<std::string>{"COM", "ENG", "GEN", "FRA", "VERSION", "NUVEL.INI",
                                   "complete.txt", "disc.01", "disc.02"}));
  EXPECT_EQ(ReadTestFile(content + "/disc.02"), "X");
  for (const char* sub : {"COM", "ENG", "GEN", "FRA"}) {
    EXPECT_TRUE(fs::exists(content + "/" + sub + "/LESSONS.C")) << sub;
  }
  // Every placeholder was replaced by its real file; nothing of another language came along.
  const std::string audio = Source("Nuvel/audio_d_50");
  int replaced = 0;
  for (const std::string& name : Entries(audio)) {
    if (name.rfind("M006", 0) != 0) continue;
    const std::string installed = content + "/" + name.substr(4, 3) + "/" + name;
    if (name.substr(4, 3) == "JPN") {
      EXPECT_FALSE(fs::exists(installed)) << name;
      continue;
    }
    std::string real = ReadTestFile(audio + "/" + name), got = ReadTestFile(installed);
    ASSERT_EQ(got.size(), real.size()) << name;
    EXPECT_TRUE(got == real) << name;
    ++replaced;
  }
  EXPECT_GT(replaced, 20);
  // A clip of exactly 20 bytes is real and stays; a streamed video has no real file and stays.
  EXPECT_EQ(fs::file_size(content + "/COM/M006COM_TICK.MP3"), 20u);
  EXPECT_EQ(ReadTestFile(content + "/ENG/V006ENG_INTRO.MOV"), "STREAMED\r\n");
  EXPECT_EQ(ReadTestFile(content + "/VERSION").substr(0, 7), "006 MUL");
  EXPECT_EQ(Records("006mul50"), SourceVersions("006mul50"));
}

TEST_F(InstallScenarioTest, DiscBasedInstallationCopiesStartupFilesButLeavesTheContent) {
  // Neither forced: the installation type is asked; the second choice (item 3) is disc-based.
  SetSourceOption("force_discless", "N");
  RunResult run = Setup(kStart + "radio choose 3 -> 1\n" + kGrammar + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  auto path = Path();
  ASSERT_GE(path.size(), 3u);
  EXPECT_EQ(path[2], "radio:MSG_Message_ChooseInstallationType 1");
  EXPECT_TRUE(Contains(path, "install 1"));
  ExpectStartupFiles("010ENG50");
  EXPECT_FALSE(fs::exists(Installed("content/010ENG50")));
  EXPECT_EQ(Records("010eng50"), SourceVersions("010eng50"));

  // Forced: nothing is asked. The family dialog shows no sizes, and the course installed
  // before as "Installed CD-Based".
  SetSourceOption("force_cd_based", "Y");
  run = Setup(kStart + kDeclineUpdate + kFoundations1French + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Dialogs("radio").empty());
  auto families = Dialogs("family");
  ASSERT_EQ(families.size(), 1u);
  EXPECT_EQ(
      JsonStringArray(families[0], "lines"),
      (std::vector<std::string>{
          "English for Business Communication\t\t", "English Foundations, Level 1\t\t",
          "English Foundations, Level 3\t\t", "English Grammar in Practice\t\tInstalled CD-Based",
          "English Placement Test\t\t"}));
  ExpectStartupFiles("001MUL50");
  EXPECT_FALSE(fs::exists(Installed("content/001MUL50")));
  EXPECT_NE(Log().find("Selected CD-Based"), std::string::npos);
  EXPECT_EQ(Log().find("Selected Discless"), std::string::npos);
}

// Courses chosen together are installed without the install dialog, ask for the support
// language once and take the newest version of their family, as the version dialog preselects. A
// placement test that is one of them is installed once, and not offered besides; the same when
// every course is installed.
TEST_F(InstallScenarioTest, CoursesInstalledTogetherTakeTheNewestVersionAndThePlacementTestOnce) {
  auto expect_placement_test_once = [&] {
    for (const std::string& step : Path()) {
      EXPECT_EQ(step.find("AboutToInstallPT"), std::string::npos) << step;
    }
    int installs = 0;
    for (const std::string& line : FileLines(Installed("Nuvel_log.txt"))) {
      installs += line.find("Installing: ") != std::string::npos &&
                  line.find("(120MUL50)") != std::string::npos;
    }
    EXPECT_EQ(installs, 1) << Log();
  };
  // Limited to two support languages so that the dialog's rows are known: French, Spanish.
  SetSourceOption("force_limit_multiLanguages", "FRA SPN");
  RunResult run = Setup(kStart + "family select " + std::to_string(kRowFoundations3) + "," +
                        std::to_string(kRowGrammar) + "," + std::to_string(kRowPlacementTest) +
                        " -> 1\nmulti-language select 1 -> 1\n" + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  auto path = Path();
  EXPECT_EQ(std::count(path.begin(), path.end(), "multi-language 1"), 1) << run.output;
  EXPECT_TRUE(Dialogs("install").empty());
  EXPECT_EQ(Entries(Installed("content")),
            (std::set<std::string>{"003MUL50", "010ENG50", "120MUL50"}));
  EXPECT_EQ(IniGet(Installed("launch/003MUL50/nuvel.ini"), "nuvel.ini", "language"), "SPN");
  ExpectCompleteContent("003MUL50", {"COM", "ENG", "SPN"});
  ExpectCompleteContent("010ENG50", {"COM", "ENG"});
  expect_placement_test_once();

  fs::remove_all(Installed());
  SetSourceOption("force_auto_install_all_courses", "Y");
  run =
      Setup("prompt:MSG_Message_AboutToInstallPT -> 1\n" + kStart + "multi-language -> 1\n" + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Entries(Installed("launch")),
            (std::set<std::string>{"001MUL50", "003MUL50", "006MUL50", "010ENG50", "120MUL50"}));
  expect_placement_test_once();
}


TEST_F(InstallScenarioTest, PlacementTestIsOfferedOnceAfterACourseAndInstalledWhenAccepted) {
  RunResult run = Setup("prompt:MSG_Message_AboutToInstallPT -> 1\n" + kStart + kGrammar +
                        "install -> 1\n" + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  auto path = Path();
  EXPECT_EQ(std::count(path.begin(), path.end(), "prompt:MSG_Message_AboutToInstallPT 1"), 1);
  EXPECT_EQ(std::count(path.begin(), path.end(), "install 1"), 2) << "course, then the test";
  ExpectStartupFiles("010ENG50");
  ExpectStartupFiles("120MUL50");
  EXPECT_TRUE(fs::exists(Installed("content/120MUL50/complete.txt")));
}

// The same build and language is copied again without asking, and a link planted in place of a
// course folder gives way to a real folder: nothing is written where it pointed. Over a later
// build than the source's 362 the user is asked, and Cancel copies nothing.
TEST_F(InstallScenarioTest, ReinstallCopiesAgainButOverAHigherBuildAsksFirst) {
  ASSERT_EQ(Setup(kStart + kFoundations1French + kEnd).status, 0);
  const std::string reinstall = kStart + kDeclineUpdate + kFoundations1French;
  // Taken away so that any copy of the course shows.
  auto take_away = [&] {
    ASSERT_TRUE(fs::remove(Installed("launch/001MUL50/course.png")));
    ASSERT_TRUE(fs::remove(Installed("content/001MUL50/FRA/LESSONS.C")));
  };
  ASSERT_NO_FATAL_FAILURE(take_away());
  const std::string outside = sysroot_.path("outside");
  fs::create_directories(outside);
  fs::remove_all(Installed("content/001MUL50/COM"));
  fs::create_directory_symlink(outside, Installed("content/001MUL50/COM"));
  RunResult run = Setup(reinstall + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  for (const std::string& step : Path()) {
    EXPECT_EQ(step.find("MSG_FixLevelLower"), std::string::npos);
    EXPECT_EQ(step.find("MSG_Message_AlreadyInstalled3"), std::string::npos);
  }
  EXPECT_EQ(Entries(outside), std::set<std::string>{}) << "course files were written outside";
  EXPECT_FALSE(fs::is_symlink(Installed("content/001MUL50/COM")));
  ExpectStartupFiles("001MUL50");
  ExpectCompleteContent("001MUL50", {"COM", "ENG", "GEN", "KID", "FRA"});

  IniSet(Installed("launch/001MUL50/nuvel.ini"), "nuvel.ini", "fix_level", "363");
  IniSet(Installed("content/001MUL50/NUVEL.INI"), "nuvel.ini", "fix_level", "363");
  ASSERT_NO_FATAL_FAILURE(take_away());
  run = Setup("prompt:MSG_Message_PreviouslyInstalledUsing -> 1\n" + reinstall +
              "prompt:MSG_FixLevelLower -> 2\n" + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  auto path = Path();
  auto dialog = std::find(path.begin(), path.end(), "install 1");
  ASSERT_NE(dialog, path.end());
  ASSERT_NE(dialog + 1, path.end());
  EXPECT_EQ(*(dialog + 1), "prompt:MSG_FixLevelLower 2");
  EXPECT_EQ(IniGet(Installed("launch/001MUL50/nuvel.ini"), "nuvel.ini", "fix_level"), "363");
  EXPECT_EQ(IniGet(Installed("content/001MUL50/NUVEL.INI"), "nuvel.ini", "fix_level"), "363");
  EXPECT_FALSE(fs::exists(Installed("launch/001MUL50/course.png")));
  EXPECT_FALSE(fs::exists(Installed("content/001MUL50/FRA/LESSONS.C")));
}

// A link planted in the installation in place of a course folder is not followed by the next

// A course that must be local goes whole into the local system folder (<sysroot>/opt/Nuvel),
// content included, while the others go to the installation folder chosen (<sysroot>/srv/Nuvel).
TEST_F(InstallScenarioTest, ForcedLocalCourseIsInstalledWithItsContentInTheLocalFolder) {
  IniSet(Source("install/data/010ENG50/nuvel.ini"), "nuvel.ini", "force_local", "Y");
  WriteTestFile(sysroot_.path("srv/.keep"), "");
  RunResult run = Setup("welcome -> 1\ninstall-options -> 5\nfolder:MSG_InstallationDirectory -> " +
                        sysroot_.path("srv") + "\ninstall-options -> 1\n" + kGrammar + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  ExpectStartupFiles("010ENG50");
  ExpectCompleteContent("010ENG50", {"COM", "ENG"});
  EXPECT_FALSE(fs::exists(sysroot_.path("srv/Nuvel/launch/010ENG50")));
  EXPECT_FALSE(fs::exists(sysroot_.path("srv/Nuvel/content/010ENG50")));
}

// ---- Cancel and failures -----------------------------------------------------------------------

TEST_F(InstallScenarioTest, CancelInEachDialogGoesBackAndInstallsNothing) {
  const std::string back = "install-options -> 2\nwelcome -> 2\ncontrol\n";
  const struct {
    std::string answers;
    std::vector<std::string> path;
  } cases[] = {
      {"welcome -> 1\n" + back, {"welcome 1", "install-options 2", "welcome 2"}},
      {kStart + "family -> 2\n" + back,
       {"welcome 1", "install-options 1", "family 2", "install-options 2", "welcome 2"}},
      // 003 comes in two versions, so its version dialog is shown.
      {kStart + "family select " + std::to_string(kRowFoundations3) +
           " -> 1\nversion -> 2\nfamily -> 2\n" + back,
       {"welcome 1", "install-options 1", "family 1", "version 2", "family 2", "install-options 2",
        "welcome 2"}},
      // Last, as it asks for the installation type from here on.
      {kStart + "radio -> 6\nwelcome -> 2\ncontrol\n",
       {"welcome 1", "install-options 1", "radio:MSG_Message_ChooseInstallationType 6",
        "welcome 2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers);
    if (c.path[2].rfind("radio", 0) == 0) SetSourceOption("force_discless", "N");
    RunResult run = Setup(c.answers);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(Path(), c.path);
  }
  EXPECT_EQ(Entries(Installed("launch")), std::set<std::string>{});
}

TEST_F(InstallScenarioTest, CancelInTheInstallDialogCopiesNothingOfThatCourse) {
  RunResult run = Setup(kStart + Pick(kRowGrammar, -1, "install -> 2") + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  auto path = Path();
  EXPECT_EQ(std::count(path.begin(), path.end(), "install 2"), 1);
  EXPECT_EQ(Dialogs("install").size(), 1u);
  EXPECT_EQ(Entries(Installed("launch")), std::set<std::string>{});
  EXPECT_EQ(Entries(Installed("content")), std::set<std::string>{});
  EXPECT_EQ(Records("010eng50"), "<missing>");
  EXPECT_EQ(Log().find("Installing: "), std::string::npos);
}

// A file where the course's folder must go cannot be replaced by a folder, even by root.
TEST_F(InstallScenarioTest, FolderThatCannotBeCreatedEndsTheSetupIncomplete) {
  for (const char* blocked : {"launch/001MUL50", "content/001MUL50"}) {
    SCOPED_TRACE(blocked);
    fs::remove_all(Installed());
    WriteTestFile(Installed(blocked), "in the way\n");
    RunResult run = Setup(kStart + kFoundations1French + kIncomplete);
    EXPECT_EQ(run.status, 1) << run.output;
    auto path = Path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.back(), "prompt:MSG_Message_SetupIncomplete 1");
    EXPECT_FALSE(Contains(path, "prompt:MSG_Message_InstallAnother 2"));
    EXPECT_FALSE(Contains(path, "prompt:MSG_Message_SetupComplete 1"));
    EXPECT_FALSE(fs::is_directory(Installed("content/001MUL50")));
    EXPECT_NE(Log().find("ERROR: "), std::string::npos);
  }
  // The content copy follows the startup files, so only the second case got that far.
  EXPECT_NE(Log().find("ERROR: Copy_The_Content"), std::string::npos);
}


// ---- Uninstalling ----------------------------------------------------------------------------

class UninstallScenarioTest : public InstallScenarioTest {
 protected:
  std::string Trash(const std::string& relative) {
    return sysroot_.path("home/.local/share/Trash/" + relative);
  }
  // Installs 010ENG50 into <sysroot>/srv/Nuvel, chosen with Browse in Install Options, so that
  // the installation and the system folder (<sysroot>/opt/Nuvel) are two folders.
  void InstallIntoSrv() {
    WriteTestFile(sysroot_.path("srv/.keep"), "");
    RunResult run =
        Setup("welcome -> 1\ninstall-options -> 5\nfolder:MSG_InstallationDirectory -> " +
              sysroot_.path("srv") + "\ninstall-options -> 1\n" + kGrammar + kEnd);
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(fs::is_directory(sysroot_.path("srv/Nuvel/content/010ENG50")));
    ASSERT_TRUE(fs::exists(Installed("records.ini")));
  }
  // Installs 001MUL50 (French) and then 010ENG50 in one run.
  void InstallTwoCourses() {
    RunResult run =
        Setup(kStart + kFoundations1French + "prompt:MSG_Message_InstallAnother -> 1\n" +
              kDeclineUpdate + kGrammar + kEnd);
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(fs::is_directory(Installed("launch/001MUL50")));
  }
  // The whole installation gone, the system folder in the Trash.
  void ExpectEverythingRemoved() {
    EXPECT_FALSE(fs::exists(sysroot_.path("srv/Nuvel")));
    EXPECT_FALSE(fs::exists(Installed()));
    EXPECT_TRUE(fs::exists(Trash("files/Nuvel/records.ini")));
    const std::string info = ReadTestFile(Trash("info/Nuvel.trashinfo"));
    EXPECT_NE(info.find("Path=" + Installed()), std::string::npos) << info;
  }
};

// ---- Settings a later run must find --------------------------------------------------------

// A network installation keeps its records.ini in its own folder; the system folder's only
// points there, and the next run must follow it.
TEST_F(UninstallScenarioTest, NetworkInstallationIsListedAgainByTheNextRun) {
  const std::string srv = sysroot_.path("srv");
  const Env network = {{"NUVEL_NETWORK_PATHS", srv}};
  WriteTestFile(srv + "/.keep", "");
  RunResult run = Setup("welcome -> 1\ninstall-options -> 5\nfolder:MSG_InstallationDirectory -> " +
                            srv + "\nprompt:MSG_ConfirmStudentAccessToPath -> 1\n"
                            "install-options -> 1\n" + kGrammar + kEnd + "prompt:* -> 1\n",
                        network);
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(srv + "/Nuvel/content/010ENG50"));
  ASSERT_EQ(IniGet(srv + "/Nuvel/records.ini", "Records", "launch_path_local"), srv + "/Nuvel");

  run = Setup("welcome -> 4\nuninstall -> 1\nwelcome -> 2\n", network);
  ASSERT_EQ(run.status, 0) << run.output;
  auto shown = Dialogs("uninstall");
  ASSERT_FALSE(shown.empty());
  EXPECT_NE(shown[0].find("English Grammar in Practice"), std::string::npos) << shown[0];
  const std::string log = Log();
  EXPECT_NE(log.find("NumOfProducts: 1", log.rfind("Starting Nuvel Setup Application")),
            std::string::npos);
}

// The records folder chosen in Advanced is stored, shown and used by the next run; choosing
// the installation's own records again forgets it.
TEST_F(InstallScenarioTest, RecordsFolderChosenInAdvancedLastsBeyondTheRun) {
  const std::string records = sysroot_.path("srv/records");
  fs::create_directories(records);
  const std::string advanced = "welcome -> 1\ninstall-options -> 3\nadvanced -> 10\n";
  RunResult run = Setup(advanced + "folder:MSG_RecordsDirectory -> " + records +
                        "\nadvanced -> 1\ninstall-options -> 1\n" + kGrammar + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(fs::is_directory(records + "/data"));
  EXPECT_EQ(Records("records_folder"), records);

  run = Setup("welcome -> 1\ninstall-options -> 3\nadvanced -> 2\ninstall-options -> 2\n"
              "welcome -> 2\n");
  ASSERT_EQ(run.status, 0) << run.output;
  auto shown = Dialogs("advanced");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find(records), std::string::npos) << shown[0];
  EXPECT_NE(Log().find("Records Path     (read)  =" + records + "/data"), std::string::npos);

  run = Setup(advanced + "prompt:MSG_Message_SureWantToContinue -> 1\n" +
              "folder:MSG_RecordsDirectory -> " + Installed() +
              "\nadvanced -> 1\ninstall-options -> 1\n" + kDeclineUpdate + kGrammar + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Records("records_folder"), "<missing>");
}

// The second course, English only, is chosen from the family dialog again after the first is
// installed and asks for no language: neither a language dialog nor a language choice in its
// install dialog. Uninstalling one course then removes its two folders only.
TEST_F(UninstallScenarioTest, SecondCourseInTheSameRunAndUninstallingOneRemovesItsFoldersOnly) {
  InstallTwoCourses();
  auto path = Path();
  auto another = std::find(path.begin(), path.end(), "prompt:MSG_Message_InstallAnother 1");
  ASSERT_NE(another, path.end());
  EXPECT_EQ(std::count(path.begin(), path.end(), "family 1"), 2);
  EXPECT_EQ(std::count(path.begin(), path.end(), "install 1"), 2);
  EXPECT_EQ(std::count(path.begin(), path.end(), "multi-language 1"), 1);
  EXPECT_NE(std::find(another, path.end(), "family 1"), path.end());
  EXPECT_EQ(path.back(), "prompt:MSG_HowToStartCourse2 1");
  auto install = Dialogs("install");
  ASSERT_EQ(install.size(), 2u);
  EXPECT_EQ(install[1].find("\"radio\""), std::string::npos) << install[1];
  ExpectStartupFiles("001MUL50");
  ExpectCompleteContent("001MUL50", {"COM", "ENG", "GEN", "KID", "FRA"});
  EXPECT_EQ(Records("001mul50"), SourceVersions("001mul50"));
  ExpectRecordedVersions("010eng50");

  RunResult run = Setup("welcome -> 4\nuninstall select 0 -> 2\nuninstall -> 1\nwelcome -> 2\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Path(),
            (std::vector<std::string>{"welcome 4", "uninstall 2", "uninstall 1", "welcome 2"}));
  // Sorted by display line: Foundations first; after removing it, Grammar alone is listed.
  auto shown = Dialogs("uninstall");
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_NE(shown[0].find("English Foundations, Level 1"), std::string::npos);
  EXPECT_EQ(shown[1].find("English Foundations, Level 1"), std::string::npos);
  EXPECT_NE(shown[1].find("English Grammar in Practice"), std::string::npos);

  EXPECT_FALSE(fs::exists(Installed("launch/001MUL50")));
  EXPECT_FALSE(fs::exists(Installed("content/001MUL50")));
  ExpectStartupFiles("010ENG50");
  ExpectCompleteContent("010ENG50", {"COM", "ENG"});
  EXPECT_TRUE(fs::exists(Installed("records.ini")));
  EXPECT_TRUE(fs::exists(Installed("Launcher.app")));
}

TEST_F(UninstallScenarioTest, UninstallingTheLastCourseAsksBeforeRemovingTheWholeInstallation) {
  fs::create_directories(sysroot_.path("home/Desktop"));
  InstallIntoSrv();
  ASSERT_TRUE(fs::exists(sysroot_.path("home/Desktop/Student.desktop")));
  const std::string settings = ReadTestFile(Installed("records.ini"));

  // Cancel: the course is gone, everything else stays, and the uninstall dialog is back.
  RunResult run = Setup(
      "welcome -> 4\nuninstall select 0 -> 2\nprompt:MSG_Message_UninstallAllServer -> 2\n"
      "uninstall -> 1\nwelcome -> 2\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Path(), (std::vector<std::string>{"welcome 4", "uninstall 2",
                                              "prompt:MSG_Message_UninstallAllServer 2",
                                              "uninstall 1", "welcome 2"}));
  EXPECT_FALSE(fs::exists(sysroot_.path("srv/Nuvel/launch/010ENG50")));
  EXPECT_TRUE(fs::is_directory(sysroot_.path("srv/Nuvel/Launcher.app")));
  EXPECT_TRUE(fs::is_directory(sysroot_.path("srv/Nuvel/support")));
  EXPECT_EQ(ReadTestFile(Installed("records.ini")), settings);
  EXPECT_TRUE(fs::exists(sysroot_.path("home/Desktop/Student.desktop")));

  // Confirmed: the whole installation goes.
  fs::remove_all(Installed());
  InstallIntoSrv();
  run = Setup(
      "welcome -> 4\nuninstall select 0 -> 2\nprompt:MSG_Message_UninstallAllServer -> 1\n"
      "prompt:Complete! -> 1\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Path(), (std::vector<std::string>{"welcome 4", "uninstall 2",
                                              "prompt:MSG_Message_UninstallAllServer 1",
                                              "prompt:Complete! 1"}));
  ExpectEverythingRemoved();
  // Its launcher would start nothing any more.
  EXPECT_FALSE(fs::exists(sysroot_.path("home/Desktop/Student.desktop")));
}

// Uninstall All asks first; Cancel returns to the uninstall dialog. Installation and system folder
// are one folder here: deleted, nothing else touched.
TEST_F(UninstallScenarioTest, UninstallAllOfTheDefaultInstallationRemovesTheSystemFolder) {
  InstallTwoCourses();
  RunResult run = Setup(
      "welcome -> 4\nuninstall -> 5\nprompt:MSG_Message_UninstallAllServer -> 2\n"
      "uninstall -> 5\nprompt:MSG_Message_UninstallAllServer -> 1\nprompt:Complete! -> 1\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Path(),
            (std::vector<std::string>{
                "welcome 4", "uninstall 5", "prompt:MSG_Message_UninstallAllServer 2",
                "uninstall 5", "prompt:MSG_Message_UninstallAllServer 1", "prompt:Complete! 1"}));
  auto shown = Dialogs("prompt");
  ASSERT_FALSE(shown.empty());
  EXPECT_NE(shown[0].find(Installed()), std::string::npos) << shown[0];
  EXPECT_FALSE(fs::exists(Installed()));
  EXPECT_TRUE(fs::is_directory(Source("install/data/001MUL50")));
  EXPECT_TRUE(fs::is_directory(sysroot_.path("home")));
}

// Foreign files in every folder the removal touches: the installation folder and its shared
// subfolders, and a records folder chosen in Advanced that also holds a folder named "content".
TEST_F(UninstallScenarioTest, UninstallAllLeavesExactlyTheFilesItDidNotCreate) {
  const std::string share = sysroot_.path("srv/share");
  const std::string choose_share = "advanced -> 10\nfolder:MSG_RecordsDirectory -> " + share + "\n";
  WriteTestFile(share + "/minutes.txt", "staff meeting\n");
  WriteTestFile(share + "/content/plan.txt", "not a course\n");
  WriteTestFile(sysroot_.path("srv/.keep"), "");
  RunResult run = Setup("welcome -> 1\ninstall-options -> 5\nfolder:MSG_InstallationDirectory -> " +
                        sysroot_.path("srv") + "\ninstall-options -> 3\n" + choose_share +
                        "advanced set 8=\"pass12\" set 9=\"pass12\" -> 1\ninstall-options -> 1\n" +
                        kGrammar + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(share + "/data"));
  WriteTestFile(share + "/data/class1.dat", "records\n");
  const std::string installation = sysroot_.path("srv/Nuvel");
  const std::set<std::string> foreign_installation = {"notes.txt", "content/teacher-plan.txt",
                                                      "support/school-logo.png",
                                                      "launch/Old Courses/list.txt"};
  for (const std::string& file : foreign_installation)
    WriteTestFile(installation + "/" + file, "x");

  // The records folder is chosen again in this run, then Cancel leads back to Welcome.
  run = Setup("welcome -> 1\ninstall-options -> 3\nprompt:MSG_Message_SureWantToContinue -> 1\n" +
              choose_share + "advanced -> 1\ninstall-options -> 1\n" + kDeclineUpdate +
              "family -> 2\ninstall-options -> 2\nwelcome -> 4\nuninstall -> 5\n"
              "prompt:MSG_Message_UninstallAllServer -> 1\nprompt:Complete! -> 1\ncontrol\n");
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_FALSE(Path().empty());
  EXPECT_EQ(Path().back(), "prompt:Complete! 1");

  // The confirmation names every folder it touches.
  auto prompts = Dialogs("prompt");
  auto confirmation = std::find_if(prompts.begin(), prompts.end(), [](const std::string& line) {
    return JsonField(line, "id") == "MSG_Message_UninstallAllServer";
  });
  ASSERT_NE(confirmation, prompts.end());
  for (const std::string& folder : {installation, share, Installed()}) {
    EXPECT_NE(confirmation->find(folder), std::string::npos) << folder << "\n" << *confirmation;
  }

  // Exactly the foreign files stay, with the folders that hold them and nothing else.
  auto below = [](const std::string& folder) {
    std::set<std::string> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      found.insert(it->path().lexically_relative(folder).string());
    }
    return found;
  };
  std::set<std::string> expected = foreign_installation;
  expected.insert({"content", "support", "launch", "launch/Old Courses"});
  EXPECT_EQ(below(installation), expected);
  EXPECT_EQ(below(share), (std::set<std::string>{"minutes.txt", "content", "content/plan.txt"}));
  EXPECT_FALSE(fs::exists(Installed()));

  // What was left is shown at the end and logged.
  const std::string complete = prompts.back();
  const std::string log = ReadTestFile(Trash("files/Nuvel/Nuvel_log.txt"));
  for (const std::string& left : {installation + "/notes.txt", installation + "/launch/Old Courses",
                                  share + "/minutes.txt", share + "/content"}) {
    EXPECT_NE(complete.find(left), std::string::npos) << left << "\n" << complete;
    EXPECT_NE(log.find("Left in place (not made by Setup): " + left), std::string::npos) << left;
  }
}

// ---- Modes, loops ------------------------------------------------------------------------------

// Permission bits of a path.
unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST_F(InstallScenarioTest, ReadOnlySourceGivesAWritableTreeAndTheFolderKeepsItsMode) {
  // A source as a read-only disc shows it: folders r-x, files r--. The installation folder was
  // made writable for every user beforehand.
  std::vector<fs::path> sourcePaths;
  for (const auto& entry : fs::recursive_directory_iterator(Source())) {
    sourcePaths.push_back(entry.path());
  }
  for (const fs::path& path : sourcePaths) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  fs::create_directories(Installed());
  fs::permissions(Installed(), fs::perms::all);

  RunResult run = Setup(kStart + kFoundations1French + kEnd);
  for (const fs::path& path : sourcePaths) {
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  }
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(ModeOf(Installed()), 0777u) << "the copy of the source's folder stamped its mode";
  std::vector<std::string> readOnly;
  for (const char* folder : {"launch/001MUL50", "content/001MUL50", "support"}) {
    for (const auto& entry : fs::recursive_directory_iterator(Installed(folder))) {
      if (!(ModeOf(entry.path()) & S_IWUSR)) readOnly.push_back(entry.path());
    }
  }
  EXPECT_EQ(readOnly, std::vector<std::string>{});
  EXPECT_EQ(IniGet(Installed("launch/001MUL50/nuvel.ini"), "nuvel.ini", "language"), "FRA");
}

TEST_F(InstallScenarioTest, FlowThatWouldComeBackWithoutAnyDialogEndsWithAMessage) {
  // Install Options is skipped, and without Control the installation never goes past it.
  SetSourceOption("force_TCPIP", "N");
  SetSourceOption("askrecords", "no");
  RunResult run = Setup("welcome -> 1\nprompt:MSG_Message_SetupIncomplete -> 1\n");
  EXPECT_EQ(run.status, 1) << run.output;
  auto shown = Dialogs("prompt");
  ASSERT_EQ(shown.size(), 1u) << run.output;
  EXPECT_NE(JsonField(shown[0], "text").find("skips the Install Options dialog"), std::string::npos)
      << shown[0];
}

// ---- An installation ended in the middle and run again -----------------------------------------

class InterruptedInstallTest : public InstallScenarioTest {
 protected:
  const std::string answers_ = kStart + kDeclineUpdate + kFoundations1French + kEnd;
  const std::set<std::string> chosen_ = {"COM", "ENG", "GEN", "KID", "FRA"};

  void SetUp() override {
    // Big enough that the content copy of 001MUL50 takes a noticeable time.
    MakeSource({"--content-mb", "300", "--content-as", "folders"});
    for (const std::string& sub : chosen_) {
      total_ += FilesBelow(Source("Nuvel/content/001MUL50/" + sub), false).size();
    }
  }

  std::string Content() const { return Installed("content/001MUL50"); }

  // Files of the course's content already copied in full (an unfinished one has its
  // temporary name).
  std::size_t Copied() const {
    std::size_t copied = 0;
    for (const auto& [file, unread] : FilesBelow(Content(), false)) {
      copied += file.find(".nuvel-partial") == std::string::npos;
    }
    return copied;
  }

  struct Ended {
    bool caught = false;  // the signal was sent in the middle of the content copy
    int status = 0;       // as waitpid reports it
    double seconds_after_signal = 0;
  };

  // Runs the same installation as Setup() would, in the background, and sends `signal` once
  // `fraction` of the course's content files are copied.
  Ended RunAndSignal(int signal, double fraction) {
    const std::string output = sysroot_.path("background-output.txt");
    pid_t pid = StartSetup(answers_, output);
    Ended result;
    if (pid <= 0) return result;
    bool ended = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto signalled = deadline;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Copied() >= static_cast<std::size_t>(static_cast<double>(total_) * fraction) &&
          !fs::exists(Content() + "/complete.txt")) {
        ::kill(pid, signal);
        signalled = std::chrono::steady_clock::now();
        result.caught = true;
        break;
      }
      if ((ended = ::waitpid(pid, &result.status, WNOHANG) == pid)) break;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (!ended) {
      if (!result.caught) ::kill(pid, SIGKILL);
      ::waitpid(pid, &result.status, 0);
    }
    result.seconds_after_signal =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
    if (!result.caught) ADD_FAILURE() << "the content copy was not caught; output:\n"
                                      << ReadTestFile(output);
    return result;
  }

  // Runs the installation again with the same answers: it must end as an uninterrupted one.
  void ExpectCompletedByANewRun() {
    RunResult run = Setup(answers_);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(Path(), "install 1"));
    ExpectStartupFiles("001MUL50");
    ExpectCompleteContent("001MUL50", chosen_);
    EXPECT_FALSE(fs::exists(Installed("launch/001MUL50/.nuvel-installing")));
    EXPECT_EQ(TemporaryFilesBelow(Installed()), std::vector<std::string>{});
    // records.ini is whole and readable.
    EXPECT_EQ(Records("launch_path_local"), Installed());
    ExpectRecordedVersions("001mul50");
  }

  std::size_t total_ = 0;
};

// A kill, or a quit signal, at any moment of the copy ends the run (a quit signal at once, with
// 128 + the signal), and the course is not reported as installed: not in records.ini, not among
// the installed courses of the next run, which installs it in full when asked to.
TEST_F(InterruptedInstallTest, KillOrQuitSignalAtManyMomentsEndsTheRunAndTheNextRunCompletesIt) {
  ASSERT_GT(total_, 10u);
  const std::pair<int, double> moments[] = {
      {SIGKILL, 0.33}, {SIGTERM, 0.02}, {SIGTERM, 0.1}, {SIGINT, 0.2},  {SIGTERM, 0.3},
      {SIGHUP, 0.45},  {SIGTERM, 0.55}, {SIGTERM, 0.7}, {SIGINT, 0.8}, {SIGTERM, 0.9},
      {SIGTERM, 0.98}};
  for (auto [signal, fraction] : moments) {
    SCOPED_TRACE("signal " + std::to_string(signal) + " at " + std::to_string(fraction));
    fs::remove_all(Installed());
    Ended ended = RunAndSignal(signal, fraction);
    ASSERT_TRUE(ended.caught);
    if (signal == SIGKILL) {
      ASSERT_TRUE(WIFSIGNALED(ended.status));
      ASSERT_LT(Copied(), total_);
      // Whether or not the kill hit a file being written, files are left as an interrupted copy
      // leaves them: a partial file beside a complete one, a new file cut short under its name.
      WriteTestFile(Content() + "/COM/.L0001.DAT.nuvel-partial", "cut sh");
      const std::string cut = Content() + "/COM/L0002.DAT";
      WriteTestFile(cut, "cut sh");
      const struct timespec busy[2] = {{platform::kBusyTime, 0}, {platform::kBusyTime, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, cut.c_str(), busy, 0), 0);
    } else {
      ASSERT_TRUE(WIFEXITED(ended.status));
      EXPECT_EQ(WEXITSTATUS(ended.status), 128 + signal);
      // Generous against a loaded machine; a run that ignores the signal takes far longer.
      EXPECT_LT(ended.seconds_after_signal, 3.0);
    }
    EXPECT_FALSE(fs::exists(Content() + "/complete.txt"));
    EXPECT_EQ(Records("001mul50"), "<missing>");
    EXPECT_TRUE(fs::exists(Installed("launch/001MUL50/.nuvel-installing")));

    ExpectCompletedByANewRun();
    if (HasFatalFailure()) return;
    EXPECT_NE(Log().find("001MUL50 was not installed completely"), std::string::npos);
  }
}

}  // namespace
}  // namespace nuvel::testing