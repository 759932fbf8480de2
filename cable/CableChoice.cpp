#include "cable/CableChoice.h"

#include <optional>

#include "cable/DumpCable.h"
#include "cable/MpsseCable.h"
#ifdef _WIN32
#include "cable/Ftd2xxCable.h"
#include "cable/Ftd2xxMpsseCable.h"
#else
#include "cable/MpsseFtdiCable.h"
#include "cable/UsbBlaster2Cable.h"
#include "cable/UsbBlasterCable.h"
#endif

namespace tunlet {

namespace {

// The back end of an FT2232H cable.
std::shared_ptr<CableBackend> MpsseBackend(const MpsseCableModel& model, const std::string& serial, unsigned tckKhz) {
#ifdef _WIN32
    return std::make_shared<Ftd2xxMpsseCable>(model, serial, tckKhz);
#else
    return std::make_shared<MpsseFtdiCable>(model, serial, tckKhz);
#endif
}

}  // namespace

#ifdef _WIN32
namespace {

// The cables FTD2XX.dll reaches, tried in order: the first that opens is taken. A
// cable that is there but cannot be opened (busy) gives the reason at once; when
// none is there, the first one's "not found" (or the library's absence) is it.
class FirstCableThatOpens : public CableBackend {
public:
    explicit FirstCableThatOpens(std::vector<std::shared_ptr<CableBackend>> cables) : cables_(std::move(cables)) {}
    CableOpenResult Open(const char* description) override {
        std::optional<CableOpenResult> notFound;
        for (const auto& cable : cables_) {
            CableOpenResult r = cable->Open(description);
            if (r.status != FT_DEVICE_NOT_FOUND) return r;
            if (!notFound) notFound = std::move(r);
        }
        return notFound ? std::move(*notFound) : CableOpenResult{};
    }

private:
    std::vector<std::shared_ptr<CableBackend>> cables_;
};

}  // namespace

std::shared_ptr<CableBackend> Ftd2xxCables(const std::string& library, unsigned tckKhz) {
    return std::make_shared<FirstCableThatOpens>(std::vector<std::shared_ptr<CableBackend>>{
        std::make_shared<Ftd2xxCable>(library),
        std::make_shared<Ftd2xxMpsseCable>(kArrowUsbBlaster, "", tckKhz, library),
        std::make_shared<Ftd2xxMpsseCable>(kUsbBlasterIii, "", tckKhz, library),
    });
}
#else
std::vector<std::shared_ptr<CableCandidate>> UsbBlasterCandidates(unsigned tckKhz) {
    return {
        std::make_shared<UsbBlasterCable>(),
        std::make_shared<UsbBlaster2Cable>(),
        std::make_shared<MpsseFtdiCable>(kArrowUsbBlaster, "", tckKhz),
        std::make_shared<MpsseFtdiCable>(kUsbBlasterIii, "", tckKhz),
    };
}
#endif

CableChoice ChooseCable(const std::string& spec, std::shared_ptr<CableBackend> usbBlaster, unsigned tckKhz) {
    CableChoice choice;
    constexpr char kSerialPrefix[] = "usb-blaster:";
    if (spec == "usb-blaster") {
        // The default: on Linux a search of every supported cable.
#ifdef _WIN32
        // Windows: the vendor's driver library, as the cable's own tools use it.
        choice.backend = usbBlaster ? std::move(usbBlaster) : Ftd2xxCables(kFtd2xxLibrary, tckKhz);
#else
        choice.backend = usbBlaster ? std::move(usbBlaster) : std::make_shared<CableSearch>(UsbBlasterCandidates(tckKhz));
#endif
    } else if (spec.rfind(kSerialPrefix, 0) == 0 && spec.size() > sizeof kSerialPrefix - 1) {
        const std::string serial = spec.substr(sizeof kSerialPrefix - 1);
#ifndef _WIN32
        if (!usbBlaster) usbBlaster = std::make_shared<CableSearch>(UsbBlasterCandidates(tckKhz));
#endif
        // Only a search can pick a cable by its serial (not the vendor's DLL).
        if (const auto search = std::dynamic_pointer_cast<CableSearch>(usbBlaster)) choice.backend = search->WithSerial(serial);
    } else if (spec == "virtual") {
        choice.board = VirtualBoard::Create();
        choice.backend = choice.board;
    } else if (spec.rfind("virtual:", 0) == 0) {
        std::vector<ChainDevice> chain;
        choice.problem = VirtualBoard::ParseChain(spec.substr(8), chain);
        if (choice.problem.empty()) {
            choice.board = VirtualBoard::Create();
            choice.board->SetChain(std::move(chain));
            choice.backend = choice.board;
        }
    } else if (spec.rfind("dump:", 0) == 0 && spec.size() > 5) {
        choice.backend = std::make_shared<DumpCable>(spec.substr(5));
    } else {
        for (const MpsseCableModel* model : {&kArrowUsbBlaster, &kUsbBlasterIii}) {
            const std::string name = model->option;
            if (spec == name) choice.backend = MpsseBackend(*model, "", tckKhz);
            if (spec.size() > name.size() + 1 && spec.rfind(name + ":", 0) == 0) {
                choice.backend = MpsseBackend(*model, spec.substr(name.size() + 1), tckKhz);
            }
        }
    }
    return choice;
}

CableChoice ChooseWindowCable(const std::string& spec, unsigned tckKhz) {
    CableChoice choice = ChooseCable(spec, nullptr, tckKhz);
    if (choice.board) {
        choice.board->SetKeepRaw(false);
        choice.board->SetPace(kUsbBlasterBytesPerSecond);
    }
    return choice;
}

}  // namespace tunlet
