#include "cable/VirtualBoard.h"

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <thread>

#include "cable/Crc32.h"

namespace tunlet {

class VirtualBoard::Device : public CableDevice {
public:
    explicit Device(std::shared_ptr<VirtualBoard> board) : board_(std::move(board)) {}
    ~Device() override { board_->Closed(); }
    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override {
        return board_->Write(buffer, count, written);
    }
    bool CanRead() const override { return true; }
    FT_STATUS Read(void* buffer, DWORD count, DWORD* got) override { return board_->Read(buffer, count, got); }

private:
    std::shared_ptr<VirtualBoard> board_;
};

CableOpenResult VirtualBoard::Open(const char* description) {
    CableOpenResult result;
    std::lock_guard lock(mutex_);
    if (!connected_ || std::strcmp(description, "USB-Blaster") != 0) {
        result.status = FT_DEVICE_NOT_FOUND;
        result.reason = "no USB-Blaster found (the virtual board is unplugged)";
        return result;
    }
    if (record_.open) {
        result.status = FT_DEVICE_NOT_OPENED;
        result.reason = "the USB-Blaster is busy (already open)";
        return result;
    }
    record_.open = true;
    ++record_.opens;
    writeIndex_ = 0;
    answers_.clear();  // stale answers are purged at open
    result.status = FT_OK;
    result.name = "virtual board";
    result.device = std::make_unique<Device>(shared_from_this());
    return result;
}

FT_STATUS VirtualBoard::Write(const void* buffer, DWORD count, DWORD* written) {
    std::unique_lock lock(mutex_);
    const std::size_t index = writeIndex_++;
    if (holdIndex_ && *holdIndex_ == index) {
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return release_; });
        held_ = false;
        release_ = false;
        holdIndex_.reset();
    }
    if (pace_ > 0) {
        const Sleeper sleep = sleep_;
        const auto wait = std::chrono::nanoseconds(static_cast<std::int64_t>(count * 1e9 / pace_));
        lock.unlock();  // Stop and the UI go on while the cable takes its time
        if (sleep) {
            sleep(wait);
        } else {
            std::this_thread::sleep_for(wait);
        }
        lock.lock();
    }
    DWORD sent = count;
    if (fault_) {
        WriteFault fault = fault_;
        lock.unlock();  // a fault may take its time (a slow cable)
        const std::optional<DWORD> chosen = fault(index, count);
        lock.lock();
        if (chosen && *chosen < count) sent = *chosen;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    record_.writes.push_back(count);
    record_.bytes += sent;
    if (keepRaw_) record_.raw.insert(record_.raw.end(), bytes, bytes + sent);
    decoder_.Feed(bytes, sent, &answers_);
    *written = sent;
    return sent == count ? FT_OK : FT_IO_ERROR;
}

FT_STATUS VirtualBoard::Read(void* buffer, DWORD count, DWORD* got) {
    std::lock_guard lock(mutex_);
    *got = 0;
    ++record_.reads;
    if (reads_ == Reads::Fail) return FT_IO_ERROR;
    if (reads_ == Reads::Unanswered) return FT_OK;  // the wait ran out with nothing
    const DWORD n = static_cast<DWORD>(std::min<std::size_t>(count, answers_.size()));
    std::memcpy(buffer, answers_.data(), n);
    answers_.erase(answers_.begin(), answers_.begin() + n);
    record_.readBytes += n;
    *got = n;
    return FT_OK;
}

void VirtualBoard::SetChain(std::vector<ChainDevice> devices, TdoLine line) {
    std::lock_guard lock(mutex_);
    chain_ = std::move(devices);
    line_ = line;
    decoder_ = TapDecoder(JtagChain(chain_, line_));
    answers_.clear();
}

void VirtualBoard::SetReads(Reads reads) {
    std::lock_guard lock(mutex_);
    reads_ = reads;
}

void VirtualBoard::Closed() {
    std::function<void()> observer;
    {
        std::lock_guard lock(mutex_);
        record_.open = false;
        ++record_.closes;
        observer = closeObserver_;
        changed_.notify_all();
    }
    if (observer) observer();
}

void VirtualBoard::SetCloseObserver(std::function<void()> observer) {
    std::lock_guard lock(mutex_);
    closeObserver_ = std::move(observer);
}

void VirtualBoard::SetConnected(bool connected) {
    std::lock_guard lock(mutex_);
    connected_ = connected;
}

void VirtualBoard::FailWrite(std::size_t index, DWORD written) {
    SetWriteFault([index, written](std::size_t i, DWORD) -> std::optional<DWORD> {
        if (i == index) return written;
        return std::nullopt;
    });
}

void VirtualBoard::SetWriteFault(WriteFault fault) {
    std::lock_guard lock(mutex_);
    fault_ = std::move(fault);
}

void VirtualBoard::HoldWrite(std::size_t index) {
    std::lock_guard lock(mutex_);
    holdIndex_ = index;
    release_ = false;
}

bool VirtualBoard::WaitHeld(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return held_; });
}

void VirtualBoard::ReleaseHeld() {
    std::lock_guard lock(mutex_);
    if (holdIndex_ || held_) release_ = true;
    holdIndex_.reset();
    changed_.notify_all();
}

void VirtualBoard::SetKeepRaw(bool keep) {
    std::lock_guard lock(mutex_);
    keepRaw_ = keep;
}

void VirtualBoard::SetPace(double bytesPerSecond, Sleeper sleep) {
    std::lock_guard lock(mutex_);
    pace_ = bytesPerSecond;
    sleep_ = std::move(sleep);
}

void VirtualBoard::Reset() {
    std::lock_guard lock(mutex_);
    const bool open = record_.open;
    decoder_ = TapDecoder(JtagChain(chain_, line_));
    answers_.clear();
    record_ = Record{};
    record_.open = open;
}

VirtualBoard::Record VirtualBoard::Snapshot() const {
    std::lock_guard lock(mutex_);
    Record r = record_;
    r.scans = decoder_.scans();
    r.hasUser1 = decoder_.hasUser1();
    r.user1 = decoder_.user1();
    r.user1Bits = decoder_.user1Bits();
    r.user0 = decoder_.user0();
    r.user0LeftoverBits = decoder_.user0LeftoverBits();
    r.user0LeftoverValue = decoder_.user0LeftoverValue();
    r.state = decoder_.state();
    r.outputEnable = decoder_.outputEnable();
    return r;
}

bool VirtualBoard::IsOpen() const {
    std::lock_guard lock(mutex_);
    return record_.open;
}

}  // namespace tunlet

namespace tunlet {

std::string VirtualBoard::Describe(const Record& r) {
    std::ostringstream out;
    out << "virtual board received " << r.bytes << " cable bytes in " << r.writes.size() << " writes\n";
    for (const JtagScan& s : r.scans) {
        if (s.instruction) {
            out << "  IR scan: " << s.bits << " bits, instruction 0x" << std::hex << std::uppercase << std::setw(3)
                << std::setfill('0') << s.value << std::dec << std::setfill(' ') << "\n";
        } else {
            out << "  DR scan: " << s.bits << " bits into "
                << (s.ir == kIrUser0   ? "USER0"
                    : s.ir == kIrUser1 ? "USER1"
                    : s.ir == kIrIdcode ? "IDCODE"
                                        : "another register")
                << "\n";
        }
    }
    if (r.hasUser1) {
        out << "USER1: 0x" << std::hex << std::uppercase << r.user1 << std::dec << " (" << r.user1Bits << " bits)\n";
    } else {
        out << "USER1: not loaded\n";
    }
    out << "USER0: " << r.user0.size() << " bytes, CRC-32 " << std::hex << std::uppercase << std::setw(8)
        << std::setfill('0') << Crc32(r.user0.data(), r.user0.size()) << std::dec << std::setfill(' ');
    if (r.user0LeftoverBits != 0) out << ", then " << r.user0LeftoverBits << " more bit(s)";
    out << "\n";
    out << "TAP: " << TapStateName(r.state) << ", outputs " << (r.outputEnable ? "enabled" : "released") << "\n";
    return out.str();
}

}  // namespace tunlet
