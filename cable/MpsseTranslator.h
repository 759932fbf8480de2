// FTDI's MPSSE engine (FT2232H channel A) driven with the USB-Blaster byte stream.
//
// The uploads, the board check and scan write USB-Blaster bytes (link/BlasterJtag.h);
// this encoder turns them into MPSSE commands for cables built on an FT2232H (the
// Arrow USB Blaster, the USB-Blaster III) and turns the chip's answers back into the
// answers a USB-Blaster would give. No USB here: a back end writes what it makes.
//
// The MPSSE commands used (FTDI AN_108). Lengths are one less than the count:
//   0x19 LL LH data...  clock LL|LH<<8 + 1 bytes out on TDI, LSB first, TDI changed
//                       on the falling TCK edge; TMS stays at its pin level.
//   0x39 LL LH data...  the same, and TDO read on the rising edge: one answer byte
//                       per data byte, the first bit in bit 0.
//   0x1B L data         clock L + 1 (1..8) bits out on TDI, LSB first.
//   0x3B L data         the same with TDO read: one answer byte, the bits shifted
//                       in from bit 7 down, so the last bit read is bit 7.
//   0x4B L data         clock L + 1 (1..7) bits out on TMS, LSB first, falling edge;
//                       bit 7 of data is held on TDI throughout; the TMS pin keeps
//                       the last bit.
//   0x6B L data         the same with TDO read on the rising edge (answer as 0x3B).
//   0x80 value dir      ADBUS levels and directions; 0x82 the same for ACBUS.
//   0x81                answers the ADBUS levels (TDO is ADBUS2).
//   0x87                send what the chip holds to the host now.
//   0x8A 0x97 0x8D 0x85 divide-by-5 off (60 MHz base), adaptive clocking off,
//                       three-phase clocking off, loopback off.
//   0x86 VL VH          TCK = 60 MHz / ((1 + VL|VH<<8) * 2).
//   An unknown command is answered 0xFA and the command byte.
// Pins: ADBUS0 TCK, ADBUS1 TDI, ADBUS2 TDO (input), ADBUS3 TMS; TCK idles low.
//
// One USB-Blaster clock (TCK rising in a bit-bang byte, or a bit of a byte-shift
// command) becomes one MPSSE clock with the same TMS and TDI; a read-back on that
// clock becomes a read of the TDO bit the clock samples. Runs of shifted bytes with
// TMS low become 0x19/0x39 commands; other clocks become 0x4B/0x6B (TDI constant) or
// 0x1B/0x3B (TMS low) commands of up to 7 or 8 bits, each ending at a read. A
// bit-bang read-back with no rising edge reads the TDO pin (0x81).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace tunlet {

namespace mpsse {
constexpr std::uint8_t kBytesOut = 0x19;
constexpr std::uint8_t kBitsOut = 0x1B;
constexpr std::uint8_t kBytesInOut = 0x39;
constexpr std::uint8_t kBitsInOut = 0x3B;
constexpr std::uint8_t kTmsOut = 0x4B;
constexpr std::uint8_t kTmsInOut = 0x6B;
constexpr std::uint8_t kSetLow = 0x80;
constexpr std::uint8_t kReadLow = 0x81;
constexpr std::uint8_t kSetHigh = 0x82;
constexpr std::uint8_t kLoopbackOff = 0x85;
constexpr std::uint8_t kDivisor = 0x86;
constexpr std::uint8_t kSendImmediate = 0x87;
constexpr std::uint8_t kDivideBy5Off = 0x8A;
constexpr std::uint8_t kThreePhaseOff = 0x8D;
constexpr std::uint8_t kAdaptiveOff = 0x97;
constexpr std::uint8_t kBadCommand = 0xFA;  // the answer to an unknown command
constexpr std::uint8_t kBogusCommand = 0xAA;  // sent at open: must come back as 0xFA 0xAA

constexpr std::uint8_t kPinTck = 0x01;
constexpr std::uint8_t kPinTdi = 0x02;
constexpr std::uint8_t kPinTdo = 0x04;
constexpr std::uint8_t kPinTms = 0x08;
constexpr unsigned kTdoBit = 2;

constexpr unsigned kMaxTmsBits = 7;
constexpr unsigned kMaxBits = 8;
// Data bytes per 0x19/0x39 command (the chip takes 65536): a cut write leaves at
// most this many owed, which the back end pads.
constexpr std::size_t kMaxRunBytes = 4096;
constexpr unsigned kBaseClockKhz = 60000;
constexpr unsigned kDefaultTckKhz = 6000;
constexpr unsigned kMaxTckKhz = 30000;
// High-speed USB packet: the chip answers with 2 status bytes at the head of each.
constexpr std::size_t kPacketBytes = 512;
}  // namespace mpsse

// The pins a cable drives: ADBUS levels and directions, and ACBUS for a cable with
// buffers to enable.
struct MpssePins {
    std::uint8_t lowValue = mpsse::kPinTms;
    std::uint8_t lowDirection = mpsse::kPinTck | mpsse::kPinTdi | mpsse::kPinTms;
    bool high = false;
    std::uint8_t highValue = 0;
    std::uint8_t highDirection = 0;
};

// The commands that set the chip up after MPSSE mode is on: clocking modes, TCK (the
// fastest rate not above tckKhz) and the pins.
std::vector<std::uint8_t> MpsseSetup(const MpssePins& pins, unsigned tckKhz);
// The TCK rate the divisor for tckKhz gives.
unsigned MpsseTckKhz(unsigned tckKhz);

class MpsseTranslator {
public:
    explicit MpsseTranslator(const MpssePins& pins = {}) : pins_(pins) {}

    // Takes USB-Blaster bytes; a command or clock cut between calls continues.
    void Feed(const std::uint8_t* data, std::size_t count);
    // Completes the commands for everything fed (0x87 behind them when an answer is
    // owed) and hands them over.
    std::vector<std::uint8_t> Take();
    // MPSSE answer bytes owed for what was taken and not yet decoded.
    std::size_t Owed() const { return answers_.size(); }
    // Turns MPSSE answer bytes (status bytes already off) into USB-Blaster answer
    // bytes, appended to out.
    void Decode(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>& out);
    // After the chip was restarted and set up again (its TMS pin back at the pins'
    // level, nothing owed): what was taken is forgotten; a USB-Blaster command cut
    // between calls still takes its data bytes, as the USB-Blaster would.
    void Resync();

private:
    struct Clock {
        bool tms, tdi, read;
    };
    struct Answer {  // where the bits of one MPSSE answer byte are
        std::uint8_t shift, count;
    };
    void PushClock(bool tms, bool tdi, bool read);
    void EncodeClocks();
    void CloseRun();
    void ShiftByte(std::uint8_t b);

    MpssePins pins_;
    std::vector<std::uint8_t> out_;
    std::vector<Clock> clocks_;
    bool pinTms_ = true;  // the TMS pin's level now
    bool tck_ = false;    // the USB-Blaster's TCK as the stream left it
    bool tms_ = false;    // its TMS level
    unsigned owed_ = 0;   // data bytes the current byte-shift command still takes
    bool shiftRead_ = false;
    bool runOpen_ = false;
    bool runRead_ = false;
    std::size_t runHeader_ = 0;
    std::size_t runBytes_ = 0;
    bool readPending_ = false;  // a read since the last 0x87
    std::deque<Answer> answers_;
    std::deque<std::uint8_t> slots_;  // bits of each USB-Blaster answer byte: 8 or 1
    unsigned accBits_ = 0;
    std::uint8_t accValue_ = 0;
};

}  // namespace tunlet
