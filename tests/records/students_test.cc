// Students: the record's byte order and password, the predicates the driver applies after a
// login, the logged-in student's record (STDS) and a class list (STDA) from the Records-server
// double in both byte orders and protocol levels, replies the double never sends (from a
// scripted server), and the in-use marker of a student's data folder.
#include "records/students.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>

#include "base/log.h"
#include "base/paths.h"
#include "base/run_state.h"
#include "net/web_service.h"
#include "platform/run_reset.h"
#include "records/classes.h"
#include "records/password.h"
#include "records/protocol.h"
#include "records/server_settings.h"
#include "tests/net/peers.h"
#include "tests/records/records_client_test.h"
#include "tests/support/fake_backend.h"
#include "tests/support/test_env.h"
#include "text/dates.h"
#include "text/utf8.h"

namespace nuvel::records {
namespace {

namespace fs = std::filesystem;
using net::testing::RecordsDouble;
using nuvel::testing::ReadTestFile;
using nuvel::testing::WriteTestFile;
using testing::kSchool;
using testing::ScriptedRecordsServer;


using Record = std::array<unsigned char, kStudentRecordSize>;

// "YYYY-MM-DD" of the day `days` from today (local time, as the double's dates are).
std::string Day(int days) {
  std::time_t when = std::time(nullptr) + static_cast<std::time_t>(days) * 86400;
  std::tm local{};
  localtime_r(&when, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

int PackedDay(int days) {
  int packed = 0;
  text::Get_Date_Num(packed, Day(days));
  return packed;
}

class StudentsTest : public testing::RecordsClientTest {
 protected:
  // Serves every command from `reply`; the session counts as logged in.
  void Serve(std::function<std::string(const std::string&)> reply) {
    server_ = std::make_unique<ScriptedRecordsServer>(std::move(reply));
    PointAt(server_->port());
    Session& session = RecordsSession();
    session.haveReceiveBuffer = true;
    session.conected_to_server = 1;
    session.RecordsLoginName = "wosid=S1";
    session.ServerProtocolVersion = 4;
    base::Run().Internet = 1;
  }
  // The students read by TCPRead_class, by name.
  static const StudentBlock* Named(const std::string& name) {
    for (const StudentBlock& student : Students().students) {
      if (FieldText(student, kStudentName, kStudentNameWidth) == name) return &student;
    }
    return nullptr;
  }
  // Pretends the Records server told today's date a moment ago.
  static void ServerDateIsToday() {
    Session& session = RecordsSession();
    session.conected_to_server = 1;
    session.TCPRecords_time = PackedDay(0);
    session.TCPRecords_LastPing = text::timer();
  }
};

// ---- Records built in the test -----------------------------------------------------------------

TEST_F(StudentsTest, ByteOrderSwapsExactlyTheNumbersAndTwiceGivesTheRecordBack) {
  Record record;
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<unsigned char>(i * 5 + 1);
  const Record original = record;
  ASSERT_EQ(ConvertStudent(3, record, true), 1);
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < record.size(); ++i) {
    if (record[i] != original[i]) changed.push_back(i);
  }
  std::vector<std::size_t> expected;
  for (std::size_t offset : {50, 54, 58, 140, 144, 146, 148, 150}) {
    const std::size_t width = offset == 54 ? 4 : 2;
    for (std::size_t i = 0; i < width; ++i) expected.push_back(offset + i);
  }
  for (std::size_t i = 368; i < 388; ++i) expected.push_back(i);  // seven words and a long
  for (std::size_t i = 538; i < 548; ++i) expected.push_back(i);
  EXPECT_EQ(changed, expected);
  EXPECT_EQ(record[54], original[57]) << "the time limit is one 32-bit number";
  ConvertStudent(3, record, true);
  EXPECT_EQ(record, original);

  std::array<unsigned char, kStudentRecordSize - 1> short_record{};
  short_record[50] = 7;
  EXPECT_EQ(ConvertStudent(3, short_record, true), 0);
  EXPECT_EQ(short_record[50], 7);
  EXPECT_EQ(ConvertStudent(4, record, true), 0);
  EXPECT_EQ(sIntel2Moto(0x1234), 0x3412);
  EXPECT_EQ(lIntel2Moto(0x12345678), 0x78563412);
}

TEST_F(StudentsTest, PasswordsRoundTripInTheFormOfTheConnection) {
  Record record{};
  SetFieldText(record, kStudentPassword, kStudentPasswordWidth, "Secret-1");
  ConvertStudent(2, record, false);
  EXPECT_NE(FieldText(record, kStudentPassword, 8), "Secret-1") << "scrambled for sending";
  ConvertStudent(1, record, false);
  EXPECT_EQ(FieldText(record, kStudentPassword, kStudentPasswordWidth), "Secret-1")
      << "off line the block form keeps every character";

  base::Run().Internet = 1;
  RecordsSession().ServerProtocolVersion = 4;
  ConvertStudent(2, record, true);
  EXPECT_TRUE(FieldText(record, kStudentPassword, 40).starts_with("**__"));
  ConvertStudent(1, record, true);
  EXPECT_EQ(FieldText(record, kStudentPassword, kStudentPasswordWidth), "SECRET-1");

  RecordsSession().ServerProtocolVersion = 1;
  ConvertStudent(2, record, false);
  EXPECT_FALSE(FieldText(record, kStudentPassword, 40).starts_with("**__"))
      << "an older server takes the block form even on line";
  ConvertStudent(1, record, false);
  EXPECT_EQ(FieldText(record, kStudentPassword, kStudentPasswordWidth), "SECRET-1");

  // A password that fails its check value becomes the default.
  RecordsSession().ServerProtocolVersion = 4;
  SetFieldText(record, kStudentPassword, kStudentPasswordWidth,
               "**__AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA__");
  ConvertStudent(1, record, false);
  EXPECT_EQ(FieldText(record, kStudentPassword, kStudentPasswordWidth), kDefaultStudentPassword);
}

TEST_F(StudentsTest, PredicatesOfFlagsNamesAndDates) {
  Record record{};
  SetWord(record, kStudentFlags, 8);
  EXPECT_EQ(IsStudentDisabled(record), 1);
  EXPECT_EQ(IsStudentAllowedHomeStudy(record), 0);
  SetWord(record, kStudentFlags, 16);
  EXPECT_EQ(IsStudentDisabled(record), 0);
  EXPECT_EQ(IsStudentAllowedHomeStudy(record), 1);
  SetStudentFlag(record, kStudentFlagDisabled, 1);
  EXPECT_EQ(Word(record, kStudentFlags), 24);
  EXPECT_EQ(GetStudentEditValue(record, -99, 4), 1);
  EXPECT_EQ(GetStudentEditValue(record, 1, 4), 1);
  EXPECT_EQ(GetStudentEditValue(record, 0, 4), 2) << "mixed";
  SetWord(record, kStudentInUse, 10001);
  EXPECT_EQ(IsStudentDeleted(record), 1);

  SetFieldText(record, kStudentName, kStudentNameWidth, "model student 3");
  EXPECT_EQ(IsStudentAModelStudent(record), 1);
  EXPECT_EQ(IsStudentActive(record), 0) << "a model student is never active";
  SetFieldText(record, kStudentName, kStudentNameWidth, "Tech Studen");
  EXPECT_EQ(IsStudentATechStudent(record), 0);
  SetFieldText(record, kStudentName, kStudentNameWidth, "Tech Student 2");
  EXPECT_EQ(IsStudentATechStudent(record), 1);
  SetFieldText(record, kStudentName, kStudentNameWidth, "Target_Student 01");
  EXPECT_EQ(IsStudentATargetStudent(record), 1);

  ServerDateIsToday();
  struct Case {
    int date, expired;
  } expiry[] = {{text::kDateNever, 0}, {10000, 0}, {0, 0}, {PackedDay(-1), 1}, {PackedDay(0), 0}};
  for (const Case& c : expiry) {
    SetWord(record, kStudentExpiry, c.date);
    EXPECT_EQ(IsStudentExpired(record, 0), c.expired) << c.date;
  }
  struct Begin {
    int date, invalid;
  } begin[] = {{PackedDay(0), 0}, {PackedDay(1), 1}, {text::kDateNever, 0}, {0, 0},
               {-5, 1},           {30754, 1}};
  for (const Begin& c : begin) {
    SetWord(record, kStudentBeginDate, c.date);
    EXPECT_EQ(IsStudentBeginDateInvalid(record, 0), c.invalid) << c.date;
  }
  SetWord(record, kStudentExpiry, PackedDay(-1));
  EXPECT_EQ(IsStudentExpired(record, 1), 1);
  SetWord(record, kStudentBeginDate, PackedDay(1));
  EXPECT_EQ(IsStudentBeginDateInvalid(record, 1), 1);
  EXPECT_EQ(ShownIds(), (std::vector<std::string>{"MSG_StudentExpired", "MSG_StudentNotBeginYet"}));

  // Activity: a student whose last session lies more than 30 days back, when checked.
  StudentBlock student = NewStudent();
  SetFieldText(student, kStudentName, kStudentNameWidth, "Ann");
  SetWord(student, kStudentLastSession, PackedDay(-45));
  EXPECT_EQ(IsStudentActive(student), 1) << "activity is checked only when asked for";
  SetWord(student, kStudentActivityWord, -1);
  EXPECT_EQ(IsStudentActive(student), 0);
  SetWord(student, kStudentLastSession, PackedDay(-3));
  EXPECT_EQ(IsStudentActive(student), 1);
}

TEST_F(StudentsTest, SettingsLevelsAndKeys) {
  Record record{};
  SetWord(record, kStudentSetting376, 0x2800);  // 40, byte-swapped
  SetWord(record, kStudentSetting374, 0x4801);  // out of range either way
  Check_Student_Settings(record);
  EXPECT_EQ(Word(record, kStudentSetting376), 40);
  EXPECT_EQ(Word(record, kStudentSetting374), 0);

  SetInitialCertificationLevel(record, 36);
  EXPECT_EQ(GetInitialCertificationLevel(record), 0);
  SetInitialCertificationLevel(record, 35);
  EXPECT_EQ(GetInitialCertificationLevel(record), 35);
  SetCertLevelLastRun(record, 139);
  EXPECT_EQ(Word(record, kStudentCertLastRun), 0);
  SetCertLevelLastRun(record, 111);
  EXPECT_EQ(Word(record, kStudentCertLastRun), 111);

  EXPECT_EQ(CheckStudentSerial("S1234567", "test"), 0);
  EXPECT_LT(base::Log().nuvel_log_level, 5);
  EXPECT_EQ(CheckStudentSerial("12345678", "test"), -1) << "a digit first";
  EXPECT_EQ(CheckStudentSerial("S123456", "test"), -1);
  EXPECT_EQ(CheckStudentSerial(nullptr, "test"), -1);
  EXPECT_EQ(base::Log().nuvel_log_level, 5);
  const std::string log = Log();
  EXPECT_NE(log.find("ERROR CheckStudentSerial: 12345678 test"), std::string::npos) << log;
  EXPECT_NE(log.find("ERROR CheckStudentSerial: NULL test"), std::string::npos) << log;

  std::set<std::string> keys;
  for (int i = 0; i < 200; ++i) {
    const std::string key = NewStudentKey();
    ASSERT_EQ(CheckStudentSerial(key.c_str(), "test"), 0) << key;
    ASSERT_TRUE(std::all_of(key.begin(), key.end(), [](char c) {
      return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    })) << key;
    keys.insert(key);
  }
  EXPECT_EQ(keys.size(), 200u);
}

// ---- Against the Records-server double
// -----------------------------------------------------------

class StudentsByteOrderTest : public StudentsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StudentsByteOrderTest, RecordOfTheLoggedInStudent) {
  Start(GetParam() ? std::vector<std::string>{"--big-endian"} : std::vector<std::string>{});
  LogIn("ann.lee@lakeside.example", "sol2024", 12);
  const Session& session = RecordsSession();
  StudentBlock& student = Students().Student;
  ASSERT_EQ(TCPGet_Student_Info(session.forcedClassPath, session.forcedStudentKey, student), 0);
  ASSERT_EQ(student.size(), kStudentBlockSize);
  EXPECT_EQ(FieldText(student, kStudentKey, kStudentKeyWidth), session.forcedStudentKey);
  EXPECT_EQ(FieldText(student, kStudentName, kStudentNameWidth), "Ann Lee");
  EXPECT_EQ(FieldText(student, kStudentPassword, kStudentPasswordWidth), "SOL2024");
  EXPECT_EQ(FieldText(student, kStudentEmail, kStudentEmailWidth), "ann.lee@lakeside.example");
  EXPECT_EQ(Word(student, 50), 2024);
  EXPECT_EQ(student[52], 9);
  EXPECT_EQ(student[53], 2);
  EXPECT_EQ(IsStudentAllowedHomeStudy(student), 1);
  EXPECT_EQ(IsStudentDisabled(student), 0);
  EXPECT_EQ(IsStudentExpired(student, 1), 0);
  EXPECT_EQ(IsStudentBeginDateInvalid(student, 1), 0);
  EXPECT_EQ(Word(student, kStudentLoginMarker), 1);
  EXPECT_EQ(Students().studentTimeStamp.size(), 19u);
  EXPECT_TRUE(backend_->shown.empty());

  // Fetched again unchanged, nothing is logged as changed.
  ASSERT_EQ(TCPGet_Student_Info(session.forcedClassPath, session.forcedStudentKey, student), 0);
  EXPECT_EQ(Log().find("STDS-CHANGES"), std::string::npos);
}

TEST_P(StudentsByteOrderTest, ClassListOfAClass) {
  Start(GetParam() ? std::vector<std::string>{"--big-endian"} : std::vector<std::string>{});
  LogIn("lakeside", "Lake2024", 12);
  ASSERT_EQ(Load_classes(-2), 3);
  std::string path;
  for (int i = 0; i < Classes().NumClasses; ++i) {
    const RecordBytes record = ClassSlot(Classes().OrderClass[static_cast<std::size_t>(i)]);
    if (ClassNameOf(record) == "Spanish 1") path = ClassPathOf(record);
  }
  ASSERT_EQ(path.size(), 8u);

  EXPECT_EQ(TCPRead_class(path), 6);
  EXPECT_EQ(Students().OrderStudent.size(), 6u);
  const StudentBlock* farid = Named("Farid Haddad");
  ASSERT_NE(farid, nullptr);
  EXPECT_EQ(IsStudentDisabled(*farid), 1);
  EXPECT_EQ(IsStudentAllowedHomeStudy(*farid), 0);
  const StudentBlock* ben = Named("Ben Okafor");
  ASSERT_NE(ben, nullptr);
  EXPECT_EQ(FieldText(*ben, kStudentPassword, kStudentPasswordWidth), "LUNA2024");
  EXPECT_EQ(IsStudentDisabled(*ben), 0);
  const StudentBlock* dmitri = Named("Dmitri Volkov");
  ASSERT_NE(dmitri, nullptr);
  EXPECT_EQ(Word(*dmitri, kStudentExpiry), text::GetDateValueFromYearMonthDay(2026 - 1980, 6, 30));
  const std::string log = double_->Log();
  EXPECT_NE(log.find("\tSTDN\t" + path + "\t"), std::string::npos) << log;
  EXPECT_NE(log.find("\tSTDA\t" + path + "\t"), std::string::npos) << log;

  EXPECT_EQ(TCPRead_class("CNOPE001"), -1);
  EXPECT_EQ(ShownIds(), (std::vector<std::string>{"MSG_Message_UnableToFindClass"}));
}

INSTANTIATE_TEST_SUITE_P(BothByteOrders, StudentsByteOrderTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "BigEndian" : "LittleEndian";
                         });

TEST_F(StudentsTest, DatesAndStatesOfStudentsOnTheServer) {
  const std::string fixture = sysroot_.path("dates.fixture");
  WriteTestFile(fixture,
                "[group Dates School]\nnumber = 3\nlogin id = dates\npassword = Dates1\n"
                "rights = install\n[class Dates]\n"
                "[student Past]\nlogin id = past@x.example\npassword = p1\nexpiry = " +
                    Day(-1) +
                    "\n"
                    "[student Never]\nexpiry = never\n"
                    "[student Tomorrow]\nbegins = " +
                    Day(1) +
                    "\n"
                    "[student Today]\nbegins = " +
                    Day(0) +
                    "\n"
                    "[student Closed]\nlogin id = closed@x.example\npassword = c1\n"
                    "disabled = yes\nemail = closed@x.example\n");
  Start({}, fixture);
  LogIn("past@x.example", "p1", 3);
  const Session& session = RecordsSession();
  StudentBlock& student = Students().Student;
  ASSERT_EQ(TCPGet_Student_Info(session.forcedClassPath, session.forcedStudentKey, student), 0);
  EXPECT_EQ(IsStudentExpired(student, 1), 1);
  EXPECT_EQ(ShownIds(), (std::vector<std::string>{"MSG_StudentExpired"}));

  ASSERT_EQ(TCPRead_class(session.forcedClassPath), 5);
  EXPECT_EQ(IsStudentExpired(*Named("Never"), 0), 0);
  EXPECT_EQ(IsStudentBeginDateInvalid(*Named("Tomorrow"), 0), 1);
  EXPECT_EQ(IsStudentBeginDateInvalid(*Named("Today"), 0), 0);
  EXPECT_EQ(IsStudentDisabled(*Named("Closed")), 1);
  EXPECT_EQ(FieldText(*Named("Closed"), kStudentEmail, kStudentEmailWidth), "closed@x.example");
}

TEST_F(StudentsTest, OlderServerSendsBlockFormPasswordsAndCodePageNames) {
  const std::string fixture = sysroot_.path("czech.fixture");
  WriteTestFile(fixture,
                "[group Škola Brno]\nnumber = 9\nlogin id = brno\npassword = Brno2024\n"
                "rights = install\nlanguage = CZH\ncountry = CZE\ncountry number = 203\n"
                "[class Čeština]\n"
                "[student Žofie Nováková]\nlogin id = zofie@brno.example\npassword = Les-2024\n"
                "email = žofie@brno.example\n"
                "[student Jiří Šťastný]\npassword = Reka-7\n");
  Start({"--protocol-level", "1"}, fixture);
  LogIn("zofie@brno.example", "Les-2024", 9);
  ASSERT_EQ(RecordsSession().request_server_unicode, 0);
  const Session& session = RecordsSession();
  // Before the classes are loaded the login's country names the code page.
  StudentBlock& student = Students().Student;
  ASSERT_EQ(TCPGet_Student_Info(session.forcedClassPath, session.forcedStudentKey, student), 0);
  EXPECT_EQ(FieldText(student, kStudentName, kStudentNameWidth), "Žofie Nováková");
  EXPECT_EQ(FieldText(student, kStudentEmail, kStudentEmailWidth), "žofie@brno.example");
  EXPECT_EQ(FieldText(student, kStudentPassword, kStudentPasswordWidth), "Les-2024")
      << "the block form keeps the case";

  ASSERT_EQ(Load_classes(-1), 2);
  ASSERT_EQ(TCPRead_class(session.forcedClassPath), 2);
  const StudentBlock* jiri = Named("Jiří Šťastný");
  ASSERT_NE(jiri, nullptr);
  EXPECT_EQ(FieldText(*jiri, kStudentPassword, kStudentPasswordWidth), "Reka-7");
  EXPECT_EQ(Log().find("not UTF-8"), std::string::npos);
}

// ---- Replies the double never sends -------------------------------------------------------------

// A student record as a little-endian server at protocol level 4 sends it.
std::string WireStudent(const std::string& key, const std::string& name, int flags = 0) {
  Record record{};
  SetFieldText(record, kStudentKey, kStudentKeyWidth, key);
  SetFieldText(record, kStudentName, kStudentNameWidth, name);
  SetWord(record, kStudentFlags, flags);
  return std::string(record.begin(), record.end());
}

std::string Answer(const std::string& command, int count, const std::string& records) {
  char header[64];
  std::snprintf(header, sizeof header, "ANSW %s %08d 2026-01-02+03:04:05\r\n", command.c_str(),
                count);
  return header + records;
}

TEST_F(StudentsTest, ChangedFieldsOfALaterFetchAreLogged) {
  int fetch = 0;
  Serve([&fetch](const std::string&) {
    return Answer("STDS", 1,
                  ++fetch == 1 ? WireStudent("SKEY0001", "Ann Lee")
                               : WireStudent("SKEY0001", "Ann Lee-Park", 8));
  });
  StudentBlock student;
  ASSERT_EQ(TCPGet_Student_Info("CLASS001", "SKEY0001", student), 0);
  ASSERT_EQ(TCPGet_Student_Info("CLASS001", "SKEY0001", student), 0);
  EXPECT_NE(Log().find("STDS-CHANGES Name Eng_only "), std::string::npos) << Log();
  EXPECT_EQ(IsStudentDisabled(student), 1);

  // Keys of the wrong length never reach the server.
  EXPECT_EQ(TCPGet_Student_Info("CLASS01", "SKEY0001", student), -1);
  EXPECT_EQ(TCPGet_Student_Info("CLASS001", "1KEY0001", student), -1);
  EXPECT_EQ(server_->Count("STDS"), 2);
}

TEST_F(StudentsTest, ShortRepliesAreRefused) {
  Serve([](const std::string& target) {
    if (target.find("CMD=STDS") != std::string::npos) {
      return Answer("STDS", 1, WireStudent("SKEY0001", "Cut").substr(0, 551));
    }
    if (target.find("CMD=STDN") != std::string::npos) return Answer("STDN", 3, "");
    return Answer("STDA", 3, WireStudent("SA000001", "One") + WireStudent("SA000002", "Two"));
  });
  StudentBlock student;
  EXPECT_EQ(TCPGet_Student_Info("CLASS001", "SKEY0001", student), -1);
  EXPECT_EQ(ShownIds(), (std::vector<std::string>{"Error returned from STDS"}));
  EXPECT_EQ(TCPRead_class("CLASS001"), -1) << "three students named, two sent";
  EXPECT_TRUE(Students().students.empty());
  EXPECT_NE(Log().find("does not hold the 3 students it names"), std::string::npos);
}

TEST_F(StudentsTest, FullClassStopsAt999AndMailSettingsAreCleared) {
  std::string records;
  for (int i = 0; i < 1000; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "S%07d", i);
    std::string record = WireStudent(key, "Student " + std::to_string(i));
    if (i == 1) record.replace(kStudentStudyScores + 3, 4, "mail");
    if (i == 2) record.replace(kStudentStudyScores, 6, "scores");
    records += record;
  }
  Serve([&records](const std::string& target) {
    if (target.find("CMD=STDN") != std::string::npos) return Answer("STDN", 1000, "");
    return Answer("STDA", 1000, records);
  });
  EXPECT_EQ(TCPRead_class("CLASS001"), kMaxStudentsRead);
  EXPECT_EQ(Students().students.size(), 999u);
  EXPECT_EQ(Named("Student 999"), nullptr);
  ASSERT_EQ(ShownIds(), (std::vector<std::string>{"MSG_CMS_ClassFull"}));
  EXPECT_NE(ShownText(0).find("1000"), std::string::npos) << ShownText(0);
  EXPECT_NE(Log().find("TCPRC: MSG_CMS_ClassFull number_of_students=1000"), std::string::npos);
  const StudentBlock& mail = Students().students[1];
  EXPECT_TRUE(std::all_of(mail.begin() + kStudentStudyScores,
                          mail.begin() + kStudentStudyScores + kStudentSettingsWidth,
                          [](unsigned char b) { return b == 0; }));
  EXPECT_EQ(FieldText(Students().students[2], kStudentStudyScores, kStudentSettingsWidth),
            "scores");
}

TEST_F(StudentsTest, NamesThatAreNotUtf8AreRepaired) {
  Serve([](const std::string& target) {
    if (target.find("CMD=STDN") != std::string::npos) return Answer("STDN", 1, "");
    return Answer("STDA", 1, WireStudent("SA000001", "Ren\xE9\xFF"));
  });
  ASSERT_EQ(TCPRead_class("CLASS001"), 1);
  const std::string name = FieldText(Students().students[0], kStudentName, kStudentNameWidth);
  EXPECT_EQ(name, "Ren??");
  EXPECT_NE(Log().find("Text from STDA not UTF-8 as requested."), std::string::npos);
}

// ---- In-use marker
// -------------------------------------------------------------------------------

TEST_F(StudentsTest, InUseMarkerLivesWhileTheStudentWorks) {
  RS().DATA_I_PATH = sysroot_.path("records/data_i_006");
  const std::string folder = StudentDataFolder("SKEY0001");
  EXPECT_EQ(folder, sysroot_.path("records/data_i_006/SKEY0001"));
  EXPECT_EQ(InUseFileOpen("SKEY0001"), 0) << "no data folder yet";
  EXPECT_FALSE(fs::exists(folder));

  fs::create_directories(folder);
  const std::string marker = folder + "/local.USE";
  WriteTestFile(marker, "left by a run that crashed");
  EXPECT_EQ(InUseFileOpen("SKEY0001"), 1);
  EXPECT_TRUE(fs::exists(marker));
  EXPECT_EQ(fs::file_size(marker), 0u) << "an old marker is replaced";
  EXPECT_EQ(InUseFileOpen("SKEY001"), 0) << "a key of 7 characters";
  InUseFileClose();
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_TRUE(backend_->shown.empty());

  // A marker that cannot be deleted is reported with the folder.
  EXPECT_EQ(InUseFileOpen("SKEY0001"), 1);
  fs::remove(marker);
  fs::create_directories(marker + "/inside");
  InUseFileClose();
  ASSERT_EQ(ShownIds(), (std::vector<std::string>{"MSG_DeletePrivileges"}));
  EXPECT_NE(ShownText(0).find(folder), std::string::npos) << ShownText(0);
}

}  // namespace
}  // namespace nuvel::records
