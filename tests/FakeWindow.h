// A window for the dialog logic that records what the dialog does to it. Message
// boxes from other threads wait, as they would on a real UI thread, until the test's
// "UI thread" pumps. A box runs the window's timers that are due while it is up, as
// a real box's message loop does.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <stdexcept>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/DialogWindow.h"

namespace tunlet::test {

class FakeWindow : public DialogWindow {
public:
    struct Item {
        std::string text;
        bool enabled = true;
    };
    // A box's first line and the reason below it ("" for a box of one line).
    struct Box {
        std::string text;
        std::string caption;
        bool fromUiThread = true;
        BoxIcon icon = BoxIcon::Error;
        std::string reason;
    };
    static Box MakeBox(const std::string& text, const std::string& caption, bool ui, BoxIcon icon) {
        const std::size_t end = text.find('\n');
        if (end == std::string::npos) return {text, caption, ui, icon, ""};
        return {text.substr(0, end), caption, ui, icon, text.substr(end + 1)};
    }

    // Everything below is read by the test on the UI thread.
    std::map<int, Item> items;
    int sliderMin = 0, sliderMax = 100, sliderPos = 0, ticFreq = 0;
    std::set<int> timers;
    std::map<int, std::string> edits;
    std::map<int, std::vector<int>> tabStops;
    bool dragAccepted = false;
    std::vector<std::pair<int, std::string>> systemMenu;
    bool hasSystemMenu = true;
    std::vector<bool> iconsSet;  // big, small
    int modalRuns = 0;
    bool iconic = false;
    std::vector<std::pair<int, int>> iconDraws;

    FakeWindow() : ui_(std::this_thread::get_id()) {
        for (int id : {kIdCancel, kIdSend, kIdInfo, kIdPath, kIdProgress, kIdSongSlider, kIdNext, kIdSongLabel,
                       kIdTrackList, kIdAutoAdvance, kIdTimeLeft, kIdPrevious})
            items[id] = {};
        items[kIdSend].text = "Send";
    }

    void SetItemText(int id, const std::string& text) override { items.at(id).text = text; }
    void EnableItem(int id, bool enable) override { items.at(id).enabled = enable; }
    void SetSliderRange(int min, int max, bool) override {
        sliderMin = min;
        sliderMax = max < min ? min : max;  // a range whose top is below its bottom holds one position
        SetSliderPos(sliderPos, false);
    }
    void SetSliderTicFreq(int freq) override { ticFreq = freq; }
    void SetSliderPos(int pos, bool) override { sliderPos = pos < sliderMin ? sliderMin : pos > sliderMax ? sliderMax : pos; }
    int SliderPos() override { return sliderPos; }

    std::vector<std::string> rows;  // the track list
    int selection = -1;
    std::set<int> checked;
    void SetListRows(int, const std::vector<std::string>& r) override {
        rows = r;
        selection = -1;
    }
    void SetListRow(int, int row, const std::string& text) override { rows.at(static_cast<std::size_t>(row)) = text; }
    int ListSelection(int) override { return selection; }
    void SetListSelection(int, int row) override { selection = row; }
    bool IsChecked(int id) override { return checked.count(id) != 0; }
    void SetChecked(int id, bool on) override {
        if (on) {
            checked.insert(id);
        } else {
            checked.erase(id);
        }
    }

    void SetProgressPos(int pos) override {
        {
            std::lock_guard lock(mutex_);
            progress_.push_back(pos);
        }
    }
    // Queued until the test's "UI thread" pumps, as a real window would.
    void Post(std::function<void()> task) override {
        if (onWorkerProgress && std::this_thread::get_id() != ui_) onWorkerProgress();
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        changed_.notify_all();
    }
    // Runs on the worker's thread at each of its posts (set before any worker starts).
    std::function<void()> onWorkerProgress;
    std::vector<int> Progress() const {
        std::lock_guard lock(mutex_);
        return progress_;
    }
    int ProgressPos() const {
        std::lock_guard lock(mutex_);
        return progress_.empty() ? 0 : progress_.back();
    }
    void ClearProgress() {
        std::lock_guard lock(mutex_);
        progress_.clear();
    }

    void SetTimer(int id, int) override { timers.insert(id); }
    void KillTimer(int id) override { timers.erase(id); }

    // The dialog's OnTimer, which a box's message loop calls with each due timer.
    std::function<void(int)> onTimer;
    int boxDepth = 0;     // boxes up now, one inside the other
    int maxBoxDepth = 0;  // the most that were ever up at once

    void MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override {
        if (std::this_thread::get_id() == ui_) {
            {
                std::lock_guard lock(mutex_);
                boxes_.push_back(MakeBox(text, caption, true, icon));
            }
            RunTimersInBox();
            return;
        }
        std::unique_lock lock(mutex_);
        // Hand the box to the UI thread and wait until it has been dismissed there.
        const std::size_t ticket = ++queued_;
        pending_.push_back(MakeBox(text, caption, false, icon));
        changed_.notify_all();
        changed_.wait(lock, [&] { return dismissed_ >= ticket; });
    }
    std::vector<Box> Boxes() const {
        std::lock_guard lock(mutex_);
        return boxes_;
    }
    // Waits (UI thread) until a worker's message box is waiting; false after the watchdog time.
    bool WaitForPendingBox() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return !pending_.empty(); });
    }
    // Runs the posted tasks, then shows and dismisses every waiting box.
    void Pump() {
        std::unique_lock lock(mutex_);
        while (!tasks_.empty()) {
            std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
        while (!pending_.empty()) {
            boxes_.push_back(pending_.front());
            pending_.pop_front();
            lock.unlock();
            RunTimersInBox();
            lock.lock();
            ++dismissed_;
        }
        changed_.notify_all();
    }

    std::vector<std::pair<std::string, std::string>> texts;  // fixed-width boxes: caption, text
    void ShowText(const std::string& caption, const std::string& text) override {
        texts.emplace_back(caption, text);
        RunTimersInBox();
    }
    // What the Open dialog answers (nothing chosen when empty), and the folders it started in.
    std::string fileToChoose;
    std::vector<std::string> openFolders;
    bool ChooseFile(const std::string& folder, std::string& path) override {
        openFolders.push_back(folder);
        RunTimersInBox();
        path = fileToChoose;
        return !path.empty();
    }
    // What a choice box answers (-1: Cancel), and the entries each one offered.
    int entryToChoose = -1;
    std::vector<std::vector<std::string>> choices;
    int ChooseEntry(const std::string&, const std::string&, const std::vector<std::string>& entries, int) override {
        choices.push_back(entries);
        RunTimersInBox();
        return entryToChoose;
    }
    // What the firmware dialog answers (nothing chosen when empty), and the folders it started in.
    std::string firmwareToChoose;
    std::vector<std::string> firmwareFolders;
    bool ChooseFirmware(const std::string& folder, std::string& path) override {
        firmwareFolders.push_back(folder);
        path = firmwareToChoose;
        return !path.empty();
    }
    std::vector<std::string> cableTexts;  // what the title said of the cable, in order
    void SetCableText(const std::string& text) override { cableTexts.push_back(text); }
    std::map<std::string, std::string> settings;
    std::string ReadSetting(const std::string& name) override { return settings.count(name) ? settings[name] : ""; }
    void WriteSetting(const std::string& name, const std::string& value) override { settings[name] = value; }

    void ExchangeText(int id, std::string& text, bool save) override {
        if (save) {
            text = edits[id];
        } else {
            edits[id] = text;
        }
    }
    void SetTabStops(int id, const std::vector<int>& stops) override { tabStops[id] = stops; }
    void DragAcceptFiles(bool accept) override { dragAccepted = accept; }
    bool AppendSystemMenu(int command, const std::string& text) override {
        if (!hasSystemMenu) return false;
        systemMenu.emplace_back(command, text);
        return true;
    }
    std::set<int> menuTicks;
    void CheckSystemMenu(int command, bool on) override {
        if (on) {
            menuTicks.insert(command);
        } else {
            menuTicks.erase(command);
        }
    }
    IconHandle LoadIcon(int resource) override { return IconHandle{resource}; }
    void SetIcon(IconHandle, bool big) override { iconsSet.push_back(big); }
    bool IsIconic() override { return iconic; }
    ClientRect GetClientRect() override { return {301, 400}; }
    int SystemIconSize() override { return 32; }
    void DrawIcon(IconHandle, int x, int y) override { iconDraws.emplace_back(x, y); }
    int RunModal(int templateId) override {
        ++modalRuns;
        RunTimersInBox();
        return templateId == 100 ? 1 : 0;
    }
    void PumpUntil(const std::function<bool()>& done) override {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            Pump();
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(1));
            if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("PumpUntil: worker never ended");
        }
        Pump();
    }

private:
    // Each timer set now fires once while the box is up (boxes inside boxes stop at a
    // depth no window would reach, so a test sees them instead of a stack overflow).
    void RunTimersInBox() {
        ++boxDepth;
        maxBoxDepth = std::max(maxBoxDepth, boxDepth);
        if (onTimer && boxDepth < 8) {
            const std::set<int> due = timers;
            for (const int id : due) {
                if (timers.count(id) != 0) onTimer(id);
            }
        }
        --boxDepth;
    }

    std::thread::id ui_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> progress_;
    std::vector<Box> boxes_;
    std::deque<Box> pending_;
    std::deque<std::function<void()>> tasks_;
    std::size_t queued_ = 0;
    std::size_t dismissed_ = 0;
};

}  // namespace tunlet::test
