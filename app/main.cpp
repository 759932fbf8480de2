// tunlet: the player window.
#include <QApplication>
#include <memory>

#include "app/PlayerApp.h"
#include "platform/Cable.h"
#include "platform/UsbBlasterCable.h"
#include "res/Version.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QString::fromUtf8(tunlet::res::kFileVersion));
    tunlet::SetCableBackend(std::make_shared<tunlet::UsbBlasterCable>());
    tunlet::theApp.InitInstance();
    tunlet::SetCableBackend(nullptr);
    return 0;
}
