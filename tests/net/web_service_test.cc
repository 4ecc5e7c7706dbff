// Web-service calls against servers started by the test on 127.0.0.1: a plain HTTP one and an
// HTTPS one with a throw-away certificate authority, both answering from a script of replies
// and counting the attempts they see.
#include "net/web_service.h"

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "base/run_state.h"
#include "net/transport.h"
#include "net/update_check.h"
#include "platform/clock.h"
#include "tests/net/peers.h"
#include "tests/support/fake_backend.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"
#include "ui/prompts.h"
#include "ui/script/script_backend.h"

namespace nuvel::net {
namespace {

using nuvel::testing::ReadTestFile;
using testing::TestCertificates;

WebRequest Request(const std::string& host, int port, int serverNumber, const std::string& path) {
  WebRequest request;
  request.host = host;
  request.port = port;
  request.serverNumber = serverNumber;
  request.path = path;
  return request;
}

// A Records server stand-in: every POST takes the next scripted reply (the last one is used
// again and again) and is counted; "/echo-cookie" answers with the Cookie header it got.
class ReplyServer {
 public:
  // Plain HTTP, or HTTPS with the given certificate and key.
  ReplyServer(const std::string& certificate = "", const std::string& key = "") {
    if (certificate.empty()) {
      server_ = std::make_unique<httplib::Server>();
    } else {
      server_ = std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str());
    }
    server_->set_keep_alive_max_count(1);
    server_->Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++hits_;
      paths_.push_back(request.path);
      if (request.path == "/echo-cookie") {
        response.set_content("cookie=" + request.get_header_value("Cookie"), "text/plain");
        return;
      }
      std::string reply = replies_.empty() ? "" : replies_.front();
      if (replies_.size() > 1) replies_.pop_front();
      response.set_content(reply, "text/plain");
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~ReplyServer() {
    server_->stop();
    thread_.join();
  }

  void Script(std::deque<std::string> replies) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_ = std::move(replies);
  }
  int hits() {
    std::lock_guard<std::mutex> lock(mutex_);
    return hits_;
  }
  std::vector<std::string> paths() {
    std::lock_guard<std::mutex> lock(mutex_);
    return paths_;
  }
  int port() const { return port_; }

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::mutex mutex_;
  std::deque<std::string> replies_;
  std::vector<std::string> paths_;
  int hits_ = 0;
  int port_ = 0;
};

// Records the cursor, the moments of the event loop's turns, and can run something inside a
// turn (as a user's click during a call would).
class WatchingBackend : public ui::testing::FakeBackend {
 public:
  void SetCursor(ui::Cursor cursor) override {
    cursors.push_back(cursor == ui::Cursor::kBusy ? "busy" : "arrow");
  }
  void PumpEvents() override {
    FakeBackend::PumpEvents();
    pump_times.push_back(platform::MonotonicSeconds());
    if (during_pump) {
      auto once = std::move(during_pump);
      during_pump = nullptr;
      once();
    }
  }
  std::vector<std::string> cursors;
  std::vector<double> pump_times;
  std::function<void()> during_pump;
};

class WebServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nuvel::testing::ResetBaseModules();
    std::filesystem::create_directories(sysroot_.path("opt/Nuvel"));
    base::Initialize_All_Paths(sysroot_.path("opt/Nuvel"));
    auto backend = std::make_unique<WatchingBackend>();
    ui_ = backend.get();
    ui::SetBackend(std::move(backend));
    SetRetryWaitsForTesting(0, 0);
  }
  void TearDown() override {
    Transport().reset();
    nuvel::testing::ResetBaseModules();
    ui::SetBackend(nullptr);
  }

  // A request to the plain server (server number 6).
  WebRequest Plain(const std::string& path) { return Request("127.0.0.1", plain_.port(), 6, path); }
  std::vector<std::string> PromptIds() const {
    std::vector<std::string> ids;
    for (const ui::Dialog& dialog : ui_->shown) ids.push_back(dialog.id);
    return ids;
  }
  std::string Log() { return ReadTestFile(base::Paths().localNuvelDirectory + "Nuvel_log.txt"); }
  int Count(const std::string& text) {
    std::string log = Log();
    int count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
      ++count;
    return count;
  }
  // The text of the prompt's message item.
  static std::string MessageOf(const ui::Dialog& dialog) {
    std::string text;
    for (const ui::DialogItem& item : dialog.items)
      if (item.kind == ui::ItemKind::kStaticText) text += item.text + "\n";
    return text;
  }

  nuvel::testing::TestSysroot sysroot_;
  ReplyServer plain_;
  WatchingBackend* ui_ = nullptr;
  std::string reply_;
  int received_ = -1;
};

// ---- The address ---------------------------------------------------------------------------

TEST(WebAddress, SchemeAndPortFollowTheServerNumberAndTheDeliveryDomain) {
  WebRequest request = Request("rs.school.example", 8080, 6, "/a");
  EXPECT_EQ(WebAddress(request), "http://rs.school.example:8080/a");
  request.serverNumber = 75;
  request.port = 0;
  EXPECT_EQ(WebAddress(request), "http://rs.school.example:80/a") << "port 0 is taken as 80";
  request.serverNumber = 12;
  EXPECT_EQ(WebAddress(request), "https://rs.school.example:443/a")
      << "every other server goes over HTTPS on 443, whatever its configured port";
  request.serverNumber = 6;
  request.host = "eu1.Nuvel-CDN.example";
  EXPECT_EQ(WebAddress(request), "https://eu1.Nuvel-CDN.example:443/a")
      << "the delivery network is reached over HTTPS even for a plain server's number";
}

TEST(WebAddress, LongAddressesAreCutShorterWithABody) {
  WebRequest request = Request("h.example", 80, 6, "/" + std::string(600, 'p'));
  EXPECT_EQ(WebAddress(request).size(), kMaxAddress);
  request.body = "Ym9keQ==";
  EXPECT_EQ(WebAddress(request).size(), kMaxAddressWithBody);
  EXPECT_TRUE(WebAddress(request).starts_with("http://h.example:80/ppp"));
}

// ---- One attempt -----------------------------------------------------------------------------

TEST_F(WebServiceTest, LoginStartsANewSessionAndTheCookieGoesOnlyWhenAsked) {
  Transport().gCookieFromServer = "session=old";
  ASSERT_EQ(WiniNetCall(Plain("/echo-cookie"), reply_, received_), 1);
  EXPECT_EQ(reply_, "cookie=session=old");
  EXPECT_EQ(received_, static_cast<int>(reply_.size()));

  WebRequest quiet = Plain("/echo-cookie");
  quiet.sendCookie = false;
  WiniNetCall(quiet, reply_, received_);
  EXPECT_EQ(reply_, "cookie=") << "a request told not to carry the cookie sent it";

  WiniNetCall(Plain("/NuvelRS.NRS/x?CMD=LGNS_1"), reply_, received_);
  EXPECT_TRUE(Transport().gCookieFromServer.empty()) << "a login kept the old session's cookie";
  EXPECT_EQ(WiniNetCall(Request("", 80, 6, "/x"), reply_, received_), 0)
      << "a request without a server address was sent";
}

TEST_F(WebServiceTest, ServerSixIsPlainAndOthersUseHttpsOnTheSeamPort) {
  TestCertificates tls(sysroot_.path("tls"));
  ASSERT_EQ(tls.error, "");
  ReplyServer secure(tls.certificate, tls.key);
  secure.Script({"ANSW secure"});
  plain_.Script({"ANSW plain"});
  ::setenv("NUVEL_TEST_CA_FILE", tls.ca.c_str(), 1);
  ::setenv("NUVEL_TEST_HTTPS_PORT", std::to_string(secure.port()).c_str(), 1);

  EXPECT_EQ(WiniNet(Plain("/p"), reply_, received_), 1);
  EXPECT_EQ(reply_, "ANSW plain");
  WebRequest other = Plain("/s");
  other.serverNumber = 3;
  EXPECT_EQ(ServicePort(other), secure.port());
  EXPECT_EQ(WiniNet(other, reply_, received_), 1);
  EXPECT_EQ(reply_, "ANSW secure") << "server 3 was not reached over HTTPS";
  EXPECT_EQ(plain_.paths(), std::vector<std::string>{"/p"});
  EXPECT_EQ(secure.paths(), std::vector<std::string>{"/s"});
  ::unsetenv("NUVEL_TEST_HTTPS_PORT");
  ::unsetenv("NUVEL_TEST_CA_FILE");
}

// ---- Quiet repeats ---------------------------------------------------------------------------

TEST_F(WebServiceTest, AFourByteReplyIsRetriedUnlessTheCookieIsLeftOut) {
  plain_.Script({"ANSW", "ANSW 0001 done"});
  EXPECT_EQ(WiniNet(Plain("/c"), reply_, received_), 1);
  EXPECT_EQ(reply_, "ANSW 0001 done");
  EXPECT_EQ(received_, 14);
  EXPECT_EQ(plain_.hits(), 2);
  EXPECT_EQ(Count("Error WiniNet: bytes_received=4   trying again (1) ..."), 1) << Log();
  EXPECT_TRUE(ui_->shown.empty());

  plain_.Script({"ANSW"});
  WebRequest quiet = Plain("/c");
  quiet.sendCookie = false;
  EXPECT_EQ(WiniNet(quiet, reply_, received_), 1);
  EXPECT_EQ(received_, 4) << "without the cookie four bytes are an answer";
  EXPECT_EQ(plain_.hits(), 3);
}

TEST_F(WebServiceTest, AStudentRecordRequestWithoutReplyReturnsWithoutRetryOrDialog) {
  plain_.Script({""});
  EXPECT_EQ(WiniNet(Plain("/NuvelRS.NRS/r?CMD=STDR_7"), reply_, received_), 1);
  EXPECT_EQ(plain_.hits(), 1);
  EXPECT_EQ(received_, -1) << "the byte count of a student-record request is left as it was";
  EXPECT_TRUE(ui_->shown.empty());
  EXPECT_EQ(WebService().WiniNet_has_been_called, 0);
}

TEST_F(WebServiceTest, GroupRequestShowsTheBusyCursorAndANestedCallIsRefused) {
  plain_.Script({"ANSW groups"});
  int nested = -1;
  ui_->during_pump = [&] {
    std::string reply;
    int received = 0;
    nested = WiniNet(Plain("/other"), reply, received);
  };
  EXPECT_EQ(WiniNet(Plain("/NuvelRS.NRS/g?CMD=GRPD_1"), reply_, received_), 1);
  EXPECT_EQ(nested, 0) << "a call made while another waits was not refused";
  EXPECT_EQ(Count("Error WiniNet: busy with another command"), 1) << Log();
  EXPECT_EQ(plain_.hits(), 1) << "the nested call reached the server";
  ASSERT_FALSE(ui_->cursors.empty());
  EXPECT_EQ(ui_->cursors.front(), "busy");
  EXPECT_EQ(ui_->cursors.back(), "arrow");
}

// ---- Failures ------------------------------------------------------------------------------

TEST_F(WebServiceTest, QuitNamesServerAndProxyAndRefusesEveryLaterCall) {
  plain_.Script({""});
  ui_->answer = [](ui::Dialog&) { return 1; };  // Quit
  EXPECT_EQ(WiniNet(Plain("/q"), reply_, received_), 1);
  EXPECT_EQ(received_, 0);
  EXPECT_EQ(plain_.hits(), 4) << "one attempt, two quiet repeats and the auto:0 repeat";
  EXPECT_EQ(Count("trying again (3)"), 1) << Log();
  ASSERT_EQ(PromptIds(), std::vector<std::string>{"MSG_CannotConnectToRS"});
  std::string message = MessageOf(ui_->shown[0]);
  EXPECT_NE(message.find(base::Localize("MSG_Text_ConnectToInternet")), std::string::npos)
      << "without the version file the user is asked to check the connection: " << message;
  EXPECT_NE(message.find("Records Server: 127.0.0.1"), std::string::npos) << message;
  EXPECT_NE(message.find("Proxy Server: Auto Detect"), std::string::npos) << message;
  EXPECT_EQ(base::Run().quitFlag, 1);
  EXPECT_EQ(WebService().quitFlag_issued, 1);
  EXPECT_EQ(base::Log().fromInternet, 1);

  // Even when the run goes on, a call after Quit never reaches the server.
  base::Run().quitFlag = 0;
  plain_.Script({"ANSW late"});
  EXPECT_EQ(WiniNet(Plain("/late"), reply_, received_), 0);
  EXPECT_EQ(plain_.hits(), 4);
  EXPECT_EQ(Count("Error WiniNet: quitFlag_issued"), 1) << Log();
}

TEST_F(WebServiceTest, RetryStartsAgainAndANamedProxyIsNotReplaced) {
  UpdateCheck().versionFile_HasBeenDownloaded = 1;
  plain_.Script({""});
  ui_->answer = [this](ui::Dialog&) {
    plain_.Script({"ANSW at last"});
    return 2;  // Retry
  };
  WebRequest request = Plain("/r");
  request.proxyText = "proxy.school.example:3128";
  EXPECT_EQ(WiniNet(request, reply_, received_), 1);
  EXPECT_EQ(reply_, "ANSW at last");
  EXPECT_EQ(plain_.hits(), 4) << "three attempts without auto:0 (a proxy is named), then one";
  EXPECT_EQ(Count("trying again (3)"), 0) << Log();
  ASSERT_EQ(ui_->shown.size(), 1u);
  std::string message = MessageOf(ui_->shown[0]);
  EXPECT_NE(message.find("Proxy Server: proxy.school.example:3128"), std::string::npos) << message;
  EXPECT_EQ(message.find(base::Localize("MSG_Text_ConnectToInternet")), std::string::npos)
      << "the version file was fetched, so the Internet is not in doubt: " << message;
  EXPECT_EQ(base::Run().quitFlag, 0);
}

TEST_F(WebServiceTest, SuppressedFailureSetsBit128AndAsksNothing) {
  plain_.Script({""});
  WebService().skipStatusPrompt = 1;
  EXPECT_EQ(WiniNet(Plain("/s"), reply_, received_), 0);
  EXPECT_EQ(WebService().skipStatusPrompt, 1 | kStatusPromptSuppressed);
  EXPECT_TRUE(ui_->shown.empty());
  EXPECT_EQ(received_, 0);
  EXPECT_EQ(WebService().WiniNet_has_been_called, 0) << "the call stayed marked in progress";
}

TEST_F(WebServiceTest, AStoppedDownloadIsReportedInsteadOfTheConnectionQuestion) {
  plain_.Script({""});
  Transport().gDownloadInterrupted = 1;
  EXPECT_EQ(WiniNet(Plain("/d"), reply_, received_), 1);
  EXPECT_EQ(plain_.hits(), 3) << "no auto:0 repeat after the user stopped a download";
  EXPECT_EQ(PromptIds(), std::vector<std::string>{"MSG_Message_DownloadIncomplete"});
  EXPECT_EQ(Transport().gDownloadInterrupted, 0);
}

// ---- Unattended runs -----------------------------------------------------------------------

TEST_F(WebServiceTest, AnswerFileRunRetriesFiftyTimesBeforeItsAnswerQuits) {
  std::string error;
  auto script = ui::MakeScriptBackend("prompt:MSG_CannotConnectToRS -> 1\n", &error);
  ASSERT_TRUE(script) << error;
  ui::SetBackend(std::move(script));
  SetRetryWaitsForTesting(1, 0);
  plain_.Script({""});
  double start = platform::MonotonicSeconds();
  EXPECT_EQ(WiniNet(Plain("/u"), reply_, received_), 1);
  EXPECT_GE(platform::MonotonicSeconds() - start, 0.5) << "the 50 waits of 10 ms were skipped";
  EXPECT_EQ(plain_.hits(), (kUnattendedRetries + 1) * 4);
  EXPECT_EQ(Count("Error WiniNet: automatic retry "), kUnattendedRetries) << Log();
  EXPECT_EQ(Count("automatic retry 50 of 50: " + base::LocalizeEnglish("MSG_CannotConnectToRS")), 1)
      << "the retries do not log the message";
  EXPECT_EQ(WebService().quitFlag_issued, 1);
}

TEST_F(WebServiceTest, CommandLineJobRecoversDuringItsAutomaticRetries) {
  ui::Prompts().CmdLine_job = 1;
  // Three rounds of four attempts find the server silent; the fourth round's first finds it.
  std::deque<std::string> replies(3 * 4, "");
  replies.push_back("ANSW back");
  plain_.Script(replies);
  EXPECT_EQ(WiniNet(Plain("/j"), reply_, received_), 1);
  EXPECT_EQ(plain_.hits(), 3 * 4 + 1);
  EXPECT_EQ(Count("Error WiniNet: automatic retry "), 3) << Log();
  EXPECT_EQ(reply_, "ANSW back");
  EXPECT_TRUE(ui_->shown.empty()) << "an unattended job showed a dialog";
  EXPECT_EQ(WebService().quitFlag_issued, 0);
}

// ---- On line -------------------------------------------------------------------------------

TEST_F(WebServiceTest, OnLineMeansTheServerAcceptsAConnection) {
  EXPECT_EQ(AreTheyCurrentlyConnected("127.0.0.1", plain_.port()), 1);
  int closed = testing::FreePort();
  double start = platform::MonotonicSeconds();
  EXPECT_EQ(AreTheyCurrentlyConnected("127.0.0.1", closed), 0);
  EXPECT_LT(platform::MonotonicSeconds() - start, 1.0) << "a refused connection took long";
  EXPECT_EQ(AreTheyCurrentlyConnected("", 80), 0);
}

TEST_F(WebServiceTest, AServerThatNeverAnswersIsOffLineWithinThreeSecondsAndTheLoopRuns) {
  // A listener whose queue is full: further connection requests are dropped unanswered.
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers.push_back(filler);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  double start = platform::MonotonicSeconds();
  EXPECT_EQ(AreTheyCurrentlyConnected("127.0.0.1", ntohs(address.sin_port)), 0);
  double elapsed = platform::MonotonicSeconds() - start;
  EXPECT_GE(elapsed, 2.5) << "the test gave up before its time";
  EXPECT_LT(elapsed, 4.0) << "the test ran past its 3 seconds";
  double longest = 0;
  for (std::size_t i = 1; i < ui_->pump_times.size(); ++i)
    longest = std::max(longest, ui_->pump_times[i] - ui_->pump_times[i - 1]);
  EXPECT_LT(longest, 0.3) << "the event loop was held up while connecting";
  for (int fd : fillers) ::close(fd);
  ::close(listener);
}

}  // namespace
}  // namespace nuvel::net
