#include "link/Upload.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <memory>

#include "link/BlasterJtag.h"
#include "link/PackedShift.h"
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

// Room the packed gatherer never outgrows: less than a write's worth left over, one
// more block (or the lead and header of a header-only send), the trailer and the walk.
constexpr std::size_t kPackedGathered = kPackedWriteBytes + PackedRunBytes(kBlockSize) + 256;
static_assert(kPackedBeginUserScanBytes + 1 + PackedRunBytes(2) + PackedRunBytes(kNsfHeaderSize) +
                  PackedRunBytes(kHeaderOnlyTrailer) + kEndShiftDrBytes <=
              kPackedGathered - kPackedWriteBytes);

// The cable of one upload. In packed mode its bytes are gathered in `packed` and go
// out in writes of whole USB transfers.
struct Wire {
    FT_HANDLE h;
    CableBatch* packed;  // null: the default stream, each walk and run its own write
    ChainTarget target;  // where the FPGA sits in the chain
};

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

bool Trailer(const Wire& w, std::size_t zeros) {
    if (w.packed) {
        constexpr std::array<std::uint8_t, kTuneTrailer> kZeros{};
        w.packed->ShiftRun(kZeros.data(), zeros);
        return EndShiftDrAt(w.packed, w.target) == FT_OK && w.packed->Send(w.h) == FT_OK;
    }
    const FT_HANDLE h = w.h;
    for (std::size_t i = 0; i < zeros; ++i) {
        if (ShiftByte(h, 0x00) != FT_OK) return false;
    }
    return EndShiftDrAt(h, w.target) == FT_OK;
}

// The lead of both uploads: the USER0 scan opened, then the lead byte and 0x00.
bool Lead(const Wire& w, std::uint8_t lead) {
    if (w.packed) {
        const std::array<std::uint8_t, 2> bytes = {lead, 0x00};
        if (BeginUserScanAt(w.packed, w.target) != FT_OK) return false;
        w.packed->ShiftRun(bytes.data(), bytes.size());
        return true;
    }
    const FT_HANDLE h = w.h;
    return BeginUserScanAt(h, w.target) == FT_OK && ShiftByte(h, lead) == FT_OK && ShiftByte(h, 0x00) == FT_OK;
}

// The end of an upload whose stream broke: the board's TAP is brought back to
// Run-Test/Idle with the outputs released as far as the cable still lets us, then
// "write err" is shown once. The bar is left where it was, so a broken transfer
// never looks complete, and the next Play of a tune sends it whole: what the board
// holds after a broken scan is unknown.
unsigned WriteFailed(UploadHost& host, const Wire& w) {
    // A cable that is gone fails this too; there is nothing more to try.
    if (w.packed) {
        RecoverCutStream(w.h);
    } else {
        RecoverTap(w.h);
    }
    host.TuneLoaded().store(0);
    host.ShowMessage(kWriteError);
    host.Busy().store(0);
    return 0;
}

// The tune's file could not be read whole: "file dont open" once, with nothing more
// sent; whatever went out before has been ended by its closing walk. The bar and the
// loaded flag stay as they were: a send with data blocks has found the flag 0.
unsigned FileLost(UploadHost& host) {
    host.ShowMessage(kFileNotOpened);
    host.Busy().store(0);
    return 0;
}

// The header: shift words in one write, or in packed mode a run gathered with the
// lead bytes, which goes out with the first blocks or with the trailer.
template <std::size_t N>
bool Header(const Wire& w, const std::uint8_t* bytes, std::array<ShiftWord, N>& words) {
    if (w.packed) {
        w.packed->ShiftRun(bytes, N);
        return true;
    }
    ToShiftWords(bytes, words);
    return WriteWords(w.h, words);
}

using BlockWords = std::array<ShiftWord, kBlockSize>;

// Everything a tune worker streams from, made before the first cable byte.
struct TuneBuffers {
    std::array<std::uint8_t, kBlockSize> block{};  // never cleared between reads
    std::array<ShiftWord, kNsfHeaderSize> headerWords{};
    BlockWords blockWords{};
    CableBatch packed{kPackedGathered};
};

struct RomBuffers {
    std::array<ShiftWord, kInesHeaderSize> headerWords{};
    BlockWords sliceWords{};
    CableBatch packed{kPackedGathered};
};

enum class PhaseEnd { Done, Stopped, WriteFailed };

// One 4096-byte block as one 8192-byte write (in packed mode gathered, and the whole
// USB transfers gathered so far written), then the write check and the stop check
// that both uploads make after every block.
PhaseEnd SendBlock(UploadHost& host, const Wire& w, const std::uint8_t* __restrict data, BlockWords& words) {
    if (w.packed) {
        w.packed->ShiftRun(data, kBlockSize);
        if (w.packed->SendWhole(w.h, kPackedWriteBytes) != FT_OK) return PhaseEnd::WriteFailed;
        return host.Busy().load() == 0 ? PhaseEnd::Stopped : PhaseEnd::Done;
    }
    // data never overlaps words: telling the compiler lets it encode whole vectors at a time.
    ShiftWord* __restrict out = words.data();
    for (std::size_t i = 0; i < kBlockSize; ++i) out[i] = MakeShiftWord(data[i]);
    if (!WriteWords(w.h, words)) return PhaseEnd::WriteFailed;
    return host.Busy().load() == 0 ? PhaseEnd::Stopped : PhaseEnd::Done;
}

// Sends size bytes from data in 4096-byte slices, with progress on the phase's own scale.
PhaseEnd SendSlices(UploadHost& host, const Wire& w, const std::uint8_t* data, std::size_t size, BlockWords& words) {
    for (std::size_t o = 0; o < size; o += kBlockSize) {
        const PhaseEnd end = SendBlock(host, w, data + o, words);
        if (end != PhaseEnd::Done) return end;
        host.SetProgress(static_cast<int>(static_cast<std::uint64_t>(o) * 100 / size));
    }
    return PhaseEnd::Done;
}

}  // namespace

std::int64_t User0Bytes(UploadHost& host) {
    constexpr std::int64_t kLead = 2;
    if (const NesRom* rom = host.Rom()) {
        const std::int64_t chr = rom->n8kVRomBanks != 0 ? static_cast<std::int64_t>(rom->ChrSize()) : 0;
        return kLead + static_cast<std::int64_t>(kInesHeaderSize) + static_cast<std::int64_t>(rom->PrgSize()) + chr +
               static_cast<std::int64_t>(kRomTrailer);
    }
    constexpr auto kHeader = static_cast<std::int64_t>(kNsfHeaderSize);
    if (host.TuneLoaded().load() != 0) return kLead + kHeader + static_cast<std::int64_t>(kHeaderOnlyTrailer);
    return kLead + kHeader + TuneBlockCount(host.Tune().nFileSize) * static_cast<std::int64_t>(kBlockSize) +
           static_cast<std::int64_t>(kTuneTrailer);
}

std::int64_t TuneBlockCount(std::int32_t nFileSize) {
    if (nFileSize <= 0) return 0;
    return (static_cast<std::int64_t>(nFileSize) + kBlockSize - 1) / kBlockSize;
}

unsigned SendTuneThread(UploadHost& host) {
    auto buf = std::make_unique<TuneBuffers>();
    const NsfTune& tune = host.Tune();
    const FT_HANDLE h = host.Board();
    const std::int64_t blocks = TuneBlockCount(tune.nFileSize);
    const Wire w{h, host.Packed() ? &buf->packed : nullptr, host.Target()};

    // The file is opened and its header read before anything reaches the cable: a
    // tune that cannot be read leaves the board as it was.
    StdioFile file(tune.pszPath ? tune.pszPath.get() : "");
    // Only the file that was read is sent: one put in its place since (saved again,
    // renamed over it) may have another header, size or layout.
    if (!file || file.Stamp() != tune.stamp) return FileLost(host);
    // What the file still has to give: all of it from the data on, or only the
    // program data. Each read must bring all it asks of that; one that brings less
    // means the file changed or went away while it was read.
    const auto fileSize = static_cast<std::uint64_t>(std::max<std::int64_t>(tune.stamp.size, 0));
    const auto dataStart = static_cast<std::uint64_t>(std::max<std::int64_t>(tune.nDataOffset, 0));
    std::uint64_t dataLeft = fileSize > dataStart ? fileSize - dataStart : 0;
    if (tune.nDataSize >= 0) dataLeft = std::min(dataLeft, static_cast<std::uint64_t>(tune.nDataSize));
    // An NSFe brings its header from its chunks; the others read theirs from the file.
    // The data follows where the reader found it.
    if (tune.fBuiltHeader) {
        std::copy(std::begin(tune.builtHeader), std::end(tune.builtHeader), buf->block.begin());
    } else {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kNsfHeaderSize, fileSize));
        if (file.Read(buf->block.data(), want) != want) return FileLost(host);
    }
    if (!file.Seek(tune.nDataOffset)) return FileLost(host);

    if (!Lead(w, kTuneLead)) return WriteFailed(host, w);

    const bool loaded = host.TuneLoaded().load() != 0;
    buf->block[kSongByte] = static_cast<std::uint8_t>(host.Song() & 0xFF);
    if (loaded) buf->block[kLoadedByte] = 1;
    buf->block[kBlockCountByte] = static_cast<std::uint8_t>(blocks & 0xFF);
    if (!Header(w, buf->block.data(), buf->headerWords)) return WriteFailed(host, w);

    if (loaded) {
        file.Close();
        if (!Trailer(w, kHeaderOnlyTrailer)) return WriteFailed(host, w);
        host.SetProgress(100);
        host.Busy().store(0);
        return 0;
    }

    PhaseEnd end = PhaseEnd::Done;
    bool lost = false;
    for (std::int64_t i = 0; i < blocks; ++i) {
        // Past the file's end the rest of the buffer keeps the previous block's bytes.
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, dataLeft));
        if (file.Read(buf->block.data(), want) != want) {
            // Nothing of a block read only in part goes out: the scan ends as after Stop.
            lost = true;
            end = PhaseEnd::Stopped;
            break;
        }
        dataLeft -= want;
        end = SendBlock(host, w, buf->block.data(), buf->blockWords);
        if (end != PhaseEnd::Done) break;
        host.SetProgress(static_cast<int>(i * static_cast<std::int64_t>(kBlockSize) * 100 / tune.nFileSize));
    }
    file.Close();
    if (end == PhaseEnd::WriteFailed || !Trailer(w, kTuneTrailer)) return WriteFailed(host, w);
    if (lost) return FileLost(host);
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
    const Wire w{h, host.Packed() ? &buf->packed : nullptr, host.Target()};

    if (!Lead(w, rom->nRomMapperType)) return WriteFailed(host, w);
    if (!Header(w, rom->header, buf->headerWords)) return WriteFailed(host, w);

    // The trainer is never sent; without CHR banks no CHR byte is sent either.
    PhaseEnd end = SendSlices(host, w, rom->pPrgRom.get(), rom->PrgSize(), buf->sliceWords);
    if (end == PhaseEnd::Done && rom->n8kVRomBanks != 0) {
        end = SendSlices(host, w, rom->pChrRom.get(), rom->ChrSize(), buf->sliceWords);
    }
    if (end == PhaseEnd::WriteFailed || !Trailer(w, kRomTrailer)) return WriteFailed(host, w);
    if (end == PhaseEnd::Done) host.SetProgress(100);
    host.Busy().store(0);
    return 0;
}

}  // namespace tunlet
