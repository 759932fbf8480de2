#include "cable/JtagChain.h"

#include <algorithm>
#include <bit>

namespace tunlet {

namespace {
constexpr std::uint16_t kIrCapture = 0x001;  // what every instruction register captures: ...01
constexpr unsigned kIdcodeBits = 32;
constexpr unsigned kInfoNibbleBits = 4;
constexpr unsigned kNibblesPerWord = 8;
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
    } else if (d.instruction == kIrUser0 && d.vir == 0) {
        ++d.infoNibble;
    }
}

void JtagChain::Clock(TapState from, TapState to, bool tdi) {
    if (from == TapState::ShiftIr || from == TapState::ShiftDr) {
        bool in = tdi;
        for (auto it = devices_.rbegin(); it != devices_.rend(); ++it) {
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
                d.idcodeSelected = d.config.irLength == kIrLength && d.instruction == kIrIdcode;
            }
            break;
        case TapState::CaptureDr:
            for (Device& d : devices_) CaptureDr(d);
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
