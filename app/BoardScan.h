// What `tunlet-cli scan` prints and the window's "Board details..." shows: the JTAG
// chain's devices and the virtual JTAG hub of the design uploads go to.
#pragma once

#include <string>

#include "cable/Cable.h"
#include "link/ChainScan.h"

namespace tunlet {

// The chain as the check found it (sel, on the open cable handle), one line per
// device, then the whole hub of the FPGA uploads go to, read anew. Returns what the
// check decided: Ready, Refused with its reason (text then holds what was found), or
// the failure that cut the scan short (NotConnected with its reason, WriteFailed;
// text then empty).
BoardCheck ScanBoard(FT_HANDLE handle, const BoardSelection& sel, std::string& text);

}  // namespace tunlet
