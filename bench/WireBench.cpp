// What a user waits for is the wire: a model of the time the cable needs for a whole
// upload, default stream against packed (--packed), for the largest ROM image, a
// 256 KiB ROM, a typical tune and a song change of it (header only). Each write is cut
// into USB transfers of kUsbTransferBytes (libftdi's chunk size; cable/Cable.h), and
// each transfer costs, with the constants of link/PackedShift.h,
//
//     kModelTransferSeconds + max(cable bytes / kModelUsbBytesPerSecond, shifted bits / kModelTckHz)
//
// (a full-speed USB-Blaster takes about 1 MB/s of cable bytes and shifts at a 6 MHz
// TCK; each USB transfer costs about 1 ms on top). The counters: cable bytes per data
// byte of each stream, its writes and USB transfers, the modelled seconds, the share
// of the TCK limit (the data's bits at 6 MHz over the modelled time) and how many
// times sooner packed is. Each item is also sent to a SoC board's FPGA whose HPS debug
// port sits between it and the cable's TDI: the padding adds a bit per scan, and the
// packed stream must keep its share of the TCK limit.
//
// The FT2232H cables (BM_MpsseWireTime) run the same uploads through their device
// (cable/MpsseCable.h: the translator, small writes inside a scan held for the next),
// at a 6 and a 30 MHz TCK. Their model follows the chip: it clocks each
// write's work (its TAP clocks at the TCK) from its 4 KiB transmit buffer while the
// host sends the next; a write costs kModelMpsseWriteSeconds before its bytes move
// (a high-speed microframe) and its bytes go at kModelHighSpeedBytesPerSecond, and it
// returns once the buffer holds the rest of it. The modelled time ends when the chip
// has clocked everything; the share of the TCK limit is the data's bits at the TCK
// over it.
//
// Beside them the USB-Blaster II (the ii_ counters): the same bytes in the same
// transfers of kUsbTransferBytes (whole 512-byte high-speed packets), each costing
// one 125 us microframe plus the longer of its bytes at an assumed 30 MB/s of
// high-speed bulk and its bits at an assumed 24 MHz TCK. These three figures are
// assumptions of this model, not measurements of the cable.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "app/LoadFile.h"
#include "cable/Cable.h"
#include "cable/MpsseCable.h"
#include "link/BlasterJtag.h"
#include "link/PackedShift.h"
#include "link/Upload.h"

namespace {

using namespace tunlet;

// What one USB transfer costs: a fixed part, then the longer of bytes and bits.
struct WireModel {
    double transferSeconds;
    double bytesPerSecond;
    double tckHz;
    double Seconds(double bytes, double bits) const {
        return transferSeconds + std::max(bytes / bytesPerSecond, bits / tckHz);
    }
};
constexpr WireModel kBlasterModel{kModelTransferSeconds, kModelUsbBytesPerSecond, kModelTckHz};
constexpr WireModel kBlaster2Model{125e-6, 30e6, 24e6};

struct WireTally {
    double seconds = 0;
    double blaster2Seconds = 0;  // the same transfers on a USB-Blaster II
    std::uint64_t cableBytes = 0;
    std::uint64_t shiftedBytes = 0;  // data bytes clocked out by shift commands
    std::uint64_t writes = 0;
    std::uint64_t transfers = 0;
};

// A cable that takes every write, follows the byte protocol and adds up the model.
class TallyCable : public CableBackend {
public:
    WireTally tally;

    CableOpenResult Open(const char*) override { return {FT_OK, std::make_unique<Device>(tally), "", "bench"}; }

private:
    class Device : public CableDevice {
    public:
        explicit Device(WireTally& tally) : tally_(tally) {}
        FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override {
            const auto* bytes = static_cast<const std::uint8_t*>(buffer);
            for (DWORD from = 0; from < count; from += static_cast<DWORD>(kUsbTransferBytes)) {
                const DWORD n = std::min<DWORD>(static_cast<DWORD>(kUsbTransferBytes), count - from);
                std::uint64_t shifted = 0;
                for (DWORD i = from; i < from + n; ++i) {
                    if (owed_ > 0) {
                        --owed_;
                        ++shifted;
                    } else if (bytes[i] & blaster::kShiftMode) {
                        owed_ = bytes[i] & blaster::kShiftCountMask;
                    }
                }
                const double bits = 8.0 * static_cast<double>(shifted);
                tally_.seconds += kBlasterModel.Seconds(n, bits);
                tally_.blaster2Seconds += kBlaster2Model.Seconds(n, bits);
                static_assert(kUsbTransferBytes % 512 == 0, "transfers of whole high-speed packets");
                tally_.shiftedBytes += shifted;
                ++tally_.transfers;
            }
            tally_.cableBytes += count;
            ++tally_.writes;
            *written = count;
            return FT_OK;
        }

    private:
        WireTally& tally_;
        unsigned owed_ = 0;
    };
};

constexpr double kModelMpsseWriteSeconds = 125e-6;
constexpr double kModelHighSpeedBytesPerSecond = 40e6;
constexpr double kModelChipBufferBytes = 4096;

struct MpsseTally {
    double hostFree = 0;  // when the host may start the next write
    double chipFree = 0;  // when the chip has clocked everything so far
    std::uint64_t mpsseBytes = 0;
    std::uint64_t writes = 0;
};

// The TCK cycles of whole MPSSE commands (as the translator writes them).
std::uint64_t MpsseClocks(const std::uint8_t* c, std::size_t n) {
    std::uint64_t clocks = 0;
    for (std::size_t i = 0; i < n;) {
        const std::uint8_t op = c[i];
        if (op == mpsse::kBytesOut || op == mpsse::kBytesInOut) {
            const std::size_t len = static_cast<std::size_t>(c[i + 1] | c[i + 2] << 8) + 1;
            clocks += 8 * len;
            i += 3 + len;
        } else if (op == mpsse::kBitsOut || op == mpsse::kBitsInOut || op == mpsse::kTmsOut || op == mpsse::kTmsInOut) {
            clocks += c[i + 1] + 1u;
            i += 3;
        } else {
            i += (op == mpsse::kSetLow || op == mpsse::kSetHigh || op == mpsse::kDivisor) ? 3 : 1;
        }
    }
    return clocks;
}

// The FT2232H cable's own device (cable/MpsseCable.h) over a port that models the chip.
class MpsseTallyCable : public CableBackend {
public:
    explicit MpsseTallyCable(double tckHz) : tckHz_(tckHz) {}
    MpsseTally tally;

    CableOpenResult Open(const char*) override {
        return {FT_OK, std::make_unique<MpsseDevice>(std::make_unique<Port>(*this), kArrowUsbBlaster.pins, 6000), "",
                "bench"};
    }

private:
    class Port : public MpssePort {
    public:
        explicit Port(MpsseTallyCable& cable) : cable_(cable) {}
        FT_STATUS Write(const std::uint8_t* data, std::size_t count) override {
            MpsseTally& t = cable_.tally;
            const double n = static_cast<double>(count);
            const double work = static_cast<double>(MpsseClocks(data, count)) / cable_.tckHz_;
            const double arriving = t.hostFree + kModelMpsseWriteSeconds;
            const double sent = arriving + n / kModelHighSpeedBytesPerSecond;
            t.chipFree = std::max(t.chipFree, arriving) + work;
            // Back once the buffer holds what is left of this write.
            t.hostFree = std::max(sent, t.chipFree - work * std::min(1.0, kModelChipBufferBytes / std::max(n, 1.0)));
            t.mpsseBytes += count;
            ++t.writes;
            return FT_OK;
        }
        FT_STATUS Read(std::uint8_t*, std::size_t, std::size_t* got) override {
            *got = 0;
            return FT_OK;
        }
        FT_STATUS Restart() override { return FT_OK; }

    private:
        MpsseTallyCable& cable_;
    };
    double tckHz_;
};

enum class Item { LargestRom, Rom256k, Tune, SongChange };

// The FPGA alone, or with a 4-bit debug port nearer the cable's TDI.
ChainTarget Chain(std::int64_t arg) { return arg == 0 ? ChainTarget{} : ChainTarget{0, 1, 0, 4}; }

void RunUpload(Item item, bool packed, const std::shared_ptr<CableBackend>& cable, const ChainTarget& target = {});

WireTally Upload(Item item, bool packed, const ChainTarget& target = {}) {
    auto cable = std::make_shared<TallyCable>();
    RunUpload(item, packed, cable, target);
    return cable->tally;
}

void RunUpload(Item item, bool packed, const std::shared_ptr<CableBackend>& cable, const ChainTarget& target) {
    SetCableBackend(cable);
    UploadJob job;
    job.packed = packed;
    job.target = target;
    FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &job.board);
    job.busy = 1;
    if (item == Item::LargestRom || item == Item::Rom256k) {
        const bool largest = item == Item::LargestRom;
        job.rom = std::make_unique<NesRom>();
        job.rom->n16kRomBanks = largest ? 255 : 16;
        job.rom->n8kVRomBanks = largest ? 255 : 0;
        job.rom->pPrgRom = std::make_unique<std::uint8_t[]>(job.rom->PrgSize());
        job.rom->pChrRom = std::make_unique<std::uint8_t[]>(job.rom->ChrSize());
        SendRomThread(job);
    } else {
        LoadFile(TUNLET_BENCH_TUNE, job.tune, job.rom);
        job.loaded = item == Item::SongChange ? 1 : 0;
        SendTuneThread(job);
    }
    FT_Close(job.board);
    SetCableBackend(nullptr);
}

void BM_WireTime(benchmark::State& state) {
    const auto item = static_cast<Item>(state.range(0));
    WireTally plain, packed;
    for (auto _ : state) {
        plain = Upload(item, false, Chain(state.range(1)));
        packed = Upload(item, true, Chain(state.range(1)));
    }
    const char* labels[] = {"largest ROM (255 PRG + 255 CHR banks)", "256 KiB ROM (16 PRG banks)",
                            "typical tune (db_apu.nsf, 8 blocks)", "song change (header only)"};
    state.SetLabel(std::string(labels[state.range(0)]) + (state.range(1) == 0 ? "" : ", SoC chain"));
    // The data: every byte the USER0 scan takes, less the preamble's three single shifts.
    const double data = static_cast<double>(plain.shiftedBytes - 3);
    state.counters["default_cable_per_data"] = static_cast<double>(plain.cableBytes) / data;
    state.counters["packed_cable_per_data"] = static_cast<double>(packed.cableBytes) / data;
    state.counters["default_writes"] = static_cast<double>(plain.writes);
    state.counters["packed_writes"] = static_cast<double>(packed.writes);
    state.counters["default_usb_transfers"] = static_cast<double>(plain.transfers);
    state.counters["packed_usb_transfers"] = static_cast<double>(packed.transfers);
    state.counters["default_wire_s"] = plain.seconds;
    state.counters["packed_wire_s"] = packed.seconds;
    const double tckLimit = 8.0 * data / kModelTckHz;
    state.counters["default_tck_share"] = tckLimit / plain.seconds;
    state.counters["packed_tck_share"] = tckLimit / packed.seconds;
    state.counters["packed_sooner_x"] = plain.seconds / packed.seconds;
    state.counters["ii_default_usb_transfers"] = static_cast<double>(plain.transfers);
    state.counters["ii_packed_usb_transfers"] = static_cast<double>(packed.transfers);
    state.counters["ii_default_wire_s"] = plain.blaster2Seconds;
    state.counters["ii_packed_wire_s"] = packed.blaster2Seconds;
    state.counters["ii_packed_tck_share"] = 8.0 * data / kBlaster2Model.tckHz / packed.blaster2Seconds;
}
BENCHMARK(BM_WireTime)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Iterations(1)->Unit(benchmark::kMillisecond);


// The FT2232H cables: db_apu.nsf and a 256 KiB ROM at each TCK, default and packed.
void BM_MpsseWireTime(benchmark::State& state) {
    const auto item = static_cast<Item>(state.range(0));
    const double tckHz = static_cast<double>(state.range(1)) * 1e6;
    MpsseTally plain, packed;
    const WireTally blaster = Upload(item, false);
    for (auto _ : state) {
        auto a = std::make_shared<MpsseTallyCable>(tckHz), b = std::make_shared<MpsseTallyCable>(tckHz);
        RunUpload(item, false, a);
        RunUpload(item, true, b);
        plain = a->tally;
        packed = b->tally;
    }
    state.SetLabel(std::string(item == Item::Tune ? "db_apu.nsf" : "256 KiB ROM") + " at " +
                   std::to_string(state.range(1)) + " MHz");
    const double data = static_cast<double>(blaster.shiftedBytes - 3);
    const double tckLimit = 8.0 * data / tckHz;
    state.counters["mpsse_per_data"] = static_cast<double>(plain.mpsseBytes) / data;
    state.counters["default_writes"] = static_cast<double>(plain.writes);
    state.counters["packed_writes"] = static_cast<double>(packed.writes);
    state.counters["default_wire_s"] = plain.chipFree;
    state.counters["packed_wire_s"] = packed.chipFree;
    state.counters["default_tck_share"] = tckLimit / plain.chipFree;
    state.counters["packed_tck_share"] = tckLimit / packed.chipFree;
}
BENCHMARK(BM_MpsseWireTime)
    ->Args({static_cast<int>(Item::Tune), 6})
    ->Args({static_cast<int>(Item::Tune), 30})
    ->Args({static_cast<int>(Item::Rom256k), 6})
    ->Args({static_cast<int>(Item::Rom256k), 30})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
