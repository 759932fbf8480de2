#include "media/NesRom.h"

#include <cstring>

#include "media/StdioFile.h"
#include "media/TextFormat.h"

namespace tunlet {

namespace {

constexpr std::size_t kOffPrgBanks = 4;
constexpr std::size_t kOffChrBanks = 5;
constexpr std::size_t kOffFlags6 = 6;
constexpr std::size_t kOffFlags7 = 7;
constexpr std::size_t kMagicSize = 4;

constexpr std::uint8_t kFlag6Vertical = 0x01;
constexpr std::uint8_t kFlag6Battery = 0x02;
constexpr std::uint8_t kFlag6Trainer = 0x04;
constexpr std::uint8_t kFlag6FourScreen = 0x08;

}  // namespace

void NesRom::Clear() {
    pTrainer.reset();
    pPrgRom.reset();
    pChrRom.reset();
}

void NesRom::Release() { Clear(); }

bool NesRom::HasMagic(const std::uint8_t* bytes, std::size_t count) {
    return count >= kMagicSize && std::memcmp(bytes, "NES\x1A", kMagicSize) == 0;
}

bool NesRom::NameTaken(const char* path) { return std::strstr(path, ".nes") != nullptr; }

void NesRom::DecodeHeader() {
    const std::uint8_t flags6 = header[kOffFlags6];
    const std::uint8_t flags7 = header[kOffFlags7];
    n16kRomBanks = header[kOffPrgBanks];
    n8kVRomBanks = header[kOffChrBanks];
    fMirroringType = (flags6 & kFlag6Vertical) ? 1 : 0;
    fBatteryBackedRAM = (flags6 & kFlag6Battery) ? 1 : 0;
    f512ByteTrainer = (flags6 & kFlag6Trainer) ? 1 : 0;
    f4ScreenVRamLayout = (flags6 & kFlag6FourScreen) ? 1 : 0;
    nRomMapperType = static_cast<std::uint8_t>((flags7 & 0xF0) | (flags6 >> 4));
}

std::int32_t NesRom::Read(const char* path) {
    if (!NameTaken(path)) return -1;
    StdioFile file(path);
    if (!file) return -1;

    // Header bytes beyond the end of a short file read as 0.
    std::uint8_t bytes[kInesHeaderSize] = {};
    const std::size_t got = file.Read(bytes, kInesHeaderSize);
    std::memcpy(header, bytes, kInesHeaderSize);
    if (!HasMagic(header, got)) return -2;
    DecodeHeader();

    const char* error = nullptr;
    if (got != kInesHeaderSize) error = kReadError;
    if (f512ByteTrainer) {
        pTrainer = std::make_unique<std::uint8_t[]>(kTrainerSize);
        if (file.Read(pTrainer.get(), kTrainerSize) != kTrainerSize) error = kReadError;
    }
    pPrgRom = std::make_unique<std::uint8_t[]>(PrgSize());
    if (file.Read(pPrgRom.get(), PrgSize()) != PrgSize()) error = kReadError;
    if (n8kVRomBanks != 0) {
        pChrRom = std::make_unique<std::uint8_t[]>(ChrSize());
        if (file.Read(pChrRom.get(), ChrSize()) != ChrSize()) error = kReadError;
    } else {
        pChrRom = std::make_unique<std::uint8_t[]>(kChrBankSize);
    }
    if (file.HasMore()) error = kEofError;
    file.Close();
    if (error != nullptr) throw RomReadError(error);
    return 0;
}

void NesRom::Describe(std::string& text) const {
    text.clear();
    AppendFormat(text, "n16kRomBanks\t%d\n", unsigned{n16kRomBanks});
    AppendFormat(text, "n8kVRomBanks\t%d\n", unsigned{n8kVRomBanks});
    AppendFormat(text, "fMirroringType\t%d\t%s\n", unsigned{fMirroringType},
                 fMirroringType == 1 ? "for vertical mirroring" : "for horizontal mirroring");
    AppendFormat(text, "fBatteryBackedRAM\t%d\n", unsigned{fBatteryBackedRAM});
    AppendFormat(text, "f512ByteTrainer\t%d\n", unsigned{f512ByteTrainer});
    AppendFormat(text, "f4ScreenVRamLayout\t%d\n", unsigned{f4ScreenVRamLayout});
    AppendFormat(text, "nRomMapperType\t%d\n", unsigned{nRomMapperType});
}

}  // namespace tunlet
