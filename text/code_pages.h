// 8-bit and double-byte character sets: the Mac encodings that the language table names, and
// the Windows code pages that stand in for some of them.
//
// Conversions go through ICU converters, which stop at the first byte or character they cannot
// map (no substitution unless asked for). ICU has no converter for Mac Thai and Mac Arabic, so
// those two are read and written through tables of our own (kMacThai, kMacArabic below). ICU
// has no Mac Japanese, Mac Korean or Mac Chinese either: those four are read and written in the
// Windows code pages of the same scripts, which is also the form Korean and Chinese texts are
// stored in.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel::text {

/// The Mac encodings of the language table; the value is the table's code-page index.
enum class MacEncoding : int {
  kThai = 0,
  kJapanese = 1,
  kChineseSimplified = 2,
  kKorean = 3,
  kChineseTraditional = 4,
  kCentralEuropeanRoman = 5,
  kRoman = 6,
  kGreek = 7,
  kTurkish = 8,
  kArabic = 9,
};
inline constexpr int kMacEncodingCount = 10;

/// Character-set names understood by DecodeText and EncodeText besides ICU's own names.
inline constexpr std::string_view kMacThai = "mac-thai";
inline constexpr std::string_view kMacArabic = "mac-arabic";

/// The character set a Mac encoding is converted through: an ICU converter name, kMacThai,
/// kMacArabic, or for the Japanese, Korean and Chinese encodings the matching Windows code page.
std::string_view CharsetOf(MacEncoding encoding);

/// True for Mac Chinese Simplified, Mac Chinese Traditional and Mac Korean.
bool IsChineseOrKorean(MacEncoding encoding);

/// The Unicode code points of bytes 0x80 to 0xFF of Mac Thai and Mac Arabic (0 where the
/// encoding defines no character). Bytes below 0x80 are ASCII in both.
const std::array<char16_t, 128>& MacThaiUpperHalf();
const std::array<char16_t, 128>& MacArabicUpperHalf();

/// `bytes` read in `charset` ("UTF-8", an ICU converter name, kMacThai or kMacArabic);
/// nothing when a byte sequence is illegal or unmapped, or the converter cannot be opened.
std::optional<std::u16string> DecodeText(std::string_view charset, std::string_view bytes);

/// `text` written in `charset`. A character the set cannot hold makes the conversion fail, or,
/// with `substitute`, is written as the set's substitution character ("?" for our two tables).
std::optional<std::string> EncodeText(std::string_view charset, std::u16string_view text,
                                      bool substitute = false);

}  // namespace nuvel::text
