#include "records/classes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/run_state.h"
#include "platform/run_reset.h"
#include "records/countries.h"
#include "records/password.h"
#include "records/protocol.h"
#include "records/server_settings.h"
#include "records/students.h"
#include "text/collation.h"
#include "text/dates.h"
#include "text/encodings.h"
#include "text/utf8.h"
#include "ui/prompts.h"
#include "ui/status_box.h"

namespace nuvel::records {

using base::WriteLogf;

void ClassesState::reset() { *this = ClassesState{}; }

ClassesState& Classes() {
  static ClassesState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("records::Classes", [] { state.reset(); });
  return state;
}

namespace {

ClassesState& C() { return Classes(); }

bool Connected() { return RecordsSession().conected_to_server != 0; }
bool Quitting() { return base::Run().quitFlag != 0; }
bool Utf8Requested() { return RecordsSession().request_server_unicode != 0; }

// The protocol level that decides the form of password fields; 0 while not connected.
int PasswordLevel() { return Connected() ? RecordsSession().ServerProtocolVersion : 0; }

std::vector<unsigned char>& Table() {
  std::vector<unsigned char>& data = C().ClassData;
  if (data.empty()) data.assign(static_cast<std::size_t>(kMaxClasses) * kClassSlotSize, 0);
  return data;
}

// Today's packed date: the Records server's when it tells, else the computer's.
int Today() {
  const int server = Connected() ? TCPFindServerTime(2) : 0;
  return server > 0 ? server : text::GetTodays_Date_Num();
}

void Tell(const char* key) { ui::Ask({.id = key, .message = key, .buttons = {"MSG_Button_OK"}}); }

void ShowError(const char* text) {
  WriteLogf(1, "%s", text);
  ui::Ask({.id = text, .message = text, .buttons = {"MSG_Button_OK"}});
}

// The word and bit of flag n (see the header).
std::size_t FlagWord(int flag) {
  return flag < 16 ? kClassFlags : flag < 32 ? kGroupFlags16 : kClassExpiry;
}

int ReadFlag(ConstRecordBytes record, int flag) {
  if (flag < 0 || flag > 47) return 0;
  return (Word(record, FlagWord(flag)) >> (flag % 16)) & 1;
}

void WriteFlag(RecordBytes record, int flag, int value) {
  if (flag < 0 || flag > 47) return;
  const std::size_t offset = FlagWord(flag);
  int word = Word(record, offset);
  const int bit = 1 << (flag % 16);
  word = value ? word | bit : word & ~bit;
  SetWord(record, offset, word);
}

// A setting outside [low, high] takes `fallback`.
void Repair(RecordBytes record, std::size_t offset, int low, int high, int fallback) {
  const int value = Word(record, offset);
  if (value < low || value > high) SetWord(record, offset, fallback);
}

// Reads the rights whatever the connection, rewriting an older record in the new form.
std::array<int, kGroupRightCount> ReadRights(RecordBytes group) {
  std::array<int, kGroupRightCount> rights{};
  if (GetGroupFlag(group, kGroupFlagNewRights)) {
    for (int right = 0; right <= 6; ++right) rights[right] = GetGroupFlag(group, 4 + right);
    rights[7] = Word(group, 100);
    rights[8] = GetGroupFlag(group, 12);
    return rights;
  }
  // The older words hold 0 or 1; any other value counts as held, as the new form's flags do.
  const int older = Word(group, 106) != 0 ? 1 : 0;
  rights[0] = rights[1] = rights[2] = older;
  const int flag32 = GetGroupFlag(group, 32);
  rights[3] = rights[4] = rights[5] = rights[6] = flag32;
  rights[7] = Word(group, 100);
  rights[8] = Word(group, 104) != 0 ? 1 : 0;
  SetGroupAdminRights(group, rights);
  WriteLogf(3, "Group %s: administrator rights rewritten in the new form",
            ClassPathOf(group).c_str());
  return rights;
}

bool IsLanguageOfClassTexts(std::string_view language) {
  static constexpr std::string_view kLanguages[] = {"BRA", "CZH", "ENG", "FRA", "GER", "HUN", "IND",
                                                    "ITL", "JPN", "KOR", "MAL", "MAN", "MAS", "PRT",
                                                    "ROU", "SPN", "SVK", "TAI", "TUR"};
  return std::find(std::begin(kLanguages), std::end(kLanguages), language) != std::end(kLanguages);
}

// The default language of a country (ISO numeric code) when it is one class texts use.
std::string CountryLanguage(int iso_number) {
  const int row = Get_the_country_index(iso_number);
  if (row < 0) return "";
  const std::string language = Countries()[static_cast<std::size_t>(row)].language;
  return IsLanguageOfClassTexts(language) ? language : "";
}

// Converts a received record (kClassRecordSize bytes) to this program's form: byte order,
// password fields, texts in UTF-8. `command` names the reply in the log.
void ReceiveRecord(RecordBytes record, const char* not_utf8_log) {
  ConvertClass(record, RecordsSession().ServerIsBigEndian != 0);
  // The key is 8 characters: whatever stands in its ninth byte ends it.
  record[kClassPath + kClassPathWidth - 1] = 0;
  if (!EncryptClassPassword(record, 0, PasswordLevel())) {
    WriteLogf(1, "The password fields of class %s could not be read", ClassPathOf(record).c_str());
  }
  const std::string language = GetTheClassCountryLanguage(record);
  for (std::size_t offset : {kClassName, kClassTeacher}) {
    FieldFromServer(record, offset, kClassTextWidth, language, Utf8Requested(), not_utf8_log);
  }
}

// Puts a received record into the table: into the slot of the same class path and sign of type,
// else into the first unused slot. False when the table had no room for it.
bool TakeRecord(RecordBytes record) {
  ClassesState& c = C();
  const std::string path = ClassPathOf(record);
  const bool group_like = ClassTypeOf(record) < 0;
  int slot = -1;
  for (int i = 0; i < c.first_unused_slot; ++i) {
    const RecordBytes other = ClassSlot(i);
    if (ClassPathOf(other) == path && (ClassTypeOf(other) < 0) == group_like) {
      slot = i;
      break;
    }
  }
  if (slot < 0) {
    if (c.first_unused_slot >= kMaxClasses) {
      if (!c.tableFullLogged) {
        WriteLogf(1, "The class table holds %d records; %s and later new records are dropped",
                  kMaxClasses, path.c_str());
        c.tableFullLogged = true;
      }
      return false;
    }
    slot = c.first_unused_slot++;
  }
  RecordBytes target = ClassSlot(slot);
  // A group keeps its working data; a class is replaced whole.
  if (!IsClassAGroup(record)) std::fill(target.begin(), target.end(), 0);
  std::copy_n(record.begin(), kClassRecordSize, target.begin());
  SetWord(target, kSlotLoadedOffset, 1);
  return true;
}

bool IsListed(ConstRecordBytes record, int mode, int login_group) {
  const int type = ClassTypeOf(record);
  if (type > kDeletedTypeAbove) return false;
  if (mode == kGroupType) return type == kGroupType;
  if (mode == -2) return type >= 0 && GroupNumberOf(record) == login_group;
  if (mode >= -1) return GroupNumberOf(record) == login_group;
  return type == mode;
}

// The login group when the driver named none: that of the logged-in student's class, else the
// first group of the table.
int DerivedLoginGroup() {
  const std::string& path = RecordsSession().forcedClassPath;
  if (!path.empty()) {
    const int slot = GetClassIndex(path);
    if (slot >= 0) return GroupNumberOf(ClassSlot(slot));
  }
  for (int i = 0; i < C().first_unused_slot; ++i) {
    if (ClassTypeOf(ClassSlot(i)) == kGroupType) return GroupNumberOf(ClassSlot(i));
  }
  return 0;
}

void ListClasses(int mode) {
  ClassesState& c = C();
  if (c.login_group_number <= 0) {
    const int derived = DerivedLoginGroup();
    if (derived > 0) SetLoginGroupNumber(derived);
  }
  c.NumClasses = 0;
  for (int slot = 0; slot < c.first_unused_slot; ++slot) {
    if (IsListed(ClassSlot(slot), mode, c.login_group_number)) c.OrderClass[c.NumClasses++] = slot;
  }
  c.login_group_index = GetGroupIndex(c.login_group_number);
  c.original_login_group_index = GetGroupIndex(c.original_login_group_number);
  if (c.login_group_index >= 0) {
    text::Encodings().login_group_language =
        GetTheClassCountryLanguage(ClassSlot(c.login_group_index));
  }
  text::sort_class(c.NumClasses, c.OrderClass, Table(), kClassSlotSize);
}

// One CLSB page at `index`, sent once more when it fails or its reply does not hold what it
// says. `which` numbers the retry in the log (1 the first page, 2 the later ones).
bool FetchPage(int index, char letter, int which, std::string& reply, ClassPage& page) {
  char parameter[16];
  std::snprintf(parameter, sizeof parameter, "%04d_%c", index, letter);
  const auto attempt = [&] {
    if (SendCommandToServer("CLSB", parameter, reply) != 0) return false;
    if (ParseClassPage(reply, index, page)) return true;
    WriteLogf(1, "CLSB: a reply of %zu bytes does not hold the records its header names",
              reply.size());
    return false;
  };
  if (attempt()) return true;
  if (Quitting()) return false;
  WriteLogf(1, "Retrying CLSB %d", which);
  if (attempt()) {
    WriteLogf(1, "Retrying CLSB %d - Fixed itself", which);
    return true;
  }
  WriteLogf(1, "Retrying CLSB %d - Failed again", which);
  return false;
}

struct StatusStrip {
  StatusStrip() { ui::TCPStatusBoxCreate(); }
  ~StatusStrip() { ui::TCPStatusBoxDestroy(); }
};

}  // namespace

RecordBytes ClassSlot(int slot) {
  if (slot < 0 || slot >= kMaxClasses) return {};
  return RecordBytes(Table()).subspan(static_cast<std::size_t>(slot) * kClassSlotSize,
                                      kClassSlotSize);
}

void ZeroAllClasses() {
  ClassesState& c = C();
  std::vector<unsigned char>& data = Table();
  std::fill(data.begin(), data.end(), 0);
  c.NumClasses = 0;
  c.OrderClass.fill(0);
  c.first_unused_slot = 0;
  c.login_group_index = -1;
  c.original_login_group_index = -1;
  c.lastTimeStamp.clear();
  c.tableFullLogged = false;
}

void SetLoginGroupNumber(int group_number) {
  ClassesState& c = C();
  c.login_group_number = group_number;
  if (c.original_login_group_number <= 0) c.original_login_group_number = group_number;
}

// ---- Byte order --------------------------------------------------------------------------------

bool ConvertClass(RecordBytes record, bool big_endian) {
  if (record.size() < kClassRecordSize) return false;
  if (!big_endian) return true;
  for (std::size_t offset = 92; offset <= 116; offset += 2) Swap16(record, offset);
  for (std::size_t offset : {248, 250, 252, 256, 258, 260}) Swap16(record, offset);
  for (std::size_t offset = 262; offset <= 272; offset += 2) Swap16(record, offset);
  return true;
}

// ---- Fields, flags and rights ------------------------------------------------------------------

std::string ClassPathOf(ConstRecordBytes record) {
  return FieldText(record, kClassPath, kClassPathWidth);
}
std::string ClassNameOf(ConstRecordBytes record) {
  return FieldText(record, kClassName, kClassTextWidth);
}
int ClassTypeOf(ConstRecordBytes record) { return Word(record, kClassType); }
int GroupNumberOf(ConstRecordBytes record) { return Word(record, kGroupNumber); }

int GetClassFlag(ConstRecordBytes record, int flag) {
  if (flag == 2 || flag == kClassFlagPathManager10) return 0;
  return ReadFlag(record, flag);
}

void SetClassFlag(RecordBytes record, int flag, int value) { WriteFlag(record, flag, value); }

int GetGroupFlag(ConstRecordBytes record, int flag) {
  if (ClassPathOf(record).size() != 8) return 0;
  return ReadFlag(record, flag);
}

void SetGroupFlag(RecordBytes record, int flag, int value) { WriteFlag(record, flag, value); }

int GetGroupFlag_by_flag(int word, int flag) {
  if (flag < 0) return 0;
  return (word >> (flag % 16)) & 1;
}

int IsPlacementManagerOn(ConstRecordBytes record) {
  return GetClassFlag(record, kClassFlagPlacementManager);
}
int IsStudyPathManagerOn(ConstRecordBytes record) {
  return GetClassFlag(record, kClassFlagStudyPathManager);
}
int IsPathManagerOn(ConstRecordBytes record) {
  return IsPlacementManagerOn(record) || IsStudyPathManagerOn(record) ||
                 GetClassFlag(record, kClassFlagPathManager10)
             ? 1
             : 0;
}

std::array<int, kGroupRightCount> GetGroupAdminRights(RecordBytes group) {
  if (!Connected()) return {};
  return ReadRights(group);
}

void SetGroupAdminRights(RecordBytes group, const std::array<int, kGroupRightCount>& rights) {
  SetGroupFlag(group, kGroupFlagNewRights, 1);
  for (int right = 0; right <= 6; ++right) SetGroupFlag(group, 4 + right, rights[right] != 0);
  SetWord(group, 100, rights[7]);
  SetGroupFlag(group, 12, rights[8] != 0);
}

int GetSingleGroupAdminRight(RecordBytes group, int n) {
  if (n < 4 || n > 12) return 0;
  return GetGroupAdminRights(group)[static_cast<std::size_t>(n - 4)];
}

void SetSingleGroupAdminRight(RecordBytes group, int n, int value) {
  if (n < 4 || n > 12) return;
  std::array<int, kGroupRightCount> rights = ReadRights(group);
  rights[static_cast<std::size_t>(n - 4)] = value;
  SetGroupAdminRights(group, rights);
}

int GroupMayInstall(RecordBytes group) {
  return GetSingleGroupAdminRight(group, kInstallRight) != 0 ? 1 : 0;
}

int IsGroupCoachingEnabled(ConstRecordBytes record) {
  return GetGroupFlag(record, kGroupFlagCoaching);
}
// Every kernel this program runs on is a supported system for automatic updates.
int IsGroupAutoUpdate(ConstRecordBytes record) {
  return GetGroupFlag(record, kGroupFlagAutoUpdate);
}
int GroupAllowsPTOffline(ConstRecordBytes record) {
  return GetGroupFlag(record, kGroupFlagPTOffline);
}
int IsUserEntitledToCreateGroups(ConstRecordBytes record) {
  return GetGroupFlag(record, kGroupFlagCreateGroups);
}
int GroupAllowsHomeStudy(ConstRecordBytes record) {
  return GetGroupFlag(record, kGroupFlagHomeStudy);
}

int GetTheGroupCountryNumber(ConstRecordBytes record) {
  return Word(record, kGroupCountry) & 0x3FF;
}
void SetTheGroupCountryNumber(RecordBytes record, int country) {
  SetWord(record, kGroupCountry, (Word(record, kGroupCountry) & ~0x3FF) | (country & 0x3FF));
}
int GetTheGroupType(ConstRecordBytes record) { return (Word(record, kGroupCountry) >> 10) & 0x3F; }
void SetTheGroupType(RecordBytes record, int type) {
  SetWord(record, kGroupCountry, (Word(record, kGroupCountry) & 0x3FF) | (type & 0x3F) << 10);
}

// ---- States ------------------------------------------------------------------------------------

int IsClassAGroup(ConstRecordBytes record) { return ClassTypeOf(record) == kGroupType; }
int IsClassDeleted(ConstRecordBytes record) { return ClassTypeOf(record) > kDeletedTypeAbove; }

int IsClassATechClass(ConstRecordBytes record) {
  std::string teacher = FieldText(record, kClassTeacher, kClassTextWidth);
  std::transform(teacher.begin(), teacher.end(), teacher.begin(),
                 [](char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch; });
  return teacher == "tech class";
}

int IsClassDisabled(ConstRecordBytes record) { return GetClassFlag(record, kClassFlagDisabled); }

int IsClassExpired(ConstRecordBytes record, int tell) {
  if (!Connected()) return 0;
  const int date = Word(record, kClassExpiry);
  if (date <= 10000 || date == kClassNeverExpires || date >= Today()) return 0;
  WriteLogf(1, "Class %s expired (%s)", ClassPathOf(record).c_str(),
            text::Get_Date_String(date).c_str());
  if (tell) Tell("MSG_ClassExpired");
  return 1;
}

int IsGroupExpired(ConstRecordBytes record, int tell) {
  if (!Connected()) return 0;
  const int date = Word(record, kGroupExpiry);
  if (date < text::kDateNoneBelow || date >= Today()) return 0;
  WriteLogf(1, "Group %s expired (%s)", ClassPathOf(record).c_str(),
            text::Get_Date_String(date).c_str());
  if (tell) Tell("MSG_GroupExpired");
  return 1;
}

int IsGroupDisabled(RecordBytes group, int tell) {
  if (!Connected() || GetGroupAdminRights(group)[kGroupRightEnabled] != 0) return 0;
  WriteLogf(1, "Group %s has been disabled", ClassPathOf(group).c_str());
  if (tell) Tell("MSG_Message_GroupHasBeenDisabled");
  return 1;
}

int GetGroupIndex(int group_number) {
  for (int slot = 0; slot < C().first_unused_slot; ++slot) {
    const RecordBytes record = ClassSlot(slot);
    if (IsClassAGroup(record) && GroupNumberOf(record) == group_number) return slot;
  }
  return -1;
}

int GetClassIndex(std::string_view class_path) {
  for (int slot = 0; slot < C().first_unused_slot; ++slot) {
    if (ClassPathOf(ClassSlot(slot)) == class_path) return slot;
  }
  return -1;
}

std::string GetTheClassCountryLanguage(ConstRecordBytes record) {
  if (IsClassAGroup(record)) {
    const std::string own = CountryLanguage(GetTheGroupCountryNumber(record));
    return own.empty() ? "ENG" : own;
  }
  if (RS().rs_server_number == 5) return "ENG";
  const int group = GetGroupIndex(GroupNumberOf(record));
  if (group >= 0) return GetTheClassCountryLanguage(ClassSlot(group));
  if (IsRecordsServerIsInChina() && !Utf8Requested()) return "MAS";
  const std::string country = CountryLanguage(Word(record, kClassCountry));
  return country.empty() ? "ENG" : country;
}

std::string LanguageOfClassPath(std::string_view class_path) {
  const int slot = GetClassIndex(class_path);
  if (slot >= 0) return GetTheClassCountryLanguage(ClassSlot(slot));
  if (C().login_group_index >= 0)
    return GetTheClassCountryLanguage(ClassSlot(C().login_group_index));
  const int row = Get_the_country_index_letters(RecordsSession().loginCountry);
  if (row >= 0) {
    const std::string language = Countries()[static_cast<std::size_t>(row)].language;
    if (IsLanguageOfClassTexts(language)) return language;
  }
  return "ENG";
}

// ---- Settings and new records ------------------------------------------------------------------

void Check_Class_Settings(RecordBytes record) {
  if (IsClassAGroup(record)) {
    Check_Group_Settings(record);
    return;
  }
  Repair(record, 98, 0, 100, 7);
  Repair(record, 100, 0, 1, 1);
  Repair(record, 102, 0, 1, 1);
  Repair(record, 104, 0, 1, 0);
  Repair(record, 106, 0, 100, 80);
  Repair(record, 108, 0, 1, 0);
  Repair(record, 110, 0, 1, 0);
  Repair(record, 114, 0, 1, 0);
  Repair(record, 116, 1, 200, 100);
  Repair(record, kClassPathManagerWord, 0, 1, 0);
  Repair(record, kClassExpiry, 1, kClassNeverExpires, kClassNeverExpires);
  if (IsPathManagerOn(record)) {
    SetWord(record, kClassPathManagerWord, 1);
    SetWord(record, 100, 1);
  }
}

void Check_Group_Settings(RecordBytes record) {
  SetWord(record, kClassType, kGroupType);
  Repair(record, 100, 0, 1, 1);
  Repair(record, 104, 0, 1, 1);
  Repair(record, 106, 0, 1, 0);
  Repair(record, 108, -365, 15, 15);
  Repair(record, 110, -1000, 12, 12);
  Repair(record, kGroupExpiry, 10000, 32000, 0);
  if (RecordsSession().ServerProtocolVersion < 2) {
    Repair(record, 102, 0, 5000, 1);
    Repair(record, kGroupNumber, 0, 5000, 1);
  }
}

void Set_Class_Defaults(RecordBytes record, int type) {
  std::fill(record.begin(), record.end(), 0);
  SetFieldText(record, kClassName, kClassTextWidth, "-- Class Name --");
  SetFieldText(record, kClassTeacher, kClassTextWidth, "-- Teacher Name --");
  SetFieldText(record, kClassPath, kClassPathWidth, NewStudentKey());
  SetWord(record, kClassType, type);
  if (type < 0 && type != kGroupType) return;
  SetWord(record, 100, 1);
  SetWord(record, 102, 1);
  for (std::size_t offset : {98, 104, 108, 110, 114}) SetWord(record, offset, 0);
  SetWord(record, 106, 80);
  SetWord(record, 116, 100);
  SetWord(record, kClassPathManagerWord, 0);
  SetWord(record, kClassExpiry, kClassNeverExpires);
  SetClassFlag(record, kClassFlagNew, 0);
  SetClassFlag(record, kClassFlagPasswordsScrambled, 0);
  const bool managers = C().new_classes_use_path_managers;
  SetClassFlag(record, kClassFlagPlacementManager, managers);
  SetClassFlag(record, kClassFlagStudyPathManager, managers);
  SetClassFlag(record, kClassFlagPathManager10, 0);
  if (managers) {
    SetWord(record, kClassPathManagerWord, 1);
    SetWord(record, 104, 1);
    SetWord(record, 106, 80);
    SetWord(record, 98, 7);
  }
}

void Set_Group_Defaults(RecordBytes record) {
  std::fill(record.begin(), record.end(), 0);
  SetFieldText(record, kClassTeacher, kClassTextWidth, "-- Group Login ID --");
  SetFieldText(record, kClassName, kClassTextWidth, "-- Group Name --");
  SetFieldText(record, kClassPath, kClassPathWidth, NewStudentKey());
  SetWord(record, kClassType, kGroupType);
  SetWord(record, 100, 1);
  SetWord(record, 102, -1);
  SetWord(record, 106, 0);
  SetWord(record, 108, 3);
  SetWord(record, 110, 4);
  SetWord(record, kGroupNumber, -1);
  SetWord(record, kGroupExpiry, 0);
  SetGroupFlag(record, kGroupFlagNewRights, 1);
}

// ---- The server --------------------------------------------------------------------------------

bool ParseClassPage(std::string_view reply, int asked_index, ClassPage& page) {
  page = ClassPage{};
  if (!ReadDigits(reply, 10, 8, page.count) || !ReadDigits(reply, 39, 4, page.recordSize) ||
      !ReadDigits(reply, 44, 4, page.nextIndex)) {
    return false;
  }
  if (page.recordSize != static_cast<int>(kClassRecordSize) || page.count < 0) return false;
  if (reply.size() < kClassPageHeaderSize) return false;
  const std::size_t room = (reply.size() - kClassPageHeaderSize) / kClassRecordSize;
  if (static_cast<std::size_t>(page.count) > room) return false;
  if (page.count > 0 && (page.nextIndex <= asked_index || page.nextIndex > kMaxPageIndex)) {
    return false;
  }
  page.records =
      reply.substr(kClassPageHeaderSize, static_cast<std::size_t>(page.count) * kClassRecordSize);
  return true;
}

int TakeClassPage(const ClassPage& page) {
  const std::size_t count = std::min(static_cast<std::size_t>(std::max(page.count, 0)),
                                     page.records.size() / kClassRecordSize);
  int kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::array<unsigned char, kClassRecordSize> record;
    std::memcpy(record.data(), page.records.data() + i * kClassRecordSize, kClassRecordSize);
    ReceiveRecord(record, "Text from CLSB not UTF-8 as requested.");
    kept += TakeRecord(record) ? 1 : 0;
  }
  return kept;
}

int TCPLoad_classes(int mode) {
  ClassesState& c = C();
  Session& session = RecordsSession();
  StatusStrip strip;
  ui::TCPStatusBoxUpdate("Loading classes", "Number of Classes Available", "");
  const char letter = mode == kGroupType ? '-' : 'P';
  if (letter != c.listLetter) c.lastTimeStamp.clear();

  std::string parameter = std::string("_") + letter;
  if (session.saved_send_cmd == "CLSN") parameter += c.lastTimeStamp;
  std::string reply, stamp;
  int announced = 0;
  const int sent = SendCommandToServer("CLSN", parameter, reply, &stamp);
  if (Quitting()) return -1;
  if (sent != 0 || !ReadDigits(reply, 10, 8, announced) || announced < 0) {
    ShowError("Error returned from CLSN");
    base::SetQuitFlag("Classes", __LINE__, "CLSN failed");
    return -1;
  }
  WriteLogf(3, "CLSN: %d records, changed %s", announced, stamp.c_str());

  if (!stamp.empty() && stamp == c.lastTimeStamp && letter == c.listLetter &&
      c.first_unused_slot > 0) {
    WriteLogf(3, "CLSN: the class list has not changed since %s", stamp.c_str());
    ListClasses(mode);
    return c.NumClasses;
  }

  ui::TCPStatusBoxUpdate("Loading classes", "Getting classes from server.", "");
  bool complete = true;
  int index = 0, taken = 0;
  std::string page_reply;
  while (taken < announced) {
    ClassPage page;
    if (!FetchPage(index, letter, index == 0 ? 1 : 2, page_reply, page)) {
      if (Quitting()) return -1;
      ShowError("CLSB: Error reading Classes from server.");
      complete = false;
      break;
    }
    if (page.count == 0) break;
    ui::TCPStatusBoxUpdate("Loading classes", "Assigning Classes", "");
    TakeClassPage(page);
    taken += page.count;
    index = page.nextIndex;
  }
  ListClasses(mode);
  if (complete) {
    c.lastTimeStamp = stamp;
    c.listLetter = letter;
  }
  WriteLogf(3, "TCPLoad_classes(%d): %d listed of %d in the table", mode, c.NumClasses,
            c.first_unused_slot);
  return c.NumClasses;
}

int Load_classes(int mode) {
  if (Quitting()) return -1;
  if (!Connected()) return 0;
  return TCPLoad_classes(mode);
}

int TCPGet_Class_Info(std::string_view class_path, RecordBytes record) {
  std::string reply;
  if (record.size() < kClassRecordSize || SendCommandToServer("CLSS", class_path, reply) != 0 ||
      reply.size() < kClassInfoHeaderSize + kClassRecordSize) {
    if (!Quitting()) ShowError("Error returned from CLSS");
    return -1;
  }
  std::copy_n(reinterpret_cast<const unsigned char*>(reply.data()) + kClassInfoHeaderSize,
              kClassRecordSize, record.begin());
  ReceiveRecord(record.first(kClassRecordSize), "Text from CLSS not UTF-8 as requested.");
  return 0;
}

int TCPGet_Class_Size(std::string_view class_path) {
  std::string reply;
  int students = 0;
  if (SendCommandToServer("STDN", class_path, reply) != 0 || !ReadDigits(reply, 10, 8, students) ||
      students < 0) {
    WriteLogf(1, "STDN %s failed", std::string(class_path).c_str());
    return -1;
  }
  return students;
}

int TCPSave_A_Class(RecordBytes record, std::string_view previous) {
  if (record.size() < kClassRecordSize) return -1;
  StatusStrip strip;
  ui::TCPStatusBoxUpdate("", "Write Class Info", "");
  const std::string path = ClassPathOf(record);
  const std::string parameter =
      path + "+" + (previous.empty() ? std::string("--------") : std::string(previous));
  if (RS().rs_server_number == 6 && IsClassAGroup(record)) Check_Group_Settings(record);

  std::array<unsigned char, kClassRecordSize> wire;
  std::copy_n(record.begin(), kClassRecordSize, wire.begin());
  const std::string language = GetTheClassCountryLanguage(record);
  for (std::size_t offset : {kClassName, kClassTeacher}) {
    const std::string text = FieldText(wire, offset, kClassTextWidth);
    if (!text::IsAValidUTF8UnicodeString(text)) WriteLogf(1, "Text to CLSW not UTF-8.");
    SetFieldText(wire, offset, kClassTextWidth,
                 TextToServer(text, language, Utf8Requested(), kClassTextWidth));
  }
  // The protected text keeps at most 49 characters.
  SetFieldText(wire, kClassProtectedText, 50, FieldText(wire, kClassProtectedText, 50));
  EncryptClassPassword(wire, 1, PasswordLevel());
  ConvertClass(wire, RecordsSession().ServerIsBigEndian != 0);

  std::string reply;
  const std::string data(wire.begin(), wire.end());
  if (SendDataToServer("CLSW", parameter, data, reply) != 0) {
    if (!Quitting()) ShowError("Error returned from CLSW");
    return -1;
  }
  int count = 0;
  ReadDigits(reply, 10, 8, count);
  if (record.size() >= kSlotCopyStampOffset + 4 && Long(record, kSlotCopyStampOffset) != 0 &&
      reply.size() >= 38) {
    SetFieldText(record, kSlotTimestampOffset, kSlotTimestampWidth, reply.substr(19, 19));
  }
  if (previous == "NEWCLASS" && reply.size() >= 47) {
    const std::string named = reply.substr(39, 8);
    if (std::all_of(named.begin(), named.end(), [](char ch) {
          return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
        })) {
      SetFieldText(record, kClassPath, kClassPathWidth, named);
    } else {
      WriteLogf(1, "CLSW: the path the server named for the new class is not a key");
    }
  }
  WriteLogf(3, "CLSW %s saved", ClassPathOf(record).c_str());
  return count;
}

}  // namespace nuvel::records
