// The upload path (encoding to shift words and writing) into a cable that discards
// everything, in data bytes per second.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "cable/Cable.h"
#include "cable/CableChoice.h"
#include "cable/VirtualBoard.h"
#include "link/ChainScan.h"
#include "link/PackedShift.h"
#include "link/Upload.h"

namespace {

using namespace tunlet;

class Discard : public CableBackend {
    class Device : public CableDevice {
        FT_STATUS Write(const void*, DWORD count, DWORD* written) override {
            *written = count;
            return FT_OK;
        }
    };

public:
    CableOpenResult Open(const char*) override { return {FT_OK, std::make_unique<Device>(), "", "bench"}; }
};

using Host = UploadJob;

FT_HANDLE OpenDiscard() {
    SetCableBackend(std::make_shared<Discard>());
    FT_HANDLE h = nullptr;
    FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &h);
    return h;
}

void BM_UploadLargestRom(benchmark::State& state) {
    Host host;
    host.board = OpenDiscard();
    host.rom = std::make_unique<NesRom>();
    host.rom->n16kRomBanks = 255;
    host.rom->n8kVRomBanks = 255;
    host.rom->pPrgRom = std::make_unique<std::uint8_t[]>(host.rom->PrgSize());
    host.rom->pChrRom = std::make_unique<std::uint8_t[]>(host.rom->ChrSize());
    for (auto _ : state) {
        host.busy = 1;
        SendRomThread(host);
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(host.rom->PrgSize() + host.rom->ChrSize()));
    FT_Close(host.board);
}
BENCHMARK(BM_UploadLargestRom)->Unit(benchmark::kMillisecond);

void BM_UploadMegabyteTune(benchmark::State& state) {
    const auto path = std::filesystem::temp_directory_path() / "tunlet-bench-upload.nsf";
    {
        std::vector<char> bytes(1 << 20, 0x42);
        std::memcpy(bytes.data(), "NESM\x1A", 5);
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    Host host;
    host.board = OpenDiscard();
    host.tune.Read(path.c_str());
    for (auto _ : state) {
        host.busy = 1;
        host.loaded = 0;
        SendTuneThread(host);
    }
    state.SetBytesProcessed(state.iterations() * (1 << 20));
    FT_Close(host.board);
    std::filesystem::remove(path);
}
BENCHMARK(BM_UploadMegabyteTune)->Unit(benchmark::kMillisecond);

}  // namespace

// The board check before every upload: the chain's IDCODEs, then the head of the
// design's hub, read back from the virtual board's model. Besides its time here, it
// reports what it costs on a real cable: its cable bytes, the bytes the cable answers,
// its USB round trips (a write, then a read that waits for the answer) and the
// modelled time: each write as the wire model of link/PackedShift.h has it (its bytes
// at 1 MB/s dominate; the check shifts few bits), each read one transfer more and the
// 2 ms latency timer before the answer comes home.
void BM_BoardCheck(benchmark::State& state) {
    auto board = VirtualBoard::Create();
    board->SetKeepRaw(false);
    SetCableBackend(board);
    FT_HANDLE h = nullptr;
    FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &h);
    for (auto _ : state) {
        board->Reset();
        benchmark::DoNotOptimize(CheckBoard(h));
    }
    const auto r = board->Snapshot();
    constexpr double kLatencyTimerSeconds = 2e-3;
    double seconds = 0;
    for (DWORD n : r.writes) seconds += ModelTransferSeconds(n, 0);
    seconds += r.reads * (kModelTransferSeconds + kLatencyTimerSeconds);
    state.counters["cable_bytes"] = static_cast<double>(r.bytes);
    state.counters["usb_round_trips"] = static_cast<double>(r.writes.size());
    state.counters["answer_bytes"] = static_cast<double>(r.readBytes);
    state.counters["modelled_ms"] = seconds * 1000.0;
    FT_Close(h);
    SetCableBackend(nullptr);
}
BENCHMARK(BM_BoardCheck)->Unit(benchmark::kMicrosecond);
