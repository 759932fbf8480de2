// Loading and describing the largest files the readers take.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/LoadFile.h"

namespace {

std::string WriteTemp(const std::string& name, const std::vector<char>& bytes) {
    const auto path = std::filesystem::temp_directory_path() / ("tunlet-bench-" + name);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

std::vector<char> LargestRom() {
    std::vector<char> b(16 + 255 * 16384 + 255 * 8192, 0x5A);
    b[0] = 'N', b[1] = 'E', b[2] = 'S', b[3] = 0x1A, b[4] = char(255), b[5] = char(255), b[6] = 0, b[7] = 0;
    return b;
}

std::vector<char> MegabyteTune() {
    std::vector<char> b(1 << 20, 0x33);
    b[0] = 'N', b[1] = 'E', b[2] = 'S', b[3] = 'M', b[4] = 0x1A;
    return b;
}

void PutLe32(std::vector<char>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

// An 8 MB NSFe crafted to make its playlist huge: a plst of 4 MB entries, and a tlbl
// of 4 MB empty names. tunlet-cli info on it must stay small and quick.
std::vector<char> CraftedNsfe() {
    constexpr std::uint32_t kHalf = 4 << 20;
    const std::uint8_t info[10] = {0x00, 0x80, 0x03, 0x80, 0x06, 0x80, 0, 0, 2, 0};
    std::vector<char> b = {'N', 'S', 'F', 'E'};
    const auto chunk = [&b](const char* id, std::uint32_t length, const std::uint8_t* data) {
        const std::size_t at = b.size();
        b.resize(at + 8 + length, 0);
        PutLe32(b, at, length);
        std::copy(id, id + 4, b.begin() + static_cast<std::ptrdiff_t>(at + 4));
        if (data != nullptr) std::copy(data, data + length, b.begin() + static_cast<std::ptrdiff_t>(at + 8));
    };
    chunk("INFO", sizeof info, info);
    chunk("DATA", 16, nullptr);
    chunk("plst", kHalf, nullptr);  // track 1, four million times
    chunk("tlbl", kHalf, nullptr);  // four million empty names
    chunk("NEND", 0, nullptr);
    return b;
}

// Loads the file over and over through the shared load step.
void LoadRepeatedly(benchmark::State& state, const std::string& name, const std::vector<char>& bytes) {
    const std::string path = WriteTemp(name, bytes);
    tunlet::NsfTune tune;
    tune.Init();
    std::unique_ptr<tunlet::NesRom> rom;
    for (auto _ : state) {
        auto out = tunlet::LoadFile(path.c_str(), tune, rom);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    tune.Release();
    std::filesystem::remove(path);
}

void BM_LoadLargestRom(benchmark::State& state) { LoadRepeatedly(state, "rom.nes", LargestRom()); }
BENCHMARK(BM_LoadLargestRom)->Unit(benchmark::kMillisecond);

void BM_LoadMegabyteTune(benchmark::State& state) { LoadRepeatedly(state, "tune.nsf", MegabyteTune()); }
BENCHMARK(BM_LoadMegabyteTune)->Unit(benchmark::kMicrosecond);

// What tunlet-cli info does with the crafted NSFe: load, and the summary.
void BM_InfoCraftedNsfe(benchmark::State& state) { LoadRepeatedly(state, "crafted.nsfe", CraftedNsfe()); }
BENCHMARK(BM_InfoCraftedNsfe)->Unit(benchmark::kMillisecond);

void BM_DescribeTune(benchmark::State& state) {
    tunlet::NsfTune tune;
    tune.Init();
    tune.bExtraSound = 0x3F;
    std::string text;
    for (auto _ : state) {
        tune.Describe(text);
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_DescribeTune);

void BM_DescribeRom(benchmark::State& state) {
    tunlet::NesRom rom;
    std::string text;
    for (auto _ : state) {
        rom.Describe(text);
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_DescribeRom);

}  // namespace

BENCHMARK_MAIN();
