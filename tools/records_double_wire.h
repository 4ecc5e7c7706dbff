// The wire forms of the Records-server double: what goes into a reply byte by byte. Packed
// dates and timestamps, the server form of passwords, Base64 bodies, compressed replies, texts in
// UTF-8 or in a language's code page, and the 700-byte class and 552-byte student records in
// either byte order. Everything here is written from the protocol's rules alone; the double
// shares no code with the client it answers.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel::tools::records_double {

// ---- Dates ---------------------------------------------------------------------------------

/// The packed date of "never" in expiry fields (1 January 2040).
inline constexpr int kNever = 30753;

/// (year - 1980) * 512 + month * 32 + day.
int PackDate(int year, int month, int day);

/// Reads "YYYY-MM-DD" (a real calendar date from 1981 to 2099), "never" (kNever) or "none" / ""
/// (0). False for anything else.
bool ParseFixtureDate(std::string_view text, int& packed);

/// "YYYY-MM-DD+HH:MM:SS" of `when` in local time: the server's timestamp, 19 characters.
std::string Timestamp(std::time_t when);

/// A timestamp later than `previous` (of the same form): that of `now`, or one second after
/// `previous` when `now` is not later. Clients keep a class list while its timestamp stays the
/// same, so two changes within one second must not share one.
std::string StampAfter(const std::string& previous, std::time_t now);

/// The HTTP "Date:" value of `when` ("Tue, 15 Nov 1994 08:12:31 GMT").
std::string HttpDate(std::time_t when);

// ---- Passwords -----------------------------------------------------------------------------

/// The key byte every password of this system is scrambled with.
inline constexpr unsigned char kPasswordKey = 0x9D;
/// Clear bytes the server form carries, and the length of the form ("**__" + 32 + "__").
inline constexpr std::size_t kServerFormText = 22;
inline constexpr std::size_t kServerFormSize = 38;
/// A client cuts a password to this many characters before it scrambles it.
inline constexpr std::size_t kPasswordSent = 20;

/// Scrambles the first size - 2 bytes in place and appends their check value (high byte first)
/// in the last two.
void Scramble(unsigned char* bytes, std::size_t size);
/// Undoes Scramble; false (bytes untouched) when the check value does not match.
bool Unscramble(unsigned char* bytes, std::size_t size);

/// The server form of a text: upper-cased (ASCII letters), its first 22 bytes NUL-padded and
/// scrambled, in Base64, wrapped in "**__" and "__".
std::string ServerForm(std::string_view clear);
/// The clear text of a server form (up to its first NUL); nothing when the form is malformed or
/// fails its check value.
std::optional<std::string> ClearText(std::string_view server_form);

/// True when a password received in server form is the stored one: the stored password, cut to
/// the 20 characters a client sends and upper-cased, equals the decoded text.
bool PasswordMatches(std::string_view stored, std::string_view server_form);

/// The 80-byte block form of two 40-byte fields (protocol levels below 2): the 78 bytes at the
/// start scrambled, the check value in the last two.
std::array<unsigned char, 80> BlockForm(std::string_view first, std::string_view second);

// ---- Bodies and compressed replies ---------------------------------------------------------

/// Decodes a Base64 text (RFC 4648 alphabet, "=" padding; line breaks are skipped). Nothing when
/// a character lies outside the alphabet or the length is not a whole number of groups.
std::optional<std::string> DecodeBase64(std::string_view text);
std::string EncodeBase64(std::string_view bytes);

/// "COMP" + the compressed length at offset 5 and the original length at offset 14 (8 digits
/// each) + the zlib stream from offset 22.
std::string CompressReply(std::string_view reply);

// ---- Texts ---------------------------------------------------------------------------------

/// True when the three-letter language code is one of the table's.
bool KnownLanguage(std::string_view language);

/// A UTF-8 text as the client reads it: unchanged when the session asked for UTF-8, else in the
/// language's code page (characters the code page lacks become its substitute). Cut to at most
/// `limit` bytes without splitting a character.
std::string ToWire(std::string_view utf8, std::string_view language, bool unicode,
                   std::size_t limit);
/// A text received from the client (up to its NUL) as UTF-8.
std::string FromWire(std::string_view bytes, std::string_view language, bool unicode);

// ---- Records -------------------------------------------------------------------------------

inline constexpr std::size_t kClassRecordSize = 700;
inline constexpr std::size_t kStudentRecordSize = 552;

/// Little-endian field access on a record held in this machine's order.
void Put16(std::string& record, std::size_t offset, int value);
void Put32(std::string& record, std::size_t offset, std::int64_t value);
int Get16(std::string_view record, std::size_t offset);
/// Writes `text` at `offset`, NUL-padded to `width` bytes (the caller has cut it to width - 1).
void PutText(std::string& record, std::size_t offset, std::size_t width, std::string_view text);
/// The bytes at offset up to the first NUL, at most `width`.
std::string GetText(std::string_view record, std::size_t offset, std::size_t width);

/// Swaps the byte order of the numbers of a class record (the 16-bit words at 92 to 116, 248 to
/// 260 and 262 to 272) or a student record (the 16-bit words at 50, 58, 140 to 150, 368 to 382,
/// 538 to 546; the 32-bit words at 54 and 384). Applying it twice gives the record back.
void SwapClassRecord(std::string& record);
void SwapStudentRecord(std::string& record);

}  // namespace nuvel::tools::records_double
