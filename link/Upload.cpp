#include "link/Upload.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <memory>

#include "link/BlasterJtag.h"
#include "media/StdioFile.h"

namespace tunlet {

namespace {

constexpr std::size_t kTuneTrailer = 4;        // zero bytes after a tune's data blocks
constexpr std::size_t kHeaderOnlyTrailer = 3;  // after a header-only tune send
constexpr std::size_t kRomTrailer = 3;
constexpr std::uint8_t kTuneLead = 0x0C;       // stands where a ROM upload has its mapper number

// The board expects the song number in header byte 7, the "already loaded" flag in
// byte 126 and the block count in byte 127.
constexpr std::size_t kSongByte = 7;
constexpr std::size_t kLoadedByte = 126;
constexpr std::size_t kBlockCountByte = 127;

template <std::size_t N>
void ToShiftWords(const std::uint8_t* bytes, std::array<ShiftWord, N>& words) {
    for (std::size_t i = 0; i < N; ++i) words[i] = MakeShiftWord(bytes[i]);
}

// Every write of an upload is checked: a bad status or a short count breaks the
// stream, and from then on nothing is sent but the recovery walk.
template <std::size_t N>
bool WriteWords(FT_HANDLE h, const std::array<ShiftWord, N>& words) {
    constexpr DWORD kBytes = static_cast<DWORD>(N * sizeof(ShiftWord));
    DWORD written = 0;
    return FT_Write(h, words.data(), kBytes, &written) == FT_OK && written == kBytes;
}

bool Trailer(FT_HANDLE h, std::size_t zeros) {
    for (std::size_t i = 0; i < zeros; ++i) {
        if (ShiftByte(h, 0x00) != FT_OK) return false;
    }
    return EndShiftDr(h) == FT_OK;
}

// The lead of both uploads: the USER0 scan opened, then the lead byte and 0x00.
bool Lead(FT_HANDLE h, std::uint8_t lead) {
    return BeginUserScan(h) == FT_OK && ShiftByte(h, lead) == FT_OK && ShiftByte(h, 0x00) == FT_OK;
}

// The end of an upload whose stream broke: the board's TAP is brought back to
// Run-Test/Idle with the outputs released as far as the cable still lets us, then
// "write err" is shown once. The bar is left where it was, so a broken transfer
// never looks complete, and the next Play of a tune sends it whole: what the board
// holds after a broken scan is unknown.
unsigned WriteFailed(UploadHost& host, FT_HANDLE h) {
    RecoverTap(h);  // a cable that is gone fails this too; there is nothing more to try
    host.TuneLoaded().store(0);
    host.ShowMessage(kWriteError);
    host.Busy().store(0);
    return 0;
}

using BlockWords = std::array<ShiftWord, kBlockSize>;

// Everything a tune worker streams from, made before the first cable byte.
struct TuneBuffers {
    std::array<std::uint8_t, kBlockSize> block{};  // never cleared between reads
    std::array<ShiftWord, kNsfHeaderSize> headerWords{};
    BlockWords blockWords{};
};

struct RomBuffers {
    std::array<ShiftWord, kInesHeaderSize> headerWords{};
    BlockWords sliceWords{};
};

enum class PhaseEnd { Done, Stopped, WriteFailed };

// One 4096-byte block as one 8192-byte write, then the write check and the stop
// check that both uploads make after every block.
PhaseEnd SendBlock(UploadHost& host, FT_HANDLE h, const std::uint8_t* __restrict data, BlockWords& words) {
    // data never overlaps words: telling the compiler lets it encode whole vectors at a time.
    ShiftWord* __restrict out = words.data();
    for (std::size_t i = 0; i < kBlockSize; ++i) out[i] = MakeShiftWord(data[i]);
    if (!WriteWords(h, words)) return PhaseEnd::WriteFailed;
    return host.Busy().load() == 0 ? PhaseEnd::Stopped : PhaseEnd::Done;
}

// Sends size bytes from data in 4096-byte slices, with progress on the phase's own scale.
PhaseEnd SendSlices(UploadHost& host, FT_HANDLE h, const std::uint8_t* data, std::size_t size, BlockWords& words) {
    for (std::size_t o = 0; o < size; o += kBlockSize) {
        const PhaseEnd end = SendBlock(host, h, data + o, words);
        if (end != PhaseEnd::Done) return end;
        host.SetProgress(static_cast<int>(static_cast<std::uint64_t>(o) * 100 / size));
    }
    return PhaseEnd::Done;
}

}  // namespace

std::int64_t TuneBlockCount(std::int32_t nFileSize) {
    if (nFileSize <= 0) return 0;
    return (static_cast<std::int64_t>(nFileSize) + kBlockSize - 1) / kBlockSize;
}

unsigned SendTuneThread(UploadHost& host) {
    auto buf = std::make_unique<TuneBuffers>();
    const NsfTune& tune = host.Tune();
    const FT_HANDLE h = host.Board();
    const std::int64_t blocks = TuneBlockCount(tune.nFileSize);

    if (!Lead(h, kTuneLead)) return WriteFailed(host, h);

    StdioFile file(tune.pszPath ? tune.pszPath.get() : "");
    // Only the file that was read is sent: one put in its place since (saved again,
    // renamed over it) may have another header, size or layout.
    if (!file || file.Stamp() != tune.stamp) {
        // The USER0 scan stays open; the next upload starts with a TAP reset.
        host.ShowMessage(kFileNotOpened);
        host.Busy().store(0);
        return 0;
    }
    // An NSFe brings its header from its chunks; the others read theirs from the file
    // (a short read leaves zeros). The data follows where the reader found it.
    if (tune.fBuiltHeader) {
        std::copy(std::begin(tune.builtHeader), std::end(tune.builtHeader), buf->block.begin());
    } else {
        file.Read(buf->block.data(), kNsfHeaderSize);
    }
    file.Seek(tune.nDataOffset);
    // What the file still has to give: all of it, or only the program data.
    std::uint64_t dataLeft = tune.nDataSize < 0 ? UINT64_MAX : static_cast<std::uint64_t>(tune.nDataSize);

    const bool loaded = host.TuneLoaded().load() != 0;
    buf->block[kSongByte] = static_cast<std::uint8_t>(host.Song() & 0xFF);
    if (loaded) buf->block[kLoadedByte] = 1;
    buf->block[kBlockCountByte] = static_cast<std::uint8_t>(blocks & 0xFF);
    ToShiftWords(buf->block.data(), buf->headerWords);
    if (!WriteWords(h, buf->headerWords)) return WriteFailed(host, h);

    if (loaded) {
        file.Close();
        if (!Trailer(h, kHeaderOnlyTrailer)) return WriteFailed(host, h);
        host.SetProgress(100);
        host.Busy().store(0);
        return 0;
    }

    PhaseEnd end = PhaseEnd::Done;
    for (std::int64_t i = 0; i < blocks; ++i) {
        // A short read keeps the previous block's bytes in the rest of the buffer.
        dataLeft -= file.Read(buf->block.data(), static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, dataLeft)));
        end = SendBlock(host, h, buf->block.data(), buf->blockWords);
        if (end != PhaseEnd::Done) break;
        host.SetProgress(static_cast<int>(i * static_cast<std::int64_t>(kBlockSize) * 100 / tune.nFileSize));
    }
    file.Close();
    if (end == PhaseEnd::WriteFailed || !Trailer(h, kTuneTrailer)) return WriteFailed(host, h);
    // Only a tune that reached the board whole counts as loaded, and only then does
    // the bar reach 100: after Stop it stays where Stop put it.
    if (end == PhaseEnd::Done) {
        host.SetProgress(100);
        host.TuneLoaded().store(1);
    }
    host.Busy().store(0);
    return 0;
}

unsigned SendRomThread(UploadHost& host) {
    auto buf = std::make_unique<RomBuffers>();
    const NesRom* rom = host.Rom();
    const FT_HANDLE h = host.Board();
    if (rom == nullptr || !rom->pPrgRom) {
        host.Busy().store(0);
        return 0;
    }

    if (!Lead(h, rom->nRomMapperType)) return WriteFailed(host, h);
    ToShiftWords(rom->header, buf->headerWords);
    if (!WriteWords(h, buf->headerWords)) return WriteFailed(host, h);

    // The trainer is never sent; without CHR banks no CHR byte is sent either.
    PhaseEnd end = SendSlices(host, h, rom->pPrgRom.get(), rom->PrgSize(), buf->sliceWords);
    if (end == PhaseEnd::Done && rom->n8kVRomBanks != 0) {
        end = SendSlices(host, h, rom->pChrRom.get(), rom->ChrSize(), buf->sliceWords);
    }
    if (end == PhaseEnd::WriteFailed || !Trailer(h, kRomTrailer)) return WriteFailed(host, h);
    if (end == PhaseEnd::Done) host.SetProgress(100);
    host.Busy().store(0);
    return 0;
}

}  // namespace tunlet
