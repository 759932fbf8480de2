// A board that exists only in memory: a cable back end whose device feeds every
// cable byte to a TapDecoder and records what happened, and answers read-back from
// the devices of its JTAG chain (by default one EP4CE22 whose design holds a virtual
// JTAG hub with one virtual JTAG node). For tests it can refuse to open, fail a
// chosen write, hold a write until the test releases it, be switched off (TDO stuck),
// and leave reads unanswered or fail them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cable/Cable.h"
#include "cable/JtagChain.h"
#include "cable/TapDecoder.h"

namespace tunlet {

// The named devices of --cable virtual:LIST.
inline constexpr char kChainDeviceNames[] = "ep4ce22, 5cseba6, nohub, epm570, dap";

class VirtualBoard : public CableBackend, public std::enable_shared_from_this<VirtualBoard> {
public:
    // What the board has seen since it was made (or since Reset).
    struct Record {
        std::vector<std::uint8_t> raw;  // every cable byte that went out
        std::vector<DWORD> writes;      // the size asked for in each write
        std::uint64_t bytes = 0;        // cable bytes that went out
        std::vector<JtagScan> scans;
        bool hasUser1 = false;
        std::uint64_t user1 = 0;
        std::uint64_t user1Bits = 0;
        std::vector<std::uint8_t> user0;
        unsigned user0LeftoverBits = 0;
        std::uint8_t user0LeftoverValue = 0;
        TapState state = TapState::TestLogicReset;
        bool outputEnable = false;
        int opens = 0;
        int closes = 0;
        int reads = 0;                  // FT_Read calls
        std::uint64_t readBytes = 0;    // bytes they returned
        bool open = false;
        std::vector<ChainDevice> chain;     // the devices behind the cable, the one nearest TDO first
        std::vector<DeviceRecord> devices;  // what each of them saw
    };

    // Decides the written-count of a write: nothing for a full write.
    using WriteFault = std::function<std::optional<DWORD>(std::size_t index, DWORD count)>;

    static std::shared_ptr<VirtualBoard> Create() { return std::shared_ptr<VirtualBoard>(new VirtualBoard); }

    // A chain written out for --cable virtual:LIST: devices from the one nearest TDO,
    // separated by commas, each one of kChainDeviceNames, 0xIDCODE:IR (a part with
    // that IDCODE and IR length) or none:IR (a device without IDCODE); "soc" is a
    // debug port beside a Cyclone V SoC, as on the DE-series SoC boards. Fills
    // devices, or returns why the list is not understood.
    static std::string ParseChain(const std::string& list, std::vector<ChainDevice>& devices);

    CableOpenResult Open(const char* description) override;

    void SetConnected(bool connected);
    // The devices behind the cable and what TDO does; starts the TAP afresh.
    void SetChain(std::vector<ChainDevice> devices, TdoLine line = TdoLine::Chain);
    // How reads go: answered, never answered (a cable that ignores read-back), failed.
    enum class Reads : std::uint8_t { Answered, Unanswered, Fail };
    void SetReads(Reads reads);
    // The write with this index (counted from 0 after each open) reports written bytes.
    void FailWrite(std::size_t index, DWORD written = 0);
    void SetWriteFault(WriteFault fault);
    // The write with this index (counted after each open) waits until ReleaseHeld.
    void HoldWrite(std::size_t index);
    // Waits until a write is held; false if none came within the timeout.
    bool WaitHeld(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void ReleaseHeld();
    // Called (on the closing thread) each time the device is closed.
    void SetCloseObserver(std::function<void()> observer);
    // Keep the raw cable bytes (on by default).
    void SetKeepRaw(bool keep);
    // Takes bytes no faster than bytesPerSecond (0: at once), as a real cable would.
    // Each write waits through sleep, which tests may replace to see the waits asked for.
    using Sleeper = std::function<void(std::chrono::nanoseconds)>;
    void SetPace(double bytesPerSecond, Sleeper sleep = nullptr);
    // Forgets everything recorded (the TAP too); connection and faults stay.
    void Reset();

    Record Snapshot() const;
    bool IsOpen() const;
    // What the board received, for people: the scans, the USER1 value, the USER0
    // byte count and CRC-32, and where the TAP ended (lines ending in LF).
    static std::string Describe(const Record& r);

private:
    class Device;
    VirtualBoard() = default;
    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written);
    FT_STATUS Read(void* buffer, DWORD count, DWORD* got);
    void Closed();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool connected_ = true;
    bool keepRaw_ = true;
    double pace_ = 0;
    Sleeper sleep_;
    WriteFault fault_;
    std::function<void()> closeObserver_;
    std::optional<std::size_t> holdIndex_;
    bool held_ = false;
    bool release_ = false;
    std::size_t writeIndex_ = 0;
    std::vector<ChainDevice> chain_ = DefaultBoardChain();
    TdoLine line_ = TdoLine::Chain;
    Reads reads_ = Reads::Answered;
    TapDecoder decoder_;
    std::vector<std::uint8_t> answers_;  // read-back not yet read
    Record record_;
};

}  // namespace tunlet
