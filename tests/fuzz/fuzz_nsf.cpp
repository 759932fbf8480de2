// The NSF reader and its summary on any bytes.
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
        if (tune.fValid != 1 || tune.nFileSize != static_cast<std::int32_t>(size)) fuzz::Broken();
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
    if (tune.fValid == 1 && (fromMemory.wPlayAdrs != tune.wPlayAdrs || fromMemory.bExtraSound != tune.bExtraSound))
        fuzz::Broken();
    tune.Release();
    return 0;
}
