#include "hosts/qt/QtText.h"

#include <QByteArray>
#include <QStringDecoder>

namespace tunlet {

QString DisplayText(const std::string& bytes) {
    const QByteArray raw(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(raw);
    if (!utf8.hasError()) return text;
    QStringDecoder sjis("Shift_JIS", QStringDecoder::Flag::Stateless);
    if (sjis.isValid()) {
        text = sjis.decode(raw);
        if (!sjis.hasError()) return text;
    }
    return QString::fromLatin1(raw);  // every byte is some character: nothing is dropped
}

}  // namespace tunlet
