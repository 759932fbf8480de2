// What `tunlet-cli scan` prints and the window's "Board details..." shows: the JTAG
// chain's devices and, for one Intel FPGA, the virtual JTAG hub of its design.
#pragma once

#include <string>

#include "cable/Cable.h"
#include "link/ChainScan.h"

namespace tunlet {

// Reads the chain (and the hub) of the open cable into text, one line per device.
// Returns what the check before an upload would decide: Ready, Refused with its
// reason (text then holds what was found), or the failure that cut the scan short
// (NotConnected with its reason, WriteFailed; text then empty).
BoardCheck ScanBoard(FT_HANDLE handle, std::string& text);

}  // namespace tunlet
