#include "cable/VirtualBoard.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

std::string VirtualBoard::ParseChain(const std::string& list, std::vector<ChainDevice>& devices) {
    struct Named {
        const char* name;
        ChainDevice device;
    };
    const VirtualHub player;  // the player's design: one virtual JTAG node
    const Named kNamed[] = {
        {"ep4ce22", {kEp4ce22Idcode, kIrLength, player}},    // Cyclone IV E with the player's design
        {"5cseba6", {0x02D020DD, kIrLength, player}},        // Cyclone V SoC (DE10-Nano) with it
        {"nohub", {kEp4ce22Idcode, kIrLength, std::nullopt}},  // an FPGA whose design has no hub
        {"epm570", {0x020A20DD, kIrLength, std::nullopt}},   // MAX II CPLD
        {"dap", {0x4BA00477, 4, std::nullopt}},              // the HPS's ARM debug port
    };
    devices.clear();
    std::string rest = list == "soc" ? "dap,5cseba6" : list;
    for (;;) {
        const std::size_t comma = rest.find(',');
        const std::string item = rest.substr(0, comma);
        bool found = false;
        for (const Named& n : kNamed) {
            if (item == n.name) {
                devices.push_back(n.device);
                found = true;
            }
        }
        const std::size_t colon = item.find(':');
        if (!found && colon != std::string::npos) {
            const std::string id = item.substr(0, colon), ir = item.substr(colon + 1);
            char* end = nullptr;
            const unsigned long irBits = std::strtoul(ir.c_str(), &end, 10);
            const bool irOk = !ir.empty() && *end == '\0' && irBits >= 2 && irBits <= 32;
            end = nullptr;
            const unsigned long code = std::strtoul(id.c_str(), &end, 16);
            const bool idOk = id.size() == 10 && id.rfind("0x", 0) == 0 && *end == '\0' && (code & 1) != 0;
            if (irOk && (id == "none" || idOk)) {
                ChainDevice d{std::nullopt, static_cast<unsigned>(irBits), std::nullopt};
                if (id != "none") d.idcode = static_cast<std::uint32_t>(code);
                devices.push_back(d);
                found = true;
            }
        }
        if (!found) {
            return "'" + item + "' is no device of a virtual chain: use " + kChainDeviceNames +
                   ", 0xIDCODE:IR (an odd IDCODE, IR 2 to 32 bits) or none:IR";
        }
        if (comma == std::string::npos) break;
        rest = rest.substr(comma + 1);
    }
    if (devices.size() > 8) return "a virtual chain holds at most 8 devices";
    return "";
}

VirtualBoard::Record VirtualBoard::Snapshot() const {
    std::lock_guard lock(mutex_);
    Record r = record_;
    const JtagChain& chain = decoder_.chain();
    r.chain = chain_;
    for (std::size_t i = 0; i < chain.size(); ++i) r.devices.push_back(chain.Record(i));
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

namespace {

std::string InstructionName(const ChainDevice& d, std::uint16_t ir) {
    if (ir == (1u << d.irLength) - 1) return "BYPASS";
    if (d.irLength == kIrLength) {
        if (ir == kIrIdcode) return "IDCODE";
        if (ir == kIrUser0) return "USER0";
        if (ir == kIrUser1) return "USER1";
    } else if (d.irLength == 4 && ir == 0xE) {
        return "IDCODE";
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%03X", static_cast<unsigned>(ir));
    return text;
}

// Each device of a chain of several: the instructions it latched and, for the FPGA,
// what its USER0 took: the bits the devices nearer TDI put ahead, then the bytes.
void DescribeDevices(std::ostringstream& out, const VirtualBoard::Record& r) {
    for (std::size_t i = 0; i < r.chain.size() && i < r.devices.size(); ++i) {
        const ChainDevice& c = r.chain[i];
        const DeviceRecord& d = r.devices[i];
        out << "device " << i + 1 << ", ";
        if (c.idcode) {
            out << "0x" << std::hex << std::uppercase << std::setw(8) << std::setfill('0') << *c.idcode << std::dec
                << std::setfill(' ');
        } else {
            out << "no IDCODE";
        }
        out << ": instructions ";
        if (d.instructions.empty()) out << "IDCODE (from reset)";
        for (std::size_t k = 0; k < d.instructions.size(); ++k) out << (k ? ", " : "") << InstructionName(c, d.instructions[k]);
        if (c.hub && d.user1) out << "; USER1 0x" << std::hex << std::uppercase << *d.user1 << std::dec;
        if (c.hub && d.user0Bits > 0) {
            const std::uint64_t ahead = r.chain.size() - 1 - i;
            std::vector<std::uint8_t> bytes;
            std::uint64_t at = ahead;
            for (; at + 8 <= d.user0Bits; at += 8) {
                std::uint8_t b = 0;
                for (unsigned k = 0; k < 8; ++k) b = static_cast<std::uint8_t>(b | (((d.user0[(at + k) / 8] >> ((at + k) % 8)) & 1) << k));
                bytes.push_back(b);
            }
            out << "; USER0: ";
            if (ahead > 0) out << ahead << " bit(s) ahead, then ";
            out << bytes.size() << " bytes, CRC-32 " << std::hex << std::uppercase << std::setw(8) << std::setfill('0')
                << Crc32(bytes.data(), bytes.size()) << std::dec << std::setfill(' ');
            if (d.user0Bits > at) out << ", then " << d.user0Bits - at << " more bit(s)";
        }
        out << "\n";
    }
}

}  // namespace

std::string VirtualBoard::Describe(const Record& r) {
    std::ostringstream out;
    out << "virtual board received " << r.bytes << " cable bytes in " << r.writes.size() << " writes\n";
    if (r.chain.size() > 1) {
        // The cable's own view of the scans says nothing of which device took what.
        DescribeDevices(out, r);
        out << "TAP: " << TapStateName(r.state) << ", outputs " << (r.outputEnable ? "enabled" : "released") << "\n";
        return out.str();
    }
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
