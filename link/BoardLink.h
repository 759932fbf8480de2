// Opening the board: the one place that opens the cable, reads the JTAG chain and
// picks the FPGA an upload goes to, for the window and tunlet-cli alike.
#pragma once


#include "cable/Cable.h"
#include "link/ChainScan.h"

namespace tunlet {

struct BoardRequest {
    bool check = true;                  // read the chain first (never on a cable that cannot answer)
    DeviceChoice device;                // the FPGA chosen once the chain is known; null: the check chooses
    bool keepRefused = false;           // keep the cable open after a refusal (scan lists the chain)
};

struct BoardLink {
    // The open cable, which the caller closes with FT_Close; null when the cable did
    // not open, or the check did not pass (unless keepRefused kept it after a refusal).
    FT_HANDLE handle = nullptr;
    // Ready when uploads may go; NotConnected with the open's reason when the cable
    // did not open; the check's outcome otherwise.
    BoardSelection selection;
    bool checked = false;  // the chain was read: not on a dump, nor without the check
    bool Ready() const { return selection.check.result == BoardCheck::Result::Ready; }
};

// Opens the cable of the back end chosen (SetCableBackend) and, unless asked not to
// or the cable cannot answer, checks the board; the FPGA alone in the chain when the
// chain is not read.
BoardLink OpenBoardLink(const BoardRequest& request);

}  // namespace tunlet
