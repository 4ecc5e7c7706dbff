// The sample installation-source generator, run as a program into temporary folders. Installing
// from the source (tree, archives, placeholders, bundles) is tested with the installer and the
// scenarios; this checks what they cannot see: the same bytes on every run, the sizing option
// the benchmarks use, the Products.INF layout, and a folder in use never overwritten.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/profile_file.h"
#include "tests/scenario/scenario.h"
#include "tests/support/test_env.h"

namespace nuvel::testing {
namespace {

namespace fs = std::filesystem;

RunResult Generate(std::vector<std::string> args) {
  return RunBinary(MAKE_SAMPLE_SOURCE_BINARY, args);
}

std::string Ini(const std::string& file, std::string_view section, std::string_view key) {
  std::string value;
  base::FreePrivateProfile();
  base::GetNuvelPrivateProfileString(section, key, "", value, base::kProfileValueSize, file);
  return value;
}

// Every regular file below `root`, by relative path.
std::map<std::string, std::uint64_t> FileSizes(const fs::path& root) {
  std::map<std::string, std::uint64_t> sizes;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      sizes[entry.path().lexically_relative(root).string()] = entry.file_size();
    }
  }
  return sizes;
}

// The product folders of a source: "NNNLLLVV" folders of install/data.
std::vector<std::string> ProductFolders(const std::string& source) {
  static const std::regex kFolderName("[0-9]{3}[A-Z]{3}[0-9]{2}");
  std::vector<std::string> folders;
  for (const auto& entry : fs::directory_iterator(source + "/install/data")) {
    std::string name = entry.path().filename().string();
    if (entry.is_directory() && std::regex_match(name, kFolderName)) folders.push_back(name);
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

class SampleSourceRunTest : public ::testing::Test {
 protected:
  std::string Out(std::string_view name) { return sysroot_.path(name); }
  TestSysroot sysroot_;
};

TEST_F(SampleSourceRunTest, SameOptionsGiveTheSameBytes) {
  ASSERT_EQ(Generate({Out("one")}).status, 0);
  ASSERT_EQ(Generate({Out("two")}).status, 0);
  std::map<std::string, std::uint64_t> one = FileSizes(Out("one"));
  ASSERT_EQ(one, FileSizes(Out("two")));
  for (const auto& [path, size] : one) {
    ASSERT_EQ(ReadTestFile(Out("one/" + path)), ReadTestFile(Out("two/" + path))) << path;
  }
}

TEST_F(SampleSourceRunTest, ContentMbSizesTheContentOverManyFiles) {
  RunResult result = Generate({"--content-mb", "20", Out("big")});
  ASSERT_EQ(result.status, 0) << result.output;
  std::uint64_t total = 0, largest = 0;
  for (const auto& [path, size] : FileSizes(Out("big/Nuvel"))) {
    total += size;
    // An archive gathers a whole content folder; the lesson and media files must be many.
    if (!path.starts_with("courses_d/")) largest = std::max(largest, size);
  }
  EXPECT_GE(total, 18u * 1000 * 1000);
  EXPECT_LE(total, 26u * 1000 * 1000);
  EXPECT_LT(largest, total / 50) << "the content is not spread over many files";
}

TEST_F(SampleSourceRunTest, ProductsInfListsEveryProductFolder) {
  ASSERT_EQ(Generate({"--products-inf", Out("src")}).status, 0);
  const std::string inf = ReadTestFile(Out("src/install/data/Products.INF"));
  const std::vector<std::string> folders = ProductFolders(Out("src"));
  ASSERT_GE(inf.size(), 4u);
  const std::size_t count = std::stoul(inf.substr(0, 4));
  EXPECT_EQ(count, folders.size());
  ASSERT_EQ(inf.size(), 4 + 306 * count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string record = inf.substr(4 + 306 * i, 306);
    const std::string folder = record.substr(60, 35).c_str();
    SCOPED_TRACE(folder);
    EXPECT_TRUE(std::binary_search(folders.begin(), folders.end(), folder));
    EXPECT_EQ(record.substr(0, 40).c_str(),
              Ini(Out("src/install/data/" + folder + "/nuvel.ini"), "nuvel.ini", "course_name"));
    // The English-only flag (first 16-bit flag) and the multilingual flag (fifth), little-endian.
    auto flag = [&](const char* code) {
      return std::string(folder.substr(3, 3) == code ? "\x01" : "\x00", 1) + '\0';
    };
    EXPECT_EQ(record.substr(296, 2), flag("ENG"));
    EXPECT_EQ(record.substr(304, 2), flag("MUL"));
  }
}

TEST_F(SampleSourceRunTest, NoDiscMarksAndEngineLucOptions) {
  ASSERT_EQ(Generate({"--no-disc-marks", Out("plain")}).status, 0);
  const std::string plain = ReadTestFile(Out("plain/VERSION"));
  ASSERT_GE(plain.size(), 36u);
  EXPECT_NE(plain.substr(34, 2), "SC") << "still marked as a content disc";

  WriteTestFile(Out("my.luc"), "000000 a message file of our own");
  ASSERT_EQ(Generate({"--engine-luc", Out("my.luc"), Out("luc")}).status, 0);
  EXPECT_EQ(ReadTestFile(Out("luc/install/data/support/engine.luc")),
            "000000 a message file of our own");
}

TEST_F(SampleSourceRunTest, RefusesAFolderInUseUnlessForced) {
  WriteTestFile(Out("src/notes.txt"), "keep me");
  RunResult refused = Generate({Out("src")});
  EXPECT_EQ(refused.status, 1) << refused.output;
  EXPECT_FALSE(fs::exists(Out("src/VERSION")));
  ASSERT_EQ(Generate({"--force", Out("src")}).status, 0);
  EXPECT_TRUE(fs::is_regular_file(Out("src/VERSION")));
  // A forced run replaces the earlier source and nothing else.
  ASSERT_EQ(Generate({"--force", "--content-as", "folders", Out("src")}).status, 0);
  EXPECT_FALSE(fs::exists(Out("src/Nuvel/courses_d")));
  EXPECT_EQ(ReadTestFile(Out("src/notes.txt")), "keep me");
}

TEST_F(SampleSourceRunTest, WrongUsageExitsWithoutWritingASource) {
  EXPECT_EQ(Generate({"--engine-luc", Out("missing.luc"), Out("luc")}).status, 1);
  EXPECT_EQ(Generate({"--bundle-without-icon", "Organizer", Out("src")}).status, 2);
  EXPECT_EQ(Generate({}).status, 2);
  EXPECT_EQ(Generate({"--sparkle", Out("src")}).status, 2);
  EXPECT_EQ(Generate({"--content-mb", "lots", Out("src")}).status, 2);
  EXPECT_EQ(Generate({"--content-as", "zips", Out("src")}).status, 2);
  EXPECT_EQ(Generate({Out("a"), Out("b")}).status, 2);
  EXPECT_FALSE(fs::exists(Out("src")));
}

}  // namespace
}  // namespace nuvel::testing
