// The byte tables that convert 8-bit text line by line between a Windows code page and the Mac
// encoding of the same script, one pair per conversion family:
//   1 Thai              windows-874   and Mac Thai
//   2 Western European  windows-1252  and Mac Roman
//   3 Turkish           windows-1254  and Mac Turkish
//   4 Arabic            windows-1256  and Mac Arabic
//   5 Greek             windows-1253  and Mac Greek
//   6 Central European  windows-1250  and Mac Central European Roman
// A byte whose character exists in both sets becomes the other set's byte for it. The bytes
// left over on each side (characters the other set lacks) are paired with each other in
// ascending order, so each table is a permutation and the other table of its pair is its
// inverse: text converted one way and back comes back unchanged.
#pragma once

#include <array>
#include <string_view>

namespace nuvel::text {

using ByteTable = std::array<unsigned char, 256>;

/// The lowest and highest family numbers that have tables.
inline constexpr int kFirstTableFamily = 1;
inline constexpr int kLastTableFamily = 6;

/// The character sets of a family's pair, as DecodeText and EncodeText name them.
struct TableCharsets {
  std::string_view windows;
  std::string_view mac;
};

/// True when `family` has a pair of tables.
bool HasLineTables(int family);

/// The character sets of a family 1 to 6.
TableCharsets LineTableCharsets(int family);

/// The Windows-to-Mac and Mac-to-Windows tables of a family 1 to 6.
const ByteTable& WindowsToMacTable(int family);
const ByteTable& MacToWindowsTable(int family);

}  // namespace nuvel::text
