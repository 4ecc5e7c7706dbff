// The Records-server protocol over HTTP against a scripted server on 127.0.0.1: the test decides
// each reply and sees each request as it arrived on the wire (path, Base64 body). Server number
// 6 talks plain HTTP on the configured port.
#include "records/protocol.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include "base/log.h"
#include "base/paths.h"
#include "base/run_state.h"
#include "net/server_reply.h"
#include "net/transport.h"
#include "net/web_service.h"
#include "platform/run_reset.h"
#include "records/password.h"
#include "records/server_settings.h"
#include "tests/records/records_client_test.h"

namespace nuvel::records {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::WriteTestFile;

std::string Unbase64(const std::string& text) {
  std::string out(text.size(), '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return "<not base64>";
  std::size_t size = static_cast<std::size_t>(n);
  // EVP_DecodeBlock counts the padding as data.
  if (text.ends_with("==")) size -= 2;
  else if (text.ends_with("=")) size -= 1;
  out.resize(size);
  return out;
}

// A reply compressed as the server sends it; `stated` replaces the true uncompressed length.
std::string Compressed(const std::string& text, long stated = -1) {
  uLongf size = compressBound(text.size());
  std::string stream(size, '\0');
  compress(reinterpret_cast<Bytef*>(stream.data()), &size,
           reinterpret_cast<const Bytef*>(text.data()), text.size());
  stream.resize(size);
  char head[32];
  std::snprintf(head, sizeof head, "COMP %08lu %08ld", static_cast<unsigned long>(size),
                stated < 0 ? static_cast<long>(text.size()) : stated);
  return std::string(head) + stream;
}

// A login reply line: identifier, 5-digit group, class path, student key, protocol level,
// byte order, then session id, application and country.
std::string LoginLine(int group = 42, int level = 4, int big_endian = 0,
                      const std::string& key = "K1234567",
                      const std::string& words = "S1 app FRA") {
  char line[160];
  std::snprintf(line, sizeof line, "ANSW LOGN LOGIN001 %05d CLASS001 %-8s %d 0 %d   %s\r\n", group,
                key.c_str(), level, big_endian, words.c_str());
  return line;
}

const char* kTimestamp = "2026-12-07+10:11:12";

std::string Answer(const std::string& rest = "") {
  return std::string("ANSW      00000001 ") + kTimestamp + " " + rest + "\r\n";
}

class ProtocolTest : public testing::RecordsClientTest {
 protected:
  void SetUp() override {
    RecordsClientTest::SetUp();
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    base::Run().current_dir = sysroot_.path("source");
    // A fake desktop opener that notes every address it is given.
    const std::string bin = sysroot_.path("bin");
    fs::create_directories(bin);
    opened_ = sysroot_.path("opened.txt");
    WriteTestFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened_ + "'\n");
    ::chmod((bin + "/xdg-open").c_str(), 0755);
    saved_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin + ":" + saved_path_).c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", saved_path_.c_str(), 1);
    RecordsClientTest::TearDown();
  }

  // Serves LGNS with `login` and every other command with an answer.
  void ServeLogin(const std::string& login) {
    Serve([login](const std::string& target) {
      if (target.find("CMD=LGNS") != std::string::npos) return login;
      if (target.find("CMD=QUIT") != std::string::npos) return std::string("QUIT\r\n");
      return Answer();
    });
  }

  std::string opened_, saved_path_;
};

// ---- Reading replies --------------------------------------------------------------------------

TEST(LoginReplyTest, FixedColumnsWithTheFourDigitGroupShift) {
  LoginReply reply;
  ASSERT_TRUE(ParseLoginReply(LoginLine(42, 4, 1), reply));
  EXPECT_EQ(reply.loginIdentifier, "LOGIN001");
  EXPECT_EQ(reply.group, 42);
  EXPECT_EQ(reply.classPath, "CLASS001");
  EXPECT_EQ(reply.studentKey, "K1234567");
  EXPECT_EQ(reply.protocolLevel, 4);
  EXPECT_EQ(reply.bigEndian, 1);
  EXPECT_EQ(reply.sessionId, "S1");
  EXPECT_EQ(reply.applicationName, "app");
  EXPECT_EQ(reply.countryLetters, "FRA");

  // An older server's 4-digit group field: the blank at 23 moves every later field one column.
  std::string old_form = LoginLine(0, 3, 0);
  old_form.replace(19, 5, "1234 ");
  old_form.erase(24, 1);
  ASSERT_EQ(old_form[23], ' ');
  ASSERT_TRUE(ParseLoginReply(old_form, reply));
  EXPECT_EQ(reply.group, 1234);
  EXPECT_EQ(reply.classPath, "CLASS001");
  EXPECT_EQ(reply.studentKey, "K1234567");
  EXPECT_EQ(reply.protocolLevel, 3);
  EXPECT_EQ(reply.sessionId, "S1");
}

TEST(LoginReplyTest, ShortOrMalformedRepliesAreRefusedAndLevelTwoIsReadFromItsSecondPlace) {
  LoginReply reply;
  const std::string good = LoginLine();
  EXPECT_FALSE(ParseLoginReply(good.substr(0, 47), reply)) << "ends before the byte order";
  EXPECT_FALSE(ParseLoginReply("ANSW", reply));
  EXPECT_FALSE(ParseLoginReply("", reply));
  std::string letters = good;
  letters.replace(19, 5, "00A42");
  EXPECT_FALSE(ParseLoginReply(letters, reply)) << "a letter in the group number";
  std::string level = good;
  level[43] = 'x';
  EXPECT_FALSE(ParseLoginReply(level, reply));

  std::string level_two = LoginLine(42, 1);
  level_two[45] = '2';
  ASSERT_TRUE(ParseLoginReply(level_two, reply));
  EXPECT_EQ(reply.protocolLevel, 2);
  // Without the words after the fixed columns the login still reads.
  ASSERT_TRUE(ParseLoginReply(good.substr(0, 48), reply));
  EXPECT_EQ(reply.sessionId, "");
  EXPECT_FALSE(IsValidStudentKey("12345678"));
  EXPECT_FALSE(IsValidStudentKey("K123"));
  EXPECT_TRUE(IsValidStudentKey("a1234567"));
}

TEST(LoginReplyTest, DigitFieldsSkipBlanksAndPlusAndStayInsideTheText) {
  int value = 7;
  EXPECT_TRUE(ReadDigits("xx  +12x", 2, 5, value));
  EXPECT_EQ(value, 12);
  EXPECT_TRUE(ReadDigits("  -5", 0, 4, value));
  EXPECT_EQ(value, -5);
  EXPECT_FALSE(ReadDigits("123", 1, 3, value)) << "the field runs past the end";
  EXPECT_FALSE(ReadDigits("123", 5, 1, value));
}

TEST(CompressedReplyTest, LengthsAreCheckedBeforeInflating) {
  const std::string text = Answer(std::string(5000, 'c'));
  std::string reply = Compressed(text);
  EXPECT_EQ(DecompressReply(reply), 0);
  EXPECT_EQ(reply, text);

  std::string too_small = Compressed(text, 100);
  EXPECT_EQ(DecompressReply(too_small), -3) << "the stated length leaves no room for the text";
  std::string cut = Compressed(text);
  cut.resize(cut.size() - 10);
  EXPECT_EQ(DecompressReply(cut), -3) << "fewer bytes than the compressed length";
  std::string huge = Compressed(text, 999999999);
  EXPECT_EQ(DecompressReply(huge), -3) << "more than the largest reply";
  std::string garbage = "COMP 00000010 00000100 0123456789";
  EXPECT_EQ(DecompressReply(garbage), -3);
  std::string not_compressed = "ANSW plain";
  EXPECT_EQ(DecompressReply(not_compressed), 0);
  EXPECT_EQ(not_compressed, "ANSW plain");
}

TEST(LineReaderTest, LinesKeepTheirEndAndLongLinesComeInPieces) {
  const std::string text = "one\r\ntwo\nthree";
  std::size_t at = 0;
  std::string line;
  ASSERT_TRUE(TCPmgets(line, 100, text, at));
  EXPECT_EQ(line, "one\r\n");
  ASSERT_TRUE(TCPmgets(line, 3, text, at));
  EXPECT_EQ(line, "tw");
  ASSERT_TRUE(TCPmgets(line, 100, text, at));
  EXPECT_EQ(line, "o\n");
  ASSERT_TRUE(TCPmgets(line, 100, text, at));
  EXPECT_EQ(line, "three");
  EXPECT_FALSE(TCPmgets(line, 100, text, at));
}

TEST_F(ProtocolTest, HttpDateBecomesTheServerTimeOnTheLocalDay) {
  UpdateRSTime("HTTP/1.1 200 OK\r\nDate: Tue, 15 Nov 1994 08:12:31 GMT\r\n");
  EXPECT_EQ(RecordsSession().saved_server_time, "1994-11-15+08:12:31");
  RecordsSession().saved_server_time.clear();
  UpdateRSTime("date: Tue, 15 Nov 1994");
  EXPECT_EQ(RecordsSession().saved_server_time, "") << "a cut header changes nothing";
  UpdateRSTime("Date: Tue, 31 Foo 1994 08:12:31 GMT");
  EXPECT_EQ(RecordsSession().saved_server_time, "");
}

// ---- Login ------------------------------------------------------------------------------------

TEST_F(ProtocolTest, LoginSendsTheServerFormAndOpensTheSession) {
  ServeLogin(LoginLine(42, 3, 1));
  EXPECT_EQ(ConnectToServer("anna", "secret1"), 42);

  const auto requests = server_->requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/NuvelRS.NRS?SID=--------&CMD=LGNS_&UNICODE=1");
  const std::string body = Unbase64(requests[0].body);
  ASSERT_TRUE(body.starts_with("004-->anna<--038-->**__")) << body;
  ASSERT_TRUE(body.ends_with("__<--COMP MONI")) << body;
  std::string clear;
  ASSERT_EQ(DecodePlainText(kPasswordKey, body.substr(19, 38), clear), 1);
  EXPECT_EQ(clear, "SECRET1");
  EXPECT_EQ(body.find("secret1"), std::string::npos);

  const Session& s = RecordsSession();
  EXPECT_EQ(s.conected_to_server, 1);
  EXPECT_EQ(s.RecordsLoginName, "wosid=S1");
  EXPECT_EQ(s.ApplicationIdentifier, "/app/");
  EXPECT_EQ(s.forcedStudentKey, "K1234567");
  EXPECT_EQ(s.forcedClassPath, "CLASS001");
  EXPECT_EQ(s.ServerIsBigEndian, 1);
  EXPECT_EQ(s.request_server_unicode, 0) << "a level-3 server gets no UTF-8 request";
  EXPECT_EQ(s.saved_login_path, "00000042") << "an identifier not starting with a digit";

  // Every later command names the session and the application's response page.
  std::string reply, stamp;
  EXPECT_EQ(SendCommandToServer("STDN", "CLASS001", reply, &stamp), 0);
  EXPECT_EQ(stamp, kTimestamp);
  EXPECT_EQ(server_->requests().back().target,
            "/NuvelRS.NRS/app/wa/getRSLauncherResponse?wosid=S1&CMD=STDN_CLASS001");

  // Logging out sends QUIT with the session and forgets it.
  net::Transport().gCookieFromServer = "session=1";
  DisconnectFromServer();
  EXPECT_EQ(server_->Count("QUIT"), 1);
  EXPECT_EQ(s.conected_to_server, 0);
  EXPECT_EQ(net::Transport().gCookieFromServer, "");
  EXPECT_EQ(SendCommandToServer("PING", "", reply), -1) << "no session, no buffer";
  EXPECT_EQ(Log().find("SECRET1"), std::string::npos);
}

TEST_F(ProtocolTest, PasswordInServerFormIsSentUnchangedAndLongPasswordsAreCut) {
  ServeLogin(LoginLine());
  const std::string form = EncodePlainText(kPasswordKey, "already");
  EXPECT_EQ(ConnectToServer("anna", form), 42);
  EXPECT_NE(Unbase64(server_->requests()[0].body).find("-->" + form + "<--"), std::string::npos);

  DisconnectFromServer();
  EXPECT_EQ(ConnectToServer("anna", "abcdefghijklmnopqrstu"), 42);  // 21 characters
  const std::string body = Unbase64(server_->requests().back().body);
  std::string clear;
  ASSERT_EQ(DecodePlainText(kPasswordKey, body.substr(19, 38), clear), 1);
  EXPECT_EQ(clear, "ABCDEFGHIJKLMNOPQRST");
}

TEST_F(ProtocolTest, ThirdRefusedLoginEndsTheRun) {
  ServeLogin("BAD PASSWORD\r\n");
  EXPECT_EQ(ConnectToServer("anna", "wrong"), 0);
  EXPECT_EQ(ConnectToServer("anna", "wrong"), 0);
  EXPECT_EQ(base::Run().quitFlag, 0);
  EXPECT_EQ(ConnectToServer("anna", "wrong"), 0);
  EXPECT_NE(base::Run().quitFlag, 0);
  ASSERT_EQ(backend_->shown.size(), 3u);
  EXPECT_NE(ShownText(0).find("password is not correct"), std::string::npos);
  EXPECT_EQ(RecordsSession().conected_to_server, 0);
}

TEST_F(ProtocolTest, RefusalsAndBadRepliesShowTheirMessage) {
  struct Case {
    std::string reply;
    std::string shows;
    int result;
  } cases[] = {
      {"USER NOT FOUND\r\n", "login ID was not found", 0},
      {"GROUP DISABLED\r\n", "group has been disabled", 0},
      {"\r\n\r\n<HTML><BODY>down</BODY></HTML>", "problem with the Records server", 0},
      {"ANSW LOGN", "problem with the Records server", 0},
      {LoginLine(42, 4, 0, "12345678"), "", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    RecordsSession().reset();
    base::Run().quitFlag = 0;
    backend_->shown.clear();
    ServeLogin(c.reply);
    EXPECT_EQ(ConnectToServer("anna", "pw"), c.result);
    if (!c.shows.empty()) {
      ASSERT_EQ(backend_->shown.size(), 1u);
      EXPECT_NE(ShownText(0).find(c.shows), std::string::npos) << ShownText(0);
    }
    EXPECT_EQ(base::Run().quitFlag, 0);
  }
}

TEST_F(ProtocolTest, CompressedLoginAndAnswersAreInflated) {
  Serve([](const std::string& target) {
    if (target.find("CMD=LGNS") != std::string::npos) return Compressed(LoginLine(7));
    return Compressed(Answer(std::string(3000, 's')));
  });
  EXPECT_EQ(ConnectToServer("anna", "pw"), 7);
  std::string reply;
  EXPECT_EQ(SendCommandToServer("STDA", "CLASS001", reply), 0);
  EXPECT_EQ(reply, Answer(std::string(3000, 's')));
}

TEST_F(ProtocolTest, CompressedReplyThatCannotBeInflatedEndsTheRunWithItsNotice) {
  bool broken = false;
  Serve([&broken](const std::string& target) {
    if (target.find("CMD=LGNS") != std::string::npos) return LoginLine();
    return broken ? Compressed(Answer(std::string(5000, 'x')), 10) : Answer();
  });
  ASSERT_EQ(ConnectToServer("anna", "pw"), 42);
  broken = true;
  std::string reply;
  EXPECT_EQ(SendCommandToServer("STDA", "CLASS001", reply), -3);
  EXPECT_NE(base::Run().quitFlag, 0);
  EXPECT_NE(ReadTestFile(opened_).find("/messages/msg-1004.shtml"), std::string::npos);
}

// ---- Commands ---------------------------------------------------------------------------------

TEST_F(ProtocolTest, ReplyKindsGiveTheirResults) {
  std::string next;
  Serve([&next](const std::string& target) {
    if (target.find("CMD=LGNS") != std::string::npos) return LoginLine();
    return next;
  });
  ASSERT_EQ(ConnectToServer("anna", "pw"), 42);
  std::string reply, stamp;
  next = "ANSW short";
  EXPECT_EQ(SendCommandToServer("STDN", "x", reply), -4) << "no timestamp";
  next = "OK but not an answer";
  EXPECT_EQ(SendCommandToServer("STDN", "x", reply), -1);
  next = "UTL 1234567890 abcd" + std::string(kTimestamp);
  EXPECT_EQ(SendCommandToServer("STDN", "x", reply, &stamp), -1);
  EXPECT_EQ(stamp, kTimestamp);
  next = std::string(kHeloAnswer);
  EXPECT_EQ(SendCommandToServer("HELO", "", reply), 0);
  next = "something else";
  EXPECT_EQ(SendCommandToServer("HELO", "", reply), -1);
  next = "WEB1 1003 update";
  EXPECT_EQ(SendCommandToServer("STDN", "x", reply), -1);
  EXPECT_EQ(RecordsSession().server_message_installation_out_of_date, 1003);
  EXPECT_EQ(base::Run().quitFlag, 0);
  EXPECT_EQ(ReadTestFile(opened_), "") << "the out-of-date notice opens no page";
}

TEST_F(ProtocolTest, NoticeOpensItsPageOnceAndCanEndTheRun) {
  std::string next;
  Serve([&next](const std::string& target) {
    if (target.find("CMD=LGNS") != std::string::npos) return LoginLine();
    return next;
  });
  ASSERT_EQ(ConnectToServer("anna", "pw"), 42);
  std::string reply;
  next = "WEB0 2001" + std::string(10, ' ') + kTimestamp;
  EXPECT_EQ(SendCommandToServer("STDN", "x", reply), 0) << "a notice is then read as an answer";
  EXPECT_EQ(SendCommandToServer("STDN", "x", reply), -1) << "the second time it is ignored";
  EXPECT_EQ(ReadTestFile(opened_), std::string(kNoticePageAddress) + "/messages/msg-2001.shtml\n");
  next = "WEB1 ../x" + std::string(10, ' ') + kTimestamp;
  SendCommandToServer("STDN", "x", reply);
  EXPECT_EQ(ReadTestFile(opened_).find(".."), std::string::npos) << "a code is never a path";
  EXPECT_NE(base::Run().quitFlag, 0) << "a notice of kind 1 ends the run";
}

TEST_F(ProtocolTest, ErrorPageAsksRetryThenQuit) {
  int errors = 1;
  Serve([&errors](const std::string& target) {
    if (target.find("CMD=LGNS") != std::string::npos) return LoginLine();
    if (errors > 0) {
      --errors;
      return std::string("\r\n<HTML>Bad session id</HTML>");
    }
    return Answer();
  });
  ASSERT_EQ(ConnectToServer("anna", "pw"), 42);
  backend_->answer = [](ui::Dialog&) { return 2; };  // Retry
  std::string reply;
  EXPECT_EQ(SendCommandToServer("STDN", "x", reply), 0);
  EXPECT_EQ(server_->Count("STDN"), 2);

  errors = 1;
  backend_->answer = [](ui::Dialog&) { return 1; };  // Quit
  EXPECT_EQ(SendCommandToServer("STDN", "x", reply), -1);
  EXPECT_NE(base::Run().quitFlag, 0);
  EXPECT_EQ(SendDataToServer("CLSW", "x", "data", reply), -2) << "nothing is sent once quitting";
}

TEST_F(ProtocolTest, DataIsSentAsBase64AndLargeBodiesAreRefused) {
  ServeLogin(LoginLine());
  ASSERT_EQ(ConnectToServer("anna", "pw"), 42);
  std::string reply;
  const std::string record("\x01\x02 binary \xff\x00 record", 20);
  EXPECT_EQ(SendDataToServer("CLSW", "CLASS001+--------", record, reply), 0);
  EXPECT_EQ(Unbase64(server_->requests().back().body), record);

  const int before = static_cast<int>(server_->requests().size());
  EXPECT_EQ(SendDataToServer("CLSW", "x", std::string(kMaxBase64Body + 1, 'a'), reply), -1);
  EXPECT_EQ(static_cast<int>(server_->requests().size()), before) << "nothing was sent";
  EXPECT_EQ(SendDataToServer("CLSW", "x", std::string(kMaxBase64Body, 'a'), reply), 0);
}

TEST_F(ProtocolTest, ServerDateIsAskedOnceAMinute) {
  ServeLogin(LoginLine());
  ASSERT_EQ(ConnectToServer("anna", "pw"), 42);
  net::ResetServerReply();
  RecordsSession().saved_server_time.clear();
  const int expected = (2026 - 1980) * 512 + 12 * 32 + 7;
  EXPECT_EQ(TCPFindServerTime(2), expected);
  EXPECT_EQ(TCPFindServerTime(2), expected);
  EXPECT_EQ(server_->Count("PING"), 1);
  EXPECT_NE(server_->requests().back().target.find("CMD=PING_wosid=S1"), std::string::npos);
}

TEST_F(ProtocolTest, UnreachableServerAsksQuitOrRetry) {
  ServeLogin(LoginLine());
  RS().RecordsIPPort = 1;  // nobody listens there
  EXPECT_EQ(ConnectToServer("anna", "pw"), -2) << "not on line, and Quit";
  EXPECT_NE(base::Run().quitFlag, 0);
  ASSERT_EQ(backend_->shown.size(), 1u);
  EXPECT_EQ(backend_->shown[0].id, "MSG_MustConnectOnline");
}

// ---- The settings checksum --------------------------------------------------------------------

TEST_F(ProtocolTest, AlteredSettingsEndTheRunWithASupportMessage) {
  ServeLogin(LoginLine());
  RS().streamingServer = "other.example";  // not what the checksum was made of
  EXPECT_EQ(ConnectToServer("anna", "pw"), -3);
  EXPECT_NE(base::Run().quitFlag, 0);
  EXPECT_EQ(server_->requests().size(), 0u) << "no login with altered settings";
  EXPECT_NE(ReadTestFile(opened_).find("mailto:"), std::string::npos);
  EXPECT_NE(Log().find("Corrupted Records Server Settings (1):127.0.0.1"), std::string::npos)
      << Log();
}

TEST_F(ProtocolTest, ChecksumFromTheSourceWinsAndIsCheckedOncePerRun) {
  ServeLogin(LoginLine());
  const ServerSettings& rs = RS();
  WriteTestFile(base::Run().current_dir + "/install/data/versions.ini",
                "[Records]\r\nserver_006_serverchecksum=" +
                    SettingsChecksum(rs.RecordsIPAddress, rs.streamingServer) + "\r\n");
  WriteTestFile(base::GetRecordsIniFilePath(), "[Records]\r\nserver_num=006\r\nserverchecksum=0\r\n");
  EXPECT_EQ(CheckServerChecksum(), 1);
  RS().streamingServer = "changed.example";
  EXPECT_EQ(CheckServerChecksum(), 1) << "once it matched, the run does not check again";
}

}  // namespace
}  // namespace nuvel::records
