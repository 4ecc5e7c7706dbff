#include <gtest/gtest.h>

#include <filesystem>

#include "platform/folders.h"
#include "tests/support/test_env.h"

namespace nuvel::platform {
namespace {

using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

// An installed prefix: the program in usr/bin, the helper and the data where the package puts
// them. The executable itself need not exist for the lookup.
class ShippedFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTestFile(sysroot_.path("usr/bin/nuvel-setup"), "program");
    WriteTestFile(sysroot_.path("usr/libexec/nuvel-setup/NuvelTool"), "installed helper");
    WriteTestFile(sysroot_.path("usr/share/nuvel-setup/engine.luc"), "installed messages");
  }
  std::string Exe() const { return sysroot_.path("usr/bin/nuvel-setup"); }
  TestSysroot sysroot_;
};

TEST_F(ShippedFilesTest, InstalledLayoutIsFoundRelativeToTheExecutableWithoutDotDot) {
  EXPECT_EQ(FindShippedFile(Exe(), "NuvelTool", kInstalledHelperFolder),
            sysroot_.path("usr/libexec/nuvel-setup/NuvelTool"));
  EXPECT_EQ(FindShippedFile(Exe(), "engine.luc", kInstalledDataFolder),
            sysroot_.path("usr/share/nuvel-setup/engine.luc"));
  // Each file is looked for only in its own folder of the prefix.
  EXPECT_EQ(FindShippedFile(Exe(), "NuvelTool", kInstalledDataFolder), "");
  EXPECT_EQ(FindShippedFile(Exe(), "engine.luc", kInstalledHelperFolder), "");
  EXPECT_EQ(FindShippedFile("", "NuvelTool", kInstalledHelperFolder), "");
}

TEST_F(ShippedFilesTest, FileBesideTheExecutableWinsAndAFolderOfThatNameDoesNot) {
  // A build tree that also has an installed copy around it: its own fresh files are used.
  WriteTestFile(sysroot_.path("usr/bin/NuvelTool"), "build tree helper");
  EXPECT_EQ(FindShippedFile(Exe(), "NuvelTool", kInstalledHelperFolder),
            sysroot_.path("usr/bin/NuvelTool"));

  // A folder named engine.luc beside the program is not the message file.
  std::filesystem::create_directories(sysroot_.path("usr/bin/engine.luc"));
  EXPECT_EQ(FindShippedFile(Exe(), "engine.luc", kInstalledDataFolder),
            sysroot_.path("usr/share/nuvel-setup/engine.luc"));

  // Neither place: nothing, rather than a path that does not exist.
  std::filesystem::remove(sysroot_.path("usr/share/nuvel-setup/engine.luc"));
  EXPECT_EQ(FindShippedFile(Exe(), "engine.luc", kInstalledDataFolder), "");
}

}  // namespace
}  // namespace nuvel::platform
