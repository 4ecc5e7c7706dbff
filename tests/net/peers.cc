#include "tests/net/peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string_view>

#include "platform/clock.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/test_env.h"

namespace nuvel::net::testing {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool Accepting(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(port);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// Starts a server program and waits (at most 5 s) until every port accepts connections.
std::string StartServer(const std::vector<std::string>& argv, const std::string& output,
                        std::initializer_list<int> ports, int& pid) {
  platform::SpawnOptions options;
  options.search_path = true;
  options.output_path = output;
  if (auto ec = platform::Spawn(argv, pid, options)) {
    pid = 0;
    return "cannot start " + argv[0] + " (" + ec.message() +
           "); scripts/install-deps.sh installs it";
  }
  double deadline = platform::MonotonicSeconds() + 5;
  for (int port : ports) {
    while (!Accepting(port)) {
      if (!platform::ProcessExists(pid) || platform::MonotonicSeconds() > deadline)
        return argv[0] + " did not start: " + nuvel::testing::ReadTestFile(output);
      platform::SleepMilliseconds(10);
    }
  }
  return "";
}

void Stop(int pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  int status = 0;
  if (platform::WaitForChild(pid, status, 3000)) {
    ::kill(pid, SIGKILL);
    platform::WaitForChild(pid, status, 3000);
  }
}

std::string Run(const std::vector<std::string>& argv) {
  int status = 0;
  std::string output;
  if (platform::RunAndWait(argv, status, &output, true) || status != 0)
    return argv[0] + " " + argv[1] + " failed: " + output;
  return "";
}

}  // namespace

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

TestCertificates::TestCertificates(const std::string& folder)
    : ca(folder + "/ca.pem"), certificate(folder + "/server.pem"), key(folder + "/server.key") {
  platform::MakeDirectories(folder);
  const std::string ca_key = folder + "/ca.key", request = folder + "/server.csr",
                    extensions = folder + "/server.ext";
  nuvel::testing::WriteTestFile(extensions, "subjectAltName=IP:127.0.0.1\n");
  for (const auto& argv : std::vector<std::vector<std::string>>{
           {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-nodes", "-keyout", ca_key, "-out", ca, "-days", "1", "-subj", "/CN=Throw-away CA"},
           {"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", key, "-out", request, "-subj", "/CN=127.0.0.1"},
           {"openssl", "x509", "-req", "-in", request, "-CA", ca, "-CAkey", ca_key,
            "-CAcreateserial", "-out", certificate, "-days", "1", "-extfile", extensions}}) {
    error = Run(argv);
    if (!error.empty()) return;
  }
}

Nginx::Nginx(const std::string& root, const std::string& work, const TestCertificates* tls) {
  platform::MakeDirectories(work + "/temp");
  port_ = FreePort();
  std::string config =
      "daemon off;\nmaster_process off;\npid " + work + "/nginx.pid;\nerror_log " + work +
      "/error.log;\nevents { worker_connections 64; }\nhttp {\n  access_log " + work +
      "/access.log;\n  client_body_temp_path " + work + "/temp/body;\n  proxy_temp_path " + work +
      "/temp/proxy;\n  fastcgi_temp_path " + work + "/temp/fastcgi;\n  uwsgi_temp_path " + work +
      "/temp/uwsgi;\n  scgi_temp_path " + work +
      "/temp/scgi;\n  server { listen 127.0.0.1:" + std::to_string(port_) + "; root " + root +
      "; }\n";
  if (tls) {
    tls_port_ = FreePort();
    config += "  server { listen 127.0.0.1:" + std::to_string(tls_port_) + " ssl; root " + root +
              ";\n    ssl_certificate " + tls->certificate + ";\n    ssl_certificate_key " +
              tls->key + "; }\n";
  }
  config += "}\n";
  nuvel::testing::WriteTestFile(work + "/nginx.conf", config);
  std::vector<std::string> argv = {"nginx", "-e", work + "/error.log", "-p",
                                   work,    "-c", work + "/nginx.conf"};
  if (tls)
    error = StartServer(argv, work + "/output", {port_, tls_port_}, pid_);
  else
    error = StartServer(argv, work + "/output", {port_}, pid_);
}

Nginx::~Nginx() { Stop(pid_); }

Tinyproxy::Tinyproxy(const std::string& work) : log_(work + "/tinyproxy.log") {
  platform::MakeDirectories(work);
  port_ = FreePort();
  nuvel::testing::WriteTestFile(work + "/tinyproxy.conf",
                                "Port " + std::to_string(port_) +
                                    "\nListen 127.0.0.1\nTimeout 10\nLogFile \"" + log_ +
                                    "\"\nLogLevel Info\nMaxClients 10\nAllow 127.0.0.1\n");
  error = StartServer({"tinyproxy", "-d", "-c", work + "/tinyproxy.conf"}, work + "/output",
                      {port_}, pid_);
}

Tinyproxy::~Tinyproxy() { Stop(pid_); }

std::string Tinyproxy::Log() const { return nuvel::testing::ReadTestFile(log_); }

RecordsDouble::RecordsDouble(const std::string& work, const std::string& fixture,
                             const std::vector<std::string>& arguments)
    : log_(work + "/requests.log") {
  platform::MakeDirectories(work);
  std::vector<std::string> argv = {
      NUVEL_RECORDS_DOUBLE_BINARY, "--listen", "127.0.0.1", "--port", "0", "--log", log_};
  if (!fixture.empty()) argv.insert(argv.end(), {"--fixture", fixture});
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const std::string output = work + "/output";
  platform::SpawnOptions options;
  options.output_path = output;
  if (auto ec = platform::Spawn(argv, pid_, options)) {
    pid_ = 0;
    error = "cannot start " + argv[0] + " (" + ec.message() + ")";
    return;
  }
  // The double prints "listening on URL" once it accepts connections.
  constexpr std::string_view kReady = "listening on ";
  double deadline = platform::MonotonicSeconds() + 5;
  for (;;) {
    std::string text = nuvel::testing::ReadTestFile(output);
    if (std::size_t at = text.find(kReady); at != std::string::npos) {
      std::size_t end = text.find('\n', at);
      if (end != std::string::npos) {
        base_ = text.substr(at + kReady.size(), end - at - kReady.size());
        port_ = std::atoi(base_.substr(base_.rfind(':') + 1).c_str());
        return;
      }
    }
    if (!platform::ProcessExists(pid_) || platform::MonotonicSeconds() > deadline) {
      error = "records-server-double did not start: " + text;
      return;
    }
    platform::SleepMilliseconds(10);
  }
}

RecordsDouble::~RecordsDouble() { Stop(pid_); }

std::string RecordsDouble::Log() const { return nuvel::testing::ReadTestFile(log_); }

}  // namespace nuvel::net::testing
