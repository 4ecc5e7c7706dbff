// The sample installation-source generator, run as a program into temporary folders: the tree
// must be one the installer can read (product descriptions, archives with placeholders, bundles
// with version resources, a complete version file), sized by --content-mb, and the same bytes
// on every run.
#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
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

std::uint64_t BytesUnder(const fs::path& root) {
  std::uint64_t total = 0;
  for (const auto& [path, size] : FileSizes(root)) total += size;
  return total;
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

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while ((start = text.find_first_not_of(' ', start)) != std::string::npos) {
    std::size_t end = text.find(' ', start);
    words.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end;
  }
  return words;
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
  if (data.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
    return ::testing::AssertionFailure() << "no PNG signature";
  }
  std::string imageData;
  bool header = false, end = false;
  for (std::size_t at = 8; at + 12 <= data.size() && !end;) {
    std::uint32_t length = BigEndian32(data, at);
    if (at + 12 + length > data.size()) return ::testing::AssertionFailure() << "cut chunk";
    std::string type = data.substr(at + 4, 4), body = data.substr(at + 8, length);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data() + at + 4), length + 4);
    if (crc != BigEndian32(data, at + 8 + length)) {
      return ::testing::AssertionFailure() << "bad CRC in chunk " << type;
    }
    if (type == "IHDR") {
      header = BigEndian32(body, 0) == side && BigEndian32(body, 4) == side && body[8] == 8 &&
               body[9] == 2;
    } else if (type == "IDAT") {
      imageData += body;
    } else if (type == "IEND") {
      end = true;
    }
    at += 12 + length;
  }
  if (!header) return ::testing::AssertionFailure() << "no 8-bit RGB header of " << side;
  if (!end) return ::testing::AssertionFailure() << "no IEND chunk";
  uLongf rowsSize = side * (1 + 3 * side);
  std::string rows(rowsSize + 1, '\0');
  uLongf produced = rows.size();
  if (uncompress(reinterpret_cast<Bytef*>(rows.data()), &produced,
                 reinterpret_cast<const Bytef*>(imageData.data()), imageData.size()) != Z_OK ||
      produced != rowsSize) {
    return ::testing::AssertionFailure() << "image data does not inflate to " << rowsSize;
  }
  return ::testing::AssertionSuccess();
}

bool IsMediaName(std::string name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name.find(".MP3") != std::string::npos || name.find(".MP4") != std::string::npos ||
         name.find(".MOV") != std::string::npos;
}

// A video the engine streams: named "V" + seven characters + "_"; its placeholder stays.
bool IsIgnoredVideoName(const std::string& name) {
  return name.size() > 8 && (name[0] == 'V' || name[0] == 'v') && name[7] == '_';
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
  zip_int64_t count = zip_get_num_entries(archive, 0);
  std::vector<char> buffer(64 * 1024);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t stat;
    zip_stat_index(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &stat);
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
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

  static TestSysroot* shared_;
  static std::string output_;
};

TestSysroot* SampleSourceTest::shared_ = nullptr;
std::string SampleSourceTest::output_;

// ---- products

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
    const int number = std::stoi(folder.substr(0, 3));
    const std::string code = folder.substr(3, 3);
    std::string title;
    installer::GetProductName(title, number);
    EXPECT_EQ(Ini(ini, "nuvel.ini", "course_name"), title);
    EXPECT_EQ(Ini(ini, "nuvel.ini", "multilingual"), code == "MUL" ? "Y" : "N");
    EXPECT_EQ(Ini(ini, "nuvel.ini", "english_only"), code == "ENG" ? "Y" : "N");
    EXPECT_EQ(Ini(ini, "nuvel.ini", "version"), folder.substr(6, 1) + "." + folder.substr(7, 1));
    // A fix level above the Setup's own 362 would make every later run warn.
    EXPECT_LE(std::stoi(Ini(ini, "nuvel.ini", "fix_level")), 362);

    // Every support language has its lesson index in the startup files: without it the
    // installer records the course as English.
    std::vector<std::string> languages =
        Words(Ini(Source("install/data/" + folder + "/setup.ini"), "nuvel", "multiLanguages"));
    EXPECT_FALSE(languages.empty());
    for (const std::string& language : languages) {
      EXPECT_TRUE(
          fs::is_regular_file(Source("install/data/" + folder + "/" + language + "/LESSONS.C")))
          << language;
    }

    // The content's description agrees with the startup files; the course is complete.
    const std::string content = Source("Nuvel/content/" + folder);
    for (const char* key : {"course_name", "fix_level", "fix_version"}) {
      EXPECT_EQ(Ini(content + "/NUVEL.INI", "nuvel.ini", key), Ini(ini, "nuvel.ini", key)) << key;
    }
    EXPECT_EQ(ReadTestFile(content + "/complete.txt"), "X");
    std::string identification = FirstLine(content + "/VERSION");
    ASSERT_EQ(identification.size(), 47u);
    EXPECT_EQ(identification.substr(0, 3), folder.substr(0, 3));
    EXPECT_EQ(identification.substr(4, 3), code);
    EXPECT_EQ(identification[12], folder[6]);
    EXPECT_EQ(identification[14], folder[7]);
    EXPECT_EQ(identification.substr(34, 2), "SC");
  }
}

TEST_F(SampleSourceTest, HoldsEveryKindOfProduct) {
  std::vector<std::string> folders = ProductFolders(Source());
  bool fiveLanguages = false, englishOnly = false, placementTest = false, twoVersions = false;
  std::map<int, std::set<std::string>> versions;
  for (const std::string& folder : folders) {
    const int number = std::stoi(folder.substr(0, 3));
    EXPECT_TRUE(installer::IsProductANormalCourse(number)) << folder;
    versions[number].insert(folder.substr(6, 2));
    englishOnly = englishOnly || folder.substr(3, 3) == "ENG";
    placementTest = placementTest || installer::ProductIsAPlacementTest(number);
    fiveLanguages = fiveLanguages || (folder.substr(3, 3) == "MUL" &&
                                      Ini(Source("install/data/" + folder + "/setup.ini"), "nuvel",
                                          "multiLanguages") == "ENG FRA SPN GER JPN");
  }
  for (const auto& [number, digits] : versions) twoVersions = twoVersions || digits.size() >= 2;
  EXPECT_TRUE(fiveLanguages) << "no multilingual course with five support languages";
  EXPECT_TRUE(englishOnly) << "no English-only course";
  EXPECT_TRUE(placementTest) << "no placement test";
  EXPECT_TRUE(twoVersions) << "no course in two versions";
  EXPECT_TRUE(fs::is_directory(Source("Nuvel/courses_d"))) << "no course as archives";
  EXPECT_FALSE(fs::exists(Source("install/data/Products.INF")));
}

// ---- content

TEST_F(SampleSourceTest, ContentFoldersHoldEachLanguageWithLessonsAndMedia) {
  int foldersChecked = 0;
  for (const std::string& folder : ProductFolders(Source())) {
    const std::string content = Source("Nuvel/content/" + folder);
    if (!fs::is_directory(content + "/COM")) continue;  // content as archives
    SCOPED_TRACE(folder);
    std::vector<std::string> subfolders = {"COM", "ENG"};
    for (const std::string& language :
         Words(Ini(Source("install/data/" + folder + "/setup.ini"), "nuvel", "multiLanguages"))) {
      subfolders.push_back(language);
    }
    for (const std::string& sub : subfolders) {
      EXPECT_TRUE(fs::is_regular_file(content + "/" + sub + "/LESSONS.C")) << sub;
      int lessons = 0, media = 0;
      for (const auto& entry : fs::directory_iterator(content + "/" + sub)) {
        std::string name = entry.path().filename().string();
        if (name.ends_with(".DAT")) ++lessons;
        if (IsMediaName(name)) {
          ++media;
          EXPECT_GE(entry.file_size(), 20u) << name << " would be taken for a placeholder";
        }
      }
      EXPECT_GE(lessons, 2) << sub;
      EXPECT_GE(media, 2) << sub;
    }
    ++foldersChecked;
  }
  EXPECT_GE(foldersChecked, 4);
  // The multilingual course also carries both variant folders.
  EXPECT_TRUE(fs::is_regular_file(Source("Nuvel/content/001MUL50/GEN/LESSONS.C")));
  EXPECT_TRUE(fs::is_regular_file(Source("Nuvel/content/001MUL50/KID/LESSONS.C")));
}

TEST_F(SampleSourceTest, ArchivesHoldPlaceholdersWhoseRealFilesAreInTheAudioFolder) {
  const std::vector<std::string> products = ProductFolders(Source());
  std::set<std::string> realFilesUsed;
  int replaced = 0, ignoredVideos = 0, exactlyAtLimit = 0;
  std::set<std::string> archivedCourses;
  for (const auto& entry : fs::directory_iterator(Source("Nuvel/courses_d"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    // "%s_%s.EXE" of the product folder and the content subfolder: 16 characters.
    ASSERT_EQ(name.size(), 16u);
    EXPECT_TRUE(std::binary_search(products.begin(), products.end(), name.substr(0, 8)));
    EXPECT_EQ(name.substr(8, 1), "_");
    EXPECT_EQ(name.substr(12), ".EXE");
    archivedCourses.insert(name.substr(0, 8));

    for (const Member& member : ReadArchive(entry.path().string())) {
      EXPECT_EQ(member.name.find(".."), std::string::npos) << member.name;
      EXPECT_NE(member.name.front(), '/') << member.name;
      if (!IsMediaName(member.name)) continue;
      if (member.size >= 20) {
        ++exactlyAtLimit;
        EXPECT_EQ(member.size, 20u) << member.name << " is real media inside an archive";
        continue;
      }
      if (IsIgnoredVideoName(member.name)) {
        ++ignoredVideos;
        continue;
      }
      const std::string real = Source("Nuvel/audio_d_50/" + member.name);
      ASSERT_TRUE(fs::is_regular_file(real)) << member.name << " has no real file";
      EXPECT_GE(fs::file_size(real), 20u) << member.name;
      realFilesUsed.insert(member.name);
      ++replaced;
    }
  }
  EXPECT_GT(replaced, 0);
  EXPECT_GT(ignoredVideos, 0) << "no engine-ignored video placeholder";
  EXPECT_GT(exactlyAtLimit, 0) << "no 20-byte clip that must stay as it is";
  // No real file lacks its placeholder.
  EXPECT_EQ(FileSizes(Source("Nuvel/audio_d_50")).size(), realFilesUsed.size());
  // An archived course has its description in the content folder but no content subfolders.
  ASSERT_FALSE(archivedCourses.empty());
  for (const std::string& course : archivedCourses) {
    EXPECT_TRUE(fs::is_regular_file(Source("Nuvel/content/" + course + "/NUVEL.INI")));
    EXPECT_FALSE(fs::exists(Source("Nuvel/content/" + course + "/COM"))) << course;
    EXPECT_TRUE(fs::is_regular_file(Source("Nuvel/courses_d/" + course + "_COM.EXE")));
    EXPECT_TRUE(fs::is_regular_file(Source("Nuvel/courses_d/" + course + "_ENG.EXE")));
  }
}

// ---- disc identification, options and versions

TEST_F(SampleSourceTest, VersionFileMarksAContentDisc) {
  std::string line = FirstLine(Source("VERSION"));
  ASSERT_GE(line.size(), 36u);
  EXPECT_EQ(line.substr(34, 2), "SC");
}

TEST_F(SampleSourceTest, SetupOptionsLetAnAnsweredInstallationGoThrough) {
  const std::string setup = Source("install/data/setup.ini");
  EXPECT_EQ(Ini(setup, "Nuvel", "force_TCPIP"), "N");
  EXPECT_EQ(Ini(setup, "Nuvel", "force_discless"), "Y");
  EXPECT_EQ(Ini(setup, "Nuvel", "askrecords"), "");
}

TEST_F(SampleSourceTest, VersionsIniIsACompleteVersionFileThatOffersNoSetupUpdate) {
  const std::string versions = Source("install/data/versions.ini");
  EXPECT_GT(fs::file_size(versions), 10000u);
  const std::string setup = Ini(versions, "Records", "setup2_ver");
  ASSERT_NE(setup.find('~'), std::string::npos) << setup;
  EXPECT_EQ(ThisPlatform(setup), "362.023.008.023");
  EXPECT_FALSE(Ini(versions, "Records", "android_url").empty());
  EXPECT_FALSE(Ini(versions, "Records", "server_009_server_name").empty());
  EXPECT_FALSE(Ini(versions, "Records", "server_list_ver").empty());
  EXPECT_FALSE(Ini(versions, "Records", "docIni_ver").empty());

  // Each course's published build is the one on the source, so nothing is out of date.
  for (const std::string& folder : ProductFolders(Source())) {
    std::string published = Ini(versions, "Records", folder);
    ASSERT_FALSE(published.empty()) << folder;
    EXPECT_EQ(ThisPlatform(published),
              Ini(Source("install/data/" + folder + "/nuvel.ini"), "nuvel.ini", "fix_version"))
        << folder;
  }

  // Every listed server is complete, with its own settings checksum.
  static const std::regex kMd5("[0-9a-f]{32}");
  std::set<std::string> checksums;
  int servers = 0;
  for (int n = 1; n <= 99; ++n) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "server_%03d_", n);
    if (Ini(versions, "Records", std::string(prefix) + "server_name").empty()) continue;
    ++servers;
    for (const char* key : {"recordsipaddress", "recordsipport", "cgipath", "wo_responsepage",
                            "streamingaddress", "downloadaddress"}) {
      EXPECT_FALSE(Ini(versions, "Records", std::string(prefix) + key).empty()) << prefix << key;
    }
    std::string checksum = Ini(versions, "Records", std::string(prefix) + "serverchecksum");
    EXPECT_TRUE(std::regex_match(checksum, kMd5)) << prefix << checksum;
    checksums.insert(checksum);
  }
  EXPECT_GE(servers, 9);
  EXPECT_EQ(checksums.size(), static_cast<std::size_t>(servers));
}

// ---- companions and support files

TEST_F(SampleSourceTest, CompanionBundlesCarryProgramIconAndVersionResource) {
  const std::string versions = Source("install/data/versions.ini");
  const std::vector<std::pair<std::string, std::string>> bundles = {{"Launcher", "launcher2_ver"},
                                                                    {"Records Manager", "rm2_ver"},
                                                                    {"Analyzer", "analyze2_ver"},
                                                                    {"Freshen", "freshen2_ver"}};
  for (const auto& [name, key] : bundles) {
    SCOPED_TRACE(name);
    const std::string contents = Source("install/MacOS/" + name + ".app/Contents/");
    const std::string program = contents + "MacOS/" + name;
    ASSERT_TRUE(fs::is_regular_file(program));
    EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(ReadTestFile(program).substr(0, 2), "#!");
    EXPECT_TRUE(IsRgbPng(ReadTestFile(contents + "Resources/" + name + ".png"), 16));

    // The version resource in the form "a.b.c (MID vM1.M2)", which the installer turns into
    // the long form; versions.ini publishes exactly that version, so nothing needs updating.
    const std::string resource = contents + "Resources/" + name + ".rsrc";
    std::string shortVersion = Ini(resource, "vers", "1");
    int a, b, c, m1, m2;
    char tail = 0;
    ASSERT_EQ(
        std::sscanf(shortVersion.c_str(), "%d.%d.%d (MID v%d.%d%c", &a, &b, &c, &m1, &m2, &tail), 6)
        << shortVersion;
    EXPECT_EQ(tail, ')');
    char longVersion[32];
    std::snprintf(longVersion, sizeof longVersion, "%03d.%03d.%03d.%03d", m1 * 100 + m2 * 10, a, b,
                  c);
    EXPECT_EQ(ThisPlatform(Ini(versions, "Records", key)), longVersion);
    EXPECT_EQ(Ini(resource, "vers", "GetInfoString").substr(0, 15), longVersion);
  }
  // An update checker older than 230 would mark the installation as an old one.
  EXPECT_GE(ThisPlatform(Ini(versions, "Records", "freshen2_ver")).substr(0, 3), "230");

  const std::string engine = Source("install/MacOS/babel/libbabear.dylib");
  ASSERT_TRUE(fs::is_regular_file(engine));
  EXPECT_EQ(ThisPlatform(Ini(versions, "Records", "babel_ver_mac")),
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

TEST_F(SampleSourceTest, DefaultSourceIsSmallAndSummarised) {
  EXPECT_LT(BytesUnder(Source()), 5u * 1000 * 1000);
  for (const std::string& folder : ProductFolders(Source())) {
    EXPECT_NE(output_.find(folder), std::string::npos) << output_;
  }
  EXPECT_NE(output_.find("bytes"), std::string::npos) << output_;
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
  std::map<std::string, std::uint64_t> one = FileSizes(Out("one")), two = FileSizes(Out("two"));
  ASSERT_EQ(one, two);
  for (const auto& [path, size] : one) {
    ASSERT_EQ(ReadTestFile(Out("one/" + path)), ReadTestFile(Out("two/" + path))) << path;
  }
}

TEST_F(SampleSourceRunTest, ContentMbSizesTheContentOverManyFiles) {
  RunResult result = Generate({"--content-mb", "20", Out("big")});
  ASSERT_EQ(result.status, 0) << result.output;
  std::map<std::string, std::uint64_t> content = FileSizes(Out("big/Nuvel"));
  std::uint64_t total = 0, largest = 0;
  for (const auto& [path, size] : content) {
    total += size;
    // An archive gathers a whole content folder; the lesson and media files themselves must be
    // many small ones.
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
    EXPECT_EQ(record.substr(296, 2), folder.substr(3, 3) == "ENG" ? std::string("\x01\x00", 2)
                                                                  : std::string("\x00\x00", 2));
    EXPECT_EQ(record.substr(304, 2), folder.substr(3, 3) == "MUL" ? std::string("\x01\x00", 2)
                                                                  : std::string("\x00\x00", 2));
  }
}

TEST_F(SampleSourceRunTest, NoDiscMarksLeavesTheContentMarkOut) {
  ASSERT_EQ(Generate({"--no-disc-marks", Out("src")}).status, 0);
  std::string line = FirstLine(Out("src/VERSION"));
  ASSERT_GE(line.size(), 36u);
  EXPECT_NE(line.substr(34, 2), "SC");
}

TEST_F(SampleSourceRunTest, BundleWithoutIconIsTheOnlyOneWithoutIcon) {
  RunResult result = Generate({"--bundle-without-icon", "Analyzer", Out("src")});
  ASSERT_EQ(result.status, 0) << result.output;
  const std::string apps = Out("src/install/MacOS/");
  EXPECT_FALSE(fs::exists(apps + "Analyzer.app/Contents/Resources/Analyzer.png"));
  EXPECT_TRUE(fs::is_regular_file(apps + "Analyzer.app/Contents/Resources/Analyzer.rsrc"));
  EXPECT_TRUE(fs::is_regular_file(apps + "Analyzer.app/Contents/MacOS/Analyzer"));
  EXPECT_TRUE(fs::is_regular_file(apps + "Launcher.app/Contents/Resources/Launcher.png"));
  EXPECT_TRUE(fs::is_regular_file(apps + "Freshen.app/Contents/Resources/Freshen.png"));
  EXPECT_EQ(Generate({"--bundle-without-icon", "Organizer", Out("other")}).status, 2);
}

TEST_F(SampleSourceRunTest, EngineLucOptionCopiesTheGivenMessageFile) {
  WriteTestFile(Out("my.luc"), "000000 a message file of our own");
  ASSERT_EQ(Generate({"--engine-luc", Out("my.luc"), Out("src")}).status, 0);
  EXPECT_EQ(ReadTestFile(Out("src/install/data/support/engine.luc")),
            "000000 a message file of our own");
  EXPECT_EQ(Generate({"--engine-luc", Out("missing.luc"), Out("src2")}).status, 1);
}

TEST_F(SampleSourceRunTest, ContentAsArchivesPutsEveryCourseInArchivesByVersion) {
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
      if (!IsMediaName(member.name) || member.size >= 20 || IsIgnoredVideoName(member.name)) {
        continue;
      }
      EXPECT_TRUE(fs::is_regular_file(Out("src/Nuvel/audio_d/" + member.name))) << member.name;
      ++placeholders;
    }
  }
  EXPECT_GT(placeholders, 0u);
  EXPECT_EQ(FileSizes(Out("src/Nuvel/audio_d")).size(), placeholders);
}

TEST_F(SampleSourceRunTest, ContentAsFoldersWritesNoArchives) {
  ASSERT_EQ(Generate({"--content-as", "folders", Out("src")}).status, 0);
  EXPECT_FALSE(fs::exists(Out("src/Nuvel/courses_d")));
  EXPECT_FALSE(fs::exists(Out("src/Nuvel/audio_d_50")));
  for (const std::string& folder : ProductFolders(Out("src"))) {
    EXPECT_TRUE(fs::is_regular_file(Out("src/Nuvel/content/" + folder + "/ENG/LESSONS.C")))
        << folder;
  }
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

TEST_F(SampleSourceRunTest, UsageErrorsExitWithStatusTwo) {
  EXPECT_EQ(Generate({}).status, 2);
  EXPECT_EQ(Generate({"--sparkle", Out("src")}).status, 2);
  EXPECT_EQ(Generate({"--content-mb", "lots", Out("src")}).status, 2);
  EXPECT_EQ(Generate({"--content-as", "zips", Out("src")}).status, 2);
  EXPECT_EQ(Generate({Out("a"), Out("b")}).status, 2);
  EXPECT_FALSE(fs::exists(Out("src")));
}

}  // namespace
}  // namespace nuvel::testing
