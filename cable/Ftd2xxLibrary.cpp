#include "cable/Ftd2xxLibrary.h"

#include <map>
#include <memory>
#include <mutex>

#include "media/WideText.h"

namespace tunlet {

namespace {

// A library of the same name in the current folder (where the user opened a tune
// from) or on PATH is never loaded.
HMODULE LoadFromTrustedFolders(const std::string& name) {
    return ::LoadLibraryExW(Widen(name).c_str(), nullptr,
                            LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

const Ftd2xxLibrary* LoadFtd2xx(const std::string& name, bool mpsse, std::string& problem) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<Ftd2xxLibrary>> loaded;
    std::lock_guard lock(mutex);
    Ftd2xxLibrary* lib = nullptr;
    if (const auto it = loaded.find(name); it != loaded.end()) {
        lib = it->second.get();
    } else {
        auto fresh = std::make_unique<Ftd2xxLibrary>();
        fresh->module = LoadFromTrustedFolders(name);
        if (fresh->module == nullptr) {
            problem = "the cable driver " + name +
                      " is not installed: Tunlet looks for it in its own folder and in Windows' System32 folder, "
                      "where the USB-Blaster's driver (Quartus, or FTDI's D2XX driver) puts it";
            return nullptr;
        }
        using L = Ftd2xxLibrary;
        fresh->openEx = Resolve<L::OpenExFn>(fresh->module, "FT_OpenEx");
        fresh->write = Resolve<L::WriteFn>(fresh->module, "FT_Write");
        fresh->close = Resolve<L::CloseFn>(fresh->module, "FT_Close");
        fresh->read = Resolve<L::ReadFn>(fresh->module, "FT_Read");
        fresh->setTimeouts = Resolve<L::SetTimeoutsFn>(fresh->module, "FT_SetTimeouts");
        fresh->purge = Resolve<L::PurgeFn>(fresh->module, "FT_Purge");
        fresh->setBitMode = Resolve<L::SetBitModeFn>(fresh->module, "FT_SetBitMode");
        fresh->setLatencyTimer = Resolve<L::SetLatencyTimerFn>(fresh->module, "FT_SetLatencyTimer");
        fresh->getDeviceInfo = Resolve<L::GetDeviceInfoFn>(fresh->module, "FT_GetDeviceInfo");
        for (const auto& [fn, fnName] : {std::pair{fresh->openEx != nullptr, "FT_OpenEx"},
                                         std::pair{fresh->write != nullptr, "FT_Write"},
                                         std::pair{fresh->close != nullptr, "FT_Close"},
                                         std::pair{fresh->read != nullptr, "FT_Read"},
                                         std::pair{fresh->setTimeouts != nullptr, "FT_SetTimeouts"},
                                         std::pair{fresh->purge != nullptr, "FT_Purge"}}) {
            if (!fn) {
                problem = "the cable driver " + name + " lacks " + fnName;
                ::FreeLibrary(fresh->module);
                return nullptr;
            }
        }
        lib = (loaded[name] = std::move(fresh)).get();
    }
    if (mpsse && (lib->setBitMode == nullptr || lib->setLatencyTimer == nullptr)) {
        problem = "the cable driver " + name + " lacks " + (lib->setBitMode == nullptr ? "FT_SetBitMode" : "FT_SetLatencyTimer");
        return nullptr;
    }
    return lib;
}

}  // namespace tunlet
