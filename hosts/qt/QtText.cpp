#include "hosts/qt/QtText.h"

namespace tunlet {

QString DisplayText(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace tunlet
