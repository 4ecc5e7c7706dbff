// The sample installation-source generator, run as a program into temporary folders: the tree
// must be one the installer can read (product descriptions, archives with placeholders, bundles
// with version resources, a complete version file), sized by --content-mb, and the same bytes
// on every run. Installing from it is tested with the installer; this checks what the installer
// takes for granted.
#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/profile_file.h"
#include "installer/product_table.h"
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

// The part of a versions.ini value for this platform: after "~" when there is one.
std::string ThisPlatform(const std::string& value) {
  std::size_t tilde = value.find('~');
  return tilde == std::string::npos ? value : value.substr(tilde + 1);
}

std::string FirstLine(const std::string& path) {
  std::string text = ReadTestFile(path);
  return text.substr(0, text.find("\r\n"));
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

// The support languages a product's setup.ini lists.
std::vector<std::string> Languages(const std::string& source, const std::string& folder) {
  std::istringstream words(
      Ini(source + "/install/data/" + folder + "/setup.ini", "nuvel", "multiLanguages"));
  return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

std::uint32_t BigEndian32(const std::string& data, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value = (value << 8) | static_cast<unsigned char>(data[at + i]);
  return value;
}

// A PNG the way a desktop reads it: signature, chunks with good CRCs, an RGB header of the
// given size, and image data that inflates to exactly one filter byte plus one row per line.
::testing::AssertionResult IsRgbPng(const std::string& data, std::uint32_t side) {
  if (data.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0)
    return ::testing::AssertionFailure() << "no signature";
  std::string image;
  bool header = false, end = false;
  for (std::size_t at = 8; at + 12 <= data.size() && !end;) {
    std::uint32_t length = BigEndian32(data, at);
    if (at + 12 + length > data.size()) return ::testing::AssertionFailure() << "cut chunk";
    std::string type = data.substr(at + 4, 4), body = data.substr(at + 8, length);
    uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data() + at + 4),
                      length + 4);
    if (crc != BigEndian32(data, at + 8 + length))
      return ::testing::AssertionFailure() << "bad CRC in " << type;
    if (type == "IHDR") {
      header = BigEndian32(body, 0) == side && BigEndian32(body, 4) == side && body[8] == 8 &&
               body[9] == 2;
    }
    if (type == "IDAT") image += body;
    end = type == "IEND";
    at += 12 + length;
  }
  if (!header || !end)
    return ::testing::AssertionFailure() << "no 8-bit RGB header of " << side << " or no IEND";
  uLongf rows_size = side * (1 + 3 * side), produced = rows_size + 1;
  std::string rows(produced, '\0');
  if (uncompress(reinterpret_cast<Bytef*>(rows.data()), &produced,
                 reinterpret_cast<const Bytef*>(image.data()), image.size()) != Z_OK ||
      produced != rows_size) {
    return ::testing::AssertionFailure() << "image data does not inflate to " << rows_size;
  }
  return ::testing::AssertionSuccess();
}

bool IsMediaName(std::string name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name.find(".MP3") != std::string::npos || name.find(".MP4") != std::string::npos ||
         name.find(".MOV") != std::string::npos;
}

// A media member under 20 bytes is a placeholder for a real file beside the archives, except a
// video the engine streams ("V" + seven characters + "_"), whose placeholder stays.
bool IsReplacedPlaceholder(const std::string& name, std::uint64_t size) {
  bool streamed = name.size() > 8 && (name[0] == 'V' || name[0] == 'v') && name[7] == '_';
  return IsMediaName(name) && size < 20 && !streamed;
}

struct Member {
  std::string name;
  std::uint64_t size;
};

// Opens an archive with libzip's consistency checks and reads every member to its end (so that
// a bad CRC fails); returns the members, or fails the test.
std::vector<Member> ReadArchive(const std::string& path) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
  EXPECT_NE(archive, nullptr) << path << " does not open: libzip error " << error;
  if (archive == nullptr) return {};
  std::vector<Member> members;
  std::vector<char> buffer(64 * 1024);
  for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(zip_get_num_entries(archive, 0)); ++i) {
    zip_stat_t stat;
    zip_stat_index(archive, i, ZIP_FL_ENC_RAW, &stat);
    zip_file_t* file = zip_fopen_index(archive, i, 0);
    EXPECT_NE(file, nullptr) << stat.name;
    if (file == nullptr) continue;
    std::uint64_t read = 0;
    zip_int64_t n;
    while ((n = zip_fread(file, buffer.data(), buffer.size())) > 0)
      read += static_cast<std::uint64_t>(n);
    EXPECT_EQ(n, 0) << stat.name << " in " << path << " does not read to its end";
    EXPECT_EQ(read, stat.size) << stat.name;
    zip_fclose(file);
    members.push_back({stat.name, stat.size});
  }
  zip_close(archive);
  return members;
}

// One source generated with the default options, shared by the tests that only read it.
class SampleSourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shared_ = new TestSysroot;
    RunResult result = Generate({shared_->path("source")});
    ASSERT_EQ(result.status, 0) << result.output;
    output_ = result.output;
  }
  static void TearDownTestSuite() {
    delete shared_;
    shared_ = nullptr;
  }
  static std::string Source(std::string_view relative = "") {
    return shared_->path("source") + (relative.empty() ? "" : "/" + std::string(relative));
  }
  static inline TestSysroot* shared_ = nullptr;
  static inline std::string output_;
};

TEST_F(SampleSourceTest, EveryProductFolderDescribesItselfCompletely) {
  std::vector<std::string> folders = ProductFolders(Source());
  ASSERT_FALSE(folders.empty());
  for (const std::string& folder : folders) {
    SCOPED_TRACE(folder);
    const std::string ini = Source("install/data/" + folder + "/nuvel.ini");
    for (const char* key :
         {"course_name", "english_only", "versionName", "multilingual", "fix_level", "fix_version",
          "language", "version", "sr", "disc_name_install_01"}) {
      EXPECT_FALSE(Ini(ini, "nuvel.ini", key).empty()) << key << " missing";
    }
    const std::string code = folder.substr(3, 3);
    std::string title;
    installer::GetProductName(title, std::stoi(folder.substr(0, 3)));
    EXPECT_EQ(Ini(ini, "nuvel.ini", "course_name"), title);
    EXPECT_EQ(Ini(ini, "nuvel.ini", "multilingual"), code == "MUL" ? "Y" : "N");
    EXPECT_EQ(Ini(ini, "nuvel.ini", "english_only"), code == "ENG" ? "Y" : "N");
    EXPECT_EQ(Ini(ini, "nuvel.ini", "version"), folder.substr(6, 1) + "." + folder.substr(7, 1));
    // A fix level above the Setup's own 362 would make every later run warn.
    EXPECT_LE(std::stoi(Ini(ini, "nuvel.ini", "fix_level")), 362);

    // Without its lesson index a support language is recorded as English.
    std::vector<std::string> languages = Languages(Source(), folder);
    EXPECT_FALSE(languages.empty());
    for (const std::string& language : languages) {
      EXPECT_TRUE(
          fs::is_regular_file(Source("install/data/" + folder + "/" + language + "/LESSONS.C")))
          << language;
    }
    // The content's description agrees with the startup files.
    const std::string content = Source("Nuvel/content/" + folder + "/NUVEL.INI");
    for (const char* key : {"course_name", "fix_level", "fix_version"}) {
      EXPECT_EQ(Ini(content, "nuvel.ini", key), Ini(ini, "nuvel.ini", key)) << key;
    }
  }
}

TEST_F(SampleSourceTest, HoldsEveryKindOfProductAndIsSmallAndSummarised) {
  bool five_languages = false, english_only = false, placement_test = false, two_versions = false;
  std::map<int, std::set<std::string>> versions;
  for (const std::string& folder : ProductFolders(Source())) {
    const int number = std::stoi(folder.substr(0, 3));
    EXPECT_TRUE(installer::IsProductANormalCourse(number)) << folder;
    EXPECT_NE(output_.find(folder), std::string::npos) << output_;
    versions[number].insert(folder.substr(6, 2));
    two_versions = two_versions || versions[number].size() >= 2;
    english_only = english_only || folder.substr(3, 3) == "ENG";
    placement_test = placement_test || installer::ProductIsAPlacementTest(number);
    five_languages =
        five_languages || (folder.substr(3, 3) == "MUL" &&
                           Languages(Source(), folder) ==
                               std::vector<std::string>{"ENG", "FRA", "SPN", "GER", "JPN"});
  }
  EXPECT_TRUE(five_languages) << "no multilingual course with five support languages";
  EXPECT_TRUE(english_only) << "no English-only course";
  EXPECT_TRUE(placement_test) << "no placement test";
  EXPECT_TRUE(two_versions) << "no course in two versions";
  EXPECT_TRUE(fs::is_directory(Source("Nuvel/courses_d"))) << "no course as archives";
  EXPECT_FALSE(fs::exists(Source("install/data/Products.INF")));
  EXPECT_EQ(FirstLine(Source("VERSION")).substr(34, 2), "SC") << "a content disc";

  std::uint64_t total = 0;
  for (const auto& [path, size] : FileSizes(Source())) total += size;
  EXPECT_LT(total, 5u * 1000 * 1000);
  EXPECT_NE(output_.find("bytes"), std::string::npos) << output_;
}

TEST_F(SampleSourceTest, ContentFoldersHoldEachLanguageWithLessonsAndMedia) {
  int checked = 0;
  for (const std::string& folder : ProductFolders(Source())) {
    const std::string content = Source("Nuvel/content/" + folder);
    if (!fs::is_directory(content + "/COM")) continue;  // content as archives
    SCOPED_TRACE(folder);
    std::vector<std::string> subfolders = Languages(Source(), folder);
    subfolders.insert(subfolders.end(), {"COM", "ENG"});
    for (const std::string& sub : subfolders) {
      EXPECT_TRUE(fs::is_regular_file(content + "/" + sub + "/LESSONS.C")) << sub;
      int lessons = 0, media = 0;
      for (const auto& entry : fs::directory_iterator(content + "/" + sub)) {
        std::string name = entry.path().filename().string();
        lessons += name.ends_with(".DAT");
        if (!IsMediaName(name)) continue;
        ++media;
        EXPECT_GE(entry.file_size(), 20u) << name << " would be taken for a placeholder";
      }
      EXPECT_GE(lessons, 2) << sub;
      EXPECT_GE(media, 2) << sub;
    }
    ++checked;
  }
  EXPECT_GE(checked, 4);
}

// The archives' names, and which clips stay as placeholders, are checked by installing from them.
TEST_F(SampleSourceTest, ArchivesHoldPlaceholdersWhoseRealFilesAreInTheAudioFolder) {
  const std::vector<std::string> products = ProductFolders(Source());
  std::set<std::string> real_files_used, archived;
  for (const auto& entry : fs::directory_iterator(Source("Nuvel/courses_d"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    EXPECT_TRUE(std::binary_search(products.begin(), products.end(), name.substr(0, 8)));
    archived.insert(name.substr(0, 8));
    for (const Member& member : ReadArchive(entry.path().string())) {
      EXPECT_EQ(member.name.find(".."), std::string::npos) << member.name;
      EXPECT_NE(member.name.front(), '/') << member.name;
      EXPECT_FALSE(IsMediaName(member.name) && member.size > 20) << member.name << " is real media";
      if (!IsReplacedPlaceholder(member.name, member.size)) continue;
      const std::string real = Source("Nuvel/audio_d_50/" + member.name);
      ASSERT_TRUE(fs::is_regular_file(real)) << member.name << " has no real file";
      EXPECT_GE(fs::file_size(real), 20u) << member.name;
      real_files_used.insert(member.name);
    }
  }
  EXPECT_FALSE(real_files_used.empty());
  EXPECT_EQ(FileSizes(Source("Nuvel/audio_d_50")).size(), real_files_used.size())
      << "a real file lacks its placeholder";
  // An archived course has its description in the content folder but no content subfolders.
  ASSERT_FALSE(archived.empty());
  for (const std::string& course : archived) {
    EXPECT_TRUE(fs::is_regular_file(Source("Nuvel/content/" + course + "/NUVEL.INI")));
    EXPECT_FALSE(fs::exists(Source("Nuvel/content/" + course + "/COM"))) << course;
  }
}

// The companion versions are checked against the installed bundles when installing; the rest
// of versions.ini is read only by the companion applications.
TEST_F(SampleSourceTest, VersionsIniPublishesTheSourcesBuildsAndServerChecksums) {
  const std::string versions = Source("install/data/versions.ini");
  auto get = [&](const std::string& key) { return Ini(versions, "Records", key); };
  for (const std::string& folder : ProductFolders(Source())) {
    EXPECT_EQ(ThisPlatform(get(folder)),
              Ini(Source("install/data/" + folder + "/nuvel.ini"), "nuvel.ini", "fix_version"))
        << folder;
  }
  // An update checker older than 230 would mark the installation as an old one.
  EXPECT_GE(ThisPlatform(get("freshen2_ver")).substr(0, 3), "230");
  static const std::regex kMd5("[0-9a-f]{32}");
  std::set<std::string> checksums;
  int servers = 0;
  for (int n = 1; n <= 99; ++n) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "server_%03d_", n);
    if (get(std::string(prefix) + "server_name").empty()) continue;
    ++servers;
    std::string checksum = get(std::string(prefix) + "serverchecksum");
    EXPECT_TRUE(std::regex_match(checksum, kMd5)) << prefix << checksum;
    checksums.insert(checksum);
  }
  EXPECT_GE(servers, 9);
  EXPECT_EQ(checksums.size(), static_cast<std::size_t>(servers)) << "each its own checksum";
}

TEST_F(SampleSourceTest, CompanionBundlesCarryAProgramAndAnIcon) {
  for (const std::string name : {"Launcher", "Records Manager", "Analyzer", "Freshen"}) {
    SCOPED_TRACE(name);
    const std::string contents = Source("install/MacOS/" + name + ".app/Contents/");
    const std::string program = contents + "MacOS/" + name;
    ASSERT_TRUE(fs::is_regular_file(program));
    EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(ReadTestFile(program).substr(0, 2), "#!");
    EXPECT_TRUE(IsRgbPng(ReadTestFile(contents + "Resources/" + name + ".png"), 16));
  }
  const std::string engine = Source("install/MacOS/babel/libbabear.dylib");
  ASSERT_TRUE(fs::is_regular_file(engine));
  EXPECT_EQ(ThisPlatform(Ini(Source("install/data/versions.ini"), "Records", "babel_ver_mac")),
            Ini(engine + ".rsrc", "vers", "GetInfoString").substr(0, 15));
}

TEST_F(SampleSourceTest, SupportFilesHoldTheBuiltMessageFileAndTheLauncherPicture) {
  EXPECT_EQ(ReadTestFile(Source("install/data/support/engine.luc")),
            ReadTestFile(NUVEL_ENGINE_LUC_FILE));
  const std::string picture = ReadTestFile(Source("install/data/Nuvel.jpg"));
  EXPECT_EQ(ReadTestFile(Source("install/data/support/Nuvel.jpg")), picture);
  ASSERT_GT(picture.size(), 4u);
  EXPECT_EQ(picture.substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(picture.substr(picture.size() - 2), "\xFF\xD9");
  // A baseline frame of 32x16 with three components.
  std::size_t frame = picture.find("\xFF\xC0");
  ASSERT_NE(frame, std::string::npos);
  EXPECT_EQ(picture.substr(frame + 4, 6), std::string("\x08\x00\x10\x00\x20\x03", 6));
  EXPECT_FALSE(fs::is_empty(Source("doc")));
}

// ---- runs of their own

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

TEST_F(SampleSourceRunTest, ContentAsArchivesOrFolders) {
  ASSERT_EQ(Generate({"--content-as", "archives", Out("src")}).status, 0);
  for (const std::string& folder : ProductFolders(Out("src"))) {
    EXPECT_TRUE(fs::is_regular_file(Out("src/Nuvel/courses_d/" + folder + "_COM.EXE"))) << folder;
    EXPECT_FALSE(fs::exists(Out("src/Nuvel/content/" + folder + "/COM"))) << folder;
  }
  // Media of courses before version 5 lie in audio_d, and only theirs.
  std::size_t placeholders = 0;
  for (const auto& entry : fs::directory_iterator(Out("src/Nuvel/courses_d"))) {
    if (!entry.path().filename().string().starts_with("003MUL40_")) continue;
    for (const Member& member : ReadArchive(entry.path().string())) {
      if (!IsReplacedPlaceholder(member.name, member.size)) continue;
      EXPECT_TRUE(fs::is_regular_file(Out("src/Nuvel/audio_d/" + member.name))) << member.name;
      ++placeholders;
    }
  }
  EXPECT_GT(placeholders, 0u);
  EXPECT_EQ(FileSizes(Out("src/Nuvel/audio_d")).size(), placeholders);

  ASSERT_EQ(Generate({"--content-as", "folders", Out("flat")}).status, 0);
  EXPECT_FALSE(fs::exists(Out("flat/Nuvel/courses_d")));
  EXPECT_FALSE(fs::exists(Out("flat/Nuvel/audio_d_50")));
  for (const std::string& folder : ProductFolders(Out("flat"))) {
    EXPECT_TRUE(fs::is_regular_file(Out("flat/Nuvel/content/" + folder + "/ENG/LESSONS.C")))
        << folder;
  }
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

// --bundle-without-icon is used, and checked, by the desktop scenarios.
TEST_F(SampleSourceRunTest, NoDiscMarksAndEngineLucOptions) {
  ASSERT_EQ(Generate({"--no-disc-marks", Out("plain")}).status, 0);
  std::string line = FirstLine(Out("plain/VERSION"));
  ASSERT_GE(line.size(), 36u);
  EXPECT_NE(line.substr(34, 2), "SC");

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
