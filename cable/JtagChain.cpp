#include "cable/JtagChain.h"

#include <algorithm>
#include <bit>

namespace tunlet {

namespace {
constexpr std::uint16_t kIrCapture = 0x001;  // what every instruction register captures: ...01
constexpr unsigned kIdcodeBits = 32;
constexpr unsigned kInfoNibbleBits = 4;
constexpr unsigned kNibblesPerWord = 8;
constexpr unsigned kDebugPortIrLength = 4;
constexpr std::uint16_t kDebugPortIdcode = 0xE;

bool IdcodeInstruction(unsigned irLength, std::uint16_t instruction) {
    if (irLength == kIrLength) return instruction == kIrIdcode;
    if (irLength == kDebugPortIrLength) return instruction == kDebugPortIdcode;
    return false;
}
}  // namespace

std::vector<ChainDevice> DefaultBoardChain() { return {ChainDevice{kEp4ce22Idcode, kIrLength, VirtualHub{}}}; }

JtagChain::JtagChain(std::vector<ChainDevice> devices, TdoLine line) : line_(line) {
    for (ChainDevice& config : devices) {
        Device d;
        d.config = std::move(config);
        if (d.config.irLength == 0 || d.config.irLength > 64) d.config.irLength = kIrLength;
        devices_.push_back(std::move(d));
    }
    Reset();
}

unsigned JtagChain::VirWidth(const VirtualHub& hub) {
    // The address field holds 1..N, the instruction field m bits.
    return static_cast<unsigned>(std::bit_width(hub.nodes.size())) + hub.m;
}

std::uint32_t JtagChain::HubWord(const VirtualHub& hub, unsigned index) {
    const auto word = [](unsigned version, unsigned field, unsigned manufacturer, unsigned low) {
        return static_cast<std::uint32_t>((version & 0x1F) << 27 | (field & 0xFF) << 19 | (manufacturer & 0x7FF) << 8 |
                                          (low & 0xFF));
    };
    if (index == 0) return word(hub.version, static_cast<unsigned>(hub.nodes.size()), hub.manufacturer, hub.m);
    if (index > hub.nodes.size()) return 0;
    const HubNode& n = hub.nodes[index - 1];
    return word(n.version, n.id, n.manufacturer, n.instance);
}

void JtagChain::Reset() {
    for (Device& d : devices_) {
        d.instruction = kIrIdcode;
        d.idcodeSelected = true;
        d.vir = 0;
        d.infoNibble = 0;
    }
}

void JtagChain::CaptureDr(Device& d) {
    const bool userRegisters = d.config.hub && d.config.irLength == kIrLength;
    if (d.idcodeSelected && d.config.idcode) {
        d.dr = {*d.config.idcode, kIdcodeBits};
    } else if (userRegisters && d.instruction == kIrUser1) {
        // A virtual instruction register wider than 64 bits keeps its low 64 here.
        d.dr = {d.vir, std::min(VirWidth(*d.config.hub), 64u)};
    } else if (userRegisters && d.instruction == kIrUser0 && d.vir == 0) {
        // HUB_INFO: each USER0 scan captures the next nibble, low nibble first.
        const std::uint32_t word = HubWord(*d.config.hub, d.infoNibble / kNibblesPerWord);
        d.dr = {(word >> (kInfoNibbleBits * (d.infoNibble % kNibblesPerWord))) & 0xF, kInfoNibbleBits};
    } else {
        d.dr = {0, 1};  // BYPASS, and the registers of a design without a hub
    }
}

void JtagChain::UpdateDr(Device& d) {
    if (!d.config.hub || d.config.irLength != kIrLength) return;
    if (d.instruction == kIrUser1) {
        const unsigned width = VirWidth(*d.config.hub);
        d.vir = width >= 64 ? d.dr.bits : d.dr.bits & ((std::uint64_t{1} << width) - 1);
        d.infoNibble = 0;
        d.record.user1 = d.vir;
    } else if (d.instruction == kIrUser0 && d.vir == 0) {
        ++d.infoNibble;
    }
}

bool JtagChain::TakesUser0(const Device& d) { return d.config.irLength == kIrLength && d.instruction == kIrUser0; }

void JtagChain::RecordUser0Bit(Device& d, bool bit) {
    DeviceRecord& r = d.record;
    if (r.user0Bits % 8 == 0) r.user0.push_back(0);
    if (bit) r.user0.back() = static_cast<std::uint8_t>(r.user0.back() | (1u << (r.user0Bits % 8)));
    ++r.user0Bits;
}

bool JtagChain::TakesUser0Bytes() const {
    return devices_.size() == 1 && TakesUser0(devices_[0]) && devices_[0].dr.length == 1 &&
           devices_[0].record.user0Bits % 8 == 0;
}

void JtagChain::ShiftUser0Byte(std::uint8_t byte) {
    Device& d = devices_[0];
    d.record.user0.push_back(byte);
    d.record.user0Bits += 8;
    d.dr.bits = byte >> 7;
}

void JtagChain::Clock(TapState from, TapState to, bool tdi) {
    if (from == TapState::ShiftIr || from == TapState::ShiftDr) {
        bool in = tdi;
        for (auto it = devices_.rbegin(); it != devices_.rend(); ++it) {
            if (from == TapState::ShiftDr && TakesUser0(*it)) RecordUser0Bit(*it, in);
            Register& r = from == TapState::ShiftIr ? it->ir : it->dr;
            const bool out = (r.bits & 1) != 0;
            r.bits = (r.bits >> 1) | (std::uint64_t{in} << (r.length - 1));
            in = out;
        }
    }
    switch (to) {
        case TapState::TestLogicReset:
            Reset();
            break;
        case TapState::CaptureIr:
            for (Device& d : devices_) d.ir = {kIrCapture, d.config.irLength};
            break;
        case TapState::UpdateIr:
            for (Device& d : devices_) {
                d.instruction = static_cast<std::uint16_t>(d.ir.bits);
                d.idcodeSelected = IdcodeInstruction(d.config.irLength, d.instruction);
                std::vector<std::uint16_t>& seen = d.record.instructions;
                if (seen.empty() || seen.back() != d.instruction) seen.push_back(d.instruction);
            }
            break;
        case TapState::CaptureDr:
            for (Device& d : devices_) {
                CaptureDr(d);
                if (TakesUser0(d)) {
                    d.record.user0.clear();
                    d.record.user0Bits = 0;
                }
            }
            break;
        case TapState::UpdateDr:
            for (Device& d : devices_) UpdateDr(d);
            break;
        default:
            break;
    }
}

bool JtagChain::Tdo(TapState state) const {
    if (line_ == TdoLine::StuckHigh) return true;
    if (line_ == TdoLine::StuckLow) return false;
    if (devices_.empty() || (state != TapState::ShiftIr && state != TapState::ShiftDr)) return true;  // pulled up
    const Register& r = state == TapState::ShiftIr ? devices_.front().ir : devices_.front().dr;
    return (r.bits & 1) != 0;
}

}  // namespace tunlet
