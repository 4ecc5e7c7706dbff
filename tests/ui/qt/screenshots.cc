// Writes a picture of each dialog as the Qt back end shows it:
//
//   qt-screenshots OUTPUT_FOLDER MESSAGE_FILE PICTURE SOURCE
//   qt-screenshots --scaled OUTPUT_FOLDER MESSAGE_FILE PICTURE SOURCE
//
// The first form shoots, in English and in French, the dialogs built by the same code as in a
// run (the Welcome, the prompts of every form, Install Options, Advanced, the student login, the
// status box), then runs the whole Setup on SOURCE twice (install, then uninstall, every dialog
// clicked) and shoots the family, products and uninstall lists as the flow fills them; then the
// Welcome and Install Options in Arabic (right to left). The second form, meant for
// QT_SCALE_FACTOR=2, shoots the Welcome and Install Options in English as <name>-eng-200.png.
// Each window is saved as <name>-<language>.png, then closed or answered. The flow needs a
// machine of its own (NUVEL_SYSROOT, HOME, TMPDIR): scripts/screenshots.sh runs it that way,
// under a virtual X server.

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/paths.h"
#include "base/run_state.h"
#include "base/strings.h"
#include "platform/run_reset.h"
#include "records/install_options.h"
#include "records/student_login.h"
#include "setup/driver.h"
#include "setup/welcome.h"
#include "ui/dialog.h"
#include "ui/prompts.h"
#include "ui/qt/qt_backend.h"
#include "ui/status_box.h"

namespace {

using namespace nuvel;

QString g_folder;
QString g_suffix;  // "-eng", "-fra", ...

void Save(QWidget* window, const QString& name) {
  QString path = g_folder + "/" + name + g_suffix + ".png";
  if (!window->grab().save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  std::printf("%s\n", qPrintable(path));
}

QDialog* ShownDialog() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog && dialog->isVisible() && dialog->isModal()) return dialog;
  }
  return nullptr;
}

// Saves the next modal window once it is drawn (after `prepare`, which may type into it), then
// closes it.
void ShootNextDialog(const QString& name, std::function<void(QDialog*)> prepare = {}) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, name, prepare] {
    QDialog* dialog = ShownDialog();
    if (!dialog) return;
    poll->stop();
    if (prepare) prepare(dialog);
    QTimer::singleShot(150, dialog, [dialog, poll, name] {
      Save(dialog, name);
      dialog->close();
      poll->deleteLater();
    });
  });
  poll->start(20);
}

// Password fields show their masks: something is typed into each.
void TypePasswords(QDialog* dialog) {
  for (QLineEdit* edit : dialog->findChildren<QLineEdit*>()) {
    if (edit->echoMode() == QLineEdit::Password && edit->isVisible()) edit->setText("secret42");
  }
}

void ShootWelcomeAndOptions(const std::string& picture) {
  // The flow names the courseware before its Welcome; the picture shows the same text.
  base::Run().szCoursewareName = "Nuvel";
  ShootNextDialog("welcome");
  setup::Prompt_Welcome(picture);
  ShootNextDialog("install-options");
  records::Prompt_Records(true);
}

// The dialogs that need no installation source.
void ShootDialogs(const std::string& picture, const std::string& source) {
  ShootWelcomeAndOptions(picture);

  ShootNextDialog("prompt");
  ui::Ask({.id = "MSG_Message_InstallAnother",
           .message = "MSG_Message_InstallAnother",
           .title = "Nuvel Setup",
           .buttons = {"MSG_Button_Yes", "MSG_Button_No"}});

  ShootNextDialog("login-prompt", TypePasswords);
  std::string name = "ann@school.example", password = "secret";
  ui::Prompt_User_Edit2(name, password, "Login name:", "Password:", "MSG_Button_OK",
                        "MSG_Button_Cancel", "", "MSG_Message_AdminPassword", 1,
                        ui::kPromptPasswordField, "Nuvel Setup");

  ShootNextDialog("radio");
  ui::AskChoice({.message = "MSG_Dialog_MenuLanguage",
                 .title = "Nuvel Setup",
                 .buttons = {"MSG_Button_OK", "MSG_Button_Cancel"}},
                {"English", "Français", "Deutsch"}, 2);

  ShootNextDialog("checkbox");
  std::vector<int> checked{1, 0, 1};
  ui::AskChecks(
      {.message = "MSG_Message_Choose_Courses",
       .title = "Nuvel Setup",
       .buttons = {"MSG_Button_OK", "MSG_Button_Cancel"}},
      {"English Foundations, Level 1", "English Foundations, Level 3", "Grammar Essentials"},
      checked);

  ShootNextDialog("listbox");
  int selected = 1;
  ui::AskFromList({.message = "MSG_Message_SelectProductToUninstall",
                   .title = "Nuvel Setup",
                   .buttons = {"MSG_Button_Uninstall", "MSG_Button_Done"}},
                  {"French 1 (FRA1)", "German 2 (GER2)", "Spanish 3 (SPN3)"}, selected);

  ShootNextDialog("show-file");
  ui::Prompt_User_Show_A_File(source + "/doc/Read Me.txt", "MSG_Button_OK", "", "Read Me");

  ShootNextDialog("advanced", TypePasswords);
  records::Prompt_Advanced();

  // The login dialog lists the Records servers of the installation's server list.
  base::Read_RecordsIni();
  ShootNextDialog("student-login", TypePasswords);
  std::string login = "ann@school.example";
  records::StudentLoginScreen(login);

  ui::StatusBoxUpdate("MSG_Message_FilesBeingCopied",
                      "Multimedia Content:", "/media/disc/content/FRA1/audio/lesson07.dat");
  ui::StatusBoxProgress(0.42);
  for (int i = 0; i < 10; ++i) QApplication::processEvents();
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == "status" && widget->isVisible()) Save(widget, "status");
  }
  ui::StatusBoxDestroy();
}

bool Shows(QDialog* window, const char* key) {
  const QString text = QString::fromStdString(base::Localize(key)).left(20);
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->isVisible() && label->text().contains(text)) return true;
  }
  return false;
}

void Click(QDialog* window, int number) {
  auto* button = window->findChild<QPushButton*>(QStringLiteral("item%1").arg(number));
  if (button && button->isVisible() && button->isEnabled()) {
    QTest::mouseClick(button, Qt::LeftButton);
  } else {
    std::fprintf(stderr, "%s: no button %d; closed\n", qPrintable(window->objectName()), number);
    window->close();
  }
}

// Runs the whole Setup on `source`; each dialog is shot when its name is in `shots` (once),
// then answered by `answer`.
int RunShooting(const std::string& source, std::set<QString> shots,
                const std::function<void(QDialog*)>& answer) {
  QDialog* current = nullptr;
  QElapsedTimer shown;
  QTimer driver;
  QObject::connect(&driver, &QTimer::timeout, [&] {
    QDialog* window = ShownDialog();
    if (!window || window->property("answered").toBool()) return;
    if (window != current) {
      current = window;
      shown.start();
      return;
    }
    if (shown.elapsed() < 200) return;  // drawn and settled
    window->setProperty("answered", true);
    const QString name = window->objectName().mid(QStringLiteral("dialog-").size());
    if (shots.erase(name)) Save(window, name);
    answer(window);
  });
  driver.start(20);
  int status = setup::RunSetup({.source = source, .argv = {"nuvel-setup"}});
  driver.stop();
  platform::ResetRunState();
  return status;
}

// The family, products and uninstall lists as a run fills them from the source: the third
// family's course is installed, then uninstalled.
void ShootFlow(const std::string& source) {
  int rounds = 0;
  auto runaway = [&rounds](QDialog* window) {
    if (++rounds <= 30) return false;
    window->close();  // a flow that does not end as expected
    return true;
  };
  // A virtual X server reports the keyboard of its own, where no Control key is down: Control is
  // held for the run, as --control holds it.
  ui::HoldControlKey();
  RunShooting(source, {"family", "products"}, [&](QDialog* window) {
    if (runaway(window)) return;
    const QString name = window->objectName();
    if (name == "dialog-prompt" && (Shows(window, "MSG_Message_InstallAnother") ||
                                    Shows(window, "MSG_Message_AboutToInstallPT"))) {
      return Click(window, 2);
    }
    if (name == "dialog-family") {
      auto* list = window->findChild<QListWidget*>(QStringLiteral("item3"));
      for (int row = 0; list && row < list->count(); ++row) {
        list->item(row)->setSelected(row == 2);
      }
    }
    Click(window, 1);
  });
  bool removed = false;
  rounds = 0;
  RunShooting(source, {"uninstall"}, [&](QDialog* window) {
    const QString name = window->objectName();
    if (runaway(window)) return;
    if (name == "dialog-welcome") return Click(window, removed ? 2 : 4);
    if (name == "dialog-uninstall" && !removed) {
      removed = true;
      return Click(window, 2);
    }
    if (name == "dialog-uninstall") return Click(window, 1);
    Click(window, 2);  // the installation stays
  });
}

bool UseLanguage(const char* code, const char* message_file) {
  if (!base::OpenMessageFile(0, message_file)) {
    std::fprintf(stderr, "cannot read the message file %s\n", message_file);
    return false;
  }
  base::forceLanguage(0, 0, code);
  g_suffix = "-" + QString::fromLatin1(code).toLower();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool scaled = argc > 1 && std::string(argv[1]) == "--scaled";
  if (scaled) {
    --argc;
    ++argv;
  }
  if (argc != 5) {
    std::fprintf(stderr,
                 "usage: qt-screenshots [--scaled] OUTPUT_FOLDER MESSAGE_FILE PICTURE SOURCE\n");
    return 2;
  }
  g_folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_folder);
  const char* messages = argv[2];
  const std::string picture = argv[3];
  const std::string source = argv[4];
  std::string error;
  auto backend = ui::MakeQtBackend(&error);
  if (!backend) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  ui::SetBackend(std::move(backend));
  if (scaled) {
    if (!UseLanguage("ENG", messages)) return 1;
    g_suffix += "-200";
    ShootWelcomeAndOptions(picture);
  } else {
    for (const char* language : {"ENG", "FRA"}) {
      if (!UseLanguage(language, messages)) return 1;
      ShootDialogs(picture, source);
      setenv("LANGUAGE", language == std::string("FRA") ? "fr" : "en", 1);
      ShootFlow(source);
    }
    if (!UseLanguage("ARB", messages)) return 1;
    ShootWelcomeAndOptions(picture);
  }
  ui::FinishDialogs();
  return 0;
}
