// The NSF reader and its summary on any bytes, NSF2 program lengths included; files
// shorter than the header included.
#include <algorithm>
#include <cstring>
#include <string>

#include "media/NsfTune.h"
#include "media/TextCoding.h"
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
        const bool nsfe = size >= 4 && std::memcmp(data, "NSFE", 4) == 0;
        const bool nsf2 = !nsfe && size > 5 && data[5] == 2;
        // A tune in another format is sent with the header of its version-1 NSF.
        if (tune.fBuiltHeader != (nsfe || nsf2)) fuzz::Broken();
        if (nsf2 && (tune.builtHeader[5] != 1 || tune.builtHeader[0x7C] != 0 || tune.builtHeader[0x7D] != 0 ||
                     tune.builtHeader[0x7E] != 0 || tune.builtHeader[0x7F] != 0))
            fuzz::Broken();
        if (nsfe) {
            expected = 128 + tune.nDataSize;
            if (tune.nDataOffset < 0 || tune.nDataOffset + tune.nDataSize > static_cast<std::int64_t>(size)) fuzz::Broken();
        } else if (nsf2 && length != 0) {
            expected = std::min<std::int64_t>(expected, 128 + std::int64_t{length});
            if (tune.nDataSize != std::max<std::int64_t>(0, expected - 128)) fuzz::Broken();
        }
        if (tune.fValid != 1 || tune.nFileSize != expected) fuzz::Broken();
        // A file that ends inside its NSF header is never taken for a tune.
        if (!nsfe && size < kNsfHeaderSize) fuzz::Broken();
        if (std::strcmp(tune.pszPath.get(), path.c_str()) != 0) fuzz::Broken();
        tune.Describe(text);
        if (text.rfind("SongName : ", 0) != 0) fuzz::Broken();
        // Whatever the texts' encodings, the summary is UTF-8.
        if (DetectCoding(text) != TextCoding::Utf8) fuzz::Broken();
        // The three texts never run past their 31 bytes.
        if (std::strlen(tune.szSongName) > 31 || std::strlen(tune.szArtist) > 31 || std::strlen(tune.szCopyright) > 31)
            fuzz::Broken();
    } else if (tune.fValid != 0 || (tune.pszMessage == NsfTune::kShortHeader && size >= kNsfHeaderSize)) {
        fuzz::Broken();
    }
    // Decoding straight from memory agrees with the file reader.
    std::uint8_t header[kNsfHeaderSize] = {};
    std::memcpy(header, data, size < kNsfHeaderSize ? size : kNsfHeaderSize);
    NsfTune fromMemory;
    fromMemory.Init();
    fromMemory.DecodeHeader(header);
    const bool nsfe = size >= 4 && std::memcmp(data, "NSFE", 4) == 0;
    if (tune.fValid == 1 && !nsfe && (fromMemory.wPlayAdrs != tune.wPlayAdrs || fromMemory.bExtraSound != tune.bExtraSound))
        fuzz::Broken();
    tune.Release();
    return 0;
}
