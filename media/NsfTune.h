// The record of an NSF tune file (NES Sound Format): the fields of its 128-byte
// header, the file's path and size, and whether the last read succeeded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/NsfeChunks.h"
#include "media/StdioFile.h"

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
    // The three texts as the summary shows them, in UTF-8: each header field decoded
    // on its own, or an NSFe's whole auth names. The sz fields hold what the board gets.
    std::string strSongName, strArtist, strCopyright;
    std::uint16_t wSpeedNtsc = 0;
    std::uint16_t wSpeedPal = 0;
    std::uint8_t bankInit[8] = {};
    std::uint8_t bPalNtsc = 0;
    std::uint8_t bExtraSound = 0;
    std::int32_t nFileSize = 0;

    // Where the data sent after the header lies in the file. A classic NSF's runs
    // from byte 128 to the end of the file; an NSF2 that gives its program length
    // stops there (its metadata follows); an NSFe's is its DATA chunk. nFileSize is
    // then 128 plus the data's length: the size of the equivalent NSF file.
    std::int64_t nDataOffset = kNsfHeaderSize;
    std::int64_t nDataSize = -1;  // -1: to the end of the file
    // A tune in another format reaches the board as the version-1 NSF it stands for:
    // an NSFe's header is built from its chunks, an NSF2's is its own with the version
    // and the bytes it uses beyond version 1 set back. The board then gets builtHeader
    // instead of the file's first 128 bytes.
    bool fBuiltHeader = false;
    std::uint8_t builtHeader[kNsfHeaderSize] = {};
    // The tune's playlist: from its NSFe or NSF2 metadata, merged by the load step with
    // an M3U playlist; the summary lists it.
    Playlist tracks;
    // The file as it was when read, to tell whether it has changed since.
    FileStamp stamp;
    // Why the file cannot be used, when pszMessage is kBadNsfe or kShortHeader.
    std::string strProblem;

    // Failure texts of Read.
    static constexpr char kNoFile[] = "no file exist";
    static constexpr char kNoMagic[] = "no NESM";
    static constexpr char kTooLarge[] = "file too large";
    static constexpr char kIsDirectory[] = "is a directory";
    static constexpr char kNotRegular[] = "is not a regular file";
    static constexpr char kBadNsfe[] = "damaged NSFe";
    static constexpr char kShortHeader[] = "NSF header cut short";

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
    // True when the first four bytes are "NSFE".
    static bool HasNsfeMagic(const std::uint8_t* bytes, std::size_t count);
    // The 128-byte NSF header that stands for an NSFe's chunks.
    static void BuildHeader(const NsfeChunks& chunks, std::uint8_t (&header)[kNsfHeaderSize]);

private:
    void SetSentHeader(const std::uint8_t (&header)[kNsfHeaderSize]);
    std::int32_t ReadNsfe(StdioFile& file, std::int64_t size);
    void ReadNsf2Metadata(StdioFile& file, std::int64_t from, std::int64_t size);
};

}  // namespace tunlet
