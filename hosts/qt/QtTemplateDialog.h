// A Qt dialog built from one of the resource templates: the controls at their places
// in dialog units, converted through the dialog font's metrics.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QSize>
#include <map>

#include "res/DialogTemplates.h"

namespace tunlet {

// The application icon (resource 128) in its two sizes.
QIcon AppIcon();

// The dialog font: a Japanese gothic face when one is installed, else the default.
QFont DialogFont(int pointSize);

// A font's dialog base units in pixels, as Windows takes them: the average width of
// the letters A-Z and a-z, and the line height. Four horizontal and eight vertical
// dialog units make one base unit.
QSize DialogBaseUnits(const QFont& font);

class QtTemplateDialog : public QDialog {
public:
    QtTemplateDialog(const res::DialogTemplate& dialogTemplate, QWidget* parent = nullptr);

    // The control with this id (null if the template has none).
    QWidget* Control(int id) const;
    // Dialog units to pixels.
    QRect ToPixels(int x, int y, int cx, int cy) const;
    // The id of the control that has the focus, or 0.
    int FocusedId() const;
    // Each control with an id and its place in pixels at the template's size.
    const std::map<int, QRect>& TemplatePlaces() const { return places_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Enter, when no push button with the focus takes it: the dialog's OK command,
    // which ends the dialog (the About box); the main window does its own.
    virtual void OnEnter() { accept(); }

private:
    QWidget* MakeControl(const res::ControlTemplate& c);

    std::map<int, QWidget*> controls_;
    std::map<int, QRect> places_;
    int baseX_ = 8;  // average character width in pixels
    int baseY_ = 16; // character height in pixels
};

}  // namespace tunlet
