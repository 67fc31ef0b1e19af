// The desktop's opener: what xdg-open reports once it has ended reaches the caller.

#include "DialogTestSupport.h"

#include "dialogs/ShowInFolder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

TEST(ShowInFolder, AFailureTheOpenerReportsLaterIsTold) {
    testApplication();
    QTemporaryDir bin;
    QFile opener(bin.filePath("xdg-open"));
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
    opener.write("#!/bin/sh\ncase \"$1\" in *nothing*) echo no method >&2; exit 3;; esac\n");
    opener.close();
    opener.setPermissions(opener.permissions() | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ':' + path);
    int failures = 0;
    EXPECT_TRUE(openOnDesktop(QUrl::fromLocalFile("/tmp/shown"), [&] { failures += 1; }));
    EXPECT_TRUE(openOnDesktop(QUrl::fromLocalFile("/tmp/nothing"), [&] { failures += 10; }));
    qputenv("PATH", path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failures >= 10; }, 30000));
    EXPECT_EQ(failures, 10);
}
