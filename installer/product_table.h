// The product table: what every product number (0 to 154) stands for.
//
// A product is named by its number, written "%03d" wherever it becomes part of a folder name, a
// key or a message. The table maps a number to its course code, title, kind and a few numbers
// carried with the row. It is fixed data compiled in from data/products.inc and built once, on
// the first call of GetProdNames (every query below calls it, so no caller sees an unbuilt table);
// being constant, it has no run state and nothing to reset between tests.
//
// A row whose class index is 0 is unknown to every query: row 0, the rows the data leaves empty,
// and the all-courses pseudo-product. Numbers below 0 or above 154 never index the table.
//
// The fixed numbers of each kind of product (placement and speaking tests, demo discs, classics,
// the all-courses pseudo-product, the teacher-training course) come from
// data/product_numbers.inc and are exported below.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nuvel::installer {

#include "data/product_numbers.inc"

inline constexpr int kMaxProduct = 154;                // the highest product number
inline constexpr std::size_t kProductSlots = 155;      // rows 0..154
inline constexpr int kMaxClassIndex = 79;              // class indexes run from 1 to 79
inline constexpr std::size_t kProductTitleMax = 49;    // a title field of 50 with its NUL
inline constexpr std::size_t kProductCodeLength = 3;   // two-letter codes end in a blank
inline constexpr std::size_t kProductFlagsLength = 4;  // each 'U', 'L', 'P', 'M', 'X' or '-'
inline constexpr std::size_t kMaxModulesPerPlan = 10;  // module numbers run from 1 to 10

enum class ProductKind : std::int16_t {
  kNormalCourse = 0,    // a course, reader, skill course, test, demo course or classic
  kVirtualProduct = 1,  // a certification plan made of virtual modules
  kVirtualModule = 2,   // one level of a certification plan
};

/// One row of the table. Strings point into the compiled-in data. The secondary index, the
/// flags, the three attributes and the byte flag are carried with the row; nothing in this
/// system interprets them.
struct ProductRecord {
  std::int32_t classIndex = 0;      // bit position in a class's product mask; 0: unknown row
  std::int32_t secondaryIndex = 0;  // editions of one course may share it
  ProductKind kind = ProductKind::kNormalCourse;
  std::int16_t moduleNumber = 0;   // virtual module: 1..10 within its plan; else 0
  std::int16_t parentProduct = 0;  // virtual module: its virtual product; else 0
  std::string_view code;           // three characters; empty in a row the data leaves empty
  std::string_view title;          // at most kProductTitleMax characters
  std::string_view flags;          // four flag characters
  std::array<std::uint16_t, 3> attributes{};
  std::int32_t sizeMB = 0;  // disk space the installed product needs
  std::uint8_t byteFlag = 0;

  bool operator==(const ProductRecord&) const = default;
};

/// The table, indexed directly by product number.
struct ProductTable {
  std::array<ProductRecord, kProductSlots> prodNames{};

  bool operator==(const ProductTable&) const = default;
};

/// Builds the table on the first call; later calls return the same table at once.
const ProductTable& GetProdNames();

/// The class index of `prod` (1..79); 0 for numbers outside 1..154, for unknown rows and for
/// the all-courses pseudo-product. The kids' placement test answers with the general
/// placement test's index.
int GetProdNumIndex(int prod);

/// 1 when `prod` is a known row of that kind, else 0 (also for numbers out of range).
int IsProductANormalCourse(int prod);
int IsProductAVirtualProduct(int prod);
int IsProductAVirtualModule(int prod);

/// The module number (1..10) / parent virtual product of a virtual module; 0 for other rows;
/// -1 for numbers below 0 or above 154.
int GetVirtualModuleID(int prod);
int GetVirtualProductID(int prod);

/// 1 for the numbers of the fixed lists, else 0. These go by number only.
int ProductIsAPlacementTest(int prod);
int ProductIsAPlacementTestButNotProficiencyTest(int prod);
int ProductIsASpeakingTest(int prod);
int ProductIsAPlacementTestOrSpeakingTest(int prod);
int ProductIsADemoDisc(int prod);
int ProductIsAClassic(int prod);

/// Writes the title of `prod` into `out`; for a number outside 1..154 or an unknown row,
/// "%03d (unknown)" with the number.
void GetProductName(std::string& out, int prod);

/// For the virtual products 80 to 83: 1, and `out` receives the courses the plan is made of as
/// three-digit numbers each followed by one blank ("001 002 ... "). 0 and an empty `out` for
/// every other number.
int GetBasedUponCourses(int prod, std::string& out);

/// The code of a known product; "???" (the unknown row's code) otherwise.
std::string_view ProductCode(int prod);

/// The disk space a known product needs, in megabytes; 0 otherwise.
int ProductSizeMB(int prod);

// ---- Products disabled for a class ----
//
// A class record keeps which products are disabled for its students in a 40-byte product field
// that directly follows another 40-byte field. Callers hand both fields over as one 80-byte
// span: bytes 0..39 the preceding field, bytes 40..79 the product field. The first 15 bytes of
// the product field are the mask: bit k of the mask is bit (k mod 8), counted from the least
// significant bit, of byte (k div 8), where k is the product's class index.

inline constexpr std::size_t kClassFieldBytes = 40;
inline constexpr std::size_t kClassMaskBytes = 15;

using ClassProductMask = std::array<unsigned char, kClassMaskBytes>;
using ClassProductFields = std::span<unsigned char, 2 * kClassFieldBytes>;

/// 1 if `prod` is disabled in `mask`. Products without a class index in 1..79 are always
/// disabled. The kids' placement test is switched by bit 7 of byte 9 (the class-index-79
/// position) so that it can be set apart from the general placement test it shares its index
/// with. For the teacher-training course a set bit means enabled, so its answer is inverted.
int IsProductDisabledForClass(const ClassProductMask& mask, int prod);

/// Copies the mask out of a class record's fields. A product field of forty '^' or all 0xCC is
/// an unfilled one and is cleared to zeros in the record first; when the preceding field then
/// starts with 0x00, 0xCC it is unfilled too and both fields are cleared together.
void GetProductsActiveForClass(ClassProductMask& out, ClassProductFields fields);

/// GetProductsActiveForClass followed by IsProductDisabledForClass (clearing an unfilled
/// record's fields in place in the same way).
int IsProductDisabledForTheClass(ClassProductFields fields, int prod);

}  // namespace nuvel::installer
