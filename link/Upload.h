// The two uploads, each run on a worker thread: a tune (header with the song patched
// in, then the file in 4096-byte blocks unless the tune is already on the board) and
// a ROM image (mapper number, header, PRG and CHR from memory).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "media/NesRom.h"
#include "media/NsfTune.h"
#include "cable/Cable.h"
#include "link/BlasterJtag.h"

namespace tunlet {

constexpr std::size_t kBlockSize = 4096;                       // data bytes per block write
constexpr DWORD kBlockCableBytes = 2 * kBlockSize;             // cable bytes per block write

// What an upload worker sees of the dialog. The UI thread leaves everything but the
// two flags alone while a worker runs.
class UploadHost {
public:
    virtual ~UploadHost() = default;
    virtual FT_HANDLE Board() const = 0;
    virtual const NsfTune& Tune() const = 0;
    virtual const NesRom* Rom() const = 0;
    virtual std::int32_t Song() const = 0;
    // 1 while a transfer runs; 0 asks the worker to stop. The worker clears it last.
    virtual std::atomic<std::int32_t>& Busy() = 0;
    // 1 when the tune's data is on the board, so only its header needs sending.
    virtual std::atomic<std::int32_t>& TuneLoaded() = 0;
    // Moves the progress bar (0..100). Must not wait for the UI thread.
    virtual void SetProgress(int position) = 0;
    // Shows a message box owned by the dialog; returns once it has been dismissed.
    virtual void ShowMessage(const char* text) = 0;
    // --packed: the data bytes go out as shift commands of up to 63 bytes, a whole
    // block per write (link/PackedShift.h). Off: the exact default stream.
    virtual bool Packed() const { return false; }
    // Where the FPGA sits in the JTAG chain, as the board check found it (alone
    // unless it found other devices).
    virtual ChainTarget Target() const { return {}; }
};

// The fields of one upload held on their own, for callers other than the dialog
// (the command line, tests, benchmarks). Progress and messages go nowhere unless a
// subclass shows them.
class UploadJob : public UploadHost {
public:
    UploadJob() { tune.Init(); }
    ~UploadJob() override { tune.Release(); }

    FT_HANDLE board = nullptr;
    NsfTune tune;
    std::unique_ptr<NesRom> rom;
    std::int32_t song = 1;
    std::atomic<std::int32_t> busy{0};
    std::atomic<std::int32_t> loaded{0};
    bool packed = false;
    ChainTarget target;

    FT_HANDLE Board() const override { return board; }
    const NsfTune& Tune() const override { return tune; }
    const NesRom* Rom() const override { return rom.get(); }
    std::int32_t Song() const override { return song; }
    std::atomic<std::int32_t>& Busy() override { return busy; }
    std::atomic<std::int32_t>& TuneLoaded() override { return loaded; }
    void SetProgress(int) override {}
    void ShowMessage(const char*) override {}
    bool Packed() const override { return packed; }
    ChainTarget Target() const override { return target; }
};

inline constexpr char kWriteError[] = "write err";
inline constexpr char kFileNotOpened[] = "file dont open";

// Number of 4096-byte blocks a tune of nFileSize bytes is sent in.
std::int64_t TuneBlockCount(std::int32_t nFileSize);
// The bytes the upload the host asks for puts into the board's USER0 register: the
// two lead bytes, the header, the data and the closing zeros. Asked before the upload,
// since a whole tune upload marks the tune loaded.
std::int64_t User0Bytes(UploadHost& host);

// Thread procedures; both return 0.
unsigned SendTuneThread(UploadHost& host);
unsigned SendRomThread(UploadHost& host);

}  // namespace tunlet
