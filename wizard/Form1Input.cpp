// The window's input beyond its controls' own: Enter walking the wizard, Escape stopping a
// build or going back, maps chosen with "...", dropped on the window or named on the command
// line, and the reading of a map into the lists that all of them share.

#include "wizard/Form1.h"

#include "dialogs/FileDialogs.h"
#include "dialogs/MessageBox.h"
#include "intake/MapReader.h"
#include "package/ProgramInfo.h"
#include "wizard/SceneryList.h"
#include "wizard/SceneryThumbnails.h"
#include "wizard/WizardLayout.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>

namespace {

// The one local file among `urls` that names a map (*.pms in any letter case); empty when
// there is none, or more than one.
QString droppedMap(const QList<QUrl> &urls) {
    QString map;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (!path.endsWith(QStringLiteral(".pms"), Qt::CaseInsensitive))
            continue;
        if (!map.isEmpty())
            return {};
        map = path;
    }
    return map;
}

} // namespace

void Form1::keyPressEvent(QKeyEvent *event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || event->modifiers() & ~Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    const bool settings = Frame4 && Frame4->isVisibleTo(this);
    if (!settings)
        cmdNextFrame->click();
    else if (!m_progress.running() && cmdGO->isEnabled())
        cmdGO->click();
}

void Form1::escapePressed() {
    if (m_progress.running()) {
        m_progress.stop();
        return;
    }
    if (onTallPage())
        cmdBackFrame->click();
}

void Form1::showStopping() {
    cmdGO->setText(m_progress.busyCaption());
    cmdGO->setEnabled(false);
}

void Form1::setDefaultButton(QPushButton *button) {
    for (QPushButton *candidate : {cmdNextFrame, cmdGO}) {
        if (candidate)
            candidate->setDefault(candidate == button);
    }
    // Page 1 starts in the path box; pages 2 and 3 on their default button.
    if (button != cmdNextFrame || onTallPage())
        button->setFocus();
}

void Form1::dragEnterEvent(QDragEnterEvent *event) {
    if (!m_progress.running() && !droppedMap(event->mimeData()->urls()).isEmpty())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event) {
    const QString map = droppedMap(event->mimeData()->urls());
    if (map.isEmpty() || m_progress.running())
        return;
    event->acceptProposedAction();
    openMap(map);
}

void Form1::cmdBrowse_Click() {
    const QChar nul(0);
    m_dialog.title = QStringLiteral("Browse for map...");
    m_dialog.filter = QStringLiteral("Soldat Map File (*.PMS)") + nul + QStringLiteral("*.PMS") +
                      nul + QStringLiteral("All Files (*.*)") + nul + QStringLiteral("*.*") + nul;
    m_dialog.initialDir = defaultMapsFolder();
    // At the map in the path box, where its folder is there; else in the game's maps folder.
    const QString typed = txtPath->text();
    const QFileInfo map(QDir::current(), typed);
    if (!typed.isEmpty() && map.absoluteDir().exists())
        m_dialog.file = map.absoluteFilePath();
    const FileChoice choice = ::PromptOpenFile(m_dialog, this, true);
    if (choice.Cancelled || choice.NameCount < 1)
        return;
    // Several names joined to one folder make no usable path: ask for one map instead.
    if (choice.NameCount > 1) {
        showMessageBox(this,
                       QStringLiteral("Please choose only one map file. You chose %1 files.")
                           .arg(choice.NameCount),
                       QStringLiteral("One Map Only"), MessageButtons::Ok, MessageIcon::Error);
        return;
    }
    openMap(choice.Folder + choice.FileNames.join(QString()));
}

void Form1::openMap(const QString &path) {
    // The lists being read belong to page 2; from page 3 the user goes back to check them.
    if (Frame4 && Frame4->isVisibleTo(this))
        cmdBackFrame_Click();
    txtPath->setText(path);
    // Read, the map is ready to go on with: Enter turns the page rather than browsing again.
    if (readMap(path))
        cmdNextFrame->setFocus();
}

bool Form1::readMap(const QString &pathText) {
    QString filepath = pathText;
    if (!pathText.isEmpty() && QFileInfo(pathText).isRelative()) {
        filepath = QDir::current().absoluteFilePath(pathText);
        txtPath->setText(filepath); // what was read, and what a build packs
    }
    QStringList addList;
    QString error;
    IntakeDetails details;
    const QString pathBox = filepath;
    const bool read = listStuff(m_state, filepath, pathBox, addList, error, nullptr, &details);
    sceneryPage();
    thumbnails->setImages(details.sceneries);
    setItemTexts(lScADD, addList);
    // Said above the lists, rather than marking every scenery missing without a word.
    showMapNotice(read, details.inGameFolder, m_state.TextureName, details.texture.found(),
                  refusedSentence(details.refused));
    cmdPreview->setEnabled(read);
    showMapInPreview();
    if (read) {
        // The lists belong to the map just read; an earlier map's exclusions mean nothing here.
        lScExclude->clear();
        lScADD->setPlaceholder(addList.isEmpty() ? AllStock : AllExcluded);
    } else {
        lScADD->setPlaceholder(NoMapYet);
        showMessageBox(this, error, QStringLiteral("Cannot Read Map"), MessageButtons::Ok,
                       MessageIcon::Error);
    }
    return read;
}
