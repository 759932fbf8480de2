// The string table and the texts the dialogs set at run time.
#pragma once

namespace tunlet::res {

constexpr int kIdsAboutBox = 101;
inline constexpr char kAboutMenuEntry[] = "Tunlet のﾊﾞｰｼﾞｮﾝ情報(&A)...";

// What the program says when the cable cannot be opened.
inline constexpr char kBoardNotConnected[] = "FPGA board is not connected.";
inline constexpr char kBoardNotConnectedCaption[] = "Ready";
// The caption of every other box.
inline constexpr char kAppName[] = "Tunlet";

// Returns the string with this id, or "" when the table has none.
inline const char* LoadString(int id) { return id == kIdsAboutBox ? kAboutMenuEntry : ""; }

constexpr int kIdrMainFrame = 128;      // icon
constexpr int kIddAboutBox = 100;       // About dialog template
constexpr int kIddPlayerDialog = 102;   // main dialog template

}  // namespace tunlet::res
