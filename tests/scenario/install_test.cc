// Installing and uninstalling courses with the real binary: a generated source, an answer file
// and a private sysroot per test; the assertions look at the installed tree under
// <sysroot>/opt/Nuvel, records.ini, the log and the transcript of the dialogs shown.
//
// The sample source asks for the Control key to pass Install Options (force_TCPIP=N), so every
// installing answer file ends with "control". With Control held, the update check offers every
// installed course again; answers that start a second installation decline that offer.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/copy.h"
#include "tests/scenario/scenario.h"
#include "tests/support/test_env.h"

extern char** environ;

namespace nuvel::testing {
namespace {

namespace fs = std::filesystem;

// Family dialog rows: 006 Business Communication, 001 Foundations 1, 003 Foundations 3 (two
// versions), 010 Grammar in Practice (English only), 120 Placement Test.
constexpr int kRowBusiness = 0;
constexpr int kRowFoundations1 = 1;
constexpr int kRowFoundations3 = 2;
constexpr int kRowGrammar = 3;
// Multi-language dialog rows of 001MUL50: Japanese, French, Spanish, German, English, All
// (French is the second row for 006MUL50 too: Japanese, French, English, All).
constexpr int kRowFrench = 1;
constexpr int kRowAllLanguages = 5;

// Welcome → Install, Install Options → Install.
const std::string kStart = "welcome -> 1\ninstall-options -> 1\n";
// 001MUL50 with French as its support language, confirmed in the install dialog.
const std::string kFoundations1French = "family select " + std::to_string(kRowFoundations1) +
                                        " -> 1\nproducts -> 1\nmulti-language select " +
                                        std::to_string(kRowFrench) + " -> 1\ninstall -> 1\n";
// 010ENG50, confirmed in the install dialog.
const std::string kGrammar =
    "family select " + std::to_string(kRowGrammar) + " -> 1\nproducts -> 1\ninstall -> 1\n";
// No further course; the closing messages acknowledged; Control held for the whole run.
const std::string kEnd =
    "prompt:MSG_Message_InstallAnother -> 2\n"
    "prompt:MSG_Message_SetupComplete -> 1\n"
    "prompt:MSG_HowToStartCourse2 -> 1\n"
    "control\n";

// One dialog of the transcript.
struct Shown {
  std::string dialog;
  std::string id;
  std::string answer;
  std::string line;  // the whole JSON line
};

std::string FirstMatch(const std::string& line, const std::regex& pattern) {
  std::smatch m;
  return std::regex_search(line, m, pattern) ? m[1].str() : std::string("<none>");
}

std::vector<Shown> ParseTranscript(const std::string& path) {
  static const std::regex dialog(R"re(^\{"dialog":"([^"]*)")re");
  static const std::regex id(R"re("id":"((?:[^"\\]|\\.)*)")re");
  static const std::regex answer(R"re("answer":(-?\d+|"(?:[^"\\]|\\.)*")\}$)re");
  std::vector<Shown> shown;
  for (const std::string& line : FileLines(path)) {
    if (line.empty()) continue;
    shown.push_back(
        {FirstMatch(line, dialog), FirstMatch(line, id), FirstMatch(line, answer), line});
  }
  return shown;
}

// "welcome 1", "prompt:MSG_FixLevelLower 2": the path a run took through its dialogs.
std::vector<std::string> PathOf(const std::vector<Shown>& shown) {
  std::vector<std::string> path;
  for (const Shown& s : shown) {
    path.push_back(
        (s.dialog == "prompt" || s.dialog == "radio" ? s.dialog + ":" + s.id : s.dialog) + " " +
        s.answer);
  }
  return path;
}

bool Contains(const std::vector<std::string>& items, const std::string& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

// The names directly inside a folder (empty when it does not exist).
std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    names.insert(it->path().filename().string());
  }
  return names;
}

// Files (relative paths) below a folder.
std::set<std::string> FilesBelow(const std::string& folder) {
  std::set<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) files.insert(it->path().lexically_relative(folder).string());
  }
  return files;
}

// Files below `folder` left by an unfinished copy or rewrite: the copy's busy-marked files and
// ".<name>.nuvel-partial", and the profile rewrite's ".<name>.<hex>.tmp".
std::vector<std::string> TemporaryFilesBelow(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    auto ends = [&](const std::string& suffix) {
      return name.size() >= suffix.size() &&
             name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    struct stat st {};
    bool busy = ::lstat(it->path().c_str(), &st) == 0 && st.st_mtim.tv_sec == platform::kBusyTime &&
                st.st_mtim.tv_nsec == 0;
    if (busy || ends(".nuvel-partial") || (name.front() == '.' && ends(".tmp"))) {
      found.push_back(it->path().string());
    }
  }
  return found;
}

class InstallScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override { GenerateSource({}); }

  // Writes the sample source into <sysroot>/source, replacing an earlier one.
  void GenerateSource(std::vector<std::string> options) {
    options.push_back("--force");
    options.push_back(Source(""));
    RunResult made = RunBinary(NUVEL_SAMPLE_SOURCE_TOOL, options);
    ASSERT_EQ(made.status, 0) << made.output;
  }

  std::string Source(const std::string& relative) {
    return sysroot_.path("source") + (relative.empty() ? "" : "/" + relative);
  }
  std::string Installed(const std::string& relative) {
    return sysroot_.path("opt/Nuvel") + (relative.empty() ? "" : "/" + relative);
  }

  void WriteSetupIni(const std::string& body) {
    WriteTestFile(Source("install/data/setup.ini"), "[Nuvel]\r\n" + body);
  }

  // Runs the Setup with these answers; the transcript of this run replaces the last one.
  RunResult Setup(const std::string& answers) {
    std::string answer_file = sysroot_.path("answers.txt");
    // The sample source offers its placement test after the first course: declined unless
    // the test answers the offer itself.
    bool answered = answers.find("MSG_Message_AboutToInstallPT") != std::string::npos;
    WriteTestFile(answer_file,
                  (answered ? "" : "prompt:MSG_Message_AboutToInstallPT -> 2\n") + answers);
    std::error_code ec;
    fs::remove(TranscriptPath(), ec);
    return RunBinary(NUVEL_SETUP_BINARY, {"--source", Source(""), "--answers", answer_file,
                                          "--transcript", TranscriptPath()});
  }

  std::string TranscriptPath() { return sysroot_.path("transcript.jsonl"); }
  std::vector<Shown> Transcript() { return ParseTranscript(TranscriptPath()); }
  std::vector<std::string> Path() { return PathOf(Transcript()); }
  std::string Log() { return ReadTestFile(Installed("Nuvel_log.txt")); }

  // nuvel-ini get: the value, or "<missing>" when the key is not there.
  std::string IniGet(const std::string& file, const std::string& section, const std::string& key) {
    RunResult got = RunBinary(NUVEL_INI_BINARY, {"get", file, section, key});
    if (got.status != 0) return "<missing>";
    std::string value = got.output;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
  }
  void IniSet(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value) {
    RunResult set = RunBinary(NUVEL_INI_BINARY, {"set", file, section, key, value});
    ASSERT_EQ(set.status, 0) << set.output;
  }
  std::string Records(const std::string& key) {
    return IniGet(Installed("records.ini"), "Records", key);
  }
  std::string SourceVersions(const std::string& key) {
    return IniGet(Source("install/data/versions.ini"), "Records", key);
  }

  // Checks the content folder of an installed course against the source: exactly the chosen
  // subfolders, each file with the source's bytes, and the files the copy adds.
  void ExpectCompleteContent(const std::string& folder, const std::set<std::string>& subfolders) {
    SCOPED_TRACE("content/" + folder);
    const std::string installed = Installed("content/" + folder);
    const std::string source = Source("Nuvel/content/" + folder);
    std::set<std::string> expected = subfolders;
    for (const char* file : {"VERSION", "NUVEL.INI", "complete.txt", "disc.01"}) {
      expected.insert(file);
    }
    EXPECT_EQ(Entries(installed), expected);
    for (const std::string& sub : subfolders) {
      std::set<std::string> files = FilesBelow(source + "/" + sub);
      ASSERT_FALSE(files.empty()) << sub;
      EXPECT_EQ(FilesBelow(installed + "/" + sub), files) << sub;
      for (const std::string& file : files) {
        const std::string rel = sub + "/" + file;
        // Compared as sizes first so that a mismatch does not print megabytes.
        std::string want = ReadTestFile(source + "/" + rel);
        std::string got = ReadTestFile(installed + "/" + rel);
        ASSERT_EQ(got.size(), want.size()) << rel;
        EXPECT_TRUE(got == want) << rel << " differs from the source";
      }
    }
    EXPECT_EQ(ReadTestFile(installed + "/NUVEL.INI"), ReadTestFile(source + "/NUVEL.INI"));
    EXPECT_EQ(ReadTestFile(installed + "/complete.txt"), ReadTestFile(source + "/complete.txt"));
    EXPECT_EQ(ReadTestFile(installed + "/disc.01"), "X");

    // The identification line: product number, folder code, version digits, content mark.
    auto version = FileLines(installed + "/VERSION");
    ASSERT_FALSE(version.empty());
    const std::string& id = version[0];
    EXPECT_EQ(id.size(), 47u) << id;
    EXPECT_EQ(id.substr(0, 7), folder.substr(0, 3) + " " + folder.substr(3, 3)) << id;
    if (id.size() == 47u) {
      EXPECT_EQ(id[12], folder[6]) << id;
      EXPECT_EQ(id[14], folder[7]) << id;
      EXPECT_EQ(id.substr(34, 2), "SC") << id;
    }
    ASSERT_GE(version.size(), 2u);
    EXPECT_EQ(version[1], "PATH: DATA");
  }

  // The startup folder: a copy of the source's product folder, nuvel.ini amended.
  void ExpectStartupFiles(const std::string& folder) {
    SCOPED_TRACE("launch/" + folder);
    const std::string installed = Installed("launch/" + folder);
    const std::string source = Source("install/data/" + folder);
    EXPECT_EQ(FilesBelow(installed), FilesBelow(source));
    EXPECT_EQ(ReadTestFile(installed + "/course.png"), ReadTestFile(source + "/course.png"));
    EXPECT_EQ(IniGet(installed + "/nuvel.ini", "nuvel.ini", "course_name"),
              IniGet(source + "/nuvel.ini", "nuvel.ini", "course_name"));
  }

  // records.ini after an installation: the companion applications' versions (copied from the
  // source's versions.ini, then brought to the version of the installed bundle, which is the
  // part of the versions.ini value after "~") and the course's own key.
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

  // Installs 001MUL50 (French) and then 010ENG50 in one run.
  void InstallTwoCourses() {
    RunResult run = Setup(kStart + kFoundations1French +
                          "prompt:MSG_Message_InstallAnother -> 1\n"
                          "prompt:MSG_Message_AMoreRecentVersion -> 2\n" +
                          kGrammar + kEnd);
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(fs::is_directory(Installed("launch/001MUL50")));
    ASSERT_TRUE(fs::is_directory(Installed("launch/010ENG50")));
  }

  TestSysroot sysroot_;
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
  auto shown = Transcript();
  ASSERT_GE(shown.size(), 6u);
  EXPECT_NE(shown[5].line.find("French"), std::string::npos) << shown[5].line;

  ExpectStartupFiles("001MUL50");
  EXPECT_EQ(IniGet(Installed("launch/001MUL50/nuvel.ini"), "nuvel.ini", "language"), "FRA");
  // COM and ENG always, GEN and KID as variants, and French: not SPN, GER or JPN.
  ExpectCompleteContent("001MUL50", {"COM", "ENG", "GEN", "KID", "FRA"});
  EXPECT_EQ(Entries(Installed("content")), std::set<std::string>{"001MUL50"});
  EXPECT_EQ(Entries(Installed("launch")), std::set<std::string>{"001MUL50"});

  ExpectRecordedVersions("001mul50");
  EXPECT_NE(Log().find("Selected Discless"), std::string::npos);
  EXPECT_NE(Log().find("Installing: English Foundations, Level 1 (001MUL50) (FRA - French)"),
            std::string::npos);
  EXPECT_TRUE(TemporaryFilesBelow(Installed("")).empty());
}

TEST_F(InstallScenarioTest, AllLanguagesCopiesEveryListedLanguageAndEnglishOnlyIsRecorded) {
  // The last row stands for all support languages; the install dialog's English-only choice.
  RunResult run = Setup(kStart + "family select " + std::to_string(kRowFoundations1) +
                        " -> 1\nproducts -> 1\nmulti-language select " +
                        std::to_string(kRowAllLanguages) + " -> 1\ninstall choose 5 -> 1\n" + kEnd);
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
  RunResult run = Setup(kStart + "family select " + std::to_string(kRowBusiness) +
                        " -> 1\nproducts -> 1\nmulti-language select " +
                        std::to_string(kRowFrench) + " -> 1\ninstall -> 1\n" + kEnd);
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
    const std::string code = name.substr(4, 3);
    const std::string installed = content + "/" + code + "/" + name;
    if (code == "JPN") {
      EXPECT_FALSE(fs::exists(installed)) << name;
      continue;
    }
    std::string real = ReadTestFile(audio + "/" + name);
    std::string got = ReadTestFile(installed);
    ASSERT_EQ(got.size(), real.size()) << name;
    EXPECT_TRUE(got == real) << name;
    ++replaced;
  }
  EXPECT_GT(replaced, 20);
  // A clip of exactly 20 bytes is real and stays; a streamed video has no real file and stays.
  EXPECT_EQ(fs::file_size(content + "/COM/M006COM_TICK.MP3"), 20u);
  EXPECT_EQ(ReadTestFile(content + "/ENG/V006ENG_INTRO.MOV"), "STREAMED\r\n");

  auto version = FileLines(content + "/VERSION");
  ASSERT_FALSE(version.empty());
  EXPECT_EQ(version[0].substr(0, 7), "006 MUL");
  EXPECT_EQ(Records("006mul50"), SourceVersions("006mul50"));
}

TEST_F(InstallScenarioTest, EnglishOnlyCourseAsksForNoLanguageAndCopiesItsOwnFolders) {
  RunResult run = Setup(kStart + kGrammar + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;

  EXPECT_EQ(Path(),
            (std::vector<std::string>{
                "welcome 1", "install-options 1", "family 1", "products 1", "install 1",
                "prompt:MSG_Message_AboutToInstallPT 2", "prompt:MSG_Message_InstallAnother 2",
                "prompt:MSG_Message_SetupComplete 1", "prompt:MSG_HowToStartCourse2 1"}));
  // An English-only product offers no language choice in the install dialog.
  for (const Shown& s : Transcript()) {
    if (s.dialog == "install") {
      EXPECT_EQ(s.line.find("\"radio\""), std::string::npos) << s.line;
    }
  }

  ExpectStartupFiles("010ENG50");
  ExpectCompleteContent("010ENG50", {"COM", "ENG"});
  ExpectRecordedVersions("010eng50");
  EXPECT_NE(Log().find("Selected Discless"), std::string::npos);
}

TEST_F(InstallScenarioTest, DiscBasedInstallationCopiesStartupFilesButNoContent) {
  // Neither forced: the installation type is asked; the second choice (item 3) is disc-based.
  WriteSetupIni("force_TCPIP=N\r\nforce_discless=N\r\n");
  RunResult run = Setup(kStart + "radio choose 3 -> 1\n" + kGrammar + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;

  auto path = Path();
  ASSERT_GE(path.size(), 3u);
  EXPECT_EQ(path[2], "radio:MSG_Message_ChooseInstallationType 1");
  EXPECT_TRUE(Contains(path, "install 1"));
  ExpectStartupFiles("010ENG50");
  EXPECT_FALSE(fs::exists(Installed("content/010ENG50")));
  EXPECT_EQ(Records("010eng50"), SourceVersions("010eng50"));
  EXPECT_NE(Log().find("Selected CD-Based"), std::string::npos);
  EXPECT_EQ(Log().find("Selected Discless"), std::string::npos);
}

TEST_F(InstallScenarioTest, ForcedDiscBasedInstallationAsksNothingAndCopiesNoContent) {
  WriteSetupIni("force_TCPIP=N\r\nforce_discless=N\r\nforce_cd_based=Y\r\n");
  RunResult run = Setup(kStart + kFoundations1French + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;

  for (const Shown& s : Transcript()) EXPECT_NE(s.dialog, "radio") << s.line;
  ExpectStartupFiles("001MUL50");
  EXPECT_FALSE(fs::exists(Installed("content/001MUL50")));
  EXPECT_NE(Log().find("Selected CD-Based"), std::string::npos);
}

TEST_F(InstallScenarioTest, InstallAnotherInstallsASecondCourseInTheSameRun) {
  InstallTwoCourses();

  auto path = Path();
  // The second course is chosen from the family dialog again, after the first is installed.
  auto another = std::find(path.begin(), path.end(), "prompt:MSG_Message_InstallAnother 1");
  ASSERT_NE(another, path.end());
  EXPECT_EQ(std::count(path.begin(), path.end(), "family 1"), 2);
  EXPECT_EQ(std::count(path.begin(), path.end(), "install 1"), 2);
  EXPECT_NE(std::find(another, path.end(), "family 1"), path.end());
  EXPECT_EQ(path.back(), "prompt:MSG_HowToStartCourse2 1");

  ExpectStartupFiles("001MUL50");
  ExpectStartupFiles("010ENG50");
  ExpectCompleteContent("001MUL50", {"COM", "ENG", "GEN", "KID", "FRA"});
  ExpectCompleteContent("010ENG50", {"COM", "ENG"});
  EXPECT_EQ(Records("001mul50"), SourceVersions("001mul50"));
  EXPECT_EQ(Records("010eng50"), SourceVersions("010eng50"));
}

TEST_F(InstallScenarioTest, SeveralCoursesChosenTogetherAskForTheSupportLanguageOnce) {
  // Limited to two support languages so that the dialog's rows are known: French, Spanish.
  WriteSetupIni("force_TCPIP=N\r\nforce_discless=Y\r\nforce_limit_multiLanguages=FRA SPN\r\n");
  RunResult run = Setup(kStart + "family select " + std::to_string(kRowFoundations1) + "," +
                        std::to_string(kRowGrammar) + " -> 1\nmulti-language select 1 -> 1\n" +
                        "prompt:MSG_Message_SetupComplete -> 1\n"
                        "prompt:MSG_HowToStartCourse2 -> 1\ncontrol\n");
  ASSERT_EQ(run.status, 0) << run.output;

  auto path = Path();
  EXPECT_EQ(std::count(path.begin(), path.end(), "multi-language 1"), 1) << run.output;
  // Courses chosen together are installed without the install dialog.
  EXPECT_FALSE(Contains(path, "install 1"));
  EXPECT_EQ(IniGet(Installed("launch/001MUL50/nuvel.ini"), "nuvel.ini", "language"), "SPN");
  ExpectCompleteContent("001MUL50", {"COM", "ENG", "GEN", "KID", "SPN"});
  ExpectCompleteContent("010ENG50", {"COM", "ENG"});
}

TEST_F(InstallScenarioTest, PlacementTestIsOfferedOnceAfterACourseAndInstalledWhenAccepted) {
  // The fixture declines the first offer; this run accepts it with an earlier line of its own.
  RunResult run = Setup("prompt:MSG_Message_AboutToInstallPT -> 1\n" + kStart + kGrammar +
                        "install -> 1\n" + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  auto path = Path();
  EXPECT_EQ(std::count(path.begin(), path.end(), "prompt:MSG_Message_AboutToInstallPT 1"), 1);
  EXPECT_EQ(std::count(path.begin(), path.end(), "install 1"), 2) << "course, then the test";
  ExpectStartupFiles("010ENG50");
  ExpectStartupFiles("120MUL50");
  EXPECT_TRUE(std::filesystem::exists(Installed("content/120MUL50/complete.txt")));
}

// ---- Reinstalling over an installed copy ------------------------------------------------------

TEST_F(InstallScenarioTest, ReinstallOverAHigherBuildAsksAndCancelCopiesNothing) {
  ASSERT_EQ(Setup(kStart + kFoundations1French + kEnd).status, 0);
  // The installed copy becomes a later build than the source's 362.
  IniSet(Installed("launch/001MUL50/nuvel.ini"), "nuvel.ini", "fix_level", "363");
  IniSet(Installed("content/001MUL50/NUVEL.INI"), "nuvel.ini", "fix_level", "363");
  // Taken away so that any copy of the course would show: both would come back.
  ASSERT_TRUE(fs::remove(Installed("launch/001MUL50/course.png")));
  ASSERT_TRUE(fs::remove(Installed("content/001MUL50/FRA/LESSONS.C")));

  RunResult run = Setup("prompt:MSG_Message_PreviouslyInstalledUsing -> 1\n" + kStart +
                        "prompt:MSG_Message_AMoreRecentVersion -> 2\n" + kFoundations1French +
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

TEST_F(InstallScenarioTest, ReinstallOfTheSameBuildAndLanguageCopiesAgainWithoutAsking) {
  ASSERT_EQ(Setup(kStart + kFoundations1French + kEnd).status, 0);
  ASSERT_TRUE(fs::remove(Installed("launch/001MUL50/course.png")));
  ASSERT_TRUE(fs::remove(Installed("content/001MUL50/FRA/LESSONS.C")));

  RunResult run =
      Setup(kStart + "prompt:MSG_Message_AMoreRecentVersion -> 2\n" + kFoundations1French + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;

  for (const Shown& s : Transcript()) {
    EXPECT_NE(s.id, "MSG_FixLevelLower");
    EXPECT_NE(s.id, "MSG_Message_AlreadyInstalled3");
  }
  ExpectStartupFiles("001MUL50");
  ExpectCompleteContent("001MUL50", {"COM", "ENG", "GEN", "KID", "FRA"});
}

// ---- Cancel in each dialog ---------------------------------------------------------------------

TEST_F(InstallScenarioTest, CancelInInstallOptionsReturnsToWelcome) {
  RunResult run = Setup("welcome -> 1\ninstall-options -> 2\nwelcome -> 2\ncontrol\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Path(), (std::vector<std::string>{"welcome 1", "install-options 2", "welcome 2"}));
  EXPECT_FALSE(fs::exists(Installed("launch/001MUL50")));
}

TEST_F(InstallScenarioTest, CancelInTheInstallationTypeReturnsToWelcome) {
  WriteSetupIni("force_TCPIP=N\r\nforce_discless=N\r\n");
  RunResult run = Setup(kStart + "radio -> 6\nwelcome -> 2\ncontrol\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Path(),
            (std::vector<std::string>{"welcome 1", "install-options 1",
                                      "radio:MSG_Message_ChooseInstallationType 6", "welcome 2"}));
}

TEST_F(InstallScenarioTest, CancelInTheFamilyDialogReturnsToInstallOptions) {
  RunResult run = Setup(kStart + "family -> 2\ninstall-options -> 2\nwelcome -> 2\ncontrol\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Path(), (std::vector<std::string>{"welcome 1", "install-options 1", "family 2",
                                              "install-options 2", "welcome 2"}));
}

TEST_F(InstallScenarioTest, CancelInTheVersionDialogReturnsToTheFamilyDialog) {
  // 003 comes in two versions, so its version dialog is shown.
  RunResult run = Setup(kStart + "family select " + std::to_string(kRowFoundations3) +
                        " -> 1\nversion -> 2\nfamily -> 2\ninstall-options -> 2\n"
                        "welcome -> 2\ncontrol\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Path(),
            (std::vector<std::string>{"welcome 1", "install-options 1", "family 1", "version 2",
                                      "family 2", "install-options 2", "welcome 2"}));
  EXPECT_FALSE(fs::exists(Installed("launch/003MUL50")));
  EXPECT_FALSE(fs::exists(Installed("launch/003MUL40")));
}

TEST_F(InstallScenarioTest, CancelInTheInstallDialogCopiesNothingOfThatCourse) {
  RunResult run = Setup(kStart + "family select " + std::to_string(kRowGrammar) +
                        " -> 1\nproducts -> 1\ninstall -> 2\n" +
                        "prompt:MSG_Message_InstallAnother -> 2\n"
                        "prompt:MSG_Message_SetupComplete -> 1\ncontrol\n");
  ASSERT_EQ(run.status, 0) << run.output;
  auto path = Path();
  EXPECT_TRUE(Contains(path, "install 2"));
  EXPECT_EQ(std::count_if(path.begin(), path.end(),
                          [](const std::string& p) { return p.rfind("install ", 0) == 0; }),
            1);
  EXPECT_FALSE(fs::exists(Installed("launch/010ENG50")));
  EXPECT_FALSE(fs::exists(Installed("content/010ENG50")));
  EXPECT_EQ(Records("010eng50"), "<missing>");
  EXPECT_EQ(Log().find("Installing: English Grammar in Practice"), std::string::npos);
}

// ---- Copy failures -----------------------------------------------------------------------------

// A file where the course's folder must go cannot be replaced by a folder, even by root.
TEST_F(InstallScenarioTest, StartupFolderThatCannotBeCreatedEndsIncomplete) {
  WriteTestFile(Installed("launch/001MUL50"), "in the way\n");
  RunResult run =
      Setup(kStart + kFoundations1French + "prompt:MSG_Message_SetupIncomplete -> 1\ncontrol\n");
  EXPECT_EQ(run.status, 1) << run.output;
  auto path = Path();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), "prompt:MSG_Message_SetupIncomplete 1");
  EXPECT_FALSE(Contains(path, "prompt:MSG_Message_SetupComplete 1"));
  EXPECT_FALSE(fs::exists(Installed("content/001MUL50")));
  EXPECT_NE(Log().find("ERROR:"), std::string::npos);
}

TEST_F(InstallScenarioTest, ContentFolderThatCannotBeCreatedEndsIncomplete) {
  WriteTestFile(Installed("content/001MUL50"), "in the way\n");
  RunResult run =
      Setup(kStart + kFoundations1French + "prompt:MSG_Message_SetupIncomplete -> 1\ncontrol\n");
  EXPECT_EQ(run.status, 1) << run.output;
  auto path = Path();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), "prompt:MSG_Message_SetupIncomplete 1");
  EXPECT_FALSE(Contains(path, "prompt:MSG_Message_InstallAnother 2"));
  EXPECT_FALSE(Contains(path, "prompt:MSG_Message_SetupComplete 1"));
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
    ASSERT_TRUE(fs::is_directory(sysroot_.path("srv/Nuvel/launch/010ENG50")));
    ASSERT_TRUE(fs::is_directory(sysroot_.path("srv/Nuvel/content/010ENG50")));
    ASSERT_TRUE(fs::exists(Installed("records.ini")));
  }
  // The whole installation gone, the system folder in the Trash.
  void ExpectEverythingRemoved() {
    EXPECT_FALSE(fs::exists(sysroot_.path("srv/Nuvel")));
    EXPECT_FALSE(fs::exists(Installed("")));
    EXPECT_TRUE(fs::exists(Trash("files/Nuvel/records.ini")));
    EXPECT_NE(ReadTestFile(Trash("info/Nuvel.trashinfo")).find("Path=" + Installed("")),
              std::string::npos)
        << ReadTestFile(Trash("info/Nuvel.trashinfo"));
  }
};

TEST_F(UninstallScenarioTest, UninstallingOneCourseRemovesItsTwoFoldersOnly) {
  InstallTwoCourses();
  RunResult run = Setup("welcome -> 4\nuninstall select 0 -> 2\nuninstall -> 1\nwelcome -> 2\n");
  ASSERT_EQ(run.status, 0) << run.output;

  EXPECT_EQ(Path(),
            (std::vector<std::string>{"welcome 4", "uninstall 2", "uninstall 1", "welcome 2"}));
  auto shown = Transcript();
  ASSERT_EQ(shown.size(), 4u);
  // Sorted by display line: Foundations first; after removing it, Grammar alone is listed.
  EXPECT_NE(shown[1].line.find("English Foundations, Level 1"), std::string::npos);
  EXPECT_EQ(shown[2].line.find("English Foundations, Level 1"), std::string::npos);
  EXPECT_NE(shown[2].line.find("English Grammar in Practice"), std::string::npos);

  EXPECT_FALSE(fs::exists(Installed("launch/001MUL50")));
  EXPECT_FALSE(fs::exists(Installed("content/001MUL50")));
  ExpectStartupFiles("010ENG50");
  ExpectCompleteContent("010ENG50", {"COM", "ENG"});
  EXPECT_TRUE(fs::exists(Installed("records.ini")));
  EXPECT_TRUE(fs::exists(Installed("Launcher.app")));
}

TEST_F(UninstallScenarioTest, UninstallingTheLastCourseRemovesTheWholeInstallation) {
  fs::create_directories(sysroot_.path("home/Desktop"));
  InstallIntoSrv();
  ASSERT_TRUE(fs::exists(sysroot_.path("home/Desktop/Student.desktop")));
  RunResult run = Setup("welcome -> 4\nuninstall select 0 -> 2\nprompt:Complete! -> 1\n");
  ASSERT_EQ(run.status, 0) << run.output;

  // No confirmation: removing the last course goes straight to the removal.
  EXPECT_EQ(Path(), (std::vector<std::string>{"welcome 4", "uninstall 2", "prompt:Complete! 1"}));
  ExpectEverythingRemoved();
  // Its launcher would start nothing any more.
  EXPECT_FALSE(fs::exists(sysroot_.path("home/Desktop/Student.desktop")));
}

TEST_F(UninstallScenarioTest, UninstallAllAsksAndCancelReturnsToTheUninstallDialog) {
  InstallIntoSrv();
  RunResult run = Setup(
      "welcome -> 4\nuninstall -> 5\nprompt:MSG_Message_UninstallAllServer -> 2\n"
      "uninstall -> 5\nprompt:MSG_Message_UninstallAllServer -> 1\nprompt:Complete! -> 1\n");
  ASSERT_EQ(run.status, 0) << run.output;

  EXPECT_EQ(Path(),
            (std::vector<std::string>{
                "welcome 4", "uninstall 5", "prompt:MSG_Message_UninstallAllServer 2",
                "uninstall 5", "prompt:MSG_Message_UninstallAllServer 1", "prompt:Complete! 1"}));
  // The confirmation names the installation folder.
  auto shown = Transcript();
  ASSERT_GE(shown.size(), 3u);
  EXPECT_NE(shown[2].line.find(sysroot_.path("srv/Nuvel")), std::string::npos) << shown[2].line;
  ExpectEverythingRemoved();
}

TEST_F(UninstallScenarioTest, SystemFolderMovedBesideAnEarlierOneInTheTrashIsRenamed) {
  InstallIntoSrv();
  WriteTestFile(Trash("files/Nuvel/earlier.txt"), "earlier\n");
  WriteTestFile(Trash("info/Nuvel.trashinfo"),
                "[Trash Info]\nPath=/elsewhere/Nuvel\nDeletionDate=2020-01-01T00:00:00\n");
  RunResult run = Setup("welcome -> 4\nuninstall select 0 -> 2\nprompt:Complete! -> 1\n");
  ASSERT_EQ(run.status, 0) << run.output;

  EXPECT_FALSE(fs::exists(Installed("")));
  // The earlier item stays as it was; the new one takes the name with " copy 1".
  EXPECT_EQ(ReadTestFile(Trash("files/Nuvel/earlier.txt")), "earlier\n");
  EXPECT_FALSE(fs::exists(Trash("files/Nuvel/records.ini")));
  EXPECT_TRUE(fs::exists(Trash("files/Nuvel copy 1/records.ini")));
  EXPECT_NE(ReadTestFile(Trash("info/Nuvel copy 1.trashinfo")).find("Path=" + Installed("")),
            std::string::npos);
  EXPECT_NE(ReadTestFile(Trash("info/Nuvel.trashinfo")).find("Path=/elsewhere/Nuvel"),
            std::string::npos);
}

TEST_F(UninstallScenarioTest, UninstallAllOfTheDefaultInstallationRemovesTheSystemFolder) {
  InstallTwoCourses();
  RunResult run = Setup(
      "welcome -> 4\nuninstall -> 5\nprompt:MSG_Message_UninstallAllServer -> 1\n"
      "prompt:Complete! -> 1\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Path(), (std::vector<std::string>{"welcome 4", "uninstall 5",
                                              "prompt:MSG_Message_UninstallAllServer 1",
                                              "prompt:Complete! 1"}));
  // Installation and system folder are one folder here: deleted, nothing else touched.
  EXPECT_FALSE(fs::exists(Installed("")));
  EXPECT_TRUE(fs::is_directory(Source("install/data/001MUL50")));
  EXPECT_TRUE(fs::is_directory(sysroot_.path("home")));
}

// ---- An installation killed in the middle and run again ---------------------------------------

class InstallInterruptedTest : public InstallScenarioTest {
 protected:
  void SetUp() override {}  // the big source is generated by the test itself

  // Starts the Setup in the background with these answers; its output goes to a file.
  pid_t StartSetup(const std::string& answers) {
    std::string answer_file = sysroot_.path("answers.txt");
    // The sample source offers its placement test after the first course: declined unless
    // the test answers the offer itself.
    bool answered = answers.find("MSG_Message_AboutToInstallPT") != std::string::npos;
    WriteTestFile(answer_file,
                  (answered ? "" : "prompt:MSG_Message_AboutToInstallPT -> 2\n") + answers);
    std::vector<std::string> args = {NUVEL_SETUP_BINARY, "--source",  Source(""),
                                     "--answers",        answer_file, "--transcript",
                                     TranscriptPath()};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      if (entry.rfind("LANGUAGE=", 0) == 0 || entry.rfind("LC_ALL=", 0) == 0 ||
          entry.rfind("LC_MESSAGES=", 0) == 0 || entry.rfind("LANG=", 0) == 0) {
        continue;
      }
      env_strings.push_back(entry);
    }
    env_strings.push_back("LANGUAGE=en");
    std::vector<char*> envp;
    for (auto& entry : env_strings) envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output = sysroot_.path("background-output.txt");
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
  }
};

TEST_F(InstallInterruptedTest, InstallationKilledDuringTheContentCopyCompletesWhenRunAgain) {
  // Big enough that the content copy of 001MUL50 takes a noticeable time.
  GenerateSource({"--content-mb", "400", "--content-as", "folders"});
  if (HasFatalFailure()) return;
  const std::string answers =
      kStart + "prompt:MSG_Message_AMoreRecentVersion -> 2\n" + kFoundations1French + kEnd;
  const std::string content = Installed("content/001MUL50");
  const std::set<std::string> chosen = {"COM", "ENG", "GEN", "KID", "FRA"};
  std::size_t total = 0;
  for (const std::string& sub : chosen) {
    total += FilesBelow(Source("Nuvel/content/001MUL50/" + sub)).size();
  }
  ASSERT_GT(total, 10u);
  // Files already copied in full (an unfinished one has its temporary name).
  auto copied = [&] {
    std::size_t count = 0;
    for (const std::string& file : FilesBelow(content)) {
      if (file.find(".nuvel-partial") == std::string::npos) ++count;
    }
    return count;
  };

  pid_t pid = StartSetup(answers);
  ASSERT_GT(pid, 0);
  bool caught = false;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    // Killed about a third of the way through the course's content.
    if (copied() >= total / 3 && !fs::exists(content + "/complete.txt")) {
      ::kill(pid, SIGKILL);
      caught = true;
      break;
    }
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  if (pid > 0) {
    if (!caught) ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  ASSERT_TRUE(caught) << "the content copy was not caught in the middle; output:\n"
                      << ReadTestFile(sysroot_.path("background-output.txt"));
  ASSERT_TRUE(WIFSIGNALED(status));
  // Killed in the middle: some content, not all of it.
  ASSERT_FALSE(fs::exists(content + "/complete.txt"));
  ASSERT_LT(copied(), total);
  // Whether or not the kill hit a file being written, files are left as an interrupted copy
  // leaves them: a partial file beside a complete one, a new file cut short under its name.
  WriteTestFile(content + "/COM/.L0001.DAT.nuvel-partial", "cut sh");
  const std::string cut = content + "/COM/L0002.DAT";
  WriteTestFile(cut, "cut sh");
  const struct timespec busy[2] = {{platform::kBusyTime, 0}, {platform::kBusyTime, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, cut.c_str(), busy, 0), 0);

  RunResult run = Setup(answers);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Contains(Path(), "install 1"));

  ExpectStartupFiles("001MUL50");
  ExpectCompleteContent("001MUL50", {"COM", "ENG", "GEN", "KID", "FRA"});
  EXPECT_EQ(TemporaryFilesBelow(Installed("")), std::vector<std::string>{});
  // records.ini is whole and readable.
  EXPECT_EQ(Records("001mul50"), SourceVersions("001mul50"));
  EXPECT_EQ(Records("launch_path_local"), Installed(""));
  ExpectRecordedVersions("001mul50");
}

}  // namespace
}  // namespace nuvel::testing
