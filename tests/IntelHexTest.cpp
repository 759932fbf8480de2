// The firmware file reader: good files give their records, damaged ones are refused
// with the line that is wrong. Lines and checksums written out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "cable/IntelHex.h"

namespace tunlet {
namespace {

struct HexCase {
    const char* what;
    const char* text;
    std::vector<HexRecord> records;  // expected when error is ""
    const char* error;
};

TEST(IntelHex, Table) {
    const std::vector<HexMemoryRange> fx2(std::begin(kFx2Ram), std::end(kFx2Ram));
    const HexCase cases[] = {
        {"data then end", ":0300000002000FEC\n:00000001FF\n", {{0x0000, {0x02, 0x00, 0x0F}}}, ""},
        {"CR LF, lower case, blank line", ":0300000002000fec\r\n\r\n:00000001ff\r\n", {{0x0000, {0x02, 0x00, 0x0F}}}, ""},
        {"scratch RAM", ":02E00000A1B2CB\n:00000001FF", {{0xE000, {0xA1, 0xB2}}}, ""},
        {"last two bytes of RAM", ":021FFE00556626\n:00000001FF\n", {{0x1FFE, {0x55, 0x66}}}, ""},
        {"zero linear and segment bases, start address passed over",
         ":020000040000FA\n:020000020000FC\n:0400000300000000F9\n:0300000002000FEC\n:00000001FF\n",
         {{0x0000, {0x02, 0x00, 0x0F}}}, ""},
        {"what follows the end is not read", ":00000001FF\nnot hex\n", {}, ""},
        {"bad checksum", ":0300000002000FEC\n:0300000002000FED\n:00000001FF\n", {}, "line 2: the checksum does not match"},
        {"no colon", "0300000002000FEC\n:00000001FF\n", {}, "line 1: a record must start with ':'"},
        {"not hex", ":03000000020G0FEC\n:00000001FF\n", {}, "line 1: not a hex digit"},
        {"odd length", ":0300000002000FE\n", {}, "line 1: the record is cut short"},
        {"count longer than the record", ":0400000002000FEB\n", {}, "line 1: the byte count does not match the record's length"},
        {"past the RAM", ":01400000AA15\n:00000001FF\n", {}, "line 1: the data lies outside the chip's RAM"},
        {"across the end of RAM into the gap", ":02DFFF00AABBBB\n:00000001FF\n", {}, "line 1: the data lies outside the chip's RAM"},
        {"a linear base moves data out of RAM", ":020000040001F9\n:0300000002000FEC\n:00000001FF\n", {},
         "line 2: the data lies outside the chip's RAM"},
        {"unknown type", ":00000006FA\n:00000001FF\n", {}, "line 1: unknown record type 6"},
        {"no end record", ":0300000002000FEC\n", {}, "line 1: the file ends without an end-of-file record"},
        {"empty file", "", {}, "line 1: the file ends without an end-of-file record"},
    };
    for (const HexCase& c : cases) {
        SCOPED_TRACE(c.what);
        // 8 KiB of program RAM (the first FX2) and the scratch RAM.
        const std::vector<HexMemoryRange> memory = {{0x0000, 0x2000}, {0xE000, 0xE200}};
        const HexImage image = ReadIntelHex(c.text, memory);
        EXPECT_EQ(image.error, c.error);
        if (*c.error == '\0') {
            EXPECT_EQ(image.records, c.records);
        } else {
            EXPECT_TRUE(image.records.empty());
        }
    }
    // The FX2LP's 16 KiB take what the first FX2's 8 KiB refuse.
    EXPECT_EQ(ReadIntelHex(":021FFE00556626\n:00000001FF\n", fx2).error, "");
    EXPECT_EQ(ReadIntelHex(":01400000AA15\n:00000001FF\n", fx2).error, "line 1: the data lies outside the chip's RAM");
}

}  // namespace
}  // namespace tunlet
