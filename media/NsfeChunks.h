// The chunks of an NSFe tune (after its "NSFE" magic) and of the metadata that
// follows an NSF2 tune's program data. Each chunk is a 32-bit little-endian length,
// a four-character id and that many bytes. An id that starts with an upper-case
// letter marks a chunk a player must understand; others may be skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/Playlist.h"

namespace tunlet {

struct NsfeChunks {
    // INFO: load, init and play addresses, PAL/NTSC bits, extra chips, song count,
    // starting song counted from 0 (the last two may be missing).
    bool hasInfo = false;
    std::uint16_t load = 0, init = 0, play = 0;
    std::uint8_t palNtsc = 0, extraSound = 0;
    std::uint8_t songs = 1, startSong = 0;
    // DATA: where the program data lies, counted from the start of the walked bytes.
    bool hasData = false;
    std::size_t dataOffset = 0, dataSize = 0;
    bool hasEnd = false;  // NEND; nothing after it is read
    bool hasBank = false;
    std::uint8_t bank[8] = {};
    bool hasRate = false;
    std::uint16_t rateNtsc = 0, ratePal = 0;
    // The lists below keep at most kMaxPlayOrder items, the texts at most
    // kMaxTitleBytes bytes each, as the file has them.
    std::vector<std::string> auth;    // title, artist, copyright, ripper
    std::vector<std::string> labels;  // tlbl: a name per track
    std::vector<std::int32_t> times;  // time: milliseconds per track, negative unknown
    std::vector<std::int32_t> fades;  // fade: milliseconds per track, negative unknown
    std::vector<std::uint8_t> order;  // plst: the play order, tracks counted from 0
    std::size_t orderLeftOut = 0;     // plst entries beyond kMaxPlayOrder
    std::vector<std::uint8_t> effects;  // psfx: the sound-effect tracks, counted from 0

    // The tune's own playlist: each song's title (in UTF-8), time, fade and effect
    // mark, in the order plst gives (1..songs without it). Empty when the file has
    // none of the chunks above.
    Playlist Tracks(unsigned songs) const;
};

// Walks the chunks in bytes[0, size). Returns "" or why the chunks cannot be used
// (a chunk that runs past the end, a required chunk that is not understood, an INFO
// chunk too short to hold the addresses).
std::string ReadNsfeChunks(const std::uint8_t* bytes, std::size_t size, NsfeChunks& out);

}  // namespace tunlet
