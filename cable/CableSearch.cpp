#include "cable/CableSearch.h"

namespace tunlet {

std::string CableLabel(const SeenCable& cable) {
    return cable.serial.empty() ? cable.name : cable.name + " (serial " + cable.serial + ")";
}

std::vector<SeenCable> CableSearch::List() const {
    std::vector<SeenCable> all;
    for (const auto& candidate : candidates_) {
        const std::vector<SeenCable> seen = candidate->List();
        all.insert(all.end(), seen.begin(), seen.end());
    }
    return all;
}

CableOpenResult CableSearch::Open(const char*) {
    std::vector<std::vector<SeenCable>> seen;
    std::size_t total = 0;
    for (const auto& candidate : candidates_) {
        seen.push_back(candidate->List());
        total += seen.back().size();
    }
    if (!serial_.empty()) {
        for (std::size_t i = 0; i < candidates_.size(); ++i) {
            for (const SeenCable& cable : seen[i]) {
                if (cable.serial == serial_) return candidates_[i]->OpenSerial(serial_);
            }
        }
        CableOpenResult result;
        result.status = FT_DEVICE_NOT_FOUND;
        result.reason = "no cable with serial number " + serial_ + " is plugged in";
        std::string others;
        for (const auto& list : seen) {
            for (const SeenCable& cable : list) others += (others.empty() ? "" : ", ") + CableLabel(cable);
        }
        if (!others.empty()) result.reason += " (Tunlet sees " + others + ")";
        return result;
    }
    // The first candidate that sees a cable opens its first one.
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        if (seen[i].empty()) continue;
        if (total > 1) {
            ReportCableProgress(std::to_string(total) + " cables are plugged in: using " + CableLabel(seen[i].front()) +
                                " (choose another with --cable usb-blaster:SERIAL; tunlet-cli scan lists them)");
        }
        CableOpenResult result = candidates_[i]->OpenSerial("");
        // The serial the listing read, where the open's name lacks it.
        if (result.status == FT_OK && result.name == seen[i].front().name) result.name = CableLabel(seen[i].front());
        return result;
    }
    CableOpenResult result;
    result.status = FT_DEVICE_NOT_FOUND;
    std::string looks;
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        looks += (i == 0 ? "" : i + 1 == candidates_.size() ? " and " : ", ") + candidates_[i]->Looks();
    }
    result.reason = "no cable found: the cable is not plugged in (Tunlet looks for " + looks + ")";
    return result;
}

}  // namespace tunlet
