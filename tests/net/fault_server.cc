#include "tests/net/fault_server.h"

#include <httplib.h>

#include <chrono>

namespace nuvel::net::testing {

FaultServer::FaultServer() : server_(std::make_unique<httplib::Server>()) {
  httplib::Server& s = *server_;
  // One request per connection: a connection kept open would hold up the server's stop.
  s.set_keep_alive_max_count(1);
  s.Get(R"(/file/(.+))", [](const httplib::Request& request, httplib::Response& response) {
    response.set_header("Date", kDate);
    response.set_header("Set-Cookie", kCookie);
    response.set_content("content of " + request.matches[1].str(), "application/octet-stream");
  });
  s.Get("/missing", [](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
    response.set_content("<html><body>404 Not Found</body></html>", "text/html");
  });
  s.Get("/errorpage", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("<HTML><HEAD><TITLE>Server error</TITLE></HEAD></HTML>", "text/html");
  });
  s.Get("/garbage", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("\x01junk<!DOCTYPE list>\nitem", "text/plain");
  });
  s.Get("/redirect", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/file/redirected");
  });
  s.Get("/short", [](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(100, "application/octet-stream",
                                  [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                    sink.write(std::string(50, 'a').data(), 50);
                                    return false;  // the connection is dropped
                                  });
  });
  s.Get("/stall-half", [this](const httplib::Request& request, httplib::Response& response) {
    int seconds = std::stoi(request.get_param_value("s"));
    response.set_content_provider(
        100, "application/octet-stream",
        [this, seconds](std::size_t offset, std::size_t, httplib::DataSink& sink) {
          if (offset > 0 && !Pause(seconds * 1000)) return false;
          sink.write(std::string(50, 'b').data(), 50);
          return true;
        });
  });
  s.Get("/trickle", [this](const httplib::Request& request, httplib::Response& response) {
    int count = std::stoi(request.get_param_value("n"));
    int ms = std::stoi(request.get_param_value("ms"));
    response.set_content_provider(
        count, "application/octet-stream",
        [this, ms](std::size_t offset, std::size_t, httplib::DataSink& sink) {
          if (offset > 0 && !Pause(ms)) return false;
          sink.write("t", 1);
          return true;
        });
  });
  s.Get("/large", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content(std::string(std::stoul(request.get_param_value("n")), 'x'),
                         "application/octet-stream");
  });
  auto echo = [](const httplib::Request& request, httplib::Response& response) {
    response.set_content(request.method + "|" + request.get_header_value("User-Agent") + "|" +
                             request.get_header_value("Content-Type") + "|" +
                             request.get_header_value("Cookie") + "|" + request.body,
                         "text/plain");
  };
  s.Get("/echo", echo);
  s.Post("/echo", echo);

  port_ = s.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FaultServer::~FaultServer() {
  stopping_ = true;
  server_->stop();
  thread_.join();
}

std::string FaultServer::base() const { return "http://127.0.0.1:" + std::to_string(port_); }

bool FaultServer::Pause(int milliseconds) const {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < end) {
    if (stopping_) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace nuvel::net::testing
