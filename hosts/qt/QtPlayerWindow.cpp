#include "hosts/qt/QtPlayerWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTextDocument>
#include <QTextOption>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>
#include <QSocketNotifier>
#include <QUrl>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>

#include "hosts/qt/QtText.h"
#include "res/DialogTemplates.h"
#include "res/Strings.h"

namespace tunlet {

QtPlayerWindow::QtPlayerWindow(CPlayerDlg& dlg, QWidget* parent)
    : QtTemplateDialog(*res::FindDialogTemplate(res::kIddPlayerDialog), parent), dlg_(dlg) {
    connect(static_cast<QPushButton*>(Control(kIdSend)), &QPushButton::clicked, this, [this] { dlg_.OnSend(); });
    connect(static_cast<QPushButton*>(Control(kIdNext)), &QPushButton::clicked, this, [this] { dlg_.OnNext(); });
    connect(static_cast<QPushButton*>(Control(kIdPrevious)), &QPushButton::clicked, this, [this] { dlg_.OnPrevious(); });
    // Resizable and maximisable, never below the template's size unless the screen
    // is smaller: then the summary and the track list give up some height.
    setMinimumSize(size());
    baseHeight_ = height();
    spare_ = ToPixels(0, 0, 0, res::kSummarySpare + res::kListSpare).height();
    FitScreen(height());
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);
    connect(new QShortcut(QKeySequence::Open, this), &QShortcut::activated, this, [this] { dlg_.OnOpen(); });
    for (const QKeySequence& key : {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)}) {
        connect(new QShortcut(key, this), &QShortcut::activated, this, [this] { ShowMenuAtFocus(); });
    }
    auto* list = static_cast<QListWidget*>(Control(kIdTrackList));
    connect(list, &QListWidget::itemDoubleClicked, this, [this, list](QListWidgetItem* item) {
        dlg_.OnTrackChosen(list->row(item));
    });
    connect(static_cast<QCheckBox*>(Control(kIdAutoAdvance)), &QCheckBox::clicked, this, [this] { dlg_.OnAutoAdvance(); });
    connect(static_cast<QSlider*>(Control(kIdSongSlider)), &QSlider::valueChanged, this, [this] { dlg_.OnSongSlider(); });
    wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    wakeNotifier_ = new QSocketNotifier(wake_.get(), QSocketNotifier::Read, this);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, [this] { RunPosted(); });
}

void QtPlayerWindow::SetItemText(int id, const std::string& text) {
    QWidget* w = Control(id);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(DisplayText(text));
    if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(DisplayText(text));
    if (auto* l = qobject_cast<QLabel*>(w)) l->setText(DisplayText(text));
}

void QtPlayerWindow::SetListRows(int id, const std::vector<std::string>& rows) {
    auto* list = qobject_cast<QListWidget*>(Control(id));
    if (list == nullptr) return;
    list->clear();
    for (const std::string& row : rows) list->addItem(DisplayText(row));
}

void QtPlayerWindow::SetListRow(int id, int row, const std::string& text) {
    auto* list = qobject_cast<QListWidget*>(Control(id));
    if (list != nullptr && list->item(row) != nullptr) list->item(row)->setText(DisplayText(text));
}

int QtPlayerWindow::ListSelection(int id) {
    auto* list = qobject_cast<QListWidget*>(Control(id));
    return list != nullptr ? list->currentRow() : -1;
}

void QtPlayerWindow::SetListSelection(int id, int row) {
    auto* list = qobject_cast<QListWidget*>(Control(id));
    if (list == nullptr) return;
    list->setCurrentRow(row);
    if (list->item(row) != nullptr) list->scrollToItem(list->item(row));
}

bool QtPlayerWindow::IsChecked(int id) {
    auto* box = qobject_cast<QAbstractButton*>(Control(id));
    return box != nullptr && box->isChecked();
}

void QtPlayerWindow::SetChecked(int id, bool checked) {
    if (auto* box = qobject_cast<QAbstractButton*>(Control(id))) box->setChecked(checked);
}

void QtPlayerWindow::EnableItem(int id, bool enable) {
    if (QWidget* w = Control(id)) w->setEnabled(enable);
}

void QtPlayerWindow::SetSliderRange(int min, int max, bool) {
    static_cast<QSlider*>(Control(kIdSongSlider))->setRange(min, max);  // keeps the position inside
}

void QtPlayerWindow::SetSliderTicFreq(int freq) { static_cast<QSlider*>(Control(kIdSongSlider))->setTickInterval(freq); }

void QtPlayerWindow::SetSliderPos(int pos, bool) { static_cast<QSlider*>(Control(kIdSongSlider))->setValue(pos); }

int QtPlayerWindow::SliderPos() { return static_cast<QSlider*>(Control(kIdSongSlider))->value(); }

void QtPlayerWindow::SetProgressPos(int pos) {
    auto* bar = static_cast<QProgressBar*>(Control(kIdProgress));
    if (QThread::currentThread() == thread()) {
        bar->setValue(pos);
    } else {
        // Posted, never waited for: the UI thread may itself be waiting for the worker.
        Post([bar, pos] { bar->setValue(pos); });
    }
}

// Tasks from other threads go through our own locked queue, and only a counter is
// bumped to wake the UI thread: no Qt object is made or touched off the UI thread,
// and everything handed over is ordered by a lock ThreadSanitizer can see.
void QtPlayerWindow::Post(std::function<void()> task) {
    posted_.Push(std::move(task));
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_.get(), &one, sizeof one);
}

void QtPlayerWindow::AddBoardPanel() {
    if (boardPanel_ != nullptr) return;
    // Below the bottom row, as wide as the summary.
    constexpr int kHeight = res::kBoardPanelHeight;
    boardPanel_ = new QPlainTextEdit(this);
    boardPanel_->setReadOnly(true);
    boardPanel_->setPlaceholderText(QStringLiteral("What the virtual board receives shows here after Play."));
    // At its smallest the panel is short and scrolls. On a small screen (1366 x 768 at
    // 144 DPI) the summary and the list give up height first, then the panel shrinks
    // (down to a sliver), so that the window still fits.
    const int gap = ToPixels(0, 0, 0, res::kBoardPanelGap).height();
    const int least = res::PanelLeastHeight(baseHeight_, gap, ToPixels(0, 0, 0, res::kBoardPanelMinHeight).height(),
                                            spare_, ScreenRoom());
    const int wanted = ToPixels(0, 0, 0, kHeight).height();
    panelPlace_ = QRect(ToPixels(3, 0, 179, 0).x(), baseHeight_ + gap, ToPixels(0, 0, 179, 0).width(), least);
    baseHeight_ += 2 * gap + least;
    boardPanel_->show();
    FitScreen(baseHeight_ - least + std::max(least, wanted));
}

// The height the screen's available area holds for the window, frame included (before
// the window manager has framed it, a title bar's height).
int QtPlayerWindow::ScreenRoom() const {
    const QScreen* screen = this->screen();
    if (screen == nullptr) return std::numeric_limits<int>::max() / 2;
    int frame = frameGeometry().height() - height();
    if (frame == 0 && !testAttribute(Qt::WA_WState_Created)) {
        frame = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    }
    return screen->availableGeometry().height() - frame;
}

// The smallest height is the template's, or what the screen holds (the summary and
// the list shrinking, to a floor); the window opens at wanted, or what the screen holds.
void QtPlayerWindow::FitScreen(int wanted) {
    const int room = ScreenRoom();
    const int least = res::LeastHeight(baseHeight_, spare_, room);
    setMinimumSize(minimumWidth(), least);
    resize(width(), std::max(least, std::min(wanted, room)));
    Relayout();
}

void QtPlayerWindow::SetBoardReport(const std::string& text) {
    if (boardPanel_ != nullptr) boardPanel_->setPlainText(DisplayText(text));
}

void QtPlayerWindow::Fd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

void QtPlayerWindow::RunPosted() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_.get(), &count, sizeof count);
    posted_.RunAll();
}

void QtPlayerWindow::SetTimer(int id, int periodMs) {
    KillTimer(id);
    timers_[id] = startTimer(periodMs);
}

void QtPlayerWindow::KillTimer(int id) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    killTimer(it->second);
    timers_.erase(it);
}

void QtPlayerWindow::timerEvent(QTimerEvent* event) {
    for (const auto& [id, qtId] : timers_) {
        if (qtId == event->timerId()) {
            dlg_.OnTimer(id);
            return;
        }
    }
    QtTemplateDialog::timerEvent(event);
}

void QtPlayerWindow::ShowBox(const QString& text, const QString& caption, BoxIcon icon) {
    QMessageBox box(icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::Critical, caption, text,
                    QMessageBox::Ok, this);
    box.exec();
}

void QtPlayerWindow::MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) {
    if (QThread::currentThread() == thread()) {
        ShowBox(DisplayText(text), DisplayText(caption.empty() ? res::kAppName : caption), icon);
    } else {
        // The worker waits here until the box on the UI thread has been dismissed.
        RunOnUiThreadAndWait(*this, [this, text, caption, icon] { MessageBox(text, caption, icon); });
    }
}

void QtPlayerWindow::ShowText(const std::string& caption, const std::string& text) {
    QtTemplateDialog box(*res::FindDialogTemplate(res::kIddTextBox), this);
    box.setWindowTitle(DisplayText(caption));
    auto* edit = static_cast<QPlainTextEdit*>(box.Control(kIdTextBox));
    edit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    edit->setPlainText(DisplayText(text));
    box.exec();
}

bool QtPlayerWindow::ChooseFile(const std::string& folder, std::string& path) {
    // The patterns in both cases: the file system's own matching may heed case.
    const QString patterns = QString::fromUtf8(kOpenPatterns);
    QFileDialog dialog(this, QString::fromUtf8(kOpenTitle), DisplayText(folder),
                       QString::fromUtf8(kOpenFilterName) + " (" + patterns + " " + patterns.toUpper() +
                           ");;All files (*)");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    path = QFile::encodeName(dialog.selectedFiles().front()).toStdString();
    return true;
}

// The user's configuration folder (~/.config/Tunlet/tunlet.conf); a store that cannot
// be read or written reads as empty and keeps nothing, silently.
std::string QtPlayerWindow::ReadSetting(const std::string& name) {
    const QSettings settings(QStringLiteral("Tunlet"), QStringLiteral("tunlet"));
    return settings.value(QString::fromStdString(name)).toString().toUtf8().toStdString();
}

void QtPlayerWindow::WriteSetting(const std::string& name, const std::string& value) {
    QSettings settings(QStringLiteral("Tunlet"), QStringLiteral("tunlet"));
    settings.setValue(QString::fromStdString(name), QString::fromUtf8(value.c_str()));
}

void QtPlayerWindow::RestorePlace() {
    const QByteArray saved = QByteArray::fromBase64(QByteArray::fromStdString(ReadSetting("Window")));
    if (!saved.isEmpty() && restoreGeometry(saved)) {
        // A size kept from a larger screen (or a smaller scale) shrinks to fit this one
        // (below a title bar's height, before the window is framed).
        const QScreen* screen = this->screen();
        if (isMaximized() || screen == nullptr) return;
        QRect area = screen->availableGeometry();
        area.setTop(area.top() + area.height() - ScreenRoom());
        const res::Rect place = res::FitPlace({x(), y(), width(), height()},
                                              {area.x(), area.y(), area.width(), area.height()}, minimumWidth(),
                                              minimumHeight());
        resize(place.cx, place.cy);
        if (place.x != x() || place.y != y()) move(pos() + QPoint(place.x - x(), place.y - y()));
        return;
    }
    if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
}

void QtPlayerWindow::SavePlace() { WriteSetting("Window", saveGeometry().toBase64().toStdString()); }

void QtPlayerWindow::resizeEvent(QResizeEvent* event) {
    QtTemplateDialog::resizeEvent(event);
    Relayout();
}

void QtPlayerWindow::Relayout() {
    if (baseHeight_ == 0) return;
    const int dx = width() - minimumWidth(), dy = height() - baseHeight_;
    const bool panel = boardPanel_ != nullptr;
    const auto place = [&](int id, const QRect& r) {
        const res::Rect p = res::PlaceControl(id, {r.x(), r.y(), r.width(), r.height()}, dx, dy, panel, spare_);
        return QRect(p.x, p.y, p.cx, p.cy);
    };
    for (const auto& [id, r] : TemplatePlaces()) Control(id)->setGeometry(place(id, r));
    if (panel) boardPanel_->setGeometry(place(res::kIdBoardPanel, panelPlace_));
}

void QtPlayerWindow::ExchangeText(int id, std::string& text, bool save) {
    QWidget* w = Control(id);
    auto* line = qobject_cast<QLineEdit*>(w);
    auto* box = qobject_cast<QPlainTextEdit*>(w);
    if (!save) {
        shown_[id] = text;
        if (line != nullptr) {
            line->setText(DisplayText(text));
            line->setCursorPosition(static_cast<int>(line->text().size()));  // keep the file name in view
        }
        if (box != nullptr) {
            QString shown = DisplayText(text);
            shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            box->setPlainText(shown);
        }
        return;
    }
    // Reading back: unchanged text keeps its original bytes.
    const std::string& before = shown_[id];
    QString now = line != nullptr ? line->text() : box != nullptr ? box->toPlainText() : QString();
    QString was = DisplayText(before);
    if (box != nullptr) was.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text = now == was ? before : now.toUtf8().toStdString();
}

void QtPlayerWindow::SetTabStops(int id, const std::vector<int>& stops) {
    auto* box = qobject_cast<QPlainTextEdit*>(Control(id));
    if (box == nullptr) return;
    // In average character widths, as the template's dialog units count them.
    QList<QTextOption::Tab> tabs;
    for (const int stop : stops) tabs.append(QTextOption::Tab(ToPixels(stop * 4, 0, 0, 0).x(), QTextOption::LeftTab));
    QTextOption option = box->document()->defaultTextOption();
    option.setTabs(tabs);
    box->document()->setDefaultTextOption(option);
}

void QtPlayerWindow::DragAcceptFiles(bool accept) { setAcceptDrops(accept); }

bool QtPlayerWindow::AppendSystemMenu(int command, const std::string& text) {
    // The desktop gives the program no system menu: the entries go to the context menu.
    menu_.emplace_back(command, DisplayText(text));
    return true;
}

void QtPlayerWindow::CheckSystemMenu(int command, bool checked) { ticked_[command] = checked; }

IconHandle QtPlayerWindow::LoadIcon(int resource) { return IconHandle{resource == res::kIdrMainFrame ? resource : 0}; }

void QtPlayerWindow::SetIcon(IconHandle icon, bool) {
    if (icon) setWindowIcon(AppIcon());
}

bool QtPlayerWindow::IsIconic() { return isMinimized(); }

ClientRect QtPlayerWindow::GetClientRect() { return {width(), height()}; }

int QtPlayerWindow::SystemIconSize() { return style()->pixelMetric(QStyle::PM_LargeIconSize); }

void QtPlayerWindow::DrawIcon(IconHandle icon, int x, int y) {
    if (painter_ == nullptr || !icon) return;
    const int size = SystemIconSize();
    painter_->drawPixmap(x, y, AppIcon().pixmap(size, size));
}

int QtPlayerWindow::RunModal(int templateId) {
    const res::DialogTemplate* t = res::FindDialogTemplate(templateId);
    if (t == nullptr) return -1;
    QtTemplateDialog dialog(*t, this);
    return dialog.exec() == QDialog::Accepted ? 1 : 2;
}

void QtPlayerWindow::PumpUntil(const std::function<bool()>& done) {
    if (done()) return;
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(5);
    loop.exec();
}

std::vector<std::string> QtPlayerWindow::LocalPaths(const QList<QUrl>& urls) {
    std::vector<std::string> paths;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    return paths;
}

void QtPlayerWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !LocalPaths(event->mimeData()->urls()).empty()) {
        event->acceptProposedAction();
    }
}

void QtPlayerWindow::dropEvent(QDropEvent* event) {
    const std::vector<std::string> paths = LocalPaths(event->mimeData()->urls());
    if (paths.empty()) return;
    event->acceptProposedAction();
    dlg_.OnDropFiles(paths);
}

void QtPlayerWindow::FillMenu(QMenu& menu) {
    for (const auto& [command, text] : menu_) {
        if (command == 0) {
            menu.addSeparator();
            continue;
        }
        // The shortcut after a tab shows at the right of the entry.
        QAction* action = menu.addAction(text.section(QLatin1Char('\t'), 0, 0));
        if (text.contains(QLatin1Char('\t'))) action->setShortcut(QKeySequence(text.section(QLatin1Char('\t'), 1)));
        action->setShortcutContext(Qt::WidgetShortcut);  // the window's own shortcut acts
        const unsigned id = static_cast<unsigned>(command);
        if (const auto tick = ticked_.find(command); tick != ticked_.end()) {  // an entry with a tick
            action->setCheckable(true);
            action->setChecked(tick->second);
        }
        connect(action, &QAction::triggered, this, [this, id] { dlg_.OnSysCommand(id); });
    }
}

void QtPlayerWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (menu_.empty()) return;
    QMenu menu(this);
    FillMenu(menu);
    menu.exec(event->globalPos());
}

void QtPlayerWindow::ShowMenuAtFocus() {
    if (menu_.empty()) return;
    QWidget* focus = focusWidget() != nullptr ? focusWidget() : this;
    QMenu menu(this);
    FillMenu(menu);
    menu.exec(focus->mapToGlobal(focus->rect().center()));
}

void QtPlayerWindow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter_ = &painter;
    const bool drawn = dlg_.OnPaint();
    painter_ = nullptr;
    if (!drawn) QtTemplateDialog::paintEvent(event);
}

}  // namespace tunlet
