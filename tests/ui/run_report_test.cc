#include "ui/run_report.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/run_reset.h"
#include "ui/status_box.h"

namespace nuvel::ui {
namespace {

class RunReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetRunState();
    EnableRunReport(true);
  }
  void TearDown() override { EnableRunReport(false); }

  // What `step` wrote to standard error.
  template <typename Step>
  std::string Err(Step step) {
    ::testing::internal::CaptureStderr();
    step();
    return ::testing::internal::GetCapturedStderr();
  }
};

TEST_F(RunReportTest, ProgressReportsEachTenthPassedOncePerCopy) {
  std::string err = Err([] {
    ReportCourseStarted("003MUL50", "Level 3", false);
    // The status box's progress bar is what copies and downloads drive.
    StatusBoxProgress(0.0);
    StatusBoxProgress(0.05);
    StatusBoxProgress(0.1);
    StatusBoxProgress(0.15);
    StatusBoxProgress(0.47);  // jumps past three tenths: one line, the last one passed
    StatusBoxProgress(0.3);   // a bar that goes back says nothing
    StatusBoxProgress(1.0);
    StatusBoxProgress(1.0);
  });
  EXPECT_EQ(err,
            "nuvel-setup: installing 003MUL50 (Level 3)\n"
            "nuvel-setup: 003MUL50: 10%\n"
            "nuvel-setup: 003MUL50: 40%\n"
            "nuvel-setup: 003MUL50: 100%\n");
  // The next copy counts from the start again, named by the status box's group label.
  err = Err([] {
    StatusBoxRemoveProgress();
    StatusBoxUpdate("Copying files...", "Multimedia Content:", "");
    StatusBoxProgress(0.25);
  });
  EXPECT_EQ(err, "nuvel-setup: 003MUL50: 20% (Multimedia Content)\n");
}

TEST_F(RunReportTest, SummaryCountsWhatFinishedAndTakesUnfinishedCoursesAsFailed) {
  Err([] {
    ReportCourseStarted("001MUL50", "", true);
    ReportCourseStarted("003MUL50", "", false);
    ReportCourseStarted("010ENG50", "", false);
    ReportCourseFinished("001MUL50");
    ReportCourseFinished("003MUL50");
    ReportCourseFinished("120MUL50");  // never started: not counted
    ReportCourseRemoved("006MUL50");
  });
  EXPECT_EQ(RunSummaryLine(1, "/opt/Nuvel/Nuvel_log.txt"),
            "summary: installed 1 (003MUL50), updated 1 (001MUL50), removed 1 (006MUL50), "
            "failed 1 (010ENG50); log /opt/Nuvel/Nuvel_log.txt; exit status 1");
  // Installed again later in the run: no longer failed.
  Err([] {
    ReportCourseFailed("010ENG50");
    ReportCourseStarted("010ENG50", "", false);
    ReportCourseFinished("010ENG50");
  });
  EXPECT_EQ(RunSummaryLine(0, ""),
            "summary: installed 2 (003MUL50, 010ENG50), updated 1 (001MUL50), removed 1 "
            "(006MUL50), failed 0; log (none); exit status 0");

  // Printed once per run, and only when the lines are on.
  std::string err = Err([] {
    PrintRunSummary(0);
    PrintRunSummary(3);
  });
  EXPECT_EQ(err.find("summary:"), err.rfind("summary:")) << err;
  EXPECT_NE(err.find("exit status 0\n"), std::string::npos) << err;
  platform::ResetRunState();
  EnableRunReport(false);
  EXPECT_EQ(Err([] {
              ReportCourseStarted("003MUL50", "", false);
              StatusBoxProgress(1.0);
              PrintRunSummary(0);
            }),
            "");
}

}  // namespace
}  // namespace nuvel::ui
