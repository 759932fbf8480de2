#include "app/LoadFile.h"

#include <algorithm>

#include "media/Playlist.h"
#include "media/StdioFile.h"
#include "media/TextCoding.h"

namespace tunlet {

namespace {

std::string UnknownReason(const char* path, const NsfTune& tune, const NesRom& rom, std::int32_t romResult) {
    if (tune.pszMessage == NsfTune::kBadNsfe) return "This NSFe tune cannot be played: " + tune.strProblem + ".";
    if (tune.pszMessage == NsfTune::kShortHeader) return "This NSF tune cannot be played: " + tune.strProblem + ".";
    if (romResult == NesRom::kUnsupported) return "This ROM cannot be sent to the board: " + rom.strProblem + ".";
    std::string why;
    if (tune.pszMessage == NsfTune::kIsDirectory) {
        why = kIsDirectoryText;
    } else if (tune.pszMessage == NsfTune::kNotRegular) {
        why = kNotRegularText;
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

// The M3U at m3uPath (read already when why is empty) merged into the tune's own
// playlist, with one line that says which playlist was used, or why it was not.
void ApplyM3u(NsfTune& tune, const std::string& m3uPath, const M3uFile& m3u, std::string why) {
    Playlist merged = tune.tracks;
    if (why.empty()) merged = MergeM3u(tune.tracks, tune.nSongs, m3u, FileNameOf(tune.pszPath.get()), why);
    const std::string name = TextToUtf8(FileNameOf(m3uPath));  // the summary is UTF-8 throughout
    if (why.empty()) {
        merged.note = "Playlist: " + name;
        if (m3u.damaged > 0) merged.note += " (" + std::to_string(m3u.damaged) + " damaged lines skipped)";
    } else {
        merged.note = "Playlist " + name + " ignored: " + why + ".";
    }
    tune.tracks = std::move(merged);
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
    // A playlist given itself brings its first tune; a tune may have one beside it.
    std::string file = path;
    std::string m3uPath;
    M3uFile m3u;
    std::string m3uWhy;
    std::string prefix;
    if (IsM3uPath(path)) {
        m3uPath = path;
        if (!ReadM3uFile(m3uPath, m3u, m3uWhy)) {
            out.text = "This playlist cannot be played: " + m3uWhy + ".";
            return out;
        }
        file = FirstTuneOf(m3u, m3uPath);
        if (file.empty()) {
            out.text = "This playlist cannot be played: it names no tune.";
            return out;
        }
        prefix = "The playlist's tune " + std::string(FileNameOf(file)) + ": ";
    } else if (m3uPath = FindM3uBeside(file); !m3uPath.empty()) {
        ReadM3uFile(m3uPath, m3u, m3uWhy);
    }
    out.filePath = file;
    path = out.filePath.c_str();

    if (tune.Read(path) == 0) {
        if (tune.nFileSize < kMinTuneSize) tune.nFileSize = kMinTuneSize;
        if (!m3uPath.empty()) ApplyM3u(tune, m3uPath, m3u, m3uWhy);
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
        if (!e.detail().empty()) out.text += "\n" + e.detail();
        return out;
    }
    if (result != 0) {
        out.kind = LoadKind::Unknown;
        out.text = prefix + UnknownReason(path, tune, *fresh, result);
        return out;
    }
    rom = std::move(fresh);
    out.kind = LoadKind::Rom;
    rom->Describe(out.text);
    return out;
}

}  // namespace tunlet
