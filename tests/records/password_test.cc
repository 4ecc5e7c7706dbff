#include "records/password.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/run_state.h"
#include "tests/support/fake_backend.h"
#include "ui/dialog.h"

namespace nuvel::records {
namespace {

using Field = std::array<unsigned char, kSQLFieldSize>;

// A block whose bytes follow a fixed pseudo-random sequence, so failures are reproducible.
Block SampleBlock(unsigned seed) {
  Block block{};
  unsigned state = seed * 2654435761u + 1;
  for (unsigned char& b : block)
    b = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 16);
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
  ui::testing::FakeBackend* fake_ = nullptr;
};

// Values worked out by hand; the server and the companion applications compute the same.
TEST_F(PasswordTest, ScramblingGivesKnownValues) {
  const unsigned char two[] = {1, 2};
  EXPECT_EQ(CheckValue(two), 1624);
  EXPECT_EQ(CheckValue(std::vector<unsigned char>(100, 0)), 14464) << "the product wraps";
  EXPECT_EQ(CheckValue(std::vector<unsigned char>(700, 0)), 35712) << "the sum wraps";

  // "AB": c1 = ('A' ^ 'B') ^ K = 0x9E; check value 0x04F8, high byte first.
  std::vector<unsigned char> bytes = {'A', 'B', 0, 0};
  Scramble(bytes, kPasswordKey);
  EXPECT_EQ(bytes, (std::vector<unsigned char>{0x41, 0x9E, 0x04, 0xF8}));
  ASSERT_TRUE(Unscramble(bytes, kPasswordKey));
  EXPECT_EQ(bytes, (std::vector<unsigned char>{'A', 'B', 0x04, 0xF8}));
}

TEST_F(PasswordTest, FlippingAnyScrambledByteFailsTheCheckAndChangesNothing) {
  Block scrambled = SampleBlock(7);
  Scramble(scrambled, kPasswordKey);
  for (std::size_t i = 0; i < kBlockSize; ++i) {
    for (unsigned char change : {0x01, 0x80, 0xFF}) {
      Block damaged = scrambled;
      damaged[i] ^= change;
      const Block before = damaged;
      EXPECT_FALSE(Unscramble(damaged, kPasswordKey)) << "byte " << i << " ^ " << int(change);
      EXPECT_EQ(damaged, before);
    }
  }
}

TEST_F(PasswordTest, PrintableFormEscapesEachRangeOfBytesAndEveryByteRoundTrips) {
  Block block{};
  block.fill('A');
  const unsigned char edges[] = {0, 35, 36, 127, 128, 163, 164, 255};
  std::memcpy(block.data(), edges, sizeof edges);
  EXPECT_EQ(PrintableBlock(block), std::string(" $ G$\x7F#$#G!$!\x7F", 14) + std::string(72, 'A'));

  for (int start = 0; start < 256; start += kBlockSize) {
    for (std::size_t i = 0; i < kBlockSize; ++i) block[i] = static_cast<unsigned char>(start + i);
    std::string text = PrintableBlock(block);
    EXPECT_EQ(text.find('\0'), std::string::npos) << start;
    EXPECT_LE(text.size(), kPrintableBlockMax) << start;
    Block back{};
    ASSERT_TRUE(ParsePrintableBlock(text, back)) << start;
    EXPECT_EQ(back, block) << start;
  }
}

// Cut short, a character after the 80th byte, an escape at the end or out of range ('#' takes
// 36..71), a raw high or low byte.
TEST_F(PasswordTest, MalformedPrintableTextIsRefused) {
  std::string text = PrintableBlock(SampleBlock(11));
  const std::string a79(79, 'A');
  Block out{};
  for (const std::string& bad : {text.substr(0, text.size() - 1), std::string(), text + "A",
                                 a79 + " ", a79 + " !", a79 + "#H", a79 + "\x80", a79 + "\t"}) {
    EXPECT_FALSE(ParsePrintableBlock(bad, out)) << bad;
  }
  EXPECT_TRUE(ParsePrintableBlock(std::string(80, 'A'), out));
}

// Any key byte works, not only the system's.
TEST_F(PasswordTest, OfflineUsesTheBlockFormAndAFailedDecodeLeavesNothing) {
  const unsigned char key = 0x5A;
  Block clear = SampleBlock(5), block = clear, expected = clear;
  Encode(key, block);
  Scramble(expected, key);
  EXPECT_EQ(block, expected);

  Block out{}, from_text{};
  ASSERT_EQ(Decode(out, key, block), 1);
  EXPECT_TRUE(std::equal(clear.begin(), clear.begin() + kBlockTextSize, out.begin()));
  EXPECT_EQ(out[78] | out[79], 0);
  std::string text = EncodePrintable(key, clear);
  EXPECT_EQ(text, PrintableBlock(expected));
  ASSERT_EQ(Decode(from_text, key, text), 1);
  EXPECT_EQ(from_text, out);

  block[10] ^= 0x20;
  out = SampleBlock(9);
  EXPECT_EQ(Decode(out, key, block), 0);
  EXPECT_EQ(out, Block{});
  out = SampleBlock(9);
  EXPECT_EQ(Decode(out, key, std::string_view("short")), 0);
  EXPECT_EQ(out, Block{});
}

TEST_F(PasswordTest, ConnectedUsesTheServerFormAndKeepsTheSecondHalf) {
  base::Run().Internet = 1;
  Block block{};
  std::memcpy(block.data(), "secret1", 7);
  for (std::size_t i = 40; i < kBlockSize; ++i) block[i] = static_cast<unsigned char>(i);
  const Block original = block;
  const std::string server_form = EncodePlainText(kPasswordKey, "secret1");
  Encode(kPasswordKey, block);
  EXPECT_EQ(FieldText(block.data(), kSQLFieldSize), server_form);
  EXPECT_TRUE(std::equal(block.begin() + 40, block.end(), original.begin() + 40));

  Block out{};
  ASSERT_EQ(Decode(out, kPasswordKey, block), 1);
  EXPECT_EQ(FieldText(out.data(), kSQLFieldSize), "SECRET1");
  EXPECT_TRUE(std::equal(out.begin() + 40, out.end(), original.begin() + 40));
  EXPECT_EQ(EncodePrintable(kPasswordKey, original), server_form);
}

TEST_F(PasswordTest, KnownTextsGiveTheServerFormAndRoundTripUpperCasedAndCutTo22) {
  // Computed independently with key 0x9D and standard Base64; the server produces the same.
  EXPECT_EQ(EncodePlainText(kPasswordKey, "secret1"), "**__U4vImt+Lurq6urq6urq6urq6urq6uhcw__");
  EXPECT_EQ(EncodePlainText(kPasswordKey, "Nuvel"), "**__TobQldnZ2dnZ2dnZ2dnZ2dnZ2dnZ2USo__");

  std::string text = EncodePlainText(kPasswordKey, "abcdefghijklmnopqrstuvwxyz"), out;
  EXPECT_EQ(text.size(), kServerFormSize);
  ASSERT_EQ(DecodePlainText(kPasswordKey, text, out), 1);
  EXPECT_EQ(out, "ABCDEFGHIJKLMNOPQRSTUV");
  ASSERT_EQ(DecodePlainText(kPasswordKey, EncodePlainText(kPasswordKey, ""), out), 1);
  EXPECT_EQ(out, "");
}

TEST_F(PasswordTest, DamagedOrShortServerFormsFail) {
  const std::string text = EncodePlainText(kPasswordKey, "secret1");
  auto fails = [](std::string changed) {
    std::string out = "left over";
    return DecodePlainText(kPasswordKey, changed, out) == 0 && out.empty();
  };
  auto with = [&](std::size_t at, char c) {
    std::string t = text;
    t[at] = c;
    return t;
  };
  EXPECT_TRUE(fails(text.substr(0, 35))) << "cut short";
  // The 4th Base64 character holds the low 6 bits of one byte.
  EXPECT_TRUE(fails(with(7, text[7] == 'A' ? 'B' : 'A'))) << "check value";
  EXPECT_TRUE(fails(with(34, '='))) << "padding inside the form";
  EXPECT_TRUE(fails(with(20, ' '))) << "blank inside the form";
}

TEST_F(PasswordTest, AnswerFormKeepsEveryByteAndIsReadBackWithTheServerForm) {
  const std::string longest = "Mixed Case " + std::string(kMaxPasswordBytes - 11, 'x');
  for (const std::string& password : {std::string("pass12"), longest, std::string("")}) {
    SCOPED_TRACE(password);
    const std::string form = EncodeAnswerPassword(password);
    EXPECT_EQ(form.substr(0, 4), "**__");
    EXPECT_EQ(form.size(), 114u);
    if (!password.empty()) {
      EXPECT_EQ(form.find(password), std::string::npos);
    }
    std::string out;
    ASSERT_EQ(DecodeAnswerPassword(form, out), 1);
    EXPECT_EQ(out, password);
    EXPECT_EQ(RecordedPasswordForm(form), form) << "a replayed form is recorded as it is";
  }
  std::string out;
  EXPECT_EQ(RecordedPasswordForm("pass12"), EncodeAnswerPassword("pass12"));
  ASSERT_EQ(DecodeAnswerPassword(EncodePlainText(kPasswordKey, "secret1"), out), 1);
  EXPECT_EQ(out, "SECRET1") << "a server form gives the text the server holds";

  const std::string form = EncodeAnswerPassword("pass12");
  std::string flipped = form;
  flipped[40] = flipped[40] == 'A' ? 'B' : 'A';
  std::string unpadded = form;
  unpadded[111] = 'A';
  for (const std::string& damaged :
       std::vector<std::string>{form.substr(0, 113), "pass12", "**__pass12__", flipped, unpadded}) {
    out = "left over";
    EXPECT_EQ(DecodeAnswerPassword(damaged, out), 0) << damaged;
    EXPECT_EQ(out, "");
  }
}

TEST_F(PasswordTest, SQLFieldIsSentCutTo20AndDecodedOnlyWhileConnected) {
  Field field{};
  std::memcpy(field.data(), "abcdefghijklmnopqrstu", 21);
  EncodeSQLPassword(field);
  EXPECT_EQ(FieldText(field.data(), field.size()),
            EncodePlainText(kPasswordKey, "abcdefghijklmnopqrst"));
  EXPECT_TRUE(std::all_of(field.begin() + kServerFormSize, field.end(),
                          [](unsigned char b) { return b == 0; }));

  const Field scrambled = field;
  EXPECT_EQ(DecodeSQLPassword(field), 1);
  EXPECT_EQ(field, scrambled) << "offline the field stays as it is";
  base::Run().Internet = 1;
  ASSERT_EQ(DecodeSQLPassword(field), 1);
  EXPECT_EQ(FieldText(field.data(), field.size()), "ABCDEFGHIJKLMNOPQRST");
  Field empty{};
  EXPECT_EQ(DecodeSQLPassword(empty), 1);
  EXPECT_EQ(empty, Field{});
  Field damaged = scrambled;
  damaged[7] = damaged[7] == 'x' ? 'y' : 'x';
  EXPECT_EQ(DecodeSQLPassword(damaged), 0);
  EXPECT_EQ(damaged, Field{});
}

// The companion applications read the password up to its NUL and the flag at its offset.
TEST_F(PasswordTest, LocalSettingRoundTripsEmptyShortAndLongestPasswords) {
  std::string encoded;
  ASSERT_EQ(EncodeThePassword(encoded, "abc", 0x42), 1);
  Block block{};
  ASSERT_TRUE(ParsePrintableBlock(encoded, block));
  ASSERT_TRUE(Unscramble(block, kPasswordKey));
  EXPECT_EQ(std::string(block.begin(), block.begin() + 4), std::string("abc", 4));
  EXPECT_EQ(block[kPasswordFlagOffset], 0x42);

  struct Case {
    std::string password;
    unsigned char flag;
    int fits;
    std::string decoded;
  };
  // The longest password that fits has 75 bytes: its NUL and the flag byte follow.
  for (const Case& c : {Case{"abc", 0x42, 1, "abc"}, Case{"", 0, 1, std::string(kNoPassword)},
                        Case{std::string(75, 'p'), 1, 1, std::string(75, 'p')},
                        Case{std::string(76, 'p'), 2, 0, std::string(75, 'p')},
                        Case{std::string(90, 'p'), 3, 0, std::string(75, 'p')}}) {
    SCOPED_TRACE(c.password.size());
    std::string encoded, password = "x";
    unsigned char flag = 9;
    EXPECT_EQ(EncodeThePassword(encoded, c.password, c.flag), c.fits);
    ASSERT_EQ(DecodeThePassword(encoded, password, flag), 1);
    EXPECT_EQ(password, c.decoded);
    EXPECT_EQ(flag, c.flag);
  }
}

TEST_F(PasswordTest, DamagedSettingDecodesToNothing) {
  std::string encoded;
  EncodeThePassword(encoded, "secret9", 1);
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    std::string damaged = encoded, password = "x";
    damaged[i] = damaged[i] == 'm' ? 'n' : 'm';
    unsigned char flag = 5;
    EXPECT_EQ(DecodeThePassword(damaged, password, flag), 0) << "character " << i;
    EXPECT_EQ(password, "");
    EXPECT_EQ(flag, 0);
  }
}

class ClassPasswordTest : public PasswordTest {
 protected:
  void SetUp() override {
    PasswordTest::SetUp();
    record_.assign(700, 0);
    SetField(kClassPasswordOffset, "teacher1");
    SetField(kClassPassword2Offset, "student2");
    SetField(kClassProtectedTextOffset, "protected note");
  }
  void SetField(std::size_t offset, std::string_view text) {
    std::memcpy(record_.data() + offset, text.data(), text.size());
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
  const std::vector<unsigned char> clear = record_;
  ASSERT_EQ(EncryptClassPassword(record_, 1, 0), 1);
  EXPECT_TRUE(Flags() & kClassFlagScrambled);
  EXPECT_NE(Field(kClassPassword2Offset), "student2");
  const std::vector<unsigned char> once = record_;
  ASSERT_EQ(EncryptClassPassword(record_, 1, 0), 1);
  EXPECT_EQ(record_, once) << "a scrambled block is not scrambled twice";
  ASSERT_EQ(EncryptClassPassword(record_, 0, 0), 1);
  EXPECT_EQ(record_, clear);
  ASSERT_EQ(EncryptClassPassword(record_, 0, 0), 1);
  EXPECT_EQ(record_, clear) << "clear fields are not unscrambled";
}

TEST_F(ClassPasswordTest, DamagedBlockOrShortRecordIsLeftAlone) {
  ASSERT_EQ(EncryptClassPassword(record_, 1, 1), 1);
  record_[kClassPasswordOffset + 3] ^= 0x10;
  const std::vector<unsigned char> damaged = record_;
  EXPECT_EQ(EncryptClassPassword(record_, 0, 1), 0);
  EXPECT_EQ(record_, damaged);

  std::vector<unsigned char> short_record(kClassRecordMinSize - 1, 'x');
  EXPECT_EQ(EncryptClassPassword(short_record, 1, 0), 0);
  EXPECT_EQ(short_record, std::vector<unsigned char>(kClassRecordMinSize - 1, 'x'));
}

TEST_F(ClassPasswordTest, ConnectedFieldsUseTheServerForm) {
  SetField(kClassPassword2Offset, "***FAQ***");
  ASSERT_EQ(EncryptClassPassword(record_, 1, 2), 1);
  EXPECT_EQ(Field(kClassPasswordOffset), EncodePlainText(kPasswordKey, "teacher1"));
  EXPECT_EQ(Field(kClassPassword2Offset), kFAQServerForm);
  EXPECT_EQ(Field(kClassProtectedTextOffset), EncodePlainText(kPasswordKey, "protected note"));
  EXPECT_EQ(Flags(), 0) << "the class flag belongs to the block form";
  const std::vector<unsigned char> once = record_;
  ASSERT_EQ(EncryptClassPassword(record_, 1, 2), 1);
  EXPECT_EQ(record_, once) << "fields starting with **__ count as scrambled";

  ASSERT_EQ(EncryptClassPassword(record_, 0, 2), 1);
  EXPECT_EQ(Field(kClassPasswordOffset), "TEACHER1");
  EXPECT_EQ(Field(kClassPassword2Offset), kFAQText);
  EXPECT_EQ(Field(kClassProtectedTextOffset), "PROTECTED NOTE");
}

// Length counts characters, not bytes, and stops at what the stored block keeps (75 bytes),
// whatever strength is asked for. A silent check shows nothing; the messages name both limits.
TEST_F(PasswordTest, StrengthRulesAndLengthUpToTheStoredBlock) {
  const std::string longest = std::string(kMaxPasswordBytes - 1, 'a') + "1";
  std::string accented;  // 37 characters in 74 bytes
  for (int i = 0; i < 37; ++i) accented += "\u00e9";
  const struct {
    std::string password;
    int min;
    int valid;
  } cases[] = {{"", 6, 1},          {"a", 1, 1},           {"abc123", 6, 1},
               {"ab1", 6, 0},       {"abcdefg", 6, 0},     {"1234567", 6, 0},
               {"\u00e9\u00e91", 6, 0}, {"\u00e9\u00e9\u00e9\u00e912", 6, 1},
               {longest, 6, 1},     {longest + "2", 6, 0}, {longest + "2", 1, 0},
               {accented + "1", 6, 1}, {accented + "\u00e91", 6, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(CheckValidPassword(c.password, c.min, 0), c.valid) << c.password << " " << c.min;
  }
  EXPECT_TRUE(fake_->shown.empty());
  std::string stored;
  EXPECT_EQ(EncodeThePassword(stored, longest, 0), 1) << "the longest accepted one is kept whole";

  EXPECT_EQ(CheckValidPassword("ab1", 6, 1), 0);
  EXPECT_EQ(CheckValidPassword("abcdefg", 6, 1), 0);
  EXPECT_EQ(CheckValidPassword("abc", 6, 1), 0);
  ASSERT_EQ(fake_->shown.size(), 3u);
  EXPECT_EQ(fake_->shown[0].id, "MSG_InvalidPasswordlength");
  EXPECT_EQ(fake_->shown[0].item(1)->text, "OK");
  EXPECT_EQ(fake_->shown[1].id, "MSG_InvalidPasswordAlphaNum");
  EXPECT_EQ(fake_->shown[2].id, "MSG_InvalidPasswordlength");
  EXPECT_EQ(fake_->shown[2].item(3)->text,
            "The password must have from 6 to 75 characters.  The password must contain at least "
            "one digit and one other character.");
}

TEST(EncodeStringTest, InvertsEveryByteExceptInSettingsLinesWithMarkers) {
  std::string text = "r\x01\xFE";
  EncodeString(text);
  EXPECT_EQ(text, std::string("\x8D\xFE\x01", 3));
  for (std::string_view marker : kIniMarkers) {
    std::string line = "path=" + std::string(marker);
    EXPECT_EQ(EncodeStringIni(line), 0) << marker;
    EXPECT_EQ(line, "path=" + std::string(marker));
  }
  std::string line = "log_level=3";
  EXPECT_EQ(EncodeStringIni(line), 1);
  EncodeString(line);
  EXPECT_EQ(line, "log_level=3") << "the line was encoded exactly once";
}

TEST(ScrambleNameTest, KeepsThreeWholeCharacters) {
  EXPECT_EQ(ScrambleName("Robert"), "Rob");
  EXPECT_EQ(ScrambleName("Jo"), "Jo");
  EXPECT_EQ(ScrambleName("\xC3\x89milie"), "\xC3\x89mi");
}

}  // namespace
}  // namespace nuvel::records
