#include "installer/expand.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "base/log.h"
#include "base/run_state.h"
#include "installer/copy_engine.h"
#include "installer/product_table.h"
#include "platform/copy.h"
#include "platform/files.h"
#include "platform/syscalls.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"
#include "tests/support/fake_backend.h"
#include "ui/status_box.h"

namespace nuvel::installer {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

// One member of a zip archive built for a test.
struct Member {
  enum Kind { kFile, kFolder, kLink };
  std::string name;
  std::string data;  // a link's target for kLink
  Kind kind = kFile;
  bool stored = false;  // no compression, so that a test can find and damage the bytes
  std::uint32_t mode = 0;
  std::time_t mtime = 0;
};

void MakeZip(const std::string& path, const std::vector<Member>& members) {
  fs::create_directories(fs::path(path).parent_path());
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr) << "zip_open " << error;
  for (const Member& member : members) {
    zip_int64_t index;
    if (member.kind == Member::kFolder) {
      index = zip_dir_add(archive, member.name.c_str(), 0);
    } else {
      zip_source_t* source = zip_source_buffer(archive, member.data.data(), member.data.size(), 0);
      index = zip_file_add(archive, member.name.c_str(), source, 0);
    }
    ASSERT_GE(index, 0) << member.name << ": " << zip_strerror(archive);
    auto at = static_cast<zip_uint64_t>(index);
    if (member.kind == Member::kLink) {
      zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX, (0120777u << 16));
    } else if (member.mode != 0) {
      zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX, member.mode << 16);
    }
    if (member.stored) zip_set_file_compression(archive, at, ZIP_CM_STORE, 0);
    if (member.mtime != 0) zip_file_set_mtime(archive, at, member.mtime, 0);
  }
  ASSERT_EQ(zip_close(archive), 0) << zip_strerror(archive);
}

std::vector<std::string> PartialFiles(const std::string& root) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (platform::IsPartialName(it->path().filename().string())) {
      found.push_back(it->path().string());
    }
  }
  return found;
}

class ExpandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetState();
    auto backend = std::make_unique<ui::testing::FakeBackend>();
    backend_ = backend.get();
    ui::SetBackend(std::move(backend));
  }
  void TearDown() override {
    platform::ResetSyscalls();
    ResetState();
  }
  static void ResetState() { nuvel::testing::ResetInstallerModules(); }
  static bool Logged(const std::string& text) {
    const auto& held = base::Log().held;
    return std::any_of(held.begin(), held.end(), [&](const auto& line) {
      return line.second.find(text) != std::string::npos;
    });
  }
  std::string Path(const std::string& relative) const { return sysroot_.path(relative); }

  TestSysroot sysroot_;
  ui::testing::FakeBackend* backend_ = nullptr;
};

TEST_F(ExpandTest, ExpandsNestedFoldersAndReplacesExistingFiles) {
  std::string zip = Path("local/001ENG50_COM.EXE");
  MakeZip(zip, {{"COM/", "", Member::kFolder},
                {"COM/a.txt", "lesson a"},
                {"COM/deep/er/b.txt", "lesson b"},
                {"top.txt", "new top"}});
  WriteTestFile(Path("dest/top.txt"), "old top, longer than the new one");
  base::Run().current_dir = "/the/source";

  EXPECT_EQ(ExpandFile(Path("dest"), zip, 1), 0);
  EXPECT_EQ(ReadTestFile(Path("dest/COM/a.txt")), "lesson a");
  EXPECT_EQ(ReadTestFile(Path("dest/COM/deep/er/b.txt")), "lesson b");
  EXPECT_EQ(ReadTestFile(Path("dest/top.txt")), "new top");
  EXPECT_TRUE(PartialFiles(Path("dest")).empty());
  EXPECT_FALSE(platform::Exists(zip)) << "the downloaded archive was kept";
  EXPECT_EQ(base::Run().current_dir, "/the/source");
  EXPECT_EQ(CopyEngine().gBytesTransferred, 3u) << "one unit per extracted file";

  std::string title;
  GetProductName(title, 1);
  const auto& events = backend_->events;
  EXPECT_NE(std::find(events.begin(), events.end(),
                      "show " + title + "|Expanding file: 001ENG50_COM.EXE|"),
            events.end());
  EXPECT_NE(std::find(events.begin(), events.end(),
                      "show " + title + "|Expanding file: 001ENG50_COM.EXE|COM/deep/er/b.txt"),
            events.end());
  EXPECT_EQ(events.back(), "hide") << "the status box stayed open outside an overall run";

  // An archive on the installation disc is kept.
  std::string on_disc = Path("disc/Nuvel/courses_d/001ENG50_COM.EXE");
  MakeZip(on_disc, {{"a.txt", "a"}});
  base::Run().The_CD_ROM = Path("disc");
  EXPECT_EQ(ExpandFile(Path("dest"), on_disc, 0), 0);
  EXPECT_TRUE(platform::Exists(on_disc));
}

TEST_F(ExpandTest, OverallRunKeepsTheBoxAndCountsOn) {
  std::string zip = Path("local/002FRA50_GEN.EXE");
  MakeZip(zip, {{"a", "1"}, {"b", "2"}});
  ui::StatusBox().Status_Bar = 2;
  CopyEngine().Status_Bar_Cnt = 5;  // left from an earlier run; the zero total restarts it
  EXPECT_EQ(ExpandFile(Path("dest"), zip, 0), 0);
  EXPECT_EQ(CopyEngine().Status_Bar_Tot, kExpandBarTotal);
  EXPECT_EQ(CopyEngine().Status_Bar_Cnt, 2);
  EXPECT_TRUE(ui::StatusBox().exists) << "an overall run closed its status box";
}

TEST_F(ExpandTest, SkipsHiddenAndResourceForkMembers) {
  std::string zip = Path("local/a.zip");
  MakeZip(zip, {{"__MACOSX/COM/._a.txt", "fork"},
                {".DS_Store", "view"},
                {"COM/.hidden", "h"},
                {"COM/.git/config", "c"},
                {"COM/ok.txt", "ok"}});
  EXPECT_EQ(ExpandFile(Path("dest"), zip, 0), 0);
  EXPECT_EQ(ReadTestFile(Path("dest/COM/ok.txt")), "ok");
  for (const char* skipped :
       {"dest/__MACOSX", "dest/.DS_Store", "dest/COM/.hidden", "dest/COM/.git"}) {
    EXPECT_FALSE(platform::Exists(Path(skipped))) << skipped << " was extracted";
  }
}

TEST_F(ExpandTest, UnsafeMembersAreNeverWritten) {
  std::string zip = Path("local/evil.zip");
  std::string absolute = Path("abs/x.txt");
  WriteTestFile(Path("secret.txt"), "secret");
  MakeZip(zip, {{"../evil.txt", "escaped"},
                {"COM/../../evil2.txt", "escaped"},
                {absolute, "absolute"},
                {"COM/link", Path("secret.txt"), Member::kLink},
                {"COM/ok.txt", "ok"}});
  ExtractReport report;
  EXPECT_EQ(ExtractArchive(zip, Path("dest/"), nullptr, report), 0);
  EXPECT_EQ(report.files, 1);
  EXPECT_EQ(report.skipped, 4);
  EXPECT_EQ(ReadTestFile(Path("dest/COM/ok.txt")), "ok");
  EXPECT_FALSE(platform::Exists(Path("evil.txt")));
  EXPECT_FALSE(platform::Exists(Path("evil2.txt")));
  EXPECT_FALSE(platform::Exists(absolute));
  platform::ObjectInfo link;
  ASSERT_FALSE(platform::Inspect(Path("dest/COM/link"), link));
  EXPECT_EQ(link.kind, platform::ObjectKind::kMissing) << "a link member was written";
  EXPECT_EQ(ReadTestFile(Path("secret.txt")), "secret");
  EXPECT_TRUE(Logged("unsafe member not written"));
}

// Links planted where the expansion needs a folder, at its destination and below it, are
// replaced by real folders; nothing is written where they point.
TEST_F(ExpandTest, PlantedFolderLinksAreReplacedNotFollowed) {
  std::string zip = Path("local/course.zip");
  MakeZip(
      zip,
      {{"a.txt", "a"}, {"COM/", "", Member::kFolder}, {"COM/b.txt", "b"}, {"COM/deep/c.txt", "c"}});
  fs::create_directories(Path("outside"));
  fs::create_directories(Path("dest/sub"));
  ASSERT_EQ(::symlink(Path("outside").c_str(), Path("dest/course").c_str()), 0);
  ASSERT_EQ(::symlink(Path("outside").c_str(), Path("dest/sub/COM").c_str()), 0);
  for (const char* to : {"dest/course", "dest/sub"}) {
    ExtractReport report;
    ASSERT_EQ(ExtractArchive(zip, Path(to), nullptr, report), 0) << report.error;
    EXPECT_EQ(report.files, 3) << to;
    EXPECT_FALSE(fs::is_symlink(Path(to))) << to;
    EXPECT_FALSE(fs::is_symlink(Path(to) + "/COM")) << to;
    EXPECT_EQ(ReadTestFile(Path(to) + "/COM/deep/c.txt"), "c") << to;
  }
  EXPECT_TRUE(fs::is_empty(Path("outside"))) << "the expansion wrote through a planted link";
  EXPECT_TRUE(Logged("a real folder replaces it"));
}

TEST_F(ExpandTest, TruncatedArchiveFailsAndLeavesFilesAlone) {
  std::string zip = Path("local/cut.zip");
  MakeZip(zip, {{"a.txt", std::string(100000, 'a')}, {"b.txt", std::string(100000, 'b')}});
  std::string data = ReadTestFile(zip);
  WriteTestFile(zip, data.substr(0, data.size() / 2));
  WriteTestFile(Path("dest/a.txt"), "earlier a");

  EXPECT_EQ(ExpandFile(Path("dest"), zip, 0), -1);
  EXPECT_EQ(ReadTestFile(Path("dest/a.txt")), "earlier a");
  EXPECT_FALSE(platform::Exists(Path("dest/b.txt")));
  EXPECT_TRUE(PartialFiles(Path("dest")).empty());
  EXPECT_TRUE(Logged("ERROR: expanding " + zip + ": "));
  EXPECT_TRUE(backend_->shown.empty()) << "a damaged archive is no write-privileges problem";
  EXPECT_FALSE(platform::Exists(zip)) << "the damaged download was kept";
}

TEST_F(ExpandTest, MemberFailingItsCrcIsNotWrittenAndFailsTheExpansion) {
  std::string zip = Path("local/crc.zip");
  std::string body = "BEGIN-OF-MEMBER " + std::string(70000, 'x') + " END";
  MakeZip(zip, {{"big.txt", body, Member::kFile, true}, {"good.txt", "good"}});
  std::string data = ReadTestFile(zip);
  std::size_t at = data.find("BEGIN-OF-MEMBER");
  ASSERT_NE(at, std::string::npos);
  data[at + 40] ^= 0x20;
  WriteTestFile(zip, data);
  WriteTestFile(Path("dest/big.txt"), "earlier big");

  EXPECT_EQ(ExpandFile(Path("dest"), zip, 0), -1);
  EXPECT_EQ(ReadTestFile(Path("dest/big.txt")), "earlier big") << "damaged data replaced a file";
  EXPECT_EQ(ReadTestFile(Path("dest/good.txt")), "good") << "later members are still extracted";
  EXPECT_TRUE(PartialFiles(Path("dest")).empty());
  EXPECT_TRUE(Logged("ERROR: expanding " + zip + ": member big.txt"));
}

// Creating any file below the destination "dest" fails with the error in gOpenError.
int gOpenError = 0;
int FailingCreateAt(int dirfd, const char* name, int flags, unsigned mode) {
  char folder[4096];
  std::string link = "/proc/self/fd/" + std::to_string(dirfd);
  ssize_t n = ::readlink(link.c_str(), folder, sizeof folder);
  std::string path = std::string(folder, n > 0 ? static_cast<std::size_t>(n) : 0) + "/" + name;
  if ((flags & O_CREAT) && path.find("/dest/") != std::string::npos) {
    errno = gOpenError;
    return -1;
  }
  return ::openat(dirfd, name, flags | O_CLOEXEC, mode);
}

// A write failure is shown once, naming the bundle without its extension; a missing path
// shows nothing, and both fail the expansion.
TEST_F(ExpandTest, OutputFailureNamesTheBundleWithoutItsExtension) {
  std::string zip = Path("local/apps.zip");
  MakeZip(zip, {{"Records Manager.app/Contents/MacOS/Records Manager", "binary", Member::kFile,
                 false, 0100755},
                {"Launcher.app/Contents/MacOS/Launcher", "binary"}});
  platform::syscalls().openat = FailingCreateAt;
  gOpenError = EACCES;
  EXPECT_EQ(ExpandFile(Path("dest"), zip, 0), -1);
  EXPECT_EQ(Expand().gUnzipErrorFile, Path("dest/Records Manager")) << "the first failure counts";
  EXPECT_EQ(Expand().gUnzipError, 0) << "the error is cleared once it has been shown";
  ASSERT_EQ(backend_->shown.size(), 1u);
  const ui::Dialog& shown = backend_->shown.front();
  EXPECT_EQ(shown.id, "MSG_WritePrivileges");
  bool names_bundle = std::any_of(shown.items.begin(), shown.items.end(), [&](const auto& item) {
    return item.text.find("\r\r" + Path("dest/Records Manager")) != std::string::npos;
  });
  EXPECT_TRUE(names_bundle);

  MakeZip(zip, {{"a.txt", "a"}});
  gOpenError = ENOENT;
  EXPECT_EQ(ExpandFile(Path("dest"), zip, 0), -1);
  EXPECT_EQ(Expand().gUnzipError, kNotFound);
  EXPECT_EQ(backend_->shown.size(), 1u) << "a missing path shows no message";
}

TEST_F(ExpandTest, KeepsPermissionsAndTimesAndDecodesNames) {
  std::string zip = Path("local/a.zip");
  MakeZip(zip, {{"Launcher.app/Contents/MacOS/Launcher", "#!/bin/sh\n", Member::kFile, false,
                 0100755, 1300000000},
                {"M\x81ller.txt", "code page 437"},
                {"\xC3\x9C"
                 "bung.txt",
                 "UTF-8"}});
  ExtractReport report;
  ASSERT_EQ(ExtractArchive(zip, Path("dest"), nullptr, report), 0) << report.error;
  struct stat st {};
  ASSERT_EQ(::stat(Path("dest/Launcher.app/Contents/MacOS/Launcher").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u) << "the launcher lost its execute permission";
  EXPECT_NEAR(static_cast<double>(st.st_mtime), 1300000000.0, 2.0);  // DOS times are 2-second
  EXPECT_EQ(ReadTestFile(Path("dest/M\xC3\xBCller.txt")), "code page 437");
  EXPECT_EQ(ReadTestFile(Path("dest/\xC3\x9C"
                              "bung.txt")),
            "UTF-8");
}

TEST_F(ExpandTest, EncryptedMembersAreSkipped) {
  std::string zip = Path("local/secret.zip");
  {
    int error = 0;
    fs::create_directories(Path("local"));
    zip_t* archive = zip_open(zip.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    zip_source_t* source = zip_source_buffer(archive, "hidden", 6, 0);
    zip_int64_t index = zip_file_add(archive, "secret.txt", source, 0);
    if (zip_file_set_encryption(archive, static_cast<zip_uint64_t>(index), ZIP_EM_AES_256,
                                "password") != 0) {
      zip_discard(archive);
      GTEST_SKIP() << "this libzip cannot encrypt";
    }
    zip_file_add(archive, "plain.txt", zip_source_buffer(archive, "plain", 5, 0), 0);
    ASSERT_EQ(zip_close(archive), 0);
  }
  ExtractReport report;
  EXPECT_EQ(ExtractArchive(zip, Path("dest"), nullptr, report), 0);
  EXPECT_EQ(report.skipped, 1);
  EXPECT_FALSE(platform::Exists(Path("dest/secret.txt")));
  EXPECT_EQ(ReadTestFile(Path("dest/plain.txt")), "plain");
}

TEST(ExpandNamesTest, MemberNamesAreUtf8WhenValidElseCodePage437) {
  EXPECT_EQ(DecodeMemberName("COM/lesson.txt"), "COM/lesson.txt");
  EXPECT_EQ(DecodeMemberName("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(DecodeMemberName("caf\x82"), "caf\xC3\xA9");  // 0x82 is e-acute in 437
  // Overlong and surrogate forms are not UTF-8: every byte is read as 437.
  EXPECT_EQ(DecodeMemberName("\xC0\xAF"), "\xE2\x94\x94\xC2\xBB");
  EXPECT_EQ(DecodeMemberName("\xED\xA0\x80"), "\xCF\x86\xC3\xA1\xC3\x87");
  EXPECT_EQ(DecodeMemberName("\xFF"), "\xC2\xA0");
}

// ---- Shortened texts ---------------------------------------------------------------------

// A download folder's URL shows the archive alone; a long one is cut at the last slash that
// leaves room for "/ ... /file".
TEST(CompressedPathTest, UrlsAreShortened) {
  EXPECT_EQ(GetCompressedURLPath(
                30, "https://dl.nuvel.example/softwareupdates/courses2/001ENG50_COM.EXE"),
            "001ENG50_COM.EXE");
  EXPECT_EQ(GetCompressedURLPath(30, "https://dl.nuvel.example/base/courses_d/X.EXE"), "X.EXE");
  EXPECT_EQ(GetCompressedURLPath(30, "https://host.example/short"), "https://host.example/short");
  // Slashes at 33, 29, 26, 24 leave no room within 30; the one at 7 does.
  EXPECT_EQ(GetCompressedURLPath(30, "https://host.example.com/a/bb/ccc/dddd/file.zip"),
            "https:// ... /file.zip");
  EXPECT_EQ(GetCompressedURLPath(50, "https://host.example.com/a/bb/ccc/dddd/file.zip"),
            "https://host.example.com/a/bb/ccc/dddd/file.zip");
  EXPECT_EQ(GetCompressedURLPath(12, "abcdefghijklmnop/q"), "abcdefghijklmnop/q")
      << "no earlier slash: the text stays whole";
  EXPECT_EQ(GetCompressedURLPath(10, std::string(300, 'u')).size(), 254u);
}

TEST(CompressedPathTest, LongFilePathKeepsLeadingFoldersAndTheName) {
  EXPECT_EQ(GetCompressedFilePath(30, "/srv/nuvel/content/001ENG50/COM/lesson01/audio.mp3"),
            "/srv/nuvel/ ... /audio.mp3");
  EXPECT_EQ(GetCompressedFilePath(60, "/srv/nuvel/content/001ENG50/COM/audio.mp3"),
            "/srv/nuvel/content/001ENG50/COM/audio.mp3");
  EXPECT_EQ(GetCompressedFilePath(10, "/a/b/a-rather-long-name.txt"),
            "/ ... /a-rather-long-name.txt");
  EXPECT_EQ(GetCompressedFilePath(20, "/" + std::string(400, 'n')).size(), 254u);
}

TEST(IgnoreVideoFileTest, PlaceholderRules) {
  const std::tuple<const char*, int, int> cases[] = {
      {"V123456_intro.mov", 0, 1}, {"v123456_intro.mov", 1, 1}, {"V123456.mzp", 0, 0},
      {"V123456.MZP", 0, 0},       {"V1234567.mov", 0, 0},      {"V12", 0, 0},
      {"A010X001.mp3", 0, 1},      {"a010q001.mp3", 0, 1},      {"A010E001.mp3", 0, 0},
      {"a010m001.mp3", 0, 0},      {"A010t001.mp3", 0, 0},      {"A020X001.mp3", 0, 0},
      {"lesson.mp4", 0, 0}};
  for (auto [name, flag, ignored] : cases) EXPECT_EQ(IgnoreVideoFile(name, flag), ignored) << name;
}

}  // namespace
}  // namespace nuvel::installer
