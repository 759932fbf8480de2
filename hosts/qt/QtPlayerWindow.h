// The player dialog's window on Qt Widgets: template 102, with the dialog logic's
// handlers wired to its buttons, drops, timer, context menu and painting.
#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/PlayerDlg.h"
#include "app/DialogWindow.h"
#include "hosts/qt/QtTemplateDialog.h"

class QPainter;
class QSocketNotifier;
class QPlainTextEdit;
class QMenu;

namespace tunlet {

class QtPlayerWindow : public QtTemplateDialog, public DialogWindow {
public:
    explicit QtPlayerWindow(CPlayerDlg& dlg, QWidget* parent = nullptr);

    // DialogWindow
    void SetItemText(int id, const std::string& text) override;
    void EnableItem(int id, bool enable) override;
    void SetSliderRange(int min, int max, bool redraw) override;
    void SetSliderTicFreq(int freq) override;
    void SetSliderPos(int pos, bool redraw) override;
    int SliderPos() override;
    void SetListRows(int id, const std::vector<std::string>& rows) override;
    void SetListRow(int id, int row, const std::string& text) override;
    int ListSelection(int id) override;
    void SetListSelection(int id, int row) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;
    void SetProgressPos(int pos) override;
    void Post(std::function<void()> task) override;
    void SetTimer(int id, int periodMs) override;
    void KillTimer(int id) override;
    void MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override;
    void ShowText(const std::string& caption, const std::string& text) override;
    bool ChooseFile(const std::string& folder, std::string& path) override;
    int ChooseEntry(const std::string& caption, const std::string& prompt, const std::vector<std::string>& entries,
                    int current) override;
    bool ChooseFirmware(const std::string& folder, std::string& path) override;
    void SetCableText(const std::string& text) override;
    std::string ReadSetting(const std::string& name) override;
    void WriteSetting(const std::string& name, const std::string& value) override;
    void ExchangeText(int id, std::string& text, bool save) override;
    void SetTabStops(int id, const std::vector<int>& stops) override;
    void DragAcceptFiles(bool accept) override;
    bool AppendSystemMenu(int command, const std::string& text) override;
    void CheckSystemMenu(int command, bool checked) override;
    IconHandle LoadIcon(int resource) override;
    void SetIcon(IconHandle icon, bool big) override;
    bool IsIconic() override;
    ClientRect GetClientRect() override;
    int SystemIconSize() override;
    void DrawIcon(IconHandle icon, int x, int y) override;
    int RunModal(int templateId) override;
    void PumpUntil(const std::function<bool()>& done) override;

    // The session ends under the window (QtEndSignals): a transfer is stopped as Stop
    // stops it, the boxes up now close as if dismissed, and the window ends.
    void EndSession();

    // A panel under the controls for what a virtual board received (the summary box
    // keeps the file's summary), and its text.
    void AddBoardPanel();
    void SetBoardReport(const std::string& text);

    // The window's size and place as the last run left them (else the middle of the
    // screen), and kept for the next run.
    void RestorePlace();
    void SavePlace();

    // The local paths of a drop, as 8-bit strings (what OnDropFiles gets).
    static std::vector<std::string> LocalPaths(const QList<QUrl>& urls);
    // The window's menu (the context menu, Shift+F10 and the Menu key): its entries
    // in order, command 0 for a separator, and the commands ticked now.
    const std::vector<std::pair<int, QString>>& MenuEntries() const { return menu_; }
    bool MenuTicked(int command) const {
        const auto tick = ticked_.find(command);
        return tick != ticked_.end() && tick->second;
    }
    // Builds the menu as the keys and the right button show it.
    void FillMenu(QMenu& menu);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Enter goes to the dialog, which loads a typed path; it never closes the window.
    void OnEnter() override { dlg_.OnOK(FocusedId()); }

private:
    void ShowBox(const QString& text, const QString& caption, BoxIcon icon);
    void RunPosted();
    void ShowMenuAtFocus();
    // Puts every control where the window's size wants it.
    void Relayout();
    int ScreenRoom() const;
    void FitScreen(int wanted);

    // A file descriptor closed with its owner.
    class Fd {
    public:
        ~Fd() { reset(-1); }
        void reset(int fd);
        int get() const { return fd_; }

    private:
        int fd_ = -1;
    };

    CPlayerDlg& dlg_;
    std::map<int, int> timers_;            // our timer id -> Qt's
    std::map<int, std::string> shown_;     // the bytes last shown in each edit
    std::vector<std::pair<int, QString>> menu_;
    std::map<int, bool> ticked_;  // the entries with a tick, and whether it shows
    QRect panelPlace_;  // the board panel's place at the template's size
    int baseHeight_ = 0;  // the template's height (and the short panel's): the controls' places hold there
    int spare_ = 0;       // how much of it the summary and the list can give up, in pixels
    QPainter* painter_ = nullptr;          // set while paintEvent runs
    // Tasks posted from other threads, and the event counter that wakes the UI thread.
    PostedTasks posted_;
    Fd wake_;
    QSocketNotifier* wakeNotifier_ = nullptr;  // owned by the window
    QPlainTextEdit* boardPanel_ = nullptr;     // owned by the window
};

}  // namespace tunlet
