#include "media/NsfTune.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "media/ByteOrder.h"
#include "media/StdioFile.h"
#include "media/TextFormat.h"

namespace tunlet {

namespace {

// Offsets of the fields in the NSF header (all 16-bit values little-endian).
constexpr std::size_t kOffSongs = 0x06;
constexpr std::size_t kOffStartSong = 0x07;
constexpr std::size_t kOffLoad = 0x08;
constexpr std::size_t kOffInit = 0x0A;
constexpr std::size_t kOffPlay = 0x0C;
constexpr std::size_t kOffSongName = 0x0E;
constexpr std::size_t kOffArtist = 0x2E;
constexpr std::size_t kOffCopyright = 0x4E;
constexpr std::size_t kOffSpeedNtsc = 0x6E;
constexpr std::size_t kOffBankInit = 0x70;
constexpr std::size_t kOffSpeedPal = 0x78;
constexpr std::size_t kOffPalNtsc = 0x7A;
constexpr std::size_t kOffExtraSound = 0x7B;
constexpr std::size_t kMagicSize = 5;

void CopyText(char (&dst)[32], const std::uint8_t* src) {
    std::memcpy(dst, src, sizeof dst);
    dst[31] = '\0';
}

}  // namespace

void NsfTune::Init() {
    fValid = 0;
    pszMessage = "";
    pszPath.reset();
}

void NsfTune::Release() { pszPath.reset(); }

bool NsfTune::HasMagic(const std::uint8_t* bytes, std::size_t count) {
    return count >= kMagicSize && std::memcmp(bytes, "NESM\x1A", kMagicSize) == 0;
}

void NsfTune::DecodeHeader(const std::uint8_t (&h)[kNsfHeaderSize]) {
    nSongs = ReadU8(h, kOffSongs);
    nStartSong = ReadU8(h, kOffStartSong);
    wLoadAdrs = ReadLe16(h, kOffLoad);
    wInitAdrs = ReadLe16(h, kOffInit);
    wPlayAdrs = ReadLe16(h, kOffPlay);
    CopyText(szSongName, h + kOffSongName);
    CopyText(szArtist, h + kOffArtist);
    CopyText(szCopyright, h + kOffCopyright);
    wSpeedNtsc = ReadLe16(h, kOffSpeedNtsc);
    std::memcpy(bankInit, h + kOffBankInit, sizeof bankInit);
    wSpeedPal = ReadLe16(h, kOffSpeedPal);
    bPalNtsc = ReadU8(h, kOffPalNtsc);
    bExtraSound = ReadU8(h, kOffExtraSound);
}

std::int32_t NsfTune::Read(const char* path) {
    fValid = 0;
    StdioFile file(path);
    if (!file) {
        pszMessage = kNoFile;
        return -1;
    }
    // Bytes that lie beyond the end of a short file read as 0.
    std::uint8_t header[kNsfHeaderSize] = {};
    const std::size_t got = file.Read(header, kMagicSize);
    if (!HasMagic(header, got)) {
        pszMessage = kNoMagic;
        return -1;
    }
    const std::size_t len = std::strlen(path);
    pszPath = std::make_unique<char[]>(len + 1);
    std::memcpy(pszPath.get(), path, len + 1);

    file.Read(header + kMagicSize, kNsfHeaderSize - kMagicSize);
    DecodeHeader(header);
    file.Close();

    struct stat st {};
    if (::stat(path, &st) != 0) return -1;
    if (st.st_size > INT32_MAX) {
        // nFileSize is a 32-bit count; a larger file cannot be sent as a tune.
        pszMessage = kTooLarge;
        return -1;
    }
    nFileSize = static_cast<std::int32_t>(st.st_size);
    fValid = 1;
    return 0;
}

void NsfTune::Describe(std::string& text) const {
    text.clear();
    AppendFormat(text, "SongName : %s\n", szSongName);
    AppendFormat(text, "Artist   : %s\n", szArtist);
    AppendFormat(text, "Copyright: %s\n\n", szCopyright);
    AppendFormat(text, "Songs: %d  ", unsigned{nSongs});
    AppendFormat(text, "StartSong: %d\n", unsigned{nStartSong});
    AppendFormat(text, "LoadAdrs: %04X\n", unsigned{wLoadAdrs});
    AppendFormat(text, "InitAdrs: %04X\n", unsigned{wInitAdrs});
    AppendFormat(text, "PlayAdrs: %04X\n\n", unsigned{wPlayAdrs});
    AppendFormat(text, "Speed_NTSC: %04X %d\n", unsigned{wSpeedNtsc}, unsigned{wSpeedNtsc});
    AppendFormat(text, "Speed_PAL : %04X %d\n", unsigned{wSpeedPal}, unsigned{wSpeedPal});
    if ((bPalNtsc & 0x01) == 0) {
        text += "NTSC tune\n\n";
    } else if ((bPalNtsc & 0x02) != 0) {
        text += "NTSC/PAL dual tune\n\n";
    } else {
        text += "PAL tune\n\n";
    }
    text += "BankInit: ";
    for (std::uint8_t b : bankInit) AppendFormat(text, "%02X ", unsigned{b});
    text += "\n";
    AppendFormat(text, "ExtraSound: %02X ", unsigned{bExtraSound});
    static constexpr const char* kChipNames[6] = {" VRC6", " VRC7", " FDS", " MMC5", " N106", " SN5B"};
    for (int bit = 0; bit < 6; ++bit) {
        if (bExtraSound & (1u << bit)) text += kChipNames[bit];
    }
}

}  // namespace tunlet
