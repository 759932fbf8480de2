// Cables built on an FTDI FT2232H driven through its MPSSE engine (the Arrow USB
// Blaster of the CYC1000 and MAX1000 boards, the USB-Blaster III), whatever USB stack
// reaches the chip. The link layer writes USB-Blaster bytes to them as to any cable:
// MpsseDevice turns those into MPSSE commands (cable/MpsseTranslator.h) and the
// chip's answers back into the answers a USB-Blaster gives. A back end (libftdi on
// Linux, FTD2XX.dll on Windows) supplies only an MpssePort: raw bytes to and from
// channel A, and a way to start MPSSE mode afresh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "cable/Cable.h"
#include "cable/MpsseTranslator.h"
#include "cable/TapDecoder.h"

namespace tunlet {

// One kind of FT2232H cable: how it is found and the pins it drives.
struct MpsseCableModel {
    const char* option;        // its --cable NAME ("arrow-usb-blaster")
    const char* name;          // for people ("Arrow USB Blaster")
    int vendor;
    int product;
    const char* usbProduct;    // the USB product string it must have; null: any
    const char* d2xxChannelA;  // what FTD2XX.dll calls its channel A: the product and " A"
    MpssePins pins;
};

// 0403:6010 with the product "Arrow USB Blaster"; no buffer to enable.
extern const MpsseCableModel kArrowUsbBlaster;
// 09fb:6022: also drives the level shifters' enables (ADBUS4/5 low, ACBUS4 high,
// ACBUS5/7 low).
extern const MpsseCableModel kUsbBlasterIii;

// A back end made with tckKhz 0 takes, at each open, the TCK the window's setting
// chose (SetWindowTckKhz; 6 MHz until it is set): OpenTckKhz; any other value is its own.
void SetWindowTckKhz(unsigned khz);
unsigned OpenTckKhz(unsigned asked);

// The value of --tck: MHz, above 0 and at most 30 (the FT2232H's limit), as kHz.
bool ParseTckMhz(const std::string& value, unsigned& khz);
inline constexpr char kTckProblem[] = "--tck needs a TCK in MHz, above 0 and at most 30";

// "Arrow USB Blaster (serial AB1234)", or the name alone without a serial.
std::string MpsseCableName(const MpsseCableModel& model, const std::string& serial);

// Channel A of an open FT2232H, as a USB stack reaches it.
class MpssePort {
public:
    virtual ~MpssePort() = default;
    // Sends all count bytes, or fails.
    virtual FT_STATUS Write(const std::uint8_t* data, std::size_t count) = 0;
    // Takes up to count answer bytes (the chip's status bytes already off), waiting
    // at most the port's read bound; *got tells how many came.
    virtual FT_STATUS Read(std::uint8_t* data, std::size_t count, std::size_t* got) = 0;
    // Resets the chip's mode, drops whatever waits in either direction and turns MPSSE
    // mode on: the command parser starts afresh.
    virtual FT_STATUS Restart() = 0;
};

// Sets the chip up on a freshly restarted port (clocking, TCK, pins) and checks that
// it is in MPSSE mode: a bogus command must come back as 0xFA and the command. ""
// when the chip is ready, else why not.
std::string StartMpsse(MpssePort& port, const MpssePins& pins, unsigned tckKhz);

// An open FT2232H cable: USB-Blaster bytes in, MPSSE commands out.
class MpsseDevice : public CableDevice {
public:
    MpsseDevice(std::unique_ptr<MpssePort> port, const MpssePins& pins, unsigned tckKhz)
        : port_(std::move(port)), pins_(pins), tckKhz_(tckKhz), translator_(pins) {}

    // The MPSSE commands of the bytes, written at once, with one exception: a small
    // write that leaves the TAP in Shift-DR or Shift-IR and asks for no answer (the
    // walks and single shifts of an upload's preamble) is held and goes out with the
    // next write, since a stream never ends inside a scan: each costs the chip a
    // USB round trip of idle TCK otherwise. After a failed write the chip may hold
    // half a command: the port is restarted and set up again, so that what comes
    // next (the recovery walk) is read as commands.
    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override;
    bool CanRead() const override { return true; }
    // Reads the MPSSE answers owed for what was written and hands back the
    // USB-Blaster answer bytes they make.
    FT_STATUS Read(void* buffer, DWORD count, DWORD* got) override;
    // Sends what is held (nothing, after a stream that ended outside a scan).
    FT_STATUS Close() override;

    // Held commands go out once they reach this many bytes.
    static constexpr std::size_t kHoldBytes = 8 * mpsse::kPacketBytes;

private:
    void Follow(const std::uint8_t* data, std::size_t count);  // the TAP state the bytes lead to
    FT_STATUS SendHeld();

    std::unique_ptr<MpssePort> port_;
    MpssePins pins_;
    unsigned tckKhz_;
    MpsseTranslator translator_;
    std::deque<std::uint8_t> answers_;  // decoded, not yet taken
    std::vector<std::uint8_t> scratch_;
    std::vector<std::uint8_t> held_;
    TapState state_ = TapState::TestLogicReset;
    bool tck_ = false, tms_ = false;
    unsigned owed_ = 0;
};

}  // namespace tunlet
