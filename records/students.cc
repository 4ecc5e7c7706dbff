#include "records/students.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "base/log.h"
#include "base/paths.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/files.h"
#include "platform/path_text.h"
#include "platform/run_reset.h"
#include "records/classes.h"
#include "records/password.h"
#include "records/protocol.h"
#include "records/server_settings.h"
#include "text/dates.h"
#include "ui/prompts.h"
#include "ui/status_box.h"

namespace nuvel::records {

using base::WriteLogf;

void StudentsState::reset() { *this = StudentsState{}; }

StudentsState& Students() {
  static StudentsState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("records::Students", [] { state.reset(); });
  return state;
}

namespace {

StudentsState& S() { return Students(); }

bool Connected() { return RecordsSession().conected_to_server != 0; }
bool Quitting() { return base::Run().quitFlag != 0; }
bool BigEndian() { return RecordsSession().ServerIsBigEndian != 0; }

int Today() {
  const int server = Connected() ? TCPFindServerTime(2) : 0;
  return server > 0 ? server : text::GetTodays_Date_Num();
}

void Tell(const char* key) { ui::Ask({.id = key, .message = key, .buttons = {"MSG_Button_OK"}}); }

void ShowError(const char* text) {
  WriteLogf(1, "%s", text);
  ui::Ask({.id = text, .message = text, .buttons = {"MSG_Button_OK"}});
}

// An older server sends passwords in the block form even to an installation on line, where
// Decode and Encode would expect the server form.
bool BlockFormOnLine() {
  return base::Run().Internet != 0 && RecordsSession().ServerProtocolVersion < 2;
}

void SwapStudentNumbers(RecordBytes record) {
  for (std::size_t offset : {50, 58, 140, 144, 146, 148, 150, 538, 540, 542, 544, 546}) {
    Swap16(record, offset);
  }
  for (std::size_t offset = 368; offset <= 382; offset += 2) Swap16(record, offset);
  Swap32(record, 54);
  Swap32(record, 384);
}

void DecodeStudentPassword(RecordBytes record) {
  Block block{};
  std::copy_n(record.begin() + kStudentPassword, kBlockSize, block.begin());
  Block clear{};
  int ok = 0;
  if (BlockFormOnLine()) {
    clear = block;
    ok = Unscramble(clear, kPasswordKey) ? 1 : 0;
    clear[kBlockTextSize] = clear[kBlockTextSize + 1] = 0;
  } else {
    ok = Decode(clear, kPasswordKey, block);
  }
  const std::string text =
      ok ? FieldText(clear, 0, kBlockSize) : std::string(kDefaultStudentPassword);
  if (!ok) {
    WriteLogf(1, "The password of student %s could not be read",
              FieldText(record, kStudentKey, kStudentKeyWidth).c_str());
  }
  SetFieldText(record, kStudentPassword, kStudentPasswordWidth, text);
}

void EncodeStudentPassword(RecordBytes record) {
  Block block{};
  std::copy_n(record.begin() + kStudentPassword, kBlockSize, block.begin());
  if (BlockFormOnLine()) {
    Scramble(block, kPasswordKey);
  } else {
    Encode(kPasswordKey, block);
  }
  std::copy(block.begin(), block.end(), record.begin() + kStudentPassword);
}

// Makes a received record (its first kStudentRecordSize bytes) this program's: byte order,
// password, texts in UTF-8.
void ReceiveStudent(RecordBytes record, std::string_view language, const char* not_utf8_log) {
  ConvertStudent(1, record, BigEndian());
  const bool utf8 = RecordsSession().request_server_unicode != 0;
  FieldFromServer(record, kStudentName, kStudentNameWidth, language, utf8, not_utf8_log);
  FieldFromServer(record, kStudentEmail, kStudentEmailWidth, language, utf8, not_utf8_log);
  // The key is 8 characters: whatever stands in its ninth byte ends it.
  record[kStudentKey + kStudentKeyWidth - 1] = 0;
}

// The fields of the change log: their offsets, widths and names.
struct NamedField {
  std::size_t offset, width;
  const char* name;
};
constexpr NamedField kNamedFields[] = {
    {0, 9, "Serial "},
    {9, 41, "Name "},
    {50, 2, "Year "},
    {52, 1, "Month "},
    {53, 1, "Day "},
    {54, 4, "Time_Limit "},
    {58, 2, "Lock "},
    {60, 80, "Password "},
    {140, 2, "InUse "},
    {142, 1, "Mod_last "},
    {143, 1, "Les_last "},
    {144, 2, "Eng_only "},
    {148, 2, "StudentExpirationDate "},
    {388, 50, "StudentEmail "},
    {438, 50, "ForceMT "},
    {488, 50, "StudyScores "},
    {540, 2, "Student_begin_date "},
};

std::string ChangedFields(std::string_view before, std::string_view after) {
  std::string names;
  for (const NamedField& field : kNamedFields) {
    if (before.substr(field.offset, field.width) != after.substr(field.offset, field.width)) {
      names += field.name;
    }
  }
  return names;
}

struct StatusStrip {
  StatusStrip() { ui::TCPStatusBoxCreate(); }
  ~StatusStrip() { ui::TCPStatusBoxDestroy(); }
};

std::string NameOf(ConstRecordBytes record) {
  return FieldText(record, kStudentName, kStudentNameWidth);
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view start) {
  if (text.size() < start.size()) return false;
  return std::equal(start.begin(), start.end(), text.begin(), [](char a, char b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(a) == lower(b);
  });
}

}  // namespace

StudentBlock NewStudent() { return StudentBlock(kStudentBlockSize, 0); }

// ---- Byte order and password -------------------------------------------------------------------

int ConvertStudent(int mode, RecordBytes record, bool big_endian) {
  if (record.size() < kStudentRecordSize || mode < 1 || mode > 3) return 0;
  if (mode == 2) EncodeStudentPassword(record);
  if (big_endian) SwapStudentNumbers(record);
  if (mode == 1) DecodeStudentPassword(record);
  return 1;
}

std::int16_t sIntel2Moto(std::int16_t value) {
  return static_cast<std::int16_t>(usIntel2Moto(static_cast<std::uint16_t>(value)));
}

std::uint16_t usIntel2Moto(std::uint16_t value) {
  return static_cast<std::uint16_t>(value << 8 | value >> 8);
}

std::int32_t lIntel2Moto(std::int32_t value) {
  const auto word = static_cast<std::uint32_t>(value);
  return static_cast<std::int32_t>((word >> 24) | ((word >> 8) & 0xFF00u) |
                                   ((word << 8) & 0xFF0000u) | (word << 24));
}

// ---- Predicates --------------------------------------------------------------------------------

int GetStudentFlag(ConstRecordBytes record, int flag) {
  if (flag < 0 || flag > 15) return 0;
  return (Word(record, kStudentFlags) >> flag) & 1;
}

void SetStudentFlag(RecordBytes record, int flag, int value) {
  if (flag < 0 || flag > 15) return;
  int word = Word(record, kStudentFlags);
  word = value ? word | 1 << flag : word & ~(1 << flag);
  SetWord(record, kStudentFlags, word);
}

int GetStudentEditValue(ConstRecordBytes record, int value, int flag) {
  const int own = GetStudentFlag(record, flag);
  if (value == -99) return own;
  return value == own ? value : 2;
}

int IsStudentDeleted(ConstRecordBytes record) { return Word(record, kStudentInUse) > 10000; }

int IsStudentDisabled(ConstRecordBytes record) {
  return (Word(record, kStudentFlags) & 8) != 0 ? 1 : 0;
}

int IsStudentAllowedHomeStudy(ConstRecordBytes record) {
  return GetStudentFlag(record, kStudentFlagHomeStudy);
}

int IsStudentExpired(ConstRecordBytes record, int tell) {
  if (!Connected()) return 0;
  const int date = Word(record, kStudentExpiry);
  if (date == text::kDateNever || date < text::kDateNoneBelow || date >= Today()) return 0;
  WriteLogf(1, "Student %s expired (%s)", FieldText(record, kStudentKey, kStudentKeyWidth).c_str(),
            text::Get_Date_String(date).c_str());
  if (tell) Tell("MSG_StudentExpired");
  return 1;
}

int IsStudentBeginDateInvalid(ConstRecordBytes record, int tell) {
  const int date = Word(record, kStudentBeginDate);
  const bool invalid = date < 0 || date > text::kDateNever ||
                       (date != text::kDateNever && date >= text::kDateNoneBelow && date > Today());
  if (!invalid) return 0;
  WriteLogf(1, "Student %s begins later (%d)",
            FieldText(record, kStudentKey, kStudentKeyWidth).c_str(), date);
  if (tell) Tell("MSG_StudentNotBeginYet");
  return 1;
}

int IsStudentActive(ConstRecordBytes student) {
  if (IsStudentAModelStudent(student)) return 0;
  const int last = Word(student, kStudentLastSession);
  if (last == 0 || student.size() < kStudentActivityWord + 2 ||
      Word(student, kStudentActivityWord) != -1) {
    return 1;
  }
  const int today = Today();
  return today - last >= 51 || text::CalculateDaysElapsed(last, today) > 30 ? 0 : 1;
}

int IsStudentAModelStudent(ConstRecordBytes record) {
  return StartsWithIgnoringCase(NameOf(record), "Model Student");
}

int IsStudentATechStudent(ConstRecordBytes record) {
  return NameOf(record).starts_with("Tech Student");
}

int IsStudentATargetStudent(ConstRecordBytes record) {
  return NameOf(record).starts_with("Target_Student");
}

void SetInitialCertificationLevel(RecordBytes record, int level) {
  SetWord(record, kStudentCertInitial, level < 0 || level > 35 ? 0 : level);
}

int GetInitialCertificationLevel(ConstRecordBytes record) {
  const int level = Word(record, kStudentCertInitial);
  return level < 0 || level > 35 ? 0 : level;
}

void SetCertLevelLastRun(RecordBytes record, int level) {
  if (level >= 111 && level <= 138) SetWord(record, kStudentCertLastRun, level);
}

void Check_Student_Settings(RecordBytes record) {
  for (const auto& [offset, high] :
       {std::pair{kStudentSetting376, 40}, std::pair{kStudentSetting374, 70}}) {
    const int limit = high;
    const auto in_range = [limit](int value) { return value >= 0 && value <= limit; };
    if (in_range(Word(record, offset))) continue;
    Swap16(record, offset);
    if (!in_range(Word(record, offset))) SetWord(record, offset, 0);
  }
}

int CheckStudentSerial(const char* key, const char* caller) {
  if (key && IsValidStudentKey(key)) return 0;
  base::LogState& log = base::Log();
  if (log.nuvel_log_level != base::kLogOff && log.nuvel_log_level < 5) log.nuvel_log_level = 5;
  if (key) {
    WriteLogf(1, "ERROR CheckStudentSerial: %s %s", key, caller ? caller : "");
  } else {
    WriteLogf(1, "ERROR CheckStudentSerial: NULL %s", caller ? caller : "");
  }
  return -1;
}

std::string NewStudentKey() {
  static constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  static constexpr std::string_view kCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::mt19937& random = S().keys;
  std::string key(1, kLetters[std::uniform_int_distribution<std::size_t>(0, 25)(random)]);
  std::uniform_int_distribution<std::size_t> any(0, kCharacters.size() - 1);
  while (key.size() < 8) key += kCharacters[any(random)];
  return key;
}

// ---- The server --------------------------------------------------------------------------------

int TCPGet_Student_Info(std::string_view class_path, std::string_view student_key,
                        StudentBlock& student) {
  const std::string key(student_key);
  if (class_path.size() != 8) {
    WriteLogf(1, "TCPGet_Student_Info: the class path \"%s\" is not 8 characters",
              std::string(class_path).c_str());
    return -1;
  }
  if (CheckStudentSerial(key.c_str(), "TCPGet_Student_Info") != 0) return -1;
  std::string reply, stamp;
  if (SendCommandToServer("STDS", std::string(class_path) + "_" + key, reply, &stamp) != 0 ||
      reply.size() < kStudentReplyHeaderSize + kStudentRecordSize) {
    if (!Quitting()) ShowError("Error returned from STDS");
    return -1;
  }
  StudentsState& s = S();
  const std::string raw = reply.substr(kStudentReplyHeaderSize, kStudentRecordSize);
  if (!s.rawStudent.empty() && s.rawStudent != raw &&
      s.rawStudent.substr(0, kStudentKeyWidth) == raw.substr(0, kStudentKeyWidth)) {
    WriteLogf(1, "STDS-CHANGES %s", ChangedFields(s.rawStudent, raw).c_str());
  }
  s.rawStudent = raw;
  s.studentTimeStamp = stamp;
  if (student.size() < kStudentBlockSize) student.assign(kStudentBlockSize, 0);
  std::copy(raw.begin(), raw.end(), student.begin());
  ReceiveStudent(student, LanguageOfClassPath(class_path),
                 "Text from STDS not UTF-8 as requested.");
  SetWord(student, kStudentLoginMarker, 1);
  return 0;
}

int TCPRead_class(std::string_view class_path) {
  StudentsState& s = S();
  StatusStrip strip;
  ui::TCPStatusBoxUpdate("Read Class List", "Number of Students Available", "");
  const int announced = TCPGet_Class_Size(class_path);
  if (announced < 0) {
    if (!Quitting()) Tell("MSG_Message_UnableToFindClass");
    return -1;
  }
  bool full = false;
  if (announced >= kMaxStudentsRead) {
    WriteLogf(1, "TCPRC: MSG_CMS_ClassFull number_of_students=%d", announced);
    full = true;
  }

  ui::TCPStatusBoxUpdate("Read Class List", "Downloading class list", "");
  std::string reply;
  int listed = 0;
  if (SendCommandToServer("STDA", class_path, reply) != 0 || !ReadDigits(reply, 10, 8, listed) ||
      listed < 0) {
    if (!Quitting()) Tell("MSG_Message_UnableToFindClass");
    return -1;
  }
  if (reply.size() < kStudentReplyHeaderSize ||
      static_cast<std::size_t>(listed) >
          (reply.size() - kStudentReplyHeaderSize) / kStudentRecordSize) {
    WriteLogf(1, "STDA: a reply of %zu bytes does not hold the %d students it names", reply.size(),
              listed);
    return -1;
  }
  if (!full && listed >= kMaxStudentsRead) {
    WriteLogf(1, "TCPRC: MSG_CMS_ClassFull class_size_downloaded=%d", listed);
    full = true;
  }

  ui::TCPStatusBoxUpdate("Read Class List", "Decoding", "");
  const int count = std::min(listed, kMaxStudentsRead);
  const std::string language = LanguageOfClassPath(class_path);
  s.students.clear();
  s.OrderStudent.clear();
  try {
    s.students.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      StudentBlock student = NewStudent();
      const std::size_t at =
          kStudentReplyHeaderSize + static_cast<std::size_t>(i) * kStudentRecordSize;
      std::copy_n(reply.begin() + static_cast<std::ptrdiff_t>(at), kStudentRecordSize,
                  student.begin());
      ReceiveStudent(student, language, "Text from STDA not UTF-8 as requested.");
      const std::string scores(student.begin() + kStudentStudyScores,
                               student.begin() + kStudentStudyScores + kStudentSettingsWidth);
      if (scores.find("mail") != std::string::npos || scores.find("MAIL") != std::string::npos) {
        std::fill_n(student.begin() + kStudentStudyScores, kStudentSettingsWidth, 0);
      }
      s.students.push_back(std::move(student));
      s.OrderStudent.push_back(i);
    }
  } catch (const std::bad_alloc&) {
    WriteLogf(1, "ERROR: Out of Memory in TCPRead_class");
    s.students.clear();
    s.OrderStudent.clear();
    return -1;
  }
  if (full) {
    const std::string message =
        base::StrRezf(0, "MSG_CMS_ClassFull", {std::to_string(kMaxStudentsRead + 1)});
    ui::Ask({.id = "MSG_CMS_ClassFull", .message = message, .buttons = {"MSG_Button_OK"}});
  }
  WriteLogf(3, "TCPRead_class %s: %d students", std::string(class_path).c_str(), count);
  return count;
}

// ---- In-use marker -----------------------------------------------------------------------------

std::string StudentDataFolder(std::string_view student_key) {
  const std::string& resolved = RS().DATA_I_PATH;
  const std::string folder = resolved.empty() ? base::GetDataIDirectoryPath() : resolved;
  return platform::Join(folder, student_key);
}

int InUseFileOpen(std::string_view student_key) {
  if (student_key.size() != 8) return 0;
  const std::string folder = StudentDataFolder(student_key);
  if (!platform::IsDirectory(folder)) return 0;
  const std::string marker = platform::Join(folder, "local.USE");
  if (platform::Exists(marker)) platform::RemoveFile(marker);
  if (std::error_code error = platform::CreateEmptyFile(marker)) {
    WriteLogf(1, "InUseFileOpen: %s: %s", marker.c_str(), error.message().c_str());
    return 0;
  }
  S().inUseFile = marker;
  return 1;
}

void InUseFileClose() {
  StudentsState& s = S();
  if (s.inUseFile.empty()) return;
  const std::string marker = std::move(s.inUseFile);
  s.inUseFile.clear();
  if (!platform::RemoveFile(marker) || !platform::Exists(marker)) return;
  char text[2048];
  std::snprintf(text, sizeof text, "%s%c%c%s%c%s", base::StrRez(0, "MSG_DeletePrivileges").c_str(),
                '\r', '\r', base::StrRez(0, "MSG_TellSupervisor").c_str(), '\r',
                platform::WithoutFileName(marker).c_str());
  ui::Ask({.id = "MSG_DeletePrivileges", .message = text, .buttons = {"MSG_Button_OK"}});
}

}  // namespace nuvel::records
