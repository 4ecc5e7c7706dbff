// The Qt back end on the offscreen platform: dialogs are answered by clicking and typing into
// their widgets, as a person would, and the model must hold what was done.

#include "ui/qt/qt_backend.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <set>

#include "base/strings.h"
#include "tests/support/test_env.h"

namespace nuvel::ui {
namespace {

QtBackend& Backend() {
  static std::unique_ptr<ui::Backend> backend = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string error;
    auto made = MakeQtBackend(&error);
    EXPECT_TRUE(made) << error;
    return made;
  }();
  return static_cast<QtBackend&>(*backend);
}

// Closes the back end's windows while Qt is still whole (the back end itself lives to the exit).
class CloseWindows : public ::testing::Environment {
 public:
  void TearDown() override { Backend().Finish(); }
};
[[maybe_unused]] const auto* const close_windows =
    ::testing::AddGlobalTestEnvironment(new CloseWindows);

// The modal window on screen (a dialog of the model or the folder chooser), or nullptr.
QDialog* ShownDialog() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog && dialog->isVisible() && dialog->isModal()) return dialog;
  }
  return nullptr;
}

// Runs `show` (which opens a modal window) and, once the window is on screen, `act` on it. A
// window still open two seconds after `act` is closed, so a test that fails cannot hang.
template <typename Show>
auto WithWindow(Show show, std::function<void(QDialog*)> act) {
  Backend();  // the application object, which timers need
  auto* poll = new QTimer;
  bool acted = false;
  int waited = 0;
  QObject::connect(poll, &QTimer::timeout, [&] {
    QDialog* window = ShownDialog();
    if (!window) return;
    if (!acted) {
      acted = true;
      act(window);
    } else if (++waited > 200) {
      ADD_FAILURE() << "the window did not close";
      window->close();
    }
  });
  poll->start(10);
  auto result = show();
  delete poll;
  EXPECT_TRUE(acted) << "no window was shown";
  return result;
}

int Answer(Dialog& dialog, std::function<void(QDialog*)> act) {
  return WithWindow([&] { return Backend().ModalDialog(dialog); }, std::move(act));
}

template <typename Widget>
Widget* Item(QDialog* window, int number) {
  auto* widget = window->findChild<Widget*>(QStringLiteral("item%1").arg(number));
  EXPECT_TRUE(widget) << "no widget for item " << number;
  return widget;
}

void Click(QWidget* widget, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::mouseClick(widget, Qt::LeftButton, modifiers);
}

// Radio buttons and check boxes take clicks on their box and text, not on the space beside them.
void ClickBox(QWidget* widget) {
  QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(6, widget->height() / 2));
}

void ClickRow(QListWidget* list, int row) {
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                    list->visualItemRect(list->item(row)).center());
}

Dialog Prompt(std::vector<std::string> buttons) {
  Dialog dialog;
  dialog.name = "prompt";
  dialog.title = "Nuvel Setup";
  for (const std::string& text : buttons) dialog.Add(ItemKind::kButton, text);
  dialog.Add(ItemKind::kStaticText, "Install another course?\rThe first one is ready.");
  return dialog;
}

TEST(QtDialogTest, ButtonsAnswerWithTheirNumbersAndTextsShowAsGiven) {
  Dialog dialog = Prompt({"Yes", "No", "Later & again"});
  int hit = Answer(dialog, [](QDialog* window) {
    EXPECT_EQ(window->windowTitle(), "Nuvel Setup");
    // Message texts break lines with CR; an ampersand is no mnemonic.
    EXPECT_EQ(Item<QLabel>(window, 4)->text(), "Install another course?\nThe first one is ready.");
    EXPECT_EQ(Item<QPushButton>(window, 3)->text(), "Later && again");
    Click(Item<QPushButton>(window, 2));
  });
  EXPECT_EQ(hit, 2);

  dialog = Prompt({"Yes", "No", "Later"});
  EXPECT_EQ(Answer(dialog, [](QDialog* window) { Click(Item<QPushButton>(window, 3)); }), 3);
}

TEST(QtDialogTest, ReturnHitsTheDefaultButtonEscapeTheCancelButtonTheCloseBoxAnswers999) {
  Dialog dialog = Prompt({"OK", "Cancel"});
  dialog.default_item = 2;
  dialog.cancel_item = 1;
  EXPECT_EQ(Answer(dialog, [](QDialog* window) { QTest::keyClick(window, Qt::Key_Return); }), 2);
  EXPECT_EQ(Answer(dialog, [](QDialog* window) { QTest::keyClick(window, Qt::Key_Escape); }), 1);
  EXPECT_EQ(Answer(dialog, [](QDialog* window) { window->close(); }), kCloseBox);

  // Escape does nothing while the cancel button is disabled: the window stays until a click.
  dialog.item(1)->enabled = false;
  int hit = Answer(dialog, [](QDialog* window) {
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    Click(Item<QPushButton>(window, 2));
  });
  EXPECT_EQ(hit, 2);
}

TEST(QtDialogTest, HiddenItemsAreNotShownAndDisabledOnesCannotBeClicked) {
  Dialog dialog = Prompt({"Install", "Quit", "Uninstall"});
  dialog.item(3)->visible = false;
  dialog.item(1)->enabled = false;
  int hit = Answer(dialog, [](QDialog* window) {
    EXPECT_FALSE(Item<QPushButton>(window, 3)->isVisible());
    EXPECT_TRUE(Item<QPushButton>(window, 2)->isVisible());
    Click(Item<QPushButton>(window, 1));  // disabled: no answer
    EXPECT_TRUE(window->isVisible());
    Click(Item<QPushButton>(window, 2));
  });
  EXPECT_EQ(hit, 2);
}

TEST(QtDialogTest, TypedFieldsAreWrittenBackAndPasswordsAreMasked) {
  Dialog dialog;
  dialog.name = "login";
  dialog.Add(ItemKind::kButton, "OK");
  dialog.Add(ItemKind::kButton, "Cancel");
  dialog.Add(ItemKind::kStaticText, "Login name:");
  dialog.Add(ItemKind::kEditText, "ann");
  dialog.Add(ItemKind::kStaticText, "Password:");
  dialog.Add(ItemKind::kPassword, "");
  std::vector<int> changed;
  dialog.on_change = [&](Dialog&, int item) { changed.push_back(item); };
  int hit = Answer(dialog, [](QDialog* window) {
    auto* name = Item<QLineEdit>(window, 4);
    auto* password = Item<QLineEdit>(window, 6);
    EXPECT_EQ(name->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    // The label carries the field as its buddy, so Alt+letter and screen readers find it.
    EXPECT_EQ(Item<QLabel>(window, 5)->buddy(), password);
    // The fields start at one edge although their labels differ in length.
    EXPECT_EQ(name->mapTo(window, QPoint(0, 0)).x(), password->mapTo(window, QPoint(0, 0)).x());
    name->selectAll();
    QTest::keyClicks(name, "bob@school.example");
    QTest::keyClicks(password, "s3cret");
    Click(Item<QPushButton>(window, 1));
  });
  EXPECT_EQ(hit, 1);
  EXPECT_EQ(dialog.item(4)->text, "bob@school.example");
  EXPECT_EQ(dialog.item(6)->text, "s3cret");
  ASSERT_FALSE(changed.empty());
  EXPECT_EQ(changed.back(), 6);
}

TEST(QtDialogTest, SelectingARowEnablesUninstallThroughTheDialogLogic) {
  Dialog dialog;
  dialog.name = "uninstall";
  dialog.default_item = 1;
  dialog.cancel_item = 1;
  dialog.Add(ItemKind::kButton, "Done");
  dialog.Add(ItemKind::kButton, "Uninstall");
  dialog.Add(ItemKind::kStaticText, "Select the course to uninstall.");
  dialog.Add(ItemKind::kList, "").lines = {"French 1", "German 2", "Spanish 3"};
  auto sync = [](Dialog& d) { d.item(2)->enabled = !d.item(4)->selected.empty(); };
  sync(dialog);
  dialog.on_change = [&](Dialog& d, int) { sync(d); };
  int hit = Answer(dialog, [](QDialog* window) {
    auto* uninstall = Item<QPushButton>(window, 2);
    EXPECT_FALSE(uninstall->isEnabled());
    ClickRow(Item<QListWidget>(window, 4), 1);
    EXPECT_TRUE(uninstall->isEnabled());
    Click(uninstall);
  });
  EXPECT_EQ(hit, 2);
  EXPECT_EQ(dialog.item(4)->selected, std::vector<int>{1});
}

TEST(QtDialogTest, MultipleSelectionListsTakeSeveralRowsInOrder) {
  Dialog dialog;
  dialog.name = "products";
  dialog.Add(ItemKind::kButton, "OK");
  dialog.Add(ItemKind::kButton, "Cancel");
  DialogItem& list = dialog.Add(ItemKind::kList, "");
  list.lines = {"A", "B", "C", "D"};
  list.multiple = true;
  list.selected = {3};
  int hit = Answer(dialog, [](QDialog* window) {
    auto* rows = Item<QListWidget>(window, 3);
    EXPECT_TRUE(rows->item(3)->isSelected());
    ClickRow(rows, 2);
    ClickRow(rows, 0);
    Click(Item<QPushButton>(window, 1));
  });
  EXPECT_EQ(hit, 1);
  EXPECT_EQ(dialog.item(3)->selected, (std::vector<int>{0, 2, 3}));
}

TEST(QtDialogTest, RadioButtonsAndCheckBoxesAreWrittenBack) {
  Dialog dialog;
  dialog.name = "radio";
  dialog.Add(ItemKind::kButton, "OK");
  dialog.Add(ItemKind::kRadio, "English").value = 1;
  dialog.Add(ItemKind::kRadio, "French");
  dialog.Add(ItemKind::kCheckBox, "Keep the records");
  dialog.Add(ItemKind::kRadio, "Alone in its group").value = 1;
  int hit = Answer(dialog, [](QDialog* window) {
    ClickBox(Item<QRadioButton>(window, 3));
    ClickBox(Item<QCheckBox>(window, 4));
    // Item 5 is in a group of its own: choosing French left it chosen.
    EXPECT_TRUE(Item<QRadioButton>(window, 5)->isChecked());
    Click(Item<QPushButton>(window, 1));
  });
  EXPECT_EQ(hit, 1);
  EXPECT_EQ(dialog.item(2)->value, 0);
  EXPECT_EQ(dialog.item(3)->value, 1);
  EXPECT_EQ(dialog.item(4)->value, 1);
  EXPECT_EQ(dialog.item(5)->value, 1);
}

TEST(QtDialogTest, EveryEnabledControlIsReachedWithTab) {
  Dialog dialog;
  dialog.name = "login";
  dialog.Add(ItemKind::kButton, "OK");
  dialog.Add(ItemKind::kButton, "Cancel");
  dialog.Add(ItemKind::kEditText, "");
  dialog.Add(ItemKind::kCheckBox, "Work off line");
  dialog.Add(ItemKind::kList, "").lines = {"one", "two"};
  dialog.Add(ItemKind::kButton, "Hidden").visible = false;
  Answer(dialog, [](QDialog* window) {
    QApplication::setActiveWindow(window);
    std::set<QString> reached;
    for (int i = 0; i < 10; ++i) {
      if (QWidget* focus = QApplication::focusWidget()) reached.insert(focus->objectName());
      QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window,
                      Qt::Key_Tab);
    }
    EXPECT_EQ(reached, (std::set<QString>{"item1", "item2", "item3", "item4", "item5"}));
    window->close();
  });
}

TEST(QtDialogTest, ControlHeldAtTheAnsweringClickIsLatchedUntilTheNextAnswer) {
  Dialog dialog = Prompt({"Install", "Quit"});
  EXPECT_EQ(
      Answer(dialog,
             [](QDialog* window) { Click(Item<QPushButton>(window, 1), Qt::ControlModifier); }),
      1);
  EXPECT_TRUE(Backend().ControlKeyLatched());
  EXPECT_EQ(Answer(dialog, [](QDialog* window) { Click(Item<QPushButton>(window, 2)); }), 2);
  EXPECT_FALSE(Backend().ControlKeyLatched());
}

TEST(QtDialogTest, ThePictureKeepsItsAspectWithinItsBox) {
  testing::TestSysroot root;
  std::string path = root.path("Nuvel.png");
  QImage wide(1000, 250, QImage::Format_RGB32);
  wide.fill(Qt::darkBlue);
  ASSERT_TRUE(wide.save(QString::fromStdString(path)));
  Dialog dialog = Prompt({"Install", "Quit"});
  dialog.Add(ItemKind::kPicture, path);
  Answer(dialog, [](QDialog* window) {
    auto* picture = Item<QLabel>(window, 4);
    QPixmap shown = picture->pixmap();
    ASSERT_FALSE(shown.isNull());
    QSizeF size = shown.deviceIndependentSize();
    EXPECT_LE(size.width(), 320);
    EXPECT_NEAR(size.width() / size.height(), 4.0, 0.05);
    window->close();
  });
}

TEST(QtDialogTest, RightToLeftLanguagesLayTheWindowsOutRightToLeft) {
  base::StrRezSlot& slot = base::Strings().slots[0];
  slot.fIsResourceInUse = true;
  slot.szOSLang = "ARB";
  Dialog dialog = Prompt({"OK"});
  Answer(dialog, [](QDialog* window) {
    EXPECT_EQ(window->layoutDirection(), Qt::RightToLeft);
    window->close();
  });
  slot.szOSLang = "FRA";
  Answer(dialog, [](QDialog* window) {
    EXPECT_EQ(window->layoutDirection(), Qt::LeftToRight);
    window->close();
  });
  base::Strings().reset();
}

TEST(QtDialogTest, LongTextsWrapAndTheWindowStaysOnTheScreen) {
  Dialog dialog = Prompt({"OK"});
  std::string words;
  for (int i = 0; i < 400; ++i) words += "word ";
  dialog.item(2)->text = words;
  Answer(dialog, [](QDialog* window) {
    QRect screen = window->screen()->availableGeometry();
    EXPECT_LE(window->width(), screen.width());
    EXPECT_LE(window->height(), screen.height());
    EXPECT_TRUE(Item<QLabel>(window, 2)->wordWrap());
    window->close();
  });
}

TEST(QtFolderTest, TheChooserReturnsTheFolderTypedOrNothingWhenCancelled) {
  testing::TestSysroot root;
  std::string folder = root.path("courses");
  testing::WriteTestFile(folder + "/keep.txt", "x");
  std::string chosen = WithWindow(
      [&] { return Backend().ChooseFolder("MSG_InstallationDirectory", "Where?", root.root()); },
      [&](QDialog* window) {
        auto* chooser = qobject_cast<QFileDialog*>(window);
        ASSERT_TRUE(chooser);
        EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
        auto* name = window->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(name);
        // The chooser reads the folders in the background; a person sees them before typing.
        auto* view = window->findChild<QListView*>(QStringLiteral("listView"));
        ASSERT_TRUE(view);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) > 0; }, 5000));
        name->selectAll();
        // The chooser opened at the start folder: the folder's name is enough.
        QTest::keyClicks(name, "courses");
        auto* buttons = window->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        ASSERT_TRUE(buttons);
        Click(buttons->button(QDialogButtonBox::Open));
      });
  EXPECT_EQ(chosen, folder);

  chosen = WithWindow([&] { return Backend().ChooseFolder("id", "Where?", root.root()); },
                      [](QDialog* window) { QTest::keyClick(window, Qt::Key_Escape); });
  EXPECT_EQ(chosen, "");
}

TEST(QtStatusTest, TheStatusBoxShowsItsLinesAndStopIsAskedOnce) {
  QtBackend& backend = Backend();
  backend.ShowStatus(
      {.title = "Copying", .text = "French 1", .detail = "/src/a.dat", .progress = 0.25});
  QWidget* box = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == "status") box = widget;
  }
  ASSERT_TRUE(box);
  EXPECT_TRUE(box->isVisible());
  auto* bar = box->findChild<QProgressBar*>(QStringLiteral("status-progress"));
  auto* stop = box->findChild<QPushButton*>(QStringLiteral("status-stop"));
  ASSERT_TRUE(bar && stop);
  EXPECT_EQ(bar->value(), 250);
  EXPECT_TRUE(stop->isVisible());
  EXPECT_FALSE(backend.StopRequested());
  Click(stop);
  EXPECT_TRUE(backend.StopRequested());
  EXPECT_FALSE(backend.StopRequested());  // asked once per click

  // Without a bar nothing looks for Stop: it is not offered.
  backend.ShowStatus({.title = "Reading", .text = "", .detail = "", .progress = -1});
  EXPECT_FALSE(bar->isVisible());
  EXPECT_FALSE(stop->isVisible());
  backend.HideStatus();
  EXPECT_FALSE(box->isVisible());
}

TEST(QtStatusTest, TheStripShowsOneLine) {
  QtBackend& backend = Backend();
  backend.ShowStrip({.title = "Records", .text = "Loading classes", .detail = "3 of 9"});
  QLabel* line = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == "strip") line = widget->findChild<QLabel*>("strip-text");
  }
  ASSERT_TRUE(line);
  EXPECT_EQ(line->text(), "Records  -  Loading classes  -  3 of 9");
  backend.HideStrip();
  EXPECT_FALSE(line->window()->isVisible());
}

}  // namespace
}  // namespace nuvel::ui
