#include "media/Playlist.h"

#include <algorithm>
#include <climits>

#include "media/StdioFile.h"
#include "media/TextFormat.h"

namespace tunlet {

namespace {

// A playlist is a few kilobytes; anything near this is not one.
constexpr std::int64_t kMaxM3uBytes = 1 << 20;
constexpr std::size_t kMinFields = 2;  // NSF type and track
constexpr std::size_t kMaxFields = 7;  // type, track, title, time, loop, fade, repeat
constexpr int kMaxTrack = 0xFFFF;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool Digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal number of at most 9 digits (no overflow); -1 otherwise.
long Number(std::string_view s) {
    if (!Digits(s) || s.size() > 9) return -1;
    long n = 0;
    for (char c : s) n = n * 10 + (c - '0');
    return n;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The comma-separated fields after "::"; a comma after a backslash stays in its field.
// A Shift-JIS character is skipped whole: its second byte may be 0x5C, the
// backslash (as in "ソ" or "表"), which then escapes nothing. A lead byte pairs only
// with a valid second byte, never with a comma.
std::vector<std::string_view> Fields(std::string_view s, TextCoding coding) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\') {
            if (i + 1 < s.size()) ++i;  // the byte after it is escaped
        } else if (s[i] == ',') {
            fields.push_back(s.substr(start, i - start));
            start = i + 1;
        } else if (coding == TextCoding::ShiftJis) {
            i += CharLengthAt(s, i, coding) - 1;
        }
    }
    fields.push_back(s.substr(start));
    return fields;
}

// The title without its escapes, in UTF-8, at most kMaxTitleBytes of it.
std::string Title(std::string_view s, TextCoding coding) {
    std::string bytes;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const std::size_t n = coding == TextCoding::ShiftJis ? CharLengthAt(s, i, coding) : 1;
        if (n == 1 && s[i] == '\\' && i + 1 < s.size() && s[i + 1] == ',') ++i;
        bytes.append(s.substr(i, n));
        i += n - 1;
    }
    const std::string title = ToUtf8(bytes, coding);
    return title.substr(0, CharBoundary(title, kMaxTitleBytes, TextCoding::Utf8));
}

// The track field: decimal counted from 1, or $hex counted from 0. 0 when damaged.
int Track(std::string_view s) {
    if (!s.empty() && s.front() == '$') {
        s.remove_prefix(1);
        if (s.empty() || s.size() > 4) return 0;
        int n = 0;
        for (char c : s) {
            const int d = HexDigit(c);
            if (d < 0) return 0;
            n = n * 16 + d;
        }
        return n + 1;
    }
    const long n = Number(s);
    return n >= 1 && n <= kMaxTrack ? static_cast<int>(n) : 0;
}

}  // namespace

std::vector<PlaylistEntry> PlayEntries(const Playlist& playlist, unsigned count) {
    if (!playlist.entries.empty()) return playlist.entries;
    std::vector<PlaylistEntry> entries;
    for (unsigned i = 0; i < count; ++i) {
        PlaylistEntry e = i < playlist.songs.size() ? playlist.songs[i] : PlaylistEntry{};
        e.song = static_cast<int>(i + 1);
        entries.push_back(std::move(e));
    }
    return entries;
}

std::string FormatDuration(std::int64_t ms) {
    const std::int64_t seconds = std::max<std::int64_t>(0, ms) / 1000;
    std::string s;
    if (seconds >= 3600) {
        AppendFormat(s, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                     static_cast<int>(seconds % 60));
    } else {
        AppendFormat(s, "%d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
    }
    return s;
}

void DescribeTracks(const Playlist& playlist, unsigned songs, std::string& text) {
    if (!playlist.note.empty()) text += "\n\n" + playlist.note;
    const std::vector<PlaylistEntry> plain =
        playlist.entries.empty() && songs > 1 ? PlayEntries(playlist, songs) : std::vector<PlaylistEntry>{};
    const std::vector<PlaylistEntry>& entries = playlist.entries.empty() ? plain : playlist.entries;
    if (entries.empty()) return;
    text += playlist.note.empty() ? "\n\nTracks:" : "\nTracks:";
    for (const PlaylistEntry& e : entries) {
        AppendFormat(text, "\n%3d %s %s", e.song, e.title.c_str(), FormatDuration(e.PlayMs()).c_str());
        if (e.fEffect) text += " (sound effect)";
    }
    if (playlist.nLeftOut > 0) {
        text += "\n(the play order is cut at " + std::to_string(kMaxPlayOrder) + " entries: " +
                std::to_string(playlist.nLeftOut) + " more left out)";
    }
}

std::int32_t ParseM3uTime(std::string_view text, bool& ok) {
    ok = true;
    text = Trim(text);
    if (text.empty()) return -1;
    ok = false;
    std::string_view whole = text;
    std::string_view fraction;
    if (const std::size_t dot = text.find('.'); dot != std::string_view::npos) {
        whole = text.substr(0, dot);
        fraction = text.substr(dot + 1);
        if (!Digits(fraction)) return -1;
    }
    // Up to three parts: hours, minutes, seconds, the last one always seconds.
    long parts[3] = {0, 0, 0};
    int count = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = whole.find(':', start);
        const std::string_view part = whole.substr(start, colon == std::string_view::npos ? whole.npos : colon - start);
        if (count == 3) return -1;
        const long n = Number(part);
        if (n < 0) return -1;
        parts[count++] = n;
        if (colon == std::string_view::npos) break;
        start = colon + 1;
    }
    long long ms = 0;
    for (int i = 0; i < count; ++i) ms = ms * 60 + parts[i];
    ms *= 1000;
    // The fraction's first three digits are milliseconds: ".5" is 500.
    long long scale = 100;
    for (std::size_t i = 0; i < fraction.size() && i < 3; ++i, scale /= 10) ms += (fraction[i] - '0') * scale;
    if (ms > INT32_MAX) return -1;
    ok = true;
    return static_cast<std::int32_t>(ms);
}

M3uLine ParseM3uLine(std::string_view line, M3uEntry& out, TextCoding coding) {
    line = Trim(line);
    if (line.empty() || line.front() == '#') return M3uLine::Skip;
    const std::size_t sep = line.find("::");
    if (sep == std::string_view::npos || sep == 0) return M3uLine::Damaged;
    const std::vector<std::string_view> fields = Fields(line.substr(sep + 2), coding);
    if (fields.size() < kMinFields || fields.size() > kMaxFields) return M3uLine::Damaged;
    const std::string_view type = Trim(fields[0]);
    // A track of another kind of file (GBS, SPC ...) is not for an NSF tune.
    if (!SameIgnoringCase(type, "NSF") && !SameIgnoringCase(type, "NSFE")) return M3uLine::Skip;
    M3uEntry e;
    e.file = std::string(Trim(line.substr(0, sep)));
    e.song = Track(Trim(fields[1]));
    if (e.song == 0) return M3uLine::Damaged;
    if (fields.size() > 2) e.title = Title(Trim(fields[2]), coding);
    bool ok = true;
    if (fields.size() > 3) e.ms = ParseM3uTime(fields[3], ok);
    if (!ok) return M3uLine::Damaged;
    if (fields.size() > 5) e.fadeMs = ParseM3uTime(fields[5], ok);
    if (!ok) return M3uLine::Damaged;
    out = std::move(e);
    return M3uLine::Entry;
}

M3uFile ParseM3u(std::string_view text) {
    M3uFile file;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    const TextCoding coding = DetectCoding(text);
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        M3uEntry e;
        switch (ParseM3uLine(line, e, coding)) {
            case M3uLine::Entry:
                if (file.entries.size() < kMaxPlayOrder) {
                    file.entries.push_back(std::move(e));
                } else {
                    ++file.leftOut;
                }
                break;
            case M3uLine::Damaged:
                ++file.damaged;
                break;
            case M3uLine::Skip:
                break;
        }
    }
    return file;
}

std::string_view FileNameOf(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

Playlist MergeM3u(const Playlist& own, unsigned songs, const M3uFile& m3u, std::string_view tuneName,
                  std::string& why) {
    why.clear();
    const auto names = [&](const M3uEntry& e) { return SameIgnoringCase(FileNameOf(e.file), tuneName); };
    // When no line names the tune, it was renamed after its playlist was made.
    const bool anyNamed = std::any_of(m3u.entries.begin(), m3u.entries.end(), names);
    Playlist merged = own;
    merged.entries.clear();
    merged.nLeftOut = m3u.leftOut;
    for (const M3uEntry& e : m3u.entries) {
        if (anyNamed && !names(e)) continue;
        if (e.song < 1 || static_cast<unsigned>(e.song) > songs) continue;
        const std::size_t index = static_cast<std::size_t>(e.song - 1);
        PlaylistEntry entry = index < own.songs.size() ? own.songs[index] : PlaylistEntry{};
        entry.song = e.song;
        if (!e.title.empty()) entry.title = e.title;
        if (e.ms >= 0) entry.ms = e.ms;
        if (e.fadeMs >= 0) entry.fadeMs = e.fadeMs;
        merged.entries.push_back(std::move(entry));
    }
    if (!merged.entries.empty()) return merged;
    if (m3u.entries.empty()) {
        why = m3u.damaged > 0 ? "none of its lines can be read" : "it has no entries";
    } else {
        why = "none of its tracks is in this tune";
    }
    return own;
}

bool IsM3uPath(std::string_view path) {
    const std::string_view name = FileNameOf(path);
    return name.size() > 4 && SameIgnoringCase(name.substr(name.size() - 4), ".m3u");
}

std::string FindM3uBeside(const std::string& tunePath) {
    const std::size_t nameAt = tunePath.size() - FileNameOf(tunePath).size();
    const std::size_t dot = tunePath.find_last_of('.');
    const std::string base = dot == std::string::npos || dot < nameAt ? tunePath : tunePath.substr(0, dot);
    for (const char* ext : {".m3u", ".M3U", ".m3U", ".M3u"}) {
        const std::string candidate = base + ext;
        if (StatFile(candidate.c_str()) == FileKind::Regular) return candidate;
    }
    return "";
}

bool ReadM3uFile(const std::string& path, M3uFile& out, std::string& why) {
    StdioFile file(path.c_str());
    if (!file) {
        why = file.kind() == FileKind::Missing ? "it cannot be read" : "it is not a regular file";
        return false;
    }
    std::string text(static_cast<std::size_t>(kMaxM3uBytes) + 1, '\0');
    text.resize(file.Read(text.data(), text.size()));
    if (static_cast<std::int64_t>(text.size()) > kMaxM3uBytes) {
        why = "it is too large for a playlist";
        return false;
    }
    out = ParseM3u(text);
    return true;
}

std::string FirstTuneOf(const M3uFile& m3u, const std::string& m3uPath) {
    if (m3u.entries.empty()) return "";
    std::string file = m3u.entries.front().file;
#ifndef _WIN32
    std::replace(file.begin(), file.end(), '\\', '/');
#endif
    // The tune is looked for relative to the playlist's folder: an absolute path (or
    // one with a drive letter) counts by its file name alone.
    const bool absolute = (!file.empty() && (file.front() == '/' || file.front() == '\\')) ||
                          (file.size() > 1 && file[1] == ':');
    if (absolute) file = std::string(FileNameOf(file));
    const std::string folder = m3uPath.substr(0, m3uPath.size() - FileNameOf(m3uPath).size());
    return folder + file;
}

}  // namespace tunlet
