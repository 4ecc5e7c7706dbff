#include "text/code_pages.h"

#include <unicode/ucnv.h>
#include <unicode/utypes.h>

#include <memory>

namespace nuvel::text {
namespace {

// Mac Thai, bytes 0x80 to 0xFF, from the public mapping definition of the encoding. Bytes 0x83
// to 0x8C, 0x8F and 0x92 to 0x9C are presentation forms of the tone marks and upper vowels
// (shifted left or lowered glyphs); they are read as the plain mark, and the plain mark is
// written at its usual place (0xD1 to 0xED). 0xDB is the word joiner, 0xDC the zero-width
// space. 0x90, 0x9F and 0xFC to 0xFF are not defined.
// clang-format off
constexpr std::array<char16_t, 128> kMacThaiUpper = {
    0x00AB, 0x00BB, 0x2026, 0x0E48, 0x0E49, 0x0E4A, 0x0E4B, 0x0E4C,  // 0x80
    0x0E48, 0x0E49, 0x0E4A, 0x0E4B, 0x0E4C, 0x201C, 0x201D, 0x0E4D,  // 0x88
    0x0000, 0x2022, 0x0E31, 0x0E47, 0x0E34, 0x0E35, 0x0E36, 0x0E37,  // 0x90
    0x0E48, 0x0E49, 0x0E4A, 0x0E4B, 0x0E4C, 0x2018, 0x2019, 0x0000,  // 0x98
    0x00A0, 0x0E01, 0x0E02, 0x0E03, 0x0E04, 0x0E05, 0x0E06, 0x0E07,  // 0xA0
    0x0E08, 0x0E09, 0x0E0A, 0x0E0B, 0x0E0C, 0x0E0D, 0x0E0E, 0x0E0F,  // 0xA8
    0x0E10, 0x0E11, 0x0E12, 0x0E13, 0x0E14, 0x0E15, 0x0E16, 0x0E17,  // 0xB0
    0x0E18, 0x0E19, 0x0E1A, 0x0E1B, 0x0E1C, 0x0E1D, 0x0E1E, 0x0E1F,  // 0xB8
    0x0E20, 0x0E21, 0x0E22, 0x0E23, 0x0E24, 0x0E25, 0x0E26, 0x0E27,  // 0xC0
    0x0E28, 0x0E29, 0x0E2A, 0x0E2B, 0x0E2C, 0x0E2D, 0x0E2E, 0x0E2F,  // 0xC8
    0x0E30, 0x0E31, 0x0E32, 0x0E33, 0x0E34, 0x0E35, 0x0E36, 0x0E37,  // 0xD0
    0x0E38, 0x0E39, 0x0E3A, 0x2060, 0x200B, 0x2013, 0x2014, 0x0E3F,  // 0xD8
    0x0E40, 0x0E41, 0x0E42, 0x0E43, 0x0E44, 0x0E45, 0x0E46, 0x0E47,  // 0xE0
    0x0E48, 0x0E49, 0x0E4A, 0x0E4B, 0x0E4C, 0x0E4D, 0x2122, 0x0E4F,  // 0xE8
    0x0E50, 0x0E51, 0x0E52, 0x0E53, 0x0E54, 0x0E55, 0x0E56, 0x0E57,  // 0xF0
    0x0E58, 0x0E59, 0x00AE, 0x00A9, 0x0000, 0x0000, 0x0000, 0x0000,  // 0xF8
};
// clang-format on

// Mac Arabic, bytes 0x80 to 0xFF, from the public mapping definition of the encoding. 0x80 to
// 0x9F are accented Latin letters and punctuation; 0xA0 to 0xAF, 0xBA to 0xBE, 0xDB to 0xDF and
// 0xFB to 0xFD repeat ASCII punctuation as right-to-left characters, read as the ASCII character
// (which is written as its ASCII byte); the rest are the Arabic letters, digits and marks and
// the letters added for Persian and Urdu.
// clang-format off
constexpr std::array<char16_t, 128> kMacArabicUpper = {
    0x00C4, 0x00A0, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 0x80
    0x00E0, 0x00E2, 0x00E4, 0x06BA, 0x00AB, 0x00E7, 0x00E9, 0x00E8,  // 0x88
    0x00EA, 0x00EB, 0x00ED, 0x2026, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 0x90
    0x00BB, 0x00F4, 0x00F6, 0x00F7, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 0x98
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x066A, 0x0026, 0x0027,  // 0xA0
    0x0028, 0x0029, 0x002A, 0x002B, 0x060C, 0x002D, 0x002E, 0x002F,  // 0xA8
    0x0660, 0x0661, 0x0662, 0x0663, 0x0664, 0x0665, 0x0666, 0x0667,  // 0xB0
    0x0668, 0x0669, 0x003A, 0x061B, 0x003C, 0x003D, 0x003E, 0x061F,  // 0xB8
    0x274A, 0x0621, 0x0622, 0x0623, 0x0624, 0x0625, 0x0626, 0x0627,  // 0xC0
    0x0628, 0x0629, 0x062A, 0x062B, 0x062C, 0x062D, 0x062E, 0x062F,  // 0xC8
    0x0630, 0x0631, 0x0632, 0x0633, 0x0634, 0x0635, 0x0636, 0x0637,  // 0xD0
    0x0638, 0x0639, 0x063A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  // 0xD8
    0x0640, 0x0641, 0x0642, 0x0643, 0x0644, 0x0645, 0x0646, 0x0647,  // 0xE0
    0x0648, 0x0649, 0x064A, 0x064B, 0x064C, 0x064D, 0x064E, 0x064F,  // 0xE8
    0x0650, 0x0651, 0x0652, 0x067E, 0x0679, 0x0686, 0x06D5, 0x06A4,  // 0xF0
    0x06AF, 0x0688, 0x0691, 0x007B, 0x007C, 0x007D, 0x0698, 0x06D2,  // 0xF8
};
// clang-format on

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter Open(std::string_view charset) {
  UErrorCode status = U_ZERO_ERROR;
  Converter converter(ucnv_open(std::string(charset).c_str(), &status));
  if (U_FAILURE(status)) return nullptr;
  return converter;
}

const std::array<char16_t, 128>* OwnTable(std::string_view charset) {
  if (charset == kMacThai) return &kMacThaiUpper;
  if (charset == kMacArabic) return &kMacArabicUpper;
  return nullptr;
}

// The byte of one of our tables for code point `c`: ASCII stands for itself; of several upper
// bytes with the same character, the last one is the plain form (see the tables).
std::optional<unsigned char> TableByte(const std::array<char16_t, 128>& upper, char16_t c) {
  if (c < 0x80) return static_cast<unsigned char>(c);
  for (int i = 127; i >= 0; --i) {
    if (upper[i] == c) return static_cast<unsigned char>(0x80 + i);
  }
  return std::nullopt;
}

}  // namespace

std::string_view CharsetOf(MacEncoding encoding) {
  switch (encoding) {
    case MacEncoding::kThai:
      return kMacThai;
    case MacEncoding::kJapanese:
      return "windows-932";
    case MacEncoding::kChineseSimplified:
      return "windows-936-2000";
    case MacEncoding::kKorean:
      return "windows-949-2000";
    case MacEncoding::kChineseTraditional:
      return "windows-950-2000";
    case MacEncoding::kCentralEuropeanRoman:
      return "x-mac-centraleurroman";
    case MacEncoding::kRoman:
      return "macintosh";
    case MacEncoding::kGreek:
      return "x-mac-greek";
    case MacEncoding::kTurkish:
      return "x-mac-turkish";
    case MacEncoding::kArabic:
      return kMacArabic;
  }
  return "macintosh";
}

bool IsChineseOrKorean(MacEncoding encoding) {
  return encoding == MacEncoding::kChineseSimplified ||
         encoding == MacEncoding::kChineseTraditional || encoding == MacEncoding::kKorean;
}

const std::array<char16_t, 128>& MacThaiUpperHalf() { return kMacThaiUpper; }
const std::array<char16_t, 128>& MacArabicUpperHalf() { return kMacArabicUpper; }

std::optional<std::u16string> DecodeText(std::string_view charset, std::string_view bytes) {
  if (const auto* upper = OwnTable(charset)) {
    std::u16string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
      const auto b = static_cast<unsigned char>(ch);
      const char16_t c = b < 0x80 ? b : (*upper)[b - 0x80];
      if (b != 0 && c == 0) return std::nullopt;
      out.push_back(c);
    }
    return out;
  }
  Converter converter = Open(charset);
  if (!converter) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  // One byte never gives more than two UTF-16 units (a supplementary character).
  std::u16string out(bytes.size() * 2 + 1, u'\0');
  const int32_t length =
      ucnv_toUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                    static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(length));
  return out;
}

std::optional<std::string> EncodeText(std::string_view charset, std::u16string_view text,
                                      bool substitute) {
  if (const auto* upper = OwnTable(charset)) {
    std::string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
      const std::optional<unsigned char> b = TableByte(*upper, c);
      if (!b && !substitute) return std::nullopt;
      out.push_back(static_cast<char>(b.value_or('?')));
    }
    return out;
  }
  Converter converter = Open(charset);
  if (!converter) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  if (!substitute) {
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &status);
  }
  const auto* source = reinterpret_cast<const UChar*>(text.data());
  const auto source_length = static_cast<int32_t>(text.size());
  const int32_t needed =
      ucnv_fromUChars(converter.get(), nullptr, 0, source, source_length, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
  status = U_ZERO_ERROR;
  std::string out(static_cast<std::size_t>(needed) + 1, '\0');
  ucnv_resetFromUnicode(converter.get());
  const int32_t length =
      ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), source,
                      source_length, &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(length));
  return out;
}

}  // namespace nuvel::text
