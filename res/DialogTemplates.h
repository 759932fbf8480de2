// The dialog templates: every control with its id, class, text, position and size
// in dialog units, and the styles that decide how it looks and behaves.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tunlet::res {

// Window and control styles, with the values the templates were written with.
namespace style {
constexpr std::uint32_t kPopup = 0x80000000;
constexpr std::uint32_t kChild = 0x40000000;
constexpr std::uint32_t kVisible = 0x10000000;
constexpr std::uint32_t kCaption = 0x00C00000;
constexpr std::uint32_t kBorder = 0x00800000;
constexpr std::uint32_t kVScroll = 0x00200000;
constexpr std::uint32_t kSysMenu = 0x00080000;
constexpr std::uint32_t kThickFrame = 0x00040000;   // dialog: resizable
constexpr std::uint32_t kHScroll = 0x00100000;
constexpr std::uint32_t kMinimizeBox = 0x00020000;  // dialog (a control's kGroup)
constexpr std::uint32_t kGroup = 0x00020000;
constexpr std::uint32_t kTabStop = 0x00010000;
constexpr std::uint32_t kMaximizeBox = 0x00010000;  // dialog (a control's kTabStop)
constexpr std::uint32_t kModalFrame = 0x80;   // dialog
constexpr std::uint32_t kSetFont = 0x40;      // dialog
constexpr std::uint32_t kExAppWindow = 0x00040000;
constexpr std::uint32_t kExRight = 0x1000;
constexpr std::uint32_t kExRtlReading = 0x2000;

constexpr std::uint32_t kPushButton = 0x0;
constexpr std::uint32_t kDefPushButton = 0x1;
constexpr std::uint32_t kAutoCheckBox = 0x3;
constexpr std::uint32_t kEditRight = 0x2;
constexpr std::uint32_t kEditMultiline = 0x4;
constexpr std::uint32_t kEditAutoVScroll = 0x40;
constexpr std::uint32_t kEditAutoHScroll = 0x80;
constexpr std::uint32_t kEditReadOnly = 0x800;
constexpr std::uint32_t kEditWantReturn = 0x1000;
constexpr std::uint32_t kStaticLeft = 0x0;
constexpr std::uint32_t kStaticRight = 0x2;
constexpr std::uint32_t kStaticIcon = 0x3;
constexpr std::uint32_t kStaticNoPrefix = 0x80;
constexpr std::uint32_t kTrackAutoTicks = 0x1;
constexpr std::uint32_t kTrackTop = 0x4;
constexpr std::uint32_t kListNotify = 0x1;
constexpr std::uint32_t kListNoIntegralHeight = 0x100;
}  // namespace style

inline constexpr char kClassButton[] = "button";
inline constexpr char kClassEdit[] = "edit";
inline constexpr char kClassStatic[] = "static";
inline constexpr char kClassProgress[] = "msctls_progress32";
inline constexpr char kClassTrackbar[] = "msctls_trackbar32";
inline constexpr char kClassListBox[] = "listbox";

struct ControlTemplate {
    int id;
    const char* className;
    const char* text;  // for an icon static: the icon's resource id in decimal
    int x, y, cx, cy;
    std::uint32_t style;
    std::uint32_t exStyle;
};

struct DialogTemplate {
    int id;
    int cx, cy;
    const char* fontFace;
    int pointSize;
    const char* caption;
    std::uint32_t style;
    std::uint32_t exStyle;
    std::vector<ControlTemplate> controls;  // template order, which is the tab order
};

// The template with this id, or null.
const DialogTemplate* FindDialogTemplate(int id);

constexpr int kIddTextBox = 103;  // a fixed-width text to read and copy, with OK
constexpr int kIddChoice = 104;   // a question, a list to choose from, OK and Cancel

// The panel the window adds under the player dialog's controls for what a virtual
// board received: its id, the gap above it and its smallest and first height, in
// dialog units.
constexpr int kIdBoardPanel = 1014;
constexpr int kBoardPanelGap = 3;
constexpr int kBoardPanelMinHeight = 40;
constexpr int kBoardPanelHeight = 100;

// A rectangle in pixels (or dialog units).
struct Rect {
    int x, y, cx, cy;
    bool operator==(const Rect&) const = default;
};

// How many dialog units of height the summary box (126 tall) and the track list (62)
// can give up on a small screen, each keeping about three lines of text.
constexpr int kSummarySpare = 96;
constexpr int kListSpare = 32;

// Where a control of the player dialog goes in a window dx, dy pixels larger than its
// smallest size, from its place at that size. The controls keep their order and their
// places relative to one another: the summary box, the track list and the board
// panel (when there is one) take the extra height; the controls as wide as the
// dialog and the progress bar the extra width; Close and the controls right of the
// track list stay at the right edge. A negative dy (a screen shorter than the
// template) shrinks the summary and the list and moves what lies below them up, by at
// most room pixels (kSummarySpare + kListSpare dialog units at the caller's scale).
Rect PlaceControl(int id, Rect smallest, int dx, int dy, bool panel, int room = 0);

// The window's smallest height, in pixels: the template's (base), or what the screen
// holds (room) when that is less, the summary and the list giving up at most spare.
inline int LeastHeight(int base, int spare, int room) { return std::max(base - spare, std::min(base, room)); }
// A window place kept from an earlier run, on a screen whose work area is area: a
// size larger than the area shrinks to it (never below least), and the place moves
// as far as it must to lie inside (its top-left corner on it when least is larger).
inline Rect FitPlace(Rect kept, Rect area, int leastCx, int leastCy) {
    Rect r = kept;
    r.cx = std::max(leastCx, std::min(kept.cx, area.cx));
    r.cy = std::max(leastCy, std::min(kept.cy, area.cy));
    r.x = std::max(area.x, std::min(kept.x, area.x + area.cx - r.cx));
    r.y = std::max(area.y, std::min(kept.y, area.y + area.cy - r.cy));
    return r;
}
// The board panel's smallest height: least, or less (down to a sliver) when a window
// of base plus the panel and its two gaps would not fit room even with spare given up.
inline int PanelLeastHeight(int base, int gap, int least, int spare, int room) {
    const int over = base + 2 * gap + least - spare - room;
    return over > 0 ? std::max(8, least - over) : least;
}

// Short enough for its 119 dialog units at any scale of the dialog font.
inline constexpr char kAboutSecondLine[] = "NES music to an FPGA board";

}  // namespace tunlet::res
