// The texts of the window's message boxes: the first line the program has always
// shown ("FPGA board is not connected.", "write err", "file dont open"), then the
// reason in the words tunlet-cli uses, with the box's caption and icon.
#pragma once

#include <string>
#include <string_view>

#include "app/DialogWindow.h"
#include "link/ChainScan.h"

namespace tunlet {

struct BoxText {
    std::string text;
    std::string caption;
    BoxIcon icon = BoxIcon::Error;
    bool operator==(const BoxText&) const = default;
};

// The first letter made a capital (ASCII), for reasons shown on a line of their own.
std::string Capitalised(std::string text);

// The cable could not be opened (reason: why, as the cable layer says it), or the
// board check found no board (reason: the check's text).
BoxText NotConnectedBox(const std::string& reason);
// The board check refused the chain (text: the check's own words).
BoxText RefusedBox(const std::string& text);
// A board check that did not pass, as the window shows it and tunlet-cli prints it.
BoxText CheckBox(const BoardCheck& check);
// A write failed (reason: why, as the cable layer says it; "" when unknown).
BoxText WriteErrorBox(const std::string& reason);
// A file could not be opened: named, with what is wrong with it now.
BoxText FileBox(const std::string& path);
// Any other text of our own.
BoxText PlainBox(const std::string& text);
// What the upload's worker reported (text: its old one-line message), with the
// reason: why the write failed, or which file (path, when known) could not be opened.
BoxText WorkerBox(std::string_view text, const char* path);

inline constexpr char kRefusedFirstLine[] = "Tunlet cannot send to this board.";

}  // namespace tunlet
