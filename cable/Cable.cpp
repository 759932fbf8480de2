#include "cable/Cable.h"

#include <mutex>
#include <unordered_map>

namespace tunlet {

namespace {

struct CableLayer {
    std::mutex mutex;
    std::shared_ptr<CableBackend> backend;
    struct Open {
        std::unique_ptr<CableDevice> device;
        std::string name;
    };
    std::unordered_map<CableDevice*, Open> open;
    std::string lastFailure;
    std::string lastWriteFailure;
    std::shared_ptr<const CableProgress> progress;
    std::shared_ptr<const CableProgress> opened;
    std::string firmware;
};

CableLayer& Layer() {
    static CableLayer layer;
    return layer;
}

}  // namespace

void SetCableBackend(std::shared_ptr<CableBackend> backend) {
    CableLayer& layer = Layer();
    std::lock_guard lock(layer.mutex);
    layer.backend = std::move(backend);
}

void SetCableProgress(CableProgress progress) {
    CableLayer& layer = Layer();
    std::lock_guard lock(layer.mutex);
    layer.progress = progress ? std::make_shared<const CableProgress>(std::move(progress)) : nullptr;
}

void SetCableOpened(CableProgress opened) {
    CableLayer& layer = Layer();
    std::lock_guard lock(layer.mutex);
    layer.opened = opened ? std::make_shared<const CableProgress>(std::move(opened)) : nullptr;
}

void ReportCableProgress(const std::string& text) {
    std::shared_ptr<const CableProgress> progress;
    {
        CableLayer& layer = Layer();
        std::lock_guard lock(layer.mutex);
        progress = layer.progress;
    }
    if (progress) (*progress)(text);  // outside the lock: the listener may take its time
}

void SetCableFirmware(std::string path) {
    CableLayer& layer = Layer();
    std::lock_guard lock(layer.mutex);
    layer.firmware = std::move(path);
}

std::string CableFirmware() {
    CableLayer& layer = Layer();
    std::lock_guard lock(layer.mutex);
    return layer.firmware;
}

// The reason a write's status gives.
std::string WriteFailureText(FT_STATUS status) {
    switch (status) {
        case FT_DEVICE_NOT_FOUND:
        case FT_IO_ERROR:
        case FT_INVALID_HANDLE:
            return "the cable stopped taking data: was the USB-Blaster unplugged during the transfer?";
        default:
            return "the cable refused the data (status " + std::to_string(status) + ")";
    }
}

void NoteWriteFailure(std::string why) {
    CableLayer& layer = Layer();
    std::lock_guard lock(layer.mutex);
    layer.lastWriteFailure = std::move(why);
}

std::string CableWriteFailure() {
    CableLayer& layer = Layer();
    std::lock_guard lock(layer.mutex);
    return layer.lastWriteFailure;
}

std::string CableOpenFailure() {
    CableLayer& layer = Layer();
    std::lock_guard lock(layer.mutex);
    return layer.lastFailure;
}

FT_STATUS FT_OpenEx(const void* arg, DWORD flags, FT_HANDLE* handle) {
    if (handle == nullptr) return FT_INVALID_PARAMETER;
    *handle = nullptr;
    CableLayer& layer = Layer();
    std::shared_ptr<CableBackend> backend;
    {
        std::lock_guard lock(layer.mutex);
        backend = layer.backend;
    }
    CableOpenResult result;
    if (flags != FT_OPEN_BY_DESCRIPTION || arg == nullptr) {
        result.status = FT_INVALID_PARAMETER;
        result.reason = "only opening by description is supported";
    } else if (!backend) {
        result.status = FT_DEVICE_NOT_FOUND;
        result.reason = "no cable back end is configured";
    } else {
        // The back end may take a while (USB enumeration); the layer stays unlocked.
        result = backend->Open(static_cast<const char*>(arg));
        if (result.status == FT_OK && !result.device) {
            result.status = FT_OTHER_ERROR;
            result.reason = "the cable back end returned no device";
        }
    }
    std::shared_ptr<const CableProgress> opened;
    const std::string name = result.name;
    {
        std::lock_guard lock(layer.mutex);
        if (result.status != FT_OK) {
            layer.lastFailure = result.reason.empty() ? "the cable could not be opened" : result.reason;
            return result.status;
        }
        layer.lastFailure.clear();
        layer.lastWriteFailure.clear();
        CableDevice* raw = result.device.get();
        layer.open.emplace(raw, CableLayer::Open{std::move(result.device), std::move(result.name)});
        *handle = raw;
        opened = layer.opened;
    }
    if (opened) (*opened)(name);  // outside the lock
    return FT_OK;
}

FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) {
    if (written != nullptr) *written = 0;
    if (handle == nullptr) return FT_INVALID_HANDLE;
    DWORD sent = 0;
    const FT_STATUS status = handle->Write(buffer, count, &sent);
    if (written != nullptr) *written = sent;
    if (status != FT_OK) {
        std::string why = handle->FailureReason();
        NoteWriteFailure(why.empty() ? WriteFailureText(status) : std::move(why));
    }
    return status;
}

FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) {
    if (got != nullptr) *got = 0;
    if (handle == nullptr) return FT_INVALID_HANDLE;
    if (got == nullptr || (buffer == nullptr && count != 0)) return FT_INVALID_PARAMETER;
    DWORD received = 0;
    const FT_STATUS status = handle->Read(buffer, count, &received);
    *got = received < count ? received : count;
    return status;
}

std::string CableName(FT_HANDLE handle) {
    CableLayer& layer = Layer();
    std::lock_guard lock(layer.mutex);
    const auto it = layer.open.find(handle);
    return it == layer.open.end() ? std::string() : it->second.name;
}

bool CableCanRead(FT_HANDLE handle) { return handle != nullptr && handle->CanRead(); }

FT_STATUS FT_Close(FT_HANDLE handle) {
    std::unique_ptr<CableDevice> device;
    {
        CableLayer& layer = Layer();
        std::lock_guard lock(layer.mutex);
        const auto it = layer.open.find(handle);
        if (it == layer.open.end()) return FT_INVALID_HANDLE;
        device = std::move(it->second.device);
        layer.open.erase(it);
    }
    // Closed outside the lock.
    const FT_STATUS status = device->Close();
    if (status != FT_OK) {
        std::string why = device->FailureReason();
        NoteWriteFailure(why.empty() ? "the last bytes were lost when the cable was closed (the cable went away)"
                                     : std::move(why));
    }
    device.reset();
    return status;
}

}  // namespace tunlet
