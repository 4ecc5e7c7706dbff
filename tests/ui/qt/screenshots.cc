// Writes a picture of each dialog as the Qt back end shows it: qt-screenshots OUTPUT_FOLDER
// MESSAGE_FILE [PICTURE]. The dialogs are built by the same code as in a run (the Welcome, the
// prompts, Install Options, the status box), once in English and once in French, and each
// window is saved as <name>-<language>.png, then closed. scripts/screenshots.sh runs it under a
// virtual X server.

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "base/strings.h"
#include "records/install_options.h"
#include "setup/welcome.h"
#include "ui/dialog.h"
#include "ui/prompts.h"
#include "ui/qt/qt_backend.h"
#include "ui/status_box.h"

namespace {

QString g_folder;
QString g_shot;  // the name of the next picture

void Save(QWidget* window) {
  QString path = g_folder + "/" + g_shot + ".png";
  if (!window->grab().save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  std::printf("%s\n", qPrintable(path));
}

// Saves the next modal window once it is drawn, then closes it.
void ShootNextDialog(const QString& name) {
  g_shot = name;
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(widget);
      if (!dialog || !dialog->isVisible() || !dialog->isModal()) continue;
      poll->stop();
      QTimer::singleShot(150, dialog, [dialog, poll] {
        Save(dialog);
        dialog->close();
        poll->deleteLater();
      });
      return;
    }
  });
  poll->start(20);
}

void Shoot(const std::string& language, const std::string& picture) {
  using namespace nuvel;
  const QString suffix = "-" + QString::fromStdString(language).toLower();
  ShootNextDialog("welcome" + suffix);
  setup::Prompt_Welcome(picture);

  ShootNextDialog("prompt" + suffix);
  ui::Ask({.id = "MSG_Message_InstallAnother",
           .message = "MSG_Message_InstallAnother",
           .title = "Nuvel Setup",
           .buttons = {"MSG_Button_Yes", "MSG_Button_No"}});

  ShootNextDialog("login-prompt" + suffix);
  std::string name = "ann@school.example", password = "secret";
  ui::Prompt_User_Edit2(name, password, "Login name:", "Password:", "MSG_Button_OK",
                        "MSG_Button_Cancel", "", "MSG_Message_AdminPassword", 1,
                        ui::kPromptPasswordField, "Nuvel Setup");

  ShootNextDialog("radio" + suffix);
  ui::AskChoice({.message = "MSG_Dialog_MenuLanguage",
                 .title = "Nuvel Setup",
                 .buttons = {"MSG_Button_OK", "MSG_Button_Cancel"}},
                {"English", "Français", "Deutsch"}, 2);

  ShootNextDialog("listbox" + suffix);
  int selected = 1;
  ui::AskFromList({.message = "MSG_Message_SelectProductToUninstall",
                   .title = "Nuvel Setup",
                   .buttons = {"MSG_Button_Uninstall", "MSG_Button_Done"}},
                  {"French 1 (FRA1)", "German 2 (GER2)", "Spanish 3 (SPN3)"}, selected);

  ShootNextDialog("install-options" + suffix);
  records::Prompt_Records(true);

  ui::StatusBoxUpdate("MSG_Message_FilesBeingCopied",
                      "Multimedia Content:", "/media/disc/content/FRA1/audio/lesson07.dat");
  ui::StatusBoxProgress(0.42);
  for (int i = 0; i < 10; ++i) QApplication::processEvents();
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == "status" && widget->isVisible()) {
      g_shot = "status" + suffix;
      Save(widget);
    }
  }
  ui::StatusBoxDestroy();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace nuvel;
  if (argc < 3) {
    std::fprintf(stderr, "usage: qt-screenshots OUTPUT_FOLDER MESSAGE_FILE [PICTURE]\n");
    return 2;
  }
  g_folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_folder);
  std::string picture = argc > 3 ? argv[3] : "";
  std::string error;
  auto backend = ui::MakeQtBackend(&error);
  if (!backend) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  ui::SetBackend(std::move(backend));
  if (!base::OpenMessageFile(0, argv[2])) {
    std::fprintf(stderr, "cannot read the message file %s\n", argv[2]);
    return 1;
  }
  for (const char* language : {"ENG", "FRA"}) {
    base::forceLanguage(0, 0, language);
    Shoot(language, picture);
  }
  ui::FinishDialogs();
  return 0;
}
