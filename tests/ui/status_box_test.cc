#include "ui/status_box.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_backend.h"

namespace nuvel::ui {
namespace {

using ui::testing::FakeBackend;
using Events = std::vector<std::string>;

class StatusBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StatusBox().reset();
    auto fake = std::make_unique<FakeBackend>();
    backend_ = fake.get();
    SetBackend(std::move(fake));
  }
  void TearDown() override {
    StatusBox().reset();
    SetBackend(nullptr);
  }
  FakeBackend* backend_ = nullptr;
};

TEST_F(StatusBoxTest, UpdateShowsAndPumpsAndNullLinesStayAsTheyWere) {
  EXPECT_EQ(StatusBoxUpdate("Copying", "French 1", "lesson01.dat"), 0);
  EXPECT_EQ(GetStatusBoxVisible(), 1);
  EXPECT_EQ(backend_->events, Events{"show Copying|French 1|lesson01.dat"});
  EXPECT_EQ(backend_->pumps, 1);
  StatusBoxUpdate(nullptr, nullptr, "lesson02.dat");
  EXPECT_EQ(backend_->pumps, 2);
  EXPECT_EQ(backend_->events.back(), "show Copying|French 1|lesson02.dat");
  StatusBoxUpdate(nullptr, "", nullptr);
  EXPECT_EQ(backend_->events.back(), "show Copying||lesson02.dat")
      << "an empty text replaces its line; only null keeps it";

  // The lines outlive the box and show in the next one.
  StatusBoxUpdate(nullptr, "French 1", nullptr);
  StatusBoxDestroy();
  StatusBoxUpdate(nullptr, nullptr, "b.dat");
  EXPECT_EQ(backend_->events.back(), "show Copying|French 1|b.dat");
}

TEST_F(StatusBoxTest, SwitchedOffShowsNothingAndNeverFailsButTheStripStillShows) {
  StatusBox().gShowStatusBox = 0;
  EXPECT_EQ(StatusBoxCreate(), 0);
  EXPECT_EQ(StatusBoxUpdate("Copying", "x", "y"), 0);
  StatusBoxProgress(0.5);
  StatusBoxRemoveProgress();
  EXPECT_EQ(StatusBoxHide(), 0);
  EXPECT_EQ(StatusBoxDestroy(), 0);
  EXPECT_EQ(GetStatusBoxVisible(), 0);
  EXPECT_TRUE(backend_->events.empty()) << "no box may appear with the switch off";
  EXPECT_FALSE(StatusBox().exists);

  TCPStatusBoxUpdate("Records server", nullptr, nullptr);
  EXPECT_EQ(TCPGetStatusVisible(), 1);
  EXPECT_TRUE(backend_->strip_shown);
}

TEST_F(StatusBoxTest, CreateHideAndDestroyResults) {
  EXPECT_EQ(StatusBoxHide(), -1) << "no box yet";
  EXPECT_EQ(StatusBoxDestroy(), -1) << "switch on, but no box";
  EXPECT_EQ(StatusBoxCreate(), 0);
  EXPECT_EQ(StatusBoxCreate(), -1) << "an existing box is only shown again";
  EXPECT_EQ(StatusBoxHide(), 0);
  EXPECT_EQ(GetStatusBoxVisible(), 0);
  EXPECT_TRUE(StatusBox().exists);
  EXPECT_EQ(StatusBoxCreate(), -1);
  EXPECT_EQ(GetStatusBoxVisible(), 1);
  EXPECT_EQ(StatusBoxDestroy(), 0);
  EXPECT_FALSE(StatusBox().exists);
  EXPECT_FALSE(backend_->status_shown);
}

TEST_F(StatusBoxTest, ProgressIsClampedAndAnOverallRunOrLeaveOpenKeepsTheBox) {
  StatusBoxProgress(0.5);
  EXPECT_TRUE(backend_->events.empty()) << "no box: nothing to draw the bar in";
  StatusBoxUpdate("Installing", "1 of 3", nullptr);
  StatusBoxProgress(1.7);
  EXPECT_EQ(backend_->status.progress, 1.0);
  StatusBoxProgress(-3);
  EXPECT_EQ(backend_->status.progress, 0.0);
  StatusBoxProgress(0.25);
  StatusBox().Status_Bar = 2;
  EXPECT_EQ(StatusBoxDestroy(), 1);
  EXPECT_EQ(GetStatusBoxVisible(), 1);
  EXPECT_EQ(StatusBox().box.progress, 0.25) << "the bar stays for the next operation";
  StatusBox().Status_Bar = 0;
  EXPECT_EQ(StatusBoxDestroy(), 0);
  EXPECT_EQ(GetStatusBoxVisible(), 0);
  EXPECT_EQ(StatusBox().box.progress, -1) << "destroying takes the progress bar away";

  StatusBoxUpdate("Scanning", nullptr, nullptr);
  StatusBox().Status_Box_Leave_Open = 1;
  EXPECT_EQ(StatusBoxDestroy(), 0);
  EXPECT_EQ(GetStatusBoxVisible(), 1);
  EXPECT_TRUE(backend_->status_shown);
}

TEST_F(StatusBoxTest, StripShowsOneLineAndIdle) {
  EXPECT_EQ(TCPGetStatusVisible(), 0);
  EXPECT_EQ(TCPStatusBoxCreate(), 0);
  EXPECT_EQ(TCPStatusBoxCreate(), -1);
  TCPStatusBoxUpdate("Records server", "Reading classes", "");
  EXPECT_EQ(backend_->events.back(), "strip Records server  -  Reading classes");
  EXPECT_EQ(backend_->pumps, 1);
  TCPStatusBoxUpdate(nullptr, nullptr, "class 3");
  EXPECT_EQ(backend_->events.back(), "strip Records server  -  Reading classes  -  class 3");
  TCPStatusBoxClear();
  EXPECT_EQ(backend_->events.back(), "strip Idle...");
  EXPECT_EQ(TCPGetStatusVisible(), 1);
  TCPStatusBoxHide();
  EXPECT_EQ(TCPGetStatusVisible(), 0);
  EXPECT_TRUE(StatusBox().tcpExists);
  TCPStatusBoxDestroy();
  EXPECT_FALSE(StatusBox().tcpExists);
  EXPECT_FALSE(backend_->strip_shown);
}

}  // namespace
}  // namespace nuvel::ui
