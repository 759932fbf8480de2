#include "link/JtagParts.h"

#include <cstdio>
#include <iterator>

namespace tunlet {

namespace {

struct Part {
    std::uint32_t idcode;
    std::uint32_t mask;
    JtagPart part;
};

constexpr std::uint32_t kAnyVersion = 0x0FFFFFFF;
constexpr PartKind F = PartKind::Fpga;
constexpr PartKind C = PartKind::Cpld;
constexpr PartKind D = PartKind::DebugPort;

// Every Intel (Altera) FPGA and MAX part has a 10-bit instruction register; ARM's
// debug ports have 4 bits. Dies that several families share answer with the same
// IDCODE.
constexpr Part kParts[] = {
    {0x020B10DD, kAnyVersion, {"Cyclone II EP2C5", 10, F}},
    {0x020B20DD, kAnyVersion, {"Cyclone II EP2C8", 10, F}},
    {0x020B30DD, kAnyVersion, {"Cyclone II EP2C20", 10, F}},
    {0x020B40DD, kAnyVersion, {"Cyclone II EP2C35", 10, F}},
    {0x020B50DD, kAnyVersion, {"Cyclone II EP2C50", 10, F}},
    {0x020B60DD, kAnyVersion, {"Cyclone II EP2C70", 10, F}},
    {0x020F10DD, kAnyVersion, {"Cyclone III EP3C5/EP3C10 / Cyclone IV E EP4CE6/EP4CE10 / Cyclone 10 LP 10CL006/10CL010", 10, F}},
    {0x020F20DD, kAnyVersion, {"Cyclone III EP3C16 / Cyclone IV E EP4CE15 / Cyclone 10 LP 10CL016", 10, F}},
    {0x020F30DD, kAnyVersion, {"Cyclone IV E EP4CE22 / Cyclone III EP3C25 / Cyclone 10 LP 10CL025", 10, F}},
    {0x020F40DD, kAnyVersion, {"Cyclone III EP3C40 / Cyclone IV E EP4CE30/EP4CE40 / Cyclone 10 LP 10CL040", 10, F}},
    {0x020F50DD, kAnyVersion, {"Cyclone III EP3C55 / Cyclone IV E EP4CE55 / Cyclone 10 LP 10CL055", 10, F}},
    {0x020F60DD, kAnyVersion, {"Cyclone III EP3C80 / Cyclone IV E EP4CE75 / Cyclone 10 LP 10CL080", 10, F}},
    {0x020F70DD, kAnyVersion, {"Cyclone IV E EP4CE115 / Cyclone III EP3C120 / Cyclone 10 LP 10CL120", 10, F}},
    {0x028010DD, kAnyVersion, {"Cyclone IV GX EP4CGX15", 10, F}},
    {0x028120DD, kAnyVersion, {"Cyclone IV GX EP4CGX22", 10, F}},
    {0x028020DD, kAnyVersion, {"Cyclone IV GX EP4CGX30", 10, F}},
    {0x028130DD, kAnyVersion, {"Cyclone IV GX EP4CGX50", 10, F}},
    {0x028030DD, kAnyVersion, {"Cyclone IV GX EP4CGX75", 10, F}},
    {0x028140DD, kAnyVersion, {"Cyclone IV GX EP4CGX110", 10, F}},
    {0x028040DD, kAnyVersion, {"Cyclone IV GX EP4CGX150", 10, F}},
    {0x02B050DD, kAnyVersion, {"Cyclone V 5CEA4/5CEBA4", 10, F}},
    {0x02B150DD, kAnyVersion, {"Cyclone V 5CEA2/5CEBA2", 10, F}},
    {0x02B140DD, kAnyVersion, {"Cyclone V 5CEA9/5CEBA9", 10, F}},
    {0x02B220DD, kAnyVersion, {"Cyclone V 5CEFA5", 10, F}},
    {0x02D010DD, kAnyVersion, {"Cyclone V 5CSEMA4/5CSEBA4", 10, F}},
    {0x02D020DD, kAnyVersion, {"Cyclone V 5CSEA6/5CSEBA6", 10, F}},
    {0x02D120DD, kAnyVersion, {"Cyclone V 5CSEMA5/5CSEBA5", 10, F}},
    {0x02D110DD, kAnyVersion, {"Cyclone V 5CSEMA2/5CSEBA2", 10, F}},
    {0x02D030DD, kAnyVersion, {"Cyclone V 5CSXFC6/5CSTFD6", 10, F}},
    {0x02E610DD, kAnyVersion, {"Cyclone 10 GX 10CX085", 10, F}},
    {0x02E660DD, kAnyVersion, {"Cyclone 10 GX 10CX105/10CX150/10CX220", 10, F}},
    {0x02E030DD, kAnyVersion, {"Arria 10 10AS066 (SoC)", 10, F}},
    {0x020A10DD, kAnyVersion, {"MAX II EPM240", 10, C}},
    {0x020A20DD, kAnyVersion, {"MAX II EPM570", 10, C}},
    {0x020A30DD, kAnyVersion, {"MAX II EPM1270", 10, C}},
    {0x020A40DD, kAnyVersion, {"MAX II EPM2210", 10, C}},
    {0x020A50DD, kAnyVersion, {"MAX V 5M40Z/5M80Z/5M160Z/5M240Z", 10, C}},
    {0x020A60DD, kAnyVersion, {"MAX V 5M570Z", 10, C}},
    {0x031820DD, kAnyVersion, {"MAX 10 10M08 (single supply)", 10, F}},
    {0x031020DD, kAnyVersion, {"MAX 10 10M08 (dual supply)", 10, F}},
    {0x031850DD, kAnyVersion, {"MAX 10 10M50 (single supply)", 10, F}},
    {0x031050DD, kAnyVersion, {"MAX 10 10M50 (dual supply)", 10, F}},
    {0x031810DD, kAnyVersion, {"MAX 10 10M02 (single supply)", 10, F}},
    {0x031010DD, kAnyVersion, {"MAX 10 10M02 (dual supply)", 10, F}},
    {0x031830DD, kAnyVersion, {"MAX 10 10M16 (single supply)", 10, F}},
    {0x031030DD, kAnyVersion, {"MAX 10 10M16 (dual supply)", 10, F}},
    {0x031840DD, kAnyVersion, {"MAX 10 10M25 (single supply)", 10, F}},
    {0x031040DD, kAnyVersion, {"MAX 10 10M25 (dual supply)", 10, F}},
    {0x031860DD, kAnyVersion, {"MAX 10 10M40 (single supply)", 10, F}},
    {0x031060DD, kAnyVersion, {"MAX 10 10M40 (dual supply)", 10, F}},
    // ARM's JTAG debug ports (the HPS of Intel's SoC FPGAs, Cortex-M parts): any version.
    {0x0BA00477, kAnyVersion, {"ARM debug port", 4, D}},
    {0x0BA01477, kAnyVersion, {"ARM Cortex-M debug port", 4, D}},
    {0x0BA02477, kAnyVersion, {"ARM Cortex-M debug port", 4, D}},
};

struct Maker {
    std::uint16_t code;
    const char* name;
};

constexpr Maker kMakers[] = {
    {0x06E, "Altera"}, {0x23B, "ARM"}, {0x049, "Xilinx"}, {0x021, "Lattice"}, {0x00E, "Freescale"},
};

std::string Hex32(std::uint32_t v) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
    return text;
}

}  // namespace

const JtagPart* FindJtagPart(std::uint32_t idcode) {
    for (const Part& p : kParts) {
        if ((idcode & p.mask) == (p.idcode & p.mask)) return &p.part;
    }
    return nullptr;
}

const char* JtagPartName(std::uint32_t idcode) {
    const JtagPart* part = FindJtagPart(idcode);
    return part != nullptr ? part->name : nullptr;
}

std::string JtagManufacturerName(std::uint32_t idcode) {
    const std::uint16_t code = IdcodeManufacturer(idcode);
    for (const Maker& m : kMakers) {
        if (m.code == code) return m.name;
    }
    char text[24];
    std::snprintf(text, sizeof text, "manufacturer 0x%03X", static_cast<unsigned>(code));
    return text;
}

std::string DescribeJtagDevice(std::optional<std::uint32_t> idcode) {
    if (!idcode) return "a device without IDCODE";
    const char* name = JtagPartName(*idcode);
    return name != nullptr ? Hex32(*idcode) + " (" + name + ")" : Hex32(*idcode);
}

}  // namespace tunlet
