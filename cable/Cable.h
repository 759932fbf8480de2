// The cable calls the FPGA link is written against: open by description, write,
// close. The device behind a handle comes from a back end chosen at run time (the
// USB-Blaster through libftdi, a virtual board, a file dump); the handle owns its
// device, and FT_Close destroys it, which closes whatever the back end opened.
#pragma once

#include <cstdint>
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
constexpr FT_STATUS FT_OTHER_ERROR = 18;

constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;

// One open cable.
class CableDevice {
public:
    virtual ~CableDevice() = default;
    // Sends count bytes in order; *written receives how many went out.
    virtual FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) = 0;
    // Closes the device; FT_OK unless something written earlier was lost on the way
    // (FT_Close reports it). The destructor closes a device that was not closed.
    virtual FT_STATUS Close() { return FT_OK; }
};

using FT_HANDLE = CableDevice*;  // 0 when closed; owned by the cable layer until FT_Close

struct CableOpenResult {
    FT_STATUS status = FT_DEVICE_NOT_FOUND;
    std::unique_ptr<CableDevice> device;  // set exactly when status is FT_OK
    std::string reason;                   // why the open failed, for people
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

FT_STATUS FT_OpenEx(const void* arg, DWORD flags, FT_HANDLE* handle);
FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written);
FT_STATUS FT_Close(FT_HANDLE handle);

}  // namespace tunlet
