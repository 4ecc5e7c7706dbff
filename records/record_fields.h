// Byte-level fields of the records a Records server sends: 16- and 32-bit numbers, fixed-width
// NUL-terminated texts, and the conversion of those texts between the server's code page and
// UTF-8.
//
// A record held in memory keeps its numbers least significant byte first, whatever the byte
// order of the computer; the records of a big-endian server are swapped on receipt (ConvertClass,
// ConvertStudent). Every access is bounds-checked: a field that does not lie wholly inside the
// record reads as 0 (or "") and is never written, so no record can be read or written past its
// end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nuvel::records {

using RecordBytes = std::span<unsigned char>;
using ConstRecordBytes = std::span<const unsigned char>;

/// The signed 16-bit number at `offset`; 0 when it lies outside the record.
int Word(ConstRecordBytes record, std::size_t offset);
/// Stores the low 16 bits of `value` at `offset`; nothing when it lies outside the record.
void SetWord(RecordBytes record, std::size_t offset, int value);
/// The unsigned 32-bit number at `offset`; 0 when it lies outside the record.
std::uint32_t Long(ConstRecordBytes record, std::size_t offset);
void SetLong(RecordBytes record, std::size_t offset, std::uint32_t value);

/// Reverses the two bytes at `offset` (four for Swap32); nothing when they lie outside.
void Swap16(RecordBytes record, std::size_t offset);
void Swap32(RecordBytes record, std::size_t offset);

/// The bytes of the `width`-byte field at `offset` up to its first NUL.
std::string FieldText(ConstRecordBytes record, std::size_t offset, std::size_t width);
/// Writes `text` into the field, cut to `width` - 1 bytes and NUL-padded. A UTF-8 text is cut
/// between characters.
void SetFieldText(RecordBytes record, std::size_t offset, std::size_t width, std::string_view text);

/// The text with every byte that does not belong to a well-formed UTF-8 character replaced by
/// "?" (one byte for one, so a text keeps its length and fits its field).
std::string RepairUtf8(std::string_view text);

/// A text of a record as UTF-8: with `utf8_requested` the server's bytes are expected to be
/// UTF-8; otherwise they are read in the code page of `language` (a three-letter code). The
/// result is cut between characters to `width` - 1 bytes. When the result is still not UTF-8,
/// `not_utf8_log` is logged and the offending bytes become "?", so the text is always valid.
std::string TextFromServer(std::string_view bytes, std::string_view language, bool utf8_requested,
                           std::size_t width, const char* not_utf8_log);

/// A UTF-8 text as the server expects it: unchanged with `utf8_requested`, otherwise in the code
/// page of `language`, a character the code page lacks written as its substitute. Cut to
/// `width` - 1 bytes without splitting a character.
std::string TextToServer(std::string_view utf8, std::string_view language, bool utf8_requested,
                         std::size_t width);

/// Converts the `width`-byte text field at `offset` in place with TextFromServer.
void FieldFromServer(RecordBytes record, std::size_t offset, std::size_t width,
                     std::string_view language, bool utf8_requested, const char* not_utf8_log);

}  // namespace nuvel::records
