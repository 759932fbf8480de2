// Where the USB-Blaster II's firmware comes from. The cable maker's file
// (blaster_6810.hex, Intel HEX) comes with every Quartus install; Tunlet never ships
// it. It is taken from, in order: the file the user gave; $QUARTUS_ROOTDIR/linux64;
// the usual install folders, newest version first.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cable/IntelHex.h"

namespace tunlet {

inline constexpr char kBlasterFirmwareName[] = "blaster_6810.hex";

// Where a firmware was looked for; given to the search so that tests can stand in.
struct FirmwareRoots {
    std::string given;        // --firmware, the window's menu: "" for none
    std::string quartusRoot;  // $QUARTUS_ROOTDIR
    std::string home;         // $HOME
    std::filesystem::path root = "/";  // where /opt is
};

// The roots of this process (QUARTUS_ROOTDIR and HOME from the environment).
FirmwareRoots ProcessFirmwareRoots(std::string given);

// Every file the search tries, in order: the given one alone when there is one; else
// $QUARTUS_ROOTDIR/linux64, then ~/intelFPGA*/*/quartus/linux64,
// /opt/intelFPGA*/*/quartus/linux64, ~/altera*/*/quartus/linux64 and
// /opt/altera*/*/quartus/linux64 as they exist, newest version first.
std::vector<std::filesystem::path> FirmwarePlaces(const FirmwareRoots& roots);

struct FirmwareImage {
    std::string path;                // the file read
    std::vector<HexRecord> records;  // what goes into the FX2's RAM
    std::string error;               // "" when found and sound; else why, for people
};

// Finds the first file of FirmwarePlaces that exists and reads it. A missing firmware
// says where Tunlet looked and how to point it at the file; a damaged one is refused
// with its line.
FirmwareImage FindBlasterFirmware(const FirmwareRoots& roots);

}  // namespace tunlet
