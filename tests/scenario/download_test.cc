// The download server in whole runs: nginx serves the download tree that make-sample-source
// writes beside the sample source; records.ini points the installation at it.
#include <gtest/gtest.h>
#include <zip.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/net/peers.h"
#include "tests/scenario/scenario.h"

namespace nuvel::testing {
namespace {

namespace fs = std::filesystem;

// 001MUL50 (Foundations 1) with French support.
const std::string kFoundations1 =
    "family select 1 -> 1\nproducts -> 1\nmulti-language select 1 -> 1\ninstall -> 1\n";

// A zip holding one program `bundle`/Contents/MacOS/<name> that writes `marker` when started.
void WriteStartRecorder(const std::string& zip_path, const std::string& bundle,
                        const std::string& name, const std::string& marker) {
  const std::string script = "#!/bin/sh\necho started > '" + marker + "'\n";
  int error = 0;
  zip_t* archive = zip_open(zip_path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr);
  zip_source_t* source = zip_source_buffer(archive, script.data(), script.size(), 0);
  const std::string member = bundle + "/Contents/MacOS/" + name;
  zip_int64_t index = zip_file_add(archive, member.c_str(), source, 0);
  ASSERT_GE(index, 0);
  ASSERT_EQ(zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0,
                                             ZIP_OPSYS_UNIX, 0100755u << 16),
            0);
  ASSERT_EQ(zip_close(archive), 0);
}

bool AppearsWithin(const std::string& path, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!fs::exists(path)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class DownloadScenarioTest : public ScenarioTest {
 protected:
  void SetUp() override {
    MakeSource({"--download-tree", Server()});
    nginx_ = std::make_unique<net::testing::Nginx>(sysroot_.path("www"), sysroot_.path("nginx"),
                                                   nullptr);
    ASSERT_EQ(nginx_->error, "");
    PointAtServer();
  }
  std::string Server(const std::string& relative = "") const {
    return sysroot_.path("www/softwareupdates/courses2") + (relative.empty() ? "" : "/" + relative);
  }
  // records.ini of the system folder names the test's server (a first run creates the rest).
  void PointAtServer() {
    fs::create_directories(Installed());
    IniSet(Installed("records.ini"), "Records", "downloadaddress",
           nginx_->http() + "/softwareupdates/courses2");
  }
  int Requests(const std::string& name) const {
    const std::string log = ReadTestFile(sysroot_.path("nginx/access.log"));
    int count = 0;
    for (std::size_t at = 0; (at = log.find("GET /softwareupdates/courses2/" + name, at)) !=
                             std::string::npos;
         ++at) {
      ++count;
    }
    return count;
  }
  void PublishSetupVersion(const std::string& value) {
    IniSet(Server("VERSION2M.INI"), "Records", "setup2_ver", value);
  }

  std::unique_ptr<net::testing::Nginx> nginx_;
};

TEST_F(DownloadScenarioTest, ForcedDownloadInstallsTheSameTreeAsTheDisc) {
  ASSERT_EQ(Setup(kStart + kFoundations1 + kEnd).status, 0);
  const auto disc = FilesBelow(Installed("content/001MUL50"));
  ASSERT_GT(disc.size(), 20u);
  EXPECT_EQ(Requests("courses_d/"), 0) << "a disc installation downloads no course";
  EXPECT_EQ(Requests("ENGINE_LUC.ZIP"), 1);
  EXPECT_EQ(Requests("VERSION2M.INI"), 1);

  fs::rename(Installed(), sysroot_.path("opt/Nuvel-disc"));
  PointAtServer();
  SetSourceOption("force_download_courses", "Y");
  RunResult run = Setup(kStart + kFoundations1 + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(FilesBelow(Installed("content/001MUL50_d")), disc);
  EXPECT_EQ(Requests("courses_d/001MUL50_FRA.EXE"), 1);
  EXPECT_EQ(Requests("courses_d/001MUL50_SPN.EXE"), 0) << "only the chosen language";
  EXPECT_EQ(Requests("courses_d/"), 5) << "COM, ENG, GEN, KID and FRA";
  for (const auto& entry : fs::directory_iterator(Installed())) {
    EXPECT_NE(entry.path().extension(), ".EXE") << "an archive was left behind";
    EXPECT_NE(entry.path().extension(), ".tmp") << "a transfer was left behind";
  }
}

TEST_F(DownloadScenarioTest, MissingCourseArchiveMakesTheInstallationIncomplete) {
  SetSourceOption("force_download_courses", "Y");
  fs::remove(Server("courses_d/001MUL50_FRA.EXE"));
  RunResult run = Setup(kStart + kFoundations1 +
                        "prompt:MSG_Message_ErrorDownloading -> 1\n"
                        "prompt:MSG_Message_SetupIncomplete -> 1\ncontrol\n");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(Log().find("001MUL50_FRA.EXE could not be downloaded"), std::string::npos);
}

TEST_F(DownloadScenarioTest, TruncatedVersionFileFallsBackToTheCopyOfTheLastRun) {
  ASSERT_EQ(Setup(kStart + kFoundations1 + kEnd).status, 0);
  const std::string good = ReadTestFile(Installed("VERSION2M.INI"));
  ASSERT_GT(good.size(), 10000u);
  const std::string published = ReadTestFile(Server("VERSION2M.INI"));
  WriteTestFile(Server("VERSION2M.INI"), published.substr(0, 5000));

  ASSERT_EQ(Setup("welcome -> 2\n").status, 0);
  EXPECT_EQ(ReadTestFile(Installed("VERSION2M.INI")), good);
  EXPECT_EQ(ReadTestFile(Installed("VERSION2M.INI.BAK")), good);

  // Uninstall All takes the copy and a downloaded Setup with the rest of the system folder.
  WriteTestFile(Installed("Setup.app/Contents/MacOS/Setup"), "#!/bin/sh\n");
  RunResult run = Setup(
      "welcome -> 4\nuninstall -> 5\nprompt:MSG_Message_UninstallAllServer -> 1\n"
      "prompt:Complete! -> 1\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_FALSE(fs::exists(Installed())) << ReadTestFile(Transcript());
}

TEST_F(DownloadScenarioTest, NewerSetupIsDownloadedExpandedAndStarted) {
  const std::string marker = sysroot_.path("new-setup-started");
  WriteStartRecorder(Server("SETUP.ZIP"), "Setup.app", "Setup", marker);
  PublishSetupVersion("362.023.008.021~362.024.000.000");

  RunResult run = Setup("prompt:MSG_Message_ThereIsANewerVersion -> 1\n");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Path(), std::vector<std::string>{"prompt:MSG_Message_ThereIsANewerVersion 1"})
      << "no Welcome: this Setup ends once the new one runs";
  EXPECT_EQ(JsonField(Dialogs("prompt").front(), "title"), "Setup out-of-date");
  EXPECT_TRUE(AppearsWithin(marker, std::chrono::seconds(10)));
  EXPECT_TRUE(fs::exists(Installed("Setup.app/Contents/MacOS/Setup")));
  EXPECT_FALSE(fs::exists(Installed("SETUP.ZIP")));

  // No: the Welcome follows and nothing is downloaded.
  fs::remove(marker);
  ASSERT_EQ(Setup("prompt:MSG_Message_ThereIsANewerVersion -> 2\nwelcome -> 2\n").status, 0);
  EXPECT_EQ(Requests("SETUP.ZIP"), 1);
  EXPECT_FALSE(fs::exists(marker));

  // The same version as this one: no offer. Install with Control at the Welcome still fetches
  // and starts the server's Setup; a Control held for the whole run (old answer files) does not.
  PublishSetupVersion("362.023.008.021~362.023.008.023");
  ASSERT_EQ(Setup("welcome -> 2\n").status, 0);
  EXPECT_EQ(Path(), std::vector<std::string>{"welcome 2"});
  ASSERT_EQ(Setup("welcome control -> 1\n").status, 0);
  EXPECT_TRUE(AppearsWithin(marker, std::chrono::seconds(10)));
  EXPECT_EQ(Requests("SETUP.ZIP"), 2);
  fs::remove(marker);
  ASSERT_EQ(Setup("welcome -> 1\nwelcome -> 2\ninstall-options -> 2\ncontrol\n").status, 0);
  EXPECT_EQ(Requests("SETUP.ZIP"), 2);
}

TEST_F(DownloadScenarioTest, OutOfDateUpdateCheckerIsReplacedAndStarted) {
  SetSourceOption("force_show_look_for_updates", "Y");
  const std::string marker = sysroot_.path("freshen-started");
  WriteStartRecorder(Server("FRESHEN.ZIP"), "Freshen.app", "Freshen", marker);
  IniSet(Server("VERSION2M.INI"), "Records", "freshen2_ver", "0~999.000.000.000");

  RunResult run = Setup(kStart + kFoundations1 + "prompt:MSG_CheckForUpdatesNow -> 1\n" + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(AppearsWithin(marker, std::chrono::seconds(10)));
  EXPECT_NE(ReadTestFile(Installed("Freshen.app/Contents/MacOS/Freshen")).find(marker),
            std::string::npos)
      << "the installed update checker is the one of FRESHEN.ZIP";
  EXPECT_EQ(Requests("FRESHEN.ZIP"), 1);
  EXPECT_EQ(Requests("VERSION2M.INI"), 1) << "the version file is fetched once per run";
  EXPECT_NE(Log().find("Out-of-date: freshen2_ver"), std::string::npos);
}

}  // namespace
}  // namespace nuvel::testing
