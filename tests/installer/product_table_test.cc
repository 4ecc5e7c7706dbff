#include "installer/product_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace nuvel::installer {
namespace {

const ProductRecord& Row(int prod) { return GetProdNames().prodNames.at(static_cast<size_t>(prod)); }

bool Filled(const ProductRecord& record) { return !record.code.empty(); }

// Product numbers 1..154 whose rows carry a class index.
std::vector<int> KnownProducts() {
  std::vector<int> known;
  for (int prod = 1; prod <= kMaxProduct; ++prod) {
    if (Row(prod).classIndex != 0) known.push_back(prod);
  }
  return known;
}

int ProductWithClassIndex(int index) {
  for (int prod : KnownProducts()) {
    if (Row(prod).classIndex == index) return prod;
  }
  return -1;
}

void SetMaskBit(ClassProductMask& mask, int index) {
  mask[static_cast<size_t>(index / 8)] |= static_cast<unsigned char>(1 << (index % 8));
}

std::string NameOf(int prod) {
  std::string name;
  GetProductName(name, prod);
  return name;
}

// Numbers out of range, the filled row without a class index (all courses) and the empty rows of
// the demo discs are unknown to every query; names show the number with three digits.
TEST(ProductQueries, NumbersWithoutAKnownRowAreUnknown) {
  ClassProductMask all_bits;
  all_bits.fill(0xFF);
  ASSERT_TRUE(Filled(Row(kAllCourses)));
  std::vector<std::pair<int, std::string>> cases = {
      {INT_MIN, "-2147483648 (unknown)"}, {-1, "-01 (unknown)"}, {0, "000 (unknown)"},
      {155, "155 (unknown)"}, {1000, "1000 (unknown)"}, {kAllCourses, "070 (unknown)"}};
  for (int demo : kDemoDiscs) cases.emplace_back(demo, std::to_string(demo) + " (unknown)");
  for (const auto& [prod, name] : cases) {
    SCOPED_TRACE(prod);
    EXPECT_EQ(NameOf(prod), name);
    EXPECT_EQ(GetProdNumIndex(prod), 0);
    EXPECT_EQ(IsProductANormalCourse(prod), 0);
    EXPECT_EQ(IsProductAVirtualProduct(prod), 0);
    EXPECT_EQ(IsProductAVirtualModule(prod), 0);
    EXPECT_EQ(ProductSizeMB(prod), 0);
    EXPECT_EQ(ProductCode(prod), "???");
    EXPECT_EQ(ProductIsADemoDisc(prod), std::ranges::count(kDemoDiscs, prod) > 0 ? 1 : 0);
    EXPECT_EQ(IsProductDisabledForClass(ClassProductMask{}, prod), 1);
    EXPECT_EQ(IsProductDisabledForClass(all_bits, prod), 1);
    std::string courses = "stale";
    EXPECT_EQ(GetBasedUponCourses(prod, courses), 0);
    EXPECT_EQ(courses, "");
  }
  EXPECT_EQ(NameOf(7), "English for Travellers") << "a known number must not be reported unknown";
  for (int prod : {INT_MIN, -1, 155, INT_MAX}) {
    EXPECT_EQ(GetVirtualModuleID(prod), -1) << prod;
    EXPECT_EQ(GetVirtualProductID(prod), -1) << prod;
  }
  EXPECT_EQ(GetVirtualModuleID(0), 0) << "row 0 is in the table and belongs to no plan";
  EXPECT_EQ(GetVirtualProductID(0), 0);
}

TEST(ProductQueries, QueriesAnswerFromTheRowOfTheNumber) {
  for (int prod : KnownProducts()) {
    SCOPED_TRACE(prod);
    const ProductRecord& row = Row(prod);
    EXPECT_EQ(NameOf(prod), row.title);
    EXPECT_EQ(GetProdNumIndex(prod), row.classIndex);
    EXPECT_EQ(ProductCode(prod), row.code);
    EXPECT_GT(ProductSizeMB(prod), 0) << "would install with no space checked";
    EXPECT_EQ(IsProductANormalCourse(prod), row.kind == ProductKind::kNormalCourse ? 1 : 0);
    EXPECT_EQ(IsProductAVirtualProduct(prod), row.kind == ProductKind::kVirtualProduct ? 1 : 0);
    EXPECT_EQ(IsProductAVirtualModule(prod), row.kind == ProductKind::kVirtualModule ? 1 : 0);
    EXPECT_EQ(GetVirtualModuleID(prod), row.moduleNumber);
    EXPECT_EQ(GetVirtualProductID(prod), row.parentProduct);
  }
  EXPECT_NE(GetProdNumIndex(kGeneralPlacementTest), 0);
  EXPECT_EQ(GetProdNumIndex(kKidsPlacementTest), GetProdNumIndex(kGeneralPlacementTest));
  EXPECT_EQ(ProductIsAPlacementTest(kProficiencyTest), 1);
  EXPECT_EQ(ProductIsAPlacementTestButNotProficiencyTest(kProficiencyTest), 0);
  EXPECT_EQ(ProductIsAPlacementTestButNotProficiencyTest(kKidsPlacementTest), 1);
}

TEST(ProductQueries, EachPlanIsBasedUponSevenOrEightDistinctCourses) {
  const std::regex format("([0-9]{3} ){7,8}");
  for (int plan : kVirtualProducts) {
    SCOPED_TRACE(plan);
    std::string courses;
    ASSERT_EQ(GetBasedUponCourses(plan, courses), 1);
    ASSERT_TRUE(std::regex_match(courses, format)) << "\"" << courses << "\"";
    std::set<int> seen;
    for (size_t at = 0; at < courses.size(); at += 4) {
      int course = std::stoi(courses.substr(at, 3));
      EXPECT_TRUE(seen.insert(course).second) << course << " is listed twice";
      EXPECT_EQ(IsProductANormalCourse(course), 1) << course << " is not a known course";
      EXPECT_FALSE(ProductIsAPlacementTestOrSpeakingTest(course) || ProductIsAClassic(course) ||
                   course == kDemoCourse || course == kTeacherTraining)
          << course << " is a test, demo, classic or teacher course, not a plan's course";
    }
  }
  std::string courses = "stale";
  EXPECT_EQ(GetBasedUponCourses(1, courses), 0);
  EXPECT_EQ(courses, "");
}

// Bits count from the least significant bit of each byte; the kids' placement test is switched
// by index 79, and for teacher training the bit grants the course instead of withholding it.
TEST(ClassProductMask, EachBitDisablesOnlyTheProductsOfItsIndex) {
  for (int index = 0; index <= kMaxClassIndex; ++index) {
    ClassProductMask mask{};
    if (index > 0) SetMaskBit(mask, index);  // 0: the empty mask
    for (int prod : KnownProducts()) {
      bool own_bit =
          prod == kKidsPlacementTest ? index == kMaxClassIndex : GetProdNumIndex(prod) == index;
      bool expected = prod == kTeacherTraining ? !own_bit : own_bit;
      EXPECT_EQ(IsProductDisabledForClass(mask, prod), expected ? 1 : 0)
          << "product " << prod << " with bit " << index << " set";
    }
  }
}

class ClassRecordFields : public ::testing::Test {
 protected:
  std::array<unsigned char, 80> fields_{};
  std::span<unsigned char, 40> preceding() { return std::span(fields_).first<40>(); }
  std::span<unsigned char, 40> products() { return std::span(fields_).last<40>(); }
  void Fill(std::span<unsigned char, 40> field, unsigned char value) { std::ranges::fill(field, value); }
  ClassProductMask Mask() {
    ClassProductMask mask;
    mask.fill(0xEE);
    GetProductsActiveForClass(mask, fields_);
    return mask;
  }
};

// Forty '^' or forty 0xCC mean the field was never filled in: it is cleared in the record, and
// the preceding field with it when that one starts 0x00 0xCC.
TEST_F(ClassRecordFields, UnfilledProductFieldIsCleared) {
  auto all = [](auto field, unsigned char value) {
    return std::ranges::all_of(field, [&](unsigned char c) { return c == value; });
  };
  for (unsigned char unfilled : {'^', '\xCC'}) {
    SCOPED_TRACE(int{unfilled});
    Fill(preceding(), 'p');
    Fill(products(), unfilled);
    EXPECT_EQ(Mask(), ClassProductMask{});
    EXPECT_TRUE(all(products(), 0));
    EXPECT_TRUE(all(preceding(), 'p')) << "a filled-in preceding field is kept";

    Fill(preceding(), 0xCC);
    preceding()[0] = 0x00;
    Fill(products(), unfilled);
    EXPECT_EQ(Mask(), ClassProductMask{});
    EXPECT_TRUE(all(std::span(fields_), 0));
  }
  for (int prod : KnownProducts()) {
    if (prod == kTeacherTraining) continue;  // its bit grants; a cleared mask withholds it
    Fill(products(), '^');
    EXPECT_EQ(IsProductDisabledForTheClass(fields_, prod), 0) << prod;
  }
}

TEST_F(ClassRecordFields, FilledProductFieldGivesItsFirstFifteenBytes) {
  Fill(preceding(), 0xCC);
  preceding()[0] = 0x00;
  Fill(products(), '^');
  products()[39] = 0;  // one byte short of unfilled
  ClassProductMask carets;
  carets.fill('^');
  EXPECT_EQ(Mask(), carets);
  EXPECT_EQ(preceding()[1], 0xCC);
  EXPECT_EQ(products()[0], '^');

  for (size_t i = 0; i < 40; ++i) products()[i] = static_cast<unsigned char>(i + 1);
  Fill(preceding(), 0xFF);  // bits here must not count
  ClassProductMask expected;
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<unsigned char>(i + 1);
  EXPECT_EQ(Mask(), expected);

  std::ranges::fill(products(), 0);
  products()[1] = 0x10;  // index 12
  EXPECT_EQ(IsProductDisabledForTheClass(fields_, ProductWithClassIndex(12)), 1);
  EXPECT_EQ(IsProductDisabledForTheClass(fields_, ProductWithClassIndex(11)), 0);
}

// ---- The data we ship ----

TEST(ProductData, RowsAreWellFormed) {
  int filled = 0;
  std::map<int, int> owner;
  for (int prod = 0; prod <= kMaxProduct; ++prod) {
    const ProductRecord& row = Row(prod);
    if (!Filled(row)) continue;
    SCOPED_TRACE(prod);
    ++filled;
    EXPECT_EQ(row.code.size(), kProductCodeLength) << "\"" << row.code << "\"";
    EXPECT_NE(row.code[0], ' ');
    EXPECT_FALSE(row.title.empty());
    EXPECT_EQ(row.flags.size(), kProductFlagsLength);
    EXPECT_EQ(row.flags.find_first_not_of("ULPMX-"), std::string_view::npos) << row.flags;
    if (prod == 0 || prod == kAllCourses || prod == kKidsPlacementTest) continue;
    EXPECT_GE(row.classIndex, 1);
    EXPECT_LT(row.classIndex, kMaxClassIndex) << "79 switches the kids' placement test";
    auto [it, inserted] = owner.emplace(row.classIndex, prod);
    EXPECT_TRUE(inserted) << "shares its class index with " << it->second;
  }
  EXPECT_EQ(filled, 70) << "a row number typed twice or outside 0..154 loses a row";
  // The fixed numbers of tests, classics, the demo and teacher training are distinct courses.
  std::vector<int> courses(kPlacementTests.begin(), kPlacementTests.end());
  courses.insert(courses.end(), kSpeakingTests.begin(), kSpeakingTests.end());
  courses.insert(courses.end(), kClassics.begin(), kClassics.end());
  courses.insert(courses.end(), {kDemoCourse, kTeacherTraining});
  EXPECT_EQ(std::set<int>(courses.begin(), courses.end()).size(), courses.size());
  for (int prod : courses) EXPECT_EQ(IsProductANormalCourse(prod), 1) << prod;
}

TEST(ProductData, VirtualModulesBelongToAPlanInOrder) {
  std::map<int, std::set<int>> modules_of;
  const std::regex cefr_level("[ABC][12][ +]");
  for (int prod = 0; prod <= kMaxProduct; ++prod) {
    const ProductRecord& row = Row(prod);
    SCOPED_TRACE(prod);
    if (row.kind == ProductKind::kVirtualProduct) {
      EXPECT_EQ(std::ranges::count(kVirtualProducts, prod), 1) << "a plan outside 80..83";
    }
    if (row.kind != ProductKind::kVirtualModule) {
      EXPECT_EQ(row.moduleNumber, 0);
      EXPECT_EQ(row.parentProduct, 0);
      continue;
    }
    EXPECT_EQ(IsProductAVirtualProduct(row.parentProduct), 1) << "parent " << row.parentProduct;
    EXPECT_GE(row.moduleNumber, 1);
    EXPECT_LE(row.moduleNumber, static_cast<int>(kMaxModulesPerPlan));
    EXPECT_TRUE(modules_of[row.parentProduct].insert(row.moduleNumber).second)
        << "module number " << row.moduleNumber << " used twice in plan " << row.parentProduct;
    EXPECT_TRUE(std::regex_match(std::string(row.code), cefr_level)) << row.code;
  }
  for (int plan : kVirtualProducts) {
    const std::set<int>& modules = modules_of[plan];
    ASSERT_FALSE(modules.empty()) << "plan " << plan << " has no modules";
    EXPECT_EQ(*modules.rbegin(), static_cast<int>(modules.size())) << plan << " skips a module";
  }
}

}  // namespace
}  // namespace nuvel::installer
