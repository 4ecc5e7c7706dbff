#include "tools/records_double_service.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "tools/records_double_wire.h"

namespace nuvel::tools::records_double {
namespace {

// Offsets of the class record (groups use the same layout).
constexpr std::size_t kName = 0, kTeacher = 41, kPath = 82, kType = 94, kFlags = 112,
                      kPassword = 118, kPassword2 = 158, kProtected = 198, kGroupExpiry = 248,
                      kGroupNumber = 252, kClassExpiry = 256, kCountry = 258, kGroupFlags16 = 266,
                      kGroupCountry = 270;
constexpr int kGroupType = -998;
constexpr int kGroupFlagNewRights = 3;
// Offsets of the student record.
constexpr std::size_t kStudentName = 9, kYear = 50, kMonth = 52, kDay = 53, kTimeLimit = 54,
                      kStudentPassword = 60, kStudentFlags = 144, kStudentExpiry = 148,
                      kEmail = 388, kBegins = 540;

constexpr std::string_view kFAQText = "***FAQ***";
constexpr std::string_view kFAQServerForm = "**__***FAQ***";
constexpr std::string_view kNoPath = "--------";
constexpr std::string_view kNewClass = "NEWCLASS";

std::string Digits(int value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", width, value);
  return text;
}

// The fixed header of an answer: "ANSW CMD_ count timestamp", 38 characters; the count at
// offset 10, the timestamp at 19.
std::string Header(std::string_view command, int count, const std::string& stamp) {
  return "ANSW " + std::string(command) + " " + Digits(count, 8) + " " + stamp;
}

std::string Failure(std::string_view command, const std::string& stamp, std::string_view what) {
  return "ERRO " + std::string(command) + " 00000000 " + stamp + " " + std::string(what) + "\r\n";
}

std::string ErrorPageText(std::string_view what) {
  return "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\r\n<HTML><HEAD><TITLE>Records "
         "Server</TITLE></HEAD><BODY><H1>" +
         std::string(what) + "</H1></BODY></HTML>\r\n";
}

// A text padded with blanks (or cut) to a fixed column width.
std::string Column(std::string_view text, std::size_t width) {
  std::string out(text.substr(0, width));
  out.resize(width, ' ');
  return out;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Control characters would break the one-line-per-request log.
std::string Printable(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  return out;
}

// Reads "%03d-->TEXT<--" at `position`; false when the body does not hold one there.
bool ReadLoginField(std::string_view body, std::size_t& position, std::string& field) {
  if (position + 6 > body.size()) return false;
  std::string_view digits = body.substr(position, 3);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  std::size_t length = static_cast<std::size_t>(std::stoi(std::string(digits)));
  if (body.substr(position + 3, 3) != "-->") return false;
  std::size_t start = position + 6;
  if (start + length + 3 > body.size() || body.substr(start + length, 3) != "<--") return false;
  field = std::string(body.substr(start, length));
  position = start + length + 3;
  return true;
}

// The 40-byte password field of a record at protocol level 2 and above: the server form, or
// nothing for an empty password.
void PutPasswordField(std::string& record, std::size_t offset, std::string_view clear) {
  if (clear.empty())
    PutText(record, offset, 40, "");
  else if (clear == kFAQText)
    PutText(record, offset, 40, kFAQServerForm);
  else
    PutText(record, offset, 40, ServerForm(clear));
}

// Reads a password field back: a server form is decoded, anything else was never scrambled.
bool GetPasswordField(std::string_view record, std::size_t offset, std::string& clear) {
  std::string field = GetText(record, offset, 40);
  if (field == kFAQServerForm) {
    clear = kFAQText;
    return true;
  }
  if (field.rfind("**__", 0) != 0) {
    clear = field;
    return true;
  }
  auto decoded = ClearText(field);
  if (!decoded) return false;
  clear = *decoded;
  return true;
}

// The password fields of a class record a client wrote, in clear: at protocol level 2 and
// above each field in server form (a field without "**__" was never scrambled); below, one
// 80-byte block when class flag 1 says the fields are scrambled. False when a field fails its
// check value.
bool ReadClassPasswords(std::string_view record, bool server_form, Class& out) {
  out.protected_text = GetText(record, kProtected, 49);
  if (server_form) {
    return GetPasswordField(record, kPassword, out.password) &&
           GetPasswordField(record, kPassword2, out.password2) &&
           (GetText(record, kProtected, 4) != "**__" ||
            GetPasswordField(record, kProtected, out.protected_text));
  }
  if (!(Get16(record, kFlags) & (1 << 1))) {
    out.password = GetText(record, kPassword, 40);
    out.password2 = GetText(record, kPassword2, 40);
    return true;
  }
  std::string block(record.substr(kPassword, 80));
  if (!Unscramble(reinterpret_cast<unsigned char*>(block.data()), block.size())) return false;
  out.password = GetText(block, 0, 40);
  out.password2 = GetText(block, 40, 38);
  return true;
}

std::int64_t Bit(int n) { return std::int64_t{1} << n; }

// The group flags 0-47 of a group record, as the three words that hold them.
std::int64_t GroupFlagMask(const Group& group) {
  std::int64_t mask = group.flags | Bit(kGroupFlagNewRights);
  for (int right = 0; right <= 6; ++right)
    if (group.rights & (1 << right)) mask |= Bit(4 + right);
  if (group.rights & (1 << 8)) mask |= Bit(12);
  return mask;
}

// Reads the rights and the other flags of a group record a client wrote, in either the new
// form of the rights (flag 3 set) or the older one.
void ReadGroupRights(std::string_view record, Group& group) {
  std::int64_t mask = (Get16(record, kFlags) & 0xFFFF) |
                      std::int64_t{Get16(record, kGroupFlags16) & 0xFFFF} << 16 |
                      std::int64_t{Get16(record, kClassExpiry) & 0xFFFF} << 32;
  int rights = 0;
  if (mask & Bit(kGroupFlagNewRights)) {
    for (int right = 0; right <= 6; ++right)
      if (mask & Bit(4 + right)) rights |= 1 << right;
    if (mask & Bit(12)) rights |= 1 << 8;
  } else {
    if (Get16(record, 106)) rights |= 0b111;
    if (mask & Bit(32)) rights |= 0b1111000;
    if (Get16(record, 104)) rights |= 1 << 8;
  }
  if (Get16(record, 100)) rights |= 1 << kRightEnabled;
  std::int64_t own = Bit(kGroupFlagNewRights) | Bit(12);
  for (int right = 0; right <= 6; ++right) own |= Bit(4 + right);
  if (!(mask & Bit(kGroupFlagNewRights))) own |= Bit(32);
  group.rights = rights;
  group.flags = mask & ~own;
}

int Year(int packed) { return packed ? 1980 + (packed >> 9) : 0; }

}  // namespace

Service::Service(Store& store, ServiceOptions options, std::FILE* log)
    : store_(store), options_(std::move(options)), log_(log), random_(std::random_device{}()) {}

void Service::QueueNotice(const Notice& notice) {
  std::lock_guard lock(mutex_);
  notices_.push_back(notice);
}

Reply Service::Answer(std::string_view target, std::string_view body) {
  std::lock_guard lock(mutex_);
  Request request;
  request.body = body;
  std::size_t question = target.find('?');
  std::string_view query = question == std::string_view::npos ? "" : target.substr(question + 1);
  std::string raw_parameter;
  for (std::size_t start = 0; start <= query.size();) {
    std::size_t end = std::min(query.find('&', start), query.size());
    std::string_view pair = query.substr(start, end - start);
    std::size_t equals = pair.find('=');
    std::string_view name = pair.substr(0, equals);
    std::string_view value = equals == std::string_view::npos ? "" : pair.substr(equals + 1);
    if (name == "CMD") {
      std::string command = PercentDecode(value);
      std::size_t underscore = command.find('_');
      request.command = command.substr(0, underscore);
      if (underscore != std::string::npos) request.parameter = command.substr(underscore + 1);
      // What the client passed as the parameter, with what it appended ("&UNICODE=1").
      std::size_t raw = query.find('_', start);
      if (raw < end) raw_parameter = PercentDecode(query.substr(raw + 1));
    } else if (name == "wosid") {
      request.session_id = value;
    } else if (name == "UNICODE") {
      request.unicode = value == "1";
    }
    start = end + 1;
  }

  static constexpr std::string_view kKnown[] = {"LGNS", "QUIT", "PING", "HELO", "PASS", "CLSN",
                                                "CLSB", "CLSS", "CLSW", "STDN", "STDA", "STDS"};
  Outcome out;
  bool compress = false;
  if (std::find(std::begin(kKnown), std::end(kKnown), request.command) == std::end(kKnown)) {
    out = {ErrorPageText("UNKNOWN COMMAND"), "unknown command", true};
  } else if (request.command == "HELO") {
    out = {"Records Server application is responding\r\n", "responding"};
  } else if (request.command == "LGNS") {
    out = Login(request);
    auto session = sessions_.find(request.session_id);
    compress = session != sessions_.end() && session->second.compress;
  } else if (auto session = sessions_.find(request.session_id); session == sessions_.end()) {
    out = {ErrorPageText("BAD SESSION ID"), "bad session id", true};
  } else if (request.command == "QUIT") {
    out = {"QUIT\r\n", "session " + session->first + " ended"};
    sessions_.erase(session);
  } else {
    compress = session->second.compress;
    out = Dispatch(request, session->second);
  }

  if (!out.html && out.text.rfind("ANSW", 0) == 0 && out.text.size() >= 9 && !notices_.empty()) {
    const Notice& notice = notices_.front();
    out.text.replace(0, 4, std::string("WEB") + notice.kind);
    out.text.replace(5, 4, Column(notice.code, 4));
    out.result += ", notice WEB" + std::string(1, notice.kind) + " " + notice.code;
    notices_.pop_front();
  }
  if (compress && !out.html && out.text.rfind("QUIT", 0) != 0) {
    std::size_t size = out.text.size();
    out.text = CompressReply(out.text);
    out.result += ", compressed " + std::to_string(size) + " -> " + std::to_string(out.text.size());
  }
  request.parameter = raw_parameter;
  Log(request, out.result);
  return {std::move(out.text), out.html};
}

Service::Outcome Service::Login(Request& request) {
  const std::string stamp = Timestamp(std::time(nullptr));
  auto body = DecodeBase64(request.body);
  std::string user, password;
  std::size_t position = 0;
  if (!body || !ReadLoginField(*body, position, user) || !ReadLoginField(*body, position, password))
    return {ErrorPageText("BAD LOGIN REQUEST"), "malformed login body", true};
  std::string rest = body->substr(position);
  while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) rest.pop_back();
  const bool asks_compression = rest.size() >= 9 && rest.substr(rest.size() - 9) == "COMP MONI";

  auto refuse = [&](std::string_view why) -> Outcome {
    return {"ANSW LGNS " + Digits(0, 8) + " " + stamp + " " + std::string(why) + "\r\n",
            std::string(why) + " " + Printable(user)};
  };
  Session session;
  session.login = user;
  // The Setup appends its maker's domain to a bare login name (one with neither "@" nor "."):
  // such a name is the account's own login id.
  std::string account = user;
  constexpr std::string_view kAppendedDomain = "@nuvel.example";
  if (account.size() > kAppendedDomain.size()) {
    std::string end = account.substr(account.size() - kAppendedDomain.size());
    for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string bare = account.substr(0, account.size() - kAppendedDomain.size());
    if (end == kAppendedDomain && bare.find_first_of("@.") == std::string::npos) account = bare;
  }
  std::optional<Group> group = store_.GroupByLogin(account);
  std::optional<Student> student;
  std::optional<Class> student_class;
  if (!group) {
    student = store_.StudentByLogin(account);
    if (student) student_class = store_.ClassById(student->class_id);
    if (student_class) group = store_.GroupById(student_class->group_id);
    if (!group) return refuse("USER NOT FOUND");
  }
  // Passwords arrive only in server form; a clear one is never compared.
  const std::string& stored = student ? student->password : group->password;
  if (password.rfind("**__", 0) != 0 || !PasswordMatches(stored, password))
    return refuse("BAD PASSWORD");
  if (group->disabled) return refuse("GROUP DISABLED");

  std::string id;
  do {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random_()));
    id = text;
  } while (sessions_.count(id));
  session.group_id = group->id;
  session.student_id = student ? student->id : 0;
  session.unicode = request.unicode && options_.protocol_level >= 4;
  session.compress = options_.compress && asks_compression;
  sessions_[id] = session;
  request.session_id = id;

  // The fixed columns of the login reply. With the older 4-digit group field every column after
  // it sits one to the left, and offset 23 is the blank that tells the two forms apart.
  const int level = options_.protocol_level;
  std::string line = "ANSW LGNS ";
  line += Column(student ? student->key : group->key, 8) + " ";
  line += Digits(group->number, options_.group_digits) + " ";
  line += Column(student_class ? student_class->key : "", 8) + " ";
  line += Column(student ? student->key : group->key, 8) + " ";
  line += std::to_string(level) + " " + std::to_string(std::min(level, 2)) + " ";
  line += std::string(options_.big_endian ? "1" : "0") + "   ";
  line += id + " " + options_.application;
  if (!group->country.empty()) line += " " + group->country;
  line += "\r\n";
  return {line, "logged in " + Printable(user) + ", group " + std::to_string(group->number) +
                    ", session " + id + (session.unicode ? ", UTF-8" : "")};
}

Service::Outcome Service::Dispatch(const Request& request, Session& session) {
  const std::string& command = request.command;
  if (command == "PING") return {Header("PING", 0, Timestamp(std::time(nullptr))) + "\r\n", "pong"};
  if (command == "CLSN") return ClassCount(request, session);
  if (command == "CLSB") return ClassPage(request, session);
  if (command == "CLSS") return ClassInfo(request, session);
  if (command == "CLSW") return ClassWrite(request, session);
  if (command == "STDN" || command == "STDA") return Students(request, session);
  if (command == "STDS") return StudentInfo(request, session);
  return ChangePassword(request, session);
}

std::vector<std::string> Service::Listing(char kind, const Session& session, std::string& stamp) {
  std::vector<std::string> records;
  if (kind == '-') {
    for (const Group& group : store_.Groups()) {
      records.push_back(GroupRecord(group, session.unicode));
      stamp = std::max(stamp, group.changed);
    }
    return records;
  }
  std::optional<Group> group = store_.GroupById(session.group_id);
  if (!group) return records;
  stamp = group->changed;
  records.push_back(GroupRecord(*group, session.unicode));
  for (const Class& c : store_.ClassesOf(group->id))
    records.push_back(ClassRecord(c, *group, session.unicode));
  return records;
}

Service::Outcome Service::ClassCount(const Request& request, const Session& session) {
  std::string_view parameter = request.parameter;
  while (!parameter.empty() && parameter.front() == '_') parameter.remove_prefix(1);
  const char kind = !parameter.empty() && parameter.front() == '-' ? '-' : 'P';
  std::string stamp;
  auto records = Listing(kind, session, stamp);
  return {Header("CLSN", static_cast<int>(records.size()), stamp) + "\r\n",
          std::to_string(records.size()) + " records, changed " + stamp};
}

Service::Outcome Service::ClassPage(const Request& request, const Session& session) {
  const std::string now = Timestamp(std::time(nullptr));
  const std::string& parameter = request.parameter;
  std::size_t digits = 0;
  while (digits < parameter.size() && std::isdigit(static_cast<unsigned char>(parameter[digits])))
    ++digits;
  if (digits == 0 || digits > 4) return {Failure("CLSB", now, "BAD PARAMETER"), "bad parameter"};
  const std::size_t start = static_cast<std::size_t>(std::stoi(parameter.substr(0, digits)));
  const char kind = parameter.find('-', digits) != std::string::npos ? '-' : 'P';
  std::string stamp;
  auto records = Listing(kind, session, stamp);
  std::size_t end = std::min(records.size(), start + static_cast<std::size_t>(options_.page_size));
  std::size_t count = start < end ? end - start : 0;
  std::string text = Header("CLSB", static_cast<int>(count), stamp) + " " +
                     Digits(static_cast<int>(kClassRecordSize), 4) + " " +
                     Digits(static_cast<int>(start + count), 4) + "\r\n";
  for (std::size_t i = start; i < end; ++i) text += records[i];
  return {text, "records " + std::to_string(start) + " to " + std::to_string(start + count) +
                    " of " + std::to_string(records.size())};
}

std::optional<Class> Service::OwnClass(std::string_view key, const Session& session) {
  std::optional<Class> found = store_.ClassByKey(key);
  if (!found || found->group_id != session.group_id) return std::nullopt;
  return found;
}

Service::Outcome Service::ClassInfo(const Request& request, const Session& session) {
  const std::string now = Timestamp(std::time(nullptr));
  std::optional<Group> group = store_.GroupById(session.group_id);
  if (group && request.parameter == group->key)
    return {Header("CLSS", 1, now) + "\r\n" + GroupRecord(*group, session.unicode),
            "group " + group->key};
  std::optional<Class> found = OwnClass(request.parameter, session);
  if (!group || !found) return {Failure("CLSS", now, "CLASS NOT FOUND"), "no such class"};
  return {Header("CLSS", 1, now) + "\r\n" + ClassRecord(*found, *group, session.unicode),
          "class " + found->key};
}

Service::Outcome Service::ClassWrite(const Request& request, const Session& session) {
  std::string now = Timestamp(std::time(nullptr));
  if (session.student_id) return {Failure("CLSW", now, "NOT ALLOWED"), "refused to a student"};
  std::optional<Group> group = store_.GroupById(session.group_id);
  auto body = DecodeBase64(request.body);
  if (!group || !body || body->size() < kClassRecordSize)
    return {Failure("CLSW", now, "BAD RECORD"), "no 700-byte record"};
  // The time of this change, later than the group's last one.
  now = StampAfter(group->changed, std::time(nullptr));
  std::string record = body->substr(0, kClassRecordSize);
  if (options_.big_endian) SwapClassRecord(record);

  std::size_t plus = request.parameter.find('+');
  std::string path = request.parameter.substr(0, plus);
  std::string previous = plus == std::string::npos ? "" : request.parameter.substr(plus + 1);
  const bool unicode = session.unicode;
  Class fields;
  if (!ReadClassPasswords(record, options_.protocol_level >= 2, fields))
    return {Failure("CLSW", now, "BAD PASSWORD FIELD"), "a password failed its check"};

  // A group record updates the session's own group.
  if (path == group->key && previous != kNewClass) {
    Group updated = *group;
    updated.name = FromWire(GetText(record, kName, 41), group->language, unicode);
    updated.login_id = FromWire(GetText(record, kTeacher, 41), group->language, unicode);
    updated.expiry = Get16(record, kGroupExpiry) & 0xFFFF;
    const int country = Get16(record, kGroupCountry) & 0xFFFF;
    updated.country_number = country & 0x3FF;
    updated.group_type = country >> 10;
    ReadGroupRights(record, updated);
    updated.record = record;
    if (!store_.SaveGroup(updated, now))
      return {Failure("CLSW", now, "NOT SAVED"), store_.last_error()};
    return {Header("CLSW", 1, now) + " " + group->key + "\r\n", "group " + group->key + " saved"};
  }

  Class target;
  if (previous == kNewClass) {
    target.group_id = group->id;
    target.key = store_.NewClassKey();
  } else {
    std::optional<Class> found;
    if (!previous.empty() && previous != kNoPath) found = OwnClass(previous, session);
    if (!found) found = OwnClass(path, session);
    if (!found)
      return {Failure("CLSW", now, "CLASS NOT FOUND"), "no such class " + Printable(path)};
    target = *found;
    // A class saved under a new path keeps its students and takes the path it was sent with.
    if (path.size() == 8 && path != target.key && !store_.ClassByKey(path)) target.key = path;
  }
  target.name = FromWire(GetText(record, kName, 41), group->language, unicode);
  target.teacher = FromWire(GetText(record, kTeacher, 41), group->language, unicode);
  const int type = Get16(record, kType);
  target.number =
      type > 0 ? type : (target.number ? target.number : store_.NextClassNumber(group->id));
  target.flags = Get16(record, kFlags) & 0xFFFF & ~(1 << 1);
  target.expiry = Get16(record, kClassExpiry) & 0xFFFF;
  target.country_number = Get16(record, kCountry) & 0xFFFF;
  target.password = fields.password;
  target.password2 = fields.password2;
  target.protected_text = fields.protected_text;
  target.record = record;
  const bool created = target.id == 0;
  if (!store_.SaveClass(target, now))
    return {Failure("CLSW", now, "NOT SAVED"), store_.last_error()};
  return {Header("CLSW", 1, now) + " " + target.key + "\r\n",
          std::string(created ? "class created " : "class saved ") + target.key};
}

Service::Outcome Service::Students(const Request& request, const Session& session) {
  const std::string now = Timestamp(std::time(nullptr));
  std::optional<Group> group = store_.GroupById(session.group_id);
  std::optional<Class> found = OwnClass(request.parameter, session);
  if (!group || !found) return {Failure(request.command, now, "CLASS NOT FOUND"), "no such class"};
  std::vector<Student> students = store_.StudentsOf(found->id);
  std::string text = Header(request.command, static_cast<int>(students.size()), now) + "\r\n";
  if (request.command == "STDA")
    for (const Student& student : students) text += StudentRecord(student, *group, session.unicode);
  return {text, std::to_string(students.size()) + " students of " + found->key};
}

Service::Outcome Service::StudentInfo(const Request& request, const Session& session) {
  const std::string now = Timestamp(std::time(nullptr));
  std::size_t underscore = request.parameter.find('_');
  std::string path = request.parameter.substr(0, underscore);
  std::string key = underscore == std::string::npos ? "" : request.parameter.substr(underscore + 1);
  std::optional<Group> group = store_.GroupById(session.group_id);
  std::optional<Class> found = OwnClass(path, session);
  if (group && found) {
    for (const Student& student : store_.StudentsOf(found->id)) {
      if (student.key == key)
        return {Header("STDS", 1, now) + "\r\n" + StudentRecord(student, *group, session.unicode),
                "student " + key};
    }
  }
  return {Failure("STDS", now, "STUDENT NOT FOUND"), "no such student"};
}

Service::Outcome Service::ChangePassword(const Request& request, const Session& session) {
  const std::string now = Timestamp(std::time(nullptr));
  auto answer = [&](std::string_view what, const std::string& result) -> Outcome {
    return {Header("PASS", 0, now) + " " + std::string(what) + "\r\n", result};
  };
  if (session.student_id) return answer("NOT ALLOWED", "refused to a student");
  std::optional<Group> group = store_.GroupById(session.group_id);
  auto body = DecodeBase64(request.body);
  std::string old_password, new_password;
  std::size_t position = 0;
  if (!group || !body || !ReadLoginField(*body, position, old_password) ||
      !ReadLoginField(*body, position, new_password))
    return answer("BAD REQUEST", "malformed body");
  if (!PasswordMatches(group->password, old_password))
    return answer("BAD PASSWORD", "bad password");
  if (new_password.rfind("**__", 0) == 0) {
    auto clear = ClearText(new_password);
    if (!clear) return answer("BAD REQUEST", "new password fails its check");
    new_password = *clear;
  }
  if (!store_.SetGroupPassword(group->id, new_password))
    return answer("NOT SAVED", store_.last_error());
  return answer("GOOD", "password of group " + std::to_string(group->number) + " changed");
}

std::string Service::GroupRecord(const Group& group, bool unicode) const {
  std::string record =
      group.record.size() == kClassRecordSize ? group.record : std::string(kClassRecordSize, '\0');
  if (group.record.empty()) {
    Put16(record, 102, group.number);
    Put16(record, 104, 1);
    Put16(record, 106, 0);
    Put16(record, 108, 15);
    Put16(record, 110, 12);
  }
  PutText(record, kName, 41, ToWire(group.name, group.language, unicode, 40));
  PutText(record, kTeacher, 41, ToWire(group.login_id, group.language, unicode, 40));
  PutText(record, kPath, 9, group.key);
  Put16(record, kType, kGroupType);
  Put16(record, 100, (group.rights >> kRightEnabled) & 1);
  const std::int64_t mask = GroupFlagMask(group);
  Put16(record, kFlags, static_cast<int>(mask & 0xFFFF));
  Put16(record, kGroupFlags16, static_cast<int>((mask >> 16) & 0xFFFF));
  Put16(record, kClassExpiry, static_cast<int>((mask >> 32) & 0xFFFF));
  Put16(record, kGroupExpiry, group.expiry);
  Put16(record, kGroupNumber, group.number);
  Put16(record, kGroupCountry, (group.country_number & 0x3FF) | group.group_type << 10);
  if (options_.big_endian) SwapClassRecord(record);
  return record;
}

std::string Service::ClassRecord(const Class& c, const Group& group, bool unicode) const {
  std::string record =
      c.record.size() == kClassRecordSize ? c.record : std::string(kClassRecordSize, '\0');
  if (c.record.empty()) {
    // The settings of a new class.
    Put16(record, 98, 0);
    Put16(record, 100, 1);
    Put16(record, 102, 1);
    Put16(record, 106, 80);
    Put16(record, 116, 100);
  }
  PutText(record, kName, 41, ToWire(c.name, group.language, unicode, 40));
  PutText(record, kTeacher, 41, ToWire(c.teacher, group.language, unicode, 40));
  PutText(record, kPath, 9, c.key);
  Put16(record, kType, c.number);
  int flags = c.flags;
  if (options_.protocol_level >= 2) {
    PutPasswordField(record, kPassword, c.password);
    PutPasswordField(record, kPassword2, c.password2);
    std::memset(record.data() + kProtected, 0, 50);
    PutPasswordField(record, kProtected, c.protected_text);
  } else {
    // Older clients read both password fields as one scrambled block; flag 1 says so.
    auto block = BlockForm(c.password, c.password2);
    std::memcpy(record.data() + kPassword, block.data(), block.size());
    PutText(record, kProtected, 50, ToWire(c.protected_text, group.language, unicode, 49));
    flags |= 1 << 1;
  }
  Put16(record, kFlags, flags);
  Put16(record, kGroupNumber, group.number);
  Put16(record, kClassExpiry, c.expiry);
  Put16(record, kCountry, c.country_number);
  if (options_.big_endian) SwapClassRecord(record);
  return record;
}

std::string Service::StudentRecord(const Student& s, const Group& group, bool unicode) const {
  std::string record(kStudentRecordSize, '\0');
  PutText(record, 0, 9, s.key);
  PutText(record, kStudentName, 41, ToWire(s.name, group.language, unicode, 40));
  Put16(record, kYear, Year(s.created));
  record[kMonth] = static_cast<char>((s.created >> 5) & 0x0F);
  record[kDay] = static_cast<char>(s.created & 0x1F);
  Put32(record, kTimeLimit, s.time_limit);
  if (options_.protocol_level >= 2) {
    PutPasswordField(record, kStudentPassword, s.password);
  } else {
    auto block = BlockForm(s.password, "");
    std::memcpy(record.data() + kStudentPassword, block.data(), block.size());
  }
  Put16(record, kStudentFlags, s.flags);
  Put16(record, kStudentExpiry, s.expiry);
  PutText(record, kEmail, 50, ToWire(s.email, group.language, unicode, 49));
  Put16(record, kBegins, s.begins);
  if (options_.big_endian) SwapStudentRecord(record);
  return record;
}

void Service::Log(const Request& request, const std::string& result) {
  if (!log_) return;
  std::fprintf(log_, "%s\t%s\t%s\t%s\n", Timestamp(std::time(nullptr)).c_str(),
               request.command.empty() ? "-" : Printable(request.command).c_str(),
               Printable(request.parameter).c_str(), Printable(result).c_str());
  std::fflush(log_);
}

}  // namespace nuvel::tools::records_double
