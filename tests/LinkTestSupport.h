// A stand-in for the dialog as the upload workers see it, and the expected cable
// stream for a payload.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/Upload.h"
#include "cable/VirtualBoard.h"
#include "tests/TestFiles.h"

namespace tunlet::test {

class FakeHost : public UploadJob {
public:
    std::vector<int> progress;
    std::vector<std::string> messages;
    std::function<void(int)> onProgress;  // runs after each position is recorded

    FakeHost() { busy = 1; }
    // A host whose uploads go to the cable opened as board.
    explicit FakeHost(FT_HANDLE cable) : FakeHost() { board = cable; }
    void SetProgress(int position) override {
        progress.push_back(position);
        if (onProgress) onProgress(position);
    }
    void ShowMessage(const char* text) override { messages.emplace_back(text); }
};

// The 62 preamble bytes as the board's designers wrote them down.
extern const Bytes kPreamble;
extern const Bytes kEnding;
// Packed mode's preamble: the same walks, and a 0x2C (TCK low) before each of its
// three shift commands, which follow walks that end with TCK high.
extern const Bytes kPackedPreamble;
// The board check that goes before an upload: the chain read (reset, Shift-DR, 36
// bytes of ones read back; to Shift-IR, 128 zeros, 128 ones read back, 128 more,
// the closing walk), then the hub's head (USER1 loaded with
// 64 zero bits, USER0 selected, 16 nibbles read back one byte each).
extern const Bytes kChainRead;
extern const Bytes kHubHead;
extern const Bytes kBoardCheck;

// Preamble, one shift word per payload byte, ending.
Bytes ExpectedStream(const Bytes& payload);

// Packed mode: one run of data bytes as shift commands, 63 bytes to a command
// (0x80 | 63 = 0xBF) and a last command with the rest, from a table of the run
// lengths the uploads use.
Bytes PackedRun(const Bytes& run);
// Packed preamble, TCK brought low (0x2C), each run packed on its own, ending.
Bytes ExpectedPackedStream(const std::vector<Bytes>& runs);

// How many of the bits an FPGA's USER0 took differ from what it takes alone in the
// chain, after `lead` captured 0 bits of the devices nearer the cable's TDI (a count
// that does not match is the difference in count).
std::size_t User0BitsDiffer(const DeviceRecord& got, const DeviceRecord& alone, unsigned lead);

// Installs a fresh virtual board as the cable back end and opens it.
struct BoardSession {
    std::shared_ptr<VirtualBoard> board = VirtualBoard::Create();
    FT_HANDLE handle = nullptr;
    BoardSession();
    ~BoardSession();
};

}  // namespace tunlet::test
