#include "hosts/qt/QtText.h"

#include "media/TextCoding.h"

namespace tunlet {

QString DisplayText(const std::string& bytes) {
    // The one decoding the summaries and tunlet-cli use.
    const std::string utf8 = TextToUtf8(bytes);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace tunlet
