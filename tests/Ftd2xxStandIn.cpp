// A stand-in for the vendor's FTD2XX.dll: the calls Tunlet uses, writing the cable
// bytes to the file named by FTD2XX_STANDIN_OUT (no such variable: no cable) and
// answering read-back from a modelled board, one EP4CE22 unless FTD2XX_STANDIN_BOARD
// says "off-high" or "off-low" (a board that is off: TDO stuck). Built again without
// FT_Write and without FT_Read, as broken drivers would be.
// With FTD2XX_STANDIN_FT2232H set to "Arrow USB Blaster" or "USB-Blaster III" there
// is such an FT2232H cable too: its channel A ("<product> A", serial "AR4711A")
// runs tests/MpsseExecutor.h once FT_SetBitMode turns MPSSE mode on, and
// StandInTap tells what its TAP received when it was last closed.
// FTD2XX_STANDIN_UNPLUG_AT=N: the cable goes away at the Nth FT_Write (from 0).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include <memory>
#include <string>

#include "cable/JtagChain.h"
#include "cable/TapDecoder.h"
#include "tests/MpsseExecutor.h"

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
    std::unique_ptr<tunlet::test::MpsseExecutor> chip;  // an FT2232H's channel A
    long writes = 0;
    long unplugAt = -1;
};

constexpr char kSerialA[] = "AR4711A";
tunlet::test::MpsseExecutor g_lastChip;  // the FT2232H's chip as it was closed

long UnplugAt() {
    const char* at = std::getenv("FTD2XX_STANDIN_UNPLUG_AT");
    return at != nullptr && *at != '\0' ? std::atol(at) : -1;
}

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
    const char* product = std::getenv("FTD2XX_STANDIN_FT2232H");
    if (product != nullptr && *product != '\0' && arg != nullptr) {
        const std::string name = static_cast<const char*>(arg);
        if (!(flags == 2 && name == std::string(product) + " A") && !(flags == 1 && name == kSerialA)) {
            return kDeviceNotFound;
        }
        const bool iii = std::strcmp(product, "USB-Blaster III") == 0;
        auto* s = new StandIn{nullptr, tunlet::TapDecoder(), {}, 0, 0,
                              std::make_unique<tunlet::test::MpsseExecutor>(
                                  tunlet::JtagChain(tunlet::DefaultBoardChain(), BoardLine()),
                                  iii ? tunlet::test::kBlasterIiiWiring : tunlet::test::kArrowWiring),
                              0, UnplugAt()};
        *handle = s;
        return kOk;
    }
    const char* out = std::getenv("FTD2XX_STANDIN_OUT");
    if (out == nullptr || *out == '\0' || flags != 2 || arg == nullptr) return kDeviceNotFound;
    std::FILE* f = std::fopen(out, "wb");
    if (f == nullptr) return kDeviceNotFound;
    auto* s = new StandIn{f, tunlet::TapDecoder(tunlet::JtagChain(BoardChain(), BoardLine())), {}, 0, 0, nullptr, 0, -1};
    *handle = s;
    return kOk;
}

#ifndef TUNLET_STANDIN_WITHOUT_WRITE
__declspec(dllexport) ULONG WINAPI FT_Write(void* handle, void* buffer, DWORD count, DWORD* written) {
    auto* s = static_cast<StandIn*>(handle);
    *written = 0;
    if (s->unplugAt >= 0 && s->writes++ >= s->unplugAt) return kIoError;
    std::vector<std::uint8_t> answer;
    if (s->chip) {
        s->chip->Take(static_cast<const std::uint8_t*>(buffer), count, answer);
        s->answers.insert(s->answers.end(), answer.begin(), answer.end());
        *written = count;
        return kOk;
    }
    const std::size_t n = std::fwrite(buffer, 1, count, s->file);
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
    if (s->unplugAt >= 0 && s->writes > s->unplugAt) return kIoError;
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

__declspec(dllexport) ULONG WINAPI FT_SetBitMode(void* handle, UCHAR, UCHAR mode) {
    auto* s = static_cast<StandIn*>(handle);
    if (s->unplugAt >= 0 && s->writes > s->unplugAt) return kIoError;
    if (s->chip) s->chip->SetMpsse(mode == 2);
    return kOk;
}

__declspec(dllexport) ULONG WINAPI FT_SetLatencyTimer(void*, UCHAR) { return kOk; }

__declspec(dllexport) ULONG WINAPI FT_GetDeviceInfo(void* handle, ULONG* type, DWORD* id, char* serial,
                                                    char* description, void*) {
    *type = 6;  // FT2232H
    *id = 0x04036010;
    std::strcpy(serial, static_cast<StandIn*>(handle)->chip ? kSerialA : "");
    std::strcpy(description, "");
    return kOk;
}

// What the FT2232H's TAP received up to its last close: the TAP state's number, the
// USER0 bytes (up to size of them into user0, *got how many there are) and the TCK
// edges that reached it.
__declspec(dllexport) int StandInTap(unsigned char* user0, DWORD size, DWORD* got, unsigned long long* clocks) {
    const std::vector<std::uint8_t>& u = g_lastChip.user0();
    *got = static_cast<DWORD>(u.size());
    for (std::size_t i = 0; i < u.size() && i < size; ++i) user0[i] = u[i];
    *clocks = g_lastChip.clocks();
    return static_cast<int>(g_lastChip.state());
}

__declspec(dllexport) ULONG WINAPI FT_Close(void* handle) {
    auto* s = static_cast<StandIn*>(handle);
    if (s->chip) g_lastChip = *s->chip;
    if (s->file != nullptr) std::fclose(s->file);
    delete s;
    return kOk;
}

}  // extern "C"
