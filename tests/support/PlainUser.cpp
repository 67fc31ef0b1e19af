#include "PlainUser.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <unistd.h>

bool rerunAsPlainUser() {
    if (geteuid() != 0)
        return false;
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter = QStringLiteral("--gtest_filter=%1.%2")
                               .arg(QLatin1String(test->test_suite_name()),
                                    QLatin1String(test->name()));
    const QString self = QFile::decodeName(QByteArray("/proc/self/exe"));
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.setProgram(QStringLiteral("setpriv"));
    child.setArguments({QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                        QStringLiteral("--clear-groups"), QStringLiteral("--"),
                        QFile::symLinkTarget(self), filter});
    // The child makes its own temporary folders, where "nobody" may write.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
    child.setProcessEnvironment(environment);
    child.start();
    const bool finished = child.waitForFinished(90000);
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_TRUE(finished) << "the test as \"nobody\" did not finish:\n" << output.toStdString();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    // gtest exits 0 for a filter that matched nothing; make sure the test really ran.
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test")))
        << "the test did not run as \"nobody\":\n"
        << output.toStdString();
    return true;
}
