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

const ProductRecord& Row(int prod) {
  return GetProdNames().prodNames.at(static_cast<size_t>(prod));
}

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

// ---- Numbers that are not products ----

TEST(UnknownProductNumbers, OutOfRangeNumbersAreUnknownToEveryQuery) {
  const ClassProductMask no_bits{};
  for (int prod : {INT_MIN, -1, 0, 155, 1000}) {
    SCOPED_TRACE(prod);
    EXPECT_EQ(GetProdNumIndex(prod), 0);
    EXPECT_EQ(IsProductANormalCourse(prod), 0);
    EXPECT_EQ(IsProductAVirtualProduct(prod), 0);
    EXPECT_EQ(IsProductAVirtualModule(prod), 0);
    EXPECT_EQ(ProductIsAPlacementTestOrSpeakingTest(prod), 0);
    EXPECT_EQ(ProductIsADemoDisc(prod), 0);
    EXPECT_EQ(ProductIsAClassic(prod), 0);
    EXPECT_EQ(ProductSizeMB(prod), 0);
    EXPECT_EQ(ProductCode(prod), "???");
    EXPECT_EQ(IsProductDisabledForClass(no_bits, prod), 1);
    std::string courses = "stale";
    EXPECT_EQ(GetBasedUponCourses(prod, courses), 0);
    EXPECT_EQ(courses, "");
  }
}

TEST(UnknownProductNumbers, NamesShowTheNumberWithThreeDigits) {
  EXPECT_EQ(NameOf(0), "000 (unknown)");
  EXPECT_EQ(NameOf(-1), "-01 (unknown)");
  EXPECT_EQ(NameOf(155), "155 (unknown)");
  EXPECT_EQ(NameOf(7), "English for Travellers") << "a known number must not be reported unknown";
}

TEST(UnknownProductNumbers, VirtualIdsAreMinusOneOutsideTheTable) {
  for (int prod : {INT_MIN, -1, 155, INT_MAX}) {
    EXPECT_EQ(GetVirtualModuleID(prod), -1) << prod;
    EXPECT_EQ(GetVirtualProductID(prod), -1) << prod;
  }
  EXPECT_EQ(GetVirtualModuleID(0), 0) << "row 0 is in the table and belongs to no plan";
  EXPECT_EQ(GetVirtualProductID(0), 0);
}

TEST(UnknownProductNumbers, FilledRowWithoutClassIndexIsUnknown) {
  ASSERT_TRUE(Filled(Row(kAllCourses)));
  ASSERT_EQ(Row(kAllCourses).classIndex, 0);
  EXPECT_EQ(NameOf(kAllCourses), "070 (unknown)");
  EXPECT_EQ(GetProdNumIndex(kAllCourses), 0);
  EXPECT_EQ(IsProductANormalCourse(kAllCourses), 0);
  EXPECT_EQ(ProductSizeMB(kAllCourses), 0);
}

TEST(UnknownProductNumbers, EmptyRowsAreUnknownButDemoNumbersAreStillRecognised) {
  for (int prod : kDemoDiscs) {
    EXPECT_FALSE(Filled(Row(prod))) << prod << ": a demo-disc number has no row";
    EXPECT_EQ(ProductIsADemoDisc(prod), 1) << prod;
    EXPECT_EQ(NameOf(prod), std::to_string(prod) + " (unknown)");
    EXPECT_EQ(IsProductANormalCourse(prod), 0) << "an empty row is not a course";
  }
}

// ---- Looking products up ----

TEST(ProductLookup, QueriesAnswerFromTheRowOfTheNumber) {
  for (int prod : KnownProducts()) {
    SCOPED_TRACE(prod);
    const ProductRecord& row = Row(prod);
    EXPECT_EQ(NameOf(prod), row.title);
    EXPECT_EQ(GetProdNumIndex(prod), row.classIndex);
    EXPECT_EQ(ProductCode(prod), row.code);
    EXPECT_EQ(ProductSizeMB(prod), row.sizeMB);
    EXPECT_EQ(IsProductANormalCourse(prod), row.kind == ProductKind::kNormalCourse ? 1 : 0);
    EXPECT_EQ(IsProductAVirtualProduct(prod), row.kind == ProductKind::kVirtualProduct ? 1 : 0);
    EXPECT_EQ(IsProductAVirtualModule(prod), row.kind == ProductKind::kVirtualModule ? 1 : 0);
    EXPECT_EQ(GetVirtualModuleID(prod), row.moduleNumber);
    EXPECT_EQ(GetVirtualProductID(prod), row.parentProduct);
  }
}

TEST(ProductLookup, KidsPlacementTestAnswersWithTheGeneralTestsIndex) {
  EXPECT_NE(GetProdNumIndex(kGeneralPlacementTest), 0);
  EXPECT_EQ(GetProdNumIndex(kKidsPlacementTest), GetProdNumIndex(kGeneralPlacementTest));
}

TEST(ProductLookup, SecondBuildLeavesTheTableUnchanged) {
  const ProductTable first_copy = GetProdNames();
  const ProductTable& again = GetProdNames();
  EXPECT_EQ(&again, &GetProdNames());
  EXPECT_TRUE(again == first_copy);
  EXPECT_TRUE(Filled(first_copy.prodNames[kGeneralPlacementTest])) << "the first call builds it";
}

// ---- Kinds recognised by number ----

TEST(ProductKindsByNumber, EachQueryRecognisesExactlyItsNumbers) {
  std::set<int> placement(kPlacementTests.begin(), kPlacementTests.end());
  std::set<int> speaking(kSpeakingTests.begin(), kSpeakingTests.end());
  std::set<int> demo(kDemoDiscs.begin(), kDemoDiscs.end());
  std::set<int> classic(kClassics.begin(), kClassics.end());
  for (int prod = -5; prod <= 160; ++prod) {
    SCOPED_TRACE(prod);
    bool is_placement = placement.count(prod) > 0;
    bool is_speaking = speaking.count(prod) > 0;
    EXPECT_EQ(ProductIsAPlacementTest(prod), is_placement ? 1 : 0);
    EXPECT_EQ(ProductIsASpeakingTest(prod), is_speaking ? 1 : 0);
    EXPECT_EQ(ProductIsAPlacementTestOrSpeakingTest(prod), is_placement || is_speaking ? 1 : 0);
    EXPECT_EQ(ProductIsAPlacementTestButNotProficiencyTest(prod),
              is_placement && prod != kProficiencyTest ? 1 : 0);
    EXPECT_EQ(ProductIsADemoDisc(prod), demo.count(prod) > 0 ? 1 : 0);
    EXPECT_EQ(ProductIsAClassic(prod), classic.count(prod) > 0 ? 1 : 0);
  }
}

TEST(ProductKindsByNumber, ProficiencyTestIsAPlacementTestSetApart) {
  EXPECT_EQ(ProductIsAPlacementTest(kProficiencyTest), 1);
  EXPECT_EQ(ProductIsAPlacementTestButNotProficiencyTest(kProficiencyTest), 0);
  EXPECT_EQ(ProductIsAPlacementTestButNotProficiencyTest(kGeneralPlacementTest), 1);
  EXPECT_EQ(ProductIsAPlacementTestButNotProficiencyTest(kKidsPlacementTest), 1);
}

// ---- Courses a certification plan is made of ----

TEST(BasedUponCourses, EachPlanListsSevenOrEightKnownCourses) {
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
}

TEST(BasedUponCourses, NoOtherProductIsBasedUponCourses) {
  for (int prod : {0, 1, 79, 84, 120, kMaxProduct}) {
    std::string courses = "stale";
    EXPECT_EQ(GetBasedUponCourses(prod, courses), 0) << prod;
    EXPECT_EQ(courses, "") << prod;
  }
}

// ---- Class product masks ----

TEST(ClassProductMask, EmptyMaskEnablesEverythingButTeacherTraining) {
  const ClassProductMask no_bits{};
  for (int prod : KnownProducts()) {
    EXPECT_EQ(IsProductDisabledForClass(no_bits, prod), prod == kTeacherTraining ? 1 : 0) << prod;
  }
}

TEST(ClassProductMask, BitsCountFromTheLeastSignificantBitOfEachByte) {
  int prod = ProductWithClassIndex(9);  // byte 1, bit value 2
  ASSERT_NE(prod, -1);
  ClassProductMask mask{};
  mask[1] = 0x02;
  EXPECT_EQ(IsProductDisabledForClass(mask, prod), 1);
  mask[1] = 0x40;  // index 14 counted from the most significant bit
  EXPECT_EQ(IsProductDisabledForClass(mask, prod), 0);
}

TEST(ClassProductMask, EachBitDisablesOnlyTheProductsOfItsIndex) {
  for (int index = 1; index <= kMaxClassIndex; ++index) {
    ClassProductMask mask{};
    SetMaskBit(mask, index);
    for (int prod : KnownProducts()) {
      bool own_bit =
          prod == kKidsPlacementTest ? index == kMaxClassIndex : GetProdNumIndex(prod) == index;
      bool expected = prod == kTeacherTraining ? !own_bit : own_bit;
      EXPECT_EQ(IsProductDisabledForClass(mask, prod), expected ? 1 : 0)
          << "product " << prod << " with bit " << index << " set";
    }
  }
}

TEST(ClassProductMask, KidsPlacementTestIsSwitchedApartFromTheGeneralTest) {
  ClassProductMask kids_off{};
  kids_off[9] = 0x80;
  EXPECT_EQ(IsProductDisabledForClass(kids_off, kKidsPlacementTest), 1);
  EXPECT_EQ(IsProductDisabledForClass(kids_off, kGeneralPlacementTest), 0);

  ClassProductMask general_off{};
  SetMaskBit(general_off, GetProdNumIndex(kGeneralPlacementTest));
  EXPECT_EQ(IsProductDisabledForClass(general_off, kGeneralPlacementTest), 1);
  EXPECT_EQ(IsProductDisabledForClass(general_off, kKidsPlacementTest), 0);
}

TEST(ClassProductMask, TeacherTrainingBitGrantsTheCourse) {
  ClassProductMask mask{};
  EXPECT_EQ(IsProductDisabledForClass(mask, kTeacherTraining), 1);
  SetMaskBit(mask, GetProdNumIndex(kTeacherTraining));
  EXPECT_EQ(IsProductDisabledForClass(mask, kTeacherTraining), 0);
}

TEST(ClassProductMask, ProductsWithoutAClassIndexAreAlwaysDisabled) {
  ClassProductMask all_bits;
  all_bits.fill(0xFF);
  for (const ClassProductMask& mask : {ClassProductMask{}, all_bits}) {
    for (int prod : {kAllCourses, kDemoDiscs[0], kDemoDiscs[1], 0, 16, -1, 155}) {
      EXPECT_EQ(IsProductDisabledForClass(mask, prod), 1) << prod;
    }
  }
}

// ---- Masks read from a class record ----

class ClassRecordFields : public ::testing::Test {
 protected:
  std::array<unsigned char, 80> fields_{};
  std::span<unsigned char, 40> preceding() { return std::span(fields_).first<40>(); }
  std::span<unsigned char, 40> products() { return std::span(fields_).last<40>(); }
  void FillPreceding(unsigned char value) { std::ranges::fill(preceding(), value); }
  void FillProducts(unsigned char value) { std::ranges::fill(products(), value); }
  ClassProductMask Mask() {
    ClassProductMask mask;
    mask.fill(0xEE);
    GetProductsActiveForClass(mask, fields_);
    return mask;
  }
};

TEST_F(ClassRecordFields, UnfilledProductFieldIsClearedInTheRecord) {
  for (unsigned char unfilled : {'^', '\xCC'}) {
    FillPreceding('p');
    FillProducts(unfilled);
    EXPECT_EQ(Mask(), ClassProductMask{}) << int{unfilled};
    EXPECT_TRUE(std::ranges::all_of(products(), [](unsigned char c) { return c == 0; }));
    EXPECT_TRUE(std::ranges::all_of(preceding(), [](unsigned char c) { return c == 'p'; }))
        << "a filled-in preceding field is kept";
  }
}

TEST_F(ClassRecordFields, FortyCaretsDisableNothing) {
  for (int prod : KnownProducts()) {
    if (prod == kTeacherTraining) continue;  // its bit grants; a cleared mask withholds it
    FillProducts('^');
    EXPECT_EQ(IsProductDisabledForTheClass(fields_, prod), 0) << prod;
  }
}

TEST_F(ClassRecordFields, BothFieldsAreClearedWhenThePrecedingOneIsUnfilledToo) {
  for (unsigned char unfilled : {'^', '\xCC'}) {
    FillPreceding(0xCC);
    preceding()[0] = 0x00;
    FillProducts(unfilled);
    EXPECT_EQ(Mask(), ClassProductMask{});
    EXPECT_TRUE(std::ranges::all_of(fields_, [](unsigned char c) { return c == 0; }))
        << "product field of " << int{unfilled};
  }
}

TEST_F(ClassRecordFields, FilledProductFieldIsKeptWhateverPrecedesIt) {
  FillPreceding(0xCC);
  preceding()[0] = 0x00;
  FillProducts('^');
  products()[39] = 0;  // one byte short of unfilled
  ClassProductMask carets;
  carets.fill('^');
  EXPECT_EQ(Mask(), carets);
  EXPECT_EQ(preceding()[1], 0xCC);
  EXPECT_EQ(products()[0], '^');
}

TEST_F(ClassRecordFields, MaskIsTheFirstFifteenBytesOfTheProductField) {
  for (size_t i = 0; i < 40; ++i) products()[i] = static_cast<unsigned char>(i + 1);
  FillPreceding(0xFF);
  ClassProductMask expected;
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<unsigned char>(i + 1);
  EXPECT_EQ(Mask(), expected);
}

TEST_F(ClassRecordFields, ProductIsTestedAgainstTheProductFieldOnly) {
  FillPreceding(0xFF);  // bits here must not count
  int prod = ProductWithClassIndex(12);
  ASSERT_NE(prod, -1);
  products()[1] = 0x10;  // index 12
  EXPECT_EQ(IsProductDisabledForTheClass(fields_, prod), 1);
  EXPECT_EQ(IsProductDisabledForTheClass(fields_, ProductWithClassIndex(11)), 0);
}

// ---- The data we ship ----

TEST(ProductData, SeventyRowsAreFilled) {
  int filled = 0;
  for (const ProductRecord& row : GetProdNames().prodNames) filled += Filled(row) ? 1 : 0;
  EXPECT_EQ(filled, 70) << "a row number typed twice or outside 0..154 loses a row";
}

TEST(ProductData, RowZeroIsTheUnknownRow) {
  ProductRecord unknown;
  unknown.code = "???";
  unknown.title = "Unknown";
  unknown.flags = "----";
  EXPECT_TRUE(Row(0) == unknown);
}

TEST(ProductData, TextFieldsFitTheirWidths) {
  for (int prod = 0; prod <= kMaxProduct; ++prod) {
    const ProductRecord& row = Row(prod);
    if (!Filled(row)) continue;
    SCOPED_TRACE(prod);
    EXPECT_EQ(row.code.size(), kProductCodeLength) << "\"" << row.code << "\"";
    EXPECT_NE(row.code[0], ' ');
    EXPECT_FALSE(row.title.empty());
    EXPECT_LE(row.title.size(), kProductTitleMax);
    EXPECT_EQ(row.flags.size(), kProductFlagsLength);
    EXPECT_EQ(row.flags.find_first_not_of("ULPMX-"), std::string_view::npos) << row.flags;
  }
  for (int prod :
       {kGeneralPlacementTest, kKidsPlacementTest, kProficiencyTest, kBusinessPlacementTest,
        kGeneralSpeakingTest, kBusinessSpeakingTest, kDemoCourse, kAllCourses}) {
    EXPECT_EQ(Row(prod).flags, "----")
        << prod << ": tests, the demo and all courses carry no flags";
  }
}

TEST(ProductData, ClassIndexesAreUniqueExceptForTheKidsPlacementTest) {
  std::map<int, int> owner;
  for (int prod = 1; prod <= kMaxProduct; ++prod) {
    const ProductRecord& row = Row(prod);
    if (!Filled(row) || prod == kAllCourses || prod == kKidsPlacementTest) continue;
    EXPECT_GE(row.classIndex, 1) << prod;
    EXPECT_LT(row.classIndex, kMaxClassIndex) << prod << ": 79 switches the kids' placement test";
    auto [it, inserted] = owner.emplace(row.classIndex, prod);
    EXPECT_TRUE(inserted) << "products " << it->second << " and " << prod << " share index "
                          << row.classIndex;
  }
  EXPECT_EQ(Row(kKidsPlacementTest).classIndex, Row(kGeneralPlacementTest).classIndex);
}

TEST(ProductData, VirtualModulesBelongToAPlanInOrder) {
  std::map<int, std::set<int>> modules_of;
  const std::regex cefr_level("[ABC][12][ +]");
  for (int prod = 0; prod <= kMaxProduct; ++prod) {
    const ProductRecord& row = Row(prod);
    SCOPED_TRACE(prod);
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
  int plans_with_half_levels = 0;
  for (int plan : kVirtualProducts) {
    const std::set<int>& modules = modules_of[plan];
    ASSERT_FALSE(modules.empty()) << "plan " << plan << " has no modules";
    EXPECT_EQ(*modules.rbegin(), static_cast<int>(modules.size()))
        << "plan " << plan << " skips a module number";
    bool half = false;
    for (int prod = 0; prod <= kMaxProduct; ++prod) {
      half |= Row(prod).parentProduct == plan && Row(prod).code[2] == '+';
    }
    plans_with_half_levels += half ? 1 : 0;
  }
  EXPECT_EQ(plans_with_half_levels, 1);
}

TEST(ProductData, FixedNumbersPointAtRowsOfTheirKind) {
  for (int plan : kVirtualProducts) EXPECT_EQ(IsProductAVirtualProduct(plan), 1) << plan;
  for (int prod = 0; prod <= kMaxProduct; ++prod) {
    if (Row(prod).kind == ProductKind::kVirtualProduct) {
      EXPECT_TRUE(std::ranges::count(kVirtualProducts, prod) == 1) << prod << " is not 80..83";
    }
  }
  std::vector<int> courses(kPlacementTests.begin(), kPlacementTests.end());
  courses.insert(courses.end(), kSpeakingTests.begin(), kSpeakingTests.end());
  courses.insert(courses.end(), kClassics.begin(), kClassics.end());
  courses.insert(courses.end(), {kDemoCourse, kTeacherTraining});
  std::set<int> distinct(courses.begin(), courses.end());
  EXPECT_EQ(distinct.size(), courses.size()) << "a number stands for two kinds of product";
  for (int prod : courses) EXPECT_EQ(IsProductANormalCourse(prod), 1) << prod;
  for (int prod : kDemoDiscs) EXPECT_EQ(distinct.count(prod), 0u) << prod;
  EXPECT_TRUE(Filled(Row(kAllCourses)));
  EXPECT_EQ(Row(kAllCourses).classIndex, 0);
}

TEST(ProductData, SizesAreSet) {
  for (int prod : KnownProducts()) {
    EXPECT_GT(ProductSizeMB(prod), 0) << prod << " would install with no space checked";
  }
}

}  // namespace
}  // namespace nuvel::installer
