// The window as the build command's host: what a build reads from the pages, what the window
// shows while it runs ("Make ZIP" busy with its percentage, the engine's lines, messages), and
// the answers to the engine's questions. The build itself starts in Form1::cmdGO_Click.

#include "wizard/Form1.h"

#include "dialogs/FileDialogs.h"
#include "dialogs/MessageBox.h"
#include "dialogs/ShowInFolder.h"
#include "package/Readme.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolTip>

// Only a build asks, from page 3: both pages exist by then.
BuildInputs Form1::buildInputs() const {
    BuildInputs inputs;
    inputs.pathText = txtPath->text();
    inputs.addList = itemTexts(lScADD);
    inputs.excludeList = itemTexts(lScExclude);
    readSettings(inputs);
    return inputs;
}

// Busy, "Make ZIP" shows how far the build has got and stops it when clicked.
void Form1::setBuildButton(bool enabled, const QString &caption) {
    if (enabled) {
        cmdGO->setText(caption);
    } else {
        m_progress.setBusyCaption(caption);
        cmdGO->setText(m_progress.busyCaption());
    }
    cmdGO->setEnabled(enabled || !m_progress.stopRequested());
    setBusy(!enabled);
}

// While a build runs the page's other controls and "<< Back" take no input, so that a click
// is dropped, not kept for later; "Make ZIP" (a click) and Escape stop the build, the window's
// close box and "!! Quit !!" ask to stop it and quit. Enter never stops it: a key pressed once
// too often must not throw the build away.
void Form1::setBusy(bool busy) {
    if (busy && !m_focusBeforeBuild)
        m_focusBeforeBuild = focusWidget();
    if (Frame4 && busy != m_pageHeld) {
        m_pageHeld = busy;
        for (QWidget *control : Frame4->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (control == cmdGO)
                continue;
            if (busy)
                m_enabledBeforeBuild.insert(control, control->isEnabled());
            control->setEnabled(!busy && m_enabledBeforeBuild.value(control, true));
        }
        if (!busy)
            m_enabledBeforeBuild.clear();
        cmdGO->setAutoDefault(!busy);
        cmdGO->setDefault(!busy && Frame4->isVisibleTo(this));
    }
    cmdBackFrame->setEnabled(!busy && onTallPage());
    if (!busy && m_focusBeforeBuild) {
        m_focusBeforeBuild->setFocus();
        m_focusBeforeBuild = nullptr;
    }
}

void Form1::showProgress(int percent) {
    cmdGO->setText(m_progress.progressCaption(percent));
}

bool Form1::stopRequested() const {
    return m_progress.stopRequested();
}

FileChoice Form1::PromptSaveFile(DialogRecord &record) {
    return ::PromptSaveFile(record, this, true);
}

void Form1::showMessage(const QString &text, const QString &title, MessageIcon icon) {
    m_progress.withdrawQuestion();
    const bool failure = icon == MessageIcon::Error || icon == MessageIcon::Warning;
    showMessageBox(this, text, title, MessageButtons::Ok, icon,
                   failure ? engineLines() : QString());
}

void Form1::showDelivered(const QString &text, const QString &title, MessageIcon icon,
                          const QString &archive) {
    m_progress.withdrawQuestion();
    const MessageAnswer answer =
        showMessageBox(this, text, title, MessageButtons::OkShowInFolder, icon,
                       icon == MessageIcon::Warning ? engineLines() : QString());
    if (answer != MessageAnswer::ShowInFolder)
        return;
    // Said now or once the desktop gives up, while the window is still there to say it.
    const QString folder = QDir::toNativeSeparators(QFileInfo(archive).absolutePath());
    showInFolder(archive, m_openUrl, [window = QPointer<Form1>(this), folder] {
        if (window)
            askMessageBox(window, FolderNotShown.arg(folder), ShowInFolderCaption,
                          MessageButtons::Ok, MessageIcon::Information, [](MessageAnswer) {});
    });
}

void Form1::clearOutput() {
    m_output.clear();
    update(outputArea());
}

void Form1::appendOutput(const QString &text) {
    m_output.append(text);
    update(outputArea());
}

void Form1::processPendingEvents() {
    QCoreApplication::processEvents();
}

QString Form1::passwordText() const {
    return txtPass->text();
}
QString Form1::commentText() const {
    return commentWithCrLf();
}
QString Form1::readmeText() const {
    return GetNFO(m_state);
}

QString Form1::engineLines() const {
    return m_output.lines();
}

bool Form1::event(QEvent *event) {
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const QString line = m_output.latestLine();
    if (outputArea().contains(help->pos()) && !line.isEmpty())
        QToolTip::showText(help->globalPos(), line, this, outputArea());
    else
        QToolTip::hideText();
    return true;
}

QRect Form1::outputArea() const {
    const QRect back = cmdBackFrame->geometry();
    const QRect next = cmdNextFrame->geometry();
    return QRect(QPoint(back.right() + 7, back.top()), QPoint(next.left() - 7, back.bottom()));
}
