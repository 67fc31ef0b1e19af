#include "package/BuildCommand.h"

#include "intake/MapReader.h"

namespace {

bool isSeparator(QChar c) {
#ifdef Q_OS_WIN
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
#else
    return c == QLatin1Char('/');
#endif
}

qsizetype lastSeparator(const QString &text) {
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (isSeparator(text.at(i)))
            return i;
    }
    return -1;
}

} // namespace

QStringList applyExcludes(const QStringList &excludes, QStringList &addList,
                          QStringList &excludeList) {
    QStringList unmatched;
    for (const QString &name : excludes) {
        bool found = false;
        for (qsizetype i = 0; i < addList.size();) {
            if (withoutMarker(addList.at(i)) == withoutMarker(name)) {
                excludeList << addList.takeAt(i);
                found = true;
            } else {
                ++i;
            }
        }
        if (!found)
            unmatched << name;
    }
    return unmatched;
}

QString mapNameFromPath(const QString &pathText) {
    const qsizetype separator = lastSeparator(pathText);
    if (separator < 0)
        return {};
    QString fileName = pathText.mid(separator + 1);
    fileName.remove(QLatin1Char('\r'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}
