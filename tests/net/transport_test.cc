// The transport against a misbehaving server of our own (tests/net/fault_server.h).
#include "net/transport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "base/run_state.h"
#include "net/server_reply.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tests/net/fault_server.h"
#include "tests/support/fake_backend.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"

namespace nuvel::net {
namespace {

using nuvel::testing::ReadTestFile;
using nuvel::testing::WriteTestFile;

class StoppableBackend : public ui::testing::FakeBackend {
 public:
  bool StopRequested() override { return stop; }
  void PumpEvents() override {
    FakeBackend::PumpEvents();
    if (quit_after_pumps > 0 && pumps >= quit_after_pumps) base::Run().quitFlag = 1;
  }
  bool stop = false;
  int quit_after_pumps = 0;  // a quit signal is served at this turn of the event loop
};

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nuvel::testing::ResetInstallerModules();
    Transport().reset();
    ResetServerReply();
    auto backend = std::make_unique<StoppableBackend>();
    backend_ = backend.get();
    ui::SetBackend(std::move(backend));
    dir_ = sysroot_.path("downloads") + "/";
    platform::MakeDirectories(dir_);
  }
  void TearDown() override { Transport().reset(); }

  int Download(const std::string& name, const std::string& path = "/file") {
    return CFDownloadFile(dir_, name, server_.base() + path);
  }
  std::vector<std::string> PromptIds() const {
    std::vector<std::string> ids;
    for (const ui::Dialog& dialog : backend_->shown) ids.push_back(dialog.id);
    return ids;
  }

  nuvel::testing::TestSysroot sysroot_;
  testing::FaultServer server_;
  StoppableBackend* backend_ = nullptr;
  std::string dir_;
};

TEST(UrlNormalisation, SchemeMinimumLengthAndEscapes) {
  std::string url = "example.org/a";
  EXPECT_TRUE(NormalizeUrl(url));
  EXPECT_EQ(url, "http://example.org/a");
  url = "https://h/x";
  EXPECT_FALSE(NormalizeUrl(url)) << "11 characters are refused";
  url = "abc";
  EXPECT_FALSE(NormalizeUrl(url)) << "still short after http:// was added";
  url = "https://host/a%20b c%zz/%C3%A9?q=1&r=é";
  EXPECT_TRUE(NormalizeUrl(url));
  EXPECT_EQ(url, "https://host/a%20b%20c%25zz/%C3%A9?q=1&r=%C3%A9")
      << "one escape per unsafe character, existing escapes not doubled";
}

TEST_F(TransferTest, FileArrivesUnderItsUpperCaseNameAndCookieAndDateAreKept) {
  EXPECT_EQ(Download("course.zip"), 0);
  EXPECT_EQ(ReadTestFile(dir_ + "COURSE.ZIP"), "content of COURSE.ZIP");
  EXPECT_FALSE(platform::Exists(dir_ + "COURSE.ZIP.tmp"));
  EXPECT_EQ(SavedServerDateHeader(), std::string("Date: ") + testing::FaultServer::kDate);
  EXPECT_EQ(Transport().gCookieFromServer, testing::FaultServer::kCookie);
  EXPECT_TRUE(backend_->shown.empty());
  EXPECT_EQ(Download("course_zp.zip"), 0) << "a \"_zp\" name keeps its case";
  EXPECT_EQ(ReadTestFile(dir_ + "course_zp.zip"), "content of course_zp.zip");
  // A redirect is followed; garbage before a DOCTYPE is dropped.
  EXPECT_EQ(CFDownloadFile(dir_, "LIST", server_.base() + "/redirect?"), 0);
  EXPECT_EQ(ReadTestFile(dir_ + "LIST"), "content of redirected");
  EXPECT_EQ(CFDownloadFile(dir_, "LIST", server_.base() + "/garbage?"), 0);
  EXPECT_EQ(ReadTestFile(dir_ + "LIST"), "<!DOCTYPE list>\nitem");
}

TEST_F(TransferTest, NotFoundLeavesNoFileAndIsQuietForVersionFiles) {
  WriteTestFile(dir_ + "VERSION2M.INI", "earlier");
  EXPECT_EQ(CFDownloadFile(dir_, "VERSION2M.INI", server_.base() + "/missing?"), -1);
  EXPECT_TRUE(backend_->shown.empty()) << "a missing version file is not reported";
  EXPECT_EQ(ReadTestFile(dir_ + "VERSION2M.INI"), "earlier");
  EXPECT_FALSE(platform::Exists(dir_ + "VERSION2M.INI.tmp"));

  EXPECT_EQ(CFDownloadFile(dir_, "COURSE.ZIP", server_.base() + "/missing?"), 1);
  EXPECT_EQ(PromptIds(), std::vector<std::string>{"MSG_Message_ErrorDownloading"});
  EXPECT_FALSE(platform::Exists(dir_ + "COURSE.ZIP"));
}

TEST_F(TransferTest, ErrorPageIsNotStoredAndGoesToTheBrowser) {
  std::string opener = sysroot_.path("bin/xdg-open");
  WriteTestFile(opener, "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/opened\"\n");
  std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
  std::string path = std::getenv("PATH");
  setenv("PATH", (sysroot_.path("bin") + ":" + path).c_str(), 1);
  int result = CFDownloadFile(dir_, "COURSE.ZIP", server_.base() + "/errorpage?");
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(platform::Exists(dir_ + "COURSE.ZIP"));
  EXPECT_FALSE(platform::Exists(dir_ + "COURSE.ZIP.tmp"));
  EXPECT_EQ(ReadTestFile(sysroot_.path("bin/opened")), server_.base() + "/errorpage?/COURSE.ZIP\n");
}

TEST_F(TransferTest, ShortBodyIsAFailureAndKeepsTheEarlierCopy) {
  WriteTestFile(dir_ + "COURSE.ZIP", "complete earlier copy");
  EXPECT_EQ(CFDownloadFile(dir_, "COURSE.ZIP", server_.base() + "/short?"), 1);
  EXPECT_EQ(ReadTestFile(dir_ + "COURSE.ZIP"), "complete earlier copy");
  EXPECT_FALSE(platform::Exists(dir_ + "COURSE.ZIP.tmp"));
  EXPECT_EQ(PromptIds(), std::vector<std::string>{"MSG_Message_ErrorDownloading"});
}

TEST_F(TransferTest, SilenceLongerThanTheTimeOutFailsButATrickleInsideItDoesNot) {
  SetInactivityTimeoutForTesting(0.5);
  WriteTestFile(dir_ + "VERSION2M.INI", "complete earlier copy");
  double start = platform::MonotonicSeconds();
  EXPECT_EQ(CFDownloadFile(dir_, "VERSION2M.INI", server_.base() + "/stall-half?s=5&"), -1);
  EXPECT_LT(platform::MonotonicSeconds() - start, 3) << "the stall was not cut short";
  EXPECT_EQ(ReadTestFile(dir_ + "VERSION2M.INI"), "complete earlier copy");
  EXPECT_FALSE(platform::Exists(dir_ + "VERSION2M.INI.tmp"));

  // Six bytes 0.3 s apart: 1.5 s in all, far more than the time-out, never silent that long.
  SetInactivityTimeoutForTesting(0.8);
  EXPECT_EQ(CFDownloadFile(dir_, "SLOW", server_.base() + "/trickle?n=6&ms=300&"), 0);
  EXPECT_EQ(ReadTestFile(dir_ + "SLOW"), "tttttt");
}

TEST_F(TransferTest, StopRemovesTheTemporaryFileAndSaysTheDownloadIsIncomplete) {
  WriteTestFile(dir_ + "COURSE.ZIP", "complete earlier copy");
  backend_->stop = true;
  backend_->answer = [](ui::Dialog& dialog) {
    return dialog.id == "MSG_Message_FilesBeingCopied" ? 2 : 1;
  };
  EXPECT_EQ(CFDownloadFile(dir_, "COURSE.ZIP", server_.base() + "/stall-half?s=5&"), 1);
  EXPECT_EQ(PromptIds(), (std::vector<std::string>{"MSG_Message_FilesBeingCopied",
                                                   "MSG_Message_DownloadIncomplete"}));
  EXPECT_EQ(ReadTestFile(dir_ + "COURSE.ZIP"), "complete earlier copy");
  EXPECT_FALSE(platform::Exists(dir_ + "COURSE.ZIP.tmp"));
  EXPECT_EQ(Transport().gDownloadFile, nullptr);
}

TEST_F(TransferTest, QuitEndsTheDownloadAtOnceWithoutAMessage) {
  WriteTestFile(dir_ + "COURSE.ZIP", "complete earlier copy");
  backend_->quit_after_pumps = 5;
  double start = platform::MonotonicSeconds();
  EXPECT_EQ(CFDownloadFile(dir_, "COURSE.ZIP", server_.base() + "/stall-half?s=5&"), 1);
  EXPECT_LT(platform::MonotonicSeconds() - start, 2) << "the download outlived the quit";
  EXPECT_TRUE(backend_->shown.empty());
  EXPECT_EQ(ReadTestFile(dir_ + "COURSE.ZIP"), "complete earlier copy");
  EXPECT_FALSE(platform::Exists(dir_ + "COURSE.ZIP.tmp"));
}

TEST_F(TransferTest, ProgressShowsTheFileAndEndsWithTheBoxRemoved) {
  EXPECT_EQ(CFDownloadFile(dir_, "SLOW", server_.base() + "/trickle?n=3&ms=150&"), 0);
  ASSERT_FALSE(backend_->events.empty());
  EXPECT_EQ(backend_->events.front().rfind("show Downloading SLOW|", 0), 0)
      << backend_->events.front();
  EXPECT_FALSE(backend_->status_shown);
}

TEST_F(TransferTest, UnreachableServerAndRefusedAddressEndTheWaitAtOnce) {
  double start = platform::MonotonicSeconds();
  EXPECT_EQ(CFDownloadFile(dir_, "VERSION", "http://127.0.0.1:1"), -1);
  EXPECT_FALSE(platform::Exists(dir_ + "VERSION.tmp"));
  EXPECT_EQ(CFDownloadFile(dir_, "V", "x"), 1) << "\"http://x/V\" is too short";
  EXPECT_LT(platform::MonotonicSeconds() - start, 2);
  EXPECT_EQ(PromptIds(), std::vector<std::string>{"MSG_Message_ErrorDownloading"});
  EXPECT_FALSE(platform::Exists(dir_ + "V.tmp"));
}

TEST_F(TransferTest, MemoryRequestPostsWithUserAgentAndCookieAndFailuresGiveNothing) {
  SetUserAgentVersion("362.023.008.023");
  EXPECT_EQ(URLRequest(server_.base() + "/file/x", nullptr, 0), "content of x");
  Transport().gSendCookie = 1;
  std::string body("cmd=1\0x", 7);
  EXPECT_EQ(URLRequest(server_.base() + "/echo", body.data(), body.size()),
            "POST|(Nuvel Linux Launcher 362.023.008.023)||" +
                std::string(testing::FaultServer::kCookie) + "|" + body);
  EXPECT_EQ(URLRequest(server_.base() + "/echo", nullptr, 0),
            "GET|||" + std::string(testing::FaultServer::kCookie) + "|");
  // The reply grows its buffer; failures give nothing.
  std::size_t large = kReceiveBufferSize * 3;
  EXPECT_EQ(URLRequest(server_.base() + "/large?n=" + std::to_string(large), nullptr, 0).size(),
            large);
  EXPECT_EQ(URLRequest(server_.base() + "/missing", nullptr, 0), "");
  EXPECT_EQ(URLRequest(server_.base() + "/short", nullptr, 0), "");
  EXPECT_EQ(URLRequest("x", nullptr, 0), "");
}

TEST(ErrorPages, RecognisedAfterLeadingLineBreaksOnly) {
  EXPECT_EQ(CallToServerWasBad("\r\n\r\n<html><body>"), 1);
  EXPECT_EQ(CallToServerWasBad("OK 12 404 NOT FOUND"), 1);
  EXPECT_EQ(CallToServerWasBad("OK 12 students"), 0);
  EXPECT_EQ(CallToServerWasBad(std::string(101, 'x') + "HTML"), 0)
      << "only the first 100 characters count";
}

}  // namespace
}  // namespace nuvel::net
