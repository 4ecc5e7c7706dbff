// records-server-double: a stand-in for a school's Records server, for trying an installation
// out and for tests. It answers the commands the Setup application sends (LGNS, QUIT, PING, HELO,
// PASS, CLSN, CLSB, CLSS, CLSW, STDN, STDA, STDS) over HTTP or HTTPS from groups, classes and
// students kept in an SQLite database, and logs every request.
//
//   records-server-double (--fixture FILE | --database PATH) [--database PATH]
//                         [--listen ADDR] [--port N] [--cert FILE --key FILE]
//                         [--big-endian] [--protocol-level N] [--group-digits 4|5] [--compress]
//                         [--page-size N] [--notice [0:|1:]CODE]... [--application NAME]
//                         [--log FILE]
//
//   --fixture FILE       fills a new database from a fixture (below); without --database the
//                        database lives in memory for the run
//   --database PATH      the SQLite database: made from the fixture when one is given (it must
//                        not exist yet), else opened as left by an earlier run
//   --listen ADDR        address to listen on (default 127.0.0.1)
//   --port N             port (default 0: any free port)
//   --cert, --key        serve HTTPS with this PEM certificate and key
//   --big-endian         records carry their numbers in big-endian order
//   --protocol-level N   the level the login reply announces (default 4). Below 4 the client
//                        stops asking for UTF-8; below 2 passwords in records are in the block form
//   --group-digits 4     the older login reply with a 4-digit group field (default 5)
//   --compress           "COMP" replies to sessions whose login body ends with "COMP MONI"
//   --page-size N        at most N records per CLSB reply (default 50)
//   --notice [K:]CODE    answers the next "ANSW" reply as the notice "WEBK CODE" instead (K is 0
//                        or 1, default 0; CODE 4 characters); repeat for several replies
//   --application NAME   the path segment the login reply names (default NuvelRecords)
//   --log FILE           the request log (default: standard error)
//
// When ready it prints "listening on http://ADDR:PORT" (or https) on standard output. It runs
// until it is stopped by a signal. Exit status: 1 when it cannot start, 2 on a usage or fixture
// error (the message names the fixture's line).
//
// Replies. Every reply is CR LF text; an answer begins "ANSW", a blank, the command and a
// blank, then a count at offset 10 (8 digits) and the timestamp "YYYY-MM-DD+HH:MM:SS" at
// offset 19 (for CLSN and CLSB the time of the last change of the listed records). CLSB adds
// the record size at 39 and the next index at 44 and puts its records from offset 50; CLSS,
// STDA and STDS put theirs from offset 40; CLSW names the class's path at 39 ("NEWCLASS" as
// the previous path makes a new class). A failed command answers "ERRO", the command,
// "00000000", the timestamp and what went wrong. An unknown command or session id gets an HTML
// error page (status 200, as the client reads the body). A login is refused with
// "BAD PASSWORD", "USER NOT FOUND" or "GROUP DISABLED" (a group marked "disabled = yes"; a group
// that only lacks its "enabled" right is let in, and the client refuses it from its record).
// Passwords arrive only in the server form and are decoded here; clear passwords are never
// accepted and never logged. The request log has one line per request: timestamp, command,
// parameter and result, separated by tabs.
//
// The login reply's columns (the 5-digit form): 0 "ANSW LGNS", 10 the key of the account that
// logged in, 19 the group number, 25 the student's class path (blank for a group login), 34 the
// student key (the group's key for a group login), 43 the protocol level, 45 the level up to 2,
// 47 "1" for big-endian records, and from 51 the session id, the application name and the
// group's country letters, separated by blanks.
//
// Fixture format. Lines are "key = value" under section lines "[group NAME]", "[class NAME]"
// and "[student NAME]"; blank lines and lines beginning with "#" are skipped; names and texts are
// UTF-8 (at most 40 bytes for names and teachers). A class belongs to the group its "group" line
// names, else to the group above it; a student to the class its "class" line names, else to the
// class above it. Dates are YYYY-MM-DD, "never" or "none". Keys:
//   every section   key = 8 letters or digits (groups' and students' begin with a letter);
//                   default G, C or S and a serial number
//   [group]         number (1-9999, required), login id, password, rights, flags, home study,
//                   expiry (default none), disabled (yes: every login is refused), language
//                   (three-letter code, default ENG: the code page of texts for clients that
//                   do not ask for UTF-8), country (2 or 3 letters, named at login), country
//                   number (ISO numeric), type (0-63)
//   [class]         group, teacher, number (default: the next in its group), password,
//                   password 2, protected text, expiry (default never), disabled, flags (0-15),
//                   country number (default the group's)
//   [student]       class, login id, password, email, expiry, begins, created, disabled,
//                   home study, flags (0-15), time limit (minutes)
// "rights" lists the group's administrator rights 0 to 8 by number; "enabled" and "install" both
// stand for right 7, the right that keeps the group enabled and that the Setup application needs
// to install courses. "flags" lists flag numbers; yes/no keys set one flag (class "disabled"
// flag 6, group "home study" flag 1, student "disabled" flag 3 and "home study" flag 4). Login
// ids are compared without regard to case, and a login id without "@" or "." may arrive with
// "@nuvel.example" appended, as the Setup sends it; passwords are compared as clients send them,
// upper-cased and cut to 20 characters. examples/records-school.fixture is a complete example.

#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tools/records_double_service.h"
#include "tools/records_double_wire.h"

namespace nuvel::tools::records_double {
namespace {

constexpr int kUsageError = 2;

struct Options {
  std::string fixture, database, listen = "127.0.0.1", cert, key, log;
  int port = 0;
  ServiceOptions service;
  std::vector<Notice> notices;
};

int Usage(const std::string& problem) {
  std::fprintf(stderr,
               "records-server-double: %s\nusage: records-server-double (--fixture FILE | "
               "--database PATH) [--database PATH] [--listen ADDR] [--port N]\n"
               "       [--cert FILE --key FILE] [--big-endian] [--protocol-level N] "
               "[--group-digits 4|5] [--compress]\n"
               "       [--page-size N] [--notice [0:|1:]CODE]... [--application NAME] "
               "[--log FILE]\n",
               problem.c_str());
  return kUsageError;
}

bool ReadNumber(const char* text, int low, int high, int& value) {
  char* end = nullptr;
  long parsed = std::strtol(text, &end, 10);
  if (!*text || *end || parsed < low || parsed > high) return false;
  value = static_cast<int>(parsed);
  return true;
}

// Reads the command line; an empty result means the options are usable.
std::string ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (option == "--big-endian") {
      options.service.big_endian = true;
    } else if (option == "--compress") {
      options.service.compress = true;
    } else if (option == "--fixture" || option == "--database" || option == "--listen" ||
               option == "--cert" || option == "--key" || option == "--log" ||
               option == "--application") {
      const char* text = value();
      if (!text || !*text) return option + " needs a value";
      std::string& target = option == "--fixture"    ? options.fixture
                            : option == "--database" ? options.database
                            : option == "--listen"   ? options.listen
                            : option == "--cert"     ? options.cert
                            : option == "--key"      ? options.key
                            : option == "--log"      ? options.log
                                                     : options.service.application;
      target = text;
    } else if (option == "--port") {
      const char* text = value();
      if (!text || !ReadNumber(text, 0, 65535, options.port)) return "--port needs 0 to 65535";
    } else if (option == "--protocol-level") {
      const char* text = value();
      if (!text || !ReadNumber(text, 0, 9, options.service.protocol_level))
        return "--protocol-level needs a digit";
    } else if (option == "--group-digits") {
      const char* text = value();
      if (!text || !ReadNumber(text, 4, 5, options.service.group_digits))
        return "--group-digits is 4 or 5";
    } else if (option == "--page-size") {
      const char* text = value();
      if (!text || !ReadNumber(text, 1, 9999, options.service.page_size))
        return "--page-size needs 1 to 9999";
    } else if (option == "--notice") {
      const char* text = value();
      std::string code = text ? text : "";
      Notice notice;
      if (code.size() == 6 && (code[0] == '0' || code[0] == '1') && code[1] == ':') {
        notice.kind = code[0];
        code = code.substr(2);
      }
      if (code.size() != 4) return "--notice needs [0:|1:] and a 4-character code";
      notice.code = code;
      options.notices.push_back(notice);
    } else {
      return "unknown option " + option;
    }
  }
  if (options.fixture.empty() && options.database.empty())
    return "give a fixture, a database or both";
  if (options.cert.empty() != options.key.empty()) return "--cert and --key go together";
  return "";
}

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

int Run(int argc, char** argv) {
  Options options;
  if (std::string problem = ParseOptions(argc, argv, options); !problem.empty())
    return Usage(problem);

  Fixture fixture;
  if (!options.fixture.empty()) {
    std::string text, error;
    if (!ReadFile(options.fixture, text)) return Usage("cannot read " + options.fixture);
    if (!ParseFixture(text, fixture, error)) {
      std::fprintf(stderr, "records-server-double: %s:%s\n", options.fixture.c_str(),
                   error.c_str());
      return kUsageError;
    }
  }
  std::string error;
  auto store = Store::Open(options.database.empty() ? ":memory:" : options.database,
                           options.fixture.empty() ? nullptr : &fixture, error);
  if (!store) {
    std::fprintf(stderr, "records-server-double: %s\n", error.c_str());
    return 1;
  }

  std::FILE* log = stderr;
  if (!options.log.empty() && !(log = std::fopen(options.log.c_str(), "a"))) {
    std::fprintf(stderr, "records-server-double: cannot write %s\n", options.log.c_str());
    return 1;
  }
  Service service(*store, options.service, log);
  for (const Notice& notice : options.notices) service.QueueNotice(notice);

  const bool tls = !options.cert.empty();
  std::unique_ptr<httplib::Server> server;
  if (tls) {
    auto secure = std::make_unique<httplib::SSLServer>(options.cert.c_str(), options.key.c_str());
    if (!secure->is_valid()) {
      std::fprintf(stderr, "records-server-double: cannot use the certificate %s and key %s\n",
                   options.cert.c_str(), options.key.c_str());
      return 1;
    }
    server = std::move(secure);
  } else {
    server = std::make_unique<httplib::Server>();
  }
  auto handle = [&service](const httplib::Request& request, httplib::Response& response) {
    Reply reply = service.Answer(request.target, request.body);
    // The client reads the server's date from this header, which the library does not send.
    response.set_header("Date", HttpDate(std::time(nullptr)));
    response.set_content(reply.body, reply.html ? "text/html" : "application/octet-stream");
  };
  server->Get(".*", handle);
  server->Post(".*", handle);

  int port = options.port;
  if (port == 0)
    port = server->bind_to_any_port(options.listen);
  else if (!server->bind_to_port(options.listen, port))
    port = -1;
  if (port <= 0) {
    std::fprintf(stderr, "records-server-double: cannot listen on %s:%d\n", options.listen.c_str(),
                 options.port);
    return 1;
  }
  const bool v6 = options.listen.find(':') != std::string::npos;
  std::printf("listening on %s://%s%s%s:%d\n", tls ? "https" : "http", v6 ? "[" : "",
              options.listen.c_str(), v6 ? "]" : "", port);
  std::fflush(stdout);
  return server->listen_after_bind() ? 0 : 1;
}

}  // namespace
}  // namespace nuvel::tools::records_double

int main(int argc, char** argv) { return nuvel::tools::records_double::Run(argc, argv); }
