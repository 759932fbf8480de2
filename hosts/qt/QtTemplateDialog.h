// A Qt dialog built from one of the resource templates: the controls at their places
// in dialog units, converted through the dialog font's metrics.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <map>

#include "res/DialogTemplates.h"

namespace tunlet {

// The application icon (resource 128) in its two sizes.
QIcon AppIcon();

// The dialog font: a Japanese gothic face when one is installed, else the default.
QFont DialogFont(int pointSize);

class QtTemplateDialog : public QDialog {
public:
    QtTemplateDialog(const res::DialogTemplate& dialogTemplate, QWidget* parent = nullptr);

    // The control with this id (null if the template has none).
    QWidget* Control(int id) const;
    // Dialog units to pixels.
    QRect ToPixels(int x, int y, int cx, int cy) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* MakeControl(const res::ControlTemplate& c);

    std::map<int, QWidget*> controls_;
    int baseX_ = 8;  // average character width in pixels
    int baseY_ = 16; // character height in pixels
};

}  // namespace tunlet
