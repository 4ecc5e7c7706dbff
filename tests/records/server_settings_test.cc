#include "records/server_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "net/download.h"
#include "net/update_check.h"
#include "platform/process.h"
#include "tests/support/fake_backend.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"
#include "ui/dialog.h"

namespace nuvel::records {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;
using Strings = std::vector<std::string>;

// A server list as the sample source ships it, shortened to three servers.
const std::string kList =
    "[Records]\r\n"
    "setup2_ver=362.023.008.021~400.001.000.000\r\n"
    "server_list_ver=023\r\n"
    "server_001_server_name=Main\r\n"
    "server_001_recordsipaddress=rs001.nuvel-records.example\r\n"
    "server_001_recordsipport=80\r\n"
    "server_001_cgipath=NuvelRS.NRS\r\n"
    "server_001_wo_responsepage=none\r\n"
    "server_001_streamingaddress=stream001.nuvel-records.example\r\n"
    "server_003_server_name=Europe Central\r\n"
    "server_003_recordsipaddress=rs003.nuvel-records.example\r\n"
    "server_003_recordsipport=8080\r\n"
    "server_003_wo_responsepage=none\r\n"
    "server_003_streamingaddress=stream003.nuvel-records.example\r\n"
    "server_003_downloadaddress=http://download-eu.nuvel-courses.example/courses2\r\n"
    "server_007_server_name=Web Asia\r\n"
    "server_007_recordsipaddress=rs007.nuvel-records.example\r\n"
    "server_007_cgipath=NuvelWeb.NRS\r\n"
    "server_007_wo_responsepage=/webi/%s.html\r\n"
    "server_007_streamingaddress=stream007.nuvel-records.example\r\n"
    "server_007_force_download_courses_path=courses_d\r\n";

class ServerSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nuvel::testing::ResetBaseModules();
    auto fake = std::make_unique<ui::testing::FakeBackend>();
    backend_ = fake.get();
    ui::SetBackend(std::move(fake));
    system_ = sysroot_.path("opt/Nuvel/");
    apps_ = sysroot_.path("srv/Courses");
    fs::create_directories(apps_);
    if (network_) ::setenv("NUVEL_NETWORK_PATHS", sysroot_.path("srv").c_str(), 1);
    base::Initialize_All_Paths(apps_);
    // No test reaches the download server: the version file counts as fetched in this run.
    net::UpdateCheck().versionFile_HasBeenDownloaded = 1;
    base::Run().DownloadAddress = net::kDefaultDownloadAddress;
  }
  void TearDown() override {
    ::unsetenv("NUVEL_NETWORK_PATHS");
    nuvel::testing::ResetBaseModules();
    ui::SetBackend(nullptr);
  }

  std::string Records() const { return base::GetRecordsIniFilePath(); }
  std::string List() const { return system_ + "VERSION2M.INI"; }
  void WriteRecords(const std::string& lines) { Write(Records(), "[Records]\r\n" + lines); }
  void Write(const std::string& path, const std::string& data) {
    WriteTestFile(path, data);
    base::FreePrivateProfile();
  }
  std::string Setting(const std::string& key) {
    base::FreePrivateProfile();
    return base::ProfileValue(kRecordsSection, key, "<absent>", Records());
  }
  Strings ShownIds() const {
    Strings ids;
    for (const ui::Dialog& dialog : backend_->shown) ids.push_back(dialog.id);
    return ids;
  }
  bool LogHas(const std::string& text) const {
    return ReadTestFile(system_ + "Nuvel_log.txt").find(text) != std::string::npos;
  }

  bool network_ = false;
  TestSysroot sysroot_;
  ui::testing::FakeBackend* backend_ = nullptr;
  std::string system_;  // the local system folder, with "/"
  std::string apps_;    // the installation folder
};

// ---- Choosing a server ---------------------------------------------------------------------

using ChoosingAServerTest = ServerSettingsTest;

TEST_F(ChoosingAServerTest, ListRowGoesIntoRecordsIniAndTheRunningState) {
  Write(List(), kList);
  EXPECT_EQ(Set_RS_Values(7, 0), 1);

  EXPECT_EQ(Setting("server_num"), "007");
  EXPECT_EQ(Setting("server_list_ver"), "023");
  EXPECT_EQ(Setting("server_name"), "Web Asia");
  EXPECT_EQ(Setting("recordsipaddress"), "rs007.nuvel-records.example");
  EXPECT_EQ(Setting("cgipath"), "NuvelWeb.NRS");
  EXPECT_EQ(Setting("force_download_courses_path"), "courses_d");
  EXPECT_EQ(Setting("recordsipport"), "<absent>") << "server 3's port is not server 7's";
  const ServerSettings& rs = RS();
  EXPECT_EQ(rs.rs_server_number, 7);
  EXPECT_EQ(rs.RecordsIPAddress, "rs007.nuvel-records.example");
  EXPECT_EQ(rs.cgiPath, "NuvelWeb.NRS");
  EXPECT_EQ(rs.woResponsePageIniSetting, "/webi/%s.html");
  EXPECT_EQ(rs.streamingServer, "stream007.nuvel-records.example");
  EXPECT_EQ(rs.force_download_courses_path, "courses_d");
  EXPECT_TRUE(IsRecordsServerWebi());
  EXPECT_TRUE(IsRecordsServerIsInChina());
  EXPECT_EQ(rs.DATA_I_PATH, system_ + "data_i_007");
  EXPECT_TRUE(fs::is_directory(rs.DATA_I_PATH)) << "the new server's data folder is created";
  EXPECT_TRUE(ShownIds().empty()) << "no announcement was asked for";
}

TEST_F(ChoosingAServerTest, NoneAsResponsePageLeavesTheOverrideEmpty) {
  Write(List(), kList);
  RS().woResponsePageIniSetting = "/webi/%s.html";  // left from the web server
  Set_RS_Values(3, 0);
  EXPECT_EQ(RS().woResponsePageIniSetting, "");
  EXPECT_EQ(Setting("wo_responsepage"), "none") << "records.ini keeps the list's text";
  EXPECT_EQ(RS().RecordsIPPort, 8080);
  EXPECT_EQ(RS().DownloadAddress, "http://download-eu.nuvel-courses.example/courses2");
  EXPECT_EQ(base::Run().DownloadAddress, RS().DownloadAddress) << "downloads follow the server";
  EXPECT_FALSE(IsRecordsServerIsInChina());
}

TEST_F(ChoosingAServerTest, SameAddressOnTheMakersDownloadServerStopsCopying) {
  Write(List(), kList);
  RS().RecordsIPAddress = "rs003.nuvel-records.example";
  Set_RS_Values(3, 0);
  EXPECT_EQ(Setting("server_num"), "003");
  EXPECT_EQ(Setting("server_name"), "Europe Central") << "lines before the address are copied";
  EXPECT_EQ(Setting("recordsipport"), "<absent>") << "the settings were current";

  base::Run().DownloadAddress = "http://courses.school.example/courses2";
  Set_RS_Values(3, 0);
  EXPECT_EQ(Setting("recordsipport"), "8080") << "another download server: copied again";
}

TEST_F(ChoosingAServerTest, ServerTheListDoesNotKnowTakesRecordsIniPerServerKeys) {
  Write(List(), kList);
  WriteRecords(
      "server_042_server_name=School server\r\n"
      "server_042_recordsipaddress=10.1.2.3\r\n"
      "server_042_recordsipport=8081\r\n"
      "server_042_wo_responsepage=none\r\n"
      "server_042_downloadaddress=http://files.school.example/courses2\r\n"
      "cgipath=Old.NRS\r\n");
  RS().cgiPath = "Old.NRS";
  RS().streamingServer = "stream001.nuvel-records.example";
  RS().woResponsePageIniSetting = "/webi/%s.html";

  EXPECT_EQ(Set_RS_Values(42, 0), 0);
  EXPECT_EQ(Setting("server_num"), "042");
  EXPECT_EQ(Setting("server_name"), "School server");
  EXPECT_EQ(Setting("recordsipaddress"), "10.1.2.3");
  EXPECT_EQ(Setting("recordsipport"), "8081");
  EXPECT_EQ(Setting("downloadaddress"), "http://files.school.example/courses2");
  EXPECT_EQ(Setting("cgipath"), "Old.NRS") << "a missing per-server key writes nothing";
  const ServerSettings& rs = RS();
  EXPECT_EQ(rs.rs_server_number, 42);
  EXPECT_EQ(rs.RecordsIPAddress, "10.1.2.3");
  EXPECT_EQ(rs.RecordsIPPort, 8081);
  EXPECT_EQ(rs.cgiPath, "") << "a missing per-server key empties the running value";
  EXPECT_EQ(rs.streamingServer, "");
  EXPECT_EQ(rs.woResponsePageIniSetting, "");
  EXPECT_EQ(rs.DownloadAddress, "http://files.school.example/courses2");
}

TEST_F(ChoosingAServerTest, LongRecordsAddressIsCutTo63Characters) {
  const std::string address = std::string(70, 'a') + ".example";
  Write(List(),
        kList + "server_009_server_name=Japan\r\nserver_009_recordsipaddress=" + address + "\r\n");
  Set_RS_Values(9, 0);
  EXPECT_EQ(RS().RecordsIPAddress, address.substr(0, 63));
}

TEST_F(ChoosingAServerTest, MinusOneAsksForAServerAndChangesNothing) {
  Write(List(), kList);
  WriteRecords("server_num=003\r\n");
  EXPECT_EQ(Set_RS_Values(-1, 1), -1);
  EXPECT_EQ(ShownIds(), Strings{"MSG_ChooseARecordsServer"});
  EXPECT_EQ(Setting("server_num"), "003");
  EXPECT_EQ(Set_RS_Values(101, 0), -1);
  EXPECT_EQ(Setting("server_num"), "003");
}

TEST_F(ChoosingAServerTest, AnnouncedSwitchMovesTheDataFolderAsideToTheFirstFreeName) {
  Write(List(), kList);
  WriteTestFile(system_ + "data_i_003/students.ini", "[Students]\r\n");
  fs::create_directories(system_ + "data_i_003_000.old");

  Set_RS_Values(3, 1);
  ASSERT_EQ(ShownIds(), Strings{"MSG_SwitchedRecordsServer"});
  const ui::Dialog& shown = backend_->shown[0];
  bool names_server = false;
  for (const ui::DialogItem& item : shown.items) {
    names_server = names_server || item.text.find("Europe Central") != std::string::npos;
  }
  EXPECT_TRUE(names_server) << "the announcement names the new server";
  EXPECT_EQ(ReadTestFile(system_ + "data_i_003_001.old/students.ini"), "[Students]\r\n");
  EXPECT_TRUE(fs::is_directory(system_ + "data_i_003"));
  EXPECT_FALSE(fs::exists(system_ + "data_i_003/students.ini")) << "the new folder starts empty";
  EXPECT_TRUE(LogHas("The 'data_i' folder was renamed from " + system_ + "data_i_003 to " +
                     system_ + "data_i_003_001.old"));
}

TEST_F(ChoosingAServerTest, UnannouncedSwitchKeepsTheDataFolder) {
  Write(List(), kList);
  WriteTestFile(system_ + "data_i_003/students.ini", "[Students]\r\n");
  Set_RS_Values(3, 0);
  EXPECT_EQ(ReadTestFile(system_ + "data_i_003/students.ini"), "[Students]\r\n");
  EXPECT_FALSE(fs::exists(system_ + "data_i_003_000.old"));
}

TEST_F(ChoosingAServerTest, PlainDataFolderBecomesTheServersFolder) {
  WriteTestFile(system_ + "data_i/students.ini", "kept");
  RS().rs_server_number = 5;
  EXPECT_EQ(Resolve_DATA_I_Path(), system_ + "data_i_005");
  EXPECT_EQ(ReadTestFile(system_ + "data_i_005/students.ini"), "kept");
  EXPECT_FALSE(fs::exists(system_ + "data_i"));

  RS().rs_server_number = 1;
  EXPECT_EQ(Resolve_DATA_I_Path(), system_ + "data_i_001");
  EXPECT_FALSE(fs::exists(system_ + "data_i_001")) << "server 1's folder is not created";
  EXPECT_EQ(RS().DATA_I_PATH, system_ + "data_i_001");
}

TEST_F(ChoosingAServerTest, UnsetAddressAndPortGetTheDefaults) {
  RS().RecordsIPAddress = "0.0.0.0";
  RS().RecordsIPPort = 0;
  Prompt_User_IP();
  EXPECT_EQ(Setting("recordsipaddress"), kDefaultRecordsAddress);
  EXPECT_EQ(Setting("recordsipport"), "80");

  RS().RecordsIPAddress = "10.0.0.9";
  RS().RecordsIPPort = 8443;
  Prompt_User_IP();
  EXPECT_EQ(Setting("recordsipaddress"), "10.0.0.9");
  EXPECT_EQ(Setting("recordsipport"), "8443");
}

// ---- The server popup ----------------------------------------------------------------------

using ServerPopupTest = ServerSettingsTest;

TEST_F(ServerPopupTest, ServerNumberOutOfRangeSelectsServerOne) {
  for (const char* number : {"000", "150"}) {
    SCOPED_TRACE(number);
    Write(List(), kList);
    WriteRecords(std::string("server_num=") + number + "\r\n");
    ServerPopup popup;
    ASSERT_EQ(Fill_RS_Popup(popup), 1);
    EXPECT_EQ(RS().rs_server_number, 1);
    ASSERT_EQ(popup.selected, 1);
    EXPECT_EQ(RS().OrderRS[1], 1);
    EXPECT_EQ(popup.name, "Main");
  }
}

TEST_F(ServerPopupTest, ListsTheListsServersThenRecordsIniServersOnce) {
  Write(List(), kList);
  WriteRecords(
      "server_num=007\r\nserver_list_ver=023\r\nwo_responsepage=/webi/%s.html\r\n"
      "streamingaddress=stream007.nuvel-records.example\r\n"
      "server_042_server_name=School server\r\nserver_003_server_name=Europe Central\r\n");
  ServerPopup popup;
  ASSERT_EQ(Fill_RS_Popup(popup), 1);
  EXPECT_EQ(popup.entries, (Strings{"Choose a Records server", "Main", "Europe Central", "Web Asia",
                                    "School server"}));
  EXPECT_EQ(RS().OrderRS, (std::vector<int>{-1, 1, 3, 7, 42}));
  EXPECT_EQ(RS().rs_count, 5);
  EXPECT_EQ(popup.selected, 3);
  EXPECT_EQ(popup.name, "Web Asia");
  EXPECT_TRUE(popup.popup_visible);
  EXPECT_FALSE(popup.name_visible);
  EXPECT_EQ(popup.label, "Records server:");
  EXPECT_EQ(Setting("recordsipaddress"), "<absent>") << "same list version: nothing copied";
}

TEST_F(ServerPopupTest, ShowAllServersTwoLocksTheChosenServer) {
  Write(List(), kList);
  WriteRecords("server_num=003\r\n");
  RS().show_all_servers = 2;
  ServerPopup popup;
  Fill_RS_Popup(popup);
  EXPECT_FALSE(popup.popup_visible);
  EXPECT_TRUE(popup.name_visible);
  EXPECT_FALSE(popup.name_enabled);
  EXPECT_EQ(popup.name, "Europe Central");

  RS().records_viewer_mode = 1;
  Fill_RS_Popup(popup);
  EXPECT_TRUE(popup.popup_visible) << "the records viewer may change servers";

  RS().records_viewer_mode = 0;
  RS().RecordsIPAddress.clear();  // would choose its server again
  WriteRecords("");
  Fill_RS_Popup(popup);
  EXPECT_TRUE(popup.popup_visible) << "no server chosen yet";
  EXPECT_EQ(popup.selected, 0);
}

TEST_F(ServerPopupTest, SettingsFromAnOlderListAreBroughtUpToDate) {
  Write(List(), kList);
  WriteRecords(
      "server_num=003\r\nserver_list_ver=020\r\nrecordsipaddress=old.nuvel-records.example\r\n"
      "wo_responsepage=none\r\nstreamingaddress=stream003.nuvel-records.example\r\n");
  ServerPopup popup;
  Fill_RS_Popup(popup);
  EXPECT_EQ(Setting("recordsipaddress"), "rs003.nuvel-records.example");
  EXPECT_EQ(Setting("server_list_ver"), "023");
}

TEST_F(ServerPopupTest, SettingsWithoutStreamingAddressCountAsTheFirstList) {
  Write(List(), kList);
  WriteRecords("server_num=003\r\nserver_list_ver=023\r\nwo_responsepage=none\r\n");
  ServerPopup popup;
  Fill_RS_Popup(popup);
  EXPECT_EQ(Setting("streamingaddress"), "stream003.nuvel-records.example");
}

TEST_F(ServerPopupTest, KnownAddressChoosesItsServer) {
  Write(List(), kList);
  WriteRecords("");
  RS().RecordsIPAddress = "  RS003.Nuvel-Records.example ";
  ServerPopup popup;
  Fill_RS_Popup(popup);
  EXPECT_EQ(RS().rs_server_number, 3);
  EXPECT_EQ(Setting("server_num"), "003");
  EXPECT_EQ(popup.name, "Europe Central");
  EXPECT_EQ(RS().OrderRS[popup.selected], 3);
}

TEST_F(ServerPopupTest, RetiredHostCountsAsItsSuccessorWhenMatched) {
  Write(List(), kList);
  RS().RecordsIPAddress = RetiredHosts()[0].old_host;
  ServerPopup popup;
  int selected = -1;
  EXPECT_EQ(Read_Record_Server_names(List(), popup, selected), 1);
  EXPECT_EQ(RS().rs_server_number, 1);
  EXPECT_EQ(popup.entries[selected], "Main");
}

TEST_F(ServerPopupTest, RetiredHostInRecordsIniIsReplaced) {
  Write(List(), kList);
  WriteRecords(std::string("recordsipaddress=") + RetiredHosts()[1].old_host + "\r\n");
  ServerPopup popup;
  Fill_RS_Popup(popup);
  EXPECT_EQ(RS().rs_server_number, 7) << "the successor's address is a server of the list";
  EXPECT_EQ(Setting("recordsipaddress"), "rs007.nuvel-records.example");
  EXPECT_EQ(RS().DownloadAddress, RetiredHosts()[1].download_address);

  WriteRecords(
      "server_num=007\r\ndownloadaddress=http://download-asia.nuvel-learning.example/x\r\n");
  Fill_RS_Popup(popup);
  EXPECT_EQ(Setting("downloadaddress"), RetiredHosts()[1].download_address);
}

TEST_F(ServerPopupTest, OnlyWellFormedNameLinesBecomeEntries) {
  Write(List(),
        "[Records]\r\nserver_list_ver=023\r\n"
        "server_000_server_name=Zero\r\nserver_100_server_name=Hundred\r\n"
        "server_01x_server_name=Letters\r\nserver_012_server_name=\r\n"
        "server_013_server_name=" +
            std::string(490, 'n') +
            "\r\n"
            "SERVER_014_Server_Name = Upper\r\nserver_015_server_namex=Other key\r\n");
  ServerPopup popup;
  int selected = 0;
  Read_Record_Server_names(List(), popup, selected);
  EXPECT_EQ(popup.entries, Strings{"Upper"}) << "a 514-character line is not read";
  EXPECT_EQ(RS().OrderRS, std::vector<int>{14});
}

TEST_F(ServerPopupTest, MissingListOnALocalInstallationEndsTheRunOnQuit) {
  WriteRecords("server_num=003\r\n");
  backend_->answer = [](ui::Dialog&) { return 2; };
  ServerPopup popup;
  EXPECT_EQ(Fill_RS_Popup(popup), 0);
  EXPECT_EQ(ShownIds(), Strings{"MSG_Err_Cannot_Open_Files_Needed"});
  EXPECT_EQ(base::Run().quitFlag, 1);
}

TEST_F(ServerPopupTest, ListWithoutVersionIsDeleted) {
  Write(List(), "[Records]\r\nserver_001_server_name=Main\r\n");
  backend_->answer = [](ui::Dialog&) { return 2; };
  ServerPopup popup;
  EXPECT_EQ(Fill_RS_Popup(popup), 0);
  EXPECT_FALSE(fs::exists(List()));
}

class NetworkPopupTest : public ServerSettingsTest {
 protected:
  NetworkPopupTest() { network_ = true; }
};

TEST_F(NetworkPopupTest, EmptyLocalListIsReplacedByTheServersCopy) {
  ASSERT_EQ(base::GetRecordsIniDirectoryPath(), apps_) << "records live with the installation";
  Write(List(), "");
  Write(apps_ + "/VERSION2M.INI", kList);
  ServerPopup popup;
  ASSERT_EQ(Fill_RS_Popup(popup), 1);
  EXPECT_EQ(ReadTestFile(List()), kList);
  EXPECT_EQ(popup.entries.size(), 4u);
  EXPECT_TRUE(
      LogHas("WARNING: VERSION File exists on the server: (1) " + apps_ + "/VERSION2M.INI"));
}

TEST_F(NetworkPopupTest, ServerMissingFromTheServersListEndsTheRun) {
  Write(apps_ + "/VERSION2M.INI", kList);
  Write(List(), kList);
  WriteRecords("server_num=005\r\n");
  ServerPopup popup;
  EXPECT_EQ(Fill_RS_Popup(popup), 0);
  EXPECT_EQ(ShownIds(), Strings{"WARNING: VERSION File is old on the server"});
  EXPECT_EQ(base::Run().quitFlag, 1);
  EXPECT_TRUE(LogHas("Try to download a new VERSION file"));
}

// ---- Numbers and names ---------------------------------------------------------------------

TEST(ServerNumbersTest, SettersAcceptOnlyTheirRanges) {
  nuvel::testing::ResetBaseModules();
  EXPECT_TRUE(SetRecordsServerNumber(99));
  EXPECT_FALSE(SetRecordsServerNumber(100));
  EXPECT_FALSE(SetRecordsServerNumber(-1));
  EXPECT_EQ(GetRecordsServerNumber(), 99);
  EXPECT_TRUE(SetShowAllServers(1));
  EXPECT_FALSE(SetShowAllServers(2));
  EXPECT_EQ(GetShowAllServers(), 1);
  for (int number : {8, 18, 21}) {
    SetRecordsServerNumber(number);
    EXPECT_TRUE(IsRecordsServerIsInChina()) << number;
    EXPECT_FALSE(IsRecordsServerWebi()) << number;
  }
  nuvel::testing::ResetBaseModules();
}

TEST(AddressTextTest, DottedAddressesBecomeNumbers) {
  EXPECT_EQ(GetUnsignedLongFromDottedDecimal("10.0.0.1"), 167772161u);
  EXPECT_EQ(GetUnsignedLongFromDottedDecimal("255.255.255.255"), 4294967295u);
  EXPECT_EQ(GetUnsignedLongFromDottedDecimal("192.168.1"), 3232235776u) << "missing part is 0";
  EXPECT_EQ(GetUnsignedLongFromDottedDecimal(""), 0u);
}

TEST(AddressTextTest, ServerNameEndsAtTheFirstSlash) {
  EXPECT_EQ(GetTheServerName("rs001.nuvel-records.example/NuvelRS.NRS/x"),
            "rs001.nuvel-records.example");
  EXPECT_EQ(GetTheServerName("10.0.0.1"), "10.0.0.1");
}

// ---- The settings checksum -----------------------------------------------------------------

// Values computed with `openssl md5` over address, salt A, address, salt B, streaming, salt A.
TEST(SettingsChecksumTest, MatchesTheValuesComputedApart) {
  EXPECT_EQ(SettingsChecksum("rs001.nuvel-records.example", "stream001.nuvel-records.example"),
            "61e9967d0da948b7e4e79c6ad92f57f0");
  EXPECT_EQ(SettingsChecksum("records.school.example", "stream.school.example"),
            "b501e32d0569d189a4b7ec8a01ce3ac7");
  EXPECT_EQ(SettingsChecksum("", ""), "8ab2b63990e41c9d7a1643bcf4d8f012");
}

// Every path below `folder`.
std::set<std::string> Tree(const std::string& folder) {
  std::set<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    paths.insert(entry.path().string());
  }
  return paths;
}

TEST(SettingsChecksumTest, CommandLinePrintsItAndWritesNothing) {
  TestSysroot sysroot;
  const std::set<std::string> before = Tree(sysroot.root());
  std::string output;
  int status = -1;
  ASSERT_FALSE(platform::RunAndWait(
      {NUVEL_SETUP_BINARY, "--server-checksum", "records.school.example", "stream.school.example"},
      status, &output));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "b501e32d0569d189a4b7ec8a01ce3ac7\n");
  EXPECT_EQ(Tree(sysroot.root()), before) << "no log, no settings, no folder";

  ASSERT_FALSE(
      platform::RunAndWait({NUVEL_SETUP_BINARY, "--server-checksum", "only-one"}, status, &output));
  EXPECT_EQ(status, 2) << output;

  ASSERT_FALSE(platform::RunAndWait({NUVEL_SETUP_BINARY, "--help"}, status, &output));
  EXPECT_NE(output.find("--server-checksum RECORDS_ADDRESS STREAMING_ADDRESS"), std::string::npos);
}

TEST(SettingsChecksumTest, SampleSourceListCarriesMatchingChecksums) {
  TestSysroot sysroot;
  const std::string source = sysroot.path("source");
  int status = -1;
  std::string output;
  ASSERT_FALSE(platform::RunAndWait({NUVEL_SAMPLE_SOURCE_TOOL, "--content-mb", "1", source}, status,
                                    &output));
  ASSERT_EQ(status, 0) << output;
  const std::string list = source + "/install/data/versions.ini";
  base::FreePrivateProfile();
  int servers = 0;
  for (int number = 1; number <= kMaxListedServer; ++number) {
    auto value = [&](const std::string& key) {
      char name[64];
      std::snprintf(name, sizeof name, "server_%03d_%s", number, key.c_str());
      return base::ProfileValue(kRecordsSection, name, "", list);
    };
    if (value("server_name").empty()) continue;
    ++servers;
    EXPECT_EQ(value("serverchecksum"),
              SettingsChecksum(value("recordsipaddress"), value("streamingaddress")))
        << "server " << number;
  }
  EXPECT_GE(servers, 20);
  base::FreePrivateProfile();
}

// ---- The country table ---------------------------------------------------------------------

TEST(CountryTableTest, RowsAreSortedUniqueAndEndWithNone) {
  const auto countries = Countries();
  ASSERT_EQ(countries.size(), 246u);
  const Country& last = countries.back();
  EXPECT_STREQ(last.alpha2, "??");
  EXPECT_STREQ(last.alpha3, "???");
  EXPECT_STREQ(last.language, "ENG");
  EXPECT_EQ(last.default_server, -1);
  EXPECT_EQ(last.iso_number, 0);
  EXPECT_STREQ(last.name, "<none>");

  std::set<std::string> alpha2, alpha3;
  std::set<int> numbers;
  int with_server = 0;
  for (std::size_t row = 0; row + 1 < countries.size(); ++row) {
    const Country& c = countries[row];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(std::string(c.alpha2).size(), 2u);
    EXPECT_EQ(std::string(c.alpha3).size(), 3u);
    EXPECT_EQ(base::UpperAscii(c.alpha2), c.alpha2);
    EXPECT_EQ(base::UpperAscii(c.alpha3), c.alpha3);
    EXPECT_EQ(std::string(c.language).size(), 3u);
    EXPECT_TRUE(alpha2.insert(c.alpha2).second) << "alpha-2 code used twice";
    EXPECT_TRUE(alpha3.insert(c.alpha3).second) << "alpha-3 code used twice";
    EXPECT_TRUE(numbers.insert(c.iso_number).second) << "numeric code used twice";
    EXPECT_GT(c.iso_number, 0);
    EXPECT_LT(c.iso_number, 1000);
    if (row > 0) {
      EXPECT_LT(base::LowerAscii(countries[row - 1].name), base::LowerAscii(c.name))
          << "not in English alphabetical order";
    }
    if (c.default_server != -1) {
      ++with_server;
      EXPECT_GE(c.default_server, 1);
      EXPECT_LE(c.default_server, kMaxListedServer);
    }
  }
  EXPECT_EQ(with_server, 73);
}

TEST(CountryTableTest, LettersFindTheSameRowInEitherCodeAndCase) {
  const int row = Get_the_country_index_letters("fr");
  ASSERT_GE(row, 0);
  EXPECT_EQ(CountryName(row), "France");
  EXPECT_EQ(Get_the_country_index_letters("FRA"), row);
  EXPECT_EQ(Get_the_country_index_letters("fRa"), row);
  EXPECT_EQ(Get_the_country_index_letters("f"), -1);
  EXPECT_EQ(Get_the_country_index_letters("FRAN"), -1);
  EXPECT_EQ(Get_the_country_index_letters(""), -1);
  EXPECT_EQ(Get_the_country_index_letters("QQ"), -1);
  EXPECT_EQ(Get_the_country_index_letters("??"), kCountryRows - 1);
}

TEST(CountryTableTest, NumericCodesAndRowsConvertBothWays) {
  const int row = Get_the_country_index(250);
  EXPECT_EQ(CountryName(row), "France");
  EXPECT_EQ(Get_the_country_of_study_number(row), 250);
  EXPECT_EQ(Get_the_country_index(999), -1);
  EXPECT_EQ(Get_the_country_of_study_number(-1), 0);
  EXPECT_EQ(Get_the_country_of_study_number(kCountryRows), 0);
  EXPECT_EQ(CountryName(kCountryRows), "");
}

TEST(CountryTableTest, DefaultServerLeavesFourCountriesToChoose) {
  EXPECT_EQ(Get_the_default_server("DEU"), 15);
  EXPECT_EQ(Get_the_default_server("GBR"), 4);
  EXPECT_EQ(Get_the_default_server("deu"), -1) << "the alpha-3 code is compared exactly";
  EXPECT_EQ(Get_the_default_server("AFG"), -1);
  EXPECT_EQ(Get_the_default_server("XXX"), -1);
  for (const char* code : {"CHN", "COL", "IDN", "TUR"}) {
    const int row = Get_the_country_index_letters(code);
    ASSERT_GE(row, 0);
    EXPECT_NE(Countries()[row].default_server, -1) << code << " has a server in the table";
    EXPECT_EQ(Get_the_default_server(code), -1) << code;
  }
}

}  // namespace
}  // namespace nuvel::records
