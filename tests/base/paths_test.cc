#include "base/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "base/file_utils.h"
#include "base/log.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/syscalls.h"
#include "tests/support/module_state.h"
#include "tests/support/fake_backend.h"
#include "tests/support/test_env.h"
#include "ui/dialog.h"

namespace nuvel::base {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

void ResetModules() { nuvel::testing::ResetBaseModules(); }

// Every dialog shown is recorded by the fake back end and answered with its first button.
class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModules();
    auto fake = std::make_unique<ui::testing::FakeBackend>();
    backend_ = fake.get();
    ui::SetBackend(std::move(fake));
    system_ = sysroot_.path("opt/Nuvel/");
  }
  void TearDown() override {
    ResetModules();
    ui::SetBackend(nullptr);
  }

  std::string Make(const std::string& relative, const std::string& data = "x") {
    std::string path = sysroot_.path(relative);
    WriteTestFile(path, data);
    return path;
  }

  // The log's lines without their numbers, times and level markers.
  std::vector<std::string> LogTexts() {
    std::vector<std::string> texts;
    std::string data = ReadTestFile(system_ + "Nuvel_log.txt");
    for (std::size_t start = 0, end; start < data.size(); start = end + 2) {
      end = std::min(data.find("\r\n", start), data.size());
      std::string line = data.substr(start, end - start);
      texts.push_back(line.substr(line.find('>') + 1));  // npos + 1 is the whole line
    }
    return texts;
  }
  bool LogHas(const std::string& text) {
    auto lines = LogTexts();
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }
  std::vector<ui::Dialog>& Shown() { return backend_->shown; }
  std::string Setting(const std::string& file, const char* key, const char* missing = "") {
    std::string value;
    GetNuvelPrivateProfileString("Records", key, missing, value, kProfileValueSize, file);
    return value;
  }

  TestSysroot sysroot_;
  ui::testing::FakeBackend* backend_ = nullptr;
  std::string system_;  // the system folder the tests' sysroot gets, with "/"
};

// ---- Where folders lie ---------------------------------------------------------------------

using PathDerivationTest = PathsTest;

TEST_F(PathDerivationTest, LocalInstallationKeepsRecordsInTheSystemFolder) {
  std::string apps = sysroot_.path("opt/Courses");
  fs::create_directories(apps);
  WriteTestFile(system_ + "records.ini", "[Records]\r\nserver_num=007\r\n");
  Initialize_All_Paths(apps);

  EXPECT_EQ(Path("nuvel_apps"), apps + "/");
  EXPECT_EQ(Path("nuvel_user"), system_);
  EXPECT_EQ(Path("nuvel_data"), system_);
  EXPECT_EQ(Path("records.ini"), system_ + "records.ini");
  EXPECT_EQ(Path("content"), apps + "/content/");
  EXPECT_EQ(Path("launch"), apps + "/launch/");
  EXPECT_EQ(GetRecordsIniDirectoryPath(), sysroot_.path("opt/Nuvel"));

  // The student data folder follows the server number of records.ini.
  EXPECT_EQ(Path("students.ini"), system_ + "data_i_007/students.ini");
  std::string value = "150";
  WriteNuvelPrivateProfileString("Records", "server_num", value, system_ + "records.ini");
  ResetDataIDirectoryPath(0);
  EXPECT_EQ(GetDataIDirectoryPath(), system_ + "data_i_001") << "out of range counts as 1";
}

TEST_F(PathDerivationTest, NetworkInstallationKeepsRecordsInTheInstallationFolder) {
  std::string apps = sysroot_.path("srv/share/Nuvel");
  fs::create_directories(apps);
  ::setenv("NUVEL_NETWORK_PATHS", sysroot_.path("srv/share").c_str(), 1);
  Initialize_All_Paths(apps);

  EXPECT_EQ(GetIsPathNetworked(), 1);
  EXPECT_EQ(Path("nuvel_data"), apps + "/");
  EXPECT_EQ(Path("records.ini"), apps + "/records.ini");
  EXPECT_EQ(Path("local_prd"), apps + "/support_local/local_prd/");
  EXPECT_EQ(Path("students.ini"), apps + "/data_i_001/students.ini");
  EXPECT_EQ(Path("Records Manager.app"), apps + "/Records Manager.app");
  EXPECT_EQ(GetNuvelIniPath(Path("launch"), "101ENG50"), apps + "/launch/101ENG50/NUVEL.INI");
  // The per-machine files stay on the machine.
  EXPECT_EQ(Path("nuvel_user"), system_);
  EXPECT_EQ(Path("Nuvel_log.txt"), system_ + "Nuvel_log.txt");
  EXPECT_EQ(Path("no_such_name"), "");
  EXPECT_EQ(Path(""), "");
}

TEST_F(PathDerivationTest, RemovableDriveKeepsRecordsOnTheDrive) {
  std::string apps = sysroot_.path("media/stick/Nuvel");
  fs::create_directories(apps);
  // The stick is a removable drive; the system folder's volume is not.
  ::setenv("NUVEL_VOLUMES",
           (sysroot_.path("media/stick") + ":rw:usb," + sysroot_.root() + ":rw").c_str(), 1);
  Initialize_All_Paths(apps);
  EXPECT_EQ(Paths().USB_Drive, 1);
  EXPECT_EQ(GetIsPathNetworked(), 1);
  EXPECT_EQ(Path("records.ini"), apps + "/records.ini");
  EXPECT_EQ(Path("nuvel_user"), system_);

  // The same installation on a fixed disk keeps its records in the system folder.
  ::setenv("NUVEL_VOLUMES",
           (sysroot_.path("media/stick") + ":rw," + sysroot_.root() + ":rw").c_str(), 1);
  Initialize_All_Paths(apps);
  EXPECT_EQ(Paths().USB_Drive, 0);
  EXPECT_EQ(Path("records.ini"), system_ + "records.ini");
}

TEST_F(PathDerivationTest, LogTellsMissingLocationsFoundOnesFromLevelFourAndARestart) {
  std::string apps = sysroot_.path("opt/Courses");
  fs::create_directories(apps + "/content");
  for (const char* level : {"3", "4"}) {
    SCOPED_TRACE(level);
    ResetModules();
    WriteTestFile(system_ + "records.ini", std::string("[Records]\r\nlog_level=") + level);
    fs::remove(system_ + "Nuvel_log.txt");
    Initialize_All_Paths(apps);
    EXPECT_EQ(LogHas("GetContentDirectoryPath LOCATION " + apps + "/content"), *level == '4');
    EXPECT_TRUE(LogHas("GetLaunchDirectoryPath MISSING LOCATION " + apps + "/launch"));
  }
  // A second initialization in the same run marks the restart, once.
  Initialize_All_Paths(apps);
  std::vector<std::string> lines = LogTexts();
  const std::string tilde(55, '~');
  const std::string title = std::string(18, ' ') + "STARTING AFTER QUIT" + std::string(18, ' ');
  const std::vector<std::string> block = {"  ", "  ", "  ", tilde, title, tilde};
  EXPECT_NE(std::search(lines.begin(), lines.end(), block.begin(), block.end()), lines.end());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), title), 1);
}

TEST_F(PathsTest, TemporaryFolderIsComparedWithoutRegardToCase) {
  EXPECT_EQ(AreWeRunningFromTheTempFolder(), 0);
  std::string here = platform::ApplicationFolder();
  ASSERT_FALSE(here.empty());
  ::setenv("TMPDIR", (UpperAscii(here) + "/").c_str(), 1);
  EXPECT_EQ(AreWeRunningFromTheTempFolder(), 1);
}

// ---- The system folder and records.ini ----------------------------------------------------

using PathsRecordsIniTest = PathsTest;

TEST_F(PathsRecordsIniTest, ServerLogsPutTheSystemFolderWithTheRecords) {
  std::string records = sysroot_.path("srv/records/");
  Make("srv/records/records.ini", "[Records]\r\nserver_logs=Yes\r\n");
  Paths().rRecordsIniPath = records;
  EXPECT_EQ(FindLocalNuvelDirectory(), records);
  EXPECT_FALSE(fs::exists(system_)) << "no system folder is made when the server keeps the log";
}

TEST_F(PathsRecordsIniTest, LaunchPathChoosesTheInstallationFolderElseTheDefaultOneIsNew) {
  // Without server logs the system folder is made in the applications folder.
  ASSERT_EQ(FindLocalNuvelDirectory(), system_);
  EXPECT_TRUE(fs::is_directory(system_));
  Paths().rRecordsIniPath = system_;
  Read_RecordsIni();
  EXPECT_EQ(Paths().just_created_records_ini, 1);
  EXPECT_EQ(GetInstallDirectoryPath(), sysroot_.path("opt/Nuvel"));
  EXPECT_EQ(Paths().DataPath, system_ + "launch/");
  EXPECT_EQ(Paths().RecordsPath, system_);

  std::string apps = sysroot_.path("opt/Courses");
  fs::create_directories(apps);
  std::string dos = apps;
  for (char& c : dos) c = c == '/' ? '\\' : c;
  Make("opt/Nuvel/records.ini", "[Records]\r\nlaunch_path_local=" + dos + "\\\r\n");
  FreePrivateProfile();
  Read_RecordsIni();
  EXPECT_EQ(Paths().just_created_records_ini, 0);
  EXPECT_EQ(GetInstallDirectoryPath(), apps);
  EXPECT_EQ(Paths().DataPath, apps + "/launch/");
}

constexpr const char* kRecords =
    "[Records]\r\n"
    "launch_path_local=/opt/Courses\r\n"
    "recordsipaddress=10.0.0.5\r\n"
    "recordsipport=8080\r\n"
    "; a comment\r\n"
    "  RecordsIPAddress = 10.0.0.6\n"
    "server_num=003";

TEST_F(PathsRecordsIniTest, RemoveLineCommentsTheLineInPlaceOrDropsIt) {
  std::string file = Make("opt/Nuvel/records.ini", kRecords);
  EXPECT_EQ(RemoveLineFromRecordsIni(file, "recordsipaddress", 1), 1);
  EXPECT_EQ(ReadTestFile(file),
            "[Records]\r\n"
            "launch_path_local=/opt/Courses\r\n"
            ";recordsipaddress=10.0.0.5\r\n"
            "recordsipport=8080\r\n"
            "; a comment\r\n"
            ";  RecordsIPAddress = 10.0.0.6\n"
            "server_num=003");
  EXPECT_EQ(Setting(file, "recordsipaddress", "none"), "none") << "no longer a setting";

  // Mode 2 drops the line with its end, and the cached setting.
  Make("opt/Nuvel/records.ini", kRecords);
  FreePrivateProfile();
  ASSERT_EQ(Setting(file, "server_num"), "003");
  EXPECT_EQ(RemoveLineFromRecordsIni(file, " Server_Num ", 2), 1);
  EXPECT_EQ(Setting(file, "server_num"), "") << "the cached setting goes too";
  EXPECT_EQ(RemoveLineFromRecordsIni(file, "recordsipaddress", 2), 1);
  EXPECT_EQ(ReadTestFile(file),
            "[Records]\r\n"
            "launch_path_local=/opt/Courses\r\n"
            "recordsipport=8080\r\n"
            "; a comment\r\n");
}

TEST_F(PathsRecordsIniTest, RemoveLineLeavesTheFileWholeWhenTheKeyIsAbsentOrTheRewriteFails) {
  std::string file = Make("opt/Nuvel/records.ini", kRecords);
  const std::int64_t old_time = 1000000000;
  ASSERT_FALSE(platform::SetModificationTime(file, old_time));
  EXPECT_EQ(RemoveLineFromRecordsIni(file, "proxyipaddress", 1), 0);
  EXPECT_EQ(RemoveLineFromRecordsIni(file, "recordsipaddress", 3), 0);
  EXPECT_EQ(ReadTestFile(file), kRecords);
  platform::FileTimes times;
  ASSERT_FALSE(platform::GetFileTimes(file, times));
  EXPECT_EQ(times.modified, old_time) << "an unchanged file is not rewritten";
  EXPECT_EQ(RemoveLineFromRecordsIni(sysroot_.path("missing.ini"), "x", 1), -1);

  platform::syscalls().write = [](int, const void*, std::size_t) -> long {
    errno = ENOSPC;
    return -1;
  };
  EXPECT_EQ(RemoveLineFromRecordsIni(file, "recordsipaddress", 1), -1);
  platform::ResetSyscalls();
  EXPECT_EQ(ReadTestFile(file), kRecords);
}

// ---- Versions of the companions --------------------------------------------------------------

class PathsCompanionVersionsTest : public PathsTest {
 protected:
  void SetUp() override {
    PathsTest::SetUp();
    apps_ = sysroot_.path("opt/Courses");
    fs::create_directories(apps_);
    Initialize_All_Paths(apps_);
    records_ = GetRecordsIniFilePath();
    WriteTestFile(records_,
                  "[Records]\r\nrm2_ver=0.5\r\nlauncher2_ver=100.001.000.000\r\n"
                  "analyze2_ver=abc.000.000.000\r\n");
    FreePrivateProfile();
  }

  void MakeBundle(const std::string& name, const std::string& resource) {
    std::string bundle = apps_ + "/" + name + ".app";
    fs::create_directories(bundle + "/Contents/MacOS");
    if (!resource.empty()) {
      WriteTestFile(bundle + "/Contents/Resources/" + name + ".rsrc", resource);
    }
  }

  std::string Stored(const char* key) { return Setting(records_, key, "(absent)"); }

  std::string apps_;
  std::string records_;
};

TEST_F(PathsCompanionVersionsTest, ReadableVersionsAreWrittenAndOthersLeftAlone) {
  MakeBundle("Launcher", "[vers]\r\n1=3.6.2 (MID v2.3)\r\n");
  MakeBundle("Records Manager", "");  // its version cannot be read
  MakeBundle("Analyzer", "[vers]\r\nGetInfoString=ABC.000.000.000\r\n");
  // The speech library lies where the installation puts the technology.
  WriteTestFile(apps_ + "/techm/sr/libbabear.dylib", "lib");
  WriteTestFile(apps_ + "/techm/sr/libbabear.dylib.rsrc", "[vers]\r\n1=7.1.0 (MID v3.6)\r\n");

  UpDateRecordsIniWithActualVersions();
  EXPECT_EQ(Stored("launcher2_ver"), "230.003.006.002");
  EXPECT_EQ(Stored("rm2_ver"), "0.5");
  EXPECT_EQ(Stored("analyze2_ver"), "abc.000.000.000") << "equal without regard to case";
  EXPECT_EQ(Stored("babel_ver_mac"), "360.007.001.000");
  EXPECT_EQ(Stored("freshen2_ver"), "(absent)") << "no Freshen.app installed";
  EXPECT_TRUE(Shown().empty());
}

platform::Syscalls gReal;

// Settings files are rewritten through a temporary file beside them; refusing it makes every
// settings write fail while the log and reads go on.
int FailOpenOfTemporaryFiles(const char* path, int flags, unsigned mode) {
  if (std::string_view(path).find(".tmp") != std::string_view::npos) {
    errno = EACCES;
    return -1;
  }
  return gReal.open(path, flags, mode);
}

TEST_F(PathsCompanionVersionsTest, FailedWriteOfTheRecordsManagerVersionIsTold) {
  MakeBundle("Records Manager", "[vers]\r\n1=3.6.2 (MID v2.3)\r\n");
  gReal = platform::syscalls();
  platform::syscalls().open = FailOpenOfTemporaryFiles;
  UpDateRecordsIniWithActualVersions();
  platform::ResetSyscalls();
  EXPECT_EQ(Stored("rm2_ver"), "0.5");
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].id, "MSG_Message_CannotWriteFile");
  const auto& items = Shown()[0].items;
  EXPECT_TRUE(std::any_of(items.begin(), items.end(), [&](const ui::DialogItem& item) {
    return item.text.find(records_) != std::string::npos;
  })) << "the message names records.ini";
}

}  // namespace
}  // namespace nuvel::base
