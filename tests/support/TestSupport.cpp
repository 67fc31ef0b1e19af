#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

void writeBytes(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    ASSERT_EQ(file.write(bytes), bytes.size()) << qPrintable(path);
}

void copyTree(const QString &from, const QString &to) {
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + source.mid(from.size());
        QDir().mkpath(QFileInfo(target).absolutePath());
        ASSERT_TRUE(QFile::copy(source, target)) << qPrintable(source);
        // Copies of read-only originals must stay deletable and changeable by the test.
        QFile::setPermissions(target, QFile::permissions(target) | QFile::WriteOwner);
    }
}

int openHandlesOn(const QString &file, bool replaced) {
    const QString target =
        QFileInfo(file).canonicalFilePath() + (replaced ? QStringLiteral(" (deleted)") : QString());
    int count = 0;
    for (const QFileInfo &handle : QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System))
        count += handle.symLinkTarget() == target;
    return count;
}
