// What the Records-server double holds: groups, their classes and the classes' students, read
// from a fixture file and kept in an SQLite database. The fixture format is described in
// records_server_double.cc and at the top of examples/records-school.fixture.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace nuvel::tools::records_double {

/// Administrator rights of a group (bit n of Group::rights is right n, 0 to 8). Right 7 (the
/// word at 100 of a group record) keeps the group enabled; it is also the right the Setup
/// application asks for before it installs courses (its group administration right 11, which
/// counts rights from flag 4), so the fixture's "install" and "enabled" both name it.
inline constexpr int kRightEnabled = 7;
inline constexpr int kRightInstall = kRightEnabled;
inline constexpr int kRightCount = 9;
/// Flag numbers of the records.
inline constexpr int kGroupFlagHomeStudy = 1;
inline constexpr int kClassFlagDisabled = 6;
inline constexpr int kStudentFlagDisabled = 3;
inline constexpr int kStudentFlagHomeStudy = 4;

struct Group {
  std::int64_t id = 0;
  std::string key, name, login_id, password;
  std::string language = "ENG";  // code page of texts for clients that do not ask for UTF-8
  std::string country;           // the letters the login reply names
  int number = 0, expiry = 0, country_number = 0, group_type = 0;
  int rights = 0;          // bit n: administrator right n
  std::int64_t flags = 0;  // bit n: group flag n (0 to 47), the rights' own flags excluded
  std::string record;      // the last record a client wrote (700 bytes), else empty
  std::string changed;     // timestamp of the last change of the group or its classes
  bool disabled = false;   // every login of the group is refused with GROUP DISABLED
};

struct Class {
  std::int64_t id = 0, group_id = 0;
  std::string key, name, teacher, password, password2, protected_text;
  int number = 0, expiry = 0, flags = 0, country_number = 0;
  std::string record;  // the last record a client wrote (700 bytes), else empty
};

struct Student {
  std::int64_t id = 0, class_id = 0;
  std::string key, name, login_id, password, email;
  int expiry = 0, begins = 0, created = 0, flags = 0, time_limit = 0;
};

/// A fixture read into memory: classes refer to their group and students to their class by
/// index into the vectors.
struct Fixture {
  std::vector<Group> groups;
  std::vector<Class> classes;
  std::vector<std::size_t> class_group;
  std::vector<Student> students;
  std::vector<std::size_t> student_class;
};

/// Reads a fixture text. False with `error` ("LINE: what is wrong") when a line cannot be read,
/// a value is out of range, a reference names nothing, or a key or login id is used twice.
bool ParseFixture(std::string_view text, Fixture& fixture, std::string& error);

/// The SQLite database. Not thread-safe: the server calls it under one lock.
class Store {
 public:
  /// Opens `path` (":memory:" for a database that lives as long as the process). With a
  /// fixture the database must be new and is filled from it; without one it must exist.
  static std::unique_ptr<Store> Open(const std::string& path, const Fixture* fixture,
                                     std::string& error);
  ~Store();

  std::vector<Group> Groups();
  std::optional<Group> GroupById(std::int64_t id);
  std::optional<Group> GroupByLogin(std::string_view login);
  std::vector<Class> ClassesOf(std::int64_t group_id);
  std::optional<Class> ClassById(std::int64_t id);
  std::optional<Class> ClassByKey(std::string_view key);
  std::vector<Student> StudentsOf(std::int64_t class_id);
  std::optional<Student> StudentByLogin(std::string_view login);

  /// Inserts (id 0; the id is set) or updates a class, and marks its group changed at `stamp`.
  bool SaveClass(Class& record, const std::string& stamp);
  /// Updates a group and marks it changed at `stamp`.
  bool SaveGroup(const Group& group, const std::string& stamp);
  bool SetGroupPassword(std::int64_t id, std::string_view password);
  /// A class key nobody uses yet: "C" and seven digits.
  std::string NewClassKey();
  /// The next free class number of a group.
  int NextClassNumber(std::int64_t group_id);

  std::string last_error() const;

 private:
  explicit Store(sqlite3* db) : db_(db) {}
  bool Execute(const char* sql);
  bool Fill(const Fixture& fixture);

  sqlite3* db_;
};

}  // namespace nuvel::tools::records_double
