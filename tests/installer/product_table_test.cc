#include "installer/product_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace nuvel::installer {
namespace {

const ProductRecord& Row(int prod) { return GetProdNames().prodNames.at(prod); }

// Product numbers 1..154 whose rows carry a class index.
std::vector<int> KnownProducts() {
  std::vector<int> known;
  for (int prod = 1; prod <= kMaxProduct; ++prod)
    if (Row(prod).classIndex != 0) known.push_back(prod);
  return known;
}

// Numbers out of range, the filled row without a class index (all courses) and the empty rows of
// the demo discs are unknown to every query; names show the number with three digits.
TEST(ProductQueries, OnlyNumbersWithAKnownRowAnswerFromTheirRow) {
  std::vector<std::pair<int, std::string>> cases = {{-1, "-01 (unknown)"},
                                                    {0, "000 (unknown)"},
                                                    {155, "155 (unknown)"},
                                                    {kAllCourses, "070 (unknown)"}};
  for (int demo : kDemoDiscs) cases.emplace_back(demo, std::to_string(demo) + " (unknown)");
  for (const auto& [prod, name] : cases) {
    SCOPED_TRACE(prod);
    std::string got;
    GetProductName(got, prod);
    EXPECT_EQ(got, name);
    EXPECT_EQ(GetProdNumIndex(prod), 0);
    EXPECT_EQ(IsProductANormalCourse(prod), 0);
    EXPECT_EQ(ProductSizeMB(prod), 0);
    EXPECT_EQ(ProductCode(prod), "???");
    EXPECT_EQ(IsProductDisabledForClass(ClassProductMask{}, prod), 1);
  }
  for (int prod : {-1, 155}) {
    EXPECT_EQ(GetVirtualModuleID(prod), -1) << prod;
    EXPECT_EQ(GetVirtualProductID(prod), -1) << prod;
  }
  EXPECT_EQ(GetVirtualModuleID(0), 0) << "row 0 is in the table and belongs to no plan";

  for (int prod : KnownProducts()) {
    EXPECT_GT(ProductSizeMB(prod), 0) << prod << " would install with no space checked";
  }
  std::string title;
  GetProductName(title, 7);
  EXPECT_EQ(title, "English for Travellers");
  EXPECT_EQ(ProductCode(7), "ETR");
  EXPECT_EQ(ProductSizeMB(7), 820);
  EXPECT_EQ(GetProdNumIndex(50), 25);
  EXPECT_EQ(GetProdNumIndex(kKidsPlacementTest), GetProdNumIndex(kGeneralPlacementTest));
  EXPECT_EQ(ProductIsAPlacementTestButNotProficiencyTest(kProficiencyTest), 0);
}

// Bits count from the least significant bit of each byte (class index 7 is 0x80 of byte 0); the
// kids' placement test (121) shares the general test's index 31 and is switched by index 79; for
// teacher training (50, index 25) the bit grants the course instead of withholding it.
TEST(ClassProductMask, EachBitDisablesOnlyTheProductsOfItsIndex) {
  struct Case {
    int byte;
    unsigned char bits;
    int prod;
    int disabled;
  };
  const Case cases[] = {
      {0, 0x80, 7, 1},   {0, 0x01, 7, 0},   {0, 0x80, 9, 0},   {1, 0x02, 9, 1},
      {0, 0x01, 120, 0}, {3, 0x80, 120, 1}, {3, 0x80, 121, 0}, {9, 0x80, 121, 1},
      {9, 0x80, 120, 0}, {3, 0x02, 50, 0},  {0, 0x00, 50, 1},  {3, 0x80, 50, 1},
  };
  for (const Case& c : cases) {
    ClassProductMask mask{};
    mask[c.byte] = c.bits;
    EXPECT_EQ(IsProductDisabledForClass(mask, c.prod), c.disabled)
        << "product " << c.prod << " with byte " << c.byte << " = " << int{c.bits};
  }
}

// Bytes 0..39 are the preceding field, 40..79 the product field. Forty '^' or forty 0xCC mean
// the product field was never filled in: it is cleared in the record, and the preceding field
// with it when that one starts 0x00 0xCC. Otherwise the mask is its first fifteen bytes. The
// combined query reads the same fields.
TEST(ClassProductMask, ReadFromTheClassRecordFields) {
  std::array<unsigned char, 80> fields{};
  auto preceding = std::span(fields).first<40>();
  auto products = std::span(fields).last<40>();
  auto mask = [&] {
    ClassProductMask out;
    out.fill(0xEE);
    GetProductsActiveForClass(out, fields);
    return out;
  };
  std::ranges::fill(preceding, 'p');
  std::ranges::fill(products, '^');
  EXPECT_EQ(mask(), ClassProductMask{});
  EXPECT_EQ(std::ranges::count(products, 0), 40);
  EXPECT_EQ(std::ranges::count(preceding, 'p'), 40) << "a filled-in preceding field is kept";

  std::ranges::fill(preceding, 0xCC);
  preceding[0] = 0x00;
  std::ranges::fill(products, '^');
  products[39] = 0;  // one byte short of unfilled
  ClassProductMask carets;
  carets.fill('^');
  EXPECT_EQ(mask(), carets);
  EXPECT_EQ(preceding[1], 0xCC);

  std::ranges::fill(products, 0xCC);
  EXPECT_EQ(mask(), ClassProductMask{});
  EXPECT_EQ(std::ranges::count(fields, 0), 80) << "the preceding field 00 CC .. is cleared too";

  for (size_t i = 0; i < 40; ++i) products[i] = static_cast<unsigned char>(i + 1);
  std::ranges::fill(preceding, 0xFF);  // bits here must not count
  ClassProductMask expected;
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<unsigned char>(i + 1);
  EXPECT_EQ(mask(), expected);

  std::ranges::fill(products, 0xFF);
  EXPECT_EQ(IsProductDisabledForTheClass(fields, kGeneralPlacementTest), 1);
  std::ranges::fill(products, '^');
  EXPECT_EQ(IsProductDisabledForTheClass(fields, kGeneralPlacementTest), 0);
}

// ---- The data we ship ----

// Every filled row has a three-letter code; class indexes are unique, and the modules of each
// plan are numbered 1, 2, ... without a gap.
TEST(ProductData, RowsAreWellFormed) {
  int filled = 0;
  std::map<int, int> owner;
  std::map<int, std::set<int>> modules_of;
  for (int prod = 0; prod <= kMaxProduct; ++prod) {
    const ProductRecord& row = Row(prod);
    SCOPED_TRACE(prod);
    if (row.kind == ProductKind::kVirtualModule) {
      EXPECT_EQ(IsProductAVirtualProduct(row.parentProduct), 1) << "parent " << row.parentProduct;
      EXPECT_GE(row.moduleNumber, 1);
      EXPECT_TRUE(modules_of[row.parentProduct].insert(row.moduleNumber).second)
          << "module number " << row.moduleNumber << " used twice in plan " << row.parentProduct;
    }
    if (row.code.empty()) continue;
    ++filled;
    EXPECT_EQ(row.code.size(), kProductCodeLength) << "\"" << row.code << "\"";
    if (prod == 0 || prod == kAllCourses || prod == kKidsPlacementTest) continue;
    EXPECT_GE(row.classIndex, 1);
    EXPECT_LT(row.classIndex, kMaxClassIndex) << "79 switches the kids' placement test";
    auto [it, inserted] = owner.emplace(row.classIndex, prod);
    EXPECT_TRUE(inserted) << "shares its class index with " << it->second;
  }
  EXPECT_EQ(filled, 70) << "a row number typed twice or outside 0..154 loses a row";
  // Each plan is based upon seven or eight distinct courses.
  for (int plan : kVirtualProducts) {
    SCOPED_TRACE(plan);
    ASSERT_FALSE(modules_of[plan].empty()) << "plan " << plan << " has no modules";
    EXPECT_EQ(*modules_of[plan].rbegin(), static_cast<int>(modules_of[plan].size()));
    std::string courses;
    ASSERT_EQ(GetBasedUponCourses(plan, courses), 1);
    ASSERT_TRUE(std::regex_match(courses, std::regex("([0-9]{3} ){7,8}"))) << courses;
    std::set<int> seen;
    for (size_t at = 0; at < courses.size(); at += 4) {
      int course = std::stoi(courses.substr(at, 3));
      EXPECT_TRUE(seen.insert(course).second) << course << " is listed twice";
      EXPECT_EQ(IsProductANormalCourse(course), 1) << course << " is not a known course";
    }
  }
  std::string courses = "stale";
  EXPECT_EQ(GetBasedUponCourses(1, courses), 0);
  EXPECT_EQ(courses, "");
  // The fixed numbers of tests, classics, the demo and teacher training are distinct courses.
  std::multiset<int> fixed = {kDemoCourse, kTeacherTraining};
  fixed.insert(kPlacementTests.begin(), kPlacementTests.end());
  fixed.insert(kSpeakingTests.begin(), kSpeakingTests.end());
  fixed.insert(kClassics.begin(), kClassics.end());
  for (int prod : fixed) EXPECT_EQ(fixed.count(prod) * IsProductANormalCourse(prod), 1u) << prod;
}

}  // namespace
}  // namespace nuvel::installer
