#pragma once
// The wizard window: three pages (source map, sceneries, ZIP settings) and a credits strip.
// Each page makes its controls in a file of its own (SourceMapPage, SceneryPage, SettingsPage,
// CreditsStrip; shared layout and looks in WizardLayout). The window holds the event handlers,
// which read and set the controls directly and call the logic of intake/, package/ and
// archive/; it turns the pages, keeps dependent controls in step and follows a running build
// (BuildProgress). Its side of a build, as the build command's host, is in Form1BuildHost.cpp;
// the keyboard, dropped files and maps opened from outside in Form1Input.cpp.

#include "archive/ProgramFolder.h"
#include "archive/ZipBinding.h"
#include "archive/ZipRequest.h"
#include "dialogs/FileChoice.h"
#include "dialogs/ShowInFolder.h"
#include "images/GameImages.h"
#include "intake/WizardState.h"
#include "package/BuildCommand.h"
#include "package/BuildHost.h"
#include "package/Staging.h"
#include "wizard/BuildProgress.h"
#include "wizard/CreditsStrip.h"
#include "wizard/EngineOutput.h"
#include "wizard/SceneryPage.h"
#include "wizard/SettingsPage.h"
#include "wizard/SourceMapPage.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <functional>
#include <memory>

class PreviewWindow;
class QGroupBox;
class QListWidget;
class QPushButton;
class QUrl;

// The window manager owns the real frame, so the window keeps its outer size as its own value:
// outer size = client size + this nominal frame (in pixels). Pages are recognised by the outer
// size, so these must stay fixed.
constexpr int NominalFrameWidth = 7;
constexpr int NominalFrameHeight = 29;

// Outer sizes of the pages, in twips.
constexpr int WizardWidth = 4890;
constexpr int ShortPageHeight = 2115; // page 1
constexpr int TallPageHeight = 4455;  // pages 2 and 3

// The controls are public members, named as the rest of the program refers to them; each page
// declares its own. Those of pages 2 and 3 (Frame1 and Frame4 with everything in them) are null
// until their page is first shown or, for the lists, filled by a map read.
class Form1 : public QWidget,
              public BuildHost,
              public SourceMapPage,
              public CreditsStrip,
              public SceneryPage,
              public SettingsPage {
    Q_OBJECT

public:
    // `programFolder` holds defaults.txt and the engine.
    explicit Form1(QString programFolder = ::programFolder(), QWidget *parent = nullptr);
    ~Form1() override; // runs Form_Terminate

    // Outer size of the window in twips, as the program set it.
    int windowWidthTwips() const;
    int windowHeightTwips() const;
    void setWindowWidthTwips(int twips);
    void setWindowHeightTwips(int twips);

    WizardState &state() { return m_state; }
    ZipBinding &zipBinding() { return m_binding; }
    const QString &programFolder() const { return m_programFolder; }
    // The private folder that holds this window's staging tree (TEMP), made on first use;
    // empty once removed, or when it cannot be made.
    QString stagingFolder();
    BuildOutcome lastBuildOutcome() const { return m_lastBuild.outcome; }
    const BuildResult &lastBuild() const { return m_lastBuild; }
    bool buildRunning() const { return m_progress.running(); }
    // Text drawn on the window's background by the engine's messages.
    const QString &outputText() const { return m_output.text(); }
    // The engine's lines of the last run as shown: line ends and control characters made
    // plain. Error and warning boxes carry them as their details.
    QString engineLines() const;
    // Where the engine's lines are drawn: free background between the navigation buttons.
    QRect outputArea() const;

    // The decoded scenery images, shared by everything in the window that draws them.
    GameImages &images() { return m_images; }
    // The map's picture, made by the first "Preview..." (Form1Preview.cpp); null until then.
    PreviewWindow *previewWindow() const;

    // Opens the map at `path` as if it were chosen with "...": a map named on the command line
    // or dropped on the window. A relative path is taken against the current folder.
    void openMap(const QString &path);

    // Hands an address or document to the user's default handler; failures stay silent.
    // The result is always empty.
    QVariant OpenBrowser(QWidget *frm, const QString &ToOpen);

    // Seams for tests: how the program ends at once ("!! Quit !!" answered Yes), and how an
    // address or a folder reaches the desktop (the browser, or "Show in Folder" where no file
    // manager can select the archive; when nothing can show the folder, a box names it).
    void setEndProgramHook(std::function<void()> endProgram);
    void setOpenUrlHook(DesktopOpener openUrl);

    // BuildHost (Form1BuildHost.cpp)
    BuildInputs buildInputs() const override;
    void setBuildButton(bool enabled, const QString &caption) override;
    FileChoice PromptSaveFile(DialogRecord &record) override;
    void showMessage(const QString &text, const QString &title, MessageIcon icon) override;
    void showDelivered(const QString &text, const QString &title, MessageIcon icon,
                       const QString &archive) override;
    void clearOutput() override;
    void appendOutput(const QString &text) override;
    void processPendingEvents() override;
    void showProgress(int percent) override;
    bool stopRequested() const override;
    QString passwordText() const override;
    QString commentText() const override;
    QString readmeText() const override;

public Q_SLOTS:
    void cmdNextFrame_Click();
    void cmdBackFrame_Click();
    void cmdBrowse_Click();
    void cmdL2R_Click();
    void cmdAllL2R_Click();
    void cmdR2L_Click();
    void cmdAllR2L_Click();
    void cmdPreview_Click();
    void chkPass_Click();
    void chkMask_Click();
    void chkComment_Click();
    void chkExpert_Click();
    void cmdGO_Click();
    void Label6_Click();

protected:
    // The tip over the engine's lines is the latest of them, whole.
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // Enter and Return that no control takes press the page's default button: "Next >>" on
    // pages 1 and 2, "Make ZIP" on page 3.
    void keyPressEvent(QKeyEvent *event) override;
    // A dropped *.pms is opened as if chosen with "...".
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    using AfterBuild = BuildProgress::AfterBuild;

    // Pages 2 and 3 are made the first time they are needed, so that start-up makes only what
    // page 1 shows. Both return the page's frame.
    QGroupBox *sceneryPage();
    QGroupBox *settingsPage();
    void setTabOrderAsDesigned();
    void Form_Load();
    void Form_Unload();
    void Form_Terminate();
    void showStartupWarning();
    void placeNavigationButtons(int backLeft, int backTop, int nextLeft, int nextTop);
    bool onTallPage() const;
    // Escape: stops a running build; otherwise goes back from pages 2 and 3.
    void escapePressed();
    // "Make ZIP" says "Stopping..." until the stopped build has ended.
    void showStopping();
    // Reads the map `pathText` names into the lists, as "..." does; false (after telling the
    // user) when it cannot be read. A relative path is made absolute against the current
    // folder, in the path box too.
    bool readMap(const QString &pathText);
    // The page's button for Enter, and where the keyboard starts on it.
    void setDefaultButton(QPushButton *button);
    void setBusy(bool busy);
    // After a stopped build: its staging folder goes (a fresh one is made for the next).
    void afterStop();
    // The preview follows the map read and the items selected in `list`.
    void showMapInPreview();
    void showSelectionInPreview(const QListWidget *list);
    // "Are you sure you wish to quit?": true for Yes.
    bool confirmQuit();
    void quitNow(AfterBuild after);
    void cleanStaging();

    QString m_programFolder;
    GameImages m_images;
    QPointer<PreviewWindow> m_preview; // deleted first: it draws with m_images
    std::unique_ptr<PrivateStagingFolder> m_staging;
    bool m_stagingRemoved = false;
    WizardState m_state;
    ZipRequest m_request;
    ZipBinding m_binding;
    DialogRecord m_dialog; // shared by the open and the save dialog
    EngineOutput m_output;
    QString m_startupWarning;
    bool m_startupWarningShown = false;
    bool m_painted = false;
    BuildProgress m_progress{this, [this] { showStopping(); }};
    QWidget *m_focusBeforeBuild = nullptr;
    bool m_pageHeld = false;                     // page 3 takes no input but "Make ZIP"
    QHash<QWidget *, bool> m_enabledBeforeBuild; // its controls' states, given back after

    BuildResult m_lastBuild;
    bool m_saveFolderChosen = false; // a save dialog was answered
    bool m_quitConfirmed = false;    // the window may close without asking
    std::function<void()> m_endProgram;
    DesktopOpener m_openUrl;

public:
    // The navigation buttons, on the window itself below the pages.
    QPushButton *cmdNextFrame = nullptr;
    QPushButton *cmdBackFrame = nullptr;
};
