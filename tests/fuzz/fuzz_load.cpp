// The load step that tries the NSF reader, then the iNES reader: whatever the bytes,
// nothing half read is kept.
#include <memory>
#include <string>

#include "app/LoadFile.h"
#include "tests/fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tunlet;
    if (size == 0) return 0;
    static const char* const kSuffixes[] = {".nsf", ".nes", ".bin", ".NES"};
    const std::string& path = fuzz::WriteInput(data + 1, size - 1, kSuffixes[data[0] % 4]);
    NsfTune tune;
    tune.Init();
    std::unique_ptr<NesRom> rom;
    const LoadOutcome out = LoadFile(path.c_str(), tune, rom);
    switch (out.kind) {
        case LoadKind::Tune:
            if (tune.fValid != 1 || rom || tune.nFileSize < kMinTuneSize) fuzz::Broken();
            if (InitialSliderPos(tune) < 0 || InitialSliderPos(tune) > std::max(0, SliderTop(tune))) fuzz::Broken();
            break;
        case LoadKind::Rom:
            if (!rom || !rom->pPrgRom || !rom->pChrRom || tune.fValid != 0) fuzz::Broken();
            break;
        case LoadKind::Damaged:
        case LoadKind::Unknown:
            if (rom || tune.fValid != 0 || out.text.empty()) fuzz::Broken();
            break;
    }
    tune.Release();
    return 0;
}
