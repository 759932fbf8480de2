// Texts of tune files and playlists (NSF header fields, NSFe names, M3U titles) come
// in whichever encoding their author's tools wrote: UTF-8, Shift-JIS (most Japanese
// rips) or Windows-1252. They are decoded here, once, into the UTF-8 that the
// summary, the window and tunlet-cli show.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tunlet {

enum class TextCoding {
    Utf8,
    ShiftJis,     // code page 932: a lead byte pairs only with a valid second byte
    Windows1252,  // takes any byte, so nothing is ever dropped
};

// UTF-8 when the bytes are well formed in it. Bytes well formed in Shift-JIS are
// mostly well formed Windows-1252 too (its accents and quotes are Shift-JIS lead
// bytes): they are Shift-JIS only when that reading holds no private-use character
// and looks more like Japanese (kana, runs of kanji) than the Windows-1252 reading
// looks like a Western title (accents inside words, quotes, no odd pairs of signs).
// cutShort: the text was cut to fit a fixed field, so its last character may be
// incomplete; such a tail does not count against the encoding.
TextCoding DetectCoding(std::string_view bytes, bool cutShort = false);

// The bytes in coding as UTF-8; an incomplete last character is left out.
std::string ToUtf8(std::string_view bytes, TextCoding coding);

// The bytes in the encoding DetectCoding finds, as UTF-8.
std::string TextToUtf8(std::string_view bytes, bool cutShort = false);

// The length of the character that starts at bytes[i]: 1 for a byte that starts
// none, or one whose character the text ends inside.
std::size_t CharLengthAt(std::string_view bytes, std::size_t i, TextCoding coding);

// The length of the longest start of bytes, at most max, that ends between two
// characters of coding.
std::size_t CharBoundary(std::string_view bytes, std::size_t max, TextCoding coding);

}  // namespace tunlet
