// Records-login installations, each a whole nuvel-setup run with an answer file, against the
// Records-server double started on 127.0.0.1. The sample source is made a school's source: it
// asks for the Records login (force_TCPIP) and forces server 6 of its server list, whose row
// points at the double (plain HTTP) with the checksum the Setup prints for it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/net/peers.h"
#include "tests/scenario/scenario.h"

namespace nuvel::testing {
namespace {

using net::testing::RecordsDouble;

const std::string kSchool = std::string(NUVEL_EXAMPLES_DIR) + "/records-school.fixture";

// After the login: the third family's course, its first support language, then no other course.
const std::string kCourse =
    "family select 2 -> 1\nversion -> 1\nproducts -> 1\nmulti-language -> 1\ninstall -> 1\n"
    "prompt:MSG_Message_InstallAnother -> 2\nprompt:MSG_HowToStartCourse2 -> 1\n";

std::string Login(const std::string& name, const std::string& password) {
  return "login set 5=\"" + name + "\" set 7=\"" + password + "\" -> 1\n";
}

class RecordsLoginTest : public ScenarioTest {
 protected:
  void SetUp() override { MakeSource(); }

  // Starts the double and makes the source a school source that uses it.
  void StartSchool(const std::vector<std::string>& arguments = {},
                   const std::string& fixture = kSchool) {
    double_ = std::make_unique<RecordsDouble>(sysroot_.path("double"), fixture, arguments);
    ASSERT_EQ(double_->error, "");
    const std::string list = Source("install/data/versions.ini");
    const std::string streaming = IniGet(list, "Records", "server_006_streamingaddress");
    RunResult sum = RunBinary(NUVEL_SETUP_BINARY, {"--server-checksum", "127.0.0.1", streaming});
    ASSERT_EQ(sum.status, 0) << sum.output;
    IniSet(list, "Records", "server_006_recordsipaddress", "127.0.0.1");
    IniSet(list, "Records", "server_006_recordsipport", std::to_string(double_->port()));
    IniSet(list, "Records", "server_006_serverchecksum", sum.output.substr(0, 32));
    // A changed list carries a new version, so that installations take its rows again.
    IniSet(list, "Records", "server_list_ver", std::to_string(++list_version_));
    SetSourceOption("force_TCPIP", "Y");
    SetSourceOption("force_server_num", "6");
  }

  // How many requests of `command` the double has seen.
  int Requests(const std::string& command) const {
    const std::string log = double_->Log();
    int count = 0;
    for (std::size_t at = log.find("\t" + command + "\t"); at != std::string::npos;
         at = log.find("\t" + command + "\t", at + 1)) {
      ++count;
    }
    return count;
  }

  bool PathHas(const std::string& step) const {
    for (const std::string& taken : Path()) {
      if (taken == step) return true;
    }
    return false;
  }

  bool CourseInstalled() const { return !Entries(Installed("launch")).empty(); }

  std::unique_ptr<RecordsDouble> double_;
  int list_version_ = 100;
};

TEST_F(RecordsLoginTest, StudentLogsInAndInstallsACourse) {
  StartSchool();
  RunResult run = Setup("welcome -> 1\ninstall-options -> 1\n" +
                        Login("ann.lee@lakeside.example", "sol2024") + kCourse);
  ASSERT_EQ(run.status, 0) << run.output << Log();
  EXPECT_TRUE(CourseInstalled());
  EXPECT_NE(Log().find("Connected to Server"), std::string::npos);
  EXPECT_EQ(Requests("LGNS"), 1);
  EXPECT_GE(Requests("STDS"), 1) << "the student's record was read";
  EXPECT_GE(Requests("CLSN"), 1) << "the classes were read";
  EXPECT_EQ(Requests("QUIT"), 1) << "the run ends with a logout";
  // The server list's row was copied into records.ini.
  EXPECT_EQ(IniGet(Installed("records.ini"), "Records", "server_num"), "006");
  EXPECT_EQ(IniGet(Installed("records.ini"), "Records", "recordsipaddress"), "127.0.0.1");
  // The typed password is nowhere in clear.
  for (const std::string& text : {Log(), ReadTestFile(Transcript()), double_->Log()}) {
    EXPECT_EQ(text.find("sol2024"), std::string::npos);
    EXPECT_EQ(text.find("SOL2024"), std::string::npos);
  }
}

TEST_F(RecordsLoginTest, WrongPasswordThreeTimesEndsTheRun) {
  StartSchool();
  const std::string wrong = Login("ann.lee@lakeside.example", "nope");
  RunResult run = Setup("welcome -> 1\ninstall-options -> 1\n" + wrong + wrong + wrong +
                        "prompt:MSG_CMS_InvalidPassword -> 1\nprompt:* -> 1\n");
  EXPECT_NE(run.status, 0) << run.output;
  EXPECT_EQ(Requests("LGNS"), 3);
  EXPECT_EQ(Dialogs("login").size(), 3u);
  EXPECT_FALSE(CourseInstalled());
}

TEST_F(RecordsLoginTest, RefusedStudentsAreToldWhyAndAskedToLogInAgain) {
  const std::string fixture = sysroot_.path("school.fixture");
  WriteTestFile(fixture,
                "[group Lakeside]\nnumber = 12\nrights = install enabled\nhome study = yes\n"
                "[class Open]\n"
                "[student Ann]\nlogin id = ann@lakeside.example\npassword = ann2024\n"
                "[student Farid]\nlogin id = farid@lakeside.example\npassword = farid24\n"
                "disabled = yes\n"
                "[class Old]\nexpiry = 2020-06-30\n"
                "[student Liam]\nlogin id = liam@lakeside.example\npassword = liam24\n"
                "[class Closed]\ndisabled = yes\n"
                "[student Zoe]\nlogin id = zoe@lakeside.example\npassword = zoe2024\n");
  struct Case {
    std::string name, password, message;
  } cases[] = {
      {"farid@lakeside.example", "farid24", "MSG_StudentDisabled"},
      {"liam@lakeside.example", "liam24", "MSG_ClassExpired"},
      {"zoe@lakeside.example", "zoe2024", "MSG_ClassDisabled"},
  };
  StartSchool({}, fixture);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Refused first, then Ann logs in and installs.
    RunResult run = Setup("welcome -> 1\ninstall-options -> 1\n" + Login(c.name, c.password) +
                          "prompt:" + c.message + " -> 1\n" +
                          Login("ann@lakeside.example", "ann2024") + kCourse);
    EXPECT_EQ(run.status, 0) << run.output << Log();
    EXPECT_EQ(Dialogs("login").size(), 2u);
    EXPECT_TRUE(PathHas("prompt:" + c.message + " 1"));
    EXPECT_TRUE(CourseInstalled());
  }
}

TEST_F(RecordsLoginTest, HomeStudyAndInstallRightsDecideForTheWholeGroup) {
  // Pierre's group allows no home study: on a local disk he is refused. The group's own login
  // has no student record, and the group lacks the right to install: the run ends.
  StartSchool();
  RunResult home = Setup("welcome -> 1\ninstall-options -> 1\n" +
                         Login("pierre.tremblay@hillcrest.example", "work2024") +
                         "prompt:MSG_HomeStudyNotAllowed -> 1\n" +
                         Login("hillcrest", "Hill2024") +
                         "prompt:MSG_Message_GroupHasBeenDisabled -> 1\n");
  EXPECT_TRUE(PathHas("prompt:MSG_HomeStudyNotAllowed 1")) << home.output << Log();
  EXPECT_TRUE(PathHas("prompt:MSG_Message_GroupHasBeenDisabled 1")) << home.output;
  EXPECT_EQ(Dialogs("login").size(), 2u);
  EXPECT_FALSE(CourseInstalled());
  EXPECT_EQ(Requests("QUIT"), 2) << "each refused login logged out";
}

TEST_F(RecordsLoginTest, GroupWithMoreClassesThanTheTableKeepsTheFirst800) {
  std::string fixture =
      "[group Big School]\nnumber = 30\nlogin id = bigschool\npassword = big2024\n"
      "rights = install enabled\n";
  for (int i = 1; i <= 900; ++i) fixture += "[class Class " + std::to_string(i) + "]\n";
  WriteTestFile(sysroot_.path("big.fixture"), fixture);
  StartSchool({"--page-size", "200"}, sysroot_.path("big.fixture"));
  RunResult run =
      Setup("welcome -> 1\ninstall-options -> 1\n" + Login("bigschool", "big2024") + kCourse);
  EXPECT_EQ(run.status, 0) << run.output << Log();
  EXPECT_TRUE(CourseInstalled());
  EXPECT_NE(Log().find("The class table holds 800 records"), std::string::npos);
  EXPECT_EQ(Requests("CLSB"), 5) << "every page was asked for once";
}

TEST_F(RecordsLoginTest, BigEndianServerInstallsAlike) {
  StartSchool({"--big-endian"});
  RunResult run = Setup("welcome -> 1\ninstall-options -> 1\n" +
                        Login("ann.lee@lakeside.example", "sol2024") + kCourse);
  EXPECT_EQ(run.status, 0) << run.output << Log();
  EXPECT_TRUE(CourseInstalled());
}

TEST_F(RecordsLoginTest, OlderServerGetsNoUtf8RequestAndInstallsAlike) {
  // Protocol level 3 and the 4-digit group field; the group's texts come in its code page.
  StartSchool({"--protocol-level", "3", "--group-digits", "4"});
  RunResult run = Setup("welcome -> 1\ninstall-options -> 1\n" +
                        Login("ann.lee@lakeside.example", "sol2024") + kCourse);
  EXPECT_EQ(run.status, 0) << run.output << Log();
  EXPECT_TRUE(CourseInstalled());
  EXPECT_EQ(Requests("LGNS"), 1);
}

}  // namespace
}  // namespace nuvel::testing
