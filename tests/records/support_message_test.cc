// The support message: the support address of the configured server, the sender and mail server
// taken from records.ini or the session, the mailto address handed to the desktop's opener, and
// the settings files in the log.
#include "records/support_message.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "base/log.h"
#include "base/paths.h"
#include "base/profile_file.h"
#include "base/run_state.h"
#include "records/server_settings.h"
#include "tests/support/fake_backend.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"

namespace nuvel::records {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::WriteTestFile;

class SupportMessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nuvel::testing::ResetBaseModules();
    if (const char* path = std::getenv("PATH")) saved_path_ = path;
    if (const char* email = std::getenv("EMAIL")) saved_email_ = email;
    ::unsetenv("EMAIL");
    // The installation lies on a share, so that its records.ini is another file than the
    // local system folder's.
    share_ = sysroot_.path("srv/share/Nuvel");
    fs::create_directories(share_);
    fs::create_directories(sysroot_.path("opt/Nuvel"));
    ::setenv("NUVEL_NETWORK_PATHS", sysroot_.path("srv/share").c_str(), 1);
    base::Initialize_All_Paths(share_);
    auto backend = std::make_unique<ui::testing::FakeBackend>();
    ui_ = backend.get();
    ui::SetBackend(std::move(backend));
    base::Run().Internet = 1;
  }
  void TearDown() override {
    ::setenv("PATH", saved_path_.c_str(), 1);
    if (saved_email_.empty()) {
      ::unsetenv("EMAIL");
    } else {
      ::setenv("EMAIL", saved_email_.c_str(), 1);
    }
    ::unsetenv("NUVEL_NETWORK_PATHS");
    nuvel::testing::ResetBaseModules();
    ui::SetBackend(nullptr);
  }

  // A stand-in for the desktop's opener that records every address it is given.
  std::string FakeOpener() {
    std::string bin = sysroot_.path("bin");
    std::string record = sysroot_.path("opened.txt");
    WriteTestFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + record + "'\n");
    fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
    ::setenv("PATH", (bin + ":" + saved_path_).c_str(), 1);
    return record;
  }
  // Writes a settings file as another program would: the profile cache is not told.
  static void WriteSettings(const std::string& path, const std::string& text) {
    WriteTestFile(path, text);
    base::FreePrivateProfile();
  }
  std::string LocalRecordsIni() { return base::Paths().localNuvelDirectory + "records.ini"; }
  std::string Log() { return ReadTestFile(base::Paths().localNuvelDirectory + "Nuvel_log.txt"); }

  nuvel::testing::TestSysroot sysroot_;
  ui::testing::FakeBackend* ui_ = nullptr;
  std::string share_;
  std::string saved_path_;
  std::string saved_email_;
};

TEST_F(SupportMessageTest, TheServerChoosesItsRegionalAddress) {
  RS().RecordsIPAddress = "RS-EU.nuvel.example";
  EXPECT_EQ(GetSupportEmailAddress(), "support-europe@nuvel.example");

  RS().RecordsIPAddress = "records.school.example";
  EXPECT_EQ(GetSupportEmailAddress(), kGeneralSupportAddress)
      << "an address in no row must go to general support";

  RS().rs_server_number = 6;
  EXPECT_EQ(GetSupportEmailAddress(), "support-americas@nuvel.example")
      << "server 6 is answered by the support of " << kServerSixHost;

  base::Run().Internet = 0;
  RS().RecordsIPAddress = "rs-jp.nuvel.example";
  EXPECT_EQ(GetSupportEmailAddress(), kGeneralSupportAddress)
      << "an installation without Internet records has no regional server";
}

TEST_F(SupportMessageTest, EveryHostOfTheTableHasItsOwnRowAndAnAddress) {
  for (std::size_t i = 0; i < kSupportRows.size(); ++i) {
    EXPECT_NE(kSupportRows[i].address.find('@'), std::string_view::npos) << kSupportRows[i].host;
    for (std::size_t j = 0; j < i; ++j)
      EXPECT_NE(kSupportRows[i].host, kSupportRows[j].host) << "a host listed twice";
  }
}

TEST_F(SupportMessageTest, ASenderWithoutAtSignGivesWayToTheSessionAddress) {
  WriteSettings(LocalRecordsIni(),
                "[Records]\r\nemail_address=teacher.school.example\r\n"
                "email_SMTP= smtp.school.example \r\n");
  ::setenv("EMAIL", "tech@school.example", 1);
  std::string record = FakeOpener();
  RS().RecordsIPAddress = "rs-kr.nuvel.example";

  EXPECT_EQ(SendEmailMessage(kCorruptedRecordsAddress, "checksum mismatch"), 0);
  const SupportMessageState& sent = SupportMessage();
  EXPECT_EQ(sent.from, "tech@school.example");
  EXPECT_EQ(sent.smtp, "smtp.school.example");
  EXPECT_EQ(sent.to, "support-korea@nuvel.example");
  EXPECT_EQ(ReadTestFile(record),
            "mailto:support-korea@nuvel.example?subject=Corrupted%20Records%20IP%20Address\n")
      << "every blank of the subject must be escaped, and the body is empty";
  EXPECT_FALSE(ui_->status_shown) << "the status box was left open";
}

TEST_F(SupportMessageTest, RecordsIniSenderWinsAndNoSessionAddressLeavesItEmpty) {
  std::string from = "kept", smtp = "kept";
  GetDefaultEmailSMTPSettings(from, smtp);
  EXPECT_EQ(from, "kept") << "a missing key replaced the value";

  WriteSettings(LocalRecordsIni(), "[Records]\r\nemail_address=office@school.example\r\n");
  GetDefaultEmailSMTPSettings(from, smtp);
  EXPECT_EQ(from, "office@school.example");
  EXPECT_EQ(smtp, "kept");

  FakeOpener();
  ::setenv("EMAIL", "not-an-address", 1);
  WriteSettings(LocalRecordsIni(), "[Records]\r\nemail_address=nobody\r\n");
  SendEmailMessage(kCorruptedRecordsAddress, "");
  EXPECT_EQ(SupportMessage().from, "") << "a session address without @ was used";
  EXPECT_EQ(SupportMessage().smtp, "") << "the session names no mail server";
}

TEST_F(SupportMessageTest, BothSettingsFilesGoIntoTheLog) {
  FakeOpener();
  WriteSettings(LocalRecordsIni(), "[Records]\r\nlocal_marker=system folder\r\n");
  ASSERT_NE(base::Path("records.ini"), LocalRecordsIni());
  WriteSettings(base::Path("records.ini"), "[Records]\r\nshare_marker=installation\r\n");

  SendEmailMessage(kCorruptedRecordsAddress, "settings checksum mismatch");
  std::string log = Log();
  std::size_t local = log.find("local_marker=system folder");
  std::size_t share = log.find("share_marker=installation");
  ASSERT_NE(local, std::string::npos) << log;
  ASSERT_NE(share, std::string::npos) << log;
  EXPECT_LT(local, share) << "the local system folder's settings come first";
}

TEST_F(SupportMessageTest, OtherKindsSendNothing) {
  std::string record = FakeOpener();
  EXPECT_EQ(SendEmailMessage(3, "x"), 0);
  EXPECT_EQ(ReadTestFile(record), "");
}

}  // namespace
}  // namespace nuvel::records
