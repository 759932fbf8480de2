// The load step shared by the window's drop handler and the command line: a path is
// read as an NSF tune first and, failing that, as an iNES ROM image.
#pragma once

#include <memory>
#include <string>

#include "media/NesRom.h"
#include "media/NsfTune.h"

namespace tunlet {

// The smallest size a tune is sent as: smaller files are padded out to 8 blocks.
constexpr std::int32_t kMinTuneSize = 0x8000;

enum class LoadKind {
    Tune,     // tune holds the file (fValid 1, nFileSize at least 32768); rom is null
    Rom,      // rom holds the fully read image
    Damaged,  // the ROM reader raised its text; rom is null, tune.fValid 0
    Unknown,  // neither reader accepted the file; rom is null, tune.fValid 0
};

struct LoadOutcome {
    LoadKind kind = LoadKind::Unknown;
    // Tune, Rom: the summary with LF line ends (Describe's bytes).
    // Damaged: the reader's text ("rom read error", "EOF error"); after "rom read
    // error" a second line gives the sizes expected and found.
    // Unknown: one line that says the file is neither and why.
    std::string text;
    // The file read: the path given, or the tune an M3U playlist given names first.
    std::string filePath;
};

// The song slider of a tune spans 0 .. nSongs - 1 and starts on nStartSong - 1,
// clamped into its range as the slider itself does (a range whose top is below 0
// holds only position 0).
int SliderTop(const NsfTune& tune);
int InitialSliderPos(const NsfTune& tune);

// Reads path into tune or a new rom. Any rom held before is released first. A ROM
// that was not read in full is never kept, so nothing half read can be sent.
// A tune's extended M3U playlist (beside it with the same base name) is merged into
// tune.tracks; an .m3u path loads the tune the playlist names first, with it.
LoadOutcome LoadFile(const char* path, NsfTune& tune, std::unique_ptr<NesRom>& rom);

}  // namespace tunlet
