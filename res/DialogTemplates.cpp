#include "res/DialogTemplates.h"

#include <algorithm>

namespace tunlet::res {

namespace {

using namespace style;

const DialogTemplate kPlayerDialog{
    102, 186, 294, "ＭＳ ゴシック", 9, "NES NSF Player on FPGA",
    kPopup | kVisible | kCaption | kSysMenu | kMinimizeBox | kMaximizeBox | kThickFrame | kModalFrame | kSetFont,
    kExAppWindow,
    {
        {2, kClassButton, "Close", 151, 182, 31, 14, kChild | kVisible | kPushButton | kTabStop, 0},
        {1000, kClassButton, "Send", 3, 182, 34, 14, kChild | kVisible | kPushButton | kTabStop, 0},
        // Long lines wrap; a scroll bar shows when the text is taller than the box.
        {1002, kClassEdit, "", 3, 30, 179, 126,
         kChild | kVisible | kBorder | kVScroll | kTabStop | kEditMultiline | kEditReadOnly | kEditWantReturn, 0},
        {1003, kClassEdit, "", 3, 16, 179, 12, kChild | kVisible | kBorder | kTabStop | kEditRight | kEditAutoHScroll,
         kExRight | kExRtlReading},
        {-1, kClassStatic, "Please drag and drop a NSF or NES file.", 3, 6, 165, 8,
         kChild | kVisible | kStaticLeft | kGroup, 0},
        {1004, kClassProgress, "Progress1", 74, 182, 74, 14, kChild | kVisible | kBorder, 0},
        {1007, kClassTrackbar, "Slider1", 3, 156, 179, 24,
         kChild | kVisible | kTabStop | kTrackAutoTicks | kTrackTop, 0},
        {1008, kClassButton, "Next", 42, 182, 28, 14, kChild | kVisible | kPushButton | kTabStop, 0},
        // Below the original layout: the song the slider points at and Open..., the
        // track list, Auto-advance, the time left on the track playing and Previous.
        {1009, kClassStatic, "", 3, 202, 136, 8, kChild | kVisible | kStaticLeft | kStaticNoPrefix, 0},
        {1015, kClassButton, "Open...", 142, 199, 40, 14, kChild | kVisible | kPushButton | kTabStop, 0},
        {1010, kClassListBox, "", 3, 215, 179, 57,
         kChild | kVisible | kBorder | kVScroll | kTabStop | kListNotify | kListNoIntegralHeight, 0},
        {1011, kClassButton, "Auto-advance", 3, 279, 70, 10, kChild | kVisible | kAutoCheckBox | kTabStop, 0},
        {1012, kClassStatic, "", 76, 280, 62, 8, kChild | kVisible | kStaticRight | kStaticNoPrefix, 0},
        {1013, kClassButton, "Previous", 142, 276, 40, 14, kChild | kVisible | kPushButton | kTabStop, 0},
    },
};

const DialogTemplate kAboutDialog{
    100, 235, 55, "ＭＳ Ｐゴシック", 9, "Tunletのﾊﾞｰｼﾞｮﾝ情報",
    kPopup | kCaption | kSysMenu | kModalFrame | kSetFont, 0,
    {
        {-1, kClassStatic, "128", 11, 17, 20, 20, kChild | kVisible | kStaticIcon, 0},
        {-1, kClassStatic, "Tunlet Version 2.0", 40, 10, 119, 8, kChild | kVisible | kStaticNoPrefix | kGroup, 0},
        {-1, kClassStatic, kAboutSecondLine, 40, 25, 119, 8, kChild | kVisible | kGroup, 0},
        {1, kClassButton, "OK", 178, 7, 50, 14, kChild | kVisible | kDefPushButton | kGroup | kTabStop, 0},
    },
};

// A fixed-width text (a board's scan, the help) to read, select and copy.
const DialogTemplate kTextBox{
    103, 360, 180, "Courier New", 9, "Tunlet",
    kPopup | kCaption | kSysMenu | kModalFrame | kSetFont, 0,
    {
        {1020, kClassEdit, "", 3, 3, 354, 155,
         kChild | kVisible | kBorder | kVScroll | kHScroll | kTabStop | kEditMultiline | kEditAutoVScroll |
             kEditAutoHScroll | kEditReadOnly,
         0},
        {1, kClassButton, "OK", 307, 162, 50, 14, kChild | kVisible | kDefPushButton | kTabStop, 0},
    },
};

// A question and a list of answers to choose one from (the FPGA uploads go to).
const DialogTemplate kChoiceBox{
    104, 260, 120, "MS Shell Dlg", 9, "Tunlet",
    kPopup | kCaption | kSysMenu | kModalFrame | kSetFont, 0,
    {
        {1021, kClassStatic, "", 7, 7, 246, 8, kChild | kVisible | kStaticLeft, 0},
        {1022, kClassListBox, "", 7, 18, 246, 76,
         kChild | kVisible | kBorder | kVScroll | kTabStop | kListNotify | kListNoIntegralHeight, 0},
        {1, kClassButton, "OK", 149, 99, 50, 14, kChild | kVisible | kDefPushButton | kTabStop, 0},
        {2, kClassButton, "Cancel", 203, 99, 50, 14, kChild | kVisible | kTabStop, 0},
    },
};

// How each control of the player dialog follows the window: the bands of extra
// height it moves below and the one it grows with, and what it does with extra width.
constexpr int kSummaryBand = 1, kListBand = 2, kPanelBand = 4;
struct Anchor {
    int id;
    int moveBands, growBands;
    bool growX, moveX;
};
constexpr Anchor kAnchors[] = {
    {2, kSummaryBand, 0, false, true},          {1000, kSummaryBand, 0, false, false},
    {1002, 0, kSummaryBand, true, false},       {1003, 0, 0, true, false},
    {1004, kSummaryBand, 0, true, false},       {1007, kSummaryBand, 0, true, false},
    {1008, kSummaryBand, 0, false, false},      {1009, kSummaryBand, 0, true, false},
    {1015, kSummaryBand, 0, false, true},
    {1010, kSummaryBand, kListBand, true, false},
    {1011, kSummaryBand | kListBand, 0, false, false},
    {1012, kSummaryBand | kListBand, 0, false, true},
    {1013, kSummaryBand | kListBand, 0, false, true},
    {kIdBoardPanel, kSummaryBand | kListBand, kPanelBand, true, false},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    if (id == kPlayerDialog.id) return &kPlayerDialog;
    if (id == kAboutDialog.id) return &kAboutDialog;
    if (id == kTextBox.id) return &kTextBox;
    if (id == kChoiceBox.id) return &kChoiceBox;
    return nullptr;
}

Rect PlaceControl(int id, Rect r, int dx, int dy, bool panel, int room) {
    dx = dx < 0 ? 0 : dx;
    int summary = 0, list = 0, board = 0;
    if (dy >= 0) {
        // With a panel it takes half the extra height, the summary and the list a
        // quarter each; without, the summary and the list half each.
        summary = panel ? dy / 4 : dy / 2;
        list = panel ? dy / 4 : dy - summary;
        board = panel ? dy - summary - list : 0;
    } else {
        // Short of height, down to the floor: the summary and the list give it up in
        // proportion to what each can spare; the board panel keeps its height.
        dy = std::max(dy, -std::max(room, 0));
        summary = dy * kSummarySpare / (kSummarySpare + kListSpare);
        list = dy - summary;
    }
    const auto share = [&](int bands) {
        return ((bands & kSummaryBand) ? summary : 0) + ((bands & kListBand) ? list : 0) +
               ((bands & kPanelBand) ? board : 0);
    };
    for (const Anchor& a : kAnchors) {
        if (a.id != id) continue;
        r.y += share(a.moveBands);
        r.cy += share(a.growBands);
        if (a.growX) r.cx += dx;
        if (a.moveX) r.x += dx;
        break;
    }
    return r;
}

}  // namespace tunlet::res
