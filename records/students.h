// Students of the Records server: the 552-byte student record, its byte order and password,
// the predicates the Setup driver applies after a login, the commands that read one student
// (STDS) or a whole class (STDN, STDA), the student-number generator, and the in-use marker of a
// student's data folder.
//
// The student record (numbers least significant byte first in memory, see record_fields.h):
//   0 key (9)   9 name (41)   50 year   52 month (1)   53 day (1)   54 time limit (32 bits)
//   58 lock   60 password (80)   140 in-use word, above 10,000 deleted   142, 143 last module
//   and lesson (1 each)   144 flags   148 expiry   368 last session date   374, 376 settings
//   384 a 32-bit word   388 e-mail (50)   438 forced material (50)   488 study scores (50)
//   540 begin date   542 certification level of the last run   544 initial certification
// A student in memory is a block of kStudentBlockSize bytes whose first kStudentRecordSize are
// the record; working values of this application follow it (kStudentActivityWord and
// kStudentLoginMarker).
//
// Student flags: bit n of the word at 144. Flag 3 (value 8) disabled, flag 4 (value 16) may
// study at home.
//
// Decisions of this implementation:
//  - The password's form follows the server: the server form while the installation is on
//    line with a server of protocol level 2 or more, the 80-byte block form otherwise (an older
//    server sends its students' passwords that way even on line). A password that fails to
//    decode becomes kDefaultStudentPassword.
//  - A reply shorter than its records is refused: STDS needs 40 + 552 bytes, STDA 40 + 552 for
//    every student its count names (the count is checked against the bytes received).
//  - Names and e-mail addresses are converted to UTF-8 (and kept valid UTF-8, like class texts)
//    in the code page of the class's language when the server was not asked for UTF-8.
//  - The in-use marker "local.USE" is not held open: on this system an open file keeps nobody
//    from deleting it, so the marker is the file's presence.
//  - Student keys come from a random generator: a letter, then seven letters or digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "records/record_fields.h"

namespace nuvel::records {

inline constexpr std::size_t kStudentRecordSize = 552;
inline constexpr std::size_t kStudentBlockSize = 64444;
/// Bytes before the record of an STDS reply and before the records of an STDA reply.
inline constexpr std::size_t kStudentReplyHeaderSize = 40;
/// A class list stops after this many students.
inline constexpr int kMaxStudentsRead = 999;
/// The password a student record gets when its own cannot be read.
inline constexpr std::string_view kDefaultStudentPassword = "NO_PASSWORD";

// Offsets of the student record.
inline constexpr std::size_t kStudentKey = 0;
inline constexpr std::size_t kStudentKeyWidth = 9;
inline constexpr std::size_t kStudentName = 9;
inline constexpr std::size_t kStudentNameWidth = 41;
inline constexpr std::size_t kStudentPassword = 60;
inline constexpr std::size_t kStudentPasswordWidth = 80;
inline constexpr std::size_t kStudentInUse = 140;
inline constexpr std::size_t kStudentFlags = 144;
inline constexpr std::size_t kStudentExpiry = 148;
inline constexpr std::size_t kStudentLastSession = 368;
inline constexpr std::size_t kStudentSetting374 = 374;
inline constexpr std::size_t kStudentSetting376 = 376;
inline constexpr std::size_t kStudentEmail = 388;
inline constexpr std::size_t kStudentEmailWidth = 50;
inline constexpr std::size_t kStudentStudyScores = 488;
inline constexpr std::size_t kStudentSettingsWidth = 50;
inline constexpr std::size_t kStudentBeginDate = 540;
inline constexpr std::size_t kStudentCertLastRun = 542;
inline constexpr std::size_t kStudentCertInitial = 544;
// Working values after the record.
inline constexpr std::size_t kStudentActivityWord = 552;  // -1: activity is to be checked
inline constexpr std::size_t kStudentLoginMarker = 554;   // 1 for the record read at login

inline constexpr int kStudentFlagDisabled = 3;
inline constexpr int kStudentFlagHomeStudy = 4;

using StudentBlock = std::vector<unsigned char>;

/// The students of this module (module-global, one instance).
struct StudentsState {
  StudentBlock Student;                // the current student; never freed by FreeStudent
  std::vector<StudentBlock> students;  // the class list TCPRead_class read
  std::vector<int> OrderStudent;       // indices into `students` in display order
  std::string studentTimeStamp;        // of the last STDS reply
  std::string rawStudent;              // the last STDS record as received
  std::string inUseFile;               // the in-use marker made by InUseFileOpen, or ""
  std::mt19937 keys{std::random_device{}()};

  void reset();
};

/// The one instance; registered with platform::ResetRunState on first use.
StudentsState& Students();

/// A zeroed student block.
StudentBlock NewStudent();

// ---- Byte order and password ---------------------------------------------------------------

/// Mode 1: the record as received (the server's byte order when `big_endian`) becomes this
/// program's, and its password clear text; mode 2 the reverse, for sending; mode 3 only the byte
/// order. 1 on success; 0, with nothing changed, for a record shorter than kStudentRecordSize or
/// another mode.
int ConvertStudent(int mode, RecordBytes record, bool big_endian);

std::int16_t sIntel2Moto(std::int16_t value);
std::uint16_t usIntel2Moto(std::uint16_t value);
std::int32_t lIntel2Moto(std::int32_t value);

// ---- Predicates ----------------------------------------------------------------------------

int GetStudentFlag(ConstRecordBytes record, int flag);
void SetStudentFlag(RecordBytes record, int flag, int value);
/// Merges the student's flag into `value` for an edit of several students: -99 takes the flag,
/// a different flag gives 2 (mixed).
int GetStudentEditValue(ConstRecordBytes record, int value, int flag);

int IsStudentDeleted(ConstRecordBytes record);
/// Disabled: the flags word holds the value 8.
int IsStudentDisabled(ConstRecordBytes record);
/// May study at home: flag 4.
int IsStudentAllowedHomeStudy(ConstRecordBytes record);
/// Expired: the date at 148 is not 30,753, at least 10,001 and before today
/// ("MSG_StudentExpired"). 0 while not connected.
int IsStudentExpired(ConstRecordBytes record, int tell);
/// Invalid: the begin date is negative or above 30,753, or a real date still in the future
/// ("MSG_StudentNotBeginYet").
int IsStudentBeginDateInvalid(ConstRecordBytes record, int tell);
/// 0 for a model student, and for a student (a whole block) whose activity is checked and whose
/// last session lies more than 30 days back; otherwise 1.
int IsStudentActive(ConstRecordBytes student);
int IsStudentAModelStudent(ConstRecordBytes record);
int IsStudentATechStudent(ConstRecordBytes record);
int IsStudentATargetStudent(ConstRecordBytes record);

void SetInitialCertificationLevel(RecordBytes record, int level);
int GetInitialCertificationLevel(ConstRecordBytes record);
void SetCertLevelLastRun(RecordBytes record, int level);

/// The settings at 376 (0..40) and 374 (0..70): an out-of-range value is byte-swapped, and set
/// to 0 when still out of range.
void Check_Student_Settings(RecordBytes record);

/// 0 for a key of 8 characters whose first is a letter; otherwise -1 after raising the log level
/// to 5 and logging "ERROR CheckStudentSerial: <key> <caller>" ("NULL" for no key).
int CheckStudentSerial(const char* key, const char* caller);

/// A fresh key: a letter, then seven letters or digits.
std::string NewStudentKey();

// ---- The server ----------------------------------------------------------------------------

/// "STDS": the student's record into the first kStudentRecordSize bytes of `student` (a whole
/// block), converted (mode 1). Fields that changed since the last fetch of the same student are
/// logged after "STDS-CHANGES". 0, or -1 after "Error returned from STDS" (keys of the wrong
/// length are refused before anything is sent).
int TCPGet_Student_Info(std::string_view class_path, std::string_view student_key,
                        StudentBlock& student);

/// "STDN" and "STDA": the class's students into Students().students and OrderStudent. The
/// number of students read (at most kMaxStudentsRead), or -1 on failure.
int TCPRead_class(std::string_view class_path);

// ---- In-use marker -------------------------------------------------------------------------

/// The student's data folder: the server's data folder followed by the key.
std::string StudentDataFolder(std::string_view student_key);
/// Creates "local.USE" in the student's data folder when the folder exists (an existing marker
/// is replaced). 1 when a marker was made.
int InUseFileOpen(std::string_view student_key);
/// Deletes the marker made by InUseFileOpen; when that fails, tells the user who can help.
void InUseFileClose();

}  // namespace nuvel::records
