#include "media/NsfTune.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "media/ByteOrder.h"
#include "media/StdioFile.h"
#include "media/TextCoding.h"
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
constexpr std::size_t kOffVersion = 0x05;
constexpr std::size_t kOffNsf2Flags = 0x7C;      // NSF2: feature flags
constexpr std::size_t kOffProgramLength = 0x7D;  // NSF2: 24-bit length of the program data
constexpr std::size_t kMagicSize = 5;
constexpr std::size_t kNsfeMagicSize = 4;
constexpr std::uint8_t kNsf2Version = 2;
constexpr std::size_t kTextSize = 32;
// NSFe tunes and NSF2 metadata are read whole into memory; none comes near this.
constexpr std::int64_t kMaxChunkBytes = 64 << 20;
// The play speeds an NSFe without a RATE chunk runs at.
constexpr std::uint16_t kDefaultSpeedNtsc = 16639;
constexpr std::uint16_t kDefaultSpeedPal = 19997;

// The field as the board gets it (cut at 31 bytes) and as the summary shows it.
void CopyText(char (&dst)[32], std::string& shown, const std::uint8_t* src) {
    std::memcpy(dst, src, sizeof dst);
    dst[31] = '\0';
    // A field with no NUL of its own lost its last byte, maybe half a character.
    shown = TextToUtf8(dst, src[31] != 0);
}

}  // namespace

void NsfTune::Init() {
    fValid = 0;
    pszMessage = "";
    pszPath.reset();
}

bool NsfTune::HasNsfeMagic(const std::uint8_t* bytes, std::size_t count) {
    return count >= kNsfeMagicSize && std::memcmp(bytes, "NSFE", kNsfeMagicSize) == 0;
}

void NsfTune::BuildHeader(const NsfeChunks& c, std::uint8_t (&h)[kNsfHeaderSize]) {
    std::memset(h, 0, kNsfHeaderSize);
    std::memcpy(h, "NESM\x1A", kMagicSize);
    h[kOffVersion] = 1;
    h[kOffSongs] = c.songs;
    h[kOffStartSong] = static_cast<std::uint8_t>(c.startSong + 1);
    WriteLe16(h, kOffLoad, c.load);
    WriteLe16(h, kOffInit, c.init);
    WriteLe16(h, kOffPlay, c.play);
    const std::size_t texts[3] = {kOffSongName, kOffArtist, kOffCopyright};
    for (std::size_t i = 0; i < 3 && i < c.auth.size(); ++i) {
        // Cut between two characters; the field's last byte stays NUL.
        const std::string& name = c.auth[i];
        std::memcpy(h + texts[i], name.data(), CharBoundary(name, kTextSize - 1, DetectCoding(name)));
    }
    WriteLe16(h, kOffSpeedNtsc, c.hasRate ? c.rateNtsc : kDefaultSpeedNtsc);
    WriteLe16(h, kOffSpeedPal, c.hasRate ? c.ratePal : kDefaultSpeedPal);
    std::memcpy(h + kOffBankInit, c.bank, sizeof c.bank);
    h[kOffPalNtsc] = c.palNtsc;
    h[kOffExtraSound] = c.extraSound;
}

void NsfTune::Release() { pszPath.reset(); }

void NsfTune::SetSentHeader(const std::uint8_t (&header)[kNsfHeaderSize]) {
    std::copy(std::begin(header), std::end(header), std::begin(builtHeader));
    fBuiltHeader = true;
}

bool NsfTune::HasMagic(const std::uint8_t* bytes, std::size_t count) {
    return count >= kMagicSize && std::memcmp(bytes, "NESM\x1A", kMagicSize) == 0;
}

void NsfTune::DecodeHeader(const std::uint8_t (&h)[kNsfHeaderSize]) {
    nSongs = ReadU8(h, kOffSongs);
    nStartSong = ReadU8(h, kOffStartSong);
    wLoadAdrs = ReadLe16(h, kOffLoad);
    wInitAdrs = ReadLe16(h, kOffInit);
    wPlayAdrs = ReadLe16(h, kOffPlay);
    CopyText(szSongName, strSongName, h + kOffSongName);
    CopyText(szArtist, strArtist, h + kOffArtist);
    CopyText(szCopyright, strCopyright, h + kOffCopyright);
    wSpeedNtsc = ReadLe16(h, kOffSpeedNtsc);
    std::memcpy(bankInit, h + kOffBankInit, sizeof bankInit);
    wSpeedPal = ReadLe16(h, kOffSpeedPal);
    bPalNtsc = ReadU8(h, kOffPalNtsc);
    bExtraSound = ReadU8(h, kOffExtraSound);
}

namespace {

// The bytes of file from offset on, at most limit of them.
std::vector<std::uint8_t> ReadFrom(StdioFile& file, std::int64_t offset, std::int64_t size) {
    std::vector<std::uint8_t> bytes;
    if (offset >= size || !file.Seek(offset)) return bytes;
    bytes.resize(static_cast<std::size_t>(size - offset));
    bytes.resize(file.Read(bytes.data(), bytes.size()));
    return bytes;
}

}  // namespace

std::int32_t NsfTune::Read(const char* path) {
    fValid = 0;
    StdioFile file(path);
    if (!file) {
        pszMessage = file.kind() == FileKind::Directory    ? kIsDirectory
                     : file.kind() == FileKind::NotRegular ? kNotRegular
                                                           : kNoFile;
        return -1;
    }
    std::uint8_t header[kNsfHeaderSize] = {};
    const std::size_t got = file.Read(header, kMagicSize);
    const bool nsfe = HasNsfeMagic(header, got);
    if (!nsfe && !HasMagic(header, got)) {
        pszMessage = kNoMagic;
        return -1;
    }
    // A file that ends inside its header is no tune: sent, it would be 32 KiB of filler.
    const std::size_t headerBytes = nsfe ? 0 : got + file.Read(header + kMagicSize, kNsfHeaderSize - kMagicSize);
    if (!nsfe && headerBytes < kNsfHeaderSize) {
        pszMessage = kShortHeader;
        strProblem = "the NSF header is cut short: " + std::to_string(headerBytes) + " of " +
                     std::to_string(kNsfHeaderSize) + " bytes";
        return -1;
    }
    const std::size_t len = std::strlen(path);
    pszPath = std::make_unique<char[]>(len + 1);
    std::memcpy(pszPath.get(), path, len + 1);
    tracks.clear();
    strProblem.clear();
    fBuiltHeader = false;
    nDataOffset = kNsfHeaderSize;
    nDataSize = -1;

    if (!nsfe) DecodeHeader(header);
    // Size and stamp of the file whose header was just read, not of whatever the path
    // names by now.
    const FileStamp now = file.Stamp();
    if (now.size < 0) {
        pszMessage = kNoFile;
        return -1;
    }
    if (now.size > INT32_MAX) {
        // nFileSize is a 32-bit count; a larger file cannot be sent as a tune.
        pszMessage = kTooLarge;
        return -1;
    }
    if (nsfe) {
        if (ReadNsfe(file, now.size) != 0) return -1;
    } else {
        nFileSize = static_cast<std::int32_t>(now.size);
        if (header[kOffVersion] == kNsf2Version) {
            // NSF2 keeps flags and its program length in bytes 0x7C-0x7F, where the
            // board reads the reload flag and the block count: it is sent as the
            // version-1 NSF it stands for.
            SetSentHeader(header);
            builtHeader[kOffVersion] = 1;
            std::fill(std::begin(builtHeader) + kOffNsf2Flags, std::end(builtHeader), 0);
        }
        const std::uint32_t programLength = ReadLe24(header, kOffProgramLength);
        if (header[kOffVersion] == kNsf2Version && programLength != 0) {
            // The board gets the tune as if the file ended after its program data.
            const std::int64_t end = std::int64_t{kNsfHeaderSize} + programLength;
            ReadNsf2Metadata(file, end, now.size);
            nFileSize = static_cast<std::int32_t>(std::min(now.size, end));
            nDataSize = std::max<std::int64_t>(0, nFileSize - std::int64_t{kNsfHeaderSize});
        }
    }
    file.Close();
    stamp = now;
    fValid = 1;
    return 0;
}

std::int32_t NsfTune::ReadNsfe(StdioFile& file, std::int64_t size) {
    if (size > kMaxChunkBytes) {
        pszMessage = kTooLarge;
        return -1;
    }
    const std::vector<std::uint8_t> bytes = ReadFrom(file, kNsfeMagicSize, size);
    NsfeChunks chunks;
    strProblem = ReadNsfeChunks(bytes.data(), bytes.size(), chunks);
    if (strProblem.empty() && !chunks.hasInfo) strProblem = "it has no INFO chunk";
    if (strProblem.empty() && !chunks.hasData) strProblem = "it has no DATA chunk";
    if (strProblem.empty() && !chunks.hasEnd) strProblem = "it has no NEND chunk";
    if (!strProblem.empty()) {
        pszMessage = kBadNsfe;
        return -1;
    }
    std::uint8_t header[kNsfHeaderSize];
    BuildHeader(chunks, header);
    SetSentHeader(header);
    DecodeHeader(header);
    // The summary shows the whole names, not the board's 31 bytes of them.
    std::string* shown[3] = {&strSongName, &strArtist, &strCopyright};
    for (std::size_t i = 0; i < 3 && i < chunks.auth.size(); ++i) *shown[i] = TextToUtf8(chunks.auth[i]);
    nDataOffset = static_cast<std::int64_t>(kNsfeMagicSize + chunks.dataOffset);
    nDataSize = static_cast<std::int64_t>(chunks.dataSize);
    nFileSize = static_cast<std::int32_t>(std::int64_t{kNsfHeaderSize} + nDataSize);
    tracks = chunks.Tracks(nSongs);
    return 0;
}

void NsfTune::ReadNsf2Metadata(StdioFile& file, std::int64_t from, std::int64_t size) {
    // Metadata that cannot be read costs only the track list: the tune still plays.
    if (size - from > kMaxChunkBytes) return;
    const std::vector<std::uint8_t> bytes = ReadFrom(file, from, size);
    NsfeChunks chunks;
    if (ReadNsfeChunks(bytes.data(), bytes.size(), chunks).empty()) tracks = chunks.Tracks(nSongs);
}

void NsfTune::Describe(std::string& text) const {
    text.clear();
    AppendFormat(text, "SongName : %s\n", strSongName.c_str());
    AppendFormat(text, "Artist   : %s\n", strArtist.c_str());
    AppendFormat(text, "Copyright: %s\n\n", strCopyright.c_str());
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
    DescribeTracks(tracks, nSongs, text);
}

}  // namespace tunlet
