#include "platform/desktop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/syscalls.h"
#include "tests/support/test_env.h"

namespace nuvel::platform {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

class DesktopLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_ = sysroot_.path("home/Desktop");
    fs::create_directories(desktop_);
  }
  void TearDown() override { ResetSyscalls(); }

  DesktopLauncher Launcher(const std::string& app_folder = "opt/Nuvel") const {
    DesktopLauncher launcher;
    launcher.name = "Student";
    launcher.exec = sysroot_.path(app_folder + "/Launcher.app/Contents/MacOS/Launcher");
    launcher.icon = sysroot_.path(app_folder + "/Launcher.app/Contents/Resources/Launcher.png");
    return launcher;
  }

  // The names in the desktop folder, temporary files included.
  std::vector<std::string> DesktopNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(desktop_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TestSysroot sysroot_;
  std::string desktop_;
};

// ---- Exec quoting -------------------------------------------------------------------------

TEST(DesktopExecQuotingTest, ReservedCharactersCannotEscapeTheQuotes) {
  // Each of these would be read by the desktop as syntax or a field code if left bare.
  EXPECT_EQ(QuoteExecArgument("/opt/My Apps/a\"b`c$d\\e%f"),
            "\"/opt/My Apps/a\\\"b\\`c\\$d\\\\e%%f\"");
  // A literal backslash in a quoted argument takes four backslashes in the file.
  EXPECT_EQ(EscapeDesktopString(QuoteExecArgument("a\\b")), "\"a\\\\\\\\b\"");
  EXPECT_EQ(EscapeDesktopString("line\nnext\ttab"), "line\\nnext\\ttab");
}

// ---- Writing and deleting -----------------------------------------------------------------

TEST_F(DesktopLauncherTest, LauncherIsExecutableWhateverTheUmaskAndRewrittenWholeOrNotAtAll) {
  std::string path = desktop_ + "/Student.desktop";
  mode_t old = ::umask(077);
  std::error_code ec = WriteDesktopLauncher(path, Launcher());
  ::umask(old);
  ASSERT_FALSE(ec) << ec.message();
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u) << "a desktop does not start a launcher without x bits";

  WriteTestFile(path, "[Desktop Entry]\nName=Old\n");
  ASSERT_FALSE(WriteDesktopLauncher(path, Launcher()));
  EXPECT_EQ(ReadTestFile(path).find("Name=Old"), std::string::npos);
  EXPECT_EQ(DesktopNames(), std::vector<std::string>{"Student.desktop"}) << "no temporary file";

  // A failed write keeps the old launcher whole.
  WriteTestFile(path, "old launcher");
  syscalls().write = [](int, const void*, std::size_t) -> long {
    errno = ENOSPC;
    return -1;
  };
  ec = WriteDesktopLauncher(path, Launcher());
  ResetSyscalls();
  EXPECT_EQ(ec, std::errc::no_space_on_device);
  EXPECT_EQ(ReadTestFile(path), "old launcher");
  EXPECT_EQ(DesktopNames(), std::vector<std::string>{"Student.desktop"});
}

TEST_F(DesktopLauncherTest, DeleteRemovesALauncherButLeavesAFolderOfTheSameName) {
  std::string path = desktop_ + "/Nuvel Courseware.desktop";
  WriteTestFile(path, "[Desktop Entry]\n");
  EXPECT_FALSE(DeleteDesktopLauncher(path));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(DeleteDesktopLauncher(path), std::errc::no_such_file_or_directory);

  path = desktop_ + "/Student.desktop";
  WriteTestFile(path + "/keep.txt", "mine");
  EXPECT_EQ(WriteDesktopLauncher(path, Launcher()), std::errc::device_or_resource_busy);
  EXPECT_EQ(DeleteDesktopLauncher(path), std::errc::device_or_resource_busy);
  EXPECT_EQ(ReadTestFile(path + "/keep.txt"), "mine");
}

TEST_F(DesktopLauncherTest, LauncherWithAwkwardPathPassesTheValidator) {
  // Blanks, a percent sign and a dollar sign in the installation folder.
  DesktopLauncher launcher = Launcher("opt/Nuvel 100% $pecial");
  launcher.name = "Student Nuvel";
  std::string path = desktop_ + "/Student Nuvel.desktop";
  ASSERT_FALSE(WriteDesktopLauncher(path, launcher));

  int status = -1;
  std::string output;
  ASSERT_FALSE(RunAndWait({"desktop-file-validate", path}, status, &output, true))
      << "desktop-file-validate is installed by scripts/install-deps.sh";
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "");
}

}  // namespace
}  // namespace nuvel::platform
