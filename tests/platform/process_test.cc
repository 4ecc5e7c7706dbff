#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/events.h"
#include "platform/folders.h"
#include "platform/privileges.h"
#include "tests/support/test_env.h"

namespace nuvel::platform {
namespace {

namespace fs = std::filesystem;
using nuvel::testing::ReadTestFile;
using nuvel::testing::TestSysroot;
using nuvel::testing::WriteTestFile;

// Runs `body` in a forked copy of this process and returns its exit status.
int InChildProcess(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits (without pumping, so nobody collects a child) until `done` holds.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) SleepMilliseconds(10);
  return done();
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bin_ = sysroot_.path("bin");
    fs::create_directories(bin_);
    if (const char* path = std::getenv("PATH")) saved_path_ = path;
  }
  void TearDown() override {
    SetEventPump(nullptr);
    RemoveQuitSignalHandlers();
    SetPrivilegedHelperForTesting("");
    ReleaseInstanceLock("NvT1");
    ::setenv("PATH", saved_path_.c_str(), 1);
  }

  // What the util-linux flock tool, an independent program, sees of the lock.
  static int FlockToolStatus(const std::string& code) {
    int status = -1;
    RunAndWait({"flock", "-n", "-E", "42", InstanceLockPath(code), "true"}, status, nullptr, true);
    return status;
  }

  std::string Script(const std::string& name, const std::string& body) {
    std::string path = bin_ + "/" + name;
    WriteTestFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms(0755));
    return path;
  }

  void PathWithOurBinFirst() { ::setenv("PATH", (bin_ + ":" + saved_path_).c_str(), 1); }

  TestSysroot sysroot_;
  std::string bin_;
  std::string saved_path_;
};

TEST_F(ProcessTest, ArgumentsReachTheProgramUntouchedByAnyShell) {
  int status = -1;
  std::string output;
  ASSERT_FALSE(
      RunAndWait({"printf", "%s|", "a b", "$HOME;rm -rf x", "'q'", "*"}, status, &output, true));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "a b|$HOME;rm -rf x|'q'|*|");
}

TEST_F(ProcessTest, MissingOrNonExecutableProgramFailsToStart) {
  int pid = 0;
  EXPECT_EQ(Spawn({bin_ + "/nothing"}, pid), std::errc::no_such_file_or_directory);
  std::string plain = bin_ + "/plain";
  WriteTestFile(plain, "not a program");
  EXPECT_EQ(Spawn({plain}, pid), std::errc::permission_denied);
  EXPECT_EQ(pid, 0);
}

TEST_F(ProcessTest, WaitPumpsEventsUntilTheChildEndsAndTheChildReadsNoInput) {
  int pumps = 0;
  SetEventPump([&] { ++pumps; });
  SpawnOptions options;
  options.output_path = sysroot_.path("out.txt");
  int pid = 0;
  ASSERT_FALSE(Spawn({Script("slow", "cat; sleep 0.2; echo end\n")}, pid, options));
  int status = -1;
  ASSERT_FALSE(WaitForChild(pid, status));
  EXPECT_EQ(ReadTestFile(options.output_path), "end\n")
      << "standard input must be empty, not the terminal";
  EXPECT_GT(pumps, 0) << "the user interface must stay live while waiting";
}

TEST_F(ProcessTest, WaitWithTimeOutLeavesTheChildRunning) {
  int pid = 0;
  ASSERT_FALSE(Spawn({"/bin/sleep", "30"}, pid));
  int status = -1;
  EXPECT_EQ(WaitForChild(pid, status, 30), std::errc::timed_out);
  EXPECT_TRUE(ProcessExists(pid));
  ::kill(pid, SIGTERM);
  ASSERT_FALSE(WaitForChild(pid, status));
  EXPECT_EQ(status, 128 + SIGTERM);
  EXPECT_FALSE(ProcessExists(pid));
}

TEST_F(ProcessTest, EndedChildCountsAsGoneAndUnwaitedOnesAreCollectedByThePump) {
  int waited = 0;
  int unwaited = 0;
  ASSERT_FALSE(Spawn({"/bin/true"}, waited));
  ASSERT_FALSE(Spawn({"/bin/true"}, unwaited));
  EXPECT_TRUE(Eventually([&] { return !ProcessExists(waited) && !ProcessExists(unwaited); }))
      << "a child that ended counts as gone before it is collected";
  int status = -1;
  EXPECT_FALSE(WaitForChild(waited, status));
  PumpEventsAndSignals();
  EXPECT_EQ(::waitpid(unwaited, nullptr, WNOHANG), -1) << "the ended child is still a zombie";
}

TEST_F(ProcessTest, FindsOthersByKernelNameAndByTheFullCommandName) {
  // The process id keeps concurrent runs of these tests apart. The name is longer than the 15
  // bytes the kernel keeps, so its "Tail" is found through the command line only.
  std::string stem = "NvProbe" + std::to_string(::getpid());
  std::string tail = std::to_string(::getpid()) + "Tail";
  fs::copy_file("/bin/sleep", bin_ + "/" + stem + "Tail");
  int pid = 0;
  ASSERT_FALSE(Spawn({bin_ + "/" + stem + "Tail", "30"}, pid));
  // The parent resumes before the kernel has filled in the new program's name and command line.
  EXPECT_TRUE(Eventually([&] { return FindProcessByName(stem) == pid; }));
  EXPECT_TRUE(Eventually([&] { return FindProcessByName(tail) == pid; }));
  EXPECT_EQ(FindProcessByName(""), 0);
  std::string self = ReadTestFile("/proc/self/comm");
  EXPECT_NE(FindProcessByName(self.substr(0, self.size() - 1)), ::getpid()) << "never itself";
  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_FALSE(WaitForChild(pid, status));
  EXPECT_EQ(FindProcessByName(tail), 0);
}

// ---- Single instance ---------------------------------------------------------------------

TEST_F(ProcessTest, SecondProcessCannotTakeAHeldLockNorInheritIt) {
  fs::create_directories(sysroot_.path("opt/Nuvel"));  // where the instance locks live
  bool elsewhere = true;
  ASSERT_FALSE(TakeInstanceLock("NvT1", elsewhere));
  EXPECT_FALSE(elsewhere);
  int sleeper = 0;
  ASSERT_FALSE(Spawn({"/bin/sleep", "30"}, sleeper));
  EXPECT_EQ(InChildProcess([] {
              bool held = false;
              if (TakeInstanceLock("NvT1", held)) return 2;
              return held && InstanceLockHeldElsewhere("NvT1") ? 0 : 1;
            }),
            0)
      << "a second copy must see the first one's lock";
  EXPECT_EQ(FlockToolStatus("NvT1"), 42);

  ReleaseInstanceLock("NvT1");
  int status = FlockToolStatus("NvT1");
  ::kill(sleeper, SIGTERM);
  int ignored = 0;
  WaitForChild(sleeper, ignored);
  EXPECT_EQ(status, 0) << "not released, or the launched program kept this process's lock alive";
}

// Every user and every run with administrator rights, whatever its runtime or temporary
// folder, must find one lock: it lives in the system folder.
TEST_F(ProcessTest, LockFileLivesInTheSystemFolderAndALinkThereIsNeverFollowed) {
  ::setenv("XDG_RUNTIME_DIR", sysroot_.path("run").c_str(), 1);
  EXPECT_EQ(InstanceLockPath("a/b "), sysroot_.path("opt/Nuvel/nuvel-a%2Fb%20.lock"));
  fs::create_directories(sysroot_.path("var/lib/Nuvel"));
  EXPECT_EQ(InstanceLockPath("NvSU"), sysroot_.path("var/lib/Nuvel/nuvel-NvSU.lock"))
      << "only the shared data folder's Nuvel exists";
  fs::create_directories(sysroot_.path("opt/Nuvel"));

  // A link (to a file, or dangling) in the lock file's place: no lock, and nothing created or
  // changed where it points.
  WriteTestFile(sysroot_.path("etc/secret"), "root only");
  fs::create_symlink(sysroot_.path("etc/secret"), InstanceLockPath("NvT1"));
  bool elsewhere = true;
  EXPECT_EQ(TakeInstanceLock("NvT1", elsewhere), std::errc::too_many_symbolic_link_levels);
  EXPECT_FALSE(elsewhere);
  fs::remove(InstanceLockPath("NvT1"));
  fs::create_symlink(sysroot_.path("etc/created"), InstanceLockPath("NvT1"));
  EXPECT_TRUE(TakeInstanceLock("NvT1", elsewhere));
  fs::remove(InstanceLockPath("NvT1"));
  fs::create_directory(InstanceLockPath("NvT1"));
  EXPECT_TRUE(TakeInstanceLock("NvT1", elsewhere)) << "a folder in its place is no lock either";
  EXPECT_EQ(ReadTestFile(sysroot_.path("etc/secret")), "root only");
  EXPECT_FALSE(fs::exists(sysroot_.path("etc/created")));
}

// ---- Quit signals ------------------------------------------------------------------------

TEST_F(ProcessTest, QuitSignalIsOnlyRecordedUntilThePumpServesIt) {
  std::vector<int> served;
  InstallQuitSignalHandlers([&](int signal) { served.push_back(signal); });
  ::raise(SIGTERM);
  EXPECT_EQ(PendingQuitSignal(), SIGTERM);
  EXPECT_TRUE(served.empty()) << "the quit handler must not run inside the signal handler";
  EXPECT_EQ(PumpEventsAndSignals(), SIGTERM);
  EXPECT_EQ(PendingQuitSignal(), 0);
  EXPECT_EQ(PumpEventsAndSignals(), 0);
  ::raise(SIGINT);
  EXPECT_EQ(ServiceQuitSignal(), SIGINT);
  // One sent by another program is served by the wait for that program (or this pump).
  int status = -1;
  ASSERT_FALSE(RunAndWait({"kill", "-HUP", std::to_string(::getpid())}, status, nullptr, true));
  PumpEventsAndSignals();
  EXPECT_EQ(served, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
}

TEST(QuitSignalDeathTest, QuitSignalNobodyServesEndsTheProcessWithItsStatus) {
  // A loop that never turns the event pump, and a sleep that is not interrupted by the signal.
  EXPECT_EXIT(
      {
        InstallQuitSignalHandlers([](int) {});
        ::raise(SIGTERM);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
        }
        ::_exit(0);
      },
      ::testing::ExitedWithCode(128 + SIGTERM), "ended by a quit signal");
  // Served in time, the signal leaves the process to its quit handler.
  EXPECT_EXIT(
      {
        InstallQuitSignalHandlers([](int) {});
        ::raise(SIGINT);
        ServiceQuitSignal();
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        while (std::chrono::steady_clock::now() < until) {
        }
        ::_exit(7);
      },
      ::testing::ExitedWithCode(7), "");
}

// ---- The desktop's opener ----------------------------------------------------------------
// (Its refusal and a missing opener are checked through the shortcuts' web pages.)

TEST_F(ProcessTest, UrlIsOneArgumentOfTheOpenerAndAnOpenerStillRunningCountsAsSuccess) {
  std::string record = sysroot_.path("opened.txt");
  Script("xdg-open", "printf '%s\\n' \"$@\" >> '" + record + "'\n[ \"$1\" != slow: ] || sleep 2\n");
  PathWithOurBinFirst();
  EXPECT_EQ(OpenUrl("--help"), -EINVAL) << "a URL must not become an option";
  EXPECT_EQ(OpenUrl("mailto:help@example.com?subject=a b;c"), 0);
  EXPECT_EQ(ReadTestFile(record), "mailto:help@example.com?subject=a b;c\n");
  // Some desktops keep the opener until the browser ends: after the grace time it succeeded.
  double start = MonotonicSeconds();
  EXPECT_EQ(OpenUrl("slow:", 50), 0);
  EXPECT_LT(MonotonicSeconds() - start, 1.5);
}

// ---- The system folder and NuvelTool ------------------------------------------------------
// (A folder the user may create is made directly; the paths tests check that.)

class SystemFolderTest : public ProcessTest {
 protected:
  void SetUp() override {
    ProcessTest::SetUp();
    // NuvelTool lands beside nuvel-setup, in the build tree's "setup" folder.
    fs::path tests = fs::path(ExecutablePath()).parent_path().parent_path().parent_path();
    tool_ = (tests / "setup" / "NuvelTool").string();
    ASSERT_TRUE(fs::exists(tool_)) << "build the NuvelTool target: " << tool_;
    fs::create_directories(opt_);
    fs::create_directories(sysroot_.path("home/alice/opt"));
    fs::create_directories(outside_ + "/opt");
  }
  void TearDown() override {
    fs::remove_all(outside_);
    ProcessTest::TearDown();
  }

  // Runs NuvelTool; what it writes is left in output_.
  int RunTool(std::vector<std::string> argv) {
    argv.insert(argv.begin(), tool_);
    int status = -1;
    EXPECT_FALSE(RunAndWait(argv, status, &output_));
    return status;
  }

  std::string tool_;
  std::string output_;
  std::string opt_ = sysroot_.path("opt");
  std::string outside_ = sysroot_.root() + "-outside";  // beside the sysroot, not in it
};

TEST_F(SystemFolderTest, ToolRefusesEverythingButOneWellFormedRequest) {
  fs::create_directories(sysroot_.path("elsewhere/opt"));
  fs::create_directory_symlink(sysroot_.path("elsewhere"), sysroot_.path("link"));
  const std::vector<std::vector<std::string>> refused = {
      {"create-system-folder"},
      {"remove-system-folder", opt_ + "/Nuvel"},
      {"create-system-folder", "opt/Nuvel"},
      {"create-system-folder", opt_ + "/../opt/Nuvel"},
      {"create-system-folder", sysroot_.path("/opt/Nuvel")},  // "//"
      {"create-system-folder", opt_ + "/Nuvel\n"},
      {"create-system-folder", opt_ + "/Other"},
      {"create-system-folder", sysroot_.path("var/opt/Nuvel")},  // no such opt folder
      {"create-system-folder", sysroot_.path("link/opt/Nuvel")},
      // An "opt" folder that exists but is not the sysroot's own.
      {"create-system-folder", sysroot_.path("home/alice/opt/Nuvel")},
      {"create-system-folder", outside_ + "/opt/Nuvel"},
  };
  for (const auto& args : refused) {
    std::string joined;
    for (const auto& arg : args) joined += "[" + arg + "] ";
    EXPECT_EQ(RunTool(args), 1) << joined;
    EXPECT_NE(output_, "") << "a refusal says why: " << joined;
  }
  EXPECT_FALSE(fs::exists(opt_ + "/Nuvel"));
  EXPECT_FALSE(fs::exists(opt_ + "/Other"));
  EXPECT_FALSE(fs::exists(sysroot_.path("var/opt/Nuvel")));
  EXPECT_FALSE(fs::exists(sysroot_.path("elsewhere/opt/Nuvel")));
  EXPECT_FALSE(fs::exists(sysroot_.path("home/alice/opt/Nuvel")));
  EXPECT_FALSE(fs::exists(outside_ + "/opt/Nuvel"));
}

TEST_F(SystemFolderTest, ToolNeverWalksThroughALinkToItsOptFolder) {
  // "opt" itself swapped for a link, and a sysroot reached through one.
  fs::create_directories(sysroot_.path("elsewhere/opt"));
  fs::remove(opt_);
  fs::create_directory_symlink(sysroot_.path("elsewhere/opt"), opt_);
  EXPECT_EQ(RunTool({"create-system-folder", opt_ + "/Nuvel"}), 1);
  EXPECT_NE(output_.find("symbolic link"), std::string::npos) << output_;
  EXPECT_FALSE(fs::exists(sysroot_.path("elsewhere/opt/Nuvel")));

  fs::create_directory_symlink(sysroot_.path("elsewhere"), sysroot_.path("link"));
  ::setenv("NUVEL_SYSROOT", sysroot_.path("link").c_str(), 1);
  int status = RunTool({"create-system-folder", sysroot_.path("link/opt/Nuvel")});
  ::setenv("NUVEL_SYSROOT", sysroot_.root().c_str(), 1);
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(fs::exists(sysroot_.path("elsewhere/opt/Nuvel")));
}

TEST_F(SystemFolderTest, ToolTakesItsSysrootOnlyFromRootItself) {
  // Started by pkexec on behalf of a user: the variable is not the administrator's choice.
  ::setenv("PKEXEC_UID", "1000", 1);
  int status = RunTool({"create-system-folder", opt_ + "/Nuvel"});
  ::unsetenv("PKEXEC_UID");
  EXPECT_EQ(status, 1);
  EXPECT_NE(output_.find("NUVEL_SYSROOT"), std::string::npos) << output_;
  EXPECT_FALSE(fs::exists(opt_ + "/Nuvel"));

  for (const std::string& root :
       {std::string("tmp/x"), sysroot_.root() + "/", sysroot_.root() + "/../x"}) {
    ::setenv("NUVEL_SYSROOT", root.c_str(), 1);
    EXPECT_EQ(RunTool({"create-system-folder", root + "/opt/Nuvel"}), 1) << root;
  }
  ::setenv("NUVEL_SYSROOT", sysroot_.root().c_str(), 1);
}

// Created directly (by root), the folder is the same as the helper's: every user must be able
// to replace records.ini in it and append to the log.
TEST_F(SystemFolderTest, DirectCreationOpensTheFolderToEveryUserWithoutStickyBit) {
  const mode_t umask_before = ::umask(077);
  std::error_code ec = CreateSystemFolder(opt_ + "/Nuvel");
  ::umask(umask_before);
  ASSERT_FALSE(ec) << ec.message();
  struct stat st;
  ASSERT_EQ(::stat((opt_ + "/Nuvel").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0777u);
}

TEST_F(SystemFolderTest, UnwritableParentGoesThroughPkexecAndTheFolderIsCheckedAfterwards) {
  // A stand-in pkexec records its arguments and, like a dismissed password dialog, does nothing.
  std::string record = bin_ + "/args";
  fs::permissions(bin_, fs::perms::all);
  Script("pkexec", "printf '%s\\n' \"$@\" > '" + record + "'\nexit 126\n");
  std::string helper = Script("NuvelTool", "exit 0\n");
  PathWithOurBinFirst();
  SetPrivilegedHelperForTesting(helper);
  std::string folder = opt_ + "/Nuvel";
  fs::permissions(sysroot_.root(), fs::perms(0755));
  fs::permissions(opt_, fs::perms(0555));
  // Root always creates directly, so the attempt is an ordinary user's.
  EXPECT_EQ(InChildProcess([&] {
              if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 3;
              return CreateSystemFolder(folder) == std::errc::permission_denied ? 0 : 1;
            }),
            0)
      << "a helper that did not create the folder must be an error";
  EXPECT_EQ(ReadTestFile(record), helper + "\ncreate-system-folder\n" + folder + "\n");
  EXPECT_FALSE(fs::exists(folder));
}

}  // namespace
}  // namespace nuvel::platform
