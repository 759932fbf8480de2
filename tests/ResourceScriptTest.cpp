// The Windows resource script and the dialog templates the Qt window and the tests
// use must not drift apart: both dialogs, control by control, the string table and
// the version block.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "res/DialogTemplates.h"
#include "res/Strings.h"
#include "res/Version.h"

namespace tunlet {
namespace {

// The style names the script uses, with Windows' values for them.
const std::map<std::string, std::uint32_t> kStyles = {
    {"WS_POPUP", 0x80000000},  {"WS_CHILD", 0x40000000},     {"WS_VISIBLE", 0x10000000},
    {"WS_CAPTION", 0x00C00000}, {"WS_BORDER", 0x00800000},   {"WS_SYSMENU", 0x00080000},
    {"WS_MINIMIZEBOX", 0x00020000}, {"WS_MAXIMIZEBOX", 0x00010000}, {"WS_THICKFRAME", 0x00040000},
    {"WS_HSCROLL", 0x00100000}, {"ES_AUTOVSCROLL", 0x40},
    {"WS_GROUP", 0x00020000},   {"WS_TABSTOP", 0x00010000},  {"DS_MODALFRAME", 0x80},
    {"DS_SETFONT", 0x40},       {"WS_EX_APPWINDOW", 0x40000}, {"WS_EX_RIGHT", 0x1000},
    {"WS_EX_RTLREADING", 0x2000}, {"BS_PUSHBUTTON", 0x0},    {"BS_DEFPUSHBUTTON", 0x1},
    {"ES_RIGHT", 0x2},          {"ES_MULTILINE", 0x4},       {"ES_AUTOHSCROLL", 0x80},
    {"ES_READONLY", 0x800},     {"ES_WANTRETURN", 0x1000},   {"SS_LEFT", 0x0},
    {"SS_ICON", 0x3},           {"SS_NOPREFIX", 0x80},       {"TBS_AUTOTICKS", 0x1},
    {"TBS_TOP", 0x4},           {"WS_VSCROLL", 0x00200000},  {"BS_AUTOCHECKBOX", 0x3},
    {"SS_RIGHT", 0x2},          {"LBS_NOTIFY", 0x1},         {"LBS_NOINTEGRALHEIGHT", 0x100},
};

std::uint32_t Flags(const std::string& expr) {
    std::uint32_t value = 0;
    std::istringstream in(expr);
    std::string name;
    while (std::getline(in, name, '|')) {
        name = std::regex_replace(name, std::regex(R"(^\s+|\s+$)"), "");
        const auto it = kStyles.find(name);
        if (it == kStyles.end()) {
            ADD_FAILURE() << "unknown style " << name;
            continue;
        }
        value |= it->second;
    }
    return value;
}

struct Parsed {
    res::DialogTemplate dialog{};
    std::vector<std::string> texts;  // the controls' texts, owned here
    std::string caption, font;
};

std::string Script() {
    std::ifstream in(std::string(TUNLET_SOURCE_DIR) + "/res/win32/tunlet.rc", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The DIALOGEX block of this id, read back into a template.
Parsed ReadDialog(const std::string& script, int id) {
    Parsed p;
    const std::regex head("\\n" + std::to_string(id) + R"( DIALOGEX 0, 0, (\d+), (\d+)\n)");
    std::smatch m;
    if (!std::regex_search(script, m, head)) {
        ADD_FAILURE() << "no dialog " << id;
        return p;
    }
    p.dialog.id = id;
    p.dialog.cx = std::stoi(m[1]);
    p.dialog.cy = std::stoi(m[2]);
    std::istringstream lines(script.substr(static_cast<std::size_t>(m.position(0) + m.length(0))));
    std::string line;
    const std::regex control(
        R"re(\s*CONTROL (?:"([^"]*)"|(\d+)), (-?\d+), "([^"]+)", ([A-Z_ |]+), (\d+), (\d+), (\d+), (\d+)(?:, ([A-Z_ |]+))?\s*)re");
    std::vector<std::smatch> controls;
    while (std::getline(lines, line) && line != "END") {
        std::smatch c;
        if (line.rfind("STYLE ", 0) == 0) p.dialog.style = Flags(line.substr(6));
        if (line.rfind("EXSTYLE ", 0) == 0) p.dialog.exStyle = Flags(line.substr(8));
        if (std::regex_match(line, c, std::regex(R"re(CAPTION "(.*)")re"))) p.caption = c[1];
        if (std::regex_match(line, c, std::regex(R"re(FONT (\d+), "(.*)", 0, 0, 1)re"))) {
            p.dialog.pointSize = std::stoi(c[1]);
            p.font = c[2];
        }
        if (std::regex_match(line, c, control)) {
            res::ControlTemplate t{};
            t.id = std::stoi(c[3]);
            t.x = std::stoi(c[6]);
            t.y = std::stoi(c[7]);
            t.cx = std::stoi(c[8]);
            t.cy = std::stoi(c[9]);
            t.style = Flags(c[5]);
            t.exStyle = c[10].matched ? Flags(c[10]) : 0;
            // An icon is named by its number; quoted, the dialog manager looks for a name.
            const bool icon = c[4] == res::kClassStatic && (t.style & 0x1F) == res::style::kStaticIcon;
            EXPECT_EQ(c[2].matched, icon) << line;
            p.texts.push_back(c[1].matched ? c[1] : c[2]);
            p.texts.push_back(c[4]);  // the class, kept beside the text
            p.dialog.controls.push_back(t);
        }
    }
    return p;
}

TEST(ResourceScript, DialogsMatchTheTemplates) {
    const std::string script = Script();
    ASSERT_FALSE(script.empty()) << "res/win32/tunlet.rc not found";
    for (int id : {res::kIddPlayerDialog, res::kIddAboutBox, res::kIddTextBox, res::kIddChoice}) {
        SCOPED_TRACE(id);
        const res::DialogTemplate& want = *res::FindDialogTemplate(id);
        const Parsed got = ReadDialog(script, id);
        EXPECT_EQ(got.dialog.cx, want.cx);
        EXPECT_EQ(got.dialog.cy, want.cy);
        EXPECT_EQ(got.dialog.style, want.style);
        EXPECT_EQ(got.dialog.exStyle, want.exStyle);
        EXPECT_EQ(got.caption, want.caption);
        EXPECT_EQ(got.font, want.fontFace);
        EXPECT_EQ(got.dialog.pointSize, want.pointSize);
        ASSERT_EQ(got.dialog.controls.size(), want.controls.size());
        for (std::size_t i = 0; i < want.controls.size(); ++i) {
            SCOPED_TRACE(i);
            const res::ControlTemplate& w = want.controls[i];
            const res::ControlTemplate& g = got.dialog.controls[i];
            EXPECT_EQ(g.id, w.id);
            EXPECT_EQ(got.texts[2 * i], w.text);
            EXPECT_EQ(got.texts[2 * i + 1], w.className);
            EXPECT_EQ(std::vector<int>({g.x, g.y, g.cx, g.cy}), std::vector<int>({w.x, w.y, w.cx, w.cy}));
            EXPECT_EQ(g.style, w.style);
            EXPECT_EQ(g.exStyle, w.exStyle);
        }
    }
}

// The main dialog's original controls keep their ids, texts and places; the track
// list and its companions come after them, below the bottom row, inside the dialog.
TEST(ResourceScript, OriginalLayoutKeptNewControlsBelow) {
    const Parsed got = ReadDialog(Script(), res::kIddPlayerDialog);
    struct Control {
        int id;
        const char* text;
        const char* className;
        int x, y, cx, cy;
    };
    const Control kOriginal[] = {
        {2, "Close", "button", 151, 182, 31, 14},
        {1000, "Send", "button", 3, 182, 34, 14},
        {1002, "", "edit", 3, 30, 179, 126},
        {1003, "", "edit", 3, 16, 179, 12},
        {-1, "Please drag and drop a NSF or NES file.", "static", 3, 6, 165, 8},
        {1004, "Progress1", "msctls_progress32", 74, 182, 74, 14},
        {1007, "Slider1", "msctls_trackbar32", 3, 156, 179, 24},
        {1008, "Next", "button", 42, 182, 28, 14},
    };
    const Control kAdded[] = {
        {1009, "", "static", 3, 202, 136, 8},
        {1015, "Open...", "button", 142, 199, 40, 14},
        {1010, "", "listbox", 3, 215, 179, 57},
        {1011, "Auto-advance", "button", 3, 279, 70, 10},
        {1012, "", "static", 76, 280, 62, 8},
        {1013, "Previous", "button", 142, 276, 40, 14},
    };
    ASSERT_EQ(got.dialog.controls.size(), std::size(kOriginal) + std::size(kAdded));
    std::size_t i = 0;
    for (const auto& table : {std::vector<Control>(std::begin(kOriginal), std::end(kOriginal)),
                              std::vector<Control>(std::begin(kAdded), std::end(kAdded))}) {
        for (const Control& want : table) {
            SCOPED_TRACE(want.id);
            const res::ControlTemplate& g = got.dialog.controls[i];
            EXPECT_EQ(g.id, want.id);
            EXPECT_EQ(got.texts[2 * i], want.text);
            EXPECT_EQ(got.texts[2 * i + 1], want.className);
            EXPECT_EQ(std::vector<int>({g.x, g.y, g.cx, g.cy}), std::vector<int>({want.x, want.y, want.cx, want.cy}));
            if (i >= std::size(kOriginal)) {
                EXPECT_GE(g.y, 182 + 14);                // below Play, Next, progress and Close
                EXPECT_LE(g.y + g.cy, got.dialog.cy);    // inside the grown dialog
            }
            ++i;
        }
    }
    EXPECT_EQ(got.dialog.cx, 186);
    EXPECT_GT(got.dialog.cy, 201);
}

// A place kept from a larger screen: shrunk to the work area, never below the least
// size, and moved as far as it must to show whole.
TEST(ResourceScript, KeptPlaceFitsTheScreen) {
    const res::Rect area{0, 30, 1000, 700};
    struct Case {
        res::Rect kept, want;
    };
    const Case cases[] = {
        {{50, 60, 400, 500}, {50, 60, 400, 500}},    // fits: as it was
        {{-20, 60, 400, 500}, {0, 60, 400, 500}},    // partly off the side: moved in
        {{50, -200, 400, 500}, {50, 30, 400, 500}},  // title bar above the area: moved down
        {{800, 600, 400, 500}, {600, 230, 400, 500}},  // off the bottom right corner: moved up and in
        {{50, 100, 400, 2000}, {50, 30, 400, 700}},  // too tall: the area's height, moved up
        {{900, 60, 3000, 500}, {0, 60, 1000, 500}},  // too wide
        {{50, 60, 100, 2000}, {50, 30, 300, 700}},   // narrower than the least: widened in place
    };
    for (const Case& c : cases) EXPECT_EQ(res::FitPlace(c.kept, area, 300, 200), c.want) << c.kept.x << "," << c.kept.cx;
    // A least height taller than the area wins; the top stays on the screen.
    EXPECT_EQ(res::FitPlace({50, 60, 400, 2000}, area, 300, 800), (res::Rect{50, 30, 400, 800}));
}

// A larger window: the summary and the track list share the extra height (with the
// board panel, it takes half), wide controls take the extra width, Close and the
// controls right of the list keep to the right edge, the rest keep their places.
TEST(ResourceScript, ControlsFollowTheWindowsSize) {
    struct Case {
        int id;
        bool panel;
        res::Rect want;
    };
    const res::Rect r{10, 20, 30, 40};
    const Case cases[] = {
        {1002, false, {10, 20, 130, 90}},  {1010, false, {10, 70, 130, 90}}, {1011, false, {10, 120, 30, 40}},
        {2, false, {110, 70, 30, 40}},     {1013, false, {110, 120, 30, 40}}, {1003, false, {10, 20, 130, 40}},
        {1000, false, {10, 70, 30, 40}},   {-1, false, {10, 20, 30, 40}},    {1015, false, {110, 70, 30, 40}},
        {1002, true, {10, 20, 130, 65}},   {1010, true, {10, 45, 130, 65}},
        {res::kIdBoardPanel, true, {10, 70, 130, 90}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(res::PlaceControl(c.id, r, 100, 100, c.panel), c.want) << c.id << (c.panel ? " panel" : "");
    }
    EXPECT_EQ(res::PlaceControl(1002, r, -5, -5, false), r);  // never below the smallest size
    // Short of height: the summary and the list give it up three to one, what lies
    // below moves up, the panel keeps its height, and no more than room goes.
    const res::Rect tall{10, 20, 30, 200};
    const Case shorter[] = {
        {1002, false, {10, 20, 30, 152}}, {1010, false, {10, -28, 30, 184}}, {1003, false, {10, 20, 30, 200}},
        {1011, false, {10, -44, 30, 200}}, {res::kIdBoardPanel, true, {10, -44, 30, 200}},
    };
    for (const Case& c : shorter) EXPECT_EQ(res::PlaceControl(c.id, tall, 0, -64, c.panel, 128), c.want) << c.id;
    EXPECT_EQ(res::PlaceControl(1002, tall, 0, -500, false, 128), (res::Rect{10, 20, 30, 104}));
    EXPECT_EQ(res::PlaceControl(1013, tall, 0, -500, true, 128), (res::Rect{10, -108, 30, 200}));
}

TEST(ResourceScript, StringsAndVersion) {
    const std::string script = Script();
    EXPECT_NE(script.find(std::string("    101 \"") + res::kAboutMenuEntry + "\"\n"), std::string::npos);
    EXPECT_NE(script.find(std::string("\"FileVersion\", \"") + res::kFileVersionText + "\""), std::string::npos);
    EXPECT_NE(script.find(std::string("\"InternalName\", \"") + res::kInternalName + "\""), std::string::npos);
    EXPECT_NE(script.find(std::string("\"ProductName\", \"") + res::kProductName + "\""), std::string::npos);
    EXPECT_NE(script.find("\n128 ICON \"tunlet.ico\"\n"), std::string::npos);
}

}  // namespace
}  // namespace tunlet
