#include "hosts/qt/QtTemplateDialog.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <cstring>

#include "res/Icon.h"
#include "res/Strings.h"

namespace tunlet {

namespace {
constexpr int kIconSize = 32;  // icon 128's large image
}  // namespace

QIcon AppIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap(res::kIcon32));
    icon.addPixmap(QPixmap(res::kIcon16));
    return icon;
}

QFont DialogFont(int pointSize) {
    static const char* const kGothic[] = {"MS Gothic", "ＭＳ ゴシック", "IPAGothic", "IPAexGothic",
                                          "Noto Sans Mono CJK JP", "VL Gothic", "TakaoGothic"};
    QFont font;
    const QStringList families = QFontDatabase::families();
    for (const char* name : kGothic) {
        if (families.contains(QString::fromUtf8(name), Qt::CaseInsensitive)) {
            font = QFont(QString::fromUtf8(name));
            break;
        }
    }
    font.setPointSize(pointSize);
    return font;
}

QSize DialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize(std::max(1, (width / 26 + 1) / 2), std::max(1, metrics.height()));
}

QtTemplateDialog::QtTemplateDialog(const res::DialogTemplate& t, QWidget* parent) : QDialog(parent) {
    const QFont font = DialogFont(t.pointSize);
    setFont(font);
    const QSize base = DialogBaseUnits(font);
    baseX_ = base.width();
    baseY_ = base.height();

    setWindowTitle(QString::fromUtf8(t.caption));
    if (t.style & res::style::kMinimizeBox) setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    setWindowIcon(AppIcon());
    const QRect size = ToPixels(0, 0, t.cx, t.cy);
    setFixedSize(size.width(), size.height());  // a modal frame: no resizing
    for (const res::ControlTemplate& c : t.controls) {
        QWidget* w = MakeControl(c);
        w->setGeometry(ToPixels(c.x, c.y, c.cx, c.cy));
        if (std::strcmp(c.className, res::kClassStatic) == 0 && (c.style & 0x1F) == res::style::kStaticIcon) {
            // An icon static takes its icon's size from its corner, as Windows' does.
            w->resize(std::max(w->width(), kIconSize), std::max(w->height(), kIconSize));
        }
        w->setFocusPolicy((c.style & res::style::kTabStop) ? Qt::StrongFocus : Qt::NoFocus);
        if (c.id != -1) {
            controls_[c.id] = w;
            places_[c.id] = w->geometry();
        }
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            if (c.id == 1) connect(button, &QPushButton::clicked, this, &QDialog::accept);
            if (c.id == 2) connect(button, &QPushButton::clicked, this, &QDialog::reject);
        }
    }
}

QRect QtTemplateDialog::ToPixels(int x, int y, int cx, int cy) const {
    const auto px = [this](int v) { return (v * baseX_ + 2) / 4; };
    const auto py = [this](int v) { return (v * baseY_ + 4) / 8; };
    return QRect(px(x), py(y), px(cx), py(cy));
}

int QtTemplateDialog::FocusedId() const {
    const QWidget* focus = focusWidget();
    for (const auto& [id, control] : controls_) {
        if (control == focus) return id;
    }
    return 0;
}

QWidget* QtTemplateDialog::Control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

QWidget* QtTemplateDialog::MakeControl(const res::ControlTemplate& c) {
    namespace s = res::style;
    const QString text = QString::fromUtf8(c.text);
    if (std::strcmp(c.className, res::kClassButton) == 0 && (c.style & 0xF) == s::kAutoCheckBox) {
        return new QCheckBox(text, this);
    }
    if (std::strcmp(c.className, res::kClassListBox) == 0) {
        auto* list = new QListWidget(this);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setVerticalScrollBarPolicy((c.style & s::kVScroll) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        return list;
    }
    if (std::strcmp(c.className, res::kClassButton) == 0) {
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(false);
        b->setDefault((c.style & 0xF) == s::kDefPushButton);
        return b;
    }
    if (std::strcmp(c.className, res::kClassEdit) == 0) {
        if (c.style & s::kEditMultiline) {
            auto* e = new QPlainTextEdit(this);
            e->setReadOnly((c.style & s::kEditReadOnly) != 0);
            // Without sideways scrolling long lines wrap at the box's width.
            const bool sideways = (c.style & (s::kEditAutoHScroll | s::kHScroll)) != 0;
            e->setLineWrapMode(sideways ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
            e->setHorizontalScrollBarPolicy((c.style & s::kHScroll) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
            e->setVerticalScrollBarPolicy((c.style & s::kVScroll) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
            e->setPlainText(text);
            return e;
        }
        auto* e = new QLineEdit(text, this);
        if (c.style & s::kEditRight) e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return e;
    }
    if (std::strcmp(c.className, res::kClassProgress) == 0) {
        auto* p = new QProgressBar(this);
        p->setRange(0, 100);
        p->setValue(0);
        p->setTextVisible(false);
        return p;
    }
    if (std::strcmp(c.className, res::kClassTrackbar) == 0) {
        auto* sl = new QSlider(Qt::Horizontal, this);
        sl->setRange(0, 100);
        sl->setTickPosition((c.style & s::kTrackTop) ? QSlider::TicksAbove : QSlider::TicksBelow);
        sl->setTickInterval(1);
        return sl;
    }
    auto* label = new QLabel(this);
    if ((c.style & 0x1F) == s::kStaticIcon) {
        label->setPixmap(AppIcon().pixmap(kIconSize, kIconSize));
    } else {
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
        if ((c.style & 0x1F) == s::kStaticRight) label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    return label;
}

void QtTemplateDialog::keyPressEvent(QKeyEvent* event) {
    // Enter: the focused push button takes it where it is made to (the About box's
    // default OK); otherwise it is the dialog's OK command.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button && button->isEnabled() && (button->isDefault() || button->autoDefault())) {
            button->click();
        } else {
            OnEnter();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace tunlet
