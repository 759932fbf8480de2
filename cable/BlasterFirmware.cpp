#include "cable/BlasterFirmware.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace tunlet {

namespace fs = std::filesystem;

namespace {

// A firmware for the FX2 fills at most 16 KiB: its HEX text is far below this.
constexpr std::uintmax_t kMaxFirmwareFileBytes = 1 << 20;

// "20.1" -> {20, 1}; "21.1std" -> {21, 1}: the numbers of a version folder's name.
std::vector<long> VersionNumbers(const std::string& name) {
    std::vector<long> numbers;
    std::size_t i = 0;
    while (i < name.size()) {
        if (name[i] >= '0' && name[i] <= '9') {
            std::size_t end = i;
            while (end < name.size() && name[end] >= '0' && name[end] <= '9' && end - i < 9) ++end;
            numbers.push_back(std::stol(name.substr(i, end - i)));
            i = end;
        } else {
            ++i;
        }
    }
    return numbers;
}

// The folders under base whose name starts with prefix.
std::vector<fs::path> FoldersStartingWith(const fs::path& base, const std::string& prefix) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) == 0 && it->is_directory(ec)) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

struct Install {
    fs::path folder;  // .../quartus/linux64
    std::vector<long> version;
    std::size_t order;  // the pattern's place, for equal versions
};

// base/prefix*/VERSION/quartus/linux64 for every such folder.
void AddInstalls(const fs::path& base, const std::string& prefix, std::vector<Install>& installs) {
    for (const fs::path& vendor : FoldersStartingWith(base, prefix)) {
        for (const fs::path& version : FoldersStartingWith(vendor, "")) {
            const fs::path folder = version / "quartus" / "linux64";
            std::error_code ec;
            if (fs::is_directory(folder, ec)) {
                installs.push_back({folder, VersionNumbers(version.filename().string()), installs.size()});
            }
        }
    }
}

std::string ReadSmallFile(const fs::path& path, std::string& error) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = "cannot be read (" + ec.message() + ")";
        return {};
    }
    if (size > kMaxFirmwareFileBytes) {
        error = "is too large to be a firmware for the USB-Blaster II";
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) error = "cannot be read";
    return text;
}

}  // namespace

FirmwareRoots ProcessFirmwareRoots(std::string given) {
    FirmwareRoots roots;
    roots.given = std::move(given);
    if (const char* q = std::getenv("QUARTUS_ROOTDIR")) roots.quartusRoot = q;
    if (const char* h = std::getenv("HOME")) roots.home = h;
    return roots;
}

std::vector<fs::path> FirmwarePlaces(const FirmwareRoots& roots) {
    if (!roots.given.empty()) return {fs::path(roots.given)};
    std::vector<fs::path> places;
    if (!roots.quartusRoot.empty()) places.push_back(fs::path(roots.quartusRoot) / "linux64" / kBlasterFirmwareName);
    std::vector<Install> installs;
    const fs::path opt = roots.root / "opt";
    if (!roots.home.empty()) AddInstalls(roots.home, "intelFPGA", installs);
    AddInstalls(opt, "intelFPGA", installs);
    if (!roots.home.empty()) AddInstalls(roots.home, "altera", installs);
    AddInstalls(opt, "altera", installs);
    std::stable_sort(installs.begin(), installs.end(), [](const Install& a, const Install& b) {
        return a.version != b.version ? a.version > b.version : a.order < b.order;
    });
    for (const Install& i : installs) places.push_back(i.folder / kBlasterFirmwareName);
    return places;
}

FirmwareImage FindBlasterFirmware(const FirmwareRoots& roots) {
    FirmwareImage image;
    const std::vector<fs::path> places = FirmwarePlaces(roots);
    for (const fs::path& place : places) {
        std::error_code ec;
        if (!fs::exists(place, ec)) continue;
        image.path = place.string();
        std::string error;
        const std::string text = ReadSmallFile(place, error);
        if (error.empty()) {
            const std::vector<HexMemoryRange> ram(std::begin(kFx2Ram), std::end(kFx2Ram));
            HexImage hex = ReadIntelHex(text, ram);
            if (hex.error.empty()) {
                image.records = std::move(hex.records);
                return image;
            }
            error = "is damaged: " + hex.error;
        }
        image.error = "the USB-Blaster II firmware " + image.path + " " + error;
        return image;
    }
    if (!roots.given.empty()) {
        image.error = "the USB-Blaster II firmware " + roots.given + " does not exist";
        return image;
    }
    std::ostringstream why;
    why << "the USB-Blaster II needs its firmware, " << kBlasterFirmwareName
        << ", which comes with Quartus; Tunlet looked in $QUARTUS_ROOTDIR/linux64 ("
        << (roots.quartusRoot.empty() ? "not set" : roots.quartusRoot + "/linux64")
        << "), ~/intelFPGA*/*/quartus/linux64, /opt/intelFPGA*/*/quartus/linux64, ~/altera*/*/quartus/linux64 and "
           "/opt/altera*/*/quartus/linux64";
    if (!places.empty()) {
        why << " (";
        for (std::size_t i = 0; i < places.size(); ++i) why << (i == 0 ? "" : ", ") << places[i].string();
        why << ")";
    }
    why << ". Point Tunlet at the file: tunlet-cli --firmware PATH, or \"USB-Blaster II firmware...\" in the "
           "window's menu";
    image.error = why.str();
    return image;
}

}  // namespace tunlet
