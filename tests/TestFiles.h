// Helpers for tests that need files on disk: a temporary folder removed at the end,
// and builders for NSF and iNES images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tunlet::test {

using Bytes = std::vector<std::uint8_t>;

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Writes bytes to name inside the folder; returns the full path.
    std::string Write(const std::string& name, const Bytes& bytes) const;

private:
    std::string path_;
};

Bytes ReadAll(const std::string& path);
std::string DataFile(const std::string& name);  // a file of tests/data

// A 128-byte NSF header with the given fields; the rest zero.
struct NsfSpec {
    std::uint8_t songs = 1;
    std::uint8_t startSong = 1;
    std::uint16_t load = 0x8000, init = 0x8003, play = 0x8006;
    std::string name = "Song", artist = "Artist", copyright = "2026";
    std::uint16_t speedNtsc = 0x411A, speedPal = 0x4E20;
    std::uint8_t bank[8] = {};
    std::uint8_t palNtsc = 0;
    std::uint8_t extra = 0;
    std::uint8_t reserved126 = 0, reserved127 = 0;
};
Bytes MakeNsf(const NsfSpec& spec, std::size_t dataBytes = 0);

// One chunk of an NSFe file or of NSF2 metadata: length, id, data.
Bytes Chunk(const std::string& id, const Bytes& data);
// NUL-terminated strings one after another (auth, tlbl).
Bytes Strings(const std::vector<std::string>& texts);
// Signed 32-bit little-endian values one after another (time, fade).
Bytes Le32s(const std::vector<std::int32_t>& values);
// The INFO chunk's data for the fields of an NSF spec (starting song counted from 0).
Bytes NsfeInfo(const NsfSpec& spec);
// An NSFe file with the chunks given, after the "NSFE" magic.
Bytes MakeNsfe(const std::vector<Bytes>& chunks);
// The program data MakeNsf puts after its header.
Bytes TuneData(std::size_t dataBytes);

// A four-song NSFe album: titles One to Four; times 10 s, 5 s, 20 s and none for Four;
// song 2 a sound effect; played in the order 3, 2, 1, 4; the fades given, if any.
Bytes MakeAlbumNsfe(const std::vector<std::int32_t>& fades = {});
// album.nsf, five songs named "Chiptune Album", in dir with album.m3u beside it:
// song 3 "Overworld" 1:30, song 1 "Title Screen" 0:45, song 3 "Cave" 1:10 with a 3 s
// fade, song 5 "Ending" without a time. Returns the playlist's path.
std::string WriteAlbumM3u(const TempDir& dir);

// An iNES image: header, optional trainer, PRG and CHR filled with a position pattern.
Bytes MakeNes(std::uint8_t prgBanks, std::uint8_t chrBanks, std::uint8_t flags6 = 0, std::uint8_t flags7 = 0);

}  // namespace tunlet::test
