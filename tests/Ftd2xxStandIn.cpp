// A stand-in for the vendor's FTD2XX.dll: the three calls Tunlet uses, writing the
// cable bytes to the file named by FTD2XX_STANDIN_OUT (no such variable: no cable).
// Built a second time without FT_Write, as a broken driver would be.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {
constexpr ULONG kOk = 0;
constexpr ULONG kDeviceNotFound = 2;
constexpr ULONG kIoError = 4;
}  // namespace

extern "C" {

__declspec(dllexport) ULONG WINAPI FT_OpenEx(void* arg, DWORD flags, void** handle) {
    const char* out = std::getenv("FTD2XX_STANDIN_OUT");
    if (out == nullptr || flags != 2 || arg == nullptr) return kDeviceNotFound;
    std::FILE* f = std::fopen(out, "wb");
    if (f == nullptr) return kDeviceNotFound;
    *handle = f;
    return kOk;
}

#ifndef TUNLET_STANDIN_WITHOUT_WRITE
__declspec(dllexport) ULONG WINAPI FT_Write(void* handle, void* buffer, DWORD count, DWORD* written) {
    const std::size_t n = std::fwrite(buffer, 1, count, static_cast<std::FILE*>(handle));
    *written = static_cast<DWORD>(n);
    return n == count ? kOk : kIoError;
}
#endif

__declspec(dllexport) ULONG WINAPI FT_Close(void* handle) {
    std::fclose(static_cast<std::FILE*>(handle));
    return kOk;
}

}  // extern "C"
