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

#include <condition_variable>
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

bool QtPlayerWindow::IsChecked(int id) {
    auto* box = qobject_cast<QAbstractButton*>(Control(id));
    return box != nullptr && box->isChecked();
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
    // In dialog units, as the template: below the bottom row, as wide as the summary.
    const int top = res::FindDialogTemplate(res::kIddPlayerDialog)->cy;
    constexpr int kHeight = 100;
    const int bottom = top + kHeight + 3;
    boardPanel_ = new QPlainTextEdit(this);
    boardPanel_->setReadOnly(true);
    boardPanel_->setPlaceholderText(QStringLiteral("What the virtual board receives shows here after Play."));
    boardPanel_->setGeometry(ToPixels(3, top, 179, kHeight));
    setFixedSize(width(), ToPixels(0, 0, 0, bottom).height());
    boardPanel_->show();
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

void QtPlayerWindow::ShowBox(const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, this);
    box.exec();
}

void QtPlayerWindow::MessageBox(const std::string& text, const std::string& caption) {
    if (QThread::currentThread() == thread()) {
        ShowBox(DisplayText(text), caption.empty() ? QCoreApplication::applicationName() : DisplayText(caption));
    } else {
        // The worker waits here until the box on the UI thread has been dismissed.
        RunOnUiThreadAndWait(*this, [this, text, caption] { MessageBox(text, caption); });
    }
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

void QtPlayerWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (menu_.empty()) return;
    QMenu menu(this);
    for (const auto& [command, text] : menu_) {
        menu.addSeparator();
        QAction* action = menu.addAction(text);
        const unsigned id = static_cast<unsigned>(command);
        connect(action, &QAction::triggered, this, [this, id] { dlg_.OnSysCommand(id); });
    }
    menu.exec(event->globalPos());
}

void QtPlayerWindow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter_ = &painter;
    const bool drawn = dlg_.OnPaint();
    painter_ = nullptr;
    if (!drawn) QtTemplateDialog::paintEvent(event);
}

}  // namespace tunlet
