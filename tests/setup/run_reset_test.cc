#include "platform/run_reset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "base/run_state.h"
#include "installer/uninstall.h"
#include "net/server_reply.h"
#include "net/update_check.h"
#include "platform/syscalls.h"
#include "setup/options.h"
#include "tests/support/fake_backend.h"
#include "text/dates.h"
#include "ui/dialog.h"

namespace nuvel::setup {
namespace {

int RefuseOpen(const char*, int, unsigned) { return -1; }

// What one run leaves behind in modules of every layer, none of which the driver or the tests
// reset one by one before: each must be back at its initial value for the next run.
TEST(RunResetTest, StateLeftByOneRunIsGoneForTheNext) {
  auto fake = std::make_unique<ui::testing::FakeBackend>();
  fake->control = true;  // Control was down at the click that answered the dialog
  ui::SetBackend(std::move(fake));

  text::CheckForLeapYear(2024);
  net::UpdateCheck().first_time = 0;
  net::UpdateCheck().times_accessed = 3;
  net::UpdateCheck().TheItemsOutOfDate = " tsh";
  net::UpdateRSTime("Date: Mon, 02 Mar 2026 10:00:00 GMT");
  installer::Uninstall().fUninstallall = 1;
  installer::Uninstall().installedProdSortOrder = {2, 0, 1};
  Options().force_download_courses = true;
  base::Run().quitFlag = 1;
  platform::syscalls().open = RefuseOpen;
  ui::Dialog dialog;
  dialog.name = "Welcome";
  ui::ModalDialog(dialog);
  ASSERT_TRUE(ui::TakeControlKeyLatch());
  ASSERT_FALSE(ui::IsControlKeyHeldDown()) << "the click's Control key is spent";

  platform::ResetRunState();

  EXPECT_EQ(text::Dates().daysPerMonth[2], 28) << "February keeps the last leap year's length";
  EXPECT_EQ(net::UpdateCheck().first_time, 1) << "the update check thinks it ran already";
  EXPECT_EQ(net::UpdateCheck().times_accessed, 0);
  EXPECT_EQ(net::UpdateCheck().TheItemsOutOfDate, "");
  EXPECT_EQ(net::SavedServerDateHeader(), "") << "the last run's server date is kept";
  EXPECT_EQ(installer::Uninstall().fUninstallall, 0) << "Uninstall All is still chosen";
  EXPECT_TRUE(installer::Uninstall().installedProdSortOrder.empty());
  EXPECT_FALSE(Options().force_download_courses) << "the last source's options are kept";
  EXPECT_EQ(base::Run().quitFlag, 0) << "the new run would quit at once";
  EXPECT_NE(platform::syscalls().open, &RefuseOpen) << "an injected fault outlives its run";
  EXPECT_EQ(ui::DialogsShown(), 0) << "the dialogs of the last run are counted";
  // The back end was set up before the run and stays; only the spent click is forgotten.
  EXPECT_TRUE(ui::IsControlKeyHeldDown()) << "the back end or the latch of the last run is lost";
  ui::SetBackend(nullptr);
}

// A reset that uses a module for the first time registers it while the registry is being run.
std::string& LateModule() {
  static std::string state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("test::late module", [] { state.clear(); });
  return state;
}

TEST(RunResetTest, ModuleFirstUsedByAResetIsRegisteredAndResetsLater) {
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("test::early module", [] { LateModule(); });

  platform::ResetRunState();
  auto names = platform::RegisteredRunStates();
  EXPECT_NE(std::find(names.begin(), names.end(), "test::late module"), names.end());

  LateModule() = "left by a run";
  platform::ResetRunState();
  EXPECT_EQ(LateModule(), "");
}

}  // namespace
}  // namespace nuvel::setup
