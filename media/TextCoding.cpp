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

// The code points of well-formed UTF-8.
std::u32string CodePoints(std::string_view utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const int n = Utf8Char(utf8, i);
        if (n < 1) break;
        const unsigned b = Byte(utf8, i);
        char32_t c = n == 1 ? b : b & (0x7Fu >> n);
        for (int k = 1; k < n; ++k) c = c << 6 | (Byte(utf8, i + static_cast<std::size_t>(k)) & 0x3F);
        out += c;
        i += static_cast<std::size_t>(n);
    }
    return out;
}

// How well a reading looks like a real title. A byte string that is well formed in both
// Shift-JIS and Windows-1252 is read the way that scores higher; a tie goes to
// Windows-1252, which drops nothing.
//
// Shift-JIS: kana are strong evidence, kanji and half-width kana only beside other
// Japanese characters. A lone kanji or half-width kana touching Latin letters is what
// a Western accent or quote turns into ("Don’t" as "Don稚", "Pokémon" as "Pok駑on").
// Windows-1252: an accented letter inside a word and typographic punctuation count
// for it; two non-ASCII characters side by side that are not both letters ("ƒ‰",
// "‚±", the look of Japanese text read this way) and the five unassigned bytes
// count against it.
constexpr int kKanaScore = 2;
constexpr int kJapaneseRunScore = 2;  // a kanji or half-width kana beside Japanese text
constexpr int kLoneKanjiScore = 1;    // a kanji standing alone ("曲")
constexpr int kBesideLatinScore = -1;
constexpr int kCjkSymbolScore = 1;
constexpr int kWordLetterScore = 2;  // an accented letter beside an ASCII letter
constexpr int kLetterScore = 1;
constexpr int kPunctuationScore = 1;
constexpr int kUnlikelyPairScore = -2;
constexpr int kUnassignedScore = -4;

bool IsAsciiLetter(char32_t c) { return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z'); }
bool IsKana(char32_t c) { return c >= 0x3041 && c <= 0x30FF; }
bool IsHalfWidthKana(char32_t c) { return c >= 0xFF61 && c <= 0xFF9F; }
bool IsKanji(char32_t c) {
    return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF);
}
// CJK punctuation (、。「」) and the full-width forms of ASCII and signs.
bool IsCjkSymbol(char32_t c) {
    return (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFEF);
}
bool IsJapanese(char32_t c) { return IsKana(c) || IsHalfWidthKana(c) || IsKanji(c) || IsCjkSymbol(c); }
bool IsPrivateUse(char32_t c) { return (c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000; }

// The score of a Shift-JIS reading; false when it holds a private-use character
// (code page 932's user-defined rows, F0-F9, which no title uses).
bool ShiftJisScore(std::string_view utf8, int& score) {
    const std::u32string text = CodePoints(utf8);
    score = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        const char32_t before = i > 0 ? text[i - 1] : 0;
        const char32_t after = i + 1 < text.size() ? text[i + 1] : 0;
        if (IsPrivateUse(c)) return false;
        if (IsKana(c)) {
            score += kKanaScore;
        } else if (IsCjkSymbol(c)) {
            score += kCjkSymbolScore;
        } else if (IsKanji(c) || IsHalfWidthKana(c)) {
            if (IsJapanese(before) || IsJapanese(after)) {
                score += kJapaneseRunScore;
            } else if (IsAsciiLetter(before) || IsAsciiLetter(after)) {
                score += kBesideLatinScore;
            } else if (IsKanji(c)) {
                score += kLoneKanjiScore;
            }
        }
    }
    return true;
}

enum class Cp1252Kind { Ascii, Letter, Punctuation, Symbol, Unassigned };

Cp1252Kind KindOf1252(unsigned b) {
    if (b < 0x80) return Cp1252Kind::Ascii;
    switch (b) {
        case 0x81: case 0x8D: case 0x8F: case 0x90: case 0x9D:
            return Cp1252Kind::Unassigned;
        case 0x8A: case 0x8C: case 0x8E: case 0x9A: case 0x9C: case 0x9E: case 0x9F:  // Š Œ Ž š œ ž Ÿ
            return Cp1252Kind::Letter;
        case 0x80: case 0x85: case 0x91: case 0x92: case 0x93: case 0x94: case 0x95:  // € … ‘ ’ “ ” •
        case 0x96: case 0x97: case 0x99: case 0xA1: case 0xA3: case 0xA9: case 0xAB:  // – — ™ ¡ £ © «
        case 0xAE: case 0xB0: case 0xBB: case 0xBF:                                   // ® ° » ¿
            return Cp1252Kind::Punctuation;
        case 0xD7: case 0xF7:  // × ÷
            return Cp1252Kind::Symbol;
        default:
            return b >= 0xC0 ? Cp1252Kind::Letter : Cp1252Kind::Symbol;
    }
}

int Windows1252Score(std::string_view s) {
    int score = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const Cp1252Kind kind = KindOf1252(Byte(s, i));
        const char32_t before = i > 0 ? Byte(s, i - 1) : 0;
        const char32_t after = i + 1 < s.size() ? Byte(s, i + 1) : 0;
        switch (kind) {
            case Cp1252Kind::Ascii:
            case Cp1252Kind::Symbol:
                break;
            case Cp1252Kind::Unassigned:
                score += kUnassignedScore;
                break;
            case Cp1252Kind::Letter:
                score += IsAsciiLetter(before) || IsAsciiLetter(after) ? kWordLetterScore : kLetterScore;
                break;
            case Cp1252Kind::Punctuation:
                score += kPunctuationScore;
                break;
        }
        if (kind != Cp1252Kind::Ascii && i + 1 < s.size()) {
            const Cp1252Kind next = KindOf1252(Byte(s, i + 1));
            if (next != Cp1252Kind::Ascii && !(kind == Cp1252Kind::Letter && next == Cp1252Kind::Letter)) {
                score += kUnlikelyPairScore;
            }
        }
    }
    return score;
}

// UTF-8 when the bytes are well formed in it (cutShort: but for a character cut at the
// end, which is left out); else Shift-JIS when they are well formed in it, stand for
// assigned characters and score above Windows-1252; else Windows-1252. out is the text
// in UTF-8.
TextCoding Decode(std::string_view bytes, bool cutShort, std::string& out) {
    const auto whole = [&](TextCoding coding, std::string_view& text) {
        const long long n = WholeLength(bytes, coding);
        if (n < 0 || (!cutShort && static_cast<std::size_t>(n) != bytes.size())) return false;
        text = bytes.substr(0, static_cast<std::size_t>(n));
        return true;
    };
    std::string_view text;
    if (whole(TextCoding::Utf8, text)) {
        out.assign(text);
        return TextCoding::Utf8;
    }
    int score = 0;
    if (whole(TextCoding::ShiftJis, text) && FromShiftJis(text, out) && ShiftJisScore(out, score) &&
        score > Windows1252Score(bytes)) {
        return TextCoding::ShiftJis;
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
