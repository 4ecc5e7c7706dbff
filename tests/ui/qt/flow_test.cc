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
#include <string>
#include <vector>

#include "base/strings.h"
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

TEST(QtFlowTest, ACourseIsInstalledByClickingThroughEveryDialog) {
  testing::TestSysroot root;
  setenv("LANGUAGE", "en", 1);
  const std::string source = root.path("source");
  ASSERT_EQ(
      std::system(
          (std::string(NUVEL_SAMPLE_SOURCE_TOOL) + " --force '" + source + "' >/dev/null").c_str()),
      0);

  qputenv("QT_QPA_PLATFORM", "offscreen");
  std::string error;
  auto backend = ui::MakeQtBackend(&error);
  ASSERT_TRUE(backend) << error;
  ui::SetBackend(std::move(backend));

  std::vector<std::string> seen;
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
      Answer(window, seen);
      return;
    }
  });
  driver.start(20);
  int status = setup::RunSetup({.source = source, .argv = {"nuvel-setup"}});
  driver.stop();

  EXPECT_EQ(status, setup::kExitNormal);
  ASSERT_GE(seen.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 7),
            (std::vector<std::string>{"dialog-welcome", "dialog-install-options", "dialog-family",
                                      "dialog-version", "dialog-products", "dialog-multi-language",
                                      "dialog-install"}));
  // The third family's course is installed: its startup folder holds its nuvel.ini.
  const fs::path launch = root.path("opt/Nuvel/launch");
  std::vector<std::string> courses;
  for (const auto& entry : fs::directory_iterator(launch)) {
    if (fs::is_regular_file(entry.path() / "nuvel.ini")) courses.push_back(entry.path().filename());
  }
  EXPECT_EQ(courses, std::vector<std::string>{"003MUL50"});
  std::string log = testing::ReadTestFile(root.path("opt/Nuvel/Nuvel_log.txt"));
  EXPECT_NE(log.find("Installing: "), std::string::npos);
  ui::FinishDialogs();
}

}  // namespace
}  // namespace nuvel
