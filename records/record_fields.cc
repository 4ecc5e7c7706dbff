#include "records/record_fields.h"

#include <algorithm>
#include <optional>

#include "base/log.h"
#include "text/code_pages.h"
#include "text/encodings.h"
#include "text/utf8.h"

namespace nuvel::records {
namespace {

bool Inside(ConstRecordBytes record, std::size_t offset, std::size_t width) {
  return offset <= record.size() && width <= record.size() - offset;
}

// The UTF-8 text without its last character.
std::string_view DropLastCharacter(std::string_view text) {
  std::size_t cut = text.size();
  while (cut > 0 && text::IsUTF8TrailByte(static_cast<unsigned char>(text[cut - 1]))) --cut;
  return text.substr(0, cut > 0 ? cut - 1 : 0);
}

std::string CutUtf8(std::string_view text, std::size_t width) {
  return std::string(text.substr(0, text::GetUTF8Truncation(text, static_cast<int>(width))));
}

// `utf8` in the encoding, characters the encoding lacks written as its substitute.
std::optional<std::string> EncodeWithSubstitutes(std::string_view utf8,
                                                 text::MacEncoding encoding) {
  if (auto exact = text::Utf8ToEncoded(utf8, encoding)) return exact;
  const std::optional<std::u16string> wide = text::DecodeText("UTF-8", utf8);
  if (!wide) return std::nullopt;
  return text::EncodeText(text::CharsetOf(encoding), *wide, true);
}

}  // namespace

int Word(ConstRecordBytes record, std::size_t offset) {
  if (!Inside(record, offset, 2)) return 0;
  return static_cast<std::int16_t>(record[offset] | record[offset + 1] << 8);
}

void SetWord(RecordBytes record, std::size_t offset, int value) {
  if (!Inside(record, offset, 2)) return;
  const auto word = static_cast<std::uint16_t>(value);
  record[offset] = static_cast<unsigned char>(word & 0xFF);
  record[offset + 1] = static_cast<unsigned char>(word >> 8);
}

std::uint32_t Long(ConstRecordBytes record, std::size_t offset) {
  if (!Inside(record, offset, 4)) return 0;
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | record[offset + static_cast<std::size_t>(i)];
  return value;
}

void SetLong(RecordBytes record, std::size_t offset, std::uint32_t value) {
  if (!Inside(record, offset, 4)) return;
  for (std::size_t i = 0; i < 4; ++i)
    record[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

void Swap16(RecordBytes record, std::size_t offset) {
  if (Inside(record, offset, 2)) std::swap(record[offset], record[offset + 1]);
}

void Swap32(RecordBytes record, std::size_t offset) {
  if (!Inside(record, offset, 4)) return;
  std::swap(record[offset], record[offset + 3]);
  std::swap(record[offset + 1], record[offset + 2]);
}

std::string FieldText(ConstRecordBytes record, std::size_t offset, std::size_t width) {
  if (offset >= record.size()) return "";
  const ConstRecordBytes field = record.subspan(offset, std::min(width, record.size() - offset));
  const auto end = std::find(field.begin(), field.end(), 0);
  return std::string(field.begin(), end);
}

void SetFieldText(RecordBytes record, std::size_t offset, std::size_t width,
                  std::string_view text) {
  if (width == 0 || !Inside(record, offset, width)) return;
  const std::size_t keep = text::IsAValidUTF8UnicodeString(text)
                               ? text::GetUTF8Truncation(text, static_cast<int>(width))
                               : std::min(text.size(), width - 1);
  std::fill_n(record.begin() + static_cast<std::ptrdiff_t>(offset), width, 0);
  std::copy_n(text.begin(), keep, record.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::string RepairUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const int size = text::GetUTF8SizeFromLeadByte(static_cast<unsigned char>(text[i]));
    const std::size_t n = static_cast<std::size_t>(size);
    if (size > 0 && n <= text.size() - i && text::IsAValidUTF8UnicodeString(text.substr(i, n))) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

std::string TextFromServer(std::string_view bytes, std::string_view language, bool utf8_requested,
                           std::size_t width, const char* not_utf8_log) {
  std::string text(bytes);
  if (!utf8_requested) {
    const text::MacEncoding encoding = text::CodePageNumberFromLanguageIdString(language);
    if (std::optional<std::string> converted = text::EncodedToUtf8(bytes, encoding)) {
      text = std::move(*converted);
    }
  }
  if (!text::IsAValidUTF8UnicodeString(text)) {
    base::WriteLogf(1, "%s", not_utf8_log);
    text = RepairUtf8(text);
  }
  return CutUtf8(text, width);
}

std::string TextToServer(std::string_view utf8, std::string_view language, bool utf8_requested,
                         std::size_t width) {
  if (width == 0) return "";
  const std::string valid = RepairUtf8(utf8);
  if (utf8_requested) return CutUtf8(valid, width);
  const text::MacEncoding encoding = text::CodePageNumberFromLanguageIdString(language);
  // Drop characters from the end until the encoded text fits: a double-byte character is never
  // split.
  std::string_view source = valid;
  for (;;) {
    std::optional<std::string> encoded = EncodeWithSubstitutes(source, encoding);
    if (!encoded) return "";
    if (encoded->size() < width || source.empty()) return encoded->substr(0, width - 1);
    source = DropLastCharacter(source);
  }
}

void FieldFromServer(RecordBytes record, std::size_t offset, std::size_t width,
                     std::string_view language, bool utf8_requested, const char* not_utf8_log) {
  if (!Inside(record, offset, width)) return;
  SetFieldText(record, offset, width,
               TextFromServer(FieldText(record, offset, width), language, utf8_requested, width,
                              not_utf8_log));
}

}  // namespace nuvel::records
