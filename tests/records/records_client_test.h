// What the tests of the Records client share: a scripted Records server for replies the
// Records-server double never sends, and a fixture that starts the double (or the scripted
// server), points the settings at it and logs in as the Setup driver does.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/paths.h"
#include "base/run_state.h"
#include "net/web_service.h"
#include "platform/run_reset.h"
#include "records/classes.h"
#include "records/protocol.h"
#include "records/server_settings.h"
#include "tests/net/peers.h"
#include "tests/support/fake_backend.h"
#include "tests/support/test_env.h"

namespace nuvel::records::testing {

/// The example school of the Records-server double.
inline const std::string kSchool = std::string(NUVEL_EXAMPLES_DIR) + "/records-school.fixture";

/// A request as the scripted server received it.
struct ScriptedRequest {
  std::string target;  // path and query
  std::string body;
};

// A Records server whose every reply the test writes (records that lie about their size, bytes
// that are not UTF-8, a record that changes between two fetches). It listens on 127.0.0.1 and
// keeps every request.

class ScriptedRecordsServer {
 public:
  /// `reply` receives the request's path and query and returns the reply body.
  explicit ScriptedRecordsServer(std::function<std::string(const std::string& target)> reply)
      : ScriptedRecordsServer([reply = std::move(reply)](const ScriptedRequest& request) {
          return reply(request.target);
        }) {}
  /// `reply` receives the request and returns the reply body.
  explicit ScriptedRecordsServer(std::function<std::string(const ScriptedRequest&)> reply)
      : reply_(std::move(reply)) {
    server_.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
      ScriptedRequest received{request.target, request.body};
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(received);
      }
      response.set_content(reply_(received), "text/plain");
    });
    // One request per connection: a kept-alive connection would hold stop() for seconds.
    server_.set_keep_alive_max_count(1);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~ScriptedRecordsServer() {
    server_.stop();
    thread_.join();
  }
  ScriptedRecordsServer(const ScriptedRecordsServer&) = delete;
  ScriptedRecordsServer& operator=(const ScriptedRecordsServer&) = delete;

  int port() const { return port_; }

  /// The requests so far.
  std::vector<ScriptedRequest> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  /// The number of requests of `command` so far.
  int Count(const std::string& command) {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count_if(requests_.begin(), requests_.end(), [&](const auto& r) {
      return r.target.find("CMD=" + command) != std::string::npos;
    }));
  }

 private:
  std::function<std::string(const ScriptedRequest&)> reply_;
  httplib::Server server_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<ScriptedRequest> requests_;
  int port_ = 0;
};

// A private sysroot, a fake dialog back end that answers the first button, short retry waits,
// and the settings pointed at the server a test starts (server 6: plain HTTP, with the checksum
// of its addresses in records.ini).
class RecordsClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetRunState();
    auto backend = std::make_unique<ui::testing::FakeBackend>();
    backend_ = backend.get();
    ui::SetBackend(std::move(backend));
    std::filesystem::create_directories(sysroot_.path("opt/Nuvel"));
    base::Initialize_All_Paths(sysroot_.path("opt/Nuvel"));
    net::SetRetryWaitsForTesting(1, 1);
  }
  void TearDown() override {
    double_.reset();
    server_.reset();
    platform::ResetRunState();
  }

  /// Starts the double with `arguments` on `fixture` and points the settings at it.
  void Start(const std::vector<std::string>& arguments = {},
             const std::string& fixture = kSchool) {
    double_ = std::make_unique<net::testing::RecordsDouble>(sysroot_.path("double"), fixture,
                                                            arguments);
    ASSERT_EQ(double_->error, "");
    PointAt(double_->port());
  }
  /// Starts the scripted server and points the settings at it; `reply` receives the path and
  /// query of each request.
  void Serve(std::function<std::string(const std::string& target)> reply) {
    server_ = std::make_unique<ScriptedRecordsServer>(std::move(reply));
    PointAt(server_->port());
  }
  void PointAt(int port, int number = 6) {
    ServerSettings& rs = RS();
    rs.RecordsIPAddress = "127.0.0.1";
    rs.RecordsIPPort = port;
    rs.rs_server_number = number;
    rs.cgiPath = std::string(kDefaultCgiPath);
    rs.streamingServer = "stream.nuvel.example";
    nuvel::testing::WriteTestFile(
        base::GetRecordsIniFilePath(),
        "[Records]\r\nserver_num=006\r\nserverchecksum=" +
            SettingsChecksum(rs.RecordsIPAddress, rs.streamingServer) + "\r\n");
  }
  /// Logs in as the driver does: the group number becomes the login group, the run is on line.
  void LogIn(const std::string& user, const std::string& password, int group) {
    ASSERT_EQ(ConnectToServer(user, password), group);
    SetLoginGroupNumber(group);
    base::Run().Internet = 1;
  }

  std::string Log() const {
    return nuvel::testing::ReadTestFile(base::Paths().localNuvelDirectory + "Nuvel_log.txt");
  }
  std::vector<std::string> ShownIds() const {
    std::vector<std::string> ids;
    for (const ui::Dialog& dialog : backend_->shown) ids.push_back(dialog.id);
    return ids;
  }
  /// Every text of the i-th dialog shown, joined by "|".
  std::string ShownText(std::size_t i) const {
    std::string all;
    if (i < backend_->shown.size()) {
      for (const ui::DialogItem& item : backend_->shown[i].items) all += item.text + "|";
    }
    return all;
  }

  nuvel::testing::TestSysroot sysroot_;
  ui::testing::FakeBackend* backend_ = nullptr;
  std::unique_ptr<net::testing::RecordsDouble> double_;
  std::unique_ptr<ScriptedRecordsServer> server_;
};

}  // namespace nuvel::records::testing
