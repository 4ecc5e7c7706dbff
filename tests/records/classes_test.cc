// Classes and groups: the record's byte order, flags, rights and states on records built in the
// test, and the class list loaded from the Records-server double (both byte orders, small CLSB
// pages, the CLSN timestamp cache, 900 classes, a server not asked for UTF-8, saving a class).
// Replies the double never sends (a CLSB reply that lies about its records) come from a scripted
// server.
#include "records/classes.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>

#include "base/paths.h"
#include "base/run_state.h"
#include "net/web_service.h"
#include "platform/run_reset.h"
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

// A record of a whole slot, zeroed.
using Slot = std::array<unsigned char, kClassSlotSize>;

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class ClassesTest : public testing::RecordsClientTest {
 protected:
  void LogInAsLakesideAdministrator() { LogIn("lakeside", "Lake2024", 12); }

  // The slot of the class with this name, -1 when the table has none.
  static int SlotNamed(const std::string& name) {
    for (int slot = 0; slot < Classes().first_unused_slot; ++slot) {
      if (ClassNameOf(ClassSlot(slot)) == name) return slot;
    }
    return -1;
  }
  static std::vector<std::string> ListedNames() {
    std::vector<std::string> names;
    for (int i = 0; i < Classes().NumClasses; ++i) {
      names.push_back(ClassNameOf(ClassSlot(Classes().OrderClass[static_cast<std::size_t>(i)])));
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

// ---- Records built in the test -----------------------------------------------------------------

TEST_F(ClassesTest, ConvertClassSwapsExactlyTheNumberWords) {
  std::array<unsigned char, kClassRecordSize> record;
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<unsigned char>(i * 7 + 3);
  const auto original = record;
  ASSERT_TRUE(ConvertClass(record, true));
  std::vector<std::size_t> swapped;
  for (std::size_t i = 0; i + 1 < record.size(); ++i) {
    if (record[i] != original[i]) {
      EXPECT_EQ(record[i], original[i + 1]) << i;
      EXPECT_EQ(record[i + 1], original[i]) << i;
      swapped.push_back(i++);
    }
  }
  std::vector<std::size_t> expected;
  for (std::size_t offset = 92; offset <= 116; offset += 2) expected.push_back(offset);
  for (std::size_t offset : {248, 250, 252, 256, 258, 260}) expected.push_back(offset);
  for (std::size_t offset = 262; offset <= 272; offset += 2) expected.push_back(offset);
  EXPECT_EQ(swapped, expected) << "the word at 254 and every text stay as they are";
  ConvertClass(record, true);
  EXPECT_EQ(record, original) << "converting twice gives the record back";

  ConvertClass(record, false);
  EXPECT_EQ(record, original) << "a little-endian server's record is already in order";
  std::array<unsigned char, kClassRecordSize - 1> short_record{};
  short_record[93] = 1;
  EXPECT_FALSE(ConvertClass(short_record, true));
  EXPECT_EQ(short_record[93], 1) << "a short record is refused untouched";
}

TEST_F(ClassesTest, FlagsLiveInThreeWordsAndGroupFlagsNeedAnEightCharacterPath) {
  Slot group{};
  Set_Group_Defaults(group);
  ASSERT_EQ(ClassPathOf(group).size(), 8u);
  SetGroupFlag(group, kGroupFlagHomeStudy, 1);
  SetGroupFlag(group, kGroupFlagCoaching, 1);
  SetGroupFlag(group, 40, 1);
  EXPECT_EQ(Word(group, kClassFlags), (1 << 1) | (1 << 3)) << "flag 3: rights in the new form";
  EXPECT_EQ(Word(group, kGroupFlags16), 1 << 6);
  EXPECT_EQ(Word(group, kClassExpiry), 1 << 8);
  EXPECT_EQ(GroupAllowsHomeStudy(group), 1);
  EXPECT_EQ(IsGroupCoachingEnabled(group), 1);
  EXPECT_EQ(GetGroupFlag(group, 40), 1);
  EXPECT_EQ(GetGroupFlag_by_flag(Word(group, kGroupFlags16), 22), 1);

  // The same record with a 7-character path reads every group flag as 0.
  SetFieldText(group, kClassPath, kClassPathWidth, "GSHORT1");
  for (int flag = 0; flag <= 47; ++flag) EXPECT_EQ(GetGroupFlag(group, flag), 0) << flag;
  EXPECT_EQ(GroupAllowsHomeStudy(group), 0);
  EXPECT_EQ(IsGroupCoachingEnabled(group), 0);

  Slot record{};
  Set_Class_Defaults(record, 3);
  SetClassFlag(record, 2, 1);
  SetClassFlag(record, kClassFlagPathManager10, 1);
  EXPECT_EQ(GetClassFlag(record, 2), 0) << "flags 2 and 10 always read 0";
  EXPECT_EQ(IsPathManagerOn(record), 0);
  SetClassFlag(record, kClassFlagStudyPathManager, 1);
  EXPECT_EQ(IsPathManagerOn(record), 1);
  SetClassFlag(record, kClassFlagDisabled, 1);
  EXPECT_EQ(IsClassDisabled(record), 1);
}

TEST_F(ClassesTest, OlderRightsAreReadOnceAndRewrittenInTheNewForm) {
  Slot group{};
  SetFieldText(group, kClassPath, kClassPathWidth, "GOLD0001");
  SetWord(group, kClassType, kGroupType);
  SetWord(group, 106, 2);      // rights 0 to 2: any value but 0 holds them
  SetWord(group, 100, 1);      // right 7
  SetWord(group, 104, 0);      // right 8
  SetGroupFlag(group, 32, 0);  // rights 3 to 6

  EXPECT_EQ(GetGroupAdminRights(group), (std::array<int, 9>{}))
      << "rights are not read while not connected";
  EXPECT_EQ(GetGroupFlag(group, kGroupFlagNewRights), 0) << "and the record is left alone";

  RecordsSession().conected_to_server = 1;
  const std::array<int, 9> first = GetGroupAdminRights(group);
  EXPECT_EQ(first, (std::array<int, 9>{1, 1, 1, 0, 0, 0, 0, 1, 0}));
  EXPECT_EQ(GetGroupAdminRights(group), first) << "the rewritten record reads the same";
  EXPECT_EQ(GetGroupFlag(group, kGroupFlagNewRights), 1);
  EXPECT_EQ(Word(group, kClassFlags) & 0x1FF0, (1 << 4) | (1 << 5) | (1 << 6))
      << "rights 0 to 2 are now flags 4 to 6";

  // In the new form the older words no longer count.
  SetWord(group, 106, 0);
  SetWord(group, 104, 1);
  EXPECT_EQ(GetGroupAdminRights(group), (std::array<int, 9>{1, 1, 1, 0, 0, 0, 0, 1, 0}));
  SetSingleGroupAdminRight(group, 12, 1);
  EXPECT_EQ(GetSingleGroupAdminRight(group, 12), 1) << "right 8";
  EXPECT_EQ(GetSingleGroupAdminRight(group, 3), 0) << "numbers below 4 address no right";

  // Right 11 is right 7, the word at 100: the install right and the enabled state.
  EXPECT_EQ(GroupMayInstall(group), 1);
  EXPECT_EQ(IsGroupDisabled(group, 1), 0);
  SetSingleGroupAdminRight(group, kInstallRight, 0);
  EXPECT_EQ(Word(group, 100), 0);
  EXPECT_EQ(GroupMayInstall(group), 0);
  EXPECT_EQ(IsGroupDisabled(group, 1), 1);
  EXPECT_EQ(ShownIds(), (std::vector<std::string>{"MSG_Message_GroupHasBeenDisabled"}));
}

TEST_F(ClassesTest, ExpiryFollowsTheServersDateAndItsTwoNeverValues) {
  const int today = text::GetDateValueFromYearMonthDay(2031 - 1980, 3, 15);
  Session& session = RecordsSession();
  session.conected_to_server = 1;
  session.TCPRecords_time = today;  // the server's date, asked less than a minute ago
  session.TCPRecords_LastPing = text::timer();

  Slot record{};
  Set_Class_Defaults(record, 1);
  struct Case {
    int date;
    int expired;
  } cases[] = {{kClassNeverExpires, 0}, {10000, 0}, {0, 0}, {today - 1, 1}, {today, 0},
               {today + 1, 0},          {10001, 1}};
  for (const Case& c : cases) {
    SetWord(record, kClassExpiry, c.date);
    EXPECT_EQ(IsClassExpired(record, 0), c.expired) << c.date;
  }
  SetWord(record, kClassExpiry, today - 1);
  EXPECT_EQ(IsClassExpired(record, 1), 1);

  Slot group{};
  Set_Group_Defaults(group);
  EXPECT_EQ(IsGroupExpired(group, 1), 0) << "a new group has no expiry date";
  SetWord(group, kGroupExpiry, 10000);
  EXPECT_EQ(IsGroupExpired(group, 1), 0);
  SetWord(group, kGroupExpiry, 10001);
  EXPECT_EQ(IsGroupExpired(group, 1), 1);
  EXPECT_EQ(ShownIds(), (std::vector<std::string>{"MSG_ClassExpired", "MSG_GroupExpired"}));

  session.conected_to_server = 0;
  EXPECT_EQ(IsClassExpired(record, 1), 0) << "expiry counts only on line";
}

TEST_F(ClassesTest, NewRecordsAndRepairedSettings) {
  Slot record{};
  record.fill(0xEE);
  Set_Class_Defaults(record, 7);
  EXPECT_EQ(ClassNameOf(record), "-- Class Name --");
  EXPECT_EQ(FieldText(record, kClassTeacher, kClassTextWidth), "-- Teacher Name --");
  const std::string key = ClassPathOf(record);
  EXPECT_TRUE(IsValidStudentKey(key)) << key;
  EXPECT_EQ(ClassTypeOf(record), 7);
  EXPECT_EQ(Word(record, 106), 80);
  EXPECT_EQ(Word(record, 116), 100);
  EXPECT_EQ(Word(record, kClassExpiry), kClassNeverExpires);
  EXPECT_EQ(IsPathManagerOn(record), 0);
  EXPECT_EQ(record[kSlotCopyStampOffset], 0) << "the whole slot is cleared";
  Slot other{};
  Set_Class_Defaults(other, 8);
  EXPECT_NE(ClassPathOf(other), key) << "every new record gets its own key";

  Classes().new_classes_use_path_managers = true;
  Set_Class_Defaults(record, 7);
  EXPECT_EQ(IsPlacementManagerOn(record), 1);
  EXPECT_EQ(IsStudyPathManagerOn(record), 1);
  EXPECT_EQ(Word(record, 98), 7);
  EXPECT_EQ(Word(record, kClassPathManagerWord), 1);

  // Settings out of range take their defaults; with the Path Manager on, 254 and 100 are 1.
  SetWord(record, 98, 101);
  SetWord(record, 100, 0);
  SetWord(record, 106, -1);
  SetWord(record, 116, 0);
  SetWord(record, kClassPathManagerWord, 0);
  SetWord(record, kClassExpiry, 30754);
  Check_Class_Settings(record);
  EXPECT_EQ(Word(record, 98), 7);
  EXPECT_EQ(Word(record, 106), 80);
  EXPECT_EQ(Word(record, 116), 100);
  EXPECT_EQ(Word(record, kClassExpiry), kClassNeverExpires);
  EXPECT_EQ(Word(record, kClassPathManagerWord), 1);
  EXPECT_EQ(Word(record, 100), 1);

  Slot group{};
  Set_Group_Defaults(group);
  EXPECT_EQ(FieldText(group, kClassTeacher, kClassTextWidth), "-- Group Login ID --");
  EXPECT_EQ(GroupNumberOf(group), -1);
  EXPECT_EQ(Word(group, 108), 3);
  EXPECT_EQ(Word(group, 110), 4);
  SetWord(group, 108, 16);
  SetWord(group, 110, -1001);
  SetWord(group, kGroupExpiry, 9999);
  SetWord(group, kGroupNumber, 7000);
  RecordsSession().ServerProtocolVersion = 4;
  Check_Class_Settings(group);
  EXPECT_EQ(Word(group, 108), 15);
  EXPECT_EQ(Word(group, 110), 12);
  EXPECT_EQ(Word(group, kGroupExpiry), 0);
  EXPECT_EQ(GroupNumberOf(group), 7000) << "a current server has group numbers above 5,000";
  RecordsSession().ServerProtocolVersion = 1;
  Check_Group_Settings(group);
  EXPECT_EQ(GroupNumberOf(group), 1);
}

TEST_F(ClassesTest, ClassPageHeaderIsCheckedAgainstTheBytesReceived) {
  auto reply = [](const char* header, std::size_t records) {
    return std::string(header) + std::string(records * kClassRecordSize, 'r');
  };
  //                   0         1         2         3         4
  //                   0123456789012345678901234567890123456789012345678 9
  const char* two = "ANSW CLSB 00000002 2026-01-02+03:04:05 0700 0002\r\n";
  ClassPage page;
  ASSERT_TRUE(ParseClassPage(reply(two, 2), 0, page));
  EXPECT_EQ(page.count, 2);
  EXPECT_EQ(page.nextIndex, 2);
  EXPECT_EQ(page.records.size(), 2 * kClassRecordSize);
  EXPECT_FALSE(ParseClassPage(reply(two, 1), 0, page)) << "fewer records than the count";
  EXPECT_FALSE(ParseClassPage(reply(two, 2).substr(0, 49 + 1400), 0, page));
  EXPECT_FALSE(ParseClassPage(reply(two, 2), 2, page)) << "the next index must move forward";
  EXPECT_FALSE(
      ParseClassPage(reply("ANSW CLSB 00000002 2026-01-02+03:04:05 0699 0002\r\n", 3), 0, page))
      << "a record size other than 700";
  EXPECT_FALSE(
      ParseClassPage(reply("ANSW CLSB 0000000x 2026-01-02+03:04:05 0700 0002\r\n", 2), 0, page));
  EXPECT_FALSE(
      ParseClassPage(reply("ANSW CLSB -0000001 2026-01-02+03:04:05 0700 0002\r\n", 0), 0, page));
  EXPECT_FALSE(ParseClassPage("ANSW CLSB 00000000 2026-01-02+03:04:05", 0, page))
      << "a header cut short";
  EXPECT_TRUE(
      ParseClassPage(reply("ANSW CLSB 00000000 2026-01-02+03:04:05 0700 0000\r\n", 0), 5, page))
      << "an empty page ends the list";
  EXPECT_EQ(page.count, 0);
}

// ---- Against the Records-server double
// -----------------------------------------------------------

class ClassesByteOrderTest : public ClassesTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ClassesByteOrderTest, LoadsTheLoginGroupAndItsClasses) {
  Start(GetParam() ? std::vector<std::string>{"--big-endian"} : std::vector<std::string>{});
  LogInAsLakesideAdministrator();
  EXPECT_EQ(RecordsSession().ServerIsBigEndian, GetParam() ? 1 : 0);

  EXPECT_EQ(Load_classes(-1), 4);
  EXPECT_EQ(ListedNames(), (std::vector<std::string>{"French Conversation", "German Evening",
                                                     "Lakeside Language School", "Spanish 1"}));
  const int group_slot = Classes().login_group_index;
  ASSERT_GE(group_slot, 0);
  const RecordBytes group = ClassSlot(group_slot);
  EXPECT_EQ(ClassNameOf(group), "Lakeside Language School");
  EXPECT_EQ(GroupNumberOf(group), 12);
  EXPECT_EQ(GetTheGroupCountryNumber(group), 840);
  EXPECT_EQ(GroupAllowsHomeStudy(group), 1);
  EXPECT_EQ(GetGroupAdminRights(group), (std::array<int, 9>{1, 1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(GroupMayInstall(group), 1);
  EXPECT_EQ(IsGroupDisabled(group, 1), 0);
  EXPECT_EQ(IsGroupExpired(group, 1), 0);

  const RecordBytes french = ClassSlot(SlotNamed("French Conversation"));
  EXPECT_EQ(FieldText(french, kClassTeacher, kClassTextWidth), "Élodie Marchand");
  EXPECT_EQ(GroupNumberOf(french), 12);
  EXPECT_EQ(Word(french, kClassCountry), 840);
  EXPECT_EQ(Word(french, kClassExpiry), kClassNeverExpires);
  EXPECT_EQ(Word(french, kSlotLoadedOffset), 1);
  EXPECT_EQ(IsClassExpired(french, 1), 0);
  const RecordBytes spanish = ClassSlot(SlotNamed("Spanish 1"));
  EXPECT_EQ(FieldText(spanish, 118, 40), "PLAYA7") << "the class password, unscrambled";
  const RecordBytes german = ClassSlot(SlotNamed("German Evening"));
  EXPECT_EQ(Word(german, kClassExpiry), text::GetDateValueFromYearMonthDay(2023 - 1980, 6, 30));
  EXPECT_EQ(IsClassExpired(german, 1), 1);
  EXPECT_EQ(ShownIds(), (std::vector<std::string>{"MSG_ClassExpired"}));

  EXPECT_EQ(Load_classes(-2), 3) << "the plain classes";
  EXPECT_EQ(Load_classes(kGroupType), 2) << "every group of the server";
  EXPECT_EQ(ListedNames(),
            (std::vector<std::string>{"Hillcrest Adult Education", "Lakeside Language School"}));
  EXPECT_EQ(TCPGet_Class_Size(ClassPathOf(spanish)), 6);
}

INSTANTIATE_TEST_SUITE_P(BothByteOrders, ClassesByteOrderTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "BigEndian" : "LittleEndian";
                         });

TEST_F(ClassesTest, StudentLoginFindsItsGroupAndClass) {
  Start();
  // The driver need not name the group: the student's class tells it.
  ASSERT_EQ(ConnectToServer("grace.kim@lakeside.example", "pain2024"), 12);
  EXPECT_EQ(Load_classes(-997), 0) << "-997 fills the table without listing";
  EXPECT_EQ(Classes().first_unused_slot, 4);
  const int slot = GetClassIndex(RecordsSession().forcedClassPath);
  ASSERT_GE(slot, 0);
  EXPECT_EQ(ClassNameOf(ClassSlot(slot)), "French Conversation");
  EXPECT_EQ(Classes().login_group_number, 12);
  EXPECT_EQ(Classes().login_group_index, GetGroupIndex(12));
  EXPECT_EQ(GetGroupIndex(47), -1) << "another school's group is not in a P list";
  EXPECT_EQ(GetTheClassCountryLanguage(ClassSlot(slot)), "ENG");
}

TEST_F(ClassesTest, GroupWithoutTheInstallRightLogsInAndMayNotInstall) {
  Start();
  LogIn("pierre.tremblay@hillcrest.example", "work2024", 47);
  ASSERT_EQ(Load_classes(-1), 2);
  const RecordBytes group = ClassSlot(Classes().login_group_index);
  EXPECT_EQ(GroupMayInstall(group), 0);
  EXPECT_EQ(GetGroupAdminRights(group), (std::array<int, 9>{1, 1, 1, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(IsGroupDisabled(group, 1), 1);
  EXPECT_EQ(ShownIds(), (std::vector<std::string>{"MSG_Message_GroupHasBeenDisabled"}));
}

TEST_F(ClassesTest, SmallPagesAreFetchedOneAfterAnother) {
  Start({"--page-size", "1"});
  LogInAsLakesideAdministrator();
  EXPECT_EQ(Load_classes(-1), 4);
  const std::string log = double_->Log();
  for (const char* page :
       {"\tCLSB\t0000_P\t", "\tCLSB\t0001_P\t", "\tCLSB\t0002_P\t", "\tCLSB\t0003_P\t"}) {
    EXPECT_EQ(Count(log, page), 1) << page << "\n" << log;
  }
  EXPECT_EQ(Count(log, "\tCLSB\t"), 4) << "no page is asked for after the last record";
  EXPECT_EQ(Classes().first_unused_slot, 4);

  // The status strip tells what is going on, and goes when the list is loaded.
  const std::vector<std::string>& events = backend_->events;
  for (const char* shown : {"strip Loading classes  -  Number of Classes Available",
                            "strip Loading classes  -  Getting classes from server.",
                            "strip Loading classes  -  Assigning Classes"}) {
    EXPECT_NE(std::find(events.begin(), events.end(), shown), events.end()) << shown;
  }
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "hide-strip");
}

TEST_F(ClassesTest, UnchangedClassListIsNotFetchedAgain) {
  Start();
  LogInAsLakesideAdministrator();
  EXPECT_EQ(Load_classes(-1), 4);
  EXPECT_EQ(Load_classes(-1), 4);
  EXPECT_EQ(Load_classes(-2), 3) << "another mode lists the cached records";
  std::string log = double_->Log();
  EXPECT_EQ(Count(log, "\tCLSN\t"), 3) << log;
  EXPECT_EQ(Count(log, "\tCLSB\t"), 1) << "the same timestamp sends no CLSB:\n" << log;

  // A saved class moves the timestamp: the next load fetches the list again.
  const RecordBytes spanish = ClassSlot(SlotNamed("Spanish 1"));
  SetFieldText(spanish, kClassTeacher, kClassTextWidth, "Ana Torres-Vidal");
  ASSERT_EQ(TCPSave_A_Class(spanish, ""), 1);
  EXPECT_EQ(Load_classes(-1), 4);
  log = double_->Log();
  EXPECT_EQ(Count(log, "\tCLSB\t"), 2) << log;
  EXPECT_EQ(FieldText(ClassSlot(SlotNamed("Spanish 1")), kClassTeacher, kClassTextWidth),
            "Ana Torres-Vidal");
  EXPECT_EQ(Classes().first_unused_slot, 4) << "the class replaced its own slot";
}

TEST_F(ClassesTest, NineHundredClassesKeepTheFirstEightHundred) {
  std::string fixture =
      "[group Big School]\nnumber = 77\nlogin id = big\npassword = Big2024\nrights = install\n";
  for (int i = 1; i <= 899; ++i) fixture += "[class Class " + std::to_string(i) + "]\n";
  const std::string path = sysroot_.path("big.fixture");
  WriteTestFile(path, fixture);
  Start({}, path);
  LogIn("big", "Big2024", 77);

  EXPECT_EQ(Load_classes(-1), kMaxClasses);
  EXPECT_EQ(Classes().first_unused_slot, kMaxClasses);
  EXPECT_GE(Classes().login_group_index, 0);
  EXPECT_GE(SlotNamed("Class 799"), 0);
  EXPECT_EQ(SlotNamed("Class 800"), -1) << "record 801 of the server is left out";
  EXPECT_EQ(Count(double_->Log(), "\tCLSB\t"), 18) << "every page is read";
  EXPECT_NE(Log().find("The class table holds 800 records"), std::string::npos);

  // Loading again replaces the same 800 slots.
  Classes().lastTimeStamp.clear();
  EXPECT_EQ(Load_classes(-1), kMaxClasses);
  EXPECT_EQ(Classes().first_unused_slot, kMaxClasses);
}

TEST_F(ClassesTest, TextsOfAServerNotAskedForUtf8AreConvertedFromItsCodePage) {
  const std::string path = sysroot_.path("czech.fixture");
  WriteTestFile(path,
                "[group Škola Brno]\nnumber = 9\nlogin id = brno\npassword = Brno2024\n"
                "rights = install\nlanguage = CZH\ncountry = CZE\ncountry number = 203\n"
                "[class Čeština pro začátečníky]\nteacher = Dvořák Řehoř\n"
                "[student Žofie Nováková]\nlogin id = zofie@brno.example\npassword = les2024\n");
  Start({"--protocol-level", "3"}, path);
  LogIn("brno", "Brno2024", 9);
  ASSERT_EQ(RecordsSession().request_server_unicode, 0);
  ASSERT_EQ(Load_classes(-1), 2);
  EXPECT_EQ(ListedNames(), (std::vector<std::string>{"Čeština pro začátečníky", "Škola Brno"}));
  const RecordBytes record = ClassSlot(SlotNamed("Čeština pro začátečníky"));
  EXPECT_EQ(FieldText(record, kClassTeacher, kClassTextWidth), "Dvořák Řehoř");
  EXPECT_EQ(GetTheClassCountryLanguage(record), "CZH");
  EXPECT_EQ(Log().find("not UTF-8"), std::string::npos);

  // Saved and read back, the texts travel in the code page again.
  SetFieldText(record, kClassName, kClassTextWidth, "Čeština 2");
  ASSERT_EQ(TCPSave_A_Class(record, ""), 1);
  Slot read{};
  ASSERT_EQ(TCPGet_Class_Info(ClassPathOf(record), read), 0);
  EXPECT_EQ(ClassNameOf(read), "Čeština 2");
}

TEST_F(ClassesTest, NewClassGetsTheServersPathAndKeepsItsPasswordAndTimestamp) {
  Start({"--big-endian"});
  LogInAsLakesideAdministrator();
  ASSERT_EQ(Load_classes(-1), 4);
  Slot record{};
  Set_Class_Defaults(record, 0);
  SetWord(record, kGroupNumber, 12);
  SetFieldText(record, kClassName, kClassTextWidth, "Italiano per tutti");
  SetFieldText(record, 118, 40, "Roma2031");
  SetLong(record, kSlotCopyStampOffset, 1);
  const std::string own_key = ClassPathOf(record);

  ASSERT_EQ(TCPSave_A_Class(record, "NEWCLASS"), 1);
  const std::string path = ClassPathOf(record);
  EXPECT_NE(path, own_key);
  EXPECT_EQ(path.size(), 8u);
  EXPECT_EQ(FieldText(record, kSlotTimestampOffset, kSlotTimestampWidth).size(), 19u)
      << "the server's timestamp is kept";
  EXPECT_EQ(FieldText(record, 118, 40), "Roma2031") << "the record itself stays clear";

  Slot read{};
  ASSERT_EQ(TCPGet_Class_Info(path, read), 0);
  EXPECT_EQ(ClassNameOf(read), "Italiano per tutti");
  EXPECT_EQ(FieldText(read, 118, 40), "ROMA2031") << "passwords travel upper-cased";
  EXPECT_EQ(Word(read, kClassExpiry), kClassNeverExpires);
  EXPECT_EQ(Load_classes(-2), 4) << "the new class is listed";
}

TEST_F(ClassesTest, ClassInfoOfAnUnknownClassIsAnError) {
  Start();
  LogInAsLakesideAdministrator();
  Slot read{};
  EXPECT_EQ(TCPGet_Class_Info("CNOPE001", read), -1);
  EXPECT_EQ(ShownIds(), (std::vector<std::string>{"Error returned from CLSS"}));
  EXPECT_EQ(TCPGet_Class_Size("CNOPE001"), -1);
}

// ---- Replies the double never sends -------------------------------------------------------------

// A class record as a little-endian server sends it.
std::string WireClass(const std::string& name, const std::string& path, int type, int group) {
  std::array<unsigned char, kClassRecordSize> record{};
  SetFieldText(record, kClassName, kClassTextWidth, name);
  SetFieldText(record, kClassPath, kClassPathWidth, path);
  SetWord(record, kClassType, type);
  SetWord(record, kGroupNumber, group);
  SetWord(record, kClassExpiry, kClassNeverExpires);
  return std::string(record.begin(), record.end());
}

class ScriptedClassesTest : public ClassesTest {
 protected:
  // Serves CLSN with two records and CLSB from `pages` (one reply per CLSB request, the last
  // one repeated); the session counts as logged in.
  void Serve(std::vector<std::string> pages) {
    server_ = std::make_unique<ScriptedRecordsServer>([pages, this](const std::string& target) {
      if (target.find("CMD=CLSN") != std::string::npos) {
        return std::string("ANSW CLSN 00000002 2026-01-02+03:04:05\r\n");
      }
      const std::size_t n = std::min<std::size_t>(served_++, pages.size() - 1);
      return pages[n];
    });
    PointAt(server_->port());
    Session& session = RecordsSession();
    session.haveReceiveBuffer = true;
    session.conected_to_server = 1;
    session.RecordsLoginName = "wosid=S1";
    session.ServerProtocolVersion = 4;
    SetLoginGroupNumber(5);
  }
  static std::string Page(int count, int size, int next, const std::string& records) {
    char header[64];
    std::snprintf(header, sizeof header, "ANSW CLSB %08d 2026-01-02+03:04:05 %04d %04d\r\n", count,
                  size, next);
    return header + records;
  }

  std::size_t served_ = 0;
};

const std::string kGroupRecord = WireClass("Group Five", "GFIVE001", kGroupType, 5);
const std::string kClassRecord = WireClass("Class One", "CONE0001", 1, 5);

TEST_F(ScriptedClassesTest, ReplyShorterThanItsCountIsRefusedAndAskedOnceMore) {
  // Two records announced, one sent, on both tries: nothing past the reply is read.
  Serve({Page(2, 700, 2, kGroupRecord)});
  EXPECT_EQ(Load_classes(-1), 0);
  EXPECT_EQ(server_->Count("CLSB"), 2);
  EXPECT_EQ(Classes().first_unused_slot, 0) << "no record of a refused reply is taken";
  EXPECT_EQ(ShownIds(), (std::vector<std::string>{"CLSB: Error reading Classes from server."}));
  const std::string log = Log();
  EXPECT_NE(log.find("Retrying CLSB 1 - Failed again"), std::string::npos) << log;
  EXPECT_EQ(base::Run().quitFlag, 0) << "only a failed CLSN ends the run";
  EXPECT_TRUE(Classes().lastTimeStamp.empty()) << "an incomplete list is not cached";
}

TEST_F(ScriptedClassesTest, SecondTryThatSucceedsIsTaken) {
  Serve(
      {Page(2, 699, 2, kGroupRecord + kClassRecord), Page(2, 700, 2, kGroupRecord + kClassRecord)});
  EXPECT_EQ(Load_classes(-1), 2);
  EXPECT_NE(Log().find("Retrying CLSB 1 - Fixed itself"), std::string::npos);
  EXPECT_TRUE(backend_->shown.empty());
}

TEST_F(ScriptedClassesTest, LaterPageThatDoesNotMoveOnIsRefused) {
  // The first page holds one record and names index 1; the second names index 1 again.
  Serve({Page(1, 700, 1, kGroupRecord), Page(1, 700, 1, kClassRecord)});
  EXPECT_EQ(Load_classes(-1), 1) << "what came before the bad page is kept";
  EXPECT_EQ(server_->Count("CLSB"), 3);
  EXPECT_NE(Log().find("Retrying CLSB 2 - Failed again"), std::string::npos);
}

TEST_F(ScriptedClassesTest, BytesThatAreNotUtf8BecomeQuestionMarks) {
  std::string record = WireClass("Caf\xE9 \xC3(", "CBAD0001", 1, 5);
  Serve({Page(2, 700, 2, kGroupRecord + record)});
  ASSERT_EQ(Load_classes(-1), 2);
  const std::string name = ClassNameOf(ClassSlot(GetClassIndex("CBAD0001")));
  EXPECT_EQ(name, "Caf? ?(");
  EXPECT_TRUE(text::IsAValidUTF8UnicodeString(name));
  EXPECT_NE(Log().find("Text from CLSB not UTF-8 as requested."), std::string::npos);
}

TEST_F(ScriptedClassesTest, FailedClassCountEndsTheRun) {
  server_ = std::make_unique<ScriptedRecordsServer>([](const std::string&) {
    return std::string("ERRO CLSN 00000000 2026-01-02+03:04:05 NO\r\n");
  });
  PointAt(server_->port());
  Session& session = RecordsSession();
  session.haveReceiveBuffer = true;
  session.conected_to_server = 1;
  EXPECT_EQ(Load_classes(-1), -1);
  EXPECT_EQ(ShownIds(), (std::vector<std::string>{"Error returned from CLSN"}));
  EXPECT_NE(base::Run().quitFlag, 0);
  EXPECT_EQ(Load_classes(-1), -1) << "a quitting run loads nothing";
}

}  // namespace
}  // namespace nuvel::records
