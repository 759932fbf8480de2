// The playlist of a loaded tune: its songs in play order, each with a title, a play
// time, a fade and a sound-effect mark. It comes from the tune's own metadata (NSFe
// and NSF2 chunks tlbl, time, fade, plst, psfx) and from an extended M3U playlist,
// whose lines override the tune's own for the tracks they list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "media/TextCoding.h"

namespace tunlet {

// What players play a track for when nothing gives its time: 2:30, no fade.
constexpr std::int32_t kDefaultPlayMs = 150000;

// No album comes near these. A play order (plst, the entries of an M3U) is cut after
// kMaxPlayOrder entries, and the summary says how many were left out; the per-track
// lists and names of a tune are cut there too, and a title after kMaxTitleBytes.
constexpr std::size_t kMaxPlayOrder = 1024;
constexpr std::size_t kMaxTitleBytes = 1024;

struct PlaylistEntry {
    int song = 1;               // 1-based song number, what header byte 7 gets
    std::string title;          // "" when unknown; UTF-8
    std::int32_t ms = -1;       // play time in milliseconds; negative: unknown
    std::int32_t fadeMs = -1;   // fade in milliseconds; negative: unknown
    bool fEffect = false;       // a sound effect rather than music

    std::int32_t PlayMs() const { return ms < 0 ? kDefaultPlayMs : ms; }
    std::int32_t FadeMs() const { return fadeMs < 0 ? 0 : fadeMs; }
    // How long the track lasts before the next one may start.
    std::int64_t TotalMs() const { return std::int64_t{PlayMs()} + FadeMs(); }
    bool operator==(const PlaylistEntry&) const = default;
};

struct Playlist {
    // What the tune says of each of its songs (song n at index n - 1).
    std::vector<PlaylistEntry> songs;
    // The play order; empty when nothing gives one (the summary then has no tracks).
    std::vector<PlaylistEntry> entries;
    // One line about the M3U playlist used or ignored; "" when there was none.
    std::string note;
    // Entries of the play order the file gives beyond kMaxPlayOrder, left out.
    std::size_t nLeftOut = 0;

    bool empty() const { return entries.empty() && note.empty(); }
    void clear() { *this = Playlist{}; }
};

// The entries to play: the playlist's, or songs 1..count in order when it has none.
std::vector<PlaylistEntry> PlayEntries(const Playlist& playlist, unsigned count);

// Appends the playlist's lines to a tune's summary: the note, then one line per
// entry in play order ("  3 Title 1:05", " (sound effect)" after an effect). A tune
// of several songs (songs is its count) lists them even when nothing names them.
void DescribeTracks(const Playlist& playlist, unsigned songs, std::string& text);

// "m:ss", or "h:mm:ss" from an hour on.
std::string FormatDuration(std::int64_t ms);

// One entry line of an extended M3U playlist: FILE::NSF,TRACK,TITLE,TIME,LOOP,FADE[,REPEAT].
struct M3uEntry {
    std::string file;
    int song = 0;  // 1-based (a $hex track is 0-based in the file)
    std::string title;  // UTF-8
    std::int32_t ms = -1;
    std::int32_t fadeMs = -1;
    bool operator==(const M3uEntry&) const = default;
};

enum class M3uLine {
    Skip,     // blank, or a # comment
    Entry,    // out holds the entry
    Damaged,  // not an entry line that can be read
};

// coding: the playlist file's encoding. Its title comes out in UTF-8; a Shift-JIS
// character whose second byte is 0x5C is part of the character, not a backslash.
M3uLine ParseM3uLine(std::string_view line, M3uEntry& out, TextCoding coding = TextCoding::Utf8);

// "[[h:]m:]s[.fraction]" to milliseconds; -1 for "" and for anything else.
std::int32_t ParseM3uTime(std::string_view text, bool& ok);

// The lines of a whole playlist file (a UTF-8 byte order mark is dropped), in the
// encoding DetectCoding finds for the whole file; titles in UTF-8. At most
// kMaxPlayOrder entries are kept; leftOut counts the entry lines after them.
struct M3uFile {
    std::vector<M3uEntry> entries;
    int damaged = 0;
    std::size_t leftOut = 0;
};
M3uFile ParseM3u(std::string_view text);

// The tune's own playlist merged with the M3U entries meant for it (by its file
// name; when no line names it, every entry is taken as its own). songs is the
// tune's song count. Sets why and returns own unchanged (no note) when the M3U has
// nothing usable for this tune.
Playlist MergeM3u(const Playlist& own, unsigned songs, const M3uFile& m3u, std::string_view tuneName,
                  std::string& why);

// Playlist files next to tunes.
bool IsM3uPath(std::string_view path);
// The M3U beside a tune: same folder and base name, extension .m3u in any case; "" for none.
std::string FindM3uBeside(const std::string& tunePath);
// Reads a playlist file; false and why when it cannot be read (missing, not a
// regular file, too large).
bool ReadM3uFile(const std::string& path, M3uFile& out, std::string& why);
// The tune an M3U names first, as a path: relative to the playlist's folder ("" for none).
std::string FirstTuneOf(const M3uFile& m3u, const std::string& m3uPath);
// The last component of a path (either slash).
std::string_view FileNameOf(std::string_view path);

}  // namespace tunlet
