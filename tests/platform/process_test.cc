#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Options that look the program up in PATH.
SpawnOptions InPath() {
  SpawnOptions options;
  options.search_path = true;
  return options;
}

// Runs `body` in a forked copy of this process and returns its exit status.
int InChildProcess(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    ::setenv("PATH", saved_path_.c_str(), 1);
  }

  std::string Script(const std::string& name, const std::string& body) {
    std::string path = bin_ + "/" + name;
    WriteTestFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec |
                              fs::perms::group_read | fs::perms::others_read);
    return path;
  }

  // A copy of sleep under a name of our choosing, for the process-name search.
  std::string SleepCopy(const std::string& name) {
    std::string path = bin_ + "/" + name;
    fs::copy_file("/bin/sleep", path);
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  // Waits (without pumping, so nobody collects the child) until `done` holds.
  static bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
      if (done()) return true;
      SleepMilliseconds(10);
    }
    return done();
  }

  void PathWithOurBinFirst() { ::setenv("PATH", (bin_ + ":" + saved_path_).c_str(), 1); }

  TestSysroot sysroot_;
  std::string bin_;
  std::string saved_path_;
};

// ---- Starting and waiting ---------------------------------------------------------------

using SpawnTest = ProcessTest;

TEST_F(SpawnTest, ArgumentsReachTheProgramUntouchedByAnyShell) {
  int status = -1;
  std::string output;
  ASSERT_FALSE(
      RunAndWait({"printf", "%s|", "a b", "$HOME;rm -rf x", "'q'", "*"}, status, &output, true));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "a b|$HOME;rm -rf x|'q'|*|");
}

TEST_F(SpawnTest, ExitStatusAndSignalDeathAreReported) {
  int status = -1;
  ASSERT_FALSE(RunAndWait({Script("fail", "exit 7\n")}, status));
  EXPECT_EQ(status, 7);
  ASSERT_FALSE(RunAndWait({Script("killed", "kill -KILL $$\n")}, status));
  EXPECT_EQ(status, 128 + SIGKILL);
}

TEST_F(SpawnTest, MissingOrNonExecutableProgramFailsToStart) {
  int pid = 0;
  EXPECT_EQ(Spawn({bin_ + "/nothing"}, pid), std::errc::no_such_file_or_directory);
  std::string plain = bin_ + "/plain";
  WriteTestFile(plain, "not a program");
  EXPECT_EQ(Spawn({plain}, pid), std::errc::permission_denied);
  EXPECT_EQ(pid, 0);
}

TEST_F(SpawnTest, ChildReadsNoInputAndCanWriteToAFile) {
  std::string out = sysroot_.path("out.txt");
  SpawnOptions options;
  options.output_path = out;
  int pid = 0;
  ASSERT_FALSE(Spawn({Script("cat-input", "cat; echo end\n")}, pid, options));
  int status = -1;
  ASSERT_FALSE(WaitForChild(pid, status));
  EXPECT_EQ(ReadTestFile(out), "end\n") << "standard input must be empty, not the terminal";
}

TEST_F(SpawnTest, WaitPumpsEventsUntilTheChildEnds) {
  int pumps = 0;
  SetEventPump([&] { ++pumps; });
  std::string marker = sysroot_.path("marker");
  int pid = 0;
  ASSERT_FALSE(Spawn({Script("slow", "sleep 0.2; echo done > \"$1\"\n"), marker}, pid));
  int status = -1;
  ASSERT_FALSE(WaitForChild(pid, status));
  EXPECT_EQ(ReadTestFile(marker), "done\n");
  EXPECT_GT(pumps, 0) << "the user interface must stay live while waiting";
}

TEST_F(SpawnTest, WaitWithTimeOutLeavesTheChildRunning) {
  int pid = 0;
  ASSERT_FALSE(Spawn({"sleep", "30"}, pid, InPath()));
  int status = -1;
  EXPECT_EQ(WaitForChild(pid, status, 30), std::errc::timed_out);
  EXPECT_TRUE(ProcessExists(pid));
  ::kill(pid, SIGTERM);
  ASSERT_FALSE(WaitForChild(pid, status));
  EXPECT_EQ(status, 128 + SIGTERM);
  EXPECT_FALSE(ProcessExists(pid));
}

TEST_F(SpawnTest, EndedChildCountsAsGoneAndUnwaitedOnesAreCollectedByThePump) {
  int waited = 0;
  int unwaited = 0;
  ASSERT_FALSE(Spawn({"true"}, waited, InPath()));
  ASSERT_FALSE(Spawn({"true"}, unwaited, InPath()));
  EXPECT_TRUE(Eventually([&] { return !ProcessExists(waited) && !ProcessExists(unwaited); }))
      << "a child that ended counts as gone before it is collected";
  int status = -1;
  EXPECT_FALSE(WaitForChild(waited, status));
  PumpEventsAndSignals();
  EXPECT_EQ(::waitpid(unwaited, nullptr, WNOHANG), -1) << "the ended child is still a zombie";
}

// ---- Finding processes -------------------------------------------------------------------

using FindProcessTest = ProcessTest;

TEST_F(FindProcessTest, FindsByKernelNameAndByTheFullCommandName) {
  // The process id keeps concurrent runs of these tests apart. The name is longer than the 15
  // bytes the kernel keeps, so its "Tail" is found through the command line only.
  std::string stem = "NvProbe" + std::to_string(::getpid());
  std::string tail = std::to_string(::getpid()) + "Tail";
  int pid = 0;
  ASSERT_FALSE(Spawn({SleepCopy(stem + "Tail"), "30"}, pid));
  // The parent resumes before the kernel has filled in the new program's name and command line.
  EXPECT_TRUE(Eventually([&] { return FindProcessByName(stem) == pid; }));
  EXPECT_TRUE(Eventually([&] { return FindProcessByName(tail) == pid; }));
  EXPECT_EQ(FindProcessByName("NoSuchNuvelProcess"), 0);
  EXPECT_EQ(FindProcessByName(""), 0);

  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_FALSE(WaitForChild(pid, status));
  EXPECT_EQ(FindProcessByName(tail), 0);
}

TEST_F(FindProcessTest, NeverFindsItself) {
  std::string self = ReadTestFile("/proc/self/comm");
  ASSERT_FALSE(self.empty());
  self.pop_back();
  EXPECT_NE(FindProcessByName(self), ::getpid());
}

// ---- Single instance ---------------------------------------------------------------------

class InstanceLockTest : public ProcessTest {
 protected:
  void TearDown() override {
    ReleaseInstanceLock("NvT1");
    ProcessTest::TearDown();
  }
  // What the util-linux flock tool, an independent program, sees of the lock.
  int FlockToolStatus(const std::string& code) {
    int status = -1;
    std::string output;
    RunAndWait({"flock", "-n", "-E", "42", InstanceLockPath(code), "true"}, status, &output, true);
    return status;
  }
};

TEST_F(InstanceLockTest, LockFileLivesInTheRuntimeFolderElseTheTemporaryFolder) {
  EXPECT_EQ(InstanceLockPath("NvSU"), sysroot_.path("tmp/nuvel-NvSU.lock"));
  ::setenv("XDG_RUNTIME_DIR", sysroot_.path("run").c_str(), 1);
  EXPECT_EQ(InstanceLockPath("NvSU"), sysroot_.path("run/nuvel-NvSU.lock"));
  EXPECT_EQ(InstanceLockPath("a/b "), sysroot_.path("run/nuvel-a%2Fb%20.lock"));
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("TMPDIR", sysroot_.path("other").c_str(), 1);
  EXPECT_EQ(InstanceLockPath("NvSU"), sysroot_.path("other/nuvel-NvSU.lock"));
}

TEST_F(InstanceLockTest, SecondProcessCannotTakeAHeldLock) {
  bool elsewhere = true;
  ASSERT_FALSE(TakeInstanceLock("NvT1", elsewhere));
  EXPECT_FALSE(elsewhere);
  // Taking it again in the same run is no conflict.
  ASSERT_FALSE(TakeInstanceLock("NvT1", elsewhere));
  EXPECT_FALSE(elsewhere);
  EXPECT_FALSE(InstanceLockHeldElsewhere("NvT1"));

  EXPECT_EQ(InChildProcess([] {
              bool held = false;
              if (TakeInstanceLock("NvT1", held)) return 2;
              return held && InstanceLockHeldElsewhere("NvT1") ? 0 : 1;
            }),
            0)
      << "a second copy must see the first one's lock";
  EXPECT_EQ(FlockToolStatus("NvT1"), 42);

  ReleaseInstanceLock("NvT1");
  EXPECT_EQ(FlockToolStatus("NvT1"), 0);
  EXPECT_FALSE(InstanceLockHeldElsewhere("NvT1"));
  EXPECT_EQ(InChildProcess([] {
              bool held = true;
              return !TakeInstanceLock("NvT1", held) && !held ? 0 : 1;
            }),
            0)
      << "once released, and checking takes no lock, another copy gets it";
}

TEST_F(InstanceLockTest, LaunchedProgramDoesNotInheritTheLock) {
  bool elsewhere = false;
  ASSERT_FALSE(TakeInstanceLock("NvT1", elsewhere));
  int pid = 0;
  ASSERT_FALSE(Spawn({"sleep", "30"}, pid, InPath()));
  ReleaseInstanceLock("NvT1");
  int status = FlockToolStatus("NvT1");
  ::kill(pid, SIGTERM);
  int ignored = 0;
  WaitForChild(pid, ignored);
  EXPECT_EQ(status, 0) << "the launched program kept this process's lock alive";
}

// ---- Quit signals ------------------------------------------------------------------------

class QuitSignalTest : public ProcessTest {
 protected:
  void SetUp() override {
    ProcessTest::SetUp();
    InstallQuitSignalHandlers([this](int signal) { served_.push_back(signal); });
  }
  void TearDown() override {
    RemoveQuitSignalHandlers();
    ProcessTest::TearDown();
  }
  std::vector<int> served_;
};

TEST_F(QuitSignalTest, EverySignalIsOnlyRecordedUntilThePumpServesIt) {
  ::raise(SIGTERM);
  EXPECT_EQ(PendingQuitSignal(), SIGTERM);
  EXPECT_TRUE(served_.empty()) << "the quit handler must not run inside the signal handler";

  EXPECT_EQ(PumpEventsAndSignals(), SIGTERM);
  EXPECT_EQ(served_, std::vector<int>{SIGTERM});
  EXPECT_EQ(PendingQuitSignal(), 0);
  EXPECT_EQ(PumpEventsAndSignals(), 0);
  for (int signal : {SIGINT, SIGHUP}) {
    ::raise(signal);
    EXPECT_EQ(ServiceQuitSignal(), signal);
  }
  EXPECT_EQ(served_, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
}

TEST_F(QuitSignalTest, SignalFromAnotherProgramIsServedDuringAWait) {
  int status = -1;
  ASSERT_FALSE(RunAndWait({"kill", "-HUP", std::to_string(::getpid())}, status, nullptr, true));
  EXPECT_EQ(status, 0);
  // The wait that follows the kill (or this pump) serves it.
  PumpEventsAndSignals();
  EXPECT_EQ(served_, std::vector<int>{SIGHUP});
}

// ---- The desktop's opener ----------------------------------------------------------------

class OpenUrlTest : public ProcessTest {
 protected:
  // A stand-in opener that records its arguments, one per line, and exits with `status`.
  std::string FakeOpener(int status) {
    record_ = sysroot_.path("opened.txt");
    Script("xdg-open", "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + record_ + "'; done\n" +
                           "exit " + std::to_string(status) + "\n");
    PathWithOurBinFirst();
    return record_;
  }
  std::string record_;
};

TEST_F(OpenUrlTest, UrlIsOneArgumentOfTheOpenerAndCannotBecomeAnOption) {
  FakeOpener(0);
  EXPECT_EQ(OpenUrl("--help"), -EINVAL);
  EXPECT_EQ(OpenUrl("mailto:help@example.com?subject=a b;c"), 0);
  EXPECT_EQ(ReadTestFile(record_), "mailto:help@example.com?subject=a b;c\n");
}

TEST_F(OpenUrlTest, RefusalIsTheOpenersExitStatus) {
  FakeOpener(3);
  EXPECT_EQ(OpenUrl("https://example.com/"), 3);
}

TEST_F(OpenUrlTest, MissingOpenerIsAnErrorToStart) {
  ::setenv("PATH", bin_.c_str(), 1);
  EXPECT_EQ(OpenUrl("https://example.com/"), -ENOENT);
}

TEST_F(OpenUrlTest, OpenerStillRunningAfterTheGraceTimeCountsAsSuccess) {
  Script("xdg-open", "sleep 2\n");
  PathWithOurBinFirst();
  double start = MonotonicSeconds();
  EXPECT_EQ(OpenUrl("https://example.com/", 50), 0);
  EXPECT_LT(MonotonicSeconds() - start, 1.5);
}

// ---- The system folder and NuvelTool ------------------------------------------------------

class SystemFolderTest : public ProcessTest {
 protected:
  void TearDown() override {
    SetPrivilegedHelperForTesting("");
    ProcessTest::TearDown();
  }

  // NuvelTool lands beside nuvel-setup, in the build tree's "setup" folder.
  static std::string NuvelTool() {
    fs::path tests = fs::path(ExecutablePath()).parent_path().parent_path().parent_path();
    return (tests / "setup" / "NuvelTool").string();
  }

  int RunTool(const std::vector<std::string>& args, std::string* output = nullptr) {
    std::vector<std::string> argv = {NuvelTool()};
    argv.insert(argv.end(), args.begin(), args.end());
    int status = -1;
    std::string text;
    EXPECT_FALSE(RunAndWait(argv, status, &text));
    if (output) *output = text;
    return status;
  }

  void SetUp() override {
    ProcessTest::SetUp();
    ASSERT_TRUE(fs::exists(NuvelTool())) << "build the NuvelTool target: " << NuvelTool();
    opt_ = sysroot_.path("opt");
    fs::create_directories(opt_);
  }

  std::string opt_;
};

TEST_F(SystemFolderTest, ToolRefusesEverythingButOneWellFormedRequest) {
  const std::vector<std::vector<std::string>> refused = {
      {},
      {"create-system-folder"},
      {"remove-system-folder", opt_ + "/Nuvel"},
      {"create-system-folder", opt_ + "/Nuvel", "extra"},
      {"create-system-folder", "opt/Nuvel"},
      {"create-system-folder", opt_ + "/../opt/Nuvel"},
      {"create-system-folder", opt_ + "/./Nuvel"},
      {"create-system-folder", sysroot_.path("/opt/Nuvel")},  // "//"
      {"create-system-folder", opt_ + "/Nuvel/"},
      {"create-system-folder", opt_ + "/Nuvel\n"},
      {"create-system-folder", opt_ + "/Other"},
      {"create-system-folder", sysroot_.path("var/opt/Nuvel")},  // no such opt folder
  };
  for (const auto& args : refused) {
    std::string joined;
    for (const auto& arg : args) joined += "[" + arg + "] ";
    std::string output;
    EXPECT_EQ(RunTool(args, &output), 1) << joined;
    EXPECT_NE(output, "") << "a refusal says why: " << joined;
  }
  EXPECT_FALSE(fs::exists(opt_ + "/Nuvel"));
  EXPECT_FALSE(fs::exists(opt_ + "/Other"));
  EXPECT_FALSE(fs::exists(sysroot_.path("var/opt/Nuvel")));
}

TEST_F(SystemFolderTest, ToolRefusesAPathThroughASymbolicLink) {
  fs::create_directories(sysroot_.path("elsewhere/opt"));
  fs::create_directory_symlink(sysroot_.path("elsewhere"), sysroot_.path("link"));
  EXPECT_EQ(RunTool({"create-system-folder", sysroot_.path("link/opt/Nuvel")}), 1);
  EXPECT_FALSE(fs::exists(sysroot_.path("elsewhere/opt/Nuvel")));
}

TEST_F(SystemFolderTest, ToolRunAsRootCreatesTheFolderForEveryone) {
  if (::geteuid() != 0) GTEST_SKIP() << "NuvelTool creates the folder only when run as root";
  mode_t old = ::umask(077);
  int status = RunTool({"create-system-folder", opt_ + "/Nuvel"});
  ::umask(old);
  EXPECT_EQ(status, 0);
  struct stat st;
  ASSERT_EQ(::stat((opt_ + "/Nuvel").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0777u);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(RunTool({"create-system-folder", opt_ + "/Nuvel"}), 0) << "an existing folder is fine";
}

TEST_F(SystemFolderTest, WritableParentIsUsedDirectly) {
  // Root may create it anywhere; an ordinary user may in a folder of their own.
  SetPrivilegedHelperForTesting(bin_ + "/never-run");
  EXPECT_FALSE(CreateSystemFolder(opt_ + "/Nuvel"));
  EXPECT_TRUE(fs::is_directory(opt_ + "/Nuvel"));
}

TEST_F(SystemFolderTest, UnwritableParentGoesThroughPkexecAndTheFolderIsCheckedAfterwards) {
  // A stand-in pkexec records its arguments and, like a dismissed password dialog, does nothing.
  std::string record = sysroot_.path("record/args");
  fs::create_directories(sysroot_.path("record"));
  fs::permissions(sysroot_.path("record"), fs::perms::all);
  Script("pkexec", "printf '%s\\n' \"$@\" > '" + record + "'\nexit 126\n");
  std::string helper = Script("NuvelTool", "exit 0\n");
  PathWithOurBinFirst();
  SetPrivilegedHelperForTesting(helper);
  std::string folder = opt_ + "/Nuvel";

  auto attempt = [folder] {
    return CreateSystemFolder(folder) == std::errc::permission_denied ? 0 : 1;
  };
  int result = 0;
  if (::geteuid() == 0) {
    // Root always creates directly; an ordinary user is needed for the other way.
    fs::permissions(sysroot_.root(), fs::perms::owner_all | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read |
                                         fs::perms::others_exec);
    result = InChildProcess([&] {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 3;
      return attempt();
    });
  } else {
    fs::permissions(opt_, fs::perms::owner_write, fs::perm_options::remove);
    result = attempt();
  }
  EXPECT_EQ(result, 0) << "a helper that did not create the folder must be an error";
  EXPECT_EQ(ReadTestFile(record), helper + "\ncreate-system-folder\n" + folder + "\n");
  EXPECT_FALSE(fs::exists(folder));
}

}  // namespace
}  // namespace nuvel::platform
