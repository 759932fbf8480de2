#include "media/NsfeChunks.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "media/ByteOrder.h"
#include "media/TextCoding.h"
#include "media/TextFormat.h"

namespace tunlet {

namespace {

constexpr std::size_t kChunkHeader = 8;  // length, id
constexpr std::size_t kInfoMin = 8;      // the addresses, PAL/NTSC and chip bytes

bool Is(const std::uint8_t* id, const char (&name)[5]) { return std::memcmp(id, name, 4) == 0; }

// NUL-separated strings; a last one without its NUL counts too. At most
// kMaxPlayOrder of them, each cut to kMaxTitleBytes between two characters.
std::vector<std::string> Strings(const std::uint8_t* p, std::size_t n) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= n && out.size() < kMaxPlayOrder; ++i) {
        if (i == n || p[i] == 0) {
            if (i > start || i < n) {
                // The encoding is judged on the part that may be kept (and its next character).
                const std::string_view text(reinterpret_cast<const char*>(p + start), i - start);
                const std::string_view head = text.substr(0, kMaxTitleBytes + 4);
                const TextCoding coding = DetectCoding(head, head.size() < text.size());
                out.emplace_back(head.substr(0, CharBoundary(head, kMaxTitleBytes, coding)));
            }
            start = i + 1;
        }
    }
    return out;
}

// Signed 32-bit little-endian values, one per track (time, fade); at most kMaxPlayOrder.
std::vector<std::int32_t> Int32s(const std::uint8_t* p, std::size_t n) {
    std::vector<std::int32_t> values;
    for (std::size_t i = 0; i + 4 <= n && values.size() < kMaxPlayOrder; i += 4) {
        values.push_back(static_cast<std::int32_t>(ReadLe32(p, i)));
    }
    return values;
}

std::string Printable(const std::uint8_t* id) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += (id[i] >= 0x20 && id[i] < 0x7F) ? static_cast<char>(id[i]) : '?';
    return s;
}

}  // namespace

std::string ReadNsfeChunks(const std::uint8_t* bytes, std::size_t size, NsfeChunks& out) {
    std::size_t pos = 0;
    while (pos < size) {
        if (size - pos < kChunkHeader) return "a chunk runs past the end of the file";
        const std::uint32_t length = ReadLe32(bytes, pos);
        const std::uint8_t* id = bytes + pos + 4;
        const std::size_t at = pos + kChunkHeader;
        if (length > size - at) return "the chunk '" + Printable(id) + "' runs past the end of the file";
        const std::uint8_t* p = bytes + at;
        if (Is(id, "NEND")) {
            out.hasEnd = true;
            break;
        } else if (Is(id, "INFO")) {
            if (length < kInfoMin) return "its INFO chunk is too short";
            out.hasInfo = true;
            out.load = ReadLe16(p, 0);
            out.init = ReadLe16(p, 2);
            out.play = ReadLe16(p, 4);
            out.palNtsc = p[6];
            out.extraSound = p[7];
            out.songs = length > 8 ? p[8] : 1;
            out.startSong = length > 9 ? p[9] : 0;
        } else if (Is(id, "DATA")) {
            out.hasData = true;
            out.dataOffset = at;
            out.dataSize = length;
        } else if (Is(id, "BANK")) {
            out.hasBank = true;
            std::memcpy(out.bank, p, std::min<std::size_t>(length, sizeof out.bank));
        } else if (Is(id, "RATE")) {
            out.hasRate = true;
            out.rateNtsc = length >= 2 ? ReadLe16(p, 0) : 0;
            out.ratePal = length >= 4 ? ReadLe16(p, 2) : 0;
        } else if (Is(id, "auth")) {
            out.auth = Strings(p, length);
        } else if (Is(id, "tlbl")) {
            out.labels = Strings(p, length);
        } else if (Is(id, "time")) {
            out.times = Int32s(p, length);
        } else if (Is(id, "fade")) {
            out.fades = Int32s(p, length);
        } else if (Is(id, "plst")) {
            const std::size_t kept = std::min<std::size_t>(length, kMaxPlayOrder);
            out.order.assign(p, p + kept);
            out.orderLeftOut = length - kept;
        } else if (Is(id, "psfx")) {
            out.effects.assign(p, p + std::min<std::size_t>(length, kMaxPlayOrder));
        } else if (id[0] >= 'A' && id[0] <= 'Z') {
            return "the chunk '" + Printable(id) + "' is required but not supported";
        }
        pos = at + length;
    }
    return "";
}

Playlist NsfeChunks::Tracks(unsigned songs) const {
    Playlist list;
    if (labels.empty() && times.empty() && fades.empty() && order.empty() && effects.empty()) return list;
    for (unsigned i = 0; i < songs; ++i) {
        PlaylistEntry e;
        e.song = static_cast<int>(i + 1);
        if (i < labels.size()) e.title = TextToUtf8(labels[i]);
        if (i < times.size()) e.ms = times[i];
        if (i < fades.size()) e.fadeMs = fades[i];
        e.fEffect = std::find(effects.begin(), effects.end(), i) != effects.end();
        list.songs.push_back(std::move(e));
    }
    // Tracks that the tune does not have are left out of the order.
    for (std::uint8_t track : order) {
        if (track < songs) list.entries.push_back(list.songs[track]);
    }
    if (order.empty()) list.entries = list.songs;
    list.nLeftOut = orderLeftOut;
    return list;
}

}  // namespace tunlet
