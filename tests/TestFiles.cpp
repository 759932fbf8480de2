#include "tests/TestFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace tunlet::test {

namespace {

// Paths are UTF-8 strings in the program and its tests, on Windows too.
std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string u = path.u8string();
    return std::string(u.begin(), u.end());
}

}  // namespace

TempDir::TempDir() {
    // A new folder of our own under the system's temporary folder.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const auto candidate = std::filesystem::temp_directory_path() / ("tunlet-test-" + std::to_string(random()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) path_ = Utf8(candidate);
    }
    if (path_.empty()) throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FsPath(path_), ec);
}

std::string TempDir::Write(const std::string& name, const Bytes& bytes) const {
    const std::string full = path_ + "/" + name;
    std::filesystem::create_directories(FsPath(full).parent_path());
    std::ofstream f(FsPath(full), std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + full);
    return full;
}

Bytes ReadAll(const std::string& path) {
    std::ifstream f(FsPath(path), std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string DataFile(const std::string& name) { return std::string(TUNLET_TEST_DATA) + "/" + name; }

namespace {
void PutLe16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void PutText(Bytes& b, std::size_t at, const std::string& s) {
    std::memcpy(&b[at], s.data(), std::min<std::size_t>(s.size(), 32));
}
}  // namespace

Bytes MakeNsf(const NsfSpec& s, std::size_t dataBytes) {
    Bytes b(128 + dataBytes, 0);
    std::memcpy(b.data(), "NESM\x1A", 5);
    b[5] = 1;
    b[6] = s.songs;
    b[7] = s.startSong;
    PutLe16(b, 8, s.load);
    PutLe16(b, 10, s.init);
    PutLe16(b, 12, s.play);
    PutText(b, 0x0E, s.name);
    PutText(b, 0x2E, s.artist);
    PutText(b, 0x4E, s.copyright);
    PutLe16(b, 0x6E, s.speedNtsc);
    std::memcpy(&b[0x70], s.bank, 8);
    PutLe16(b, 0x78, s.speedPal);
    b[0x7A] = s.palNtsc;
    b[0x7B] = s.extra;
    b[126] = s.reserved126;
    b[127] = s.reserved127;
    const Bytes data = TuneData(dataBytes);
    std::copy(data.begin(), data.end(), b.begin() + 128);
    return b;
}

Bytes TuneData(std::size_t dataBytes) {
    Bytes b(dataBytes);
    for (std::size_t i = 0; i < dataBytes; ++i) b[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return b;
}

Bytes Chunk(const std::string& id, const Bytes& data) {
    const std::size_t n = data.size();
    Bytes b(8 + n, 0);
    for (int i = 0; i < 4; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n >> (8 * i));
    std::memcpy(&b[4], id.data(), 4);
    std::copy(data.begin(), data.end(), b.begin() + 8);
    return b;
}

Bytes Le32s(const std::vector<std::int32_t>& values) {
    Bytes b;
    for (std::int32_t v : values) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
    }
    return b;
}

Bytes Strings(const std::vector<std::string>& texts) {
    Bytes b;
    for (const std::string& t : texts) {
        b.insert(b.end(), t.begin(), t.end());
        b.push_back(0);
    }
    return b;
}

Bytes NsfeInfo(const NsfSpec& s) {
    Bytes b(10, 0);
    PutLe16(b, 0, s.load);
    PutLe16(b, 2, s.init);
    PutLe16(b, 4, s.play);
    b[6] = s.palNtsc;
    b[7] = s.extra;
    b[8] = s.songs;
    b[9] = static_cast<std::uint8_t>(s.startSong - 1);
    return b;
}

Bytes MakeNsfe(const std::vector<Bytes>& chunks) {
    Bytes b = {'N', 'S', 'F', 'E'};
    for (const Bytes& c : chunks) b.insert(b.end(), c.begin(), c.end());
    return b;
}

Bytes MakeNes(std::uint8_t prgBanks, std::uint8_t chrBanks, std::uint8_t flags6, std::uint8_t flags7) {
    const bool trainer = (flags6 & 0x04) != 0;
    const std::size_t size = 16 + (trainer ? 512 : 0) + prgBanks * 16384u + chrBanks * 8192u;
    Bytes b(size, 0);
    std::memcpy(b.data(), "NES\x1A", 4);
    b[4] = prgBanks;
    b[5] = chrBanks;
    b[6] = flags6;
    b[7] = flags7;
    for (std::size_t i = 16; i < size; ++i) b[i] = static_cast<std::uint8_t>((i * 13 + i / 4093) & 0xFF);
    return b;
}

Bytes MakeAlbumNsfe(const std::vector<std::int32_t>& fades) {
    NsfSpec spec;
    spec.songs = 4;
    std::vector<Bytes> chunks = {Chunk("INFO", NsfeInfo(spec)), Chunk("tlbl", Strings({"One", "Two", "Three", "Four"})),
                                 Chunk("time", Le32s({10000, 5000, 20000, -1}))};
    if (!fades.empty()) chunks.push_back(Chunk("fade", Le32s(fades)));
    for (const Bytes& chunk : {Chunk("psfx", {1}), Chunk("plst", {2, 1, 0, 3}), Chunk("DATA", TuneData(5000)),
                               Chunk("NEND", {})}) {
        chunks.push_back(chunk);
    }
    return MakeNsfe(chunks);
}

std::string WriteAlbumM3u(const TempDir& dir) {
    NsfSpec spec;
    spec.songs = 5;
    spec.name = "Chiptune Album";
    dir.Write("album.nsf", MakeNsf(spec, 1000));
    const std::string m3u =
        "album.nsf::NSF,3,Overworld,1:30\nalbum.nsf::NSF,1,Title Screen,0:45\nalbum.nsf::NSF,$3,Cave,1:10,,3\n"
        "album.nsf::NSF,5,Ending\n";
    return dir.Write("album.m3u", Bytes(m3u.begin(), m3u.end()));
}

}  // namespace tunlet::test
