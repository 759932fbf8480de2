#include "tests/LinkTestSupport.h"

#include <algorithm>
#include <stdexcept>

namespace tunlet::test {

const Bytes kPreamble = {
    0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D,  // ResetTap
    0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,                          // GoShiftIr
    0x81, 0x0E, 0x2C, 0x2D,                                                  // ShiftIrByte(USER1)
    0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,              // IrToShiftDr
    0x81, 0x00,                                                              // ShiftByte(0)
    0x3E, 0x3F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,  // DrToShiftIr
    0x81, 0x0C, 0x2C, 0x2D,                                                  // ShiftIrByte(USER0)
    0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,              // IrToShiftDr
};
const Bytes kEnding = {0x3E, 0x3F, 0x2E, 0x2F, 0x0C, 0x0D};

const Bytes kBoardCheck = [] {
    Bytes b = {
        0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D,  // Test-Logic-Reset, Run-Test/Idle
        0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,  // Select-DR-Scan, Capture-DR, Shift-DR
        0x2C,                                // TCK low before the shift command
        0xC0 | 36,                           // shift 36 bytes and read them back
    };
    b.insert(b.end(), 36, 0xFF);
    b.insert(b.end(), {0x3E, 0x3F, 0x2E, 0x2F, 0x0C, 0x0D});  // last 1, Update-DR, Run-Test/Idle, released
    return b;
}();

Bytes ExpectedStream(const Bytes& payload) {
    Bytes out = kPreamble;
    for (std::uint8_t b : payload) {
        out.push_back(0x81);
        out.push_back(b);
    }
    out.insert(out.end(), kEnding.begin(), kEnding.end());
    return out;
}

Bytes PackedRun(const Bytes& run) {
    Bytes out;
    for (std::size_t i = 0; i < run.size(); ++i) {
        if (i % 63 == 0) out.push_back(static_cast<std::uint8_t>(0x80 + std::min<std::size_t>(63, run.size() - i)));
        out.push_back(run[i]);
    }
    return out;
}

Bytes ExpectedPackedStream(const std::vector<Bytes>& runs) {
    Bytes out = kPreamble;
    out.push_back(0x2C);
    for (const Bytes& run : runs) {
        const Bytes packed = PackedRun(run);
        out.insert(out.end(), packed.begin(), packed.end());
    }
    out.insert(out.end(), kEnding.begin(), kEnding.end());
    return out;
}

BoardSession::BoardSession() {
    SetCableBackend(board);
    if (FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &handle) != FT_OK) throw std::runtime_error("open failed");
}

BoardSession::~BoardSession() {
    if (handle != nullptr) FT_Close(handle);
    SetCableBackend(nullptr);
}

}  // namespace tunlet::test
