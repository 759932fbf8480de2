#include "app/LoadFile.h"

#include <algorithm>

namespace tunlet {

namespace {

std::string UnknownReason(const char* path, const NsfTune& tune, const NesRom& rom, std::int32_t romResult) {
    if (tune.pszMessage == NsfTune::kBadNsfe) return "This NSFe tune cannot be played: " + tune.strProblem + ".";
    if (romResult == NesRom::kUnsupported) return "This ROM cannot be sent to the board: " + rom.strProblem + ".";
    std::string why;
    if (tune.pszMessage == NsfTune::kIsDirectory) {
        why = "it is a directory";
    } else if (tune.pszMessage == NsfTune::kNotRegular) {
        why = "it is not a regular file (a named pipe, a socket or a device)";
    } else if (tune.pszMessage == NsfTune::kTooLarge) {
        why = "the file is too large for a tune";
    } else if (tune.pszMessage == NsfTune::kNoFile) {
        why = "the file does not exist or cannot be read";
    } else if (romResult == -2) {
        why = "it has none of the NESM, NSFE and NES headers";
    } else if (!NesRom::NameTaken(path)) {
        why = "it has neither an NESM nor an NSFE header, and its name does not contain .nes";
    } else {
        why = "the file cannot be read";
    }
    return "Not an NSF tune or iNES ROM: " + why + ".";
}

}  // namespace

int SliderTop(const NsfTune& tune) { return static_cast<int>(tune.nSongs) - 1; }

int InitialSliderPos(const NsfTune& tune) {
    const int top = std::max(0, SliderTop(tune));
    return std::clamp(static_cast<int>(tune.nStartSong) - 1, 0, top);
}

LoadOutcome LoadFile(const char* path, NsfTune& tune, std::unique_ptr<NesRom>& rom) {
    LoadOutcome out;
    if (rom) {
        rom->Release();
        rom.reset();
    }
    if (tune.Read(path) == 0) {
        if (tune.nFileSize < kMinTuneSize) tune.nFileSize = kMinTuneSize;
        out.kind = LoadKind::Tune;
        tune.Describe(out.text);
        return out;
    }
    auto fresh = std::make_unique<NesRom>();
    fresh->Clear();
    std::int32_t result = 0;
    try {
        result = fresh->Read(path);
    } catch (const RomReadError& e) {
        fresh->Release();
        out.kind = LoadKind::Damaged;
        out.text = e.what();
        return out;
    }
    if (result != 0) {
        out.kind = LoadKind::Unknown;
        out.text = UnknownReason(path, tune, *fresh, result);
        return out;
    }
    rom = std::move(fresh);
    out.kind = LoadKind::Rom;
    rom->Describe(out.text);
    return out;
}

}  // namespace tunlet
