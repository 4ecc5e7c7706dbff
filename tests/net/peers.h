// Real peers for the transport tests, started by the tests on 127.0.0.1 with free ports and
// stopped when the object goes: nginx serving a folder over HTTP and HTTPS, tinyproxy as the
// HTTP proxy, the project's Records-server double, and a throw-away certificate authority made
// with the openssl command. A peer
// that cannot be started fails the test through `error` (scripts/install-deps.sh installs the
// programs); nothing is skipped.
#pragma once

#include <string>
#include <vector>

namespace nuvel::net::testing {

/// A TCP port on 127.0.0.1 that nobody listens on right now.
int FreePort();

/// A certificate authority and a server certificate for 127.0.0.1 signed by it, written into
/// `folder`: ca.pem, server.pem, server.key.
struct TestCertificates {
  explicit TestCertificates(const std::string& folder);
  std::string ca, certificate, key;
  std::string error;  // empty when everything was made
};

class Nginx {
 public:
  /// Serves `root` over HTTP and, with certificates, over HTTPS. `work` holds its files.
  Nginx(const std::string& root, const std::string& work, const TestCertificates* tls);
  ~Nginx();
  std::string http() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string https() const { return "https://127.0.0.1:" + std::to_string(tls_port_); }
  std::string error;

 private:
  int pid_ = 0, port_ = 0, tls_port_ = 0;
};

class Tinyproxy {
 public:
  explicit Tinyproxy(const std::string& work);
  ~Tinyproxy();
  int port() const { return port_; }
  /// What the proxy has logged so far.
  std::string Log() const;
  std::string error;

 private:
  int pid_ = 0, port_ = 0;
  std::string log_;
};

/// The project's Records-server double (build/tools/records-server-double), filled from a
/// fixture and listening on 127.0.0.1 on a port it chose itself; stopped when the object goes.
/// Its options and reply formats are described in tools/records_server_double.cc.
class RecordsDouble {
 public:
  /// Starts the double on `fixture` (a fixture file; "" when `arguments` name a --database) with
  /// further command-line `arguments`, such as {"--big-endian"}, {"--compress"} or
  /// {"--cert", certificates.certificate, "--key", certificates.key}. `work` receives its output
  /// and request log.
  RecordsDouble(const std::string& work, const std::string& fixture,
                const std::vector<std::string>& arguments = {});
  ~RecordsDouble();
  RecordsDouble(const RecordsDouble&) = delete;
  RecordsDouble& operator=(const RecordsDouble&) = delete;

  /// "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT", as the double announced it.
  const std::string& base() const { return base_; }
  std::string host() const { return "127.0.0.1"; }
  int port() const { return port_; }
  /// The request log so far: one line per request, "timestamp<TAB>command<TAB>parameter<TAB>
  /// result" (the login's user name appears in the result; passwords never do).
  std::string Log() const;
  std::string error;  // empty when the double is serving

 private:
  int pid_ = 0, port_ = 0;
  std::string base_, log_;
};

}  // namespace nuvel::net::testing
