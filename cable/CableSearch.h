// --cable usb-blaster: whichever cable is plugged in, found by asking an ordered list
// of back ends in turn. Each candidate lists the cables it sees (name and serial
// number) and opens one by its serial; the search takes the one asked for by serial,
// or else the first cable it sees, and says which when it saw several.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cable/Cable.h"

namespace tunlet {

// A cable a candidate sees on the bus.
struct SeenCable {
    std::string name;    // for people: "USB-Blaster", "USB-Blaster II"
    std::string serial;  // "" when the cable has none or it cannot be read (no permission)
};

// One kind of cable the search can open.
class CableCandidate {
public:
    virtual ~CableCandidate() = default;
    // What is plugged in now, in the order Open takes it.
    virtual std::vector<SeenCable> List() = 0;
    // Opens the cable with this serial number, or the first it sees for "".
    virtual CableOpenResult OpenSerial(const std::string& serial) = 0;
    // What it looks for, for people: "the USB-Blaster (09fb:6001, 6002, 6003)".
    virtual std::string Looks() const = 0;
};

class CableSearch : public CableBackend {
public:
    // serial: the one cable to open (--cable usb-blaster:SERIAL), "" for the first.
    explicit CableSearch(std::vector<std::shared_ptr<CableCandidate>> candidates, std::string serial = "")
        : candidates_(std::move(candidates)), serial_(std::move(serial)) {}
    // The same candidates, asked for the cable with this serial number.
    std::shared_ptr<CableSearch> WithSerial(std::string serial) const {
        return std::make_shared<CableSearch>(candidates_, std::move(serial));
    }
    // Every cable the candidates see, in their order.
    std::vector<SeenCable> List() const;
    // The description is passed over: the candidates know their cables.
    CableOpenResult Open(const char* description) override;

private:
    std::vector<std::shared_ptr<CableCandidate>> candidates_;
    std::string serial_;
};

// "USB-Blaster II (serial 91d28408)", or the name alone without a serial.
std::string CableLabel(const SeenCable& cable);

}  // namespace tunlet
