#include "ui/qt/qt_backend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <vector>

#include "base/strings.h"
#include "platform/terminal.h"

namespace nuvel::ui {
namespace {

// The widest a wrapped text grows, in average characters, and the longest text shown as a label
// rather than in a scrolling box.
constexpr int kWrapCharacters = 64;
constexpr int kScrollingTextLines = 16;
constexpr int kPictureWidth = 320;
constexpr int kPictureHeight = 240;
constexpr int kListRows = 10;
// The share of the screen a dialog may take.
constexpr double kScreenShare = 0.9;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Message texts break lines with CR (as the message files store them); Qt wants LF.
QString Lines(const std::string& text) {
  QString out = Q(text);
  out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return out;
}

// An ampersand in a button's text is shown as it is: the texts give no mnemonics. A text written
// left to right (one not yet translated) keeps its trailing dots after it in a right-to-left
// window: a left-to-right mark ends it.
QString ButtonText(const std::string& text) {
  QString out = Lines(text);
  out.replace(QLatin1Char('&'), QLatin1String("&&"));
  if (QGuiApplication::layoutDirection() == Qt::RightToLeft && !out.isRightToLeft()) {
    out += QChar(0x200E);
  }
  return out;
}

QString ItemName(int number) { return QStringLiteral("item%1").arg(number); }

bool IsField(const DialogItem& item) {
  return item.kind == ItemKind::kEditText || item.kind == ItemKind::kPassword;
}

std::string Trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A static text right before a field is that field's label; so is a static text right before a
// list that bears the same text as its own name.
bool IsLabel(const Dialog& dialog, std::size_t index) {
  if (index + 1 >= dialog.items.size() || dialog.items[index].kind != ItemKind::kStaticText) {
    return false;
  }
  const DialogItem& next = dialog.items[index + 1];
  if (IsField(next)) return true;
  const std::string name = Trim(next.text);
  return next.kind == ItemKind::kList && !name.empty() && name == Trim(dialog.items[index].text);
}

// A button followed by a static text (Browse and the folder it chose) belongs with that text in
// the body; every other button goes to the row at the bottom, and so do the buttons that follow
// another button (Install, Quit, Uninstall and the message after them).
bool IsInlineButton(const Dialog& dialog, std::size_t index) {
  return dialog.items[index].kind == ItemKind::kButton && index + 1 < dialog.items.size() &&
         dialog.items[index + 1].kind == ItemKind::kStaticText &&
         (index == 0 || dialog.items[index - 1].kind != ItemKind::kButton) &&
         dialog.items[index].number != dialog.default_item &&
         dialog.items[index].number != dialog.cancel_item;
}

// A text ending with a colon right after a button and its text is the caption of that pair
// ("Installation folder:" after Browse and the folder): it is shown above the pair.
bool IsCaptionOfPair(const Dialog& dialog, std::size_t index) {
  std::string text = Trim(dialog.items[index].text);
  return dialog.items[index].kind == ItemKind::kStaticText && !text.empty() && text.back() == ':' &&
         index >= 2 && IsInlineButton(dialog, index - 2);
}

bool ControlHeld() {
  return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
}

void ApplyLayoutDirection() {
  QApplication::setLayoutDirection(
      IsRightToLeftLanguage(base::CurrentLanguageCode()) ? Qt::RightToLeft : Qt::LeftToRight);
}

QRect AvailableScreen(const QWidget* widget) {
  QScreen* screen =
      widget && widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

// The dialog window: Escape hits the model's cancel button, the close box answers 999.
class ModelDialog : public QDialog {
 public:
  ModelDialog(Dialog& dialog, bool& latched) : dialog_(dialog), latched_(latched) {}

  int answer() const { return answer_; }

  void Hit(int number) {
    latched_ = ControlHeld();
    answer_ = number;
    done(QDialog::Accepted);
  }

  void Build();
  // Shows the model's state: visibility, enabling, texts, values, rows and selections.
  void Refresh();

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
      // Escape answers with the cancel button only while it is there to click.
      auto found = buttons_.find(dialog_.cancel_item);
      if (found != buttons_.end() && found->second->isVisible() && found->second->isEnabled()) {
        Hit(dialog_.cancel_item);
      }
      return;
    }
    QDialog::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    if (answer_ == 0) {
      latched_ = ControlHeld();
      answer_ = kCloseBox;
    }
    event->accept();
    QDialog::done(QDialog::Rejected);
  }
  // QDialog calls reject() for Escape and the close box; both are handled above.
  void reject() override {
    if (answer_ == 0) close();
  }

 private:
  void Changed(int number) {
    if (dialog_.on_change) dialog_.on_change(dialog_, number);
    Refresh();
  }
  QWidget* AddItemWidget(std::size_t index, QWidget* parent);
  QWidget* FieldRow(std::size_t label, std::size_t field, QWidget* parent);

  Dialog& dialog_;
  bool& latched_;
  int answer_ = 0;
  bool refreshing_ = false;
  std::map<int, QWidget*> widgets_;  // every item's widget by number
  std::map<int, QPushButton*> buttons_;
  std::map<int, QWidget*> rows_;  // a field's row with its label, shown and hidden whole
  std::vector<QButtonGroup*> groups_;
};

QLabel* WrappedLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  QFontMetrics metrics(label->font());
  int wrap = metrics.averageCharWidth() * kWrapCharacters;
  int natural = 0;
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    natural = std::max(natural, metrics.horizontalAdvance(line));
  }
  label->setMinimumWidth(std::min(natural + 2, wrap));
  return label;
}

QWidget* ModelDialog::AddItemWidget(std::size_t index, QWidget* parent) {
  DialogItem& item = dialog_.items[index];
  const int number = item.number;
  QWidget* widget = nullptr;
  switch (item.kind) {
    case ItemKind::kTitle: {
      auto* label = WrappedLabel(Lines(item.text), parent);
      QFont font = label->font();
      font.setBold(true);
      font.setPointSizeF(font.pointSizeF() * 1.2);
      label->setFont(font);
      widget = label;
      break;
    }
    case ItemKind::kStaticText: {
      QString text = Lines(item.text);
      if (text.count(QLatin1Char('\n')) >= kScrollingTextLines) {
        // A file's contents (show-file) scroll in a box that Tab reaches.
        auto* box = new QPlainTextEdit(text, parent);
        box->setReadOnly(true);
        box->setTabChangesFocus(true);
        box->setMinimumSize(box->fontMetrics().averageCharWidth() * 80,
                            box->fontMetrics().lineSpacing() * 20);
        widget = box;
      } else {
        widget = WrappedLabel(text, parent);
      }
      break;
    }
    case ItemKind::kButton: {
      auto* button = new QPushButton(ButtonText(item.text), parent);
      connect(button, &QPushButton::clicked, this, [this, number] { Hit(number); });
      buttons_[number] = button;
      widget = button;
      break;
    }
    case ItemKind::kEditText:
    case ItemKind::kPassword: {
      auto* edit = new QLineEdit(Q(item.text), parent);
      if (item.kind == ItemKind::kPassword) edit->setEchoMode(QLineEdit::Password);
      edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 32);
      connect(edit, &QLineEdit::textEdited, this, [this, number](const QString& text) {
        if (refreshing_) return;
        dialog_.item(number)->text = text.toStdString();
        Changed(number);
      });
      widget = edit;
      break;
    }
    case ItemKind::kRadio: {
      auto* radio = new QRadioButton(ButtonText(item.text), parent);
      // Radio buttons that follow one another form a group, as the model's ChooseRadio says.
      if (index == 0 || dialog_.items[index - 1].kind != ItemKind::kRadio || groups_.empty()) {
        groups_.push_back(new QButtonGroup(this));
      }
      groups_.back()->addButton(radio);
      connect(radio, &QRadioButton::toggled, this, [this, number](bool on) {
        if (refreshing_ || !on) return;
        ChooseRadio(dialog_, number);
        Changed(number);
      });
      widget = radio;
      break;
    }
    case ItemKind::kCheckBox: {
      auto* box = new QCheckBox(ButtonText(item.text), parent);
      connect(box, &QCheckBox::toggled, this, [this, number](bool on) {
        if (refreshing_) return;
        dialog_.item(number)->value = on ? 1 : 0;
        Changed(number);
      });
      widget = box;
      break;
    }
    case ItemKind::kList: {
      auto* list = new QListWidget(parent);
      list->setSelectionMode(item.multiple ? QAbstractItemView::MultiSelection
                                           : QAbstractItemView::SingleSelection);
      list->setTabKeyNavigation(false);
      connect(list, &QListWidget::itemSelectionChanged, this, [this, number, list] {
        if (refreshing_) return;
        std::vector<int> rows;
        for (const QModelIndex& row : list->selectionModel()->selectedRows()) {
          rows.push_back(row.row());
        }
        std::sort(rows.begin(), rows.end());
        dialog_.item(number)->selected = rows;
        Changed(number);
      });
      widget = list;
      break;
    }
    case ItemKind::kPicture: {
      auto* label = new QLabel(parent);
      QPixmap picture(Q(item.text));
      if (!picture.isNull()) {
        qreal ratio = label->devicePixelRatioF();
        QPixmap scaled = picture.scaled(QSize(kPictureWidth, kPictureHeight) * ratio,
                                        Qt::KeepAspectRatio, Qt::SmoothTransformation);
        scaled.setDevicePixelRatio(ratio);
        label->setPixmap(scaled);
      }
      label->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
      widget = label;
      break;
    }
  }
  widget->setObjectName(ItemName(number));
  widgets_[number] = widget;
  return widget;
}

void ModelDialog::Build() {
  setObjectName(QStringLiteral("dialog-") + Q(dialog_.name));
  setWindowTitle(Lines(dialog_.title));
  auto* outer = new QVBoxLayout(this);
  auto* main = new QHBoxLayout;
  outer->addLayout(main);

  QWidget* picture_column = nullptr;
  auto* body = new QWidget;
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(0, 0, 0, 0);
  auto* button_row = new QHBoxLayout;
  button_row->addStretch(1);

  std::vector<std::size_t> messages, rest;
  std::vector<QLabel*> field_labels;
  for (std::size_t i = 0; i < dialog_.items.size(); ++i) {
    const DialogItem& item = dialog_.items[i];
    if (item.kind == ItemKind::kTitle) {
      column->addWidget(AddItemWidget(i, body));
    } else if (item.kind == ItemKind::kPicture) {
      picture_column = AddItemWidget(i, nullptr);
    } else if (item.kind == ItemKind::kButton && !IsInlineButton(dialog_, i)) {
      button_row->addWidget(AddItemWidget(i, this));
    } else if (item.kind == ItemKind::kStaticText && !IsLabel(dialog_, i) &&
               !(i > 0 && IsInlineButton(dialog_, i - 1)) && !IsCaptionOfPair(dialog_, i)) {
      // The messages come first, whatever their place in the item order (prompts add their
      // message after their buttons and choices).
      messages.push_back(i);
    } else {
      rest.push_back(i);
    }
  }
  for (std::size_t i : messages) column->addWidget(AddItemWidget(i, body));
  for (std::size_t n = 0; n < rest.size(); ++n) {
    std::size_t i = rest[n];
    const DialogItem& item = dialog_.items[i];
    bool pair = n + 1 < rest.size() && rest[n + 1] == i + 1;
    if (pair && (IsLabel(dialog_, i) || IsInlineButton(dialog_, i))) {
      if (n + 2 < rest.size() && rest[n + 2] == i + 2 && IsCaptionOfPair(dialog_, i + 2)) {
        column->addWidget(AddItemWidget(i + 2, body));
        rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(n + 2));
      }
      // A label and its field, or a button and its text, share a row.
      auto* row = new QWidget(body);
      auto* line = new QHBoxLayout(row);
      line->setContentsMargins(0, 0, 0, 0);
      QWidget* first = AddItemWidget(i, row);
      QWidget* second = AddItemWidget(i + 1, row);
      if (auto* label = qobject_cast<QLabel*>(first)) {
        label->setBuddy(second);
        if (IsLabel(dialog_, i)) field_labels.push_back(label);
      }
      // A label stands at the top of a tall list, level with its first row.
      line->addWidget(
          first, 0, dialog_.items[i + 1].kind == ItemKind::kList ? Qt::AlignTop : Qt::Alignment());
      line->addWidget(second, 1);
      rows_[dialog_.items[i + 1].number] = row;
      column->addWidget(row);
      ++n;
      continue;
    }
    QWidget* widget = AddItemWidget(i, body);
    if (item.kind == ItemKind::kList && !Trim(item.text).empty() &&
        !(i > 0 && IsLabel(dialog_, i - 1))) {
      // A list's own text names its rows.
      auto* label = WrappedLabel(Lines(item.text), body);
      label->setBuddy(widget);
      column->addWidget(label);
    }
    column->addWidget(widget);
  }
  column->addStretch(1);
  // The fields and lists beside labels start at one edge, whatever the lengths of the labels.
  int label_width = 0;
  for (QLabel* label : field_labels) label_width = std::max(label_width, label->minimumWidth());
  for (QLabel* label : field_labels) label->setMinimumWidth(label_width);

  // The body scrolls when it is taller than the screen allows.
  auto* scroll = new QScrollArea;
  scroll->setWidget(body);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setFocusPolicy(Qt::NoFocus);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  if (picture_column) main->addWidget(picture_column, 0, Qt::AlignTop);
  main->addWidget(scroll, 1);
  outer->addLayout(button_row);

  for (auto& [number, button] : buttons_) {
    button->setAutoDefault(false);
    button->setDefault(number == dialog_.default_item);
  }
  Refresh();

  // The window takes the size of its contents, within the screen.
  body->adjustSize();
  QRect screen = AvailableScreen(this);
  QSize content = body->sizeHint();
  int wide = std::min(content.width() + 4, static_cast<int>(screen.width() * kScreenShare));
  int high = std::min(content.height() + 4, static_cast<int>(screen.height() * kScreenShare * 0.8));
  scroll->setMinimumSize(wide, high);
  adjustSize();
  resize(std::min(width(), screen.width()), std::min(sizeHint().height(), screen.height()));

  // The first field to fill in has the focus, else the default button.
  for (const DialogItem& item : dialog_.items) {
    if (IsField(item) && item.visible && item.enabled) {
      widgets_[item.number]->setFocus();
      return;
    }
  }
  auto found = buttons_.find(dialog_.default_item);
  if (found != buttons_.end() && found->second->isEnabled()) found->second->setFocus();
}

void ModelDialog::Refresh() {
  refreshing_ = true;
  for (const DialogItem& item : dialog_.items) {
    QWidget* widget = widgets_[item.number];
    if (!widget) continue;
    auto row = rows_.find(item.number);
    QWidget* shown = row != rows_.end() ? row->second : widget;
    shown->setVisible(item.visible);
    widget->setVisible(item.visible);
    widget->setEnabled(item.enabled);
    switch (item.kind) {
      case ItemKind::kStaticText:
      case ItemKind::kTitle:
        if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(Lines(item.text));
        break;
      case ItemKind::kButton:
        static_cast<QPushButton*>(widget)->setText(ButtonText(item.text));
        break;
      case ItemKind::kEditText:
      case ItemKind::kPassword: {
        auto* edit = static_cast<QLineEdit*>(widget);
        if (edit->text() != Q(item.text)) edit->setText(Q(item.text));
        break;
      }
      case ItemKind::kRadio:
      case ItemKind::kCheckBox:
        static_cast<QAbstractButton*>(widget)->setChecked(item.value == 1);
        break;
      case ItemKind::kList: {
        auto* list = static_cast<QListWidget*>(widget);
        QStringList lines;
        for (const std::string& line : item.lines) lines << Lines(line);
        bool same = list->count() == lines.size();
        for (int row = 0; same && row < list->count(); ++row) {
          same = list->item(row)->text() == lines[row];
        }
        if (!same) {
          list->clear();
          list->addItems(lines);
          // A short list is as tall as its rows; a long one shows kListRows and scrolls.
          int rows = std::clamp(static_cast<int>(lines.size()), 3, kListRows);
          int height = std::max(list->sizeHintForRow(0), list->fontMetrics().height()) * rows +
                       2 * list->frameWidth() + 4;
          list->setMinimumHeight(height);
          list->setMaximumHeight(lines.size() > kListRows ? QWIDGETSIZE_MAX : height);
          // As wide as its widest row (within the screen), so that no row is cut and no
          // horizontal scroll bar takes the place of a row.
          int wide = list->sizeHintForColumn(0) + 2 * list->frameWidth() + 8 +
                     (lines.size() > kListRows ? list->verticalScrollBar()->sizeHint().width() : 0);
          list->setMinimumWidth(
              std::min(wide, static_cast<int>(AvailableScreen(list).width() * kScreenShare * 0.8)));
        }
        for (int row = 0; row < list->count(); ++row) {
          bool selected = std::count(item.selected.begin(), item.selected.end(), row) > 0;
          list->item(row)->setSelected(selected);
          if (selected && !item.multiple) list->setCurrentRow(row, QItemSelectionModel::NoUpdate);
        }
        break;
      }
      case ItemKind::kPicture:
        break;
    }
  }
  // Exclusive groups refuse to have no radio button checked; the model may want that.
  for (QButtonGroup* group : groups_) {
    bool any = std::any_of(group->buttons().begin(), group->buttons().end(),
                           [](QAbstractButton* b) { return b->isChecked(); });
    group->setExclusive(any);
  }
  refreshing_ = false;
}

// The status box: three lines, a progress bar and Stop.
class StatusWindow : public QWidget {
 public:
  explicit StatusWindow(bool& stop) : QWidget(nullptr, Qt::Window), stop_(stop) {
    setObjectName(QStringLiteral("status"));
    auto* layout = new QVBoxLayout(this);
    title_ = new QLabel(this);
    QFont font = title_->font();
    font.setBold(true);
    title_->setFont(font);
    text_ = new QLabel(this);
    detail_ = new QLabel(this);
    for (QLabel* label : {title_, text_, detail_}) {
      label->setTextFormat(Qt::PlainText);
      label->setWordWrap(true);
      layout->addWidget(label);
    }
    auto* row = new QHBoxLayout;
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("status-progress"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    stop_button_ = new QPushButton(ButtonText(base::Localize("MSG_Button_Stop")), this);
    stop_button_->setObjectName(QStringLiteral("status-stop"));
    connect(stop_button_, &QPushButton::clicked, this, [this] { stop_ = true; });
    row->addWidget(progress_, 1);
    row->addWidget(stop_button_);
    layout->addLayout(row);
    setMinimumWidth(fontMetrics().averageCharWidth() * 56);
  }

  void Show(const StatusView& view) {
    setWindowTitle(Lines(view.title));
    stop_button_->setText(ButtonText(base::Localize("MSG_Button_Stop")));
    title_->setText(Lines(view.title));
    text_->setText(Lines(view.text));
    text_->setVisible(!view.text.empty());
    // The detail (a file's path) stays on one line, cut in the middle.
    QString detail = Lines(view.detail);
    detail_->setText(
        detail_->fontMetrics().elidedText(detail, Qt::ElideMiddle, std::max(width() - 24, 200)));
    detail_->setVisible(!view.detail.empty());
    // Copies and downloads show the bar, and only they look for Stop.
    bool bar = view.progress >= 0;
    progress_->setVisible(bar);
    stop_button_->setVisible(bar);
    if (bar) progress_->setValue(static_cast<int>(std::clamp(view.progress, 0.0, 1.0) * 1000));
    if (!isVisible()) {
      adjustSize();
      show();
    }
  }

 protected:
  // The close box asks to stop, as Stop does; the box goes when the work is done.
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    if (progress_->isVisible()) stop_ = true;
  }

 private:
  bool& stop_;
  QLabel* title_;
  QLabel* text_;
  QLabel* detail_;
  QProgressBar* progress_;
  QPushButton* stop_button_;
};

// The Records strip: one line.
class StripWindow : public QWidget {
 public:
  StripWindow() : QWidget(nullptr, Qt::Tool) {
    setObjectName(QStringLiteral("strip"));
    auto* layout = new QHBoxLayout(this);
    line_ = new QLabel(this);
    line_->setObjectName(QStringLiteral("strip-text"));
    line_->setTextFormat(Qt::PlainText);
    layout->addWidget(line_);
    setMinimumWidth(fontMetrics().averageCharWidth() * 56);
  }
  void Show(const StatusView& view) {
    setWindowTitle(Lines(view.title));
    line_->setText(Lines(StripText(view)).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    if (!isVisible()) {
      adjustSize();
      QRect screen = AvailableScreen(this);
      move(screen.left() + (screen.width() - width()) / 2, screen.bottom() - height() - 40);
      show();
    }
  }

 protected:
  void closeEvent(QCloseEvent* event) override { event->ignore(); }

 private:
  QLabel* line_;
};

}  // namespace

struct QtBackend::Impl {
  bool latched = false;  // Control at the click that answered the last dialog
  bool stop = false;     // Stop clicked and not yet asked about
  bool busy = false;
  bool close_first_dialog = qEnvironmentVariableIsSet("NUVEL_TEST_CLOSE_FIRST_DIALOG");
  std::unique_ptr<StatusWindow> status;
  std::unique_ptr<StripWindow> strip;
};

bool IsRightToLeftLanguage(const std::string& code) { return code == "ARB" || code == "HEB"; }

QtBackend::QtBackend() : impl_(std::make_unique<Impl>()) {}
QtBackend::~QtBackend() {
  // Finish() closes the windows. A back end still holding some is being destroyed at exit, after
  // Qt's own globals may be gone: destroying a window then would crash, so they are left to the
  // end of the process.
  (void)impl_->status.release();
  (void)impl_->strip.release();
}

int QtBackend::ModalDialog(Dialog& dialog) {
  ApplyLayoutDirection();
  ModelDialog window(dialog, impl_->latched);
  window.Build();
  if (impl_->close_first_dialog) {
    // The start-up benchmark's seam: the first dialog closes once it is drawn (the drawing is
    // posted by show(), ahead of this timer).
    impl_->close_first_dialog = false;
    QTimer::singleShot(0, &window, [&window] { window.close(); });
  }
  window.exec();
  return window.answer() ? window.answer() : kCloseBox;
}

std::string QtBackend::ChooseFolder(const std::string& /*id*/, const std::string& prompt,
                                    const std::string& start) {
  ApplyLayoutDirection();
  // Qt's own dialog, the same on every desktop and in the tests.
  QFileDialog chooser(nullptr, Lines(prompt), Q(start));
  chooser.setObjectName(QStringLiteral("folder"));
  chooser.setFileMode(QFileDialog::Directory);
  chooser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return "";
  QString folder = QDir::cleanPath(QDir(chooser.selectedFiles().front()).absolutePath());
  return folder.toStdString();
}

void QtBackend::ShowStatus(const StatusView& view) {
  ApplyLayoutDirection();
  if (!impl_->status) impl_->status = std::make_unique<StatusWindow>(impl_->stop);
  impl_->status->Show(view);
}

void QtBackend::HideStatus() {
  if (impl_->status) impl_->status->hide();
  // A Stop nobody asked about belonged to the work that has ended.
  impl_->stop = false;
}

void QtBackend::ShowStrip(const StatusView& view) {
  ApplyLayoutDirection();
  if (!impl_->strip) impl_->strip = std::make_unique<StripWindow>();
  impl_->strip->Show(view);
}

void QtBackend::HideStrip() {
  if (impl_->strip) impl_->strip->hide();
}

void QtBackend::PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); }

bool QtBackend::StopRequested() {
  bool stop = impl_->stop;
  impl_->stop = false;
  return stop;
}

bool QtBackend::ControlKeyLatched() { return impl_->latched || ControlHeld(); }

void QtBackend::Beep() { QApplication::beep(); }

void QtBackend::SetCursor(Cursor cursor) {
  bool busy = cursor == Cursor::kBusy;
  if (busy == impl_->busy) return;
  impl_->busy = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void QtBackend::Finish() {
  impl_->status.reset();
  impl_->strip.reset();
  if (impl_->busy) SetCursor(Cursor::kArrow);
}

std::unique_ptr<Backend> MakeQtBackend(std::string* error) {
  if (!QApplication::instance()) {
    // A platform plugin named outright ("offscreen" in tests) needs no display.
    if (!platform::DisplayAvailable() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
      if (error) *error = "the desktop interface needs a display (DISPLAY or WAYLAND_DISPLAY)";
      return nullptr;
    }
    // The application object lives as long as the process.
    static int argc = 1;
    static char name[] = "nuvel-setup";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nuvel Setup"));
    QApplication::setDesktopFileName(QStringLiteral("nuvel-setup"));
  }
  return std::make_unique<QtBackend>();
}

}  // namespace nuvel::ui
