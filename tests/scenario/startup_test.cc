// The start and the end of a run of the real binary: system folder, log banner, records.ini,
// command line; and the nuvel-ini tool over the same profile engine.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "tests/scenario/scenario.h"

namespace nuvel::testing {
namespace {

namespace fs = std::filesystem;

// An empty source: the Setup finds no product and ends with the incomplete-setup message.
class StartupTest : public ScenarioTest {
 protected:
  void SetUp() override { WriteTestFile(Source(".keep"), ""); }
  RunResult RunOnEmptySource() { return Setup("prompt:MSG_Message_SetupIncomplete -> 1\n"); }
  std::string LogPath() { return Installed("Nuvel_log.txt"); }

  // The last dialog of the run is the incomplete-setup message, and it gives `cause` instead of
  // the explanation of a failed copy.
  void ExpectIncompleteBecause(const std::string& cause) {
    auto prompts = Dialogs("prompt");
    ASSERT_FALSE(prompts.empty());
    EXPECT_EQ(JsonField(prompts.back(), "id"), "MSG_Message_SetupIncomplete");
    EXPECT_EQ(JsonField(prompts.back(), "text"), "Setup is incomplete.\r\r" + cause);
  }
};

// The log's banner, numbering, line ends and levels are the log tests' cases.
TEST_F(StartupTest, EmptySourceEndsIncompleteAfterSettingUpTheSystemFolderLogAndRecordsIni) {
  RunResult run = RunOnEmptySource();
  ASSERT_EQ(run.status, 1) << run.output;
  const std::string log = ReadTestFile(LogPath());
  const std::regex starting(R"(\r\n       1 \d\d:\d\d:\d\d   --0>Starting Nuvel Setup )"
                            R"(Application version 362\.023\.008\.023 \(36B1\)\r\n)");
  EXPECT_TRUE(std::regex_search(log, starting)) << log;
  EXPECT_NE(log.find("--0>No products found on the installation source"), std::string::npos);
  ExpectIncompleteBecause("No courses were found on the installation source: " + Source());
  EXPECT_EQ(ReadTestFile(Installed("records.ini")), "[Records]\r\nlog_level=3\r\n");
}

// The system folder as the administrator's creation leaves it (0777, no sticky bit), with links
// another user put there before the run: nothing is written through them.
TEST_F(StartupTest, LinksPlantedInTheSystemFolderAreNeverWrittenThrough) {
  fs::create_directories(Installed());
  fs::permissions(Installed(), fs::perms::all);
  const std::string secret = sysroot_.path("etc/secret");
  WriteTestFile(secret, "root only\n");
  fs::create_symlink(secret, Installed("Nuvel_log.txt"));
  fs::create_symlink(sysroot_.path("etc/created"), Installed(".records.ini.lock"));

  RunResult run = RunOnEmptySource();
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find(Installed("Nuvel_log.txt") + " is a link"), std::string::npos)
      << run.output;
  EXPECT_EQ(ReadTestFile(secret), "root only\n");
  EXPECT_FALSE(fs::exists(sysroot_.path("etc/created")));
  EXPECT_EQ(Entries(sysroot_.path("etc")), std::set<std::string>{"secret"});
  EXPECT_FALSE(fs::exists(Installed("records.ini"))) << "its update lock could not be had";

  // Without the planted lock, records.ini is written and the log still is not.
  fs::remove(Installed(".records.ini.lock"));
  run = RunOnEmptySource();
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(ReadTestFile(Installed("records.ini")), "[Records]\r\nlog_level=3\r\n");
  EXPECT_EQ(ReadTestFile(secret), "root only\n");
  EXPECT_TRUE(fs::is_symlink(Installed("Nuvel_log.txt")));
}

// A link where the single-instance lock belongs: the run must not go on without the lock.
TEST_F(StartupTest, LinkInPlaceOfTheInstanceLockEndsTheRunIncomplete) {
  fs::create_directories(Installed());
  fs::permissions(Installed(), fs::perms::all);
  const std::string secret = sysroot_.path("etc/secret");
  WriteTestFile(secret, "root only\n");
  fs::create_symlink(secret, Installed("nuvel-NvSU.lock"));

  RunResult run = RunOnEmptySource();
  EXPECT_EQ(run.status, 1) << run.output;
  ExpectIncompleteBecause("Setup could not take its lock file " + Installed("nuvel-NvSU.lock") +
                          " (Too many levels of symbolic links), so it did nothing. Another "
                          "user may have put something in its place: remove it, then run Setup "
                          "again.");
  EXPECT_EQ(Path(), std::vector<std::string>{"prompt:MSG_Message_SetupIncomplete 1"});
  EXPECT_EQ(ReadTestFile(secret), "root only\n");
  EXPECT_EQ(Entries(Installed()), std::set<std::string>{"nuvel-NvSU.lock"}) << "nothing written";
}

// A program without a message file beside it, on a source without one: the prompts still
// show their English texts, never their keys.
TEST_F(StartupTest, WithoutAnyMessageFileThePromptsShowTheirEnglishTexts) {
  const std::string program = sysroot_.path("bin/nuvel-setup");
  fs::create_directories(sysroot_.path("bin"));
  fs::copy_file(NUVEL_SETUP_BINARY, program);
  WriteTestFile(sysroot_.path("answers.txt"), "prompt:MSG_Message_SetupIncomplete -> 1\n");
  RunResult run = RunBinary(program, {"--source", Source(), "--answers",
                                      sysroot_.path("answers.txt"), "--transcript", Transcript()});
  EXPECT_EQ(run.status, 1) << run.output;
  auto prompts = Dialogs("prompt");
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(JsonField(prompts[0], "title"), "Setup is incomplete.");
  EXPECT_EQ(JsonStringArray(prompts[0], "buttons"), std::vector<std::string>{"OK"});
  ExpectIncompleteBecause("No courses were found on the installation source: " + Source());
}

// Quit at the warning about a newer Setup used before: incomplete, because the user stopped.
TEST_F(StartupTest, QuitAtTheNewerSetupWarningSaysThatTheUserStopped) {
  WriteTestFile(Installed("launch/001MUL50/nuvel.ini"),
                "[nuvel.ini]\r\ncourse_name=Foundations\r\nfix_level=400\r\n");
  RunResult run = Setup(
      "prompt:MSG_Message_PreviouslyInstalledUsing -> 2\nprompt:MSG_Message_SetupIncomplete -> 1\n");
  EXPECT_EQ(run.status, 1) << run.output;
  ExpectIncompleteBecause("Setup was stopped before anything was installed.");
}

// ---- Where the system folder lies ------------------------------------------------------------

class SystemFolderScenarioTest : public ScenarioTest {
 protected:
  void SetUp() override {
    MakeSource();
    fs::create_directories(sysroot_.path("opt"));
    fs::create_directories(sysroot_.path("var/lib"));
  }
  std::string Shared(const std::string& relative = "") const {
    return sysroot_.path("var/lib/Nuvel") + (relative.empty() ? "" : "/" + relative);
  }
  // An ordinary user's view: neither /opt nor /var/lib is writable (`readonly`), and PATH holds
  // only <sysroot>/bin, where a test may put a stand-in pkexec.
  Env OrdinaryUser(const std::string& readonly) const {
    return {{"NUVEL_READONLY_FOLDERS", readonly}, {"PATH", sysroot_.path("bin") + ":/usr/bin:/bin"}};
  }
  // A pkexec that records its arguments and runs them (the tests run as root).
  std::string StandInPkexec() {
    const std::string record = sysroot_.path("pkexec-args");
    WriteTestFile(sysroot_.path("bin/pkexec"),
                  "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record + "'\nexec \"$@\"\n");
    fs::permissions(sysroot_.path("bin/pkexec"), fs::perms(0755));
    return record;
  }
  void ExpectNoFolderOfOurs() {
    EXPECT_FALSE(fs::exists(Installed()));
    EXPECT_FALSE(fs::exists(Shared()));
    EXPECT_FALSE(fs::exists(sysroot_.path("home/Nuvel"))) << "no silent move to the home folder";
  }
};

// The first run keeps its settings and log in /var/lib/Nuvel; the installation then creates
// /opt/Nuvel, and the next run must still use the first folder.
TEST_F(SystemFolderScenarioTest, SettingsAndLogStayWhereTheFirstRunPutThem) {
  SetSourceOption("force_OS_lang", "FRA");
  const std::string grammar = "family select 3 -> 1\nproducts -> 1\ninstall -> 1\n";
  RunResult run = Setup(kStart + grammar + kEnd);
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(fs::is_directory(Installed("content/010ENG50")));
  ASSERT_EQ(IniGet(Shared("records.ini"), "Records", "force_OS_lang"), "FRA");

  MakeSource();  // the source no longer forces the language: records.ini must
  run = Setup("welcome -> 2\n");
  ASSERT_EQ(run.status, 0) << run.output;
  auto welcome = Dialogs("welcome");
  ASSERT_EQ(welcome.size(), 1u);
  EXPECT_EQ(welcome[0].find(R"("Install")"), std::string::npos) << "not French: " << welcome[0];
  EXPECT_FALSE(fs::exists(Installed("records.ini")));
  EXPECT_FALSE(fs::exists(Installed("Nuvel_log.txt")));
  const std::string log = ReadTestFile(Shared("Nuvel_log.txt"));
  const std::size_t second = log.rfind("Starting Nuvel Setup Application");
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(log.rfind("Starting Nuvel Setup Application", second - 1), std::string::npos)
      << "the first run's log is gone";
  EXPECT_NE(log.find("NumOfProducts: 1", second), std::string::npos);
}

TEST_F(SystemFolderScenarioTest, OrdinaryUserIsOfferedTheAdministratorsCreationOrToldToUseSudo) {
  // No pkexec: the user is told that installing needs administrator rights, and the run ends.
  const Env user = OrdinaryUser(sysroot_.path("opt") + ":" + sysroot_.path("var/lib"));
  RunResult run = Setup(
      "prompt:MSG_Message_NeedsAdministratorRights -> 1\nprompt:MSG_Message_SetupIncomplete -> 1\n",
      user);
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(Path(), (std::vector<std::string>{"prompt:MSG_Message_NeedsAdministratorRights 1",
                                              "prompt:MSG_Message_SetupIncomplete 1"}));
  auto prompts = Dialogs("prompt");
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_NE(JsonField(prompts[0], "text").find(Installed()), std::string::npos) << prompts[0];
  EXPECT_NE(JsonField(prompts[0], "text").find("sudo"), std::string::npos) << prompts[0];
  EXPECT_NE(JsonField(prompts[1], "text").find("needs administrator rights (sudo)"),
            std::string::npos) << prompts[1];
  ExpectNoFolderOfOurs();

  // With pkexec, the helper beside the program creates the folder for every user.
  const std::string record = StandInPkexec();
  run = Setup("welcome -> 2\n", user);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(ReadTestFile(record),
            fs::path(NUVEL_SETUP_BINARY).parent_path().string() +
                "/NuvelTool\ncreate-system-folder\n" + Installed() + "\n");
  ASSERT_TRUE(fs::is_directory(Installed()));
  EXPECT_EQ(fs::status(Installed()).permissions(), fs::perms::all);
  EXPECT_TRUE(fs::exists(Installed("records.ini")));
  EXPECT_FALSE(fs::exists(sysroot_.path("home/Nuvel")));
}

// The system folder could be had in /var/lib, but the default installation folder cannot.
TEST_F(SystemFolderScenarioTest, OrdinaryUserInstallingToTheDefaultFolderNeedsAnAdministrator) {
  fs::create_directories(Shared());
  RunResult run = Setup(kStart +
                            "prompt:MSG_Message_NeedsAdministratorRights -> 1\n"
                            "prompt:MSG_Message_SetupIncomplete -> 1\n",
                        OrdinaryUser(sysroot_.path("opt")));
  EXPECT_EQ(run.status, 1) << run.output;
  auto prompts = Dialogs("prompt");
  ASSERT_FALSE(prompts.empty());
  EXPECT_EQ(JsonField(prompts.back(), "text"),
            "Setup is incomplete.\r\rInstalling in " + Installed() +
                " needs administrator rights (sudo).");
  EXPECT_FALSE(fs::exists(Installed()));
  EXPECT_FALSE(fs::exists(sysroot_.path("home/Nuvel")));
  EXPECT_EQ(IniGet(Shared("records.ini"), "Records", "launch_path_local"), Installed());
}

// A Setup started from the disc copies itself, its helper and the message file into the
// temporary folder and lets that copy run the installation, so that the disc can be changed.
TEST_F(StartupTest, SetupOnTheDiscRelaunchesFromALocalCopy) {
  MakeSource();
  const std::string disc_binary = Source("nuvel-setup");
  const fs::path built = fs::path(NUVEL_SETUP_BINARY).parent_path();
  fs::copy_file(NUVEL_SETUP_BINARY, disc_binary);
  fs::copy_file(built / "NuvelTool", Source("NuvelTool"));
  fs::copy_file(built / "engine.luc", Source("engine.luc"));
  const std::string answers = sysroot_.path("answers.txt");
  WriteTestFile(answers, "welcome -> 2\n");
  RunResult run = RunBinary(
      disc_binary, {"--source", Source(), "--answers", answers, "--transcript", Transcript()},
      {{"NUVEL_VOLUMES", Source() + ":ro," + sysroot_.root() + ":rw"}});
  // The disc's process ends at once; the copy holds the output open until it is done.
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string copy = sysroot_.path("tmp/nuvel-setup");
  EXPECT_EQ(Entries(sysroot_.path("tmp")),
            (std::set<std::string>{"nuvel-setup", "NuvelTool", "engine.luc"}));
  EXPECT_NE(fs::status(copy).permissions() & fs::perms::owner_exec, fs::perms::none);
  const std::string log = ReadTestFile(LogPath());
  EXPECT_NE(log.find("Found Installation CD-ROM 1 and name is '" + Source() + "'."),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Running Setup from the local copy " + copy), std::string::npos) << log;
  EXPECT_NE(log.find("Not running Setup from CD.  2 != 1."), std::string::npos)
      << "the copy runs on the local disk: " << log;
  EXPECT_EQ(Path(), std::vector<std::string>{"welcome 2"}) << "the copy ran no dialog:\n"
                                                           << run.output;
}

TEST_F(StartupTest, CommandLine) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string output;
  } cases[] = {
      {{"--version"}, 0, "362.023.008.023 (36B1)\n"},
      {{"--help"}, 0, "--source DIR"},
      {{"--frobnicate"}, 2, "unknown argument '--frobnicate'"},
      {{"--source", sysroot_.path("no/such")}, 2, "is not a folder"},
      // The desktop interface asked for without a display: refused before any window or run.
      {{"--ui", "qt", "--source", sysroot_.root()}, 2, "the desktop interface needs a display"},
      {{"--ui", "qt", "--answers", "x", "--source", sysroot_.root()}, 2, "--answers goes with"},
  };
  for (const auto& c : cases) {
    RunResult run = RunBinary(NUVEL_SETUP_BINARY, c.args);
    EXPECT_EQ(run.status, c.status) << c.args[0];
    EXPECT_NE(run.output.find(c.output), std::string::npos) << run.output;
  }
  EXPECT_FALSE(fs::exists(LogPath())) << "a refused command line starts no run";
}

// The profile engine itself is the profile tests' case: here the tool's commands and results.
TEST_F(StartupTest, NuvelIniReadsAndWritesLikeTheSetup) {
  std::string file = sysroot_.path("records.ini");
  WriteTestFile(file, "[Other]\nx=1\n");
  auto ini = [&](std::vector<std::string> args) {
    args.insert(args.begin() + 1, file);
    return RunBinary(NUVEL_INI_BINARY, args);
  };
  EXPECT_EQ(ini({"set", "Records", "log_level", " 4 "}).status, 0);
  EXPECT_EQ(ReadTestFile(file), "[Records]\r\nlog_level=4\r\n[Other]\r\nx=1\r\n");
  RunResult get = ini({"get", "records", "LOG_LEVEL"});
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.output, "4\n");
  EXPECT_EQ(ini({"get", "Records", "absent"}).status, 1);
  EXPECT_EQ(ini({"frob", "Records", "k"}).status, 2);
  EXPECT_EQ(ini({"remove", "Records", "Log_Level"}).status, 0);
  EXPECT_EQ(ini({"remove", "Records", "log_level"}).status, 1);
  RunResult injected = ini({"set", "Records", "note", "x\r\n[Other]\r\nlog_level=5"});
  EXPECT_EQ(injected.status, 2) << "a value cannot add lines of its own";
  EXPECT_NE(injected.output.find("line break"), std::string::npos) << injected.output;
  EXPECT_EQ(ReadTestFile(file), "[Records]\r\n[Other]\r\nx=1\r\n");
}

}  // namespace
}  // namespace nuvel::testing
