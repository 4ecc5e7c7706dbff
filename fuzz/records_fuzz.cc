// Class and student records and the CLSB class-list reply, in either byte order: converting a
// record twice gives its bytes back, a record shorter than its layout is refused untouched,
// repaired settings lie in their ranges, a CLSB reply is accepted only when its records lie
// within the bytes received, the class table never holds more than its 800 slots, and every
// text a record leaves in the table is valid UTF-8, whatever bytes the server sent.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "base/run_state.h"
#include "fuzz/fuzz_support.h"
#include "records/classes.h"
#include "records/protocol.h"
#include "records/record_fields.h"
#include "records/students.h"
#include "text/utf8.h"

namespace {

using namespace nuvel;
using records::RecordBytes;

std::vector<unsigned char> Bytes(const std::string& text) {
  return std::vector<unsigned char>(text.begin(), text.end());
}

void ClassRecord(const std::string& data, bool big_endian) {
  std::vector<unsigned char> record = Bytes(data);
  const std::vector<unsigned char> original = record;
  const bool accepted = records::ConvertClass(record, big_endian);
  if (accepted != (record.size() >= records::kClassRecordSize)) {
    fuzz::Broken("ConvertClass accepted a record of the wrong size");
  }
  if (!accepted && record != original) fuzz::Broken("a refused class record was changed");
  records::ConvertClass(record, big_endian);
  if (record != original) fuzz::Broken("converting a class record twice changed it");
  if (!accepted) return;

  records::Check_Class_Settings(record);
  if (records::IsClassAGroup(record)) {
    const int days = records::Word(record, 108);
    const int expiry = records::Word(record, records::kGroupExpiry);
    if (days < -365 || days > 15 || (expiry != 0 && (expiry < 10000 || expiry > 32000))) {
      fuzz::Broken("a repaired group setting is out of range");
    }
  } else {
    const int expiry = records::Word(record, records::kClassExpiry);
    if (records::Word(record, 116) < 1 || records::Word(record, 116) > 200 || expiry < 1 ||
        expiry > records::kClassNeverExpires) {
      fuzz::Broken("a repaired class setting is out of range");
    }
  }
  const auto rights = records::GetGroupAdminRights(record);
  if (records::GetGroupAdminRights(record) != rights) {
    fuzz::Broken("rights read a second time differ from the rewritten record's");
  }
}

void StudentRecord(const std::string& data, bool big_endian) {
  std::vector<unsigned char> record = Bytes(data);
  const std::vector<unsigned char> original = record;
  const int accepted = records::ConvertStudent(3, record, big_endian);
  if (accepted != (record.size() >= records::kStudentRecordSize ? 1 : 0)) {
    fuzz::Broken("ConvertStudent accepted a record of the wrong size");
  }
  if (!accepted && record != original) fuzz::Broken("a refused student record was changed");
  records::ConvertStudent(3, record, big_endian);
  if (record != original) fuzz::Broken("converting a student record twice changed it");
  if (!accepted) return;

  records::ConvertStudent(1, record, big_endian);
  if (records::FieldText(record, records::kStudentPassword, records::kStudentPasswordWidth)
          .size() >= records::kStudentPasswordWidth) {
    fuzz::Broken("a decoded password fills its whole field");
  }
  records::Check_Student_Settings(record);
  const int setting374 = records::Word(record, records::kStudentSetting374);
  const int setting376 = records::Word(record, records::kStudentSetting376);
  if (setting374 < 0 || setting374 > 70 || setting376 < 0 || setting376 > 40) {
    fuzz::Broken("a repaired student setting is out of range");
  }
}

void ClassPages(FuzzedDataProvider& input) {
  records::ZeroAllClasses();
  records::SetLoginGroupNumber(input.ConsumeIntegral<std::int16_t>());
  int kept = 0;
  while (input.remaining_bytes() > 0) {
    const int asked = input.ConsumeIntegralInRange(0, records::kMaxPageIndex);
    const std::string reply = input.ConsumeRandomLengthString(64 * 1024);
    records::ClassPage page;
    if (!records::ParseClassPage(reply, asked, page)) continue;
    if (page.recordSize != static_cast<int>(records::kClassRecordSize) || page.count < 0 ||
        page.records.size() != static_cast<std::size_t>(page.count) * records::kClassRecordSize ||
        records::kClassPageHeaderSize + page.records.size() > reply.size() ||
        (page.count > 0 && page.nextIndex <= asked)) {
      fuzz::Broken("ParseClassPage accepted a reply that does not hold what it says");
    }
    kept += records::TakeClassPage(page);
  }
  const records::ClassesState& classes = records::Classes();
  if (classes.first_unused_slot < 0 || classes.first_unused_slot > records::kMaxClasses ||
      classes.first_unused_slot > kept) {
    fuzz::Broken("the class table holds more records than it has slots or was given");
  }
  for (int slot = 0; slot < classes.first_unused_slot; ++slot) {
    const RecordBytes record = records::ClassSlot(slot);
    for (std::size_t offset : {records::kClassName, records::kClassTeacher}) {
      if (!text::IsAValidUTF8UnicodeString(
              records::FieldText(record, offset, records::kClassTextWidth))) {
        fuzz::Broken("a text in the class table is not UTF-8");
      }
    }
    if (records::ClassPathOf(record).size() > 8) fuzz::Broken("a class path longer than 8");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const int kind = input.ConsumeIntegralInRange(0, 2);
  const bool big_endian = input.ConsumeBool();
  records::Session& session = records::RecordsSession();
  session.ServerIsBigEndian = big_endian ? 1 : 0;
  session.request_server_unicode = input.ConsumeBool() ? 1 : 0;
  session.ServerProtocolVersion = input.ConsumeIntegralInRange(0, 4);
  session.conected_to_server = input.ConsumeBool() ? 1 : 0;
  base::Run().Internet = session.conected_to_server;
  switch (kind) {
    case 0:
      ClassRecord(input.ConsumeRemainingBytesAsString(), big_endian);
      break;
    case 1:
      StudentRecord(input.ConsumeRemainingBytesAsString(), big_endian);
      break;
    default:
      ClassPages(input);
      break;
  }
  return 0;
}
