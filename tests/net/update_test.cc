// The update check and course downloads against nginx serving a download tree written by the
// test, and against the fault server for what nginx does not do on demand.
#include "net/update_check.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <memory>

#include "base/paths.h"
#include "base/run_state.h"
#include "net/download.h"
#include "net/transport.h"
#include "platform/files.h"
#include "tests/net/peers.h"
#include "tests/support/fake_backend.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"

namespace nuvel::net {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::WriteTestFile;

// A version file that passes the completeness test: the given lines, the two marker keys and
// padding comments up to at least `size` bytes.
std::string VersionFile(const std::string& lines, std::size_t size = 12000) {
  std::string text = "[Records]\r\n" + lines +
                     "server_009_server_name=Records Nine\r\nandroid_url=http://a.example/x\r\n";
  while (text.size() < size) text += "; padding of the server list\r\n";
  return text;
}

void WriteZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& members) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr);
  for (const auto& [name, data] : members) {
    zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
    ASSERT_GE(zip_file_add(archive, name.c_str(), source, 0), 0);
  }
  ASSERT_EQ(zip_close(archive), 0);
}

class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nuvel::testing::ResetInstallerModules();
    Transport().reset();
    UpdateCheck().reset();
    auto backend = std::make_unique<ui::testing::FakeBackend>();
    backend_ = backend.get();
    ui::SetBackend(std::move(backend));
    apps_ = sysroot_.path("opt/Nuvel");
    fs::create_directories(apps_ + "/launch");
    base::SetInstallDirectoryPath(apps_.c_str());
    base::Paths().localNuvelDirectory = apps_ + "/";
    base::Paths().rRecordsIniPath = apps_ + "/";
    server_root_ = sysroot_.path("server");
    fs::create_directories(server_root_ + "/courses2/courses_d");
    nginx_ = std::make_unique<testing::Nginx>(server_root_, sysroot_.path("nginx"), nullptr);
    ASSERT_EQ(nginx_->error, "");
    base::Run().DownloadAddress = nginx_->http() + "/courses2";
  }
  void TearDown() override { Transport().reset(); }

  std::string Local() const { return apps_ + "/VERSION2M.INI"; }
  void Publish(const std::string& name, const std::string& data) {
    WriteTestFile(server_root_ + "/courses2/" + name, data);
  }
  void InstallCourse(const std::string& folder, const std::string& settings) {
    WriteTestFile(apps_ + "/launch/" + folder + "/nuvel.ini", "[nuvel.ini]\r\n" + settings);
  }
  void Records(const std::string& lines) {
    WriteTestFile(apps_ + "/records.ini", "[Records]\r\n" + lines);
  }
  std::vector<std::string> Shown() const {
    std::vector<std::string> ids;
    for (const ui::Dialog& dialog : backend_->shown) ids.push_back(dialog.id);
    return ids;
  }

  nuvel::testing::TestSysroot sysroot_;
  ui::testing::FakeBackend* backend_ = nullptr;
  std::unique_ptr<testing::Nginx> nginx_;
  std::string apps_, server_root_;
};

// ---- The version file ------------------------------------------------------------------------

TEST_F(UpdateTest, VersionFileIsFetchedOncePerRunAndAnIncompleteOneFallsBackToTheCopy) {
  Publish("VERSION2M.INI", VersionFile("setup2_ver=1~2\r\n"));
  EXPECT_EQ(DownloadVersionFile(), 0);
  EXPECT_NE(ReadTestFile(Local()).find("setup2_ver=1~2"), std::string::npos);

  Publish("VERSION2M.INI", VersionFile("setup2_ver=1~3\r\n"));
  EXPECT_EQ(DownloadVersionFile(), 0);
  EXPECT_NE(ReadTestFile(Local()).find("setup2_ver=1~2"), std::string::npos)
      << "a second call in the same run fetches nothing";

  // Next run: the server's file is cut short (9,999 bytes); the copy of the previous one stays.
  UpdateCheck().reset();
  Publish("VERSION2M.INI", VersionFile("setup2_ver=1~4\r\n").substr(0, 9999));
  EXPECT_EQ(DownloadVersionFile(), 0);
  EXPECT_NE(ReadTestFile(Local()).find("setup2_ver=1~2"), std::string::npos);
  EXPECT_TRUE(fs::exists(Local() + ".BAK"));

  // An error page in place of the file: the same.
  UpdateCheck().reset();
  Publish("VERSION2M.INI", "<html><body>Service unavailable</body></html>");
  EXPECT_EQ(DownloadVersionFile(), 0);
  EXPECT_NE(ReadTestFile(Local()).find("setup2_ver=1~2"), std::string::npos);

  // A missing file on the server: -1 from the transfer, no message (a quiet name).
  UpdateCheck().reset();
  fs::remove(server_root_ + "/courses2/VERSION2M.INI");
  EXPECT_EQ(DownloadVersionFile(), 0);
  EXPECT_NE(ReadTestFile(Local()).find("setup2_ver=1~2"), std::string::npos);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(UpdateTest, LocalCopyOfTodayOrYesterdayIsNotFetchedAgain) {
  Records("rm2_ver=360.005.001.001\r\n");
  WriteTestFile(Local(), VersionFile("rm2_ver=0~360.005.001.001\r\n"));
  Publish("VERSION2M.INI", VersionFile("rm2_ver=0~360.005.001.009\r\n"));
  const auto now = static_cast<std::int64_t>(std::time(nullptr));

  platform::SetModificationTime(Local(), now - 86400);
  EXPECT_EQ(InstallationOutOfDate(apps_, ""), 0) << "yesterday's copy serves";
  EXPECT_EQ(UpdateCheck().times_accessed, 1);

  UpdateCheck().reset();
  platform::SetModificationTime(Local(), now - 3 * 86400);
  EXPECT_EQ(InstallationOutOfDate(apps_, ""), 1) << "an older copy is fetched again";
  EXPECT_EQ(GetItemsOutOfDate(), " rm2_ver");
  EXPECT_EQ(InstallationOutOfDate("", ""), 0);
  EXPECT_EQ(UpdateCheck().times_accessed, 0);
}

TEST_F(UpdateTest, NoVersionFileAndNoCopyCannotBeChecked) {
  Records("rm2_ver=360.005.001.001\r\n");
  EXPECT_EQ(InstallationOutOfDate(apps_, ""), -1);
}

// ---- What is out of date ---------------------------------------------------------------------

TEST_F(UpdateTest, ComparisonRulesOfApplicationsEngineAndCourses) {
  Records(
      "rm2_ver=361.000.000.000\r\n"
      "launcher2_ver=000.000.000.000\r\n"
      "freshen2_ver=360.003.000.002\r\n"
      "babel_ver_mac=320.006.003.008\r\n");
  InstallCourse("001MUL50", "course_name=One\r\nfix_version=9\r\n");    // 9 -> 10: numbers
  InstallCourse("003MUL50", "course_name=Three\r\nfix_version=1\r\n");  // no "~": no update
  InstallCourse("010ENG50", "fix_version=1\r\n");                     // no course_name
  WriteTestFile(Local(), VersionFile(
                             "rm2_ver=300.000.000.000~362.000.000.000\r\n"
                             "launcher2_ver=0~999.000.000.000\r\n"
                             "freshen2_ver=0~360.003.000.004\r\n"
                             "babel_ver_mac=0~999.000.000.000\r\n"
                             "babel_ver_win=999.000.000.000\r\n"
                             "001mul50=1~10\r\n"
                             "003mul50=99\r\n"
                             "010eng50=0~99\r\n"));
  UpdateCheck().versionFile_HasBeenDownloaded = 1;

  EXPECT_EQ(InstallationOutOfDate(apps_, ""), 1);
  EXPECT_EQ(GetItemsOutOfDate(), " rm2_ver freshen2_ver 001mul50")
      << "only the part after ~ counts; 000.000.000.000 is never updated; the engine only "
         "with a speech course; a course without ~ or without course_name is current";
  EXPECT_EQ(UpdateCheck().freshen_is_outofdate, 1);
  for (const auto& entry : UpdateCheck().recordsIniSettings) {
    EXPECT_NE(entry.key, "babel_ver_win");
    EXPECT_NE(entry.key, "babel_ver_mac") << "no speech-recognition course is installed";
  }
  EXPECT_EQ(IsCourseOutOfDate("001MUL50"), 1);
  EXPECT_EQ(IsCourseOutOfDate("003MUL50"), 0);
}

TEST_F(UpdateTest, SpeechCourseBringsTheEngineIntoTheCheck) {
  Records("rm2_ver=362.000.000.000\r\nbabel_ver_mac=320.006.003.008\r\n");
  InstallCourse("001MUL50", "course_name=One\r\nfix_version=5\r\nsr=y\r\nbabel=y\r\n");
  WriteTestFile(Local(), VersionFile(
                             "babel_ver_mac=320.006.003.008~320.006.004.001\r\n"
                             "001mul50=5~5\r\n"));
  UpdateCheck().versionFile_HasBeenDownloaded = 1;
  EXPECT_EQ(InstallationOutOfDate(apps_, ""), 1);
  EXPECT_EQ(GetItemsOutOfDate(), " babel_ver_mac");
}

// ---- Course downloads ------------------------------------------------------------------------

TEST_F(UpdateTest, CourseArchiveIsFetchedUnderItsUpperCaseNameExpandedAndDeleted) {
  WriteZip(server_root_ + "/courses2/courses_d/001MUL50_ENG.EXE",
           {{"LESSON1.TXT", "lesson one"}, {"sub/AUDIO.MP3", "audio"}, {"__MACOSX/x", "junk"}});
  const std::string dest = apps_ + "/content/001MUL50_d/ENG";
  ASSERT_EQ(DownloadCourse(dest, "001mul50_eng.exe", base::Run().DownloadAddress + "/courses_d"),
            0);
  EXPECT_EQ(ReadTestFile(dest + "/LESSON1.TXT"), "lesson one");
  EXPECT_EQ(ReadTestFile(dest + "/sub/AUDIO.MP3"), "audio");
  EXPECT_FALSE(fs::exists(dest + "/__MACOSX"));
  EXPECT_FALSE(fs::exists(apps_ + "/001MUL50_ENG.EXE")) << "the archive is deleted";
  EXPECT_FALSE(fs::exists(apps_ + "/001MUL50_ENG.EXE.tmp"));
}

TEST_F(UpdateTest, IncompleteArchiveIsDeletedAndNothingIsExpandedOverTheInstalledCourse) {
  const std::string archive = server_root_ + "/courses2/courses_d/001MUL50_ENG.EXE";
  WriteZip(archive, {{"LESSON1.TXT", std::string(50000, 'n')}, {"LESSON2.TXT", "new two"}});
  std::string bytes = ReadTestFile(archive);
  WriteTestFile(archive, bytes.substr(0, bytes.size() - 30));  // the central directory is cut
  const std::string dest = apps_ + "/content/001MUL50_d/ENG";
  WriteTestFile(dest + "/LESSON1.TXT", "installed one");

  EXPECT_EQ(DownloadCourse(dest, "001MUL50_ENG.EXE", base::Run().DownloadAddress + "/courses_d"),
            -1);
  EXPECT_EQ(ReadTestFile(dest + "/LESSON1.TXT"), "installed one");
  EXPECT_FALSE(fs::exists(dest + "/LESSON2.TXT"));
  EXPECT_FALSE(fs::exists(apps_ + "/001MUL50_ENG.EXE"));
  EXPECT_EQ(Shown(), std::vector<std::string>{"MSG_Message_ErrorDownloading"});

  // A missing archive: the transfer's own message, and -1.
  backend_->shown.clear();
  EXPECT_EQ(DownloadCourse(dest, "001MUL50_FRA.EXE", base::Run().DownloadAddress + "/courses_d"),
            -1);
  EXPECT_EQ(Shown(), std::vector<std::string>{"MSG_Message_ErrorDownloading"});
}

}  // namespace
}  // namespace nuvel::net
