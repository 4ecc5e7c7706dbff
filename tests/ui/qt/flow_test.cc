// The real flow (RunSetup) with the Qt back end, in this process: the sample source is written
// into a private sysroot, and every dialog is answered as a person would answer it, by clicking
// its widgets or by pressing keys on the widget that has the focus. Nothing calls the model.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVariant>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/profile_file.h"
#include "base/strings.h"
#include "platform/events.h"
#include "platform/run_reset.h"
#include "setup/driver.h"
#include "tests/support/test_env.h"
#include "ui/dialog.h"
#include "ui/qt/qt_backend.h"

namespace nuvel {
namespace {

namespace fs = std::filesystem;

// The course the tests install: the third family's, in every language.
constexpr const char* kCourse = "003MUL50";

bool ShowsText(QDialog* window, const std::string& key) {
  const QString text = QString::fromStdString(base::Localize(key)).left(20);
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->isVisible() && label->text().contains(text)) return true;
  }
  return false;
}

// What a dialog is, for the record of a run: its name, and for a prompt the start of its text.
std::string Describe(QDialog* window) {
  std::string name = window->objectName().toStdString();
  if (name != "dialog-prompt") return name;
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->isVisible() && !label->text().isEmpty()) {
      return name + ": " + label->text().left(40).toStdString();
    }
  }
  return name;
}

// The dialogs of a run, one a line, for failure messages.
std::string Joined(const std::vector<std::string>& seen) {
  std::string text;
  for (const std::string& name : seen) text += "\n  " + name;
  return text;
}

QPushButton* Button(QDialog* window, int number) {
  return window->findChild<QPushButton*>(QStringLiteral("item%1").arg(number));
}

void Click(QDialog* window, int number, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QPushButton* found = Button(window, number);
  ASSERT_TRUE(found && found->isVisible() && found->isEnabled())
      << Describe(window) << ": no button " << number << " to click";
  QTest::mouseClick(found, Qt::LeftButton, modifiers);
}

void ClickRow(QListWidget* list, int row) {
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                    list->visualItemRect(list->item(row)).center());
}

// ---- The keyboard: keys go only to the widget with the focus ------------------------------------

void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* focus = QApplication::focusWidget();
  ASSERT_TRUE(focus) << "no widget has the focus";
  QTest::keyClick(focus, static_cast<Qt::Key>(key), modifiers);
}

// Tabs until the widget named item<number> has the focus; fails when Tab never reaches it.
void TabTo(QDialog* window, int number) {
  const QString name = QStringLiteral("item%1").arg(number);
  for (int presses = 0; presses < 40; ++presses) {
    QWidget* focus = QApplication::focusWidget();
    if (focus && focus->objectName() == name && focus->window() == window) return;
    ASSERT_NO_FATAL_FAILURE(Press(Qt::Key_Tab));
  }
  FAIL() << Describe(window) << ": Tab never reaches item " << number;
}

// Hits a button from the keyboard: Tab to it, then Space (with Control held when asked).
void KeyHit(QDialog* window, int number, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  ASSERT_NO_FATAL_FAILURE(TabTo(window, number));
  ASSERT_NO_FATAL_FAILURE(Press(Qt::Key_Space, modifiers));
}

// Makes `row` the only selected row of a list with the arrow keys and Space (a list of several
// choices toggles the current row with Space; a list of one choice selects as the arrows move).
void KeySelectOnly(QDialog* window, int number, int row) {
  ASSERT_NO_FATAL_FAILURE(TabTo(window, number));
  auto* list = qobject_cast<QListWidget*>(QApplication::focusWidget());
  ASSERT_TRUE(list) << "item " << number << " is no list";
  ASSERT_LT(row, list->count());
  ASSERT_NO_FATAL_FAILURE(Press(Qt::Key_Home));
  for (int at = 0; at < list->count(); ++at) {
    if (at > 0) {
      ASSERT_NO_FATAL_FAILURE(Press(Qt::Key_Down));
    }
    ASSERT_EQ(list->currentRow(), at);
    if (list->selectionMode() == QAbstractItemView::MultiSelection &&
        list->item(at)->isSelected() != (at == row)) {
      ASSERT_NO_FATAL_FAILURE(Press(Qt::Key_Space));
    }
    if (list->selectionMode() != QAbstractItemView::MultiSelection && at == row) break;
  }
  ASSERT_EQ(list->selectedItems().size(), 1);
  EXPECT_EQ(list->row(list->selectedItems().front()), row);
}

// ---- Running the Setup
// ----------------------------------------------------------------------------

using Answerer = std::function<void(QDialog*)>;

// Runs the whole Setup on `source`. Each dialog is handed to `answer` once it is on screen;
// `tick` (when given) runs on every turn of the driver while no new dialog waits, during the
// long operations too. Every dialog shown is described in `seen`.
int RunDriven(const std::string& source, const Answerer& answer, std::vector<std::string>& seen,
              const std::function<void()>& tick = {}) {
  QDialog* answered = nullptr;
  int waited = 0;
  int inactive = 0;
  QTimer driver;
  QObject::connect(&driver, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* window = qobject_cast<QDialog*>(widget);
      if (!window || !window->isVisible() || !window->isModal()) continue;
      // Each dialog is a new window, possibly at the address of the one before: a mark on the
      // window tells the one answered.
      if (window == answered && window->property("answered").toBool()) {
        // A dialog the answer did not end is closed, so that the run ends.
        if (++waited > 250) {
          ADD_FAILURE() << "the answer did not end " << seen.back();
          window->close();
        }
        return;
      }
      // A person answers a window once it is up and active; keys go to the active window only.
      if (!window->isActiveWindow() && ++inactive < 50) return;
      inactive = 0;
      answered = window;
      window->setProperty("answered", true);
      waited = 0;
      seen.push_back(Describe(window));
      if (seen.size() > 40) {
        ADD_FAILURE() << "too many dialogs; the last was " << seen.back();
        window->close();
        return;
      }
      answer(window);
      return;
    }
    if (tick) tick();
  });
  driver.start(20);
  // The tick also runs at every turn the core gives the event loop, so that a short copy on a
  // busy machine cannot slip past between two timer turns.
  if (tick) {
    platform::SetEventPump([&] {
      ui::CurrentBackend().PumpEvents();
      tick();
    });
  }
  int status = setup::RunSetup({.source = source, .argv = {"nuvel-setup"}});
  if (tick) platform::SetEventPump([] { ui::CurrentBackend().PumpEvents(); });
  driver.stop();
  platform::ResetRunState();
  return status;
}

// Answers as the person installing the third family's course does, by clicking. Control is held
// at Install Options, as the sample source asks.
void ClickToInstall(QDialog* window) {
  const std::string name = window->objectName().toStdString();
  if (name == "dialog-install-options") return Click(window, 1, Qt::ControlModifier);
  if (name == "dialog-family") {
    auto* list = window->findChild<QListWidget*>(QStringLiteral("item3"));
    ASSERT_TRUE(list && list->count() > 2);
    // In a list of several choices a click turns a row on or off.
    for (int row = 0; row < list->count(); ++row) {
      if (list->item(row)->isSelected() != (row == 2)) ClickRow(list, row);
    }
    EXPECT_EQ(list->selectedItems().size(), 1);
    return Click(window, 1);
  }
  if (name == "dialog-prompt" && (ShowsText(window, "MSG_Message_InstallAnother") ||
                                  ShowsText(window, "MSG_Message_AboutToInstallPT"))) {
    return Click(window, 2);
  }
  Click(window, 1);
}

class QtFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LANGUAGE", "en", 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string error;
    auto backend = ui::MakeQtBackend(&error);
    ASSERT_TRUE(backend) << error;
    ui::SetBackend(std::move(backend));
    ASSERT_NO_FATAL_FAILURE(MakeSource(""));
  }
  void TearDown() override { ui::FinishDialogs(); }

  void MakeSource(const std::string& options) {
    ASSERT_EQ(std::system((std::string(NUVEL_SAMPLE_SOURCE_TOOL) + " --force " + options + " '" +
                           source_ + "' >/dev/null")
                              .c_str()),
              0);
  }

  // The courses whose installation finished: a startup folder with its nuvel.ini and without
  // the mark of an installation under way.
  std::vector<std::string> Courses() const {
    std::vector<std::string> courses;
    const fs::path launch = root_.path("opt/Nuvel/launch");
    if (!fs::is_directory(launch)) return courses;
    for (const auto& entry : fs::directory_iterator(launch)) {
      if (fs::is_regular_file(entry.path() / "nuvel.ini") &&
          !fs::exists(entry.path() / ".nuvel-installing")) {
        courses.push_back(entry.path().filename());
      }
    }
    return courses;
  }

  std::string Log() const { return testing::ReadTestFile(root_.path("opt/Nuvel/Nuvel_log.txt")); }

  testing::TestSysroot root_;
  const std::string source_ = root_.path("source");
};

TEST_F(QtFlowTest, ACourseIsInstalledByClickingThroughEveryDialog) {
  std::vector<std::string> seen;
  EXPECT_EQ(RunDriven(source_, ClickToInstall, seen), setup::kExitNormal);
  ASSERT_GE(seen.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 7),
            (std::vector<std::string>{"dialog-welcome", "dialog-install-options", "dialog-family",
                                      "dialog-version", "dialog-products", "dialog-multi-language",
                                      "dialog-install"}));
  EXPECT_EQ(Courses(), std::vector<std::string>{kCourse});
  EXPECT_NE(Log().find("Installing: "), std::string::npos);
}

// Uninstall on the Welcome, the course's row, Uninstall (enabled while the row is selected);
// keep the installation when asked, then Done and Quit.
TEST_F(QtFlowTest, TheCourseIsUninstalledByClicking) {
  std::vector<std::string> seen;
  ASSERT_EQ(RunDriven(source_, ClickToInstall, seen), setup::kExitNormal);
  ASSERT_EQ(Courses(), std::vector<std::string>{kCourse});

  seen.clear();
  bool removed = false;
  Answerer uninstall = [&](QDialog* window) {
    const std::string name = window->objectName().toStdString();
    if (name == "dialog-welcome") return Click(window, removed ? 2 : 4);
    if (name == "dialog-uninstall" && !removed) {
      auto* list = window->findChild<QListWidget*>(QStringLiteral("item4"));
      ASSERT_TRUE(list && list->count() == 1);
      ClickRow(list, 0);
      removed = true;
      return Click(window, 2);
    }
    if (name == "dialog-uninstall") return Click(window, 1);
    Click(window, 2);  // the whole installation stays
  };
  EXPECT_EQ(RunDriven(source_, uninstall, seen), setup::kExitNormal);
  ASSERT_GE(seen.size(), 3u);
  seen[2] = seen[2].substr(0, seen[2].find(':'));
  EXPECT_EQ(seen, (std::vector<std::string>{"dialog-welcome", "dialog-uninstall", "dialog-prompt",
                                            "dialog-uninstall", "dialog-welcome"}));
  EXPECT_EQ(Courses(), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(root_.path("opt/Nuvel/records.ini")));
}

// ---- The keyboard alone
// --------------------------------------------------------------------------

// Answers as ClickToInstall does, with keys sent to the focused widget only: Return for the
// default button, Tab and Space for any other, Tab, arrows and Space in the family list.
void KeysToInstall(QDialog* window) {
  const std::string name = window->objectName().toStdString();
  if (name == "dialog-install-options") return KeyHit(window, 1, Qt::ControlModifier);
  if (name == "dialog-family") {
    ASSERT_NO_FATAL_FAILURE(KeySelectOnly(window, 3, 2));
    return KeyHit(window, 1);
  }
  if (name == "dialog-prompt" && (ShowsText(window, "MSG_Message_InstallAnother") ||
                                  ShowsText(window, "MSG_Message_AboutToInstallPT"))) {
    return KeyHit(window, 2);
  }
  QWidget* focus = QApplication::focusWidget();
  ASSERT_TRUE(focus && focus->window() == window) << Describe(window) << " has no focus";
  Press(Qt::Key_Return);
}

TEST_F(QtFlowTest, InstallAndUninstallWithTheKeyboardAlone) {
  std::vector<std::string> seen;
  EXPECT_EQ(RunDriven(source_, KeysToInstall, seen), setup::kExitNormal);
  ASSERT_GE(seen.size(), 7u);
  EXPECT_EQ(seen[6], "dialog-install");
  ASSERT_EQ(Courses(), std::vector<std::string>{kCourse});

  // Uninstall on the Welcome; in the list, the arrow keys choose the row; the whole
  // installation stays; Done, then Quit.
  seen.clear();
  bool removed = false;
  Answerer uninstall = [&](QDialog* window) {
    const std::string name = window->objectName().toStdString();
    if (name == "dialog-welcome") return KeyHit(window, removed ? 2 : 4);
    if (name == "dialog-uninstall" && !removed) {
      ASSERT_NO_FATAL_FAILURE(KeySelectOnly(window, 4, 0));
      removed = true;
      return KeyHit(window, 2);
    }
    if (name == "dialog-uninstall") return KeyHit(window, 1);
    KeyHit(window, 2);
  };
  EXPECT_EQ(RunDriven(source_, uninstall, seen), setup::kExitNormal);
  EXPECT_EQ(seen.size(), 5u);
  EXPECT_EQ(Courses(), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(root_.path("opt/Nuvel/content") + "/" + kCourse));
}

// ---- Stop during a copy
// --------------------------------------------------------------------------

// Clicks Stop in the status box once, early in the copy of the course's content (after the
// Install dialog), and answers the question that follows with `answer` (1 Continue, 2 Cancel);
// every other dialog as ClickToInstall.
class StopOnce {
 public:
  explicit StopOnce(int answer) : answer_(answer) {}

  void Tick() {
    if (!armed_ || clicked_) return;
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->objectName() != "status" || !window->isVisible()) continue;
      auto* stop = window->findChild<QPushButton*>(QStringLiteral("status-stop"));
      auto* bar = window->findChild<QProgressBar*>(QStringLiteral("status-progress"));
      if (!stop || !bar || !stop->isVisible() || !bar->isVisible() || !stop->isEnabled()) return;
      // The course's content, with most of it still to copy: a click at the very end of a copy
      // finds no file left to stop before.
      bool content = false;
      for (QLabel* label : window->findChildren<QLabel*>()) {
        content = content || label->text().startsWith(QStringLiteral("Multimedia Content"));
      }
      if (!content || bar->value() > bar->maximum() * 8 / 10) return;
      clicked_ = true;
      QTest::mouseClick(stop, Qt::LeftButton);
    }
  }
  void Answer(QDialog* window) {
    if (window->objectName() == "dialog-prompt" &&
        ShowsText(window, "MSG_Message_FilesBeingCopied")) {
      ++asked_;
      EXPECT_TRUE(clicked_) << "asked about a Stop nobody clicked";
      for (QWidget* other : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(other->objectName() == "status" && other->isVisible())
            << "the status box stays up under the question";
      }
      return Click(window, answer_);
    }
    if (window->objectName() == "dialog-install") armed_ = true;
    ClickToInstall(window);
  }
  bool clicked() const { return clicked_; }
  int asked() const { return asked_; }

 private:
  int answer_;
  bool armed_ = false;
  bool clicked_ = false;
  int asked_ = 0;
};

// The course's content is large enough (folders of many files) that the copy is still under
// way when Stop is clicked.
class QtStopTest : public QtFlowTest {
 protected:
  void SetUp() override {
    QtFlowTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(MakeSource("--content-mb 150 --content-as folders"));
  }
};

// Continue: the copy goes on to the end.
TEST_F(QtStopTest, StopAsksAndContinueLetsTheCopyFinish) {
  StopOnce stop(1);
  std::vector<std::string> seen;
  EXPECT_EQ(RunDriven(
                source_, [&](QDialog* window) { stop.Answer(window); }, seen, [&] { stop.Tick(); }),
            setup::kExitNormal);
  ASSERT_TRUE(stop.clicked()) << "the copy of the course never showed Stop";
  EXPECT_EQ(stop.asked(), 1) << "Stop was not asked about once";
  EXPECT_EQ(Courses(), std::vector<std::string>{kCourse});
  EXPECT_EQ(Log().find("copying files from"), std::string::npos) << "a copy failed";
}

// Cancel: the copy ends, the run says the setup is incomplete, and the course is not installed.
TEST_F(QtStopTest, StopAndCancelEndTheRunWithNothingInstalled) {
  StopOnce stop(2);
  std::vector<std::string> seen;
  EXPECT_EQ(RunDriven(
                source_, [&](QDialog* window) { stop.Answer(window); }, seen, [&] { stop.Tick(); }),
            setup::kExitIncomplete);
  ASSERT_TRUE(stop.clicked()) << "the copy of the course never showed Stop";
  EXPECT_EQ(stop.asked(), 1);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().substr(0, 30), "dialog-prompt: Setup is incomp") << seen.back();
  EXPECT_EQ(Courses(), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(root_.path("opt/Nuvel/launch/") + kCourse + "/.nuvel-installing"));
}

// The build of a course (fix_level in its NUVEL.INI).
std::string FixLevel(const std::string& file) {
  std::string level;
  base::GetNuvelPrivateProfileString("nuvel.ini", "fix_level", "0", level, 64, file);
  return level;
}

// ---- The close box and an update ---------------------------------------------------------------

// The close box answers 999: in the family list the flow goes back to Install Options, there
// back to the Welcome, and there the run ends; nothing is installed.
TEST_F(QtFlowTest, TheCloseBoxStepsBackThroughTheFlowAndEndsTheRun) {
  std::vector<std::string> seen;
  Answerer close = [&](QDialog* window) {
    const std::string name = window->objectName().toStdString();
    if (seen.size() == 1) return Click(window, 1);
    if (seen.size() == 2) return Click(window, 1, Qt::ControlModifier);
    EXPECT_TRUE(window->close()) << name;
  };
  EXPECT_EQ(RunDriven(source_, close, seen), setup::kExitNormal);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"dialog-welcome", "dialog-install-options", "dialog-family",
                                      "dialog-install-options", "dialog-welcome"}));
  EXPECT_EQ(Courses(), std::vector<std::string>{});
}

// Installed once, then the source brings a later build of the course: Install with Control in
// Install Options offers the update, which is taken by clicking; the installed course then has
// the source's build.
TEST_F(QtFlowTest, AnUpdateIsInstalledByClicking) {
  std::vector<std::string> seen;
  ASSERT_EQ(RunDriven(source_, ClickToInstall, seen), setup::kExitNormal);
  ASSERT_EQ(Courses(), std::vector<std::string>{kCourse});
  const std::string source_ini = source_ + "/Nuvel/content/" + kCourse + "/NUVEL.INI";
  const std::string installed_ini = root_.path("opt/Nuvel/content/") + kCourse + "/NUVEL.INI";
  const int level = std::stoi(FixLevel(installed_ini));
  ASSERT_GE(base::WritePrivateProfileString("nuvel.ini", "fix_level", std::to_string(level + 1),
                                            source_ini),
            -1);
  // Yes to the update; then Cancel in Install Options and Quit on the Welcome.
  seen.clear();
  Answerer update = [&](QDialog* window) {
    const std::string name = window->objectName().toStdString();
    if (name == "dialog-install-options") {
      return seen.size() == 2 ? Click(window, 1, Qt::ControlModifier) : Click(window, 2);
    }
    if (name == "dialog-welcome") return Click(window, seen.size() == 1 ? 1 : 2);
    Click(window, 1);
  };
  EXPECT_EQ(RunDriven(source_, update, seen), setup::kExitNormal);
  ASSERT_GE(seen.size(), 6u) << Joined(seen);
  EXPECT_EQ(seen[2].substr(0, 30), "dialog-prompt: A more recent v");
  EXPECT_EQ(seen[3].substr(0, 30), "dialog-prompt: All installed c");
  EXPECT_EQ(seen[4], "dialog-install-options");
  EXPECT_EQ(seen[5], "dialog-welcome");
  EXPECT_EQ(FixLevel(installed_ini), std::to_string(level + 1));
}
}  // namespace
}  // namespace nuvel
