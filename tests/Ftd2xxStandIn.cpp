// A stand-in for the vendor's FTD2XX.dll: the calls Tunlet uses, writing the cable
// bytes to the file named by FTD2XX_STANDIN_OUT (no such variable: no cable) and
// answering read-back from a modelled board, one EP4CE22 unless FTD2XX_STANDIN_BOARD
// says "off-high" or "off-low" (a board that is off: TDO stuck). Built again without
// FT_Write and without FT_Read, as broken drivers would be.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "cable/JtagChain.h"
#include "cable/TapDecoder.h"

namespace {
constexpr ULONG kOk = 0;
constexpr ULONG kDeviceNotFound = 2;
constexpr ULONG kIoError = 4;

struct StandIn {
    std::FILE* file = nullptr;
    tunlet::TapDecoder tap;
    std::deque<unsigned char> answers;
    ULONG readTimeoutMs = 0;  // 0 until FT_SetTimeouts: a read would wait for ever
    int purges = 0;
};

tunlet::TdoLine BoardLine() {
    const char* board = std::getenv("FTD2XX_STANDIN_BOARD");
    if (board != nullptr && std::strcmp(board, "off-high") == 0) return tunlet::TdoLine::StuckHigh;
    if (board != nullptr && std::strcmp(board, "off-low") == 0) return tunlet::TdoLine::StuckLow;
    return tunlet::TdoLine::Chain;
}

// "soc": a Cyclone V SoC's FPGA nearest TDO, the HPS's debug port between it and the
// cable's TDI; else the usual board.
std::vector<tunlet::ChainDevice> BoardChain() {
    const char* board = std::getenv("FTD2XX_STANDIN_BOARD");
    if (board != nullptr && std::strcmp(board, "soc") == 0) {
        return {tunlet::ChainDevice{0x02D020DD, 10, tunlet::VirtualHub{}}, tunlet::ChainDevice{0x4BA00477, 4, std::nullopt}};
    }
    return tunlet::DefaultBoardChain();
}
}  // namespace

extern "C" {

__declspec(dllexport) ULONG WINAPI FT_OpenEx(void* arg, DWORD flags, void** handle) {
    const char* out = std::getenv("FTD2XX_STANDIN_OUT");
    if (out == nullptr || *out == '\0' || flags != 2 || arg == nullptr) return kDeviceNotFound;
    std::FILE* f = std::fopen(out, "wb");
    if (f == nullptr) return kDeviceNotFound;
    auto* s = new StandIn{f, tunlet::TapDecoder(tunlet::JtagChain(BoardChain(), BoardLine())), {}, 0, 0};
    *handle = s;
    return kOk;
}

#ifndef TUNLET_STANDIN_WITHOUT_WRITE
__declspec(dllexport) ULONG WINAPI FT_Write(void* handle, void* buffer, DWORD count, DWORD* written) {
    auto* s = static_cast<StandIn*>(handle);
    const std::size_t n = std::fwrite(buffer, 1, count, s->file);
    std::vector<std::uint8_t> answer;
    s->tap.Feed(static_cast<const std::uint8_t*>(buffer), n, &answer);
    s->answers.insert(s->answers.end(), answer.begin(), answer.end());
    *written = static_cast<DWORD>(n);
    return n == count ? kOk : kIoError;
}
#endif

#ifndef TUNLET_STANDIN_WITHOUT_READ
// Returns what the board answered; a read without time-outs set, or one that must
// wait, is refused rather than left hanging as the real driver would.
__declspec(dllexport) ULONG WINAPI FT_Read(void* handle, void* buffer, DWORD count, DWORD* got) {
    auto* s = static_cast<StandIn*>(handle);
    *got = 0;
    if (s->readTimeoutMs == 0 || s->purges == 0) return kIoError;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (*got < count && !s->answers.empty()) {
        bytes[(*got)++] = s->answers.front();
        s->answers.pop_front();
    }
    return kOk;
}
#endif

__declspec(dllexport) ULONG WINAPI FT_SetTimeouts(void* handle, ULONG readMs, ULONG) {
    static_cast<StandIn*>(handle)->readTimeoutMs = readMs;
    return kOk;
}

__declspec(dllexport) ULONG WINAPI FT_Purge(void* handle, ULONG mask) {
    auto* s = static_cast<StandIn*>(handle);
    if (mask & 1) s->answers.clear();
    ++s->purges;
    return kOk;
}

__declspec(dllexport) ULONG WINAPI FT_Close(void* handle) {
    auto* s = static_cast<StandIn*>(handle);
    std::fclose(s->file);
    delete s;
    return kOk;
}

}  // extern "C"
