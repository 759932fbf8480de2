#include "res/DialogTemplates.h"

namespace tunlet::res {

namespace {

using namespace style;

const DialogTemplate kPlayerDialog{
    102, 186, 294, "ＭＳ ゴシック", 9, "NES NSF Player on FPGA",
    kPopup | kVisible | kCaption | kSysMenu | kMinimizeBox | kModalFrame | kSetFont, kExAppWindow,
    {
        {2, kClassButton, "Close", 151, 182, 31, 14, kChild | kVisible | kPushButton | kTabStop, 0},
        {1000, kClassButton, "Send", 3, 182, 34, 14, kChild | kVisible | kPushButton | kTabStop, 0},
        {1002, kClassEdit, "", 3, 30, 179, 126,
         kChild | kVisible | kBorder | kTabStop | kEditMultiline | kEditAutoHScroll | kEditReadOnly | kEditWantReturn,
         0},
        {1003, kClassEdit, "", 3, 16, 179, 12, kChild | kVisible | kBorder | kTabStop | kEditRight | kEditAutoHScroll,
         kExRight | kExRtlReading},
        {-1, kClassStatic, "Please drag and drop a NSF or NES file.", 3, 6, 165, 8,
         kChild | kVisible | kStaticLeft | kGroup, 0},
        {1004, kClassProgress, "Progress1", 74, 182, 74, 14, kChild | kVisible | kBorder, 0},
        {1007, kClassTrackbar, "Slider1", 3, 156, 179, 24,
         kChild | kVisible | kTabStop | kTrackAutoTicks | kTrackTop, 0},
        {1008, kClassButton, "Next", 42, 182, 28, 14, kChild | kVisible | kPushButton | kTabStop, 0},
        // Below the original layout: the song the slider points at, the track list,
        // Auto-advance and the time left on the track playing.
        {1009, kClassStatic, "", 3, 200, 179, 8, kChild | kVisible | kStaticLeft | kStaticNoPrefix, 0},
        {1010, kClassListBox, "", 3, 210, 179, 66,
         kChild | kVisible | kBorder | kVScroll | kTabStop | kListNotify | kListNoIntegralHeight, 0},
        {1011, kClassButton, "Auto-advance", 3, 280, 80, 10, kChild | kVisible | kAutoCheckBox | kTabStop, 0},
        {1012, kClassStatic, "", 100, 281, 82, 8, kChild | kVisible | kStaticRight | kStaticNoPrefix, 0},
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

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    if (id == kPlayerDialog.id) return &kPlayerDialog;
    if (id == kAboutDialog.id) return &kAboutDialog;
    return nullptr;
}

}  // namespace tunlet::res
