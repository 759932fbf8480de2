// The iNES reader and its summary on any bytes.
#include <string>

#include "media/NesRom.h"
#include "tests/fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tunlet;
    NesRom rom;
    rom.Clear();
    const std::string& path = fuzz::WriteInput(data, size, ".nes");
    std::string text;
    try {
        const std::int32_t result = rom.Read(path.c_str());
        if (result == 0) {
            // Accepted: the file is exactly header, trainer, PRG and CHR.
            const std::size_t expected = kInesHeaderSize + (rom.f512ByteTrainer ? kTrainerSize : 0) + rom.PrgSize() +
                                         rom.ChrSize();
            if (size != expected || !rom.pPrgRom || !rom.pChrRom) fuzz::Broken();
            rom.Describe(text);
            if (text.rfind("n16kRomBanks\t", 0) != 0) fuzz::Broken();
            if (rom.nMapper != rom.nRomMapperType) fuzz::Broken();  // the board is told the whole number
        } else if (result == NesRom::kUnsupported) {
            // Only a mapper past 255 or a NES 2.0 size in byte 9 is refused, with a reason.
            if (rom.strProblem.empty() || (rom.nMapper <= 255 && !rom.fNes20) || rom.pPrgRom) fuzz::Broken();
        } else if (result != -2) {
            fuzz::Broken();  // the path has ".nes" and the file exists
        }
    } catch (const RomReadError& e) {
        const std::string what = e.what();
        if (what != "rom read error" && what != "EOF error") fuzz::Broken();
    }
    rom.Release();
    return 0;
}
