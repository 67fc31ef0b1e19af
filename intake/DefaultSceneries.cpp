#include "intake/DefaultSceneries.h"

#include "platform/Platform.h"
#include "text/CodePage.h"

#include <QFile>

bool DefaultSceneryTable::append(const QString &name) {
    if (m_count >= Capacity)
        return false;
    m_entries[m_count++] = name;
    m_index.insert(name);
    return true;
}

void DefaultSceneryTable::clear() {
    m_entries.fill(QString());
    m_count = 0;
    m_index.clear();
}

DefaultsLoadResult loadDefaultSceneries(const QString &path, DefaultSceneryTable &table) {
    table.clear();
    DefaultsLoadResult result;
    auto unreadable = [&](const QString &why) {
        result.warning = QStringLiteral("The stock scenery list %1 could not be read (%2). "
                                        "Stock sceneries will be packed too.")
                             .arg(path, why);
        return result;
    };
    // A FIFO or device could be read without end; 255 names fit in far less than the limit.
    QFile file;
    QString why;
    if (!platform::openRegularFile(path, file, why))
        return unreadable(why);
    const QByteArray bytes = file.read(MaxDefaultsFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return unreadable(file.errorString());
    if (bytes.size() > MaxDefaultsFileSize)
        return unreadable(QStringLiteral("larger than %1 bytes").arg(MaxDefaultsFileSize));
    result.fileRead = true;

    // A line ends at CR LF or at a lone CR; a lone LF belongs to the line.
    auto store = [&](qsizetype begin, qsizetype end) {
        if (end <= begin)
            return;
        if (table.append(fromCodePage(QByteArrayView(bytes).sliced(begin, end - begin))))
            ++result.loaded;
        else
            ++result.ignored;
    };
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r')
            continue;
        store(lineStart, i);
        if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        lineStart = i + 1;
    }
    store(lineStart, bytes.size());

    if (result.ignored > 0) {
        result.warning = QStringLiteral("The stock scenery list %1 holds more than %2 names; "
                                        "the first %2 are used and %3 more were ignored.")
                             .arg(path)
                             .arg(DefaultSceneryTable::Capacity)
                             .arg(result.ignored);
    }
    return result;
}

bool CheckSc(QString &Name, const DefaultSceneryTable &table) {
    Name = Name.toLower();
    // The entries fill the table from index 1 without gaps, so the walk up to the first empty
    // entry sees exactly the loaded ones.
    return table.contains(Name);
}
