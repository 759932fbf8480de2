// --cable usb-blaster's search over its candidates, and where the USB-Blaster II's
// firmware is looked for.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cable/BlasterFirmware.h"
#include "cable/CableSearch.h"
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

// A candidate that sees the cables it is given and records what it was asked to open.
class FakeCandidate : public CableCandidate {
public:
    FakeCandidate(std::string name, std::vector<std::string> serials) : name_(std::move(name)), serials_(std::move(serials)) {}
    std::vector<SeenCable> List() override {
        std::vector<SeenCable> seen;
        for (const std::string& s : serials_) seen.push_back({name_, s});
        return seen;
    }
    CableOpenResult OpenSerial(const std::string& serial) override {
        opened.push_back(serial);
        CableOpenResult r;
        r.status = FT_OK;
        r.name = name_;
        return r;
    }
    std::string Looks() const override { return "the " + name_; }
    std::vector<std::string> opened;

private:
    std::string name_;
    std::vector<std::string> serials_;
};

TEST(CableSearch, TakesTheFirstOrTheSerialAndSaysWhich) {
    struct Case {
        const char* label;
        std::vector<std::string> first, second;  // serials each candidate sees
        std::string serial;                      // asked for
        FT_STATUS status;
        std::string name;                        // of the cable opened, or the reason
        std::vector<std::string> openedFirst, openedSecond;
        std::string progress;
    };
    const std::string several =
        " (choose another with --cable usb-blaster:SERIAL; tunlet-cli scan lists them)";
    const Case cases[] = {
        {"none", {}, {}, "", FT_DEVICE_NOT_FOUND,
         "no cable found: the cable is not plugged in (Tunlet looks for the A and the B)", {}, {}, ""},
        {"one, second kind", {}, {"s2"}, "", FT_OK, "B (serial s2)", {}, {""}, ""},
        {"serial unreadable", {""}, {}, "", FT_OK, "A", {""}, {}, ""},
        {"two, first kind wins", {"s1"}, {"s2"}, "", FT_OK, "A (serial s1)", {""}, {},
         "2 cables are plugged in: using A (serial s1)" + several},
        {"serial picks the second", {"s1"}, {"s2", "s3"}, "s3", FT_OK, "B", {}, {"s3"}, ""},
        {"serial not there", {"s1"}, {"s2"}, "s9", FT_DEVICE_NOT_FOUND,
         "no cable with serial number s9 is plugged in (Tunlet sees A (serial s1), B (serial s2))", {}, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto a = std::make_shared<FakeCandidate>("A", c.first);
        auto b = std::make_shared<FakeCandidate>("B", c.second);
        std::string progress;
        SetCableProgress([&progress](const std::string& text) { progress += text; });
        const CableOpenResult r = CableSearch({a, b}).WithSerial(c.serial)->Open("USB-Blaster");
        SetCableProgress(nullptr);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.status == FT_OK ? r.name : r.reason, c.name);
        EXPECT_EQ(a->opened, c.openedFirst);
        EXPECT_EQ(b->opened, c.openedSecond);
        EXPECT_EQ(progress, c.progress);
    }
}

TEST(BlasterFirmware, PlacesNewestVersionFirst) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const fs::path home = fs::path(dir.path()) / "home", root = fs::path(dir.path()) / "root";
    for (const fs::path& p : {home / "intelFPGA_lite/18.1", home / "intelFPGA_lite/21.1", root / "opt/intelFPGA/20.1",
                              home / "altera/13.0sp1", root / "opt/altera/21.1"}) {
        fs::create_directories(p / "quartus/linux64");
    }
    fs::create_directories(home / "intelFPGA_lite/22.1");  // no quartus/linux64: not an install
    const auto at = [](const fs::path& version) { return version / "quartus/linux64/blaster_6810.hex"; };
    const FirmwareRoots roots{"", "/q", home.string(), root};
    const std::vector<fs::path> expected = {"/q/linux64/blaster_6810.hex", at(home / "intelFPGA_lite/21.1"),
                                            at(root / "opt/altera/21.1"), at(root / "opt/intelFPGA/20.1"),
                                            at(home / "intelFPGA_lite/18.1"), at(home / "altera/13.0sp1")};
    EXPECT_EQ(FirmwarePlaces(roots), expected);
    // A file the user gave is the one place.
    EXPECT_EQ(FirmwarePlaces(FirmwareRoots{"/my/fw.hex", "/q", home.string(), root}),
              std::vector<fs::path>{"/my/fw.hex"});
    // The newest one found is read.
    dir.Write("home/intelFPGA_lite/18.1/quartus/linux64/blaster_6810.hex", {':', '0', '0', '0', '0', '0', '0', '0', '1', 'F', 'F'});
    const FirmwareImage image = FindBlasterFirmware(roots);
    EXPECT_EQ(image.error, "");
    EXPECT_EQ(fs::path(image.path), at(home / "intelFPGA_lite/18.1"));
}

}  // namespace
}  // namespace tunlet
