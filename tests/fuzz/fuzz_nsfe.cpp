// The NSFe chunk walker on any bytes, from memory and through the tune reader.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "media/NsfTune.h"
#include "media/TextCoding.h"
#include "tests/fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tunlet;
    NsfeChunks chunks;
    const std::string problem = ReadNsfeChunks(data, size, chunks);
    // The DATA chunk found always lies inside the bytes walked.
    if (chunks.hasData && (chunks.dataOffset > size || chunks.dataSize > size - chunks.dataOffset)) fuzz::Broken();
    // However long its chunks, the lists kept stay within what an album needs.
    if (chunks.order.size() > kMaxPlayOrder || chunks.labels.size() > kMaxPlayOrder ||
        chunks.times.size() > kMaxPlayOrder || chunks.effects.size() > kMaxPlayOrder)
        fuzz::Broken();
    for (const std::string& name : chunks.labels) {
        if (name.size() > kMaxTitleBytes) fuzz::Broken();
    }
    std::string text;
    DescribeTracks(chunks.Tracks(chunks.songs), chunks.songs, text);
    // The same bytes as an M3U playlist, merged into the tune's own.
    const M3uFile m3u = ParseM3u(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string why;
    const Playlist merged = MergeM3u(chunks.Tracks(chunks.songs), chunks.songs, m3u, "tune.nsf", why);
    if (m3u.entries.size() > kMaxPlayOrder || merged.entries.size() > kMaxPlayOrder) fuzz::Broken();
    for (const PlaylistEntry& e : merged.entries) {
        if (e.song < 1 || e.song > chunks.songs) fuzz::Broken();
    }
    DescribeTracks(merged, chunks.songs, text);
    // Titles from any bytes come out in UTF-8.
    if (DetectCoding(text) != TextCoding::Utf8) fuzz::Broken();

    // The same bytes as an NSFe file.
    std::vector<std::uint8_t> file = {'N', 'S', 'F', 'E'};
    file.insert(file.end(), data, data + size);
    NsfTune tune;
    tune.Init();
    const std::string& path = fuzz::WriteInput(file.data(), file.size(), ".nsfe");
    if (tune.Read(path.c_str()) == 0) {
        if (!problem.empty() || !chunks.hasInfo || !chunks.hasData || !chunks.hasEnd) fuzz::Broken();
        if (!tune.fBuiltHeader || tune.nFileSize != static_cast<std::int32_t>(128 + chunks.dataSize)) fuzz::Broken();
        if (tune.nStartSong != static_cast<std::uint8_t>(chunks.startSong + 1)) fuzz::Broken();
        tune.Describe(text);
        if (std::strlen(tune.szSongName) > 31 || std::strlen(tune.szArtist) > 31 || std::strlen(tune.szCopyright) > 31)
            fuzz::Broken();
        // The board's text fields end with NUL.
        if (tune.builtHeader[0x0E + 31] != 0 || tune.builtHeader[0x2E + 31] != 0 || tune.builtHeader[0x4E + 31] != 0)
            fuzz::Broken();
        if (DetectCoding(text) != TextCoding::Utf8) fuzz::Broken();
    } else if (tune.pszMessage == NsfTune::kBadNsfe && tune.strProblem.empty()) {
        fuzz::Broken();
    }
    tune.Release();
    return 0;
}
