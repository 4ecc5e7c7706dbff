// Password encoding. Passwords never travel or rest in clear text; they are scrambled with one
// fixed key byte and protected by a 16-bit check value, in one of two forms:
//
//   block form   80 bytes: bytes 0-77 the scrambled text, 78-79 the check value (high byte
//                first). Used for the Records Manager password in the local settings and for the
//                password fields of class and student records. Kept binary, or written as
//                printable text (at most 160 characters, never a NUL):
//                  byte < 36        ' ' followed by byte + 36
//                  byte 128..163    '#' followed by byte - 92
//                  byte >= 164      '!' followed by byte - 128
//                  any other byte   itself
//   server form  "**__" + 32 Base64 characters (22 scrambled bytes and the check value) + "__":
//                38 characters in a 40-byte field. Every password sent to or received from the
//                Records server has this form; the text is upper-cased first.
//
// Scrambling n bytes p: c[0] = p[0]; with r = p[0], for i >= 1: r ^= p[i], c[i] = r ^ K.
// Check value over c: s = 0; per byte s = (s ^ c) + 100; finally s = s * 8 (all mod 65,536).
//
//   answer form  "**__" + 108 Base64 characters + "__": the block form of a password (as
//                EncodeThePassword builds it, flag 0) wrapped like the server form. Recorded
//                answers hold a password typed into a dialog in this form; unlike the server form
//                it keeps the case and every byte, so a dialog that is given it stores exactly
//                the password that was typed.
//
// Encode and Decode choose the form from the run state: while the installation is connected to
// a Records server (Run().Internet) they use the server form, otherwise the block form.
//
// Every read is bounds-checked: a printable form or server form that is cut short or malformed,
// and a check value that does not match, fail the decode and leave its output empty.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nuvel::records {

/// The key byte K of every password of this system. The Records server and the companion
/// applications that read the same settings and records scramble with the same byte, so it
/// must never change.
inline constexpr unsigned char kPasswordKey = 0x9D;

inline constexpr std::size_t kBlockSize = 80;
/// Bytes of scrambled text in a block; the check value follows.
inline constexpr std::size_t kBlockTextSize = 78;
/// Longest printable block form.
inline constexpr std::size_t kPrintableBlockMax = 2 * kBlockSize;
/// Clear bytes carried by the server form.
inline constexpr std::size_t kServerTextSize = 22;
/// Length of the server form "**__" + 32 + "__".
inline constexpr std::size_t kServerFormSize = 38;
/// Size of a password field of the SQL Records server (and of class records).
inline constexpr std::size_t kSQLFieldSize = 40;
/// A password sent to the server is cut to this many characters.
inline constexpr std::size_t kSQLPasswordMax = 20;
/// The longest text EncodePlainText takes; the rest is ignored.
inline constexpr std::size_t kPlainTextMax = 100;
/// Offset of the flag byte in the local settings' password block.
inline constexpr std::size_t kPasswordFlagOffset = 76;
/// The longest Records Manager password the block holds, in bytes (before its NUL).
inline constexpr std::size_t kMaxPasswordBytes = kPasswordFlagOffset - 1;
/// What the local settings hold for "no password".
inline constexpr std::string_view kNoPassword = "NO_PASSWORD";
/// The start of every server form.
inline constexpr std::string_view kServerFormPrefix = "**__";

using Block = std::array<unsigned char, kBlockSize>;

/// The 16-bit check value over scrambled bytes.
std::uint16_t CheckValue(std::span<const unsigned char> scrambled);

/// Scrambles the first size - 2 bytes of `bytes` in place and writes their check value into the
/// last two (high byte first). `bytes` must hold at least 3 bytes; shorter spans are left alone.
void Scramble(std::span<unsigned char> bytes, unsigned char key);

/// Undoes Scramble: true when the last two bytes hold the check value of the others, and then
/// the first size - 2 bytes are clear text (the last two are left as they are). False, with
/// `bytes` unchanged, on a mismatch.
bool Unscramble(std::span<unsigned char> bytes, unsigned char key);

/// The printable text of a scrambled block.
std::string PrintableBlock(const Block& scrambled);

/// Reads a printable block form back into its 80 bytes. False when the text ends before 80
/// bytes, an escape is not followed by a character of its range, or characters follow the 80th
/// byte.
bool ParsePrintableBlock(std::string_view text, Block& scrambled);

/// Scrambles an 80-byte block in place (the binary form). Connected: the block's first 40
/// bytes become their server form (EncodeSQLPassword); bytes 40-79 stay as they are.
void Encode(unsigned char key, Block& block);

/// The same as text: the printable block form, or (connected) the server form of the block's
/// first 40 bytes.
std::string EncodePrintable(unsigned char key, const Block& block);

/// Decodes a binary block into `out`: its 78 clear bytes followed by two NULs. Connected, `out`
/// is a copy of the block whose first 40 bytes are decoded with DecodeSQLPassword. 1 on
/// success, 0 on a check-value mismatch (then `out` is all NUL).
int Decode(Block& out, unsigned char key, const Block& block);

/// Decodes text as Encode wrote it: the printable block form, or (connected) a server form whose
/// first 80 bytes are taken as the block. 1 on success, 0 otherwise (then `out` is all NUL).
int Decode(Block& out, unsigned char key, std::string_view text);

/// The server form of a text: at most 100 characters are taken, upper-cased, and the first 22
/// bytes (NUL-padded) scrambled; the result is always 38 characters.
std::string EncodePlainText(unsigned char key, std::string_view text);

/// Reads the 32 Base64 characters after the first 4 characters of `text`. 1 on success with
/// `out` the clear text up to its first NUL (at most 22 characters); 0 with `out` empty when the
/// text is too short, holds a character outside the Base64 alphabet, or fails the check value.
int DecodePlainText(unsigned char key, std::string_view text, std::string& out);

/// The answer form of a password (at most kMaxPasswordBytes are kept).
std::string EncodeAnswerPassword(std::string_view password);

/// Reads a password given in a form starting with "**__": the answer form, or a server form (the
/// upper-cased text, at most 22 characters, as the Records server holds it). 1 with `password`
/// the clear text; 0 with it empty when `text` is neither or fails its check value.
int DecodeAnswerPassword(std::string_view text, std::string& password);

/// What recorded answers hold for a password typed into a dialog: `typed` itself when it is
/// already a form DecodeAnswerPassword reads (a replayed answer), else its answer form.
std::string RecordedPasswordForm(std::string_view typed);

/// Replaces a 40-byte password field by its server form: the text up to its NUL, cut to 20
/// characters, scrambled with kPasswordKey; the field is NUL-padded. A field of the wrong size
/// is left alone.
void EncodeSQLPassword(std::span<unsigned char> field);

/// Replaces a 40-byte password field in server form by its clear text, NUL-padded; only while
/// connected. "**__***FAQ***" stands for the text "***FAQ***". A field that does not start with
/// "**__" was never scrambled (an empty field, for one) and is left as it is. 1 on success, 0
/// when a server form fails to decode (the field is then cleared) or the size is wrong.
int DecodeSQLPassword(std::span<unsigned char> field);

/// The local settings' form of the Records Manager password: a block of "A" to "Z" repeating,
/// the password (cut to 75 bytes; "NO_PASSWORD" when empty) written over its start with its
/// NUL, `flag` at offset 76, scrambled with kPasswordKey and written printable into `out`.
/// Returns the result of decoding `out` once more as a check: 1 when it gives back the
/// password and the flag.
int EncodeThePassword(std::string& out, std::string_view password, unsigned char flag);

/// Reads what EncodeThePassword wrote: `password` receives the text up to its NUL (possibly
/// "NO_PASSWORD"), `flag` the byte at offset 76. 1 on success; 0 with both cleared otherwise.
int DecodeThePassword(std::string_view encoded, std::string& password, unsigned char& flag);

// The password fields of a class record (machine byte order): two 40-byte password fields and
// a protected text whose first 40 bytes are scrambled. Class flag 1 (bit 1 of the 16-bit word
// at 112) records whether the fields hold the block form.
inline constexpr std::size_t kClassPasswordOffset = 118;
inline constexpr std::size_t kClassPassword2Offset = 158;
inline constexpr std::size_t kClassProtectedTextOffset = 198;
inline constexpr std::size_t kClassFlagsOffset = 112;
inline constexpr std::uint16_t kClassFlagScrambled = 1u << 1;
/// The record must reach past the protected text's 50 bytes.
inline constexpr std::size_t kClassRecordMinSize = 248;
/// The help text kept in a class's password field, and how the server form stores it.
inline constexpr std::string_view kFAQText = "***FAQ***";
inline constexpr std::string_view kFAQServerForm = "**__***FAQ***";

/// Scrambles (`encrypt` 1) or unscrambles (0) the password fields of a class record.
/// `server_level` is the protocol level of the connected Records server, 0 when not connected.
/// Level 2 or more: each 40-byte field at 118, 158 and 198 holds its server form (a field that
/// already starts with "**__" counts as scrambled). Otherwise the 80 bytes at 118 are one block
/// in the binary block form and class flag 1 tells whether they are scrambled; a block that
/// fails its check value is left scrambled. 1 on success, 0 when a field failed to decode or the
/// record is shorter than kClassRecordMinSize.
int EncryptClassPassword(std::span<unsigned char> record, int encrypt, int server_level);

/// 1 when the password is acceptable. A password longer than kMaxPasswordBytes is never
/// acceptable: it could only be stored cut ("MSG_InvalidPasswordlength"; a letter outside ASCII
/// takes two to four of those bytes). With `strength` above 1 a non-empty password needs at
/// least 6 characters ("MSG_InvalidPasswordlength") and both a digit and a character that is not
/// one ("MSG_InvalidPasswordAlphaNum"); an empty password is always acceptable. With `tell` 1
/// the messages found are shown together ("%s  %s") with "MSG_Button_OK".
int CheckValidPassword(std::string_view password, int strength, int tell);

/// Replaces every byte b by 255 - b; applying it twice gives the original bytes.
void EncodeString(std::span<unsigned char> bytes);
void EncodeString(std::string& text);

/// Applies EncodeString to a whole settings line unless it holds one of the settings-file or key
/// names that must stay readable (kIniMarkers). 1 when the line was changed.
int EncodeStringIni(std::string& line);
inline constexpr std::array<std::string_view, 7> kIniMarkers = {
    "records.ini", "nuvel.ini",         "setup.ini",           "local.ini",
    "forced.ini",  "launch_path_local", "records_ini_path_mac"};

/// A name cut to its first three characters (whole UTF-8 characters).
std::string ScrambleName(std::string_view name);

}  // namespace nuvel::records
