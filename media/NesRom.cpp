#include "media/NesRom.h"

#include <cctype>
#include <cstring>
#include <string>

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
constexpr std::uint8_t kFlag7Format = 0x0C;  // binary 10 here marks NES 2.0
constexpr std::uint8_t kFlag7Nes20 = 0x08;
constexpr std::size_t kOffMapperMsb = 8;     // NES 2.0: mapper bits 8-11, submapper in the high nibble
constexpr std::size_t kOffSizeMsb = 9;       // NES 2.0: PRG and CHR size high nibbles
constexpr unsigned kMaxBoardMapper = 0xFF;   // the board's mapper byte

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

bool NesRom::NameTaken(const char* path) {
    static constexpr char kExt[] = ".nes";
    for (const char* p = path; *p != '\0'; ++p) {
        std::size_t i = 0;
        while (i < 4 && p[i] != '\0' && std::tolower(static_cast<unsigned char>(p[i])) == kExt[i]) ++i;
        if (i == 4) return true;
    }
    return false;
}

void NesRom::DecodeHeader() {
    const std::uint8_t flags6 = header[kOffFlags6];
    const std::uint8_t flags7 = header[kOffFlags7];
    n16kRomBanks = header[kOffPrgBanks];
    n8kVRomBanks = header[kOffChrBanks];
    fMirroringType = (flags6 & kFlag6Vertical) ? 1 : 0;
    fBatteryBackedRAM = (flags6 & kFlag6Battery) ? 1 : 0;
    f512ByteTrainer = (flags6 & kFlag6Trainer) ? 1 : 0;
    f4ScreenVRamLayout = (flags6 & kFlag6FourScreen) ? 1 : 0;
    fNes20 = (flags7 & kFlag7Format) == kFlag7Nes20;
    nSubmapper = 0;
    const bool junk = !fNes20 && (header[12] | header[13] | header[14] | header[15]) != 0;
    if (fNes20) {
        nMapper = static_cast<std::uint16_t>((header[kOffMapperMsb] & 0x0F) << 8 | (flags7 & 0xF0) | (flags6 >> 4));
        nSubmapper = static_cast<std::uint8_t>(header[kOffMapperMsb] >> 4);
    } else if (junk) {
        // Bytes 7 to 15 were written by old tools ("DiskDude!"), not by the format.
        nMapper = static_cast<std::uint16_t>(flags6 >> 4);
    } else {
        nMapper = static_cast<std::uint16_t>((flags7 & 0xF0) | (flags6 >> 4));
    }
    nRomMapperType = static_cast<std::uint8_t>(nMapper & 0xFF);
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
    strProblem.clear();
    if (nMapper > kMaxBoardMapper) {
        strProblem = "its mapper " + std::to_string(nMapper) + " does not fit the board's mapper byte (0 to 255)";
        return kUnsupported;
    }
    if (fNes20 && header[kOffSizeMsb] != 0) {
        strProblem = "its NES 2.0 header gives PRG or CHR sizes beyond 255 banks";
        return kUnsupported;
    }

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
    std::string detail;
    if (error == kReadError) {
        const std::size_t expected = kInesHeaderSize + (f512ByteTrainer ? kTrainerSize : 0) + PrgSize() + ChrSize();
        detail = "expected " + std::to_string(expected) + " bytes, the file has " + std::to_string(file.Stamp().size);
    }
    file.Close();
    if (error != nullptr) throw RomReadError(error, std::move(detail));
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
    if (fNes20) AppendFormat(text, "NES 2.0 submapper\t%d\n", unsigned{nSubmapper});
}

}  // namespace tunlet
