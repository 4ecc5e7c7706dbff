#include "setup/options.h"

#include <gtest/gtest.h>

#include "base/paths.h"
#include "base/profile_file.h"
#include "base/strings.h"
#include "tests/support/test_env.h"

namespace nuvel::setup {
namespace {

using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

class SetupOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Options().reset();
    base::FreePrivateProfile();
    base::Paths().reset();
    base::Strings().reset();
    ini_ = sysroot_.path("source/install/data/setup.ini");
  }
  void TearDown() override {
    Options().reset();
    base::FreePrivateProfile();
    base::Paths().reset();
  }

  void Read(const std::string& body) {
    WriteTestFile(ini_, "[Nuvel]\r\n" + body);
    base::FreePrivateProfile();
    ReadSetupOptions(ini_);
  }

  TestSysroot sysroot_;
  std::string ini_;
};

TEST_F(SetupOptionsTest, AdvancedButtonFollowsTheLoginMode) {
  // Records-login mode hides the Advanced button, but an absent force_TCPIP shows it anyway.
  Read("");
  EXPECT_EQ(Options().force_TCPIP, 1);
  EXPECT_FALSE(Options().force_TCPIP_present);
  EXPECT_EQ(Options().force_show_advanced_button, 0);
  EXPECT_TRUE(ShowAdvancedButton());
  Options().reset();
  ReadSetupOptions(sysroot_.path("no/such/setup.ini"));
  EXPECT_TRUE(ShowAdvancedButton()) << "a missing file is an empty one";

  Read("force_TCPIP=Y\r\n");
  EXPECT_FALSE(ShowAdvancedButton());
  Read("force_TCPIP=yes\r\nforce_show_advanced_button=Y\r\n");
  EXPECT_TRUE(ShowAdvancedButton());

  Options().reset();
  Read("force_TCPIP=N\r\nforce_show_advanced_button=N\r\n");
  EXPECT_EQ(Options().force_TCPIP, 0);
  EXPECT_FALSE(ShowAdvancedButton());
  Options().reset();
  Read("force_TCPIP=N\r\n");
  EXPECT_TRUE(ShowAdvancedButton());
}

TEST_F(SetupOptionsTest, YesNoValuesKeepTheDefaultWhenUnreadable) {
  Read("force_discless=N\r\nforce_show_uninstall_button=maybe\r\nforce_show_help=  no \r\n"
       "force_auto_install_all_courses_size=4500000000\r\nforce_server_num=7x\r\n"
       "force_limit_multiLanguages=eng fra\r\n");
  const SetupOptions& o = Options();
  EXPECT_EQ(o.force_discless, 0);
  EXPECT_EQ(o.force_show_uninstall_button, 1) << "an unreadable value keeps the default";
  EXPECT_EQ(o.force_show_help, 0);
  EXPECT_EQ(o.force_auto_install_all_courses_size, 4500000000L);
  EXPECT_EQ(o.force_server_num, 7);
  EXPECT_EQ(o.force_limit_multiLanguages, "ENG FRA");
}

TEST_F(SetupOptionsTest, ForcedInterfaceLanguageIsStoredOnlyWhenRecordsIniHasNone) {
  std::string folder = sysroot_.path("opt/Nuvel");
  WriteTestFile(folder + "/records.ini", "[Records]\r\nlog_level=3\r\n");
  base::Paths().localNuvelDirectory = folder + "/";
  base::Initialize_All_Paths(folder);
  Read("force_OS_lang=ger\r\n");
  EXPECT_NE(ReadTestFile(folder + "/records.ini").find("force_OS_lang=GER\r\n"),
            std::string::npos);

  WriteTestFile(folder + "/records.ini", "[Records]\r\nforce_OS_lang=FRA\r\n");
  Read("force_OS_lang=ger\r\n");
  EXPECT_EQ(ReadTestFile(folder + "/records.ini"), "[Records]\r\nforce_OS_lang=FRA\r\n");
}

}  // namespace
}  // namespace nuvel::setup
