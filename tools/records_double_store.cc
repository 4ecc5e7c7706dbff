#include "tools/records_double_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <set>

#include "tools/records_double_wire.h"

namespace nuvel::tools::records_double {
namespace {

// ---- Fixture text ----------------------------------------------------------------------------

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

// "Login  ID" -> "login id": keys are compared in lower case with single blanks.
std::string NormalKey(std::string_view key) {
  std::string out;
  for (char c : Trim(key)) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ' ' || text[i] == ',' || text[i] == '\t') {
      if (i > start) words.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return words;
}

bool ParseNumber(std::string_view text, int low, int high, int& value) {
  int parsed = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high)
    return false;
  value = parsed;
  return true;
}

bool ParseYesNo(std::string_view text, bool& value) {
  std::string lower = Lower(text);
  if (lower == "yes" || lower == "true" || lower == "1")
    value = true;
  else if (lower == "no" || lower == "false" || lower == "0")
    value = false;
  else
    return false;
  return true;
}

// A list of flag numbers from low to high into a bit mask.
bool ParseFlags(std::string_view text, int high, std::int64_t& mask) {
  for (std::string_view word : Words(text)) {
    int flag = 0;
    if (!ParseNumber(word, 0, high, flag)) return false;
    mask |= std::int64_t{1} << flag;
  }
  return true;
}

bool ParseRights(std::string_view text, int& rights) {
  for (std::string_view word : Words(text)) {
    int right = 0;
    std::string lower = Lower(word);
    if (lower == "install")
      right = kRightInstall;
    else if (lower == "enabled")
      right = kRightEnabled;
    else if (!ParseNumber(word, 0, kRightCount - 1, right))
      return false;
    rights |= 1 << right;
  }
  return true;
}

bool ValidKey(std::string_view key, bool letter_first) {
  if (key.size() != 8) return false;
  if (!std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isalnum(c); }))
    return false;
  return !letter_first || std::isalpha(static_cast<unsigned char>(key[0]));
}

void SetFlag(int& flags, int flag, bool on) {
  if (on)
    flags |= 1 << flag;
  else
    flags &= ~(1 << flag);
}

// One section while the fixture is read.
struct Section {
  enum Kind { kGroup, kClass, kStudent } kind = kGroup;
  std::size_t index = 0;
  int line = 0;
  std::string reference;  // the "group" of a class or the "class" of a student, if named
  std::size_t above = 0;  // the group or class section above, when none is named
  bool has_above = false;
};

class FixtureReader {
 public:
  explicit FixtureReader(Fixture& fixture) : fixture_(fixture) {}

  bool Read(std::string_view text, std::string& error) {
    int line_number = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = std::min(text.find('\n', start), text.size());
      ++line_number;
      std::string_view line = Trim(text.substr(start, end - start));
      start = end + 1;
      if (line.empty() || line.front() == '#') continue;
      std::string problem = line.front() == '[' ? StartSection(line, line_number) : SetValue(line);
      if (!problem.empty()) {
        error = std::to_string(line_number) + ": " + problem;
        return false;
      }
      if (end == text.size()) break;
    }
    std::string problem = Finish();
    if (!problem.empty()) error = problem;
    return problem.empty();
  }

 private:
  std::string StartSection(std::string_view line, int line_number) {
    if (line.back() != ']') return "a section line ends with \"]\"";
    std::string_view inside = Trim(line.substr(1, line.size() - 2));
    std::size_t blank = inside.find(' ');
    std::string kind = Lower(inside.substr(0, blank));
    std::string name(blank == std::string_view::npos ? "" : Trim(inside.substr(blank)));
    if (name.empty()) return "a section needs a name: [group NAME], [class NAME], [student NAME]";
    if (name.size() > 40) return "the name \"" + name + "\" is longer than 40 bytes";
    Section section;
    section.line = line_number;
    if (kind == "group") {
      section.kind = Section::kGroup;
      section.index = fixture_.groups.size();
      fixture_.groups.emplace_back().name = name;
      last_group_ = section.index;
      has_group_ = true;
    } else if (kind == "class") {
      section.kind = Section::kClass;
      section.index = fixture_.classes.size();
      section.above = last_group_;
      section.has_above = has_group_;
      Class& record = fixture_.classes.emplace_back();
      record.name = name;
      record.expiry = kNever;
      last_class_ = section.index;
      has_class_ = true;
    } else if (kind == "student") {
      section.kind = Section::kStudent;
      section.index = fixture_.students.size();
      section.above = last_class_;
      section.has_above = has_class_;
      fixture_.students.emplace_back().name = name;
    } else {
      return "unknown section kind \"" + kind + "\" (group, class or student)";
    }
    sections_.push_back(section);
    return "";
  }

  std::string SetValue(std::string_view line) {
    if (sections_.empty()) return "a value before the first section";
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return "expected \"key = value\"";
    std::string key = NormalKey(line.substr(0, equals));
    std::string value(Trim(line.substr(equals + 1)));
    Section& section = sections_.back();
    switch (section.kind) {
      case Section::kGroup:
        return GroupValue(fixture_.groups[section.index], key, value);
      case Section::kClass:
        return ClassValue(section, fixture_.classes[section.index], key, value);
      case Section::kStudent:
        return StudentValue(section, fixture_.students[section.index], key, value);
    }
    return "";
  }

  static std::string Text(std::string& field, const std::string& value, std::size_t limit,
                          const std::string& key) {
    if (value.size() > limit) return key + " is longer than " + std::to_string(limit) + " bytes";
    field = value;
    return "";
  }

  static std::string Date(int& field, const std::string& value, const std::string& key) {
    if (!ParseFixtureDate(value, field))
      return key + " must be YYYY-MM-DD, \"never\" or \"none\", not \"" + value + "\"";
    return "";
  }

  static std::string Bit(int& flags, int flag, const std::string& value, const std::string& key) {
    bool on = false;
    if (!ParseYesNo(value, on)) return key + " must be yes or no";
    SetFlag(flags, flag, on);
    return "";
  }

  std::string Common(std::string& key_field, bool letter_first, const std::string& key,
                     const std::string& value) {
    if (key != "key") return "unknown key \"" + key + "\"";
    if (!ValidKey(value, letter_first))
      return letter_first ? "key must be 8 letters or digits, the first a letter"
                          : "key must be 8 letters or digits";
    key_field = value;
    return "";
  }

  std::string GroupValue(Group& group, const std::string& key, const std::string& value) {
    if (key == "number") {
      if (!ParseNumber(value, 1, 9999, group.number)) return "number must be 1 to 9999";
      return "";
    }
    if (key == "login id") return Text(group.login_id, value, 50, key);
    if (key == "password") return Text(group.password, value, 39, key);
    if (key == "rights") {
      group.rights = 0;
      return ParseRights(value, group.rights)
                 ? ""
                 : "rights are \"install\", \"enabled\" or numbers 0 to 8";
    }
    if (key == "flags") {
      std::int64_t mask = 0;
      if (!ParseFlags(value, 47, mask)) return "flags are numbers 0 to 47";
      group.flags |= mask;
      return "";
    }
    if (key == "home study") {
      bool on = false;
      if (!ParseYesNo(value, on)) return key + " must be yes or no";
      if (on)
        group.flags |= std::int64_t{1} << kGroupFlagHomeStudy;
      else
        group.flags &= ~(std::int64_t{1} << kGroupFlagHomeStudy);
      return "";
    }
    if (key == "expiry") return Date(group.expiry, value, key);
    if (key == "disabled") {
      if (!ParseYesNo(value, group.disabled)) return key + " must be yes or no";
      return "";
    }
    if (key == "language") {
      if (!KnownLanguage(value)) return "unknown language \"" + value + "\"";
      group.language = value;
      std::transform(group.language.begin(), group.language.end(), group.language.begin(),
                     [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      return "";
    }
    if (key == "country") {
      if (value.size() < 2 || value.size() > 3 ||
          !std::all_of(value.begin(), value.end(), [](unsigned char c) { return std::isalpha(c); }))
        return "country is 2 or 3 letters";
      group.country = value;
      return "";
    }
    if (key == "country number")
      return ParseNumber(value, 0, 999, group.country_number) ? "" : "country number is 0 to 999";
    if (key == "type") return ParseNumber(value, 0, 63, group.group_type) ? "" : "type is 0 to 63";
    return Common(group.key, true, key, value);
  }

  std::string ClassValue(Section& section, Class& record, const std::string& key,
                         const std::string& value) {
    if (key == "group") {
      section.reference = value;
      return "";
    }
    if (key == "teacher") return Text(record.teacher, value, 40, key);
    if (key == "number")
      return ParseNumber(value, 1, 9999, record.number) ? "" : "number must be 1 to 9999";
    if (key == "password") return Text(record.password, value, 39, key);
    if (key == "password 2") return Text(record.password2, value, 37, key);
    if (key == "protected text") return Text(record.protected_text, value, 49, key);
    if (key == "expiry") return Date(record.expiry, value, key);
    if (key == "disabled") return Bit(record.flags, kClassFlagDisabled, value, key);
    if (key == "flags") {
      std::int64_t mask = 0;
      if (!ParseFlags(value, 15, mask)) return "class flags are numbers 0 to 15";
      record.flags |= static_cast<int>(mask);
      return "";
    }
    if (key == "country number")
      return ParseNumber(value, 0, 999, record.country_number) ? "" : "country number is 0 to 999";
    return Common(record.key, false, key, value);
  }

  std::string StudentValue(Section& section, Student& student, const std::string& key,
                           const std::string& value) {
    if (key == "class") {
      section.reference = value;
      return "";
    }
    if (key == "login id") return Text(student.login_id, value, 50, key);
    if (key == "password") return Text(student.password, value, 39, key);
    if (key == "email") return Text(student.email, value, 49, key);
    if (key == "expiry") return Date(student.expiry, value, key);
    if (key == "begins") return Date(student.begins, value, key);
    if (key == "created") return Date(student.created, value, key);
    if (key == "disabled") return Bit(student.flags, kStudentFlagDisabled, value, key);
    if (key == "home study") return Bit(student.flags, kStudentFlagHomeStudy, value, key);
    if (key == "flags") {
      std::int64_t mask = 0;
      if (!ParseFlags(value, 15, mask)) return "student flags are numbers 0 to 15";
      student.flags |= static_cast<int>(mask);
      return "";
    }
    if (key == "time limit")
      return ParseNumber(value, 0, 1000000, student.time_limit) ? "" : "time limit is 0 to 1000000";
    return Common(student.key, true, key, value);
  }

  // Resolves the references, numbers the classes and hands out the missing keys.
  std::string Finish() {
    std::set<std::string> keys, logins;
    std::set<int> numbers;
    for (const Group& group : fixture_.groups) {
      if (group.number == 0) return "group \"" + group.name + "\" has no number";
      if (!numbers.insert(group.number).second)
        return "group number " + std::to_string(group.number) + " is used twice";
    }
    for (const Section& section : sections_) {
      std::string where = std::to_string(section.line) + ": ";
      if (section.kind == Section::kClass) {
        std::size_t group = 0;
        std::string problem = Resolve(section, fixture_.groups, "group", group);
        if (!problem.empty()) return where + problem;
        fixture_.class_group.push_back(group);
      } else if (section.kind == Section::kStudent) {
        std::size_t owner = 0;
        std::string problem = Resolve(section, fixture_.classes, "class", owner);
        if (!problem.empty()) return where + problem;
        fixture_.student_class.push_back(owner);
      }
    }
    // Class numbers: the ones given, then the next free number of the group.
    std::map<std::size_t, std::set<int>> used;
    for (std::size_t i = 0; i < fixture_.classes.size(); ++i)
      if (fixture_.classes[i].number)
        used[fixture_.class_group[i]].insert(fixture_.classes[i].number);
    for (std::size_t i = 0; i < fixture_.classes.size(); ++i) {
      Class& record = fixture_.classes[i];
      if (record.number) continue;
      std::set<int>& taken = used[fixture_.class_group[i]];
      int number = 1;
      while (taken.count(number)) ++number;
      record.number = number;
      taken.insert(number);
    }
    // Keys and login ids are unique over every record.
    auto claim = [&](const std::string& key, const std::string& name) -> std::string {
      if (!key.empty() && !keys.insert(key).second)
        return "the key " + key + " of \"" + name + "\" is used twice";
      return "";
    };
    auto login = [&](const std::string& id, const std::string& name) -> std::string {
      if (!id.empty() && !logins.insert(Lower(id)).second)
        return "the login id \"" + id + "\" of \"" + name + "\" is used twice";
      return "";
    };
    for (const Group& g : fixture_.groups)
      if (auto p = claim(g.key, g.name) + login(g.login_id, g.name); !p.empty()) return p;
    for (const Class& c : fixture_.classes)
      if (auto p = claim(c.key, c.name); !p.empty()) return p;
    for (const Student& s : fixture_.students)
      if (auto p = claim(s.key, s.name) + login(s.login_id, s.name); !p.empty()) return p;
    auto hand_out = [&](std::string& key, char prefix, int& serial) {
      if (!key.empty()) return;
      char text[16];
      do std::snprintf(text, sizeof text, "%c%07d", prefix, ++serial);
      while (keys.count(text));
      key = text;
      keys.insert(key);
    };
    int serial = 0;
    for (Group& g : fixture_.groups) hand_out(g.key, 'G', serial);
    serial = 0;
    for (Class& c : fixture_.classes) hand_out(c.key, 'C', serial);
    serial = 0;
    for (Student& s : fixture_.students) hand_out(s.key, 'S', serial);
    return "";
  }

  template <typename Record>
  static std::string Resolve(const Section& section, const std::vector<Record>& records,
                             const std::string& kind, std::size_t& index) {
    if (section.reference.empty()) {
      if (!section.has_above) return "no " + kind + " above and none named";
      index = section.above;
      return "";
    }
    int found = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (records[i].name == section.reference) {
        index = i;
        ++found;
      }
    }
    if (found == 0) return "no " + kind + " named \"" + section.reference + "\"";
    if (found > 1) return "more than one " + kind + " is named \"" + section.reference + "\"";
    return "";
  }

  Fixture& fixture_;
  std::vector<Section> sections_;
  std::size_t last_group_ = 0, last_class_ = 0;
  bool has_group_ = false, has_class_ = false;
};

// ---- SQLite ----------------------------------------------------------------------------------

constexpr const char* kSchema = R"sql(
CREATE TABLE groups (
  id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE, name TEXT NOT NULL,
  login_id TEXT COLLATE NOCASE, password TEXT NOT NULL, language TEXT NOT NULL,
  country TEXT NOT NULL, number INTEGER NOT NULL UNIQUE, expiry INTEGER NOT NULL,
  country_number INTEGER NOT NULL, group_type INTEGER NOT NULL, rights INTEGER NOT NULL,
  flags INTEGER NOT NULL, record BLOB, changed TEXT NOT NULL, disabled INTEGER NOT NULL);
CREATE TABLE classes (
  id INTEGER PRIMARY KEY, group_id INTEGER NOT NULL REFERENCES groups(id),
  key TEXT NOT NULL UNIQUE, name TEXT NOT NULL, teacher TEXT NOT NULL, password TEXT NOT NULL,
  password2 TEXT NOT NULL, protected_text TEXT NOT NULL, number INTEGER NOT NULL,
  expiry INTEGER NOT NULL, flags INTEGER NOT NULL, country_number INTEGER NOT NULL, record BLOB);
CREATE TABLE students (
  id INTEGER PRIMARY KEY, class_id INTEGER NOT NULL REFERENCES classes(id),
  key TEXT NOT NULL UNIQUE, name TEXT NOT NULL, login_id TEXT COLLATE NOCASE,
  password TEXT NOT NULL, email TEXT NOT NULL, expiry INTEGER NOT NULL, begins INTEGER NOT NULL,
  created INTEGER NOT NULL, flags INTEGER NOT NULL, time_limit INTEGER NOT NULL);
)sql";

constexpr const char* kGroupColumns =
    "id, key, name, login_id, password, language, country, number, expiry, country_number, "
    "group_type, rights, flags, record, changed, disabled";
constexpr const char* kClassColumns =
    "id, group_id, key, name, teacher, password, password2, protected_text, number, expiry, "
    "flags, country_number, record";
constexpr const char* kStudentColumns =
    "id, class_id, key, name, login_id, password, email, expiry, begins, created, flags, "
    "time_limit";

// A prepared statement that binds its arguments in order and finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK)
      statement_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(std::int64_t value) {
    if (statement_) sqlite3_bind_int64(statement_, ++bound_, value);
    return *this;
  }
  Statement& Bind(std::string_view text) {
    if (statement_)
      sqlite3_bind_text(statement_, ++bound_, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT);
    return *this;
  }
  // A record: NULL when empty.
  Statement& BindBlob(const std::string& bytes) {
    if (!statement_) return *this;
    if (bytes.empty())
      sqlite3_bind_null(statement_, ++bound_);
    else
      sqlite3_bind_blob(statement_, ++bound_, bytes.data(), static_cast<int>(bytes.size()),
                        SQLITE_TRANSIENT);
    return *this;
  }
  bool Step() { return statement_ && sqlite3_step(statement_) == SQLITE_ROW; }
  bool Run() { return statement_ && sqlite3_step(statement_) == SQLITE_DONE; }

  std::int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) const {
    const void* bytes = sqlite3_column_blob(statement_, column);
    int size = sqlite3_column_bytes(statement_, column);
    return bytes ? std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size))
                 : std::string();
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  int bound_ = 0;
};

Group ReadGroup(const Statement& row) {
  Group g;
  g.id = row.Int(0);
  g.key = row.Text(1);
  g.name = row.Text(2);
  g.login_id = row.Text(3);
  g.password = row.Text(4);
  g.language = row.Text(5);
  g.country = row.Text(6);
  g.number = static_cast<int>(row.Int(7));
  g.expiry = static_cast<int>(row.Int(8));
  g.country_number = static_cast<int>(row.Int(9));
  g.group_type = static_cast<int>(row.Int(10));
  g.rights = static_cast<int>(row.Int(11));
  g.flags = row.Int(12);
  g.record = row.Text(13);
  g.changed = row.Text(14);
  g.disabled = row.Int(15) != 0;
  return g;
}

Class ReadClass(const Statement& row) {
  Class c;
  c.id = row.Int(0);
  c.group_id = row.Int(1);
  c.key = row.Text(2);
  c.name = row.Text(3);
  c.teacher = row.Text(4);
  c.password = row.Text(5);
  c.password2 = row.Text(6);
  c.protected_text = row.Text(7);
  c.number = static_cast<int>(row.Int(8));
  c.expiry = static_cast<int>(row.Int(9));
  c.flags = static_cast<int>(row.Int(10));
  c.country_number = static_cast<int>(row.Int(11));
  c.record = row.Text(12);
  return c;
}

Student ReadStudent(const Statement& row) {
  Student s;
  s.id = row.Int(0);
  s.class_id = row.Int(1);
  s.key = row.Text(2);
  s.name = row.Text(3);
  s.login_id = row.Text(4);
  s.password = row.Text(5);
  s.email = row.Text(6);
  s.expiry = static_cast<int>(row.Int(7));
  s.begins = static_cast<int>(row.Int(8));
  s.created = static_cast<int>(row.Int(9));
  s.flags = static_cast<int>(row.Int(10));
  s.time_limit = static_cast<int>(row.Int(11));
  return s;
}

template <typename Record, typename Reader>
std::vector<Record> Select(sqlite3* db, const std::string& sql, Reader read,
                           std::function<void(Statement&)> bind = {}) {
  Statement statement(db, sql);
  if (bind) bind(statement);
  std::vector<Record> rows;
  while (statement.Step()) rows.push_back(read(statement));
  return rows;
}

template <typename Record>
std::optional<Record> First(std::vector<Record> rows) {
  if (rows.empty()) return std::nullopt;
  return std::move(rows.front());
}

}  // namespace

bool ParseFixture(std::string_view text, Fixture& fixture, std::string& error) {
  fixture = Fixture{};
  return FixtureReader(fixture).Read(text, error);
}

std::unique_ptr<Store> Store::Open(const std::string& path, const Fixture* fixture,
                                   std::string& error) {
  int flags = SQLITE_OPEN_READWRITE | (fixture ? SQLITE_OPEN_CREATE : 0);
  if (fixture && path != ":memory:") {
    if (std::FILE* existing = std::fopen(path.c_str(), "rb")) {
      std::fclose(existing);
      error = path + " exists; a fixture fills only a new database";
      return nullptr;
    }
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = "cannot open the database " + path + ": " + sqlite3_errmsg(db);
    sqlite3_close(db);
    return nullptr;
  }
  std::unique_ptr<Store> store(new Store(db));
  if (fixture && !store->Fill(*fixture)) {
    error = "cannot fill the database " + path + ": " + store->last_error();
    return nullptr;
  }
  if (!fixture && !Statement(db, "SELECT count(*) FROM groups").Step()) {
    error = path + " is not a database of the double: " + store->last_error();
    return nullptr;
  }
  return store;
}

Store::~Store() { sqlite3_close(db_); }

std::string Store::last_error() const { return sqlite3_errmsg(db_); }

bool Store::Execute(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Store::Fill(const Fixture& fixture) {
  if (!Execute("BEGIN") || !Execute(kSchema)) return false;
  const std::string stamp = Timestamp(std::time(nullptr));
  std::vector<std::int64_t> group_ids, class_ids;
  for (const Group& g : fixture.groups) {
    Statement insert(db_, std::string("INSERT INTO groups (") + kGroupColumns +
                              ") VALUES (NULL,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    insert.Bind(g.key)
        .Bind(g.name)
        .Bind(g.login_id)
        .Bind(g.password)
        .Bind(g.language)
        .Bind(g.country)
        .Bind(g.number)
        .Bind(g.expiry)
        .Bind(g.country_number)
        .Bind(g.group_type)
        .Bind(g.rights)
        .Bind(g.flags)
        .BindBlob(g.record)
        .Bind(stamp)
        .Bind(g.disabled ? 1 : 0);
    if (!insert.Run()) return false;
    group_ids.push_back(sqlite3_last_insert_rowid(db_));
  }
  for (std::size_t i = 0; i < fixture.classes.size(); ++i) {
    Class c = fixture.classes[i];
    c.group_id = group_ids[fixture.class_group[i]];
    if (c.country_number == 0)
      c.country_number = fixture.groups[fixture.class_group[i]].country_number;
    Statement insert(db_, std::string("INSERT INTO classes (") + kClassColumns +
                              ") VALUES (NULL,?,?,?,?,?,?,?,?,?,?,?,?)");
    insert.Bind(c.group_id)
        .Bind(c.key)
        .Bind(c.name)
        .Bind(c.teacher)
        .Bind(c.password)
        .Bind(c.password2)
        .Bind(c.protected_text)
        .Bind(c.number)
        .Bind(c.expiry)
        .Bind(c.flags)
        .Bind(c.country_number)
        .BindBlob(c.record);
    if (!insert.Run()) return false;
    class_ids.push_back(sqlite3_last_insert_rowid(db_));
  }
  for (std::size_t i = 0; i < fixture.students.size(); ++i) {
    const Student& s = fixture.students[i];
    Statement insert(db_, std::string("INSERT INTO students (") + kStudentColumns +
                              ") VALUES (NULL,?,?,?,?,?,?,?,?,?,?,?)");
    insert.Bind(class_ids[fixture.student_class[i]])
        .Bind(s.key)
        .Bind(s.name)
        .Bind(s.login_id)
        .Bind(s.password)
        .Bind(s.email)
        .Bind(s.expiry)
        .Bind(s.begins)
        .Bind(s.created)
        .Bind(s.flags)
        .Bind(s.time_limit);
    if (!insert.Run()) return false;
  }
  return Execute("COMMIT");
}

std::vector<Group> Store::Groups() {
  return Select<Group>(db_, std::string("SELECT ") + kGroupColumns + " FROM groups ORDER BY number",
                       ReadGroup);
}

std::optional<Group> Store::GroupById(std::int64_t id) {
  return First(Select<Group>(db_,
                             std::string("SELECT ") + kGroupColumns + " FROM groups WHERE id = ?",
                             ReadGroup, [&](Statement& s) { s.Bind(id); }));
}

std::optional<Group> Store::GroupByLogin(std::string_view login) {
  return First(Select<Group>(
      db_,
      std::string("SELECT ") + kGroupColumns + " FROM groups WHERE login_id = ? AND login_id <> ''",
      ReadGroup, [&](Statement& s) { s.Bind(login); }));
}

std::vector<Class> Store::ClassesOf(std::int64_t group_id) {
  return Select<Class>(
      db_, std::string("SELECT ") + kClassColumns + " FROM classes WHERE group_id = ? ORDER BY key",
      ReadClass, [&](Statement& s) { s.Bind(group_id); });
}

std::optional<Class> Store::ClassById(std::int64_t id) {
  return First(Select<Class>(db_,
                             std::string("SELECT ") + kClassColumns + " FROM classes WHERE id = ?",
                             ReadClass, [&](Statement& s) { s.Bind(id); }));
}

std::optional<Class> Store::ClassByKey(std::string_view key) {
  return First(Select<Class>(db_,
                             std::string("SELECT ") + kClassColumns + " FROM classes WHERE key = ?",
                             ReadClass, [&](Statement& s) { s.Bind(key); }));
}

std::vector<Student> Store::StudentsOf(std::int64_t class_id) {
  return Select<Student>(
      db_,
      std::string("SELECT ") + kStudentColumns + " FROM students WHERE class_id = ? ORDER BY key",
      ReadStudent, [&](Statement& s) { s.Bind(class_id); });
}

std::optional<Student> Store::StudentByLogin(std::string_view login) {
  return First(Select<Student>(db_,
                               std::string("SELECT ") + kStudentColumns +
                                   " FROM students WHERE login_id = ? AND login_id <> ''",
                               ReadStudent, [&](Statement& s) { s.Bind(login); }));
}

bool Store::SaveClass(Class& c, const std::string& stamp) {
  if (!Execute("BEGIN")) return false;
  bool ok;
  if (c.id == 0) {
    Statement insert(db_, std::string("INSERT INTO classes (") + kClassColumns +
                              ") VALUES (NULL,?,?,?,?,?,?,?,?,?,?,?,?)");
    insert.Bind(c.group_id)
        .Bind(c.key)
        .Bind(c.name)
        .Bind(c.teacher)
        .Bind(c.password)
        .Bind(c.password2)
        .Bind(c.protected_text)
        .Bind(c.number)
        .Bind(c.expiry)
        .Bind(c.flags)
        .Bind(c.country_number)
        .BindBlob(c.record);
    ok = insert.Run();
    if (ok) c.id = sqlite3_last_insert_rowid(db_);
  } else {
    Statement update(db_,
                     "UPDATE classes SET key = ?, name = ?, teacher = ?, password = ?, "
                     "password2 = ?, protected_text = ?, number = ?, expiry = ?, flags = ?, "
                     "country_number = ?, record = ? WHERE id = ?");
    update.Bind(c.key)
        .Bind(c.name)
        .Bind(c.teacher)
        .Bind(c.password)
        .Bind(c.password2)
        .Bind(c.protected_text)
        .Bind(c.number)
        .Bind(c.expiry)
        .Bind(c.flags)
        .Bind(c.country_number)
        .BindBlob(c.record)
        .Bind(c.id);
    ok = update.Run();
  }
  ok = ok && Statement(db_, "UPDATE groups SET changed = ? WHERE id = ?")
                 .Bind(stamp)
                 .Bind(c.group_id)
                 .Run();
  return Execute(ok ? "COMMIT" : "ROLLBACK") && ok;
}

bool Store::SaveGroup(const Group& g, const std::string& stamp) {
  Statement update(db_,
                   "UPDATE groups SET name = ?, login_id = ?, password = ?, expiry = ?, "
                   "country_number = ?, group_type = ?, rights = ?, flags = ?, record = ?, "
                   "changed = ? WHERE id = ?");
  update.Bind(g.name)
      .Bind(g.login_id)
      .Bind(g.password)
      .Bind(g.expiry)
      .Bind(g.country_number)
      .Bind(g.group_type)
      .Bind(g.rights)
      .Bind(g.flags)
      .BindBlob(g.record)
      .Bind(stamp)
      .Bind(g.id);
  return update.Run();
}

bool Store::SetGroupPassword(std::int64_t id, std::string_view password) {
  return Statement(db_, "UPDATE groups SET password = ? WHERE id = ?")
      .Bind(password)
      .Bind(id)
      .Run();
}

std::string Store::NewClassKey() {
  for (int serial = 1;; ++serial) {
    char key[16];
    std::snprintf(key, sizeof key, "C%07d", serial);
    Statement used(db_,
                   "SELECT 1 FROM classes WHERE key = ?1 UNION SELECT 1 FROM groups WHERE key = ?1 "
                   "UNION SELECT 1 FROM students WHERE key = ?1");
    used.Bind(std::string_view(key));
    if (!used.Step()) return key;
  }
}

int Store::NextClassNumber(std::int64_t group_id) {
  Statement next(db_, "SELECT coalesce(max(number), 0) + 1 FROM classes WHERE group_id = ?");
  next.Bind(group_id);
  return next.Step() ? static_cast<int>(next.Int(0)) : 1;
}

}  // namespace nuvel::tools::records_double
