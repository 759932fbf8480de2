// The album a tune's track list shows: its entries in play order, which one is
// playing, the time left on it, and where Next, Previous and Auto-advance go from
// there. Pure state: the dialog draws what it says and sends what it picks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/Playlist.h"

namespace tunlet {

class Album {
public:
    // A new file: entries in play order (none for a ROM); playOrder when the tune
    // gives an order of its own (NSFe, NSF2 or M3U), so Next and Previous follow it.
    void Load(std::vector<PlaylistEntry> entries, bool playOrder);

    const std::vector<PlaylistEntry>& Entries() const { return entries_; }
    bool HasPlayOrder() const { return playOrder_; }
    // The entry playing, -1 for none.
    int Playing() const { return playing_; }

    // The entry that stands for the song now: the one playing, else the one last
    // started, when it is that song (a song the order holds twice keeps its place);
    // else the song's first entry in play order; -1 when the order leaves it out.
    int Current(int song) const;
    // With a play order: the entry after (before) the current one, wrapping; from a
    // song the order leaves out, the first (last) entry. -1 without entries.
    int NextEntry(int song) const;
    int PreviousEntry(int song) const;

    // The run: the entry started at now (ms), until it ends.
    void Start(int index, std::int64_t now);
    // Ends the run; returns the entry that was playing (-1: none).
    int End();
    // Time left on the entry playing (with its fade); 0 when none plays.
    std::int64_t Left(std::int64_t now) const;
    bool Over(std::int64_t now) const { return playing_ >= 0 && Left(now) <= 0; }
    // The music entry Auto-advance plays after the one playing (the first one when
    // none plays); -1 after the last.
    int AdvanceEntry() const;

    // The texts the list shows: song number, title and time, '>' for the one playing.
    std::string Row(int index) const;
    std::vector<std::string> Rows() const;
    static std::string RowText(const PlaylistEntry& entry, bool playing);
    // "Song 3 of 5: Title" (the title the list gives the song), "" for no songs.
    std::string SongLabel(int song, int songs) const;
    static std::string SongLabel(int song, int songs, const std::string& title);
    // "1:05 left", "" when nothing plays.
    std::string TimeLeftText(std::int64_t now) const;

private:
    bool Valid(int index) const { return index >= 0 && static_cast<std::size_t>(index) < entries_.size(); }

    std::vector<PlaylistEntry> entries_;
    bool playOrder_ = false;
    int playing_ = -1;
    int last_ = -1;  // the entry last started
    std::int64_t start_ = 0;
};

}  // namespace tunlet
