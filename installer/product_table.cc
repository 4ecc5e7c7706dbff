#include "installer/product_table.h"

#include <algorithm>
#include <cstdio>

namespace nuvel::installer {
namespace {

struct ProductRow {
  int number;
  ProductRecord record;
};

struct BasedUponList {
  int plan;
  std::string_view courses;
};

constexpr ProductKind kCourse = ProductKind::kNormalCourse;
constexpr ProductKind kPlan = ProductKind::kVirtualProduct;
constexpr ProductKind kModule = ProductKind::kVirtualModule;

#include "data/products.inc"

// The code field holds four characters and its NUL; every code we ship has three.
constexpr std::size_t kCodeFieldMax = 4;

// The strings of a row are cut to their field widths (the NUL of each field not counted).
ProductTable BuildProductTable() {
  ProductTable table;
  for (const ProductRow& row : kProductRows) {
    if (row.number < 0 || row.number > kMaxProduct) continue;
    ProductRecord record = row.record;
    record.code = record.code.substr(0, kCodeFieldMax);
    record.title = record.title.substr(0, kProductTitleMax);
    record.flags = record.flags.substr(0, kProductFlagsLength);
    table.prodNames[static_cast<std::size_t>(row.number)] = record;
  }
  return table;
}

bool InRange(int prod) { return prod >= 0 && prod <= kMaxProduct; }

// The record of a known product (a number in 1..154 whose row has a class index), else null.
const ProductRecord* KnownRecord(int prod) {
  if (prod < 1 || prod > kMaxProduct) return nullptr;
  const ProductRecord& record = GetProdNames().prodNames[static_cast<std::size_t>(prod)];
  return record.classIndex != 0 ? &record : nullptr;
}

template <std::size_t N>
bool Listed(const std::array<int, N>& numbers, int prod) {
  return std::find(numbers.begin(), numbers.end(), prod) != numbers.end();
}

int IsKind(int prod, ProductKind kind) {
  const ProductRecord* record = KnownRecord(prod);
  return record != nullptr && record->kind == kind ? 1 : 0;
}

// A product field that was never filled in: forty '^' or forty 0xCC.
bool IsUnfilledProductField(std::span<const unsigned char, kClassFieldBytes> field) {
  auto all = [&](unsigned char value) {
    return std::all_of(field.begin(), field.end(), [&](unsigned char c) { return c == value; });
  };
  return all('^') || all(0xCC);
}

}  // namespace

const ProductTable& GetProdNames() {
  static const ProductTable table = BuildProductTable();
  return table;
}

int GetProdNumIndex(int prod) {
  const ProductRecord* record = KnownRecord(prod);
  return record != nullptr ? record->classIndex : 0;
}

int IsProductANormalCourse(int prod) { return IsKind(prod, ProductKind::kNormalCourse); }
int IsProductAVirtualProduct(int prod) { return IsKind(prod, ProductKind::kVirtualProduct); }
int IsProductAVirtualModule(int prod) { return IsKind(prod, ProductKind::kVirtualModule); }

int GetVirtualModuleID(int prod) {
  if (!InRange(prod)) return -1;
  return GetProdNames().prodNames[static_cast<std::size_t>(prod)].moduleNumber;
}

int GetVirtualProductID(int prod) {
  if (!InRange(prod)) return -1;
  return GetProdNames().prodNames[static_cast<std::size_t>(prod)].parentProduct;
}

int ProductIsAPlacementTest(int prod) { return Listed(kPlacementTests, prod) ? 1 : 0; }

int ProductIsAPlacementTestButNotProficiencyTest(int prod) {
  return ProductIsAPlacementTest(prod) && prod != kProficiencyTest ? 1 : 0;
}

int ProductIsASpeakingTest(int prod) { return Listed(kSpeakingTests, prod) ? 1 : 0; }

int ProductIsAPlacementTestOrSpeakingTest(int prod) {
  return ProductIsAPlacementTest(prod) || ProductIsASpeakingTest(prod) ? 1 : 0;
}

int ProductIsADemoDisc(int prod) { return Listed(kDemoDiscs, prod) ? 1 : 0; }
int ProductIsAClassic(int prod) { return Listed(kClassics, prod) ? 1 : 0; }

void GetProductName(std::string& out, int prod) {
  if (const ProductRecord* record = KnownRecord(prod)) {
    out.assign(record->title);
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%03d (unknown)", prod);
  out.assign(text);
}

int GetBasedUponCourses(int prod, std::string& out) {
  out.clear();
  for (const BasedUponList& list : kBasedUponLists) {
    if (list.plan == prod) {
      out.assign(list.courses);
      return 1;
    }
  }
  return 0;
}

std::string_view ProductCode(int prod) {
  const ProductRecord* record = KnownRecord(prod);
  return record != nullptr ? record->code : GetProdNames().prodNames[0].code;
}

int ProductSizeMB(int prod) {
  const ProductRecord* record = KnownRecord(prod);
  return record != nullptr ? record->sizeMB : 0;
}

int IsProductDisabledForClass(const ClassProductMask& mask, int prod) {
  int index = GetProdNumIndex(prod);
  if (index < 1 || index > kMaxClassIndex) return 1;
  // The kids' placement test shares the general test's index, so a class switches it through
  // the otherwise unused position of index 79.
  if (prod == kKidsPlacementTest) index = kMaxClassIndex;
  const bool bit = (mask[static_cast<std::size_t>(index / 8)] >> (index % 8)) & 1;
  // For the teacher-training course the bit grants the course instead of withholding it.
  if (prod == kTeacherTraining) return bit ? 0 : 1;
  return bit ? 1 : 0;
}

void GetProductsActiveForClass(ClassProductMask& out, ClassProductFields fields) {
  auto preceding = fields.first<kClassFieldBytes>();
  auto products = fields.last<kClassFieldBytes>();
  if (IsUnfilledProductField(products)) {
    if (preceding[0] == 0x00 && preceding[1] == 0xCC) {
      std::fill(fields.begin(), fields.end(), 0);
    } else {
      std::fill(products.begin(), products.end(), 0);
    }
  }
  std::copy_n(products.begin(), kClassMaskBytes, out.begin());
}

int IsProductDisabledForTheClass(ClassProductFields fields, int prod) {
  ClassProductMask mask{};
  GetProductsActiveForClass(mask, fields);
  return IsProductDisabledForClass(mask, prod);
}

}  // namespace nuvel::installer
