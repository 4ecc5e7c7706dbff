// A whole installation through the real flow with the Qt back end, in this process: the sample
// source is written into a private sysroot, RunSetup runs, and every dialog is answered by
// clicking its widgets as a person would (Control held at Install Options, as the sample source
// asks). The run must install the chosen course.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVariant>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/strings.h"
#include "platform/run_reset.h"
#include "setup/driver.h"
#include "tests/support/test_env.h"
#include "ui/dialog.h"
#include "ui/qt/qt_backend.h"

namespace nuvel {
namespace {

namespace fs = std::filesystem;

bool ShowsText(QDialog* window, const std::string& key) {
  const QString text = QString::fromStdString(base::Localize(key)).left(20);
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->isVisible() && label->text().contains(text)) return true;
  }
  return false;
}

// Answers the dialog on screen as the person installing the third course of the list would.
void Answer(QDialog* window, std::vector<std::string>& seen) {
  const std::string name = window->objectName().toStdString();
  seen.push_back(name);
  auto button = [&](int number) {
    return window->findChild<QPushButton*>(QStringLiteral("item%1").arg(number));
  };
  auto click = [&](int number, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QPushButton* found = button(number);
    ASSERT_TRUE(found && found->isEnabled()) << name << ": no button " << number;
    QTest::mouseClick(found, Qt::LeftButton, modifiers);
  };
  if (name == "dialog-install-options") return click(1, Qt::ControlModifier);
  if (name == "dialog-family") {
    auto* list = window->findChild<QListWidget*>(QStringLiteral("item3"));
    ASSERT_TRUE(list && list->count() > 2);
    // The third family alone: in a list of several choices a click turns a row on or off.
    for (int row = 0; row < list->count(); ++row) {
      if (list->item(row)->isSelected() != (row == 2)) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(row)).center());
      }
    }
    EXPECT_EQ(list->selectedItems().size(), 1);
    return click(1);
  }
  if (name == "dialog-prompt" && (ShowsText(window, "MSG_Message_InstallAnother") ||
                                  ShowsText(window, "MSG_Message_AboutToInstallPT"))) {
    return click(2);
  }
  click(1);
}

using Answerer = std::function<void(QDialog*, std::vector<std::string>&)>;

// Runs the whole Setup on `source`, answering each dialog with `answer` as it comes up; the
// names of the dialogs answered go into `seen`.
int RunClicking(const std::string& source, const Answerer& answer, std::vector<std::string>& seen) {
  QDialog* answered = nullptr;
  int waited = 0;
  QTimer driver;
  QObject::connect(&driver, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* window = qobject_cast<QDialog*>(widget);
      if (!window || !window->isVisible() || !window->isModal()) continue;
      // Each dialog is a new window, possibly at the address of the one before: a mark on the
      // window tells the one answered.
      if (window == answered && window->property("answered").toBool()) {
        // A dialog the click did not answer is closed, so that the run ends.
        if (++waited > 250) {
          ADD_FAILURE() << "the click did not answer " << seen.back();
          window->close();
        }
        return;
      }
      answered = window;
      window->setProperty("answered", true);
      waited = 0;
      if (seen.size() > 40) {
        ADD_FAILURE() << "too many dialogs; the last was " << seen.back();
        window->close();
        return;
      }
      answer(window, seen);
      return;
    }
  });
  driver.start(20);
  int status = setup::RunSetup({.source = source, .argv = {"nuvel-setup"}});
  driver.stop();
  platform::ResetRunState();
  return status;
}

class QtFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LANGUAGE", "en", 1);
    ASSERT_EQ(std::system(
                  (std::string(NUVEL_SAMPLE_SOURCE_TOOL) + " --force '" + source_ + "' >/dev/null")
                      .c_str()),
              0);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string error;
    auto backend = ui::MakeQtBackend(&error);
    ASSERT_TRUE(backend) << error;
    ui::SetBackend(std::move(backend));
  }
  void TearDown() override { ui::FinishDialogs(); }

  std::vector<std::string> Courses() const {
    std::vector<std::string> courses;
    const fs::path launch = root_.path("opt/Nuvel/launch");
    if (!fs::is_directory(launch)) return courses;
    for (const auto& entry : fs::directory_iterator(launch)) {
      if (fs::is_regular_file(entry.path() / "nuvel.ini")) {
        courses.push_back(entry.path().filename());
      }
    }
    return courses;
  }

  testing::TestSysroot root_;
  const std::string source_ = root_.path("source");
};

TEST_F(QtFlowTest, ACourseIsInstalledByClickingThroughEveryDialog) {
  std::vector<std::string> seen;
  EXPECT_EQ(RunClicking(source_, Answer, seen), setup::kExitNormal);
  ASSERT_GE(seen.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 7),
            (std::vector<std::string>{"dialog-welcome", "dialog-install-options", "dialog-family",
                                      "dialog-version", "dialog-products", "dialog-multi-language",
                                      "dialog-install"}));
  // The third family's course is installed: its startup folder holds its nuvel.ini.
  EXPECT_EQ(Courses(), std::vector<std::string>{"003MUL50"});
  std::string log = testing::ReadTestFile(root_.path("opt/Nuvel/Nuvel_log.txt"));
  EXPECT_NE(log.find("Installing: "), std::string::npos);
}

// Uninstall on the Welcome, the course's row, Uninstall (enabled while the row is selected);
// keep the installation when asked, then Done and Quit.
TEST_F(QtFlowTest, TheCourseIsUninstalledByClicking) {
  std::vector<std::string> seen;
  ASSERT_EQ(RunClicking(source_, Answer, seen), setup::kExitNormal);
  ASSERT_EQ(Courses(), std::vector<std::string>{"003MUL50"});

  seen.clear();
  bool removed = false;
  Answerer uninstall = [&](QDialog* window, std::vector<std::string>& names) {
    const std::string name = window->objectName().toStdString();
    names.push_back(name);
    auto click = [&](int number) {
      auto* button = window->findChild<QPushButton*>(QStringLiteral("item%1").arg(number));
      ASSERT_TRUE(button && button->isVisible() && button->isEnabled()) << name << " " << number;
      QTest::mouseClick(button, Qt::LeftButton);
    };
    if (name == "dialog-welcome") return click(removed ? 2 : 4);
    if (name == "dialog-uninstall" && !removed) {
      auto* list = window->findChild<QListWidget*>(QStringLiteral("item4"));
      ASSERT_TRUE(list && list->count() == 1);
      QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                        list->visualItemRect(list->item(0)).center());
      removed = true;
      return click(2);
    }
    if (name == "dialog-uninstall") return click(1);
    click(2);  // the whole installation stays
  };
  EXPECT_EQ(RunClicking(source_, uninstall, seen), setup::kExitNormal);
  EXPECT_EQ(seen, (std::vector<std::string>{"dialog-welcome", "dialog-uninstall", "dialog-prompt",
                                            "dialog-uninstall", "dialog-welcome"}));
  EXPECT_EQ(Courses(), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(root_.path("opt/Nuvel/records.ini")));
}

}  // namespace
}  // namespace nuvel
