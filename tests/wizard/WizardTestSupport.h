#pragma once
// A wizard window on a temporary program folder, with every dialog, message box, the browser
// and the program's end answered by the test.

#include "dialogs/FileDialogs.h"
#include "dialogs/MessageBox.h"
#include "support/TestSupport.h"
#include "wizard/Form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <memory>

inline QApplication &wizardTestApplication() {
    static int argc = 1;
    static char name[] = "wizard_test";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // No desktop's file manager is ever asked: "Show in Folder" opens the folder through
        // the test's seam.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        auto *created = qApp ? static_cast<QApplication *>(qApp) : new QApplication(argc, argv);
        // A window closed by a test must not end the test run's event handling.
        QApplication::setQuitOnLastWindowClosed(false);
        return created;
    }();
    return *app;
}

// A map of the fixture game, read but never changed by the tests.
inline QString fixtureMap(const QString &name = QStringLiteral("ctf_Viet")) {
    return testDataPath(QStringLiteral("soldat/maps/") + name + QStringLiteral(".pms"));
}

// Steps from page 1 to `page` with the window's own Next button, reading the fixture map when
// no path is typed yet.
inline void goToPage(Form1 &form, int page) {
    if (page > 1 && form.txtPath->text().isEmpty())
        form.txtPath->setText(fixtureMap());
    for (int step = 1; step < page; ++step)
        form.cmdNextFrame->click();
}

// The page-3 controls that depend on a check box are in step with it.
inline void expectSettingsInvariants(Form1 &form) {
    const bool pass = form.chkPass->isChecked();
    const bool mask = form.chkMask->isChecked();
    EXPECT_EQ(form.txtPass->isEnabled(), pass);
    EXPECT_EQ(form.txtPass2->isEnabled(), pass && mask);
    const QLineEdit::EchoMode echo = mask ? QLineEdit::Password : QLineEdit::Normal;
    EXPECT_EQ(form.txtPass->echoMode(), echo);
    EXPECT_EQ(form.txtPass2->echoMode(), echo);
    EXPECT_EQ(form.txtPass2->toolTip().contains("still compared"), !mask);
    EXPECT_EQ(form.txtComment->isEnabled(), form.chkComment->isChecked());
    for (QCheckBox *box : {form.chkJunk, form.chkRecurse, form.chkUpdate, form.chkFreshen})
        EXPECT_EQ(box->isEnabled(), form.chkExpert->isChecked()) << box->objectName().toStdString();
}

// The texts of a list box's items, in order.
inline QStringList items(const QListWidget *list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        wizardTestApplication();
        MessageBoxTestHook::reset();
        MessageBoxTestHook::hideBoxes();
        FileDialogTestHook::reset();
        ASSERT_TRUE(programDir.isValid());
        ASSERT_TRUE(QFile::copy(testDataPath(QStringLiteral("defaults.txt")),
                                programFolder() + QStringLiteral("/defaults.txt")));
    }

    void TearDown() override {
        form.reset();
        MessageBoxTestHook::reset();
        FileDialogTestHook::reset();
    }

    QString programFolder() const { return programDir.path(); }

    Form1 &makeForm(const QString &folder = {}) {
        form = std::make_unique<Form1>(folder.isEmpty() ? programFolder() : folder);
        form->setEndProgramHook([this] { ++programEnds; });
        form->setOpenUrlHook([this](const QUrl &url, const std::function<void()> &) {
            openedUrls.append(url);
            return openUrlResult;
        });
        return *form;
    }

    const QList<MessageBoxTestHook::Shown> &boxes() const { return MessageBoxTestHook::shown(); }

    QTemporaryDir programDir;
    std::unique_ptr<Form1> form;
    int programEnds = 0;
    QList<QUrl> openedUrls;
    bool openUrlResult = true;
};
