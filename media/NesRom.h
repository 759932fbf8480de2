// The record of an iNES ROM image (.nes): its 16-byte header, the fields decoded
// from it, and the trainer, PRG ROM and CHR ROM read whole into owned buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace tunlet {

constexpr std::size_t kInesHeaderSize = 16;
constexpr std::size_t kTrainerSize = 512;
constexpr std::size_t kPrgBankSize = 16384;
constexpr std::size_t kChrBankSize = 8192;

// Raised by NesRom::Read for damaged data; carries one of the constant texts and,
// for data cut short, a line with the sizes expected and found.
class RomReadError : public std::exception {
public:
    explicit RomReadError(const char* text, std::string detail = {}) : text_(text), detail_(std::move(detail)) {}
    const char* what() const noexcept override { return text_; }
    const std::string& detail() const noexcept { return detail_; }

private:
    const char* text_;
    std::string detail_;
};

struct NesRom {
    std::uint8_t header[kInesHeaderSize] = {};
    std::uint8_t n16kRomBanks = 0;
    std::uint8_t n8kVRomBanks = 0;
    std::uint8_t fMirroringType = 0;
    std::uint8_t fBatteryBackedRAM = 0;
    std::uint8_t f512ByteTrainer = 0;
    std::uint8_t f4ScreenVRamLayout = 0;
    std::uint8_t nRomMapperType = 0;  // the mapper number as the board gets it
    // NES 2.0 headers: a 12-bit mapper number and a submapper. Old headers with junk
    // in bytes 7 to 15 take their mapper number from byte 6 alone.
    bool fNes20 = false;
    std::uint16_t nMapper = 0;
    std::uint8_t nSubmapper = 0;
    // Why Read returned kUnsupported.
    std::string strProblem;
    std::unique_ptr<std::uint8_t[]> pTrainer;
    std::unique_ptr<std::uint8_t[]> pPrgRom;
    std::unique_ptr<std::uint8_t[]> pChrRom;

    static constexpr char kReadError[] = "rom read error";
    static constexpr char kEofError[] = "EOF error";

    void Clear();
    void Release();
    // Read's result for a header the board cannot be told about (strProblem says why).
    static constexpr std::int32_t kUnsupported = -3;

    // 0 on success, -1 when the path has no ".nes" or cannot be opened, -2 for a
    // wrong magic, kUnsupported for a mapper or size the board cannot take. Damaged
    // data raises RomReadError.
    std::int32_t Read(const char* path);
    void Describe(std::string& text) const;

    std::size_t PrgSize() const { return std::size_t{n16kRomBanks} * kPrgBankSize; }
    std::size_t ChrSize() const { return std::size_t{n8kVRomBanks} * kChrBankSize; }

    // Decodes the bank counts, flags and mapper number from header.
    void DecodeHeader();
    static bool HasMagic(const std::uint8_t* bytes, std::size_t count);
    // The reader takes only paths that contain ".nes", in any case.
    static bool NameTaken(const char* path);
};

}  // namespace tunlet
