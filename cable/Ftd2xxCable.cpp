#include "cable/Ftd2xxCable.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>

#include "media/WideText.h"

namespace tunlet {

namespace {

// The D2XX calls, declared here as the library exports them (no vendor header,
// no import library). Windows' DWORD is an unsigned long, not our 32-bit DWORD.
using Ftd2xxHandle = void*;
using Ftd2xxStatus = ::ULONG;
using OpenExFn = Ftd2xxStatus(WINAPI*)(void* arg, ::DWORD flags, Ftd2xxHandle* handle);
using WriteFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle, void* buffer, ::DWORD count, ::DWORD* written);
using CloseFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle);
using ReadFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle, void* buffer, ::DWORD count, ::DWORD* got);
using SetTimeoutsFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle, ::ULONG readMs, ::ULONG writeMs);
using PurgeFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle, ::ULONG mask);

constexpr ::ULONG kPurgeRx = 1;
constexpr ::ULONG kPurgeTx = 2;
// How long one write may wait for the cable before it counts as failed.
constexpr ::ULONG kWriteTimeoutMs = 2000;

struct Library {
    HMODULE module = nullptr;
    OpenExFn openEx = nullptr;
    WriteFn write = nullptr;
    CloseFn close = nullptr;
    ReadFn read = nullptr;
    SetTimeoutsFn setTimeouts = nullptr;
    PurgeFn purge = nullptr;
};

// Only the program's own folder and System32 are searched: a library of the same name
// in the current folder (where the user opened a tune from) or on PATH is never
// loaded. A name with a folder (tests give one) is loaded from there.
HMODULE LoadFromTrustedFolders(const std::string& name) {
    return ::LoadLibraryExW(Widen(name).c_str(), nullptr,
                            LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// A library that loaded with every call is resolved once and kept for the program's
// life: its handles must outlive every device opened through it. A failure is not
// kept, so a driver installed while the program runs is found by the next open.
// Returns nullptr with the reason in problem when the library cannot be used.
const Library* Load(const std::string& name, std::string& problem) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<Library>> loaded;
    std::lock_guard lock(mutex);
    if (const auto it = loaded.find(name); it != loaded.end()) return it->second.get();
    auto lib = std::make_unique<Library>();
    lib->module = LoadFromTrustedFolders(name);
    if (lib->module == nullptr) {
        problem = "the cable driver " + name +
                  " is not installed: Tunlet looks for it in its own folder and in Windows' System32 folder, "
                  "where the USB-Blaster's driver (Quartus, or FTDI's D2XX driver) puts it";
        return nullptr;
    }
    lib->openEx = Resolve<OpenExFn>(lib->module, "FT_OpenEx");
    lib->write = Resolve<WriteFn>(lib->module, "FT_Write");
    lib->close = Resolve<CloseFn>(lib->module, "FT_Close");
    lib->read = Resolve<ReadFn>(lib->module, "FT_Read");
    lib->setTimeouts = Resolve<SetTimeoutsFn>(lib->module, "FT_SetTimeouts");
    lib->purge = Resolve<PurgeFn>(lib->module, "FT_Purge");
    for (const auto& [fn, fnName] : {std::pair{lib->openEx != nullptr, "FT_OpenEx"},
                                     std::pair{lib->write != nullptr, "FT_Write"},
                                     std::pair{lib->close != nullptr, "FT_Close"},
                                     std::pair{lib->read != nullptr, "FT_Read"},
                                     std::pair{lib->setTimeouts != nullptr, "FT_SetTimeouts"},
                                     std::pair{lib->purge != nullptr, "FT_Purge"}}) {
        if (!fn) {
            problem = "the cable driver " + name + " lacks " + fnName;
            ::FreeLibrary(lib->module);
            return nullptr;
        }
    }
    return (loaded[name] = std::move(lib)).get();
}

class Ftd2xxDevice : public CableDevice {
public:
    Ftd2xxDevice(const Library& lib, Ftd2xxHandle handle) : lib_(lib), handle_(handle) {}
    ~Ftd2xxDevice() override { lib_.close(handle_); }

    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override {
        ::DWORD sent = 0;
        const Ftd2xxStatus status = lib_.write(handle_, const_cast<void*>(buffer), count, &sent);
        *written = static_cast<DWORD>(sent);
        if (status != 0) return static_cast<FT_STATUS>(status);
        return sent == count ? FT_OK : FT_IO_ERROR;
    }

    bool CanRead() const override { return true; }

    // The read time-out set at open bounds the wait; a short answer comes back as
    // FT_OK with fewer bytes, as the library reports it.
    FT_STATUS Read(void* buffer, DWORD count, DWORD* got) override {
        ::DWORD received = 0;
        const Ftd2xxStatus status = lib_.read(handle_, buffer, count, &received);
        *got = static_cast<DWORD>(received);
        return static_cast<FT_STATUS>(status);
    }

private:
    const Library& lib_;
    Ftd2xxHandle handle_;
};

}  // namespace

CableOpenResult Ftd2xxCable::Open(const char* description) {
    CableOpenResult result;
    std::string problem;
    const Library* lib = Load(library_, problem);
    if (lib == nullptr) {
        result.status = FT_DEVICE_NOT_FOUND;
        result.reason = problem;
        return result;
    }
    Ftd2xxHandle handle = nullptr;
    const Ftd2xxStatus status = lib->openEx(const_cast<char*>(description), FT_OPEN_BY_DESCRIPTION, &handle);
    if (status != 0 || handle == nullptr) {
        result.status = status != 0 ? static_cast<FT_STATUS>(status) : FT_DEVICE_NOT_OPENED;
        result.reason = status == FT_DEVICE_NOT_FOUND
                            ? "no USB-Blaster found: the cable is not plugged in (a USB-Blaster II, as on the "
                              "SoC boards, is not supported on Windows yet)"
                            : "the USB-Blaster cannot be opened (another program may be using it)";
        return result;
    }
    auto device = std::make_unique<Ftd2xxDevice>(*lib, handle);  // closes the handle on every path
    // Reads and writes that never block for ever, and nothing stale left to read.
    if (lib->setTimeouts(handle, kReadTimeoutMs, kWriteTimeoutMs) != 0 || lib->purge(handle, kPurgeRx | kPurgeTx) != 0) {
        result.status = FT_DEVICE_NOT_OPENED;
        result.reason = "the USB-Blaster cannot be set up (FT_SetTimeouts or FT_Purge failed)";
        return result;
    }
    result.status = FT_OK;
    result.name = "USB-Blaster";
    result.device = std::move(device);
    return result;
}

}  // namespace tunlet
