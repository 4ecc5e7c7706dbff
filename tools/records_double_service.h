// The commands of the Records-server double: one request (its target and body) in, one reply
// out, with the sessions opened by LGNS and the request log. Independent of the HTTP server that
// carries it, so that it could be driven without sockets.
#pragma once

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tools/records_double_store.h"

namespace nuvel::tools::records_double {

struct ServiceOptions {
  bool big_endian = false;  // numbers of records in big-endian order
  int protocol_level = 4;   // announced in the login reply; below 4 no UTF-8, below 2 block form
  int group_digits = 5;     // 4: the older group field, one column shorter
  bool compress = false;    // "COMP" replies to sessions whose login asked for them
  int page_size = 50;       // records per CLSB reply
  std::string application = "NuvelRecords";  // the path segment named at login
};

/// A server notice: "WEB<kind> <code>" in place of a reply's "ANSW" header.
struct Notice {
  char kind = '0';
  std::string code;  // 4 characters
};

struct Reply {
  std::string body;
  bool html = false;  // an error page
};

class Service {
 public:
  /// `log` receives one line per request (it stays open; may be stderr).
  Service(Store& store, ServiceOptions options, std::FILE* log);

  /// Queues a notice for the next reply that begins "ANSW".
  void QueueNotice(const Notice& notice);

  /// Answers one request: `target` is the raw path and query, `body` the request body. Safe to
  /// call from several threads (one request is answered at a time).
  Reply Answer(std::string_view target, std::string_view body);

 private:
  struct Session {
    std::int64_t group_id = 0;
    std::int64_t student_id = 0;  // 0 for a group login
    std::string login;
    bool unicode = false;
    bool compress = false;
  };
  struct Request {
    std::string command, parameter, session_id;
    bool unicode = false;
    std::string_view body;
  };
  // What a command answers: the reply and the result for the log.
  struct Outcome {
    std::string text;
    std::string result;
    bool html = false;
  };

  Outcome Login(Request& request);
  Outcome Dispatch(const Request& request, Session& session);
  Outcome ClassCount(const Request& request, const Session& session);
  Outcome ClassPage(const Request& request, const Session& session);
  Outcome ClassInfo(const Request& request, const Session& session);
  Outcome ClassWrite(const Request& request, const Session& session);
  Outcome Students(const Request& request, const Session& session);
  Outcome StudentInfo(const Request& request, const Session& session);
  Outcome ChangePassword(const Request& request, const Session& session);

  // The records a class listing holds: "P" the session's group and its classes, "-" every group.
  std::vector<std::string> Listing(char kind, const Session& session, std::string& stamp);
  std::string ClassRecord(const Class& record, const Group& group, bool unicode) const;
  std::string GroupRecord(const Group& group, bool unicode) const;
  std::string StudentRecord(const Student& student, const Group& group, bool unicode) const;
  // The class of the session's group with this key, if any.
  std::optional<Class> OwnClass(std::string_view key, const Session& session);
  void Log(const Request& request, const std::string& result);

  Store& store_;
  ServiceOptions options_;
  std::FILE* log_;
  std::mutex mutex_;
  std::map<std::string, Session> sessions_;
  std::deque<Notice> notices_;
  std::mt19937_64 random_;
};

}  // namespace nuvel::tools::records_double
