// The cable calls the FPGA link is written against: open by description, write,
// read back, close. The device behind a handle comes from a back end chosen at run time (the
// USB-Blaster through libftdi, a virtual board, a file dump); the handle owns its
// device, and FT_Close destroys it, which closes whatever the back end opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tunlet {

using DWORD = std::uint32_t;
using FT_STATUS = std::uint32_t;

constexpr FT_STATUS FT_OK = 0;
constexpr FT_STATUS FT_INVALID_HANDLE = 1;
constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
constexpr FT_STATUS FT_IO_ERROR = 4;
constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
constexpr FT_STATUS FT_NOT_SUPPORTED = 17;
constexpr FT_STATUS FT_OTHER_ERROR = 18;

constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;

// The USB transfer size the USB-Blaster back end asks libftdi for (its write chunk
// size; the vendor DLL decides its own transfers). A write of whole transfers goes
// out without a short transfer behind it.
constexpr std::size_t kUsbTransferBytes = 16384;

// How long a read may wait for a whole answer before it returns what came.
constexpr int kReadTimeoutMs = 1000;

// One open cable.
class CableDevice {
public:
    virtual ~CableDevice() = default;
    // Sends count bytes in order; *written receives how many went out.
    virtual FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) = 0;
    // Whether the device answers read-back at all (a file dump does not).
    virtual bool CanRead() const { return false; }
    // Takes up to count bytes the cable sent back; waits for them at most
    // kReadTimeoutMs (or the device's own bound), then *got tells how many came.
    virtual FT_STATUS Read(void* buffer, DWORD count, DWORD* got) {
        (void)buffer;
        (void)count;
        *got = 0;
        return FT_NOT_SUPPORTED;
    }
    // Closes the device; FT_OK unless something written earlier was lost on the way
    // (FT_Close reports it). The destructor closes a device that was not closed.
    virtual FT_STATUS Close() { return FT_OK; }
    // Why the last failed write or close failed, in the words of what it went to
    // ("" when the status says all there is): a file dump knows the system's reason.
    virtual std::string FailureReason() const { return {}; }
};

using FT_HANDLE = CableDevice*;  // 0 when closed; owned by the cable layer until FT_Close

struct CableOpenResult {
    FT_STATUS status = FT_DEVICE_NOT_FOUND;
    std::unique_ptr<CableDevice> device;  // set exactly when status is FT_OK
    std::string reason;                   // why the open failed, for people
    std::string name;                     // the cable opened, for people ("USB-Blaster")
};

// A way to reach a cable.
class CableBackend {
public:
    virtual ~CableBackend() = default;
    virtual CableOpenResult Open(const char* description) = 0;
};

// Chooses the back end that FT_OpenEx uses from now on (null: none, every open fails).
void SetCableBackend(std::shared_ptr<CableBackend> backend);
// Why the last failed FT_OpenEx failed ("" after a successful one).
std::string CableOpenFailure();
// The name the back end gave the cable behind an open handle ("" for none): what
// tunlet-cli scan, the window's title and Board details call it.
std::string CableName(FT_HANDLE handle);
// Why the last failed FT_Write (or a close that lost bytes) failed, for people; ""
// when none failed since the last successful FT_OpenEx.
std::string CableWriteFailure();

// Told what an open that takes a while is doing (a cable's firmware being loaded, the
// wait for the cable to come back), one line a step, on the thread that opens:
// tunlet-cli prints it on stderr, the window shows it. Null: nobody is told.
using CableProgress = std::function<void(const std::string& text)>;
void SetCableProgress(CableProgress progress);
// What back ends call while they open.
void ReportCableProgress(const std::string& text);
// Told the name of each cable FT_OpenEx opens (CableName's), on the thread that
// opened it: the window's title names the cable in use. Null: nobody is told.
void SetCableOpened(CableProgress opened);
// The firmware file a cable that needs one (the USB-Blaster II) is given: tunlet-cli's
// --firmware, the window's "USB-Blaster II firmware..."; "" to look where the cable
// maker's tools install it.
void SetCableFirmware(std::string path);
std::string CableFirmware();

FT_STATUS FT_OpenEx(const void* arg, DWORD flags, FT_HANDLE* handle);
FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written);
// Returns FT_OK with *got below count when the answer did not come in time.
FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got);
FT_STATUS FT_Close(FT_HANDLE handle);
// Whether FT_Read can answer on this handle (false for a file dump and a closed handle).
bool CableCanRead(FT_HANDLE handle);

}  // namespace tunlet
