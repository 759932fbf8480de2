// The NSF reader and its summary on any bytes, NSF2 program lengths included.
#include <algorithm>
#include <cstring>
#include <string>

#include "media/NsfTune.h"
#include "tests/fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tunlet;
    NsfTune tune;
    tune.Init();
    const std::string& path = fuzz::WriteInput(data, size, ".nsf");
    std::string text;
    if (tune.Read(path.c_str()) == 0) {
        // The size the board is told about: the whole file, or an NSF2 cut after its
        // program data, or for an NSFe the header and its DATA chunk.
        std::int64_t expected = static_cast<std::int64_t>(size);
        const std::uint32_t length = size >= 128 ? data[0x7D] | data[0x7E] << 8 | data[0x7F] << 16 : 0;
        if (tune.fBuiltHeader) {
            expected = 128 + tune.nDataSize;
            if (tune.nDataOffset < 0 || tune.nDataOffset + tune.nDataSize > static_cast<std::int64_t>(size)) fuzz::Broken();
        } else if (size > 5 && data[5] == 2 && length != 0) {
            expected = std::min<std::int64_t>(expected, 128 + std::int64_t{length});
            if (tune.nDataSize != std::max<std::int64_t>(0, expected - 128)) fuzz::Broken();
        }
        if (tune.fValid != 1 || tune.nFileSize != expected) fuzz::Broken();
        if (std::strcmp(tune.pszPath.get(), path.c_str()) != 0) fuzz::Broken();
        tune.Describe(text);
        if (text.rfind("SongName : ", 0) != 0) fuzz::Broken();
        // The three texts never run past their 31 bytes.
        if (std::strlen(tune.szSongName) > 31 || std::strlen(tune.szArtist) > 31 || std::strlen(tune.szCopyright) > 31)
            fuzz::Broken();
    } else if (tune.fValid != 0) {
        fuzz::Broken();
    }
    // Decoding straight from memory agrees with the file reader.
    std::uint8_t header[kNsfHeaderSize] = {};
    std::memcpy(header, data, size < kNsfHeaderSize ? size : kNsfHeaderSize);
    NsfTune fromMemory;
    fromMemory.Init();
    fromMemory.DecodeHeader(header);
    if (tune.fValid == 1 && !tune.fBuiltHeader && (fromMemory.wPlayAdrs != tune.wPlayAdrs || fromMemory.bExtraSound != tune.bExtraSound))
        fuzz::Broken();
    tune.Release();
    return 0;
}
