// Removing the whole installation where the locations point at folders that are not, or not
// only, an installation's: what the installation scenarios cannot set up.
#include "installer/uninstall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/paths.h"
#include "tests/support/fake_backend.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"

namespace nuvel::installer {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

// Every path below `folder`, files and folders, relative to it.
std::set<std::string> Below(const std::string& folder) {
  std::set<std::string> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    found.insert(it->path().lexically_relative(folder).string());
  }
  return found;
}

class WholeRemovalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nuvel::testing::ResetBaseModules();
    ui::SetBackend(std::make_unique<ui::testing::FakeBackend>());
    // An installation in <sysroot>/srv/Nuvel with one course; the system folder elsewhere.
    install_ = sysroot_.path("srv/Nuvel");
    WriteTestFile(install_ + "/launch/010ENG50/nuvel.ini", "[nuvel.ini]\n");
    WriteTestFile(install_ + "/content/010ENG50/VERSION", "x");
    base::PathState& paths = base::Paths();
    paths.DataPath = install_ + "/launch/";
    paths.localNuvelDirectory = sysroot_.path("opt/Nuvel/");
    paths.rRecordsIniPath = paths.localNuvelDirectory;
    WriteTestFile(paths.localNuvelDirectory + "records.ini", "[Records]\n");
  }
  void TearDown() override {
    nuvel::testing::ResetBaseModules();
    ui::SetBackend(nullptr);
  }

  TestSysroot sysroot_;
  std::string install_;
};

// The safety rule, for each kind of folder a records path may name: the folders that must never
// be touched are refused whole, a folder holding nothing of ours is refused, and a records folder
// loses only what this program made.
TEST_F(WholeRemovalTest, OnlyFoldersHoldingAnInstallationAndNoProtectedFolderAreRemoved) {
  const std::string home = sysroot_.path("users/ana");
  ::setenv("HOME", home.c_str(), 1);  // TestSysroot restores it
  fs::create_directories(home);
  struct Case {
    std::string folder;
    std::vector<std::string> files;  // written into the folder first
    bool removed;                    // among the folders removed
    std::set<std::string> kept;      // of `files`, what is still there afterwards
  };
  const Case cases[] = {
      {"/", {}, false, {}},
      {sysroot_.root(), {"records.ini", "data/s.dat"}, false, {"records.ini", "data/s.dat"}},
      {home, {"records.ini", "data/mine.txt"}, false, {"records.ini", "data/mine.txt"}},
      {sysroot_.path("users"), {"records.ini"}, false, {"records.ini"}},
      {sysroot_.path("srv/empty"), {}, false, {}},
      {sysroot_.path("srv/records"), {"records.ini", "data/s.dat", "data_i_001/t.dat"}, true, {}},
      {sysroot_.path("srv/mixed"), {"records.ini", "notes.txt", "data/s.dat"}, true, {"notes.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    fs::create_directories(c.folder);
    for (const std::string& file : c.files) WriteTestFile(c.folder + "/" + file, "x");
    base::Paths().RecordsPath = c.folder;
    std::vector<std::string> expected = {sysroot_.path("opt/Nuvel"), install_};
    if (c.removed) expected.push_back(c.folder);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(WholeInstallationFolders(), expected);
    if (c.folder == "/") continue;  // never removed for real, whatever the rule says

    WholeRemoval removal = RemoveWholeInstallation();
    EXPECT_EQ(removal.refused, c.removed ? 0 : 1);
    EXPECT_TRUE(removal.failed.empty());
    for (const std::string& file : c.files) {
      EXPECT_EQ(fs::exists(c.folder + "/" + file), c.kept.count(file) == 1) << file;
    }
    EXPECT_EQ(fs::exists(c.folder), !c.removed || !c.kept.empty()) << "removed only when empty";
    EXPECT_FALSE(fs::exists(install_));
    SetUp();  // the installation again, for the next case
  }
}

TEST_F(WholeRemovalTest, RecordsFolderReadFromRecordsIniIsTheFolderItselfNotTheOneAbove) {
  // The records folder is the system folder: the Applications folder above it holds a foreign
  // "data" and "content" that must stay.
  const std::string apps = sysroot_.path("opt");
  WriteTestFile(apps + "/data/other.txt", "x");
  WriteTestFile(apps + "/content/other.txt", "x");
  base::Paths().RecordsPath = apps + "/Nuvel";
  EXPECT_EQ(WholeInstallationFolders(), (std::vector<std::string>{apps + "/Nuvel", install_}));
  WholeRemoval removal = RemoveWholeInstallation();
  EXPECT_EQ(removal.refused, 0);
  EXPECT_TRUE(removal.left.empty());
  EXPECT_EQ(Below(apps),
            (std::set<std::string>{"data", "data/other.txt", "content", "content/other.txt"}));
}

TEST_F(WholeRemovalTest, FolderHoldingNothingOfOursAndLinksOutOfTheInstallationStay) {
  // A records folder that was never set up, and a "content" that is a link to another folder
  // with a folder named like a course.
  const std::string share = sysroot_.path("srv/share");
  WriteTestFile(share + "/minutes.txt", "x");
  base::Paths().RecordsPath = share + "/data";
  const std::string elsewhere = sysroot_.path("srv/elsewhere");
  WriteTestFile(elsewhere + "/001MUL50/keep.txt", "x");
  fs::remove_all(install_ + "/content");
  fs::create_directory_symlink(elsewhere, install_ + "/content");

  EXPECT_EQ(WholeInstallationFolders(),
            (std::vector<std::string>{sysroot_.path("opt/Nuvel"), install_}));
  WholeRemoval removal = RemoveWholeInstallation();
  EXPECT_EQ(removal.refused, 1);
  EXPECT_EQ(removal.left, std::vector<std::string>{install_ + "/content"});
  EXPECT_EQ(Below(share), std::set<std::string>{"minutes.txt"});
  EXPECT_EQ(Below(elsewhere), (std::set<std::string>{"001MUL50", "001MUL50/keep.txt"}));
  EXPECT_TRUE(fs::is_symlink(install_ + "/content"));
  EXPECT_FALSE(fs::exists(install_ + "/launch"));
}

}  // namespace
}  // namespace nuvel::installer
