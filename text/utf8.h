// Checking, measuring and cutting UTF-8 text. Texts are byte strings; a valid text is
// well-formed UTF-8 (no overlong forms, surrogates or code points above U+10FFFF).
#pragma once

#include <cstddef>
#include <string_view>

namespace nuvel::text {

/// True for a continuation byte (10xxxxxx).
bool IsUTF8TrailByte(unsigned char b);

/// The length of the sequence a byte starts: 1 below 0x80, 2 for 110xxxxx, 3 for 1110xxxx,
/// 4 for 11110xxx, 0 for anything else (a continuation byte or 0xF8 and above).
int GetUTF8SizeFromLeadByte(unsigned char b);

/// The length to keep so that the text fits a buffer of `size` bytes with its terminating NUL
/// (at most `size` - 1) without cutting a character in two: when the text is longer, the cut
/// goes back over continuation bytes to the character's lead byte and falls after that
/// character when it is complete within the limit, before it otherwise. 0 when `size` < 1.
std::size_t GetUTF8Truncation(std::string_view text, int size);

/// The number of characters of the text read as UTF-8; 0 when it is not valid UTF-8.
int CountUTF8Characters(std::string_view text);

/// True for an empty text or valid UTF-8.
bool IsAValidUTF8UnicodeString(std::string_view text);

/// The number of characters when the text is valid UTF-8, else its number of bytes.
int CountCharacters(std::string_view text);

}  // namespace nuvel::text
