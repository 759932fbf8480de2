#include "hosts/qt/QtPlayerWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QEventLoop>
#include <QShortcut>
#include <QLineEdit>
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
    connect(static_cast<QPushButton*>(Control(kIdOpen)), &QPushButton::clicked, this, [this] { dlg_.OnOpen(); });
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

void QtPlayerWindow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter_ = &painter;
    const bool drawn = dlg_.OnPaint();
    painter_ = nullptr;
    if (!drawn) QtTemplateDialog::paintEvent(event);
}

}  // namespace tunlet
