// The player window's size and place: the board panel below the controls, the
// controls following the window's size, the screen's room, and the place kept in the
// user's settings from run to run.
#include <QByteArray>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSettings>
#include <QStyle>

#include <algorithm>
#include <limits>

#include "hosts/qt/QtPlayerWindow.h"
#include "hosts/qt/QtText.h"
#include "res/DialogTemplates.h"

namespace tunlet {

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

}  // namespace tunlet
