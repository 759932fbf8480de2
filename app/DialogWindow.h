// What the player dialog needs of its window: the operations on its controls by id,
// the timer, message boxes, data exchange and the system menu. One implementation
// runs over Qt Widgets; tests use a fake.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// windows.h, where it was included first, renames these methods by macro to their
// wide-character forms; the interface keeps its own names.
#undef MessageBox
#undef LoadIcon

namespace tunlet {

// Control identifiers shared by the dialog template and the handlers.
enum ControlId : int {
    kIdOk = 1,
    kIdCancel = 2,        // Close
    kIdSend = 1000,       // Play / Stop
    kIdInfo = 1002,       // summary box
    kIdPath = 1003,       // path field
    kIdProgress = 1004,   // progress bar
    kIdSongSlider = 1007,
    kIdNext = 1008,
    kIdSongLabel = 1009,    // "Song 3 of 5", under the slider's row
    kIdTrackList = 1010,    // the tune's tracks in play order
    kIdAutoAdvance = 1011,  // check box
    kIdTimeLeft = 1012,     // time left on the track playing
    kIdPrevious = 1013,     // the entry before in play order
    kIdOpen = 1015,         // "Open...": the file dialog, as Ctrl+O
    kIdTextBox = 1020,      // the text of a fixed-width box (template 103)
    kIdChoicePrompt = 1021,  // what a choice box asks (template 104)
    kIdChoiceList = 1022,    // its entries
};

// The icon a message box shows.
enum class BoxIcon { Error, Warning };

// What the Open dialog offers: its title and filters (name, patterns), the same in
// every host; patterns match in any case.
inline constexpr char kOpenTitle[] = "Open";
inline constexpr char kOpenFilterName[] = "Tunes, ROMs and playlists";
inline constexpr char kOpenPatterns[] = "*.nsf *.nsfe *.nes *.m3u";

// An icon loaded from the resources (its resource id; 0 for none).
struct IconHandle {
    int resource = 0;
    explicit operator bool() const { return resource != 0; }
};

struct ClientRect {
    int width = 0;
    int height = 0;
};

class DialogWindow {
public:
    virtual ~DialogWindow() = default;

    // Controls by id (UI thread).
    virtual void SetItemText(int id, const std::string& text) = 0;
    virtual void EnableItem(int id, bool enable) = 0;

    // The song slider (UI thread). The slider keeps its position inside its range.
    virtual void SetSliderRange(int min, int max, bool redraw) = 0;
    virtual void SetSliderTicFreq(int freq) = 0;
    virtual void SetSliderPos(int pos, bool redraw) = 0;
    virtual int SliderPos() = 0;

    // The track list, a list box of one-line rows (UI thread). ListSelection is the
    // selected row, -1 for none.
    virtual void SetListRows(int id, const std::vector<std::string>& rows) = 0;
    virtual void SetListRow(int id, int row, const std::string& text) = 0;
    virtual int ListSelection(int id) = 0;
    // Selects the row (-1: none) and scrolls it into view.
    virtual void SetListSelection(int id, int row) = 0;
    // A check box's state (UI thread).
    virtual bool IsChecked(int id) = 0;
    virtual void SetChecked(int id, bool checked) = 0;

    // The progress bar (0..100). Any thread; never waits for the UI thread.
    virtual void SetProgressPos(int pos) = 0;

    // Runs task on the UI thread later, in the order posted. Any thread; never waits.
    // A task still queued when the window goes away is dropped.
    virtual void Post(std::function<void()> task) = 0;

    // Timers delivered to the dialog's OnTimer (UI thread).
    virtual void SetTimer(int id, int periodMs) = 0;
    virtual void KillTimer(int id) = 0;

    // A message box owned by the dialog and centred on it, with its icon and an OK
    // button. An empty caption shows the program's name. Any thread; returns once the
    // box has been dismissed.
    virtual void MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) = 0;
    // A box owned by the dialog showing text in a fixed-width font that can be selected
    // and copied (template 103). UI thread.
    virtual void ShowText(const std::string& caption, const std::string& text) = 0;
    // The system's dialog for opening a file, titled kOpenTitle with kOpenPatterns and
    // all files, starting in folder ("" for its own choice). UI thread. False when
    // nothing was chosen.
    virtual bool ChooseFile(const std::string& folder, std::string& path) = 0;
    // A box owned by the dialog (template 104) that asks `prompt` and offers entries,
    // `current` selected: the entry taken with OK, or -1 for Cancel. UI thread.
    virtual int ChooseEntry(const std::string& caption, const std::string& prompt,
                            const std::vector<std::string>& entries, int current) = 0;

    // The settings kept between runs (the user's configuration, the registry on
    // Windows): "" when unset. A store that cannot be read or written is ignored.
    virtual std::string ReadSetting(const std::string& name) = 0;
    virtual void WriteSetting(const std::string& name, const std::string& value) = 0;

    // What the title says of the cable after the program's name: the cable in use, or
    // what its start is doing while it opens ("" for nothing). UI thread.
    virtual void SetCableText(const std::string& text) { (void)text; }
    // The system's dialog for choosing the USB-Blaster II's firmware (Intel HEX files
    // and all files), starting in folder. UI thread. False when nothing was chosen (a
    // host without the cable chooses nothing).
    virtual bool ChooseFirmware(const std::string& folder, std::string& path) {
        (void)folder;
        (void)path;
        return false;
    }

    // Data exchange of an edit control: save false shows text, save true reads it back.
    virtual void ExchangeText(int id, std::string& text, bool save) = 0;
    // Tab stops of a multi-line edit, in average character widths from its left edge
    // (empty: the control's own). UI thread.
    virtual void SetTabStops(int id, const std::vector<int>& stops) = 0;

    // Window decorations.
    virtual void DragAcceptFiles(bool accept) = 0;
    // Appends the entry to the system menu (command 0: a separator); false if there is
    // none. A checkable entry shows a tick where CheckSystemMenu puts one.
    virtual bool AppendSystemMenu(int command, const std::string& text) = 0;
    virtual void CheckSystemMenu(int command, bool checked) = 0;
    virtual IconHandle LoadIcon(int resource) = 0;
    virtual void SetIcon(IconHandle icon, bool big) = 0;
    virtual bool IsIconic() = 0;
    virtual ClientRect GetClientRect() = 0;
    virtual int SystemIconSize() = 0;
    virtual void DrawIcon(IconHandle icon, int x, int y) = 0;

    // Runs a modal dialog from a template (the About box) and returns its result.
    virtual int RunModal(int templateId) = 0;

    // Keeps the UI thread's messages flowing (progress, message boxes of a worker)
    // until done() is true.
    virtual void PumpUntil(const std::function<bool()>& done) = 0;
};

// The tasks other threads hand to a window's UI thread (its Post): any thread pushes,
// the UI thread runs what has been pushed. Ordered by our own lock, which
// ThreadSanitizer can see.
class PostedTasks {
public:
    void Push(std::function<void()> task) {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    // UI thread: runs every task pushed so far, outside the lock.
    void RunAll() {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(mutex_);
            tasks.swap(tasks_);
        }
        for (auto& task : tasks) task();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

// From a thread other than the UI thread: runs task on the UI thread through Post
// and returns once it has run (a worker's message box waits so until dismissed). The
// handover is ordered by our own lock, which ThreadSanitizer can see.
void RunOnUiThreadAndWait(DialogWindow& window, std::function<void()> task);

}  // namespace tunlet
