// A small HTTP server on 127.0.0.1 that misbehaves on demand, for what a real web server does
// not do when asked: stalls, short bodies, error pages, cookies, dates and redirects.
//
//   /file/<name>        200, the body "content of <name>", a Date and a Set-Cookie header
//   /missing            404 with an HTML page
//   /errorpage          200 whose body is an HTML error page
//   /garbage            200: a few bytes of garbage, then "<!DOCTYPE ...>" and a page
//   /redirect           302 to /file/redirected
//   /short              Content-Length 100, 50 bytes sent, then the connection is closed
//   /stall-half?s=S     Content-Length 100, 50 bytes, S seconds of silence, the other 50
//   /trickle?n=N&ms=M   N bytes, one every M milliseconds (Content-Length N)
//   /large?n=N          N bytes of 'x'
//   /echo               the method, User-Agent, Content-Type, Cookie and the request body
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace nuvel::net::testing {

class FaultServer {
 public:
  FaultServer();
  ~FaultServer();

  int port() const { return port_; }
  /// "http://127.0.0.1:<port>"
  std::string base() const;

  inline static const char* kDate = "Tue, 15 Nov 1994 08:12:31 GMT";
  inline static const char* kCookie = "session=abc123; Path=/";

 private:
  // Sleeps in short steps; false when the server is being stopped.
  bool Pause(int milliseconds) const;

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  int port_ = 0;
};

}  // namespace nuvel::net::testing
