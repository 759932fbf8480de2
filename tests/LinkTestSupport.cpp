#include "tests/LinkTestSupport.h"

#include <algorithm>
#include <stdexcept>
#include <string>

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
const Bytes kPackedPreamble = {
    0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D,  // ResetTap
    0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,                          // GoShiftIr
    0x2C, 0x81, 0x0E, 0x2C, 0x2D,                                            // TCK low, ShiftIrByte(USER1)
    0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,              // IrToShiftDr
    0x2C, 0x81, 0x00,                                                        // TCK low, ShiftByte(0)
    0x3E, 0x3F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,  // DrToShiftIr
    0x2C, 0x81, 0x0C, 0x2C, 0x2D,                                            // TCK low, ShiftIrByte(USER0)
    0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,              // IrToShiftDr
};

const Bytes kChainRead = [] {
    Bytes b = {
        0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D,  // Test-Logic-Reset, Run-Test/Idle
        0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,  // Select-DR-Scan, Capture-DR, Shift-DR
        0x2C,                                // TCK low before the shift command
        0xC0 | 36,                           // shift 36 bytes and read them back
    };
    b.insert(b.end(), 36, 0xFF);
    // A last 1, Update-DR, Select-DR-Scan, Select-IR-Scan, Capture-IR, Shift-IR, TCK low
    b.insert(b.end(), {0x3E, 0x3F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D, 0x2C});
    for (int i = 0; i < 16; ++i) b.insert(b.end(), {0x81, 0x00});  // 128 zeros flush every IR
    b.push_back(0xC0 | 16);                                         // 128 ones in, read back
    b.insert(b.end(), 16, 0xFF);
    for (int i = 0; i < 16; ++i) b.insert(b.end(), {0x81, 0xFF});  // 128 more ones
    b.insert(b.end(), {0x3E, 0x3F, 0x2E, 0x2F, 0x0C, 0x0D});  // last 1, Update-IR, Run-Test/Idle, released
    return b;
}();

const Bytes kHubHead = [] {
    Bytes b = {
        0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D,  // Test-Logic-Reset, Run-Test/Idle
        0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,                          // to Shift-IR
        0x2C, 0x81, 0x0E, 0x2C, 0x2D,                  // TCK low, USER1's 8 bits, a ninth 0
        0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,  // a tenth 0, Update-IR, to Shift-DR
        0x2C,                                          // TCK low
    };
    for (int i = 0; i < 7; ++i) b.insert(b.end(), {0x81, 0x00});  // 56 zero bits into USER1
    for (int i = 0; i < 7; ++i) b.insert(b.end(), {0x2C, 0x2D});  // 7 more
    b.insert(b.end(), {0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D});      // the 64th to Exit1-DR, Update-DR, Run-Test/Idle
    b.insert(b.end(), {0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D, 0x2C, 0x81, 0x0C, 0x2C, 0x2D});  // USER0
    b.insert(b.end(), {0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D});  // to Shift-DR: nibble 0
    for (int nibble = 0; nibble < 16; ++nibble) {
        if (nibble > 0) b.insert(b.end(), {0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D});  // Select, Capture, Shift-DR
        b.insert(b.end(), {0x2C, 0xC1, 0x00, 0x2E, 0x2F, 0x2E, 0x2F});  // read 8 bits, Exit1-DR, Update-DR
    }
    b.insert(b.end(), {0x0C, 0x0D});  // Run-Test/Idle, outputs released
    return b;
}();

const Bytes kBoardCheck = [] {
    Bytes b = kChainRead;
    b.insert(b.end(), kHubHead.begin(), kHubHead.end());
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
    // The command bytes of a run, as the protocol gives them: 0x80 | count before
    // every 63 data bytes (0xBF) and one before the rest.
    struct Lengths {
        std::size_t n;
        std::vector<std::uint8_t> commands;
    };
    static const Lengths kTable[] = {
        {2, {0x82}},
        {3, {0x83}},
        {4, {0x84}},
        {16, {0x90}},
        {128, {0xBF, 0xBF, 0x82}},
        {4096, [] {
             std::vector<std::uint8_t> c(65, 0xBF);
             c.push_back(0x81);
             return c;
         }()},
    };
    for (const Lengths& l : kTable) {
        if (l.n != run.size()) continue;
        Bytes out;
        for (std::size_t k = 0; k < l.commands.size(); ++k) {
            out.push_back(l.commands[k]);
            const std::size_t from = k * 63;
            out.insert(out.end(), run.begin() + static_cast<std::ptrdiff_t>(from),
                       run.begin() + static_cast<std::ptrdiff_t>(from + (l.commands[k] & 0x3F)));
        }
        return out;
    }
    throw std::logic_error("no packed run of " + std::to_string(run.size()) + " bytes in the table");
}

Bytes ExpectedPackedStream(const std::vector<Bytes>& runs) {
    Bytes out = kPackedPreamble;
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

std::size_t User0BitsDiffer(const DeviceRecord& got, const DeviceRecord& alone, unsigned lead) {
    if (got.user0Bits != alone.user0Bits + lead) {
        return static_cast<std::size_t>(got.user0Bits > alone.user0Bits + lead ? got.user0Bits - alone.user0Bits - lead
                                                                              : alone.user0Bits + lead - got.user0Bits);
    }
    const auto bit = [](const DeviceRecord& d, std::uint64_t i) { return ((d.user0[i / 8] >> (i % 8)) & 1) != 0; };
    std::size_t wrong = 0;
    for (std::uint64_t i = 0; i < lead; ++i) wrong += bit(got, i) ? 1 : 0;
    for (std::uint64_t i = 0; i < alone.user0Bits; ++i) wrong += bit(got, i + lead) != bit(alone, i) ? 1 : 0;
    return wrong;
}

}  // namespace tunlet::test
