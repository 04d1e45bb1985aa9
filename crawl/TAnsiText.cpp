#include "TAnsiText.h"

#include <QStringDecoder>

QString TAnsiText::ToDisplay(const std::string& bytes) {
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(view);
    if (!utf8.hasError())
        return text;
    QStringDecoder korean("windows-949");
    if (korean.isValid()) {
        text = korean(view);
        if (!korean.hasError())
            return text;
    }
    return QString::fromLatin1(view);
}

std::string TAnsiText::FromTyped(const QString& text) { return text.toUtf8().toStdString(); }
