// Classes and groups of the Records server: the class table, the 700-byte class record, its
// flags, a group's administrator rights, expiry and the disabled states, settings repair, new
// records, and the commands that read and write classes (CLSN, CLSB, CLSS, STDN, CLSW).
//
// The class table (Classes().ClassData) has kMaxClasses slots of kClassSlotSize bytes. A slot
// starts with the class record the server sends and receives (kClassRecordSize bytes); working
// data of this application follows: a 16-bit marker at kSlotLoadedOffset (1 for a record read
// from the server), the class's last-change timestamp at kSlotTimestampOffset and a 32-bit word
// at kSlotCopyStampOffset that makes a save keep the server's timestamp. Slots 0 to
// first_unused_slot - 1 are in use; OrderClass lists NumClasses of them in display order.
//
// The class record (groups use the same layout; the type word tells them apart):
//   0 name (41)   41 teacher, or a group's login id (41)   82 class path, the 8-character key (9)
//   94 type: kGroupType a group, other negatives records of the server's own, above
//      kDeletedTypeAbove deleted, else the class number
//   98-116 settings (16-bit each)   112 flags 0-15   118, 158 password fields (40 each)
//   198 protected text (50)   248 group expiry   252 group number   254 a class setting
//   256 class expiry, in a group flags 32-47   258 class country   266 group flags 16-31
//   270 group country (low 10 bits) and group type (high 6 bits)
// Numbers are held least significant byte first (records/record_fields.h); ConvertClass turns
// a big-endian server's records around. Texts are UTF-8 in memory: a server that was not asked
// for UTF-8 sends them in the code page of the class's language (GetTheClassCountryLanguage).
//
// Flags. Flag n is bit n of the word at 112 (n < 16), bit n - 16 of the word at 266 (16 to 31)
// or bit n - 32 of the word at 256 (32 and above). Class flags: 1 the password fields are
// scrambled, 6 disabled, 7 the Placement Manager, 8 the Study Path Manager; 2 and 10 always
// read 0. Group flags read 0 unless the class path has exactly 8 characters: 1 home study,
// 3 rights in the new form, 4-10 administrator rights 0-6, 12 right 8, 22 coaching, 25 automatic
// update, 26 off-line placement test, 27 may create groups.
//
// Administrator rights of a group: nine values. New form (flag 3): rights 0-6 flags 4-10,
// right 7 the word at 100, right 8 flag 12. The older form (rights 0-2 the word at 106, 3-6
// flag 32, 7 the word at 100, 8 the word at 104) is read once and rewritten in the new form.
// GetSingleGroupAdminRight(group, n) addresses right n - 4 (n 4 to 12). Right 7 (n = 11) keeps
// the group enabled; it is also the right the Setup application needs to install courses
// (GroupMayInstall). Rights, expiry and the disabled states count only while connected.
//
// Decisions of this implementation (where the protocol leaves room or would be unsafe):
//  - A CLSB reply is checked before a record is taken: its count, record size and next index
//    must be digits, the size exactly kClassRecordSize, the records must all lie within the
//    bytes received, and the next index must move forward (at most kMaxPageIndex). A reply that
//    fails is treated as a failed CLSB (sent once more, then given up).
//  - The table never grows past kMaxClasses slots: further new records are dropped (logged).
//  - Texts from the server are always valid UTF-8 after loading: bytes that are not are
//    replaced by "?" after logging "Text from CLSB not UTF-8 as requested." (or CLSS).
//  - The login group is the group number given to SetLoginGroupNumber (the driver passes what
//    ConnectToServer returned); without one, that of the logged-in student's class, else the
//    first group the server lists.
//  - "Today" is the Records server's date (TCPFindServerTime), the local date when it has none.
//  - A group's settings count as those of an older server when its protocol level is below 2.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/record_fields.h"

namespace nuvel::records {

inline constexpr int kMaxClasses = 800;
inline constexpr std::size_t kClassSlotSize = 4732;
inline constexpr std::size_t kClassRecordSize = 700;
/// Bytes before the first record of a CLSB reply, and before the record of a CLSS reply.
inline constexpr std::size_t kClassPageHeaderSize = 50;
inline constexpr std::size_t kClassInfoHeaderSize = 40;
/// CLSB asks for the next index with four digits.
inline constexpr int kMaxPageIndex = 9999;

inline constexpr int kGroupType = -998;
inline constexpr int kDeletedTypeAbove = 10000;
/// The packed date 1 January 2040: a class that never expires.
inline constexpr int kClassNeverExpires = 30753;

// Offsets of the class record.
inline constexpr std::size_t kClassName = 0;
inline constexpr std::size_t kClassTeacher = 41;
inline constexpr std::size_t kClassTextWidth = 41;
inline constexpr std::size_t kClassPath = 82;
inline constexpr std::size_t kClassPathWidth = 9;
inline constexpr std::size_t kClassType = 94;
inline constexpr std::size_t kClassFlags = 112;
inline constexpr std::size_t kClassProtectedText = 198;
inline constexpr std::size_t kGroupExpiry = 248;
inline constexpr std::size_t kGroupNumber = 252;
inline constexpr std::size_t kClassPathManagerWord = 254;
inline constexpr std::size_t kClassExpiry = 256;
inline constexpr std::size_t kClassCountry = 258;
inline constexpr std::size_t kGroupFlags16 = 266;
inline constexpr std::size_t kGroupCountry = 270;
// Working data of a slot.
inline constexpr std::size_t kSlotLoadedOffset = 702;
inline constexpr std::size_t kSlotTimestampOffset = 710;
inline constexpr std::size_t kSlotTimestampWidth = 20;
inline constexpr std::size_t kSlotCopyStampOffset = 732;

// Class flags.
inline constexpr int kClassFlagNew = 0;
inline constexpr int kClassFlagPasswordsScrambled = 1;
inline constexpr int kClassFlagDisabled = 6;
inline constexpr int kClassFlagPlacementManager = 7;
inline constexpr int kClassFlagStudyPathManager = 8;
inline constexpr int kClassFlagPathManager10 = 10;
// Group flags.
inline constexpr int kGroupFlagHomeStudy = 1;
inline constexpr int kGroupFlagNewRights = 3;
inline constexpr int kGroupFlagCoaching = 22;
inline constexpr int kGroupFlagAutoUpdate = 25;
inline constexpr int kGroupFlagPTOffline = 26;
inline constexpr int kGroupFlagCreateGroups = 27;
/// Administrator rights of a group, and the right that keeps it enabled (and lets it install).
inline constexpr int kGroupRightCount = 9;
inline constexpr int kGroupRightEnabled = 7;
/// GetSingleGroupAdminRight's number of the install right: right 11 - 4 = 7.
inline constexpr int kInstallRight = 11;

/// The class table and the state of class loading (module-global, one instance).
struct ClassesState {
  std::vector<unsigned char> ClassData;  // kMaxClasses * kClassSlotSize bytes once used
  int NumClasses = 0;                    // entries of OrderClass
  std::array<int, kMaxClasses> OrderClass{};
  int first_unused_slot = 0;
  int login_group_number = 0;           // 0: not given (see the header)
  int original_login_group_number = 0;  // the first login group of the run
  int login_group_index = -1;           // slot of the login group, -1 when not loaded
  int original_login_group_index = -1;
  char listLetter = 0;                         // "P" or "-" of the list the timestamp belongs to
  std::string lastTimeStamp;                   // of the last complete load
  bool new_classes_use_path_managers = false;  // the program mode of Set_Class_Defaults
  bool tableFullLogged = false;

  void reset();
};

/// The one instance; registered with platform::ResetRunState on first use.
ClassesState& Classes();

/// Slot `slot` of the table (kClassSlotSize bytes); empty for a number outside 0..799.
RecordBytes ClassSlot(int slot);

/// Clears all 800 slots and the lists.
void ZeroAllClasses();

/// The login group's number (ConnectToServer's result); the first one given is also kept as
/// the original login group.
void SetLoginGroupNumber(int group_number);

// ---- Byte order ----------------------------------------------------------------------------

/// Swaps the 16-bit words of a class record at 92 to 116, 248, 250, 252, 256, 258, 260 and 262
/// to 272 when `big_endian`; nothing else is touched. False, with nothing changed, for a record
/// shorter than kClassRecordSize.
bool ConvertClass(RecordBytes record, bool big_endian);

// ---- Fields, flags and rights --------------------------------------------------------------

std::string ClassPathOf(ConstRecordBytes record);
std::string ClassNameOf(ConstRecordBytes record);
int ClassTypeOf(ConstRecordBytes record);
int GroupNumberOf(ConstRecordBytes record);

int GetClassFlag(ConstRecordBytes record, int flag);
void SetClassFlag(RecordBytes record, int flag, int value);
/// 0 unless the record's class path has exactly 8 characters.
int GetGroupFlag(ConstRecordBytes record, int flag);
void SetGroupFlag(RecordBytes record, int flag, int value);
/// Flag `flag` tested in a word the caller selected (bit flag mod 16).
int GetGroupFlag_by_flag(int word, int flag);

int IsPlacementManagerOn(ConstRecordBytes record);
int IsStudyPathManagerOn(ConstRecordBytes record);
int IsPathManagerOn(ConstRecordBytes record);

/// The nine rights; all 0 while not connected. A record in the older form is rewritten in the
/// new form (SetGroupAdminRights).
std::array<int, kGroupRightCount> GetGroupAdminRights(RecordBytes group);
void SetGroupAdminRights(RecordBytes group, const std::array<int, kGroupRightCount>& rights);
/// Right n - 4 for n from 4 to 12; 0 for any other n.
int GetSingleGroupAdminRight(RecordBytes group, int n);
void SetSingleGroupAdminRight(RecordBytes group, int n, int value);
/// 1 when the group may install courses (GetSingleGroupAdminRight(group, kInstallRight)).
int GroupMayInstall(RecordBytes group);

int IsGroupCoachingEnabled(ConstRecordBytes record);
int IsGroupAutoUpdate(ConstRecordBytes record);
int GroupAllowsPTOffline(ConstRecordBytes record);
int IsUserEntitledToCreateGroups(ConstRecordBytes record);
int GroupAllowsHomeStudy(ConstRecordBytes record);

int GetTheGroupCountryNumber(ConstRecordBytes record);
void SetTheGroupCountryNumber(RecordBytes record, int country);
int GetTheGroupType(ConstRecordBytes record);
void SetTheGroupType(RecordBytes record, int type);

// ---- States --------------------------------------------------------------------------------

int IsClassAGroup(ConstRecordBytes record);
int IsClassDeleted(ConstRecordBytes record);
int IsClassATechClass(ConstRecordBytes record);
int IsClassDisabled(ConstRecordBytes record);
/// Expired: the date at 256 is above 10,000, not kClassNeverExpires, and before today. With
/// `tell`, "MSG_ClassExpired" is shown. 0 while not connected.
int IsClassExpired(ConstRecordBytes record, int tell);
/// Expired: the date at 248 is at least 10,001 and before today ("MSG_GroupExpired").
int IsGroupExpired(ConstRecordBytes record, int tell);
/// Disabled: right 7 is 0 ("MSG_Message_GroupHasBeenDisabled"). 0 while not connected.
int IsGroupDisabled(RecordBytes group, int tell);

/// The slot of the group with this number among the used slots; -1 when none.
int GetGroupIndex(int group_number);
/// The slot of the class (or group) with this class path among the used slots; -1 when none.
int GetClassIndex(std::string_view class_path);
/// The three-letter language whose code page the record's texts use on a server not asked
/// for UTF-8.
std::string GetTheClassCountryLanguage(ConstRecordBytes record);
/// The language of the texts of a class's students: the class's when it is loaded, else the
/// login group's, else that of the login's country, else "ENG".
std::string LanguageOfClassPath(std::string_view class_path);

// ---- Settings and new records --------------------------------------------------------------

/// Repairs out-of-range settings to their defaults (a group goes to Check_Group_Settings).
void Check_Class_Settings(RecordBytes record);
void Check_Group_Settings(RecordBytes record);
/// A new class (or record of type `type`) in a whole slot (kClassSlotSize bytes).
void Set_Class_Defaults(RecordBytes record, int type);
void Set_Group_Defaults(RecordBytes record);

// ---- The server ----------------------------------------------------------------------------

/// What a CLSB reply says about itself.
struct ClassPage {
  int count = 0;             // records in this reply
  int recordSize = 0;        // bytes per record
  int nextIndex = 0;         // the index to ask for next
  std::string_view records;  // count * recordSize bytes from offset 50
};

/// Reads a CLSB reply asked for at `asked_index`. False when a field is not digits, the record
/// size is not kClassRecordSize, the count is negative or names more records than the reply
/// holds, or, with records, the next index does not lie above `asked_index` or exceeds
/// kMaxPageIndex.
bool ParseClassPage(std::string_view reply, int asked_index, ClassPage& page);

/// Puts the records of a page ParseClassPage accepted into the table, each converted as received
/// (byte order, password fields, texts in UTF-8): into the slot of the same class path and sign
/// of type, else into the first unused slot. Returns the records kept; new records that find
/// the table's kMaxClasses slots taken are dropped.
int TakeClassPage(const ClassPage& page);

/// Loads the classes of the server (CLSN, then CLSB pages unless the list's timestamp is the
/// cached one) and lists those `mode` selects in OrderClass: -1 and above every record of the
/// login group, -2 its plain classes, kGroupType the groups, another negative mode the records
/// of that type. Returns NumClasses; -1 when CLSN failed (the run ends) or the run is quitting.
int TCPLoad_classes(int mode);
/// TCPLoad_classes while connected: 0 when not connected, -1 when the run is quitting.
int Load_classes(int mode);

/// "CLSS": the class's record (kClassRecordSize bytes written to the start of `record`),
/// converted and unscrambled. 0, or -1 after "Error returned from CLSS".
int TCPGet_Class_Info(std::string_view class_path, RecordBytes record);
/// "STDN": the number of students in the class; -1 on failure.
int TCPGet_Class_Size(std::string_view class_path);
/// "CLSW": writes a class (a whole slot). `previous` is the class's previous path, "" for none
/// or "NEWCLASS" for a new class, whose path the server names. The count of the reply, or -1
/// after "Error returned from CLSW".
int TCPSave_A_Class(RecordBytes record, std::string_view previous);

}  // namespace nuvel::records
