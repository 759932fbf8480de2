#include "tests/fuzz/FuzzFile.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

namespace tunlet::fuzz {

const std::string& WriteInput(const std::uint8_t* data, std::size_t size, const char* suffix) {
    static std::map<std::string, std::string> paths;
    std::string& path = paths[suffix];
    if (path.empty()) {
        const char* dir = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        path = std::string(dir) + "/tunlet-fuzz-" + std::to_string(::getpid()) + suffix;
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) Broken();
    if (size != 0 && std::fwrite(data, 1, size, f) != size) Broken();
    std::fclose(f);
    return path;
}

}  // namespace tunlet::fuzz
