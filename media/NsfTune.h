// The record of an NSF tune file (NES Sound Format): the fields of its 128-byte
// header, the file's path and size, and whether the last read succeeded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tunlet {

constexpr std::size_t kNsfHeaderSize = 128;

struct NsfTune {
    std::int32_t fValid = 0;
    const char* pszMessage = "";
    std::unique_ptr<char[]> pszPath;  // copy of the path of the last file whose magic matched
    std::uint8_t nSongs = 0;
    std::uint8_t nStartSong = 0;
    std::uint16_t wLoadAdrs = 0;
    std::uint16_t wInitAdrs = 0;
    std::uint16_t wPlayAdrs = 0;
    char szSongName[32] = {};
    char szArtist[32] = {};
    char szCopyright[32] = {};
    std::uint16_t wSpeedNtsc = 0;
    std::uint16_t wSpeedPal = 0;
    std::uint8_t bankInit[8] = {};
    std::uint8_t bPalNtsc = 0;
    std::uint8_t bExtraSound = 0;
    std::int32_t nFileSize = 0;

    // Failure texts of Read.
    static constexpr char kNoFile[] = "no file exist";
    static constexpr char kNoMagic[] = "no NESM";
    static constexpr char kTooLarge[] = "file too large";

    void Init();
    void Release();
    // 0 on success, -1 on every failure (pszMessage tells which).
    std::int32_t Read(const char* path);
    // Replaces text with the LF-separated summary of the header.
    void Describe(std::string& text) const;

    // Fills the header fields from the 128 header bytes as they stand in the file
    // (magic included). Separate from Read so that it can be tested from memory.
    void DecodeHeader(const std::uint8_t (&header)[kNsfHeaderSize]);
    // True when the first five bytes are "NESM" and 0x1A.
    static bool HasMagic(const std::uint8_t* bytes, std::size_t count);
};

}  // namespace tunlet
