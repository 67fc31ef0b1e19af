#include "text/CodePage.h"

#include "text/CodePage1252.h"

QString fromCodePage(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] =
            QChar(static_cast<char16_t>(cp1252::toUnicode(static_cast<unsigned char>(bytes[i]))));
    return text;
}

QByteArray toCodePage(QStringView text) {
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        bytes[i] = cp1252::fromUnicode(text[i].unicode());
    return bytes;
}
