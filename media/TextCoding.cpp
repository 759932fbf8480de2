#include "media/TextCoding.h"

#ifdef _WIN32
#include <windows.h>

#include "media/WideText.h"
#else
#include <iconv.h>
#endif

namespace tunlet {

namespace {

// What CharLength finds at a position besides the length of a whole character.
constexpr int kMalformed = -1;
constexpr int kIncomplete = -2;  // a character's start that the text ends inside

unsigned Byte(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// UTF-8 as the standard defines it: no overlong forms, no surrogates, nothing past U+10FFFF.
int Utf8Char(std::string_view s, std::size_t i) {
    const unsigned b = Byte(s, i);
    if (b < 0x80) return 1;
    int n = 0;
    unsigned lo = 0x80, hi = 0xBF;  // the second byte's range
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return kMalformed;
    }
    for (int k = 1; k < n; ++k) {
        if (i + static_cast<std::size_t>(k) >= s.size()) return kIncomplete;
        const unsigned c = Byte(s, i + static_cast<std::size_t>(k));
        if (c < (k == 1 ? lo : 0x80u) || c > (k == 1 ? hi : 0xBFu)) return kMalformed;
    }
    return n;
}

// Shift-JIS: ASCII and the half-width katakana A1-DF stand alone; a lead byte takes
// a second byte from 40-7E or 80-FC. 80, A0 and FD-FF are no characters.
int ShiftJisChar(std::string_view s, std::size_t i) {
    const unsigned b = Byte(s, i);
    if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) return 1;
    if (!((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC))) return kMalformed;
    if (i + 1 >= s.size()) return kIncomplete;
    const unsigned c = Byte(s, i + 1);
    return c >= 0x40 && c <= 0xFC && c != 0x7F ? 2 : kMalformed;
}

int CharLength(std::string_view s, std::size_t i, TextCoding coding) {
    switch (coding) {
        case TextCoding::Utf8:
            return Utf8Char(s, i);
        case TextCoding::ShiftJis:
            return ShiftJisChar(s, i);
        case TextCoding::Windows1252:
            break;
    }
    return 1;
}

// The length of the text without an incomplete last character; -1 when it is malformed.
long long WholeLength(std::string_view s, TextCoding coding) {
    std::size_t i = 0;
    while (i < s.size()) {
        const int n = CharLength(s, i, coding);
        if (n == kIncomplete) return static_cast<long long>(i);
        if (n < 0) return -1;
        i += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(i);
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Windows-1252's characters for 80-9F; the five bytes it leaves unassigned keep their
// C1 control (as Windows itself decodes them). A0-FF are Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::string FromWindows1252(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned b = Byte(s, i);
        AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char32_t>(b));
    }
    return out;
}

// Whole Shift-JIS characters to UTF-8 with the system's code page 932 tables; false
// for a pair that is well formed but stands for no character.
bool FromShiftJis(std::string_view s, std::string& out) {
    out.clear();
    if (s.empty()) return true;
#ifdef _WIN32
    const int size = static_cast<int>(s.size());
    const int n = ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, s.data(), size, nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, s.data(), size, wide.data(), n);
    out = Narrow(wide);
    return true;
#else
    const iconv_t cd = ::iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in(s);
    out.resize(s.size() * 3);  // at most three UTF-8 bytes per Shift-JIS byte
    char* from = in.data();
    std::size_t fromLeft = in.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    const bool ok = ::iconv(cd, &from, &fromLeft, &to, &toLeft) != static_cast<std::size_t>(-1) && fromLeft == 0;
    ::iconv_close(cd);
    out.resize(out.size() - toLeft);
    return ok;
#endif
}

// The first of UTF-8, Shift-JIS and Windows-1252 that reads bytes whole (cutShort:
// but for a character cut at the end, which is left out), and the text in UTF-8.
TextCoding Decode(std::string_view bytes, bool cutShort, std::string& out) {
    for (TextCoding coding : {TextCoding::Utf8, TextCoding::ShiftJis}) {
        const long long whole = WholeLength(bytes, coding);
        if (whole < 0 || (!cutShort && static_cast<std::size_t>(whole) != bytes.size())) continue;
        const std::string_view text = bytes.substr(0, static_cast<std::size_t>(whole));
        if (coding == TextCoding::Utf8) {
            out.assign(text);
            return coding;
        }
        if (FromShiftJis(text, out)) return coding;
    }
    out = FromWindows1252(bytes);
    return TextCoding::Windows1252;
}

}  // namespace

TextCoding DetectCoding(std::string_view bytes, bool cutShort) {
    std::string decoded;
    return Decode(bytes, cutShort, decoded);
}

std::string TextToUtf8(std::string_view bytes, bool cutShort) {
    std::string decoded;
    Decode(bytes, cutShort, decoded);
    return decoded;
}

std::string ToUtf8(std::string_view bytes, TextCoding coding) {
    const long long whole = WholeLength(bytes, coding);
    if (whole >= 0) {
        const std::string_view text = bytes.substr(0, static_cast<std::size_t>(whole));
        if (coding == TextCoding::Utf8) return std::string(text);
        std::string out;
        if (coding == TextCoding::ShiftJis && FromShiftJis(text, out)) return out;
    }
    return FromWindows1252(bytes);
}

std::size_t CharLengthAt(std::string_view bytes, std::size_t i, TextCoding coding) {
    const int n = CharLength(bytes, i, coding);
    return n > 0 ? static_cast<std::size_t>(n) : 1;
}

std::size_t CharBoundary(std::string_view bytes, std::size_t max, TextCoding coding) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t length = CharLengthAt(bytes, i, coding);
        if (i + length > max) break;
        i += length;
    }
    return i;
}

}  // namespace tunlet
