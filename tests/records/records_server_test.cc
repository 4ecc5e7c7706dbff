// The Records client against the Records-server double started on 127.0.0.1 with the example
// school: logins over plain HTTP (server 6) and HTTPS (a throw-away CA), refusals, a server
// that goes away, compressed replies, a big-endian server and an older protocol level.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "base/paths.h"
#include "base/run_state.h"
#include "net/web_service.h"
#include "platform/run_reset.h"
#include "records/protocol.h"
#include "records/server_settings.h"
#include "tests/net/peers.h"
#include "tests/records/records_client_test.h"
#include "ui/prompts.h"

namespace nuvel::records {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::WriteTestFile;

constexpr const char* kStudent = "ann.lee@lakeside.example";
constexpr const char* kPassword = "sol2024";

class RecordsServerTest : public testing::RecordsClientTest {
 protected:
  void TearDown() override {
    ::unsetenv("NUVEL_TEST_HTTPS_PORT");
    ::unsetenv("NUVEL_TEST_CA_FILE");
    RecordsClientTest::TearDown();
  }

  // The student record of the logged-in student (552 bytes at offset 40 of the STDS reply).
  std::string StudentRecord() {
    const Session& s = RecordsSession();
    std::string reply;
    EXPECT_EQ(SendCommandToServer("STDS", s.forcedClassPath + "_" + s.forcedStudentKey, reply), 0);
    return reply.size() >= 40 + 552 ? reply.substr(40, 552) : "";
  }
};

TEST_F(RecordsServerTest, StudentLogsInOverPlainHttpAndOut) {
  Start();
  EXPECT_EQ(ConnectToServer(kStudent, kPassword), 12);
  const Session& s = RecordsSession();
  EXPECT_EQ(s.conected_to_server, 1);
  EXPECT_TRUE(s.RecordsLoginName.starts_with("wosid=") && s.RecordsLoginName.size() > 6);
  EXPECT_TRUE(IsValidStudentKey(s.forcedStudentKey));
  EXPECT_EQ(s.forcedClassPath.size(), 8u);
  EXPECT_EQ(s.loginCountry, "USA");
  EXPECT_EQ(s.request_server_unicode, 1);

  // The student's record names the student; the server's date comes from one PING.
  EXPECT_NE(StudentRecord().find("Ann Lee"), std::string::npos);
  EXPECT_GT(TCPFindServerTime(2), (2026 - 1980) * 512);

  DisconnectFromServer();
  const std::string log = double_->Log();
  EXPECT_NE(log.find("QUIT"), std::string::npos) << log;
  EXPECT_EQ(log.find(kPassword), std::string::npos);
  EXPECT_EQ(log.find("SOL2024"), std::string::npos);
  EXPECT_TRUE(backend_->shown.empty());
}

TEST_F(RecordsServerTest, LoginOverHttpsWithTheTestAuthority) {
  net::testing::TestCertificates certificates(sysroot_.path("ca"));
  ASSERT_EQ(certificates.error, "");
  Start({"--cert", certificates.certificate, "--key", certificates.key});
  PointAt(double_->port(), 1);
  ASSERT_TRUE(double_->base().starts_with("https://"));
  ::setenv("NUVEL_TEST_HTTPS_PORT", std::to_string(double_->port()).c_str(), 1);
  ::setenv("NUVEL_TEST_CA_FILE", certificates.ca.c_str(), 1);
  EXPECT_EQ(ConnectToServer(kStudent, kPassword), 12);
  EXPECT_NE(StudentRecord().find("Ann Lee"), std::string::npos);
}

TEST_F(RecordsServerTest, RefusedLoginsShowTheirMessage) {
  const std::string fixture = sysroot_.path("disabled.fixture");
  WriteTestFile(fixture,
                "[group Closed School]\nnumber = 5\ndisabled = yes\n"
                "[class Closed Class]\n"
                "[student Zoe]\nlogin id = zoe@closed.example\npassword = zoe2024\n");
  struct Case {
    std::string fixture, user, password, shows;
  } cases[] = {
      {testing::kSchool, kStudent, "wrong99", "password is not correct"},
      {testing::kSchool, "nobody@lakeside.example", kPassword, "login ID was not found"},
      {fixture, "zoe@closed.example", "zoe2024", "group has been disabled"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    Start({}, c.fixture);
    backend_->shown.clear();
    EXPECT_EQ(ConnectToServer(c.user, c.password), 0);
    ASSERT_EQ(backend_->shown.size(), 1u);
    EXPECT_NE(ShownText(0).find(c.shows), std::string::npos) << ShownText(0);
    EXPECT_EQ(RecordsSession().conected_to_server, 0);
  }
}

TEST_F(RecordsServerTest, ServerThatGoesAwayIsAskedAboutThenQuits) {
  Start();
  ASSERT_EQ(ConnectToServer(kStudent, kPassword), 12);
  double_.reset();  // the server goes down
  std::string reply;
  EXPECT_EQ(SendCommandToServer("STDN", RecordsSession().forcedClassPath, reply), -2);
  ASSERT_FALSE(backend_->shown.empty());
  EXPECT_EQ(backend_->shown[0].id, "MSG_CannotConnectToRS");
  EXPECT_NE(ShownText(0).find("Records Server: 127.0.0.1"), std::string::npos) << ShownText(0);
  EXPECT_NE(base::Run().quitFlag, 0) << "Quit ends the run";
}

TEST_F(RecordsServerTest, UnattendedRunRetriesBeforeGivingUp) {
  Start();
  ASSERT_EQ(ConnectToServer(kStudent, kPassword), 12);
  double_.reset();
  ui::Prompts().CmdLine_job = 1;
  std::string reply;
  EXPECT_EQ(SendCommandToServer("STDN", RecordsSession().forcedClassPath, reply), -2);
  const std::string log = ReadTestFile(base::Paths().localNuvelDirectory + "Nuvel_log.txt");
  EXPECT_NE(log.find("automatic retry 50 of 50"), std::string::npos);
  EXPECT_EQ(log.find("automatic retry 51"), std::string::npos);
  EXPECT_NE(base::Run().quitFlag, 0);
}

TEST_F(RecordsServerTest, CompressedRepliesAreReadAsPlainOnes) {
  Start({"--compress"});
  ASSERT_EQ(ConnectToServer(kStudent, kPassword), 12);
  EXPECT_NE(StudentRecord().find("Ann Lee"), std::string::npos);
  std::string reply;
  ASSERT_EQ(SendCommandToServer("STDA", RecordsSession().forcedClassPath, reply), 0);
  EXPECT_TRUE(reply.starts_with("ANSW"));
  EXPECT_NE(reply.find("Farid Haddad"), std::string::npos);
  const std::string log = ReadTestFile(base::Paths().localNuvelDirectory + "Nuvel_log.txt");
  EXPECT_NE(log.find("COMPRESSION uncompress"), std::string::npos) << "the replies came compressed";
}

TEST_F(RecordsServerTest, BigEndianServerSendsSwappedWords) {
  // Dmitri's expiry, 30 June 2026, is the packed date 23,774 (0x5CDE), at offset 148.
  auto expiry_bytes = [this](const std::vector<std::string>& arguments) {
    Start(arguments);
    EXPECT_EQ(ConnectToServer("dmitri.volkov@lakeside.example", "rio2024"), 12);
    const std::string record = StudentRecord();
    DisconnectFromServer();
    return record.size() == 552 ? record.substr(148, 2) : "";
  };
  EXPECT_EQ(expiry_bytes({}), std::string("\xDE\x5C", 2));
  EXPECT_EQ(RecordsSession().ServerIsBigEndian, 0);
  EXPECT_EQ(expiry_bytes({"--big-endian"}), std::string("\x5C\xDE", 2));
}

TEST_F(RecordsServerTest, OlderServersGetNoUtf8RequestAndTheFourDigitGroupField) {
  Start({"--protocol-level", "3", "--group-digits", "4"});
  ASSERT_EQ(ConnectToServer(kStudent, kPassword), 12);
  EXPECT_EQ(RecordsSession().ServerProtocolVersion, 3);
  EXPECT_TRUE(IsValidStudentKey(RecordsSession().forcedStudentKey));
  DisconnectFromServer();
  ASSERT_EQ(ConnectToServer(kStudent, kPassword), 12);
  const std::string log = double_->Log();
  const std::size_t first = log.find("UNICODE");
  ASSERT_NE(first, std::string::npos) << "the first login asks for UTF-8:\n" << log;
  EXPECT_EQ(log.find("UNICODE", first + 1), std::string::npos)
      << "the second login does not:\n" << log;
}

}  // namespace
}  // namespace nuvel::records
