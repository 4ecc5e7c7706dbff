#include "records/password.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/ascii.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "ui/prompts.h"

namespace nuvel::records {
namespace {

constexpr unsigned char kBlankEscape = ' ';
constexpr unsigned char kHighEscape = '!';
constexpr unsigned char kMiddleEscape = '#';
// Escaped bytes are written as a character of 36 and above, so that an escape character never
// stands for itself.
constexpr unsigned char kFirstPlain = 36;

constexpr std::size_t kServerScrambledSize = kServerTextSize + 2;  // 24 bytes
constexpr std::size_t kServerBase64Size = 32;
// The answer form: 80 bytes make 27 Base64 groups, the last one padded with one "=".
constexpr std::size_t kAnswerBase64Size = 108;
constexpr std::string_view kFormSuffix = "__";

bool Connected() { return base::Run().Internet != 0; }

// The bytes of a fixed-size field up to its first NUL.
std::string FieldText(std::span<const unsigned char> field) {
  auto end = std::find(field.begin(), field.end(), 0);
  return std::string(field.begin(), end);
}

// Writes `text` into the field, NUL-padded (cut so that a NUL always follows).
void SetFieldText(std::span<unsigned char> field, std::string_view text) {
  std::fill(field.begin(), field.end(), 0);
  if (field.empty()) return;
  std::size_t n = std::min(text.size(), field.size() - 1);
  std::memcpy(field.data(), text.data(), n);
}

bool IsBase64Character(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// The server form of a field's text, without the connection test of the public functions.
void EncodeFieldToServerForm(std::span<unsigned char> field) {
  std::string text = FieldText(field);
  if (text.size() > kSQLPasswordMax) text.resize(kSQLPasswordMax);
  SetFieldText(field, EncodePlainText(kPasswordKey, text));
}

int DecodeServerFormField(std::span<unsigned char> field) {
  if (!FieldText(field).starts_with(kServerFormPrefix)) return 1;
  std::string stored = FieldText(field);
  if (stored == kFAQServerForm) {
    SetFieldText(field, kFAQText);
    return 1;
  }
  std::string clear;
  int ok = DecodePlainText(kPasswordKey, stored, clear);
  SetFieldText(field, clear);
  return ok;
}

// The connected variant of Decode: the first 40 bytes decoded, the rest copied.
int DecodeConnected(Block& out, const Block& block) {
  out = block;
  if (DecodeServerFormField(std::span(out).first(kSQLFieldSize))) return 1;
  out.fill(0);
  return 0;
}

int DecodeBinaryBlock(Block& out, unsigned char key, const Block& scrambled) {
  Block work = scrambled;
  if (!Unscramble(work, key)) {
    out.fill(0);
    return 0;
  }
  out = work;
  out[kBlockTextSize] = 0;
  out[kBlockTextSize + 1] = 0;
  return 1;
}

// Counts UTF-8 characters (bytes that do not continue a sequence).
std::size_t CharacterCount(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

std::uint16_t CheckValue(std::span<const unsigned char> scrambled) {
  std::uint16_t s = 0;
  for (unsigned char c : scrambled) s = static_cast<std::uint16_t>((s ^ c) + 100);
  return static_cast<std::uint16_t>(s * 8);
}

void Scramble(std::span<unsigned char> bytes, unsigned char key) {
  if (bytes.size() < 3) return;
  std::size_t n = bytes.size() - 2;
  unsigned char running = bytes[0];
  for (std::size_t i = 1; i < n; ++i) {
    running ^= bytes[i];
    bytes[i] = running ^ key;
  }
  std::uint16_t check = CheckValue(bytes.first(n));
  bytes[n] = static_cast<unsigned char>(check >> 8);
  bytes[n + 1] = static_cast<unsigned char>(check & 0xFF);
}

bool Unscramble(std::span<unsigned char> bytes, unsigned char key) {
  if (bytes.size() < 3) return false;
  std::size_t n = bytes.size() - 2;
  std::uint16_t stored = static_cast<std::uint16_t>((bytes[n] << 8) | bytes[n + 1]);
  if (CheckValue(bytes.first(n)) != stored) return false;
  // d[i] is the running XOR of the clear bytes up to i; each clear byte is the XOR of two
  // neighbouring running values.
  unsigned char previous = bytes[0];
  for (std::size_t i = 1; i < n; ++i) {
    unsigned char running = bytes[i] ^ key;
    bytes[i] = previous ^ running;
    previous = running;
  }
  return true;
}

std::string PrintableBlock(const Block& scrambled) {
  std::string text;
  text.reserve(kPrintableBlockMax);
  for (unsigned char b : scrambled) {
    if (b < kFirstPlain) {
      text += static_cast<char>(kBlankEscape);
      text += static_cast<char>(b + 36);
    } else if (b >= 164) {
      text += static_cast<char>(kHighEscape);
      text += static_cast<char>(b - 128);
    } else if (b >= 128) {
      text += static_cast<char>(kMiddleEscape);
      text += static_cast<char>(b - 92);
    } else {
      text += static_cast<char>(b);
    }
  }
  return text;
}

bool ParsePrintableBlock(std::string_view text, Block& scrambled) {
  Block bytes{};
  std::size_t at = 0;
  for (std::size_t i = 0; i < kBlockSize; ++i) {
    if (at >= text.size()) return false;
    unsigned char c = static_cast<unsigned char>(text[at++]);
    if (c != kBlankEscape && c != kHighEscape && c != kMiddleEscape) {
      // The escape characters are the only characters below 36 a printable form holds.
      if (c < kFirstPlain || c >= 128) return false;
      bytes[i] = c;
      continue;
    }
    if (at >= text.size()) return false;
    unsigned char next = static_cast<unsigned char>(text[at++]);
    switch (c) {
      case kBlankEscape:  // bytes 0..35
        if (next < 36 || next > 71) return false;
        bytes[i] = static_cast<unsigned char>(next - 36);
        break;
      case kMiddleEscape:  // bytes 128..163
        if (next < 36 || next > 71) return false;
        bytes[i] = static_cast<unsigned char>(next + 92);
        break;
      default:  // bytes 164..255
        if (next < 36 || next > 127) return false;
        bytes[i] = static_cast<unsigned char>(next + 128);
        break;
    }
  }
  if (at != text.size()) return false;
  scrambled = bytes;
  return true;
}

void Encode(unsigned char key, Block& block) {
  if (Connected()) {
    EncodeSQLPassword(std::span(block).first(kSQLFieldSize));
    return;
  }
  Scramble(block, key);
}

std::string EncodePrintable(unsigned char key, const Block& block) {
  Block work = block;
  if (Connected()) {
    EncodeSQLPassword(std::span(work).first(kSQLFieldSize));
    return FieldText(std::span(work).first(kSQLFieldSize));
  }
  Scramble(work, key);
  return PrintableBlock(work);
}

int Decode(Block& out, unsigned char key, const Block& block) {
  if (Connected()) return DecodeConnected(out, block);
  return DecodeBinaryBlock(out, key, block);
}

int Decode(Block& out, unsigned char key, std::string_view text) {
  if (Connected()) {
    Block block{};
    std::memcpy(block.data(), text.data(), std::min(text.size(), kBlockSize));
    return DecodeConnected(out, block);
  }
  Block scrambled{};
  if (!ParsePrintableBlock(text, scrambled)) {
    out.fill(0);
    return 0;
  }
  return DecodeBinaryBlock(out, key, scrambled);
}

std::string EncodePlainText(unsigned char key, std::string_view text) {
  std::string upper = base::UpperAscii(text.substr(0, kPlainTextMax));
  std::array<unsigned char, kServerScrambledSize> bytes{};
  std::memcpy(bytes.data(), upper.data(), std::min(upper.size(), kServerTextSize));
  Scramble(bytes, key);

  // 24 bytes make exactly 32 Base64 characters, without padding or line end.
  unsigned char encoded[kServerBase64Size + 1] = {};
  int length = EVP_EncodeBlock(encoded, bytes.data(), static_cast<int>(bytes.size()));
  std::string result(kServerFormPrefix);
  result.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
  result += "__";
  return result;
}

int DecodePlainText(unsigned char key, std::string_view text, std::string& out) {
  out.clear();
  constexpr std::size_t kStart = kServerFormPrefix.size();
  if (text.size() < kStart + kServerBase64Size) return 0;
  std::string_view base64 = text.substr(kStart, kServerBase64Size);
  // EVP_DecodeBlock skips blanks and accepts "=" padding while still reporting a padded length;
  // the server form has neither, so anything outside the alphabet is a malformed text.
  if (!std::all_of(base64.begin(), base64.end(), IsBase64Character)) return 0;
  unsigned char decoded[kServerScrambledSize] = {};
  int length = EVP_DecodeBlock(decoded, reinterpret_cast<const unsigned char*>(base64.data()),
                               static_cast<int>(base64.size()));
  if (length != static_cast<int>(kServerScrambledSize)) return 0;
  if (!Unscramble(decoded, key)) return 0;
  out = FieldText(std::span<const unsigned char>(decoded, kServerTextSize));
  return 1;
}

std::string EncodeAnswerPassword(std::string_view password) {
  std::string_view text = password.substr(0, kMaxPasswordBytes);
  Block block{};
  for (std::size_t i = 0; i < kBlockSize; ++i) block[i] = static_cast<unsigned char>('A' + i % 26);
  std::memcpy(block.data(), text.data(), text.size());
  block[text.size()] = 0;
  block[kPasswordFlagOffset] = 0;
  Scramble(block, kPasswordKey);
  unsigned char encoded[kAnswerBase64Size + 1] = {};
  int length = EVP_EncodeBlock(encoded, block.data(), static_cast<int>(block.size()));
  std::string result(kServerFormPrefix);
  result.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
  result += kFormSuffix;
  return result;
}

int DecodeAnswerPassword(std::string_view text, std::string& password) {
  password.clear();
  const std::size_t start = kServerFormPrefix.size();
  if (text.substr(0, start) != kServerFormPrefix) return 0;
  if (text.size() == start + kServerBase64Size + kFormSuffix.size() &&
      text.substr(start + kServerBase64Size) == kFormSuffix) {
    return DecodePlainText(kPasswordKey, text, password);
  }
  if (text.size() != start + kAnswerBase64Size + kFormSuffix.size() ||
      text.substr(start + kAnswerBase64Size) != kFormSuffix) {
    return 0;
  }
  std::string_view base64 = text.substr(start, kAnswerBase64Size);
  // One "=" of padding ends the text, and nothing else outside the alphabet appears.
  if (base64.back() != '=' || !std::all_of(base64.begin(), base64.end() - 1, IsBase64Character)) {
    return 0;
  }
  unsigned char decoded[kBlockSize + 1] = {};
  int length = EVP_DecodeBlock(decoded, reinterpret_cast<const unsigned char*>(base64.data()),
                               static_cast<int>(base64.size()));
  if (length != static_cast<int>(kBlockSize + 1)) return 0;
  Block block{};
  std::memcpy(block.data(), decoded, kBlockSize);
  if (!Unscramble(block, kPasswordKey)) return 0;
  password = FieldText(std::span<const unsigned char>(block.data(), kPasswordFlagOffset));
  return 1;
}

std::string RecordedPasswordForm(std::string_view typed) {
  std::string clear;
  return DecodeAnswerPassword(typed, clear) ? std::string(typed) : EncodeAnswerPassword(typed);
}

void EncodeSQLPassword(std::span<unsigned char> field) {
  if (field.size() != kSQLFieldSize) return;
  EncodeFieldToServerForm(field);
}

int DecodeSQLPassword(std::span<unsigned char> field) {
  if (field.size() != kSQLFieldSize) return 0;
  if (!Connected()) return 1;
  return DecodeServerFormField(field);
}

int EncodeThePassword(std::string& out, std::string_view password, unsigned char flag) {
  std::string_view stored = password.empty() ? kNoPassword : password;
  std::string_view text = stored.substr(0, kPasswordFlagOffset - 1);
  Block block{};
  for (std::size_t i = 0; i < kBlockSize; ++i) block[i] = static_cast<unsigned char>('A' + i % 26);
  std::memcpy(block.data(), text.data(), text.size());
  block[text.size()] = 0;
  block[kPasswordFlagOffset] = flag;
  Scramble(block, kPasswordKey);
  out = PrintableBlock(block);

  std::string check_password;
  unsigned char check_flag = 0;
  return DecodeThePassword(out, check_password, check_flag) && check_password == stored &&
                 check_flag == flag
             ? 1
             : 0;
}

int DecodeThePassword(std::string_view encoded, std::string& password, unsigned char& flag) {
  password.clear();
  flag = 0;
  Block scrambled{};
  Block clear{};
  if (!ParsePrintableBlock(encoded, scrambled) ||
      !DecodeBinaryBlock(clear, kPasswordKey, scrambled)) {
    return 0;
  }
  password = FieldText(std::span<const unsigned char>(clear.data(), kPasswordFlagOffset));
  flag = clear[kPasswordFlagOffset];
  return 1;
}

int EncryptClassPassword(std::span<unsigned char> record, int encrypt, int server_level) {
  if (record.size() < kClassRecordMinSize) return 0;
  if (server_level >= 2) {
    int ok = 1;
    for (std::size_t offset :
         {kClassPasswordOffset, kClassPassword2Offset, kClassProtectedTextOffset}) {
      std::span<unsigned char> field = record.subspan(offset, kSQLFieldSize);
      if (!encrypt) {
        ok &= DecodeServerFormField(field);
      } else if (FieldText(field).starts_with(kServerFormPrefix)) {
        continue;  // already scrambled
      } else if (FieldText(field) == kFAQText) {
        SetFieldText(field, kFAQServerForm);
      } else {
        EncodeFieldToServerForm(field);
      }
    }
    return ok;
  }

  std::uint16_t flags = 0;
  std::memcpy(&flags, record.data() + kClassFlagsOffset, sizeof flags);
  bool scrambled = (flags & kClassFlagScrambled) != 0;
  std::span<unsigned char> block = record.subspan(kClassPasswordOffset, kBlockSize);
  if (encrypt && !scrambled) {
    Scramble(block, kPasswordKey);
    flags |= kClassFlagScrambled;
  } else if (!encrypt && scrambled) {
    if (!Unscramble(block, kPasswordKey)) return 0;
    block[kBlockTextSize] = 0;
    block[kBlockTextSize + 1] = 0;
    flags &= static_cast<std::uint16_t>(~kClassFlagScrambled);
  }
  std::memcpy(record.data() + kClassFlagsOffset, &flags, sizeof flags);
  return 1;
}

int CheckValidPassword(std::string_view password, int strength, int tell) {
  const bool too_long = password.size() > kMaxPasswordBytes;
  if (!too_long && (strength <= 1 || password.empty())) return 1;
  std::vector<std::string_view> problems;
  if (too_long || (strength > 1 && CharacterCount(password) < 6)) {
    problems.push_back("MSG_InvalidPasswordlength");
  }
  bool digit =
      std::any_of(password.begin(), password.end(), [](char c) { return c >= '0' && c <= '9'; });
  bool other =
      std::any_of(password.begin(), password.end(), [](char c) { return c < '0' || c > '9'; });
  if (strength > 1 && (!digit || !other)) problems.push_back("MSG_InvalidPasswordAlphaNum");
  if (problems.empty()) return 1;
  if (tell) {
    std::string message = base::Localize(problems[0]);
    if (problems.size() > 1) message += "  " + base::Localize(problems[1]);
    ui::Ask({.id = std::string(problems[0]), .message = message, .buttons = {"MSG_Button_OK"}});
  }
  return 0;
}

void EncodeString(std::span<unsigned char> bytes) {
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(255 - b);
}

void EncodeString(std::string& text) {
  EncodeString(std::span(reinterpret_cast<unsigned char*>(text.data()), text.size()));
}

int EncodeStringIni(std::string& line) {
  for (std::string_view marker : kIniMarkers) {
    if (line.find(marker) != std::string::npos) return 0;
  }
  EncodeString(line);
  return 1;
}

std::string ScrambleName(std::string_view name) {
  std::size_t characters = 0;
  std::size_t end = 0;
  while (end < name.size()) {
    if ((static_cast<unsigned char>(name[end]) & 0xC0) != 0x80 && characters++ == 3) break;
    ++end;
  }
  return std::string(name.substr(0, end));
}

}  // namespace nuvel::records
