#include "tools/records_double_wire.h"

#include <openssl/evp.h>
#include <unicode/ucnv.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace nuvel::tools::records_double {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::uint16_t CheckValue(const unsigned char* bytes, std::size_t size) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < size; ++i) sum = static_cast<std::uint16_t>((sum ^ bytes[i]) + 100);
  return static_cast<std::uint16_t>(sum * 8);
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsBase64Character(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// The code page of each language of the client's language table, as ICU names it. ICU has no
// Mac Japanese, Korean or Chinese converter; texts of those languages travel in the Windows code
// pages of the same scripts. Mac Thai and Mac Arabic have no converter at all (nullptr): their
// texts pass as ASCII, and other characters become "?".
struct LanguageCodePage {
  const char* language;
  const char* converter;
};
constexpr LanguageCodePage kCodePages[] = {
    {"ENG", "macintosh"},
    {"FRA", "macintosh"},
    {"JPN", "windows-932"},
    {"SPN", "macintosh"},
    {"KOR", "windows-949"},
    {"PRT", "macintosh"},
    {"BRA", "macintosh"},
    {"ITL", "macintosh"},
    {"GER", "macintosh"},
    {"TAI", nullptr},
    {"MAN", "windows-950"},
    {"MAS", "windows-936"},
    {"TUR", "x-mac-turkish"},
    {"ARB", nullptr},
    {"MAL", "macintosh"},
    {"IND", "macintosh"},
    {"CZH", "x-mac-centraleurroman"},
    {"SVK", "x-mac-centraleurroman"},
    {"ROU", "x-mac-centraleurroman"},
    {"HUN", "x-mac-centraleurroman"},
    {"HIN", "x-mac-centraleurroman"},
    {"PUN", "x-mac-centraleurroman"},
    {"RUS", "x-mac-centraleurroman"},
    {"KAZ", "x-mac-centraleurroman"},
    {"UKR", "x-mac-centraleurroman"},
    {"GRK", "x-mac-greek"},
};

const LanguageCodePage* FindLanguage(std::string_view language) {
  for (const auto& row : kCodePages) {
    if (language.size() == 3 && std::equal(language.begin(), language.end(), row.language,
                                           [](char a, char b) { return UpperAscii(a) == b; }))
      return &row;
  }
  return nullptr;
}

std::string Convert(const char* to, const char* from, std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length =
      ucnv_convert(to, from, nullptr, 0, text.data(), static_cast<int32_t>(text.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return "";
  std::string out(static_cast<std::size_t>(length), '\0');
  status = U_ZERO_ERROR;
  length = ucnv_convert(to, from, out.data(), length, text.data(),
                        static_cast<int32_t>(text.size()), &status);
  // A full buffer without room for the NUL is reported as a warning, not a failure.
  if (U_FAILURE(status)) return "";
  out.resize(static_cast<std::size_t>(length));
  return out;
}

// The longest start of a UTF-8 text of at most `limit` bytes that ends on a character boundary.
std::string_view CutUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

// The UTF-8 text without its last character.
std::string_view DropLastCharacter(std::string_view text) {
  if (text.empty()) return text;
  std::size_t cut = text.size() - 1;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

std::string Encode8Bit(std::string_view utf8, const LanguageCodePage* code_page) {
  if (code_page && code_page->converter) return Convert(code_page->converter, "UTF-8", utf8);
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80)
      out += static_cast<char>(c);
    else if ((c & 0xC0) != 0x80)
      out += '?';
  }
  return out;
}

void Swap16(std::string& record, std::size_t offset) {
  if (offset + 2 <= record.size()) std::swap(record[offset], record[offset + 1]);
}

void Swap32(std::string& record, std::size_t offset) {
  if (offset + 4 > record.size()) return;
  std::swap(record[offset], record[offset + 3]);
  std::swap(record[offset + 1], record[offset + 2]);
}

}  // namespace

int PackDate(int year, int month, int day) { return (year - 1980) * 512 + month * 32 + day; }

bool ParseFixtureDate(std::string_view text, int& packed) {
  if (text.empty() || text == "none") {
    packed = 0;
    return true;
  }
  if (text == "never") {
    packed = kNever;
    return true;
  }
  int year = 0, month = 0, day = 0;
  char tail = 0;
  std::string copy(text);
  if (copy.size() != 10 || copy[4] != '-' || copy[7] != '-' ||
      std::sscanf(copy.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) != 3)
    return false;
  if (year < 1981 || year > 2099 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  packed = PackDate(year, month, day);
  return true;
}

std::string Timestamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d+%02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::string StampAfter(const std::string& previous, std::time_t now) {
  std::tm local{};
  if (std::sscanf(previous.c_str(), "%d-%d-%d+%d:%d:%d", &local.tm_year, &local.tm_mon,
                  &local.tm_mday, &local.tm_hour, &local.tm_min, &local.tm_sec) == 6) {
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    local.tm_isdst = -1;
    std::time_t before = std::mktime(&local);
    if (before != -1 && now <= before) now = before + 1;
  }
  return Timestamp(now);
}

std::string HttpDate(std::time_t when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday],
                utc.tm_mday, kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                utc.tm_sec);
  return text;
}

void Scramble(unsigned char* bytes, std::size_t size) {
  if (size < 3) return;
  const std::size_t n = size - 2;
  unsigned char running = bytes[0];
  for (std::size_t i = 1; i < n; ++i) {
    running ^= bytes[i];
    bytes[i] = running ^ kPasswordKey;
  }
  std::uint16_t check = CheckValue(bytes, n);
  bytes[n] = static_cast<unsigned char>(check >> 8);
  bytes[n + 1] = static_cast<unsigned char>(check & 0xFF);
}

bool Unscramble(unsigned char* bytes, std::size_t size) {
  if (size < 3) return false;
  const std::size_t n = size - 2;
  std::uint16_t check = CheckValue(bytes, n);
  if (bytes[n] != (check >> 8) || bytes[n + 1] != (check & 0xFF)) return false;
  unsigned char previous = bytes[0];
  for (std::size_t i = 1; i < n; ++i) {
    unsigned char running = bytes[i] ^ kPasswordKey;
    bytes[i] = previous ^ running;
    previous = running;
  }
  return true;
}

std::string ServerForm(std::string_view clear) {
  unsigned char bytes[kServerFormText + 2] = {};
  for (std::size_t i = 0; i < std::min(clear.size(), kServerFormText); ++i)
    bytes[i] = static_cast<unsigned char>(UpperAscii(clear[i]));
  Scramble(bytes, sizeof bytes);
  return "**__" + EncodeBase64(std::string_view(reinterpret_cast<char*>(bytes), sizeof bytes)) +
         "__";
}

std::optional<std::string> ClearText(std::string_view server_form) {
  if (server_form.size() < kServerFormSize || server_form.substr(0, 4) != "**__" ||
      server_form.substr(36, 2) != "__")
    return std::nullopt;
  auto decoded = DecodeBase64(server_form.substr(4, 32));
  if (!decoded || decoded->size() != kServerFormText + 2) return std::nullopt;
  auto* bytes = reinterpret_cast<unsigned char*>(decoded->data());
  if (!Unscramble(bytes, decoded->size())) return std::nullopt;
  return std::string(decoded->c_str(), strnlen(decoded->c_str(), kServerFormText));
}

bool PasswordMatches(std::string_view stored, std::string_view server_form) {
  auto clear = ClearText(server_form);
  if (!clear) return false;
  std::string expected(stored.substr(0, kPasswordSent));
  std::transform(expected.begin(), expected.end(), expected.begin(), UpperAscii);
  return *clear == expected.substr(0, kServerFormText);
}

std::array<unsigned char, 80> BlockForm(std::string_view first, std::string_view second) {
  std::array<unsigned char, 80> block{};
  std::memcpy(block.data(), first.data(), std::min<std::size_t>(first.size(), 39));
  std::memcpy(block.data() + 40, second.data(), std::min<std::size_t>(second.size(), 37));
  Scramble(block.data(), block.size());
  return block;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string clean;
  for (char c : text) {
    if (c == '\r' || c == '\n') continue;
    if (!IsBase64Character(c) && c != '=') return std::nullopt;
    clean += c;
  }
  if (clean.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && padding < clean.size() && clean[clean.size() - 1 - padding] == '=')
    ++padding;
  if (clean.find('=') < clean.size() - padding) return std::nullopt;
  std::string out(clean.size() / 4 * 3, '\0');
  int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                               reinterpret_cast<const unsigned char*>(clean.data()),
                               static_cast<int>(clean.size()));
  if (length < 0) return std::nullopt;
  out.resize(static_cast<std::size_t>(length) - padding);
  return out;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string out((bytes.size() + 2) / 3 * 4 + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                               reinterpret_cast<const unsigned char*>(bytes.data()),
                               static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(length));
  return out;
}

std::string CompressReply(std::string_view reply) {
  uLongf size = compressBound(static_cast<uLong>(reply.size()));
  std::string stream(size, '\0');
  compress2(reinterpret_cast<Bytef*>(stream.data()), &size,
            reinterpret_cast<const Bytef*>(reply.data()), static_cast<uLong>(reply.size()),
            Z_BEST_COMPRESSION);
  stream.resize(size);
  char header[32];
  std::snprintf(header, sizeof header, "COMP %08lu %08zu", static_cast<unsigned long>(size),
                reply.size());
  return header + stream;
}

bool KnownLanguage(std::string_view language) { return FindLanguage(language) != nullptr; }

std::string ToWire(std::string_view utf8, std::string_view language, bool unicode,
                   std::size_t limit) {
  if (unicode) return std::string(CutUtf8(utf8, limit));
  const LanguageCodePage* code_page = FindLanguage(language);
  std::string_view text = utf8;
  for (;;) {
    std::string out = Encode8Bit(text, code_page);
    if (out.size() <= limit) return out;
    text = DropLastCharacter(text);
  }
}

std::string FromWire(std::string_view bytes, std::string_view language, bool unicode) {
  std::string_view text = bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
  if (unicode) return std::string(text);
  const LanguageCodePage* code_page = FindLanguage(language);
  if (code_page && code_page->converter) return Convert("UTF-8", code_page->converter, text);
  std::string out;
  for (char c : text)
    out += static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : "\xEF\xBF\xBD";
  return out;
}

void Put16(std::string& record, std::size_t offset, int value) {
  auto word = static_cast<std::uint16_t>(value);
  record[offset] = static_cast<char>(word & 0xFF);
  record[offset + 1] = static_cast<char>(word >> 8);
}

void Put32(std::string& record, std::size_t offset, std::int64_t value) {
  auto word = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<char>((word >> (8 * i)) & 0xFF);
}

int Get16(std::string_view record, std::size_t offset) {
  if (offset + 2 > record.size()) return 0;
  auto word = static_cast<std::uint16_t>(static_cast<unsigned char>(record[offset]) |
                                         static_cast<unsigned char>(record[offset + 1]) << 8);
  return static_cast<std::int16_t>(word);
}

void PutText(std::string& record, std::size_t offset, std::size_t width, std::string_view text) {
  std::memset(record.data() + offset, 0, width);
  std::memcpy(record.data() + offset, text.data(), std::min(text.size(), width - 1));
}

std::string GetText(std::string_view record, std::size_t offset, std::size_t width) {
  if (offset >= record.size()) return "";
  std::string_view field = record.substr(offset, width);
  return std::string(field.substr(0, std::min(field.find('\0'), field.size())));
}

void SwapClassRecord(std::string& record) {
  for (std::size_t offset = 92; offset <= 116; offset += 2) Swap16(record, offset);
  // The word at 254 is not among the converted ones: clients read it as it comes.
  for (std::size_t offset : {248, 250, 252, 256, 258, 260}) Swap16(record, offset);
  for (std::size_t offset = 262; offset <= 272; offset += 2) Swap16(record, offset);
}

void SwapStudentRecord(std::string& record) {
  for (std::size_t offset : {50, 58, 140, 144, 146, 148, 150, 538, 540, 542, 544, 546})
    Swap16(record, offset);
  for (std::size_t offset = 368; offset <= 382; offset += 2) Swap16(record, offset);
  Swap32(record, 54);
  Swap32(record, 384);
}

}  // namespace nuvel::tools::records_double
