#include "records/password.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/run_state.h"
#include "tests/support/fake_backend.h"
#include "ui/dialog.h"

namespace nuvel::records {
namespace {

// A block whose bytes follow a fixed pseudo-random sequence, so failures are reproducible.
Block SampleBlock(unsigned seed) {
  Block block{};
  unsigned state = seed * 2654435761u + 1;
  for (unsigned char& b : block) {
    state = state * 1103515245u + 12345u;
    b = static_cast<unsigned char>(state >> 16);
  }
  return block;
}

std::string FieldText(const unsigned char* field, std::size_t size) {
  std::size_t n = 0;
  while (n < size && field[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(field), n);
}

class PasswordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base::Run().reset();
    auto backend = std::make_unique<ui::testing::FakeBackend>();
    fake_ = backend.get();
    ui::SetBackend(std::move(backend));
  }
  void TearDown() override {
    base::Run().reset();
    ui::SetBackend(nullptr);
  }

  // The message texts of the prompts shown so far.
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const ui::Dialog& dialog : fake_->shown) texts.push_back(dialog.item(3)->text);
    return texts;
  }

  ui::testing::FakeBackend* fake_ = nullptr;
};

// ---- Check value and scrambling ------------------------------------------------------------

using ScramblingTest = PasswordTest;

TEST_F(ScramblingTest, CheckValueFollowsTheFormula) {
  // {1, 2}: s = (0 ^ 1) + 100 = 101; s = (101 ^ 2) + 100 = 103 + 100 = 203; 203 * 8 = 1624.
  const unsigned char two[] = {1, 2};
  EXPECT_EQ(CheckValue(two), 1624);
  // 100 NULs: s = 100 * 100 = 10000; 10000 * 8 = 80000, which wraps to 80000 - 65536 = 14464.
  std::vector<unsigned char> zeros(100, 0);
  EXPECT_EQ(CheckValue(zeros), 14464);
  // 700 NULs: the sum wraps first: 70000 - 65536 = 4464; 4464 * 8 = 35712.
  zeros.assign(700, 0);
  EXPECT_EQ(CheckValue(zeros), 35712);
}

TEST_F(ScramblingTest, KnownTextScramblesAsDescribed) {
  // "AB": c0 = 'A' = 0x41; c1 = (0x41 ^ 0x42) ^ K = 0x03 ^ 0x9D = 0x9E.
  // Check: s = 0x41 + 100 = 165; s = (165 ^ 0x9E) + 100 = 59 + 100 = 159; 159 * 8 = 0x04F8.
  unsigned char bytes[] = {'A', 'B', 0, 0};
  Scramble(bytes, kPasswordKey);
  EXPECT_EQ(bytes[0], 0x41);
  EXPECT_EQ(bytes[1], 0x9E);
  EXPECT_EQ(bytes[2], 0x04);
  EXPECT_EQ(bytes[3], 0xF8);
  ASSERT_TRUE(Unscramble(bytes, kPasswordKey));
  EXPECT_EQ(bytes[0], 'A');
  EXPECT_EQ(bytes[1], 'B');
}

TEST_F(ScramblingTest, BlocksRoundTripWithAnyKey) {
  for (unsigned seed = 0; seed < 20; ++seed) {
    Block clear = SampleBlock(seed);
    Block work = clear;
    unsigned char key = static_cast<unsigned char>(seed * 37);
    Scramble(work, key);
    ASSERT_TRUE(Unscramble(work, key)) << "seed " << seed;
    EXPECT_TRUE(std::equal(clear.begin(), clear.begin() + kBlockTextSize, work.begin()))
        << "seed " << seed;
  }
}

TEST_F(ScramblingTest, FlippingAnyScrambledByteFailsTheCheck) {
  Block scrambled = SampleBlock(7);
  Scramble(scrambled, kPasswordKey);
  for (std::size_t i = 0; i < kBlockSize; ++i) {
    for (unsigned char change : {0x01, 0x80, 0xFF}) {
      Block damaged = scrambled;
      damaged[i] ^= change;
      Block before = damaged;
      EXPECT_FALSE(Unscramble(damaged, kPasswordKey)) << "byte " << i << " ^ " << int(change);
      EXPECT_EQ(damaged, before) << "a failed unscramble must leave the bytes alone";
    }
  }
}

// ---- Printable block form ------------------------------------------------------------------

using PrintableFormTest = PasswordTest;

TEST_F(PrintableFormTest, EscapesEachRangeOfBytes) {
  Block block{};
  block.fill('A');
  const unsigned char edges[] = {0, 35, 36, 127, 128, 163, 164, 255};
  std::memcpy(block.data(), edges, sizeof edges);
  std::string text = PrintableBlock(block);
  EXPECT_EQ(text.substr(0, 14), std::string(" $ G$\x7F#$#G!$!\x7F", 14));
  EXPECT_EQ(text.substr(14), std::string(72, 'A'));
}

TEST_F(PrintableFormTest, EveryByteValueRoundTrips) {
  for (int start = 0; start < 256; start += kBlockSize) {
    Block block{};
    for (std::size_t i = 0; i < kBlockSize; ++i) block[i] = static_cast<unsigned char>(start + i);
    std::string text = PrintableBlock(block);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_GT(text.size(), kBlockSize) << "bytes below 36 and above 127 take two characters";
    EXPECT_LE(text.size(), kPrintableBlockMax);
    Block back{};
    ASSERT_TRUE(ParsePrintableBlock(text, back)) << "from byte " << start;
    EXPECT_EQ(back, block) << "from byte " << start;
  }
}

TEST_F(PrintableFormTest, MalformedTextIsRefused) {
  Block block = SampleBlock(11);
  std::string text = PrintableBlock(block);
  Block out{};
  EXPECT_FALSE(ParsePrintableBlock(text.substr(0, text.size() - 1), out)) << "cut short";
  EXPECT_FALSE(ParsePrintableBlock("", out));
  EXPECT_FALSE(ParsePrintableBlock(text + "A", out)) << "a character after the 80th byte";
  EXPECT_FALSE(ParsePrintableBlock(std::string(79, 'A') + " ", out)) << "an escape at the end";
  EXPECT_FALSE(ParsePrintableBlock(std::string(79, 'A') + " !", out)) << "escape out of range";
  EXPECT_FALSE(ParsePrintableBlock(std::string(79, 'A') + "#H", out)) << "'#' takes 36..71";
  EXPECT_FALSE(ParsePrintableBlock(std::string(79, 'A') + "\x80", out)) << "raw high byte";
  EXPECT_FALSE(ParsePrintableBlock(std::string(79, 'A') + "\t", out)) << "raw low byte";
  EXPECT_TRUE(ParsePrintableBlock(std::string(80, 'A'), out));
}

// ---- Encode / Decode in the two modes ------------------------------------------------------

using EncodeDecodeTest = PasswordTest;

TEST_F(EncodeDecodeTest, OfflineUsesTheBlockForm) {
  Block clear = SampleBlock(5);
  Block block = clear;
  Encode(kPasswordKey, block);
  Block expected = clear;
  Scramble(expected, kPasswordKey);
  EXPECT_EQ(block, expected);

  Block out{};
  ASSERT_EQ(Decode(out, kPasswordKey, block), 1);
  EXPECT_TRUE(std::equal(clear.begin(), clear.begin() + kBlockTextSize, out.begin()));
  EXPECT_EQ(out[78], 0);
  EXPECT_EQ(out[79], 0);

  std::string text = EncodePrintable(kPasswordKey, clear);
  EXPECT_EQ(text, PrintableBlock(expected));
  Block from_text{};
  ASSERT_EQ(Decode(from_text, kPasswordKey, text), 1);
  EXPECT_EQ(from_text, out);
}

TEST_F(EncodeDecodeTest, FailedDecodeLeavesTheOutputEmpty) {
  Block block = SampleBlock(6);
  Encode(kPasswordKey, block);
  block[10] ^= 0x20;
  Block out = SampleBlock(9);
  EXPECT_EQ(Decode(out, kPasswordKey, block), 0);
  EXPECT_EQ(out, Block{});
  out = SampleBlock(9);
  EXPECT_EQ(Decode(out, kPasswordKey, std::string_view("short")), 0);
  EXPECT_EQ(out, Block{});
}

TEST_F(EncodeDecodeTest, ConnectedUsesTheServerFormAndKeepsTheSecondHalf) {
  base::Run().Internet = 1;
  Block block{};
  std::memcpy(block.data(), "secret1", 7);
  for (std::size_t i = 40; i < kBlockSize; ++i) block[i] = static_cast<unsigned char>(i);
  Block original = block;
  Encode(kPasswordKey, block);
  EXPECT_EQ(FieldText(block.data(), kSQLFieldSize), EncodePlainText(kPasswordKey, "secret1"));
  EXPECT_TRUE(std::equal(block.begin() + 40, block.end(), original.begin() + 40));

  Block out{};
  ASSERT_EQ(Decode(out, kPasswordKey, block), 1);
  EXPECT_EQ(FieldText(out.data(), kSQLFieldSize), "SECRET1");
  EXPECT_TRUE(std::equal(out.begin() + 40, out.end(), original.begin() + 40));

  EXPECT_EQ(EncodePrintable(kPasswordKey, original), EncodePlainText(kPasswordKey, "secret1"));
}

// ---- Server form ---------------------------------------------------------------------------

using ServerFormTest = PasswordTest;

TEST_F(ServerFormTest, KnownTextGivesTheServersForm) {
  // Computed independently from the scrambling and check-value rules with key 0x9D and
  // standard Base64; the Records server must produce the same text.
  EXPECT_EQ(EncodePlainText(kPasswordKey, "secret1"), "**__U4vImt+Lurq6urq6urq6urq6urq6uhcw__");
  EXPECT_EQ(EncodePlainText(kPasswordKey, "Nuvel"), "**__TobQldnZ2dnZ2dnZ2dnZ2dnZ2dnZ2USo__");
}

TEST_F(ServerFormTest, RoundTripIsUpperCasedAndCutTo22) {
  std::string text = EncodePlainText(kPasswordKey, "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(text.size(), kServerFormSize);
  EXPECT_EQ(text.substr(0, 4), "**__");
  EXPECT_EQ(text.substr(36), "__");
  std::string out;
  ASSERT_EQ(DecodePlainText(kPasswordKey, text, out), 1);
  EXPECT_EQ(out, "ABCDEFGHIJKLMNOPQRSTUV");
  ASSERT_EQ(DecodePlainText(kPasswordKey, EncodePlainText(kPasswordKey, ""), out), 1);
  EXPECT_EQ(out, "");
}

TEST_F(ServerFormTest, DamagedOrShortTextsFail) {
  std::string text = EncodePlainText(kPasswordKey, "secret1");
  std::string out = "left over";
  EXPECT_EQ(DecodePlainText(kPasswordKey, text.substr(0, 35), out), 0) << "cut short";
  EXPECT_EQ(out, "");
  std::string changed = text;
  // The 4th Base64 character holds the low 6 bits of one byte.
  changed[7] = changed[7] == 'A' ? 'B' : 'A';
  EXPECT_EQ(DecodePlainText(kPasswordKey, changed, out), 0) << "check value";
  std::string padded = text;
  padded[34] = '=';
  EXPECT_EQ(DecodePlainText(kPasswordKey, padded, out), 0) << "padding inside the form";
  std::string blank = text;
  blank[20] = ' ';
  EXPECT_EQ(DecodePlainText(kPasswordKey, blank, out), 0) << "blank inside the form";
  EXPECT_EQ(out, "");
}

TEST_F(ServerFormTest, PasswordOf21CharactersIsSentAsItsFirst20) {
  std::array<unsigned char, kSQLFieldSize> field{};
  std::memcpy(field.data(), "abcdefghijklmnopqrstu", 21);
  EncodeSQLPassword(field);
  EXPECT_EQ(FieldText(field.data(), field.size()),
            EncodePlainText(kPasswordKey, "abcdefghijklmnopqrst"));
  EXPECT_NE(FieldText(field.data(), field.size()),
            EncodePlainText(kPasswordKey, "abcdefghijklmnopqrstu"));
  EXPECT_TRUE(std::all_of(field.begin() + kServerFormSize, field.end(),
                          [](unsigned char b) { return b == 0; }));
}

TEST_F(ServerFormTest, DecodeSQLPasswordWorksOnlyWhileConnected) {
  std::array<unsigned char, kSQLFieldSize> field{};
  std::memcpy(field.data(), "pass99", 6);
  EncodeSQLPassword(field);
  auto scrambled = field;
  EXPECT_EQ(DecodeSQLPassword(field), 1);
  EXPECT_EQ(field, scrambled) << "offline the field stays as it is";

  base::Run().Internet = 1;
  ASSERT_EQ(DecodeSQLPassword(field), 1);
  EXPECT_EQ(FieldText(field.data(), field.size()), "PASS99");

  std::array<unsigned char, kSQLFieldSize> empty{};
  EXPECT_EQ(DecodeSQLPassword(empty), 1);
  EXPECT_EQ(empty, (std::array<unsigned char, kSQLFieldSize>{}));

  scrambled[7] = scrambled[7] == 'x' ? 'y' : 'x';
  EXPECT_EQ(DecodeSQLPassword(scrambled), 0);
  EXPECT_EQ(FieldText(scrambled.data(), scrambled.size()), "");
}

// ---- The Records Manager password in the local settings --------------------------------------

using LocalPasswordTest = PasswordTest;

TEST_F(LocalPasswordTest, RoundTripKeepsPasswordAndFlag) {
  std::string encoded;
  ASSERT_EQ(EncodeThePassword(encoded, "Teach3r!", 7), 1);
  std::string password;
  unsigned char flag = 0;
  ASSERT_EQ(DecodeThePassword(encoded, password, flag), 1);
  EXPECT_EQ(password, "Teach3r!");
  EXPECT_EQ(flag, 7);
}

TEST_F(LocalPasswordTest, BlockHoldsPasswordFillLettersAndFlag) {
  std::string encoded;
  ASSERT_EQ(EncodeThePassword(encoded, "abc", 0x42), 1);
  Block block{};
  ASSERT_TRUE(ParsePrintableBlock(encoded, block));
  ASSERT_TRUE(Unscramble(block, kPasswordKey));
  EXPECT_EQ(std::string(block.begin(), block.begin() + 3), "abc");
  EXPECT_EQ(block[3], 0);
  for (std::size_t i = 4; i < kBlockTextSize; ++i) {
    if (i == kPasswordFlagOffset) continue;
    EXPECT_EQ(block[i], 'A' + i % 26) << "byte " << i;
  }
  EXPECT_EQ(block[kPasswordFlagOffset], 0x42);
}

TEST_F(LocalPasswordTest, EmptyPasswordIsStoredAsNoPassword) {
  std::string empty;
  ASSERT_EQ(EncodeThePassword(empty, "", 0), 1);
  std::string named;
  ASSERT_EQ(EncodeThePassword(named, kNoPassword, 0), 1);
  EXPECT_EQ(empty, named);
  std::string password = "x";
  unsigned char flag = 9;
  ASSERT_EQ(DecodeThePassword(empty, password, flag), 1);
  EXPECT_EQ(password, kNoPassword);
  EXPECT_EQ(flag, 0);
}

TEST_F(LocalPasswordTest, LongPasswordKeepsTheFlagByte) {
  std::string encoded;
  std::string long_password(90, 'p');
  EXPECT_EQ(EncodeThePassword(encoded, long_password, 3), 0)
      << "the trial decode reports that the password did not fit";
  std::string password;
  unsigned char flag = 0;
  ASSERT_EQ(DecodeThePassword(encoded, password, flag), 1);
  EXPECT_EQ(password, std::string(75, 'p'));
  EXPECT_EQ(flag, 3);
}

TEST_F(LocalPasswordTest, DamagedSettingDecodesToNothing) {
  std::string encoded;
  EncodeThePassword(encoded, "secret9", 1);
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    std::string damaged = encoded;
    damaged[i] = damaged[i] == 'm' ? 'n' : 'm';
    std::string password = "x";
    unsigned char flag = 5;
    EXPECT_EQ(DecodeThePassword(damaged, password, flag), 0) << "character " << i;
    EXPECT_EQ(password, "");
    EXPECT_EQ(flag, 0);
  }
}

// ---- Class records -------------------------------------------------------------------------

class ClassPasswordTest : public PasswordTest {
 protected:
  void SetUp() override {
    PasswordTest::SetUp();
    record_.assign(700, 0);
    SetField(kClassPasswordOffset, "teacher1");
    SetField(kClassPassword2Offset, "student2");
    SetField(kClassProtectedTextOffset, "protected note");
  }
  void SetField(std::size_t offset, const char* text) {
    std::memcpy(record_.data() + offset, text, std::strlen(text));
  }
  std::string Field(std::size_t offset) const {
    return FieldText(record_.data() + offset, kSQLFieldSize);
  }
  std::uint16_t Flags() const {
    std::uint16_t flags = 0;
    std::memcpy(&flags, record_.data() + kClassFlagsOffset, sizeof flags);
    return flags;
  }
  std::vector<unsigned char> record_;
};

TEST_F(ClassPasswordTest, OfflineScramblesOneBlockAndRecordsIt) {
  std::vector<unsigned char> clear = record_;
  ASSERT_EQ(EncryptClassPassword(record_, 1, 0), 1);
  EXPECT_TRUE(Flags() & kClassFlagScrambled);
  EXPECT_NE(Field(kClassPassword2Offset), "student2");
  std::vector<unsigned char> once = record_;
  ASSERT_EQ(EncryptClassPassword(record_, 1, 0), 1);
  EXPECT_EQ(record_, once) << "a scrambled block is not scrambled twice";

  ASSERT_EQ(EncryptClassPassword(record_, 0, 0), 1);
  EXPECT_EQ(record_, clear);
  ASSERT_EQ(EncryptClassPassword(record_, 0, 0), 1);
  EXPECT_EQ(record_, clear) << "clear fields are not unscrambled";
}

TEST_F(ClassPasswordTest, DamagedBlockStaysScrambled) {
  ASSERT_EQ(EncryptClassPassword(record_, 1, 1), 1);
  record_[kClassPasswordOffset + 3] ^= 0x10;
  std::vector<unsigned char> damaged = record_;
  EXPECT_EQ(EncryptClassPassword(record_, 0, 1), 0);
  EXPECT_EQ(record_, damaged);
}

TEST_F(ClassPasswordTest, ConnectedFieldsUseTheServerForm) {
  SetField(kClassPassword2Offset, "***FAQ***");
  ASSERT_EQ(EncryptClassPassword(record_, 1, 2), 1);
  EXPECT_EQ(Field(kClassPasswordOffset), EncodePlainText(kPasswordKey, "teacher1"));
  EXPECT_EQ(Field(kClassPassword2Offset), kFAQServerForm);
  EXPECT_EQ(Field(kClassProtectedTextOffset), EncodePlainText(kPasswordKey, "protected note"));
  EXPECT_EQ(Flags(), 0) << "the class flag belongs to the block form";

  std::vector<unsigned char> once = record_;
  ASSERT_EQ(EncryptClassPassword(record_, 1, 2), 1);
  EXPECT_EQ(record_, once) << "fields starting with **__ count as scrambled";

  ASSERT_EQ(EncryptClassPassword(record_, 0, 2), 1);
  EXPECT_EQ(Field(kClassPasswordOffset), "TEACHER1");
  EXPECT_EQ(Field(kClassPassword2Offset), kFAQText);
  EXPECT_EQ(Field(kClassProtectedTextOffset), "PROTECTED NOTE");
}

TEST_F(ClassPasswordTest, ShortRecordIsRefused) {
  std::vector<unsigned char> short_record(kClassRecordMinSize - 1, 'x');
  std::vector<unsigned char> copy = short_record;
  EXPECT_EQ(EncryptClassPassword(short_record, 1, 0), 0);
  EXPECT_EQ(short_record, copy);
}

// ---- Password strength -----------------------------------------------------------------------

using PasswordStrengthTest = PasswordTest;

TEST_F(PasswordStrengthTest, EmptyAndWeakStrengthAreAlwaysAccepted) {
  EXPECT_EQ(CheckValidPassword("", 6, 1), 1);
  EXPECT_EQ(CheckValidPassword("a", 1, 1), 1);
  EXPECT_EQ(CheckValidPassword("abc123", 6, 1), 1);
  EXPECT_TRUE(fake_->shown.empty());
}

TEST_F(PasswordStrengthTest, EachRuleHasItsMessage) {
  EXPECT_EQ(CheckValidPassword("ab1", 6, 1), 0);
  EXPECT_EQ(CheckValidPassword("abcdefg", 6, 1), 0);
  EXPECT_EQ(CheckValidPassword("1234567", 6, 1), 0);
  ASSERT_EQ(fake_->shown.size(), 3u);
  EXPECT_EQ(fake_->shown[0].id, "MSG_InvalidPasswordlength");
  EXPECT_EQ(fake_->shown[1].id, "MSG_InvalidPasswordAlphaNum");
  EXPECT_EQ(fake_->shown[2].id, "MSG_InvalidPasswordAlphaNum");
  EXPECT_EQ(fake_->shown[0].item(1)->text, "MSG_Button_OK");
}

TEST_F(PasswordStrengthTest, BothProblemsAreShownTogether) {
  EXPECT_EQ(CheckValidPassword("abc", 6, 1), 0);
  ASSERT_EQ(fake_->shown.size(), 1u);
  EXPECT_EQ(fake_->shown[0].id, "MSG_InvalidPasswordlength");
  EXPECT_EQ(Messages()[0], "MSG_InvalidPasswordlength  MSG_InvalidPasswordAlphaNum");
  EXPECT_EQ(CheckValidPassword("abc", 6, 0), 0);
  EXPECT_EQ(fake_->shown.size(), 1u) << "a silent check shows nothing";
}

TEST_F(PasswordStrengthTest, LengthCountsCharactersNotBytes) {
  EXPECT_EQ(CheckValidPassword("\xC3\xA9\xC3\xA9"
                               "1",
                               6, 0),
            0)
      << "3 characters in 5 bytes";
  EXPECT_EQ(CheckValidPassword("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
                               "12",
                               6, 0),
            1);
}

// ---- Small helpers ---------------------------------------------------------------------------

TEST(EncodeStringTest, IsItsOwnInverse) {
  std::string text = "records\x01\xFE\x80";
  std::string original = text;
  EncodeString(text);
  EXPECT_EQ(static_cast<unsigned char>(text[0]), 255 - 'r');
  EXPECT_EQ(static_cast<unsigned char>(text[7]), 0xFE);
  EXPECT_EQ(static_cast<unsigned char>(text[8]), 0x01);
  EncodeString(text);
  EXPECT_EQ(text, original);
}

TEST(EncodeStringTest, SettingsLinesWithMarkersStayReadable) {
  for (std::string_view marker : kIniMarkers) {
    std::string line = "path=" + std::string(marker);
    std::string original = line;
    EXPECT_EQ(EncodeStringIni(line), 0) << marker;
    EXPECT_EQ(line, original);
  }
  std::string line = "log_level=3";
  EXPECT_EQ(EncodeStringIni(line), 1);
  EXPECT_NE(line, "log_level=3");
  EncodeString(line);
  EXPECT_EQ(line, "log_level=3");
}

TEST(ScrambleNameTest, KeepsThreeWholeCharacters) {
  EXPECT_EQ(ScrambleName("Robert"), "Rob");
  EXPECT_EQ(ScrambleName("Jo"), "Jo");
  EXPECT_EQ(ScrambleName("\xC3\x89milie"), "\xC3\x89mi");
}

}  // namespace
}  // namespace nuvel::records
