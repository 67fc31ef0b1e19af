#include "text/CodePage.h"

#include "text/CodePage1252.h"

#include <QList>

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

QString charactersLacking(QStringView text) {
    QString lacking;
    for (const char32_t c : text.toUcs4()) {
        const QString one = QString::fromUcs4(&c, 1);
        // '?' stands for what is lacking, and is a character of its own too.
        if (cp1252::fromUnicode(c) == '?' && c != U'?' && !lacking.contains(one))
            lacking += one;
    }
    return lacking;
}
