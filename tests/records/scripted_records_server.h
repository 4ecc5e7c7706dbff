// A Records server whose every reply the test writes, for replies the Records-server double never
// sends (records that lie about their size, bytes that are not UTF-8, a record that changes
// between two fetches). It listens on 127.0.0.1 and counts the requests of each command.
#pragma once

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nuvel::records::testing {

class ScriptedRecordsServer {
 public:
  /// `reply` receives the request's path and query and returns the reply body.
  explicit ScriptedRecordsServer(std::function<std::string(const std::string& target)> reply)
      : reply_(std::move(reply)) {
    server_.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        targets_.push_back(request.target);
      }
      response.set_content(reply_(request.target), "text/plain");
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

  /// The number of requests of `command` so far.
  int Count(const std::string& command) {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count_if(targets_.begin(), targets_.end(), [&](const auto& t) {
      return t.find("CMD=" + command) != std::string::npos;
    }));
  }

 private:
  std::function<std::string(const std::string&)> reply_;
  httplib::Server server_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> targets_;
  int port_ = 0;
};

}  // namespace nuvel::records::testing
