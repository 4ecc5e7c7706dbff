#include "text/utf8.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

namespace nuvel::text {

bool IsUTF8TrailByte(unsigned char b) { return (b & 0xC0) == 0x80; }

int GetUTF8SizeFromLeadByte(unsigned char b) {
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0) return 2;
  if ((b & 0xF0) == 0xE0) return 3;
  if ((b & 0xF8) == 0xF0) return 4;
  return 0;
}

std::size_t GetUTF8Truncation(std::string_view text, int size) {
  if (size < 1) return 0;
  const std::size_t limit = std::min(text.size(), static_cast<std::size_t>(size - 1));
  if (limit == text.size() || limit == 0) return limit;
  std::size_t lead = limit - 1;
  while (lead > 0 && IsUTF8TrailByte(static_cast<unsigned char>(text[lead]))) --lead;
  const auto length =
      static_cast<std::size_t>(GetUTF8SizeFromLeadByte(static_cast<unsigned char>(text[lead])));
  return length != 0 && lead + length <= limit ? lead + length : lead;
}

int CountUTF8Characters(std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t i = 0;
  int count = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) return 0;
    ++count;
  }
  return count;
}

bool IsAValidUTF8UnicodeString(std::string_view text) {
  return text.empty() || CountUTF8Characters(text) > 0;
}

int CountCharacters(std::string_view text) {
  const int characters = CountUTF8Characters(text);
  return characters > 0 || text.empty() ? characters : static_cast<int>(text.size());
}

}  // namespace nuvel::text
