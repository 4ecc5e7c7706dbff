// How long the desktop interface stops answering during a copy: the whole Setup runs in this
// process with the Qt back end (offscreen), installing every family's courses from SOURCE as a
// person clicking through the dialogs would, while a timer in the event loop notes the time
// between its ticks. The gaps that begin while the status box shows a progress bar (a copy, an
// expansion or a download under way) are the ones a person waits through with a window that
// does not redraw or answer Stop.
//
//   bench_gui_gap SOURCE      (NUVEL_SYSROOT, HOME and TMPDIR name the machine to install on)
//
// Prints "max_gap_ms=<largest gap> copy_s=<time with a bar shown> ticks=<ticks during copies>
// status=<exit status of the run>" and, on a second line, the status box's lines at the start
// of the largest gap. Exits with 1 when the run failed or showed no copy.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <string>

#include "base/strings.h"
#include "setup/driver.h"
#include "ui/dialog.h"
#include "ui/qt/qt_backend.h"

namespace {

bool Shows(QDialog* window, const char* key) {
  const QString text = QString::fromStdString(nuvel::base::Localize(key)).left(20);
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->isVisible() && label->text().contains(text)) return true;
  }
  return false;
}

void Click(QDialog* window, int number, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  auto* button = window->findChild<QPushButton*>(QStringLiteral("item%1").arg(number));
  if (button && button->isEnabled()) {
    QTest::mouseClick(button, Qt::LeftButton, modifiers);
  } else {
    window->close();
  }
}

// The answers of a person installing every family's courses (Control at Install Options, as
// the sample source asks; no second round, no placement test).
void Answer(QDialog* window) {
  const QString name = window->objectName();
  if (name == "dialog-install-options") return Click(window, 1, Qt::ControlModifier);
  if (name == "dialog-family") {
    auto* list = window->findChild<QListWidget*>(QStringLiteral("item3"));
    for (int row = 0; list && row < list->count(); ++row) list->item(row)->setSelected(true);
    return Click(window, 1);
  }
  if (name == "dialog-prompt" && (Shows(window, "MSG_Message_InstallAnother") ||
                                  Shows(window, "MSG_Message_AboutToInstallPT"))) {
    return Click(window, 2);
  }
  Click(window, 1);
}

// The status box's lines when it shows a progress bar, else "".
QString CopyUnderWay() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->objectName() != "status" || !window->isVisible()) continue;
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("status-progress"));
    if (!bar || !bar->isVisible()) return {};
    QStringList lines;
    for (QLabel* label : window->findChildren<QLabel*>()) lines << label->text();
    return lines.join(QStringLiteral(" | "));
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  using namespace nuvel;
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_gui_gap SOURCE\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  std::string error;
  auto backend = ui::MakeQtBackend(&error);
  if (!backend) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  ui::SetBackend(std::move(backend));

  QElapsedTimer clock;
  clock.start();
  qint64 last = 0, largest = 0, copying_ms = 0, ticks = 0;
  QString last_copy, largest_at;
  QDialog* answered = nullptr;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    if (!last_copy.isEmpty()) {
      ++ticks;
      copying_ms += now - last;
      if (now - last > largest) {
        largest = now - last;
        largest_at = last_copy;
      }
    }
    last = now;
    last_copy = CopyUnderWay();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* window = qobject_cast<QDialog*>(widget);
      if (!window || !window->isVisible() || !window->isModal()) continue;
      if (window == answered && window->property("answered").toBool()) return;
      answered = window;
      window->setProperty("answered", true);
      Answer(window);
      return;
    }
  });
  ticker.start(5);
  const int status = setup::RunSetup({.source = argv[1], .argv = {"bench_gui_gap"}});
  ticker.stop();
  ui::FinishDialogs();
  std::printf("max_gap_ms=%lld copy_s=%.2f ticks=%lld status=%d\n", static_cast<long long>(largest),
              copying_ms / 1000.0, static_cast<long long>(ticks), status);
  std::printf("largest gap began at: %s\n", qPrintable(largest_at));
  return status == 0 && ticks > 0 ? 0 : 1;
}
