// FTDI's D2XX driver library, FTD2XX.dll, loaded at run time: the calls the cable
// back ends make, declared here as the library exports them (no vendor header, no
// import library), resolved once per library and kept for the program's life.
#pragma once

#include <windows.h>

#include <string>

namespace tunlet {

using Ftd2xxHandle = void*;
using Ftd2xxStatus = ::ULONG;  // Windows' DWORD is an unsigned long, not our 32-bit DWORD

constexpr ::ULONG kFtd2xxOpenBySerial = 1;
constexpr ::ULONG kFtd2xxOpenByDescription = 2;
constexpr ::ULONG kFtd2xxPurgeRx = 1;
constexpr ::ULONG kFtd2xxPurgeTx = 2;
constexpr Ftd2xxStatus kFtd2xxDeviceNotFound = 2;

struct Ftd2xxLibrary {
    using OpenExFn = Ftd2xxStatus(WINAPI*)(void* arg, ::DWORD flags, Ftd2xxHandle* handle);
    using WriteFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle, void* buffer, ::DWORD count, ::DWORD* written);
    using CloseFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle);
    using ReadFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle, void* buffer, ::DWORD count, ::DWORD* got);
    using SetTimeoutsFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle, ::ULONG readMs, ::ULONG writeMs);
    using PurgeFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle, ::ULONG mask);
    using SetBitModeFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle, ::UCHAR mask, ::UCHAR mode);
    using SetLatencyTimerFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle, ::UCHAR ms);
    using GetDeviceInfoFn = Ftd2xxStatus(WINAPI*)(Ftd2xxHandle handle, ::ULONG* type, ::DWORD* id, char* serial,
                                                  char* description, void* reserved);

    HMODULE module = nullptr;
    OpenExFn openEx = nullptr;
    WriteFn write = nullptr;
    CloseFn close = nullptr;
    ReadFn read = nullptr;
    SetTimeoutsFn setTimeouts = nullptr;
    PurgeFn purge = nullptr;
    // For the FT2232H cables; null when the library lacks them.
    SetBitModeFn setBitMode = nullptr;
    SetLatencyTimerFn setLatencyTimer = nullptr;
    GetDeviceInfoFn getDeviceInfo = nullptr;  // optional: the serial number for the cable's name
};

// The library of that name from the program's folder or System32 only (a name with a
// folder, as tests give, from there), with every call the USB-Blaster needs and, for
// mpsse, FT_SetBitMode and FT_SetLatencyTimer too. Null with the reason in problem
// when it cannot be used; a failure is not kept, so a driver installed while the
// program runs is found by the next open.
const Ftd2xxLibrary* LoadFtd2xx(const std::string& name, bool mpsse, std::string& problem);

}  // namespace tunlet
