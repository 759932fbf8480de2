#include "app/Album.h"

#include <utility>

#include "media/TextFormat.h"

namespace tunlet {

void Album::Load(std::vector<PlaylistEntry> entries, bool playOrder) {
    entries_ = std::move(entries);
    playOrder_ = playOrder && !entries_.empty();
    playing_ = -1;
    last_ = -1;
}

int Album::Current(int song) const {
    for (const int kept : {playing_, last_}) {
        if (Valid(kept) && entries_[static_cast<std::size_t>(kept)].song == song) return kept;
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].song == song) return static_cast<int>(i);
    }
    return -1;
}

int Album::NextEntry(int song) const {
    if (entries_.empty()) return -1;
    const int at = Current(song);
    return at < 0 || static_cast<std::size_t>(at) + 1 == entries_.size() ? 0 : at + 1;
}

int Album::PreviousEntry(int song) const {
    if (entries_.empty()) return -1;
    const int at = Current(song);
    return at <= 0 ? static_cast<int>(entries_.size()) - 1 : at - 1;
}

void Album::Start(int index, std::int64_t now) {
    playing_ = Valid(index) ? index : -1;
    last_ = playing_;
    start_ = now;
}

int Album::End() { return std::exchange(playing_, -1); }

std::int64_t Album::Left(std::int64_t now) const {
    if (!Valid(playing_)) return 0;
    return start_ + entries_[static_cast<std::size_t>(playing_)].TotalMs() - now;
}

int Album::AdvanceEntry() const {
    for (std::size_t i = static_cast<std::size_t>(playing_ + 1); i < entries_.size(); ++i) {
        if (!entries_[i].fEffect) return static_cast<int>(i);
    }
    return -1;
}

std::string Album::RowText(const PlaylistEntry& e, bool playing) {
    std::string row = playing ? "> " : "  ";
    const std::string title = e.title.empty() ? "Song " + std::to_string(e.song) : e.title;
    AppendFormat(row, "%2d  %s  %s", e.song, title.c_str(), FormatDuration(e.PlayMs()).c_str());
    if (e.fEffect) row += "  (sound effect)";
    return row;
}

std::string Album::Row(int index) const {
    return Valid(index) ? RowText(entries_[static_cast<std::size_t>(index)], index == playing_) : "";
}

std::vector<std::string> Album::Rows() const {
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < entries_.size(); ++i) rows.push_back(Row(static_cast<int>(i)));
    return rows;
}

std::string Album::SongLabel(int song, int songs, const std::string& title) {
    if (songs < 1) return "";
    std::string label;
    AppendFormat(label, "Song %d of %d", song, songs);
    if (!title.empty()) label += ": " + title;
    return label;
}

std::string Album::SongLabel(int song, int songs) const {
    for (const PlaylistEntry& e : entries_) {
        if (e.song == song && !e.title.empty()) return SongLabel(song, songs, e.title);
    }
    return SongLabel(song, songs, "");
}

std::string Album::TimeLeftText(std::int64_t now) const {
    if (!Valid(playing_)) return "";
    return FormatDuration(Left(now) + 999) + " left";
}

}  // namespace tunlet
