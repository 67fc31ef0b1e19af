#include "wizard/Form1.h"

#include "dialogs/FileDialogs.h"
#include "dialogs/MessageBox.h"
#include "dialogs/ShowInFolder.h"
#include "intake/DefaultSceneries.h"
#include "intake/MapReader.h"
#include "package/ProgramInfo.h"
#include "package/Staging.h"
#include "platform/Platform.h"
#include "wizard/PreviewWindow.h"
#include "wizard/SceneryList.h"
#include "wizard/SceneryThumbnails.h"
#include "wizard/WizardLayout.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include <cstdlib>

using namespace WizardLayout;

namespace {

const QString QuitCaption = QStringLiteral("!! Quit !!");
const QString NextCaption = QStringLiteral("Next >>");

} // namespace

Form1::Form1(QString programFolder, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_programFolder(std::move(programFolder)), m_binding(m_programFolder),
      m_endProgram([] { std::_Exit(0); }), m_openUrl(openOnDesktop) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velquarindostrammelfenboriax             V1.0"));
    dressWindow(this);

    buildSourceMapPage(this);
    buildCreditsStrip(this, [this] { Label6_Click(); });
    cmdNextFrame = makeButton(this, "cmdNextFrame", NextCaption, 2610, 3600, 1680, 420);
    cmdBackFrame = makeButton(this, "cmdBackFrame", QStringLiteral("<< Back"), 90, 3600, 1680, 420);
    cmdBackFrame->setEnabled(false);
    for (QPushButton *button : {cmdNextFrame, cmdBackFrame})
        finishLooks(button, {});
    connect(cmdNextFrame, &QPushButton::clicked, this, &Form1::cmdNextFrame_Click);
    connect(cmdBackFrame, &QPushButton::clicked, this, &Form1::cmdBackFrame_Click);
    connect(cmdBrowse, &QPushButton::clicked, this, &Form1::cmdBrowse_Click);
    setTabOrderAsDesigned();
    // The window opens with the cursor in the path box, the first control of the keyboard
    // order that page 1 shows; Enter there reads the map and turns the page.
    txtPath->setFocus();
    setDefaultButton(cmdNextFrame);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &Form1::escapePressed);
    setAcceptDrops(true);
    // The client area as laid out; the load event turns it into page 1.
    setFixedSize(px(9570), px(4305));
    Form_Load();
}

Form1::~Form1() {
    delete m_preview.data(); // waits for its drawing, which uses m_images
    Form_Terminate();
}

QGroupBox *Form1::sceneryPage() {
    if (Frame1)
        return Frame1;
    buildSceneryPage(this, m_images);
    connect(cmdL2R, &QPushButton::clicked, this, &Form1::cmdL2R_Click);
    connect(cmdAllL2R, &QPushButton::clicked, this, &Form1::cmdAllL2R_Click);
    connect(cmdR2L, &QPushButton::clicked, this, &Form1::cmdR2L_Click);
    connect(cmdAllR2L, &QPushButton::clicked, this, &Form1::cmdAllR2L_Click);
    // Enter or a double click moves an item across; Delete excludes it.
    connect(lScADD, &SceneryList::moveRequested, this, &Form1::cmdL2R_Click);
    connect(lScADD, &SceneryList::deleteRequested, this, &Form1::cmdL2R_Click);
    connect(lScExclude, &SceneryList::moveRequested, this, &Form1::cmdR2L_Click);
    connect(cmdPreview, &QPushButton::clicked, this, &Form1::cmdPreview_Click);
    for (const QListWidget *list : {lScADD, lScExclude})
        connect(list, &QListWidget::itemSelectionChanged, this,
                [this, list] { showSelectionInPreview(list); });
    setTabOrderAsDesigned();
    return Frame1;
}

QGroupBox *Form1::settingsPage() {
    if (Frame4)
        return Frame4;
    buildSettingsPage(this);
    connect(chkPass, &QCheckBox::clicked, this, &Form1::chkPass_Click);
    connect(chkMask, &QCheckBox::clicked, this, &Form1::chkMask_Click);
    connect(chkComment, &QCheckBox::clicked, this, &Form1::chkComment_Click);
    connect(chkExpert, &QCheckBox::clicked, this, &Form1::chkExpert_Click);
    connect(cmdGO, &QPushButton::clicked, this, &Form1::cmdGO_Click);
    setTabOrderAsDesigned();
    return Frame4;
}

void Form1::setTabOrderAsDesigned() {
    // The keyboard order of the focusable controls; labels and frames take no focus. Page 3
    // is read as it is drawn: its left column top to bottom, then its right column, then the
    // navigation buttons from left to right.
    chainTabOrder({lScADD,     lScExclude, cmdAllL2R,  cmdL2R,       cmdPreview,
                   cmdAllR2L,  cmdR2L,     txtPath,    cmdBrowse,    cComp,
                   chkTexture, chkExpert,  chkJunk,    chkRecurse,   chkUpdate,
                   chkFreshen, cmdGO,      chkPass,    chkMask,      txtPass,
                   txtPass2,   chkComment, txtComment, cmdBackFrame, cmdNextFrame});
}

int Form1::windowWidthTwips() const {
    return (width() + NominalFrameWidth) * TwipsPerPixel;
}
int Form1::windowHeightTwips() const {
    return (height() + NominalFrameHeight) * TwipsPerPixel;
}
void Form1::setWindowWidthTwips(int twips) {
    setFixedWidth(px(twips) - NominalFrameWidth);
}
void Form1::setWindowHeightTwips(int twips) {
    setFixedHeight(px(twips) - NominalFrameHeight);
}

bool Form1::onTallPage() const {
    return windowWidthTwips() == WizardWidth && windowHeightTwips() == TallPageHeight;
}

void Form1::placeNavigationButtons(int backLeft, int backTop, int nextLeft, int nextTop) {
    cmdBackFrame->move(px(backLeft), px(backTop));
    cmdNextFrame->move(px(nextLeft), px(nextTop));
}

void Form1::Form_Load() {
    setWindowWidthTwips(WizardWidth);
    setWindowHeightTwips(ShortPageHeight);
    placeNavigationButtons(90, 1170, 3060, 1170);

    const DefaultsLoadResult defaults = loadDefaultSceneries(
        m_programFolder + QStringLiteral("/defaults.txt"), m_state.DefaultSceneries);
    m_startupWarning = defaults.warning;
}

void Form1::Form_Unload() {
    cleanStaging();
}

void Form1::Form_Terminate() {
    cleanStaging();
}

QString Form1::stagingFolder() {
    // Made when first needed: the window's start does without it.
    if (!m_staging && !m_stagingRemoved)
        m_staging = std::make_unique<PrivateStagingFolder>(WindowStagingPrefix);
    return m_staging && m_staging->isValid() ? m_staging->path() : QString();
}

void Form1::cleanStaging() {
    if (m_staging && m_staging->isValid())
        fullCleanup(m_staging->path());
}

void Form1::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (m_startupWarningShown)
        return;
    m_startupWarningShown = true;
    if (QScreen *shown = screen())
        move(shown->availableGeometry().center() - rect().center());
    if (!m_startupWarning.isEmpty())
        QMetaObject::invokeMethod(this, &Form1::showStartupWarning, Qt::QueuedConnection);
}

void Form1::showStartupWarning() {
    showMessageBox(this, m_startupWarning, QStringLiteral("Stock Scenery List"), MessageButtons::Ok,
                   MessageIcon::Information);
}

void Form1::closeEvent(QCloseEvent *event) {
    // The build runs inside this window's event handling: it must return before the window
    // may go, so ask first and let the build stop.
    if (m_progress.running()) {
        event->ignore();
        m_progress.askToStop(AfterBuild::Close, [this](AfterBuild after) { quitNow(after); });
        return;
    }
    // As "!! Quit !!" asks, unless the user has answered already.
    if (!m_quitConfirmed && !confirmQuit()) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

bool Form1::confirmQuit() {
    return showMessageBox(this, QStringLiteral("Are you sure you wish to quit?"),
                          QStringLiteral("Confirm Exit"), MessageButtons::YesNo,
                          MessageIcon::Information) == MessageAnswer::Yes;
}

void Form1::quitNow(AfterBuild after) {
    m_staging.reset();
    m_stagingRemoved = true;
    m_quitConfirmed = true;
    if (after == AfterBuild::Close)
        close();
    else
        m_endProgram();
}

void Form1::cmdNextFrame_Click() {
    if (cmdNextFrame->text() == QuitCaption) {
        if (m_progress.running()) {
            m_progress.askToStop(AfterBuild::EndProgram,
                                 [this](AfterBuild after) { quitNow(after); });
            return;
        }
        if (confirmQuit()) {
            quitNow(AfterBuild::EndProgram);
            return;
        }
    }
    if (onTallPage()) {
        settingsPage();
        Frame1->hide();
        Frame4->show();
        cmdNextFrame->setEnabled(true);
        cmdNextFrame->setText(QuitCaption);
        // Enter on page 3 makes the ZIP; it never lands on "!! Quit !!".
        setDefaultButton(cmdGO);
    }
    if (windowWidthTwips() == WizardWidth && windowHeightTwips() == ShortPageHeight) {
        if (txtPath->text().isEmpty()) {
            showMessageBox(this, QStringLiteral("ERROR: You did not specify a map!"),
                           QStringLiteral("No Map Specified"), MessageButtons::Ok,
                           MessageIcon::Error);
            return;
        }
        // A typed path is read first: the next pages show what that map needs.
        if (txtPath->text() != m_state.MapPath && !readMap(txtPath->text()))
            return;
        sceneryPage();
        frameMap->hide();
        Frame5->hide();
        Frame1->show();
        cmdBackFrame->setEnabled(true);
        placeNavigationButtons(135, 3510, 2970, 3510);
        setWindowHeightTwips(TallPageHeight);
        setWindowWidthTwips(WizardWidth);
        keepOnScreen(this); // it was centred for the short page
        setDefaultButton(cmdNextFrame);
    }
}

void Form1::cmdBackFrame_Click() {
    if (Frame4 && Frame4->isVisibleTo(this)) {
        Frame1->show();
        Frame4->hide();
        cmdNextFrame->setText(NextCaption);
        cmdNextFrame->setEnabled(true);
        setDefaultButton(cmdNextFrame);
    } else if (onTallPage()) {
        setWindowWidthTwips(WizardWidth);
        setWindowHeightTwips(ShortPageHeight);
        placeNavigationButtons(90, 1170, 3060, 1170);
        Frame1->hide();
        frameMap->show();
        Frame5->show();
        cmdBackFrame->setEnabled(false);
        setDefaultButton(cmdNextFrame);
        txtPath->setFocus();
        clearOutput(); // the lines of a build on page 3 would tell nothing here
    }
}

void Form1::cmdL2R_Click() {
    moveSelected(lScADD, lScExclude);
}
void Form1::cmdAllL2R_Click() {
    moveAll(lScADD, lScExclude);
}
void Form1::cmdR2L_Click() {
    moveSelected(lScExclude, lScADD);
}
void Form1::cmdAllR2L_Click() {
    moveAll(lScExclude, lScADD);
}

void Form1::chkPass_Click() {
    if (chkPass->isChecked()) {
        txtPass->setEnabled(true);
        if (chkMask->isChecked())
            txtPass2->setEnabled(true);
    } else {
        txtPass->setEnabled(false);
        txtPass2->setEnabled(false);
    }
}

void Form1::chkMask_Click() {
    if (chkMask->isChecked()) {
        txtPass->setEchoMode(QLineEdit::Password);
        txtPass2->setEchoMode(QLineEdit::Password);
        if (chkPass->isChecked())
            txtPass2->setEnabled(true);
    } else {
        txtPass->setEchoMode(QLineEdit::Normal);
        txtPass2->setEchoMode(QLineEdit::Normal);
        txtPass2->setEnabled(false);
    }
    // Locked, "Again:" still takes part in the password check: say so where the user looks.
    txtPass2->setToolTip(chkMask->isChecked() ? QString() : PasswordAgainUnmaskedTip);
}

void Form1::chkComment_Click() {
    txtComment->setEnabled(chkComment->isChecked());
}

void Form1::chkExpert_Click() {
    const bool expert = chkExpert->isChecked();
    const QList<QPair<QCheckBox *, bool>> defaults = {
        {chkJunk, false}, {chkRecurse, true}, {chkUpdate, false}, {chkFreshen, false}};
    for (const auto &[box, checked] : defaults) {
        box->setEnabled(expert);
        box->setChecked(checked);
    }
}

void Form1::cmdGO_Click() {
    // While busy, "Make ZIP" is the build's stop button.
    if (m_progress.running()) {
        escapePressed();
        return;
    }
    sceneryPage();
    settingsPage();
    const QString staging = stagingFolder();
    if (staging.isEmpty()) {
        showMessage(QStringLiteral("The private staging folder under %1 could not be made, so "
                                   "nothing can be built.")
                        .arg(QDir::toNativeSeparators(QDir::tempPath())),
                    QStringLiteral("Staging Folder Error"), MessageIcon::Error);
        return;
    }
    // Until the user has saved somewhere, the save dialog starts beside the map.
    if (!m_saveFolderChosen && !m_state.MapPath.isEmpty())
        m_state.SaveFolder = QFileInfo(m_state.MapPath).absolutePath();
    m_progress.start();
    platform::prepareForLargeBuffers();
    BuildContext context{staging, m_request, m_binding, m_dialog};
    m_lastBuild = ::cmdGO_Click(m_state, *this, context);
    m_saveFolderChosen = m_saveFolderChosen || !m_state.rSaveTo.isEmpty();
    const AfterBuild after = m_progress.finish();
    setBusy(false);
    if (m_lastBuild.outcome == BuildOutcome::Stopped)
        afterStop();
    // Saved again since it was read: the pages show its new lists, the exclusions kept.
    if (m_lastBuild.outcome == BuildOutcome::MapChanged) {
        const QStringList excluded = itemTexts(lScExclude);
        if (readMap(txtPath->text())) {
            QStringList add = itemTexts(lScADD);
            QStringList exclude;
            applyExcludes(excluded, add, exclude);
            setItemTexts(lScADD, add);
            setItemTexts(lScExclude, exclude);
        }
    }
    if (after != AfterBuild::Nothing)
        quitNow(after);
}

void Form1::afterStop() {
    // Nothing of the stopped build stays; the next build makes a fresh staging folder.
    m_staging.reset();
    cmdGO->setFocus();
}

void Form1::Label6_Click() {
    OpenBrowser(this, WebAddress);
}

QVariant Form1::OpenBrowser(QWidget *frm, const QString &ToOpen) {
    Q_UNUSED(frm); // the platform picks the browser's window; nothing waits for an answer
    if (m_openUrl)
        m_openUrl(QUrl::fromUserInput(ToOpen), {});
    return {};
}

void Form1::setEndProgramHook(std::function<void()> endProgram) {
    m_endProgram = std::move(endProgram);
}

void Form1::setOpenUrlHook(DesktopOpener openUrl) {
    m_openUrl = std::move(openUrl);
}

void Form1::paintEvent(QPaintEvent *event) {
    QWidget::paintEvent(event);
    if (!m_painted) {
        m_painted = true;
        // Off the start-up path, once the window is up: the icon (its images are decoded
        // then), which the program's dialogs share, and the leftovers of runs that crashed.
        QTimer::singleShot(0, this, [this] {
            setWindowIcon(programIcon());
            QApplication::setWindowIcon(windowIcon());
            PrivateStagingFolder::removeAbandoned();
        });
    }
    // The engine's latest lines, between the navigation buttons.
    m_output.paint(this, outputArea());
}
