// Removing the whole installation where the locations point at folders that are not, or not
// only, an installation's: what the installation scenarios cannot set up.
#include "installer/uninstall.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

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

TEST_F(WholeRemovalTest, RecordsFolderThatIsTheHomeFolderIsNeverTouched) {
  const std::string home = sysroot_.path("home");
  WriteTestFile(home + "/data/mine.txt", "a folder named like ours\n");
  WriteTestFile(home + "/records.ini", "[Records]\n");
  base::Paths().RecordsPath = home + "/data";
  WholeRemoval removal = RemoveWholeInstallation();
  EXPECT_EQ(removal.refused, 1);
  EXPECT_EQ(Below(home + "/data"), std::set<std::string>{"mine.txt"});
  EXPECT_TRUE(fs::exists(home + "/records.ini"));
  EXPECT_FALSE(fs::exists(install_));
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
