#include "wizard/Form1.h"

#include "dialogs/FileDialogs.h"
#include "dialogs/MessageBox.h"
#include "intake/DefaultSceneries.h"
#include "intake/MapReader.h"
#include "package/ProgramInfo.h"
#include "package/Readme.h"
#include "package/Staging.h"
#include "platform/Platform.h"
#include "wizard/WizardLook.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegion>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include <cstdlib>

namespace {

const QString QuitCaption = QStringLiteral("!! Quit !!");
const QString NextCaption = QStringLiteral("Next >>");
const QString CompressionTip =
    QStringLiteral("0 = Fastest Compression, large file size.     9 = Slower Compression, "
                   "smaller file size.");

int px(int twips) {
    return qRound(twips / double(TwipsPerPixel));
}

template <typename W>
W *place(W *widget, const char *name, int left, int top, int width, int height) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(px(left), px(top), px(width), px(height));
    return widget;
}

QGroupBox *makeFrame(QWidget *parent, const char *name, const QString &caption, int left, int top,
                     int width, int height) {
    return place(new QGroupBox(caption, parent), name, left, top, width, height);
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, int left,
                        int top, int width, int height, const QString &tip = {}) {
    auto *button = place(new QPushButton(caption, parent), name, left, top, width, height);
    button->setToolTip(tip);
    // Enter and Return click the focused button, as the platform's buttons do.
    button->setAutoDefault(true);
    return button;
}

QCheckBox *makeCheck(QWidget *parent, const char *name, const QString &caption, int left, int top,
                     int width, int height, const QString &tip, bool checked, bool enabled) {
    auto *box = place(new QCheckBox(caption, parent), name, left, top, width, height);
    box->setToolTip(tip);
    box->setChecked(checked);
    box->setEnabled(enabled);
    return box;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption, int left, int top,
                  int width, int height) {
    auto *label = place(new QLabel(caption, parent), name, left, top, width, height);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// A thin straight separator between two points given in the parent's twips.
QFrame *makeLine(QWidget *parent, const char *name, int x1, int y1, int x2, int y2) {
    auto *line = new QFrame(parent);
    line->setObjectName(QLatin1String(name));
    line->setFrameShape(QFrame::NoFrame);
    const int left = px(qMin(x1, x2));
    const int top = px(qMin(y1, y2));
    line->setGeometry(left, top, px(qAbs(x2 - x1)) + 1, px(qAbs(y2 - y1)) + 1);
    return line;
}

QStringList itemTexts(const QListWidget *list) {
    QStringList texts;
    texts.reserve(list->count());
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

// Each item shows its full name as its tool tip: the list is narrower than many names.
void showNamesAsTips(QListWidget *list) {
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                     [list](const QModelIndex &, int first, int last) {
                         for (int row = first; row <= last; ++row) {
                             QListWidgetItem *item = list->item(row);
                             item->setToolTip(item->text());
                         }
                     });
}

void setItemTexts(QListWidget *list, const QStringList &texts) {
    list->clear();
    list->addItems(texts);
}

// The list's one selected row, -1 when nothing is selected.
int selectedRow(const QListWidget *list) {
    const QList<QListWidgetItem *> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.first());
}

// Moves the selected item of `source` to the end of `target`; nothing when no item is selected
// or its text is empty. The source is left without a selection.
void moveSelected(QListWidget *source, QListWidget *target) {
    const int row = selectedRow(source);
    const QString text = row >= 0 ? source->item(row)->text() : QString();
    if (text.isEmpty())
        return;
    target->addItem(text);
    delete source->takeItem(row);
    source->clearSelection();
    source->setCurrentRow(-1);
}

void moveAll(QListWidget *source, QListWidget *target) {
    const int count = source->count();
    for (int i = 0; i < count; ++i)
        target->addItem(source->item(i)->text());
    source->clear();
}

int checkValue(const QCheckBox *box) {
    return box->isChecked() ? 1 : 0;
}

// A multi-line box hands its text on with CR LF line ends, as the readme and the archive
// comment are written.
QString withCrLf(QString text) {
    return text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

// Lets a label show its whole text: first widens it about its centre within its parent, then,
// if the text is still too long, makes the font smaller (down to 6 pt).
void fitLabelText(QLabel *label) {
    auto textWidth = [label] {
        return QFontMetrics(label->font()).horizontalAdvance(label->text());
    };
    if (textWidth() <= label->width())
        return;
    const QRect room = label->parentWidget()->rect().adjusted(4, 0, -4, 0);
    const int width = qMin(textWidth(), room.width());
    const int left =
        qBound(room.left(), label->geometry().center().x() - width / 2, room.right() + 1 - width);
    label->setGeometry(left, label->y(), width, label->height());
    QFont font = label->font();
    while (textWidth() > label->width() && font.pointSizeF() > 6.0) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
        label->setFont(font);
    }
}

// Gives a caption the height its font needs, so that no letter loses its descender. Labels
// keep their top (their text is top-aligned); check boxes grow about their centre. Both stay
// inside their parent.
void fitTextHeight(QWidget *widget) {
    const bool centred = qobject_cast<QCheckBox *>(widget) != nullptr;
    const QFontMetrics metrics(widget->font());
    // Glyphs of the window's font reach past the font's descent; a centred caption needs that
    // room on both sides.
    const int needed = metrics.height() + (centred ? 4 : 2);
    if (widget->height() >= needed)
        return;
    QRect area = widget->geometry();
    if (centred)
        area.moveTop(area.top() - (needed - area.height()) / 2);
    area.setHeight(needed);
    const QRect room = widget->parentWidget()->rect();
    if (area.bottom() > room.bottom())
        area.moveBottom(room.bottom());
    if (area.top() < room.top())
        area.moveTop(room.top());
    widget->setGeometry(area);
}

// `line` cut to `width` with "..." at its end. (Qt's own eliding asks the window's font for a
// glyph it does not have, and warns on every paint.)
QString shortened(const QFontMetrics &metrics, QString line, int width) {
    if (metrics.horizontalAdvance(line) <= width)
        return line;
    const QString dots = QStringLiteral("...");
    while (!line.isEmpty() && metrics.horizontalAdvance(line + dots) > width)
        line.chop(1);
    return line + dots;
}

// A label that reports clicks, for the web link.
class ClickableLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            onClick)
            onClick();
        QLabel::mouseReleaseEvent(event);
    }
};

} // namespace

Form1::Form1(QString programFolder, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_programFolder(std::move(programFolder)), m_binding(m_programFolder),
      m_endProgram([] { std::_Exit(0); }),
      m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); }) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velquarindostrammelfenboriax             V1.0"));
    setFont(WizardLook::titleFont(8.25, false));
    setAutoFillBackground(true);
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, WizardLook::WindowBackground);
    windowPalette.setColor(QPalette::WindowText, WizardLook::OutputText);
    setPalette(windowPalette);

    createControls();
    for (QWidget *part :
         {static_cast<QWidget *>(frameMap), static_cast<QWidget *>(Frame5),
          static_cast<QWidget *>(cmdNextFrame), static_cast<QWidget *>(cmdBackFrame)})
        applyLooks(part);
    setTabOrderAsDesigned();
    // The window opens with the cursor in the path box, the first control of the keyboard
    // order that page 1 shows.
    txtPath->setFocus();
    // Escape on pages 2 and 3 goes back, as "<< Back" does.
    auto *back = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(back, &QShortcut::activated, this, [this] {
        if (onTallPage())
            cmdBackFrame->click();
    });
    // The client area as laid out; the load event turns it into page 1.
    setFixedSize(px(9570), px(4305));
    Form_Load();
}

Form1::~Form1() {
    Form_Terminate();
}

void Form1::createControls() {
    frameMap = makeFrame(this, "frameMap", QStringLiteral("Source Map"), 0, 0, 4785, 555);
    Frame5 = makeFrame(this, "Frame5", QString(), 0, 540, 4785, 555);
    cmdNextFrame = makeButton(this, "cmdNextFrame", NextCaption, 2610, 3600, 1680, 420);
    cmdBackFrame = makeButton(this, "cmdBackFrame", QStringLiteral("<< Back"), 90, 3600, 1680, 420);
    cmdBackFrame->setEnabled(false);

    // Page 1
    // Two pixels below the frame's caption, which the path box would otherwise cut.
    Label1 = makeLabel(frameMap, "Label1", QStringLiteral("Map:"), 90, 255, 420, 180);
    txtPath = place(new QLineEdit(frameMap), "txtPath", 540, 210, 3840, 255);
    txtPath->setToolTip(QStringLiteral("EG: C:/soldat/maps/Arena.PMS"));
    cmdBrowse = makeButton(frameMap, "cmdBrowse", QStringLiteral("..."), 4410, 210, 285, 285);

    // Credits strip
    Label5 = makeLabel(Frame5, "Label5", CreditsLine, 450, 135, 3990, 180);
    auto *link = place(new ClickableLabel(QStringLiteral("Visit ") + WebAddress, Frame5), "Label6",
                       1170, 315, 2055, 180);
    link->setTextFormat(Qt::PlainText);
    link->setCursor(Qt::PointingHandCursor);
    link->onClick = [this] { Label6_Click(); };
    Label6 = link;
    Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label6->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    connect(cmdNextFrame, &QPushButton::clicked, this, &Form1::cmdNextFrame_Click);
    connect(cmdBackFrame, &QPushButton::clicked, this, &Form1::cmdBackFrame_Click);
    connect(cmdBrowse, &QPushButton::clicked, this, &Form1::cmdBrowse_Click);
    // Enter in the path box reads the typed map, as "..." reads a chosen one.
    connect(txtPath, &QLineEdit::returnPressed, this, [this] {
        if (!txtPath->text().isEmpty())
            readMap(txtPath->text());
    });
}

QGroupBox *Form1::sceneryPage() {
    if (Frame1)
        return Frame1;
    Frame1 = makeFrame(this, "Frame1", QStringLiteral("Scenery-gfx"), 0, 0, 4785, 3435);
    Frame1->hide();
    // The two list frames start two pixels below the page's caption, which they would cut.
    Frame2 = makeFrame(Frame1, "Frame2", QStringLiteral("ADD"), 45, 210, 1905, 3180);
    lScADD = place(new QListWidget(Frame2), "lScADD", 45, 180, 1815, 2955);
    lScADD->setToolTip(QStringLiteral("Sceneries that will be added to the ZIP archive."));
    Frame3 = makeFrame(Frame1, "Frame3", QStringLiteral("EXCLUDE"), 2835, 210, 1905, 3180);
    lScExclude = place(new QListWidget(Frame3), "lScExclude", 45, 180, 1815, 2955);
    lScExclude->setToolTip(QStringLiteral("Sceneries that will NOT be added to the ZIP Archive."));
    for (QListWidget *list : {lScADD, lScExclude}) {
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSortingEnabled(false);
        showNamesAsTips(list);
    }
    cmdAllL2R = makeButton(Frame1, "cmdAllL2R", QStringLiteral(">>"), 2025, 585, 735, 420,
                           QStringLiteral("Exclude All"));
    cmdL2R = makeButton(Frame1, "cmdL2R", QStringLiteral(">"), 2025, 1080, 735, 420,
                        QStringLiteral("Exclude Selected"));
    cmdAllR2L = makeButton(Frame1, "cmdAllR2L", QStringLiteral("<<"), 2025, 2700, 735, 420,
                           QStringLiteral("Add All"));
    cmdR2L = makeButton(Frame1, "cmdR2L", QStringLiteral("<"), 2025, 2205, 735, 420,
                        QStringLiteral("Add Selected"));
    connect(cmdL2R, &QPushButton::clicked, this, &Form1::cmdL2R_Click);
    connect(cmdAllL2R, &QPushButton::clicked, this, &Form1::cmdAllL2R_Click);
    connect(cmdR2L, &QPushButton::clicked, this, &Form1::cmdR2L_Click);
    connect(cmdAllR2L, &QPushButton::clicked, this, &Form1::cmdAllR2L_Click);
    applyLooks(Frame1);
    setTabOrderAsDesigned();
    return Frame1;
}

QGroupBox *Form1::settingsPage() {
    if (Frame4)
        return Frame4;
    Frame4 = makeFrame(this, "Frame4", QStringLiteral("ZIP Settings"), 0, 0, 4785, 3435);
    Frame4->hide();
    Label2 = makeLabel(Frame4, "Label2", QStringLiteral("Compression Level:"), 90, 225, 1740, 180);
    Label2->setToolTip(CompressionTip);
    cComp = place(new QComboBox(Frame4), "cComp", 1890, 180, 525, 300);
    cComp->setEditable(false);
    cComp->setToolTip(CompressionTip);
    for (int level = 0; level <= 9; ++level)
        cComp->addItem(QString::number(level));
    cComp->setCurrentIndex(9);
    chkPass = makeCheck(Frame4, "chkPass", QStringLiteral("Password"), 2655, 225, 1365, 180,
                        QStringLiteral("Password protect your map files"), false, true);
    txtPass = place(new QLineEdit(Frame4), "txtPass", 3240, 495, 1455, 270);
    txtPass->setToolTip(QStringLiteral("ZIP Password"));
    chkMask = makeCheck(Frame4, "chkMask", QStringLiteral("Mask"), 3915, 225, 825, 180,
                        QStringLiteral("Hide your password in the fields below"), true, true);
    Label3 = makeLabel(Frame4, "Label3", QStringLiteral("Pass:"), 2745, 540, 495, 180);
    Label4 = makeLabel(Frame4, "Label4", QStringLiteral("Again:"), 2655, 855, 555, 180);
    txtPass2 = place(new QLineEdit(Frame4), "txtPass2", 3240, 810, 1455, 270);
    for (QLineEdit *box : {txtPass, txtPass2}) {
        box->setEchoMode(QLineEdit::Password);
        box->setEnabled(false);
    }
    chkComment = makeCheck(
        Frame4, "chkComment", QStringLiteral("Add Comment"), 2610, 1260, 1545, 195,
        QStringLiteral("Add a comment to your ZIP Archive and also the the readme."), false, true);
    txtComment = place(new QPlainTextEdit(Frame4), "txtComment", 2565, 1530, 2130, 1815);
    txtComment->setEnabled(false);
    txtComment->setTabChangesFocus(true);
    chkExpert =
        makeCheck(Frame4, "chkExpert", QStringLiteral("Expert Settings:"), 90, 900, 1995, 180,
                  QStringLiteral("ONLY CLICK IF YOU KNOW WHAT YOU ARE DOING!"), false, true);
    chkJunk = makeCheck(Frame4, "chkJunk", QStringLiteral("Junk Directories"), 90, 1260, 2130, 180,
                        QStringLiteral("Throw Away Path Names"), false, false);
    chkRecurse = makeCheck(Frame4, "chkRecurse", QStringLiteral("Recursive Mode"), 90, 1530, 1725,
                           180, QStringLiteral("Recurse -r (-R not availible)"), true, false);
    chkUpdate = makeCheck(Frame4, "chkUpdate", QStringLiteral("Update Files Only"), 90, 1800, 2220,
                          195, QStringLiteral("Update Only If Newer"), false, false);
    chkFreshen =
        makeCheck(Frame4, "chkFreshen", QStringLiteral("Overwrite Only "), 90, 2070, 2175, 195,
                  QStringLiteral(
                      "Freshen - Overwrite Only (If you dont understand this, leave it unchecked)"),
                  false, false);
    cmdGO = makeButton(Frame4, "cmdGO", QStringLiteral("Make ZIP"), 90, 2295, 2400, 1050);
    chkTexture = makeCheck(Frame4, "chkTexture", QStringLiteral("Add Soldat Texture"), 90, 630,
                           2130, 180, QString(), true, true);
    Line1 = makeLine(Frame4, "Line1", 2520, 1170, 2520, 135);
    Line2 = makeLine(Frame4, "Line2", 4725, 1170, 2520, 1170);
    Line3 = makeLine(Frame4, "Line3", 2520, 540, 45, 540);
    Line4 = makeLine(Frame4, "Line4", 2520, 1170, 2520, 3375);
    Line5 = makeLine(Frame4, "Line5", 45, 1170, 2520, 1170);
    Line6 = makeLine(Frame4, "Line6", 2520, 855, 45, 855);

    connect(chkPass, &QCheckBox::clicked, this, &Form1::chkPass_Click);
    connect(chkMask, &QCheckBox::clicked, this, &Form1::chkMask_Click);
    connect(chkComment, &QCheckBox::clicked, this, &Form1::chkComment_Click);
    connect(chkExpert, &QCheckBox::clicked, this, &Form1::chkExpert_Click);
    connect(cmdGO, &QPushButton::clicked, this, &Form1::cmdGO_Click);
    applyLooks(Frame4);
    setTabOrderAsDesigned();
    return Frame4;
}

void Form1::applyLooks(QWidget *part) {
    using namespace WizardLook;
    // Frames carry their captions in bold; their contents keep the window's font.
    QList<QWidget *> widgets = part->findChildren<QWidget *>();
    widgets.prepend(part);
    for (QWidget *widget : std::as_const(widgets)) {
        if (qobject_cast<QGroupBox *>(widget))
            widget->setFont(titleFont(widget == Frame2 || widget == Frame3 ? 6.75 : 8.25, true));
        else if (widget != part)
            widget->setFont(font());
    }
    if (part == Frame1) {
        lScADD->setFont(systemSansFont(8.25));
        lScExclude->setFont(systemSansFont(8.25));
    }
    if (part == frameMap)
        cmdBrowse->setFont(titleFont(8.25, true));
    if (part == Frame4)
        cmdGO->setFont(titleFont(8.25, true));
    if (part == Frame5) {
        fitLabelText(Label5);
        fitLabelText(Label6);
    }

    const QColor highlightText = systemHighlightText();
    const QColor captionText = systemCaptionText();
    const QColor buttonHighlight = systemButtonHighlight();
    const QList<QPair<QWidget *, QColor>> allColours = {
        {Label1, Qt::white},           {txtPath, QColor(192, 192, 192)},
        {Label5, Qt::white},           {Label6, Qt::white},
        {lScADD, captionText},         {lScExclude, captionText},
        {Label2, highlightText},       {cComp, Qt::white},
        {chkPass, buttonHighlight},    {txtPass, captionText},
        {chkMask, buttonHighlight},    {Label3, buttonHighlight},
        {Label4, buttonHighlight},     {txtPass2, highlightText},
        {chkComment, buttonHighlight}, {txtComment, highlightText},
        {chkExpert, Qt::white},        {chkJunk, highlightText},
        {chkRecurse, highlightText},   {chkUpdate, highlightText},
        {chkFreshen, highlightText},   {chkTexture, highlightText},
    };
    QList<QPair<QWidget *, QColor>> textColours;
    for (const auto &entry : allColours) {
        if (entry.first && part->isAncestorOf(entry.first))
            textColours.append(entry);
    }
    // Set on the pages and buttons, not on the window, so that the file dialogs and message
    // boxes the window owns keep the platform's own look.
    part->setStyleSheet(WizardLook::styleSheet(highlightText, textColours));

    for (QWidget *widget : std::as_const(widgets)) {
        if (qobject_cast<QLabel *>(widget) || qobject_cast<QCheckBox *>(widget))
            fitTextHeight(widget);
    }
}

void Form1::setTabOrderAsDesigned() {
    // The keyboard order of the focusable controls; labels and frames take no focus. Pages
    // not made yet are left out.
    const QList<QWidget *> designed = {
        lScADD,   lScExclude,   cmdAllL2R,    cmdL2R,     cmdAllR2L,  cmdR2L,
        txtPath,  cmdBrowse,    cComp,        chkPass,    txtPass,    chkMask,
        txtPass2, cmdNextFrame, cmdBackFrame, chkComment, txtComment, chkExpert,
        chkJunk,  chkRecurse,   chkUpdate,    chkFreshen, cmdGO,      chkTexture};
    QList<QWidget *> order;
    for (QWidget *widget : designed) {
        if (widget)
            order.append(widget);
    }
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
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

// A page that makes the window taller may push its bottom off the screen (the window was
// centred for the short page): move it up as far as needed, never above the screen's top.
void Form1::keepOnScreen() {
    QScreen *shown = screen();
    if (!isVisible() || !shown)
        return;
    const QRect available = shown->availableGeometry();
    const QRect frame = frameGeometry();
    const int overflow = frame.bottom() - available.bottom();
    if (overflow > 0)
        move(frame.left(), qMax(available.top(), frame.top() - overflow));
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
        m_staging = std::make_unique<PrivateStagingFolder>(StagingPrefix);
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
    if (m_buildRunning) {
        event->ignore();
        askToStopBuild(AfterBuild::Close);
        return;
    }
    Form_Unload();
    event->accept();
}

void Form1::askToStopBuild(AfterBuild after) {
    if (m_stopQuestionOpen || m_stopRequested)
        return;
    m_stopQuestionOpen = true;
    // The question must not hold the build up: the engine goes on while it is open.
    m_stopQuestion =
        askMessageBox(this, QStringLiteral("A ZIP archive is being built. Stop it and quit?"),
                      QStringLiteral("Confirm Exit"), MessageButtons::YesNo, MessageIcon::Warning,
                      [this, after](MessageAnswer answer) {
                          m_stopQuestionOpen = false;
                          if (answer != MessageAnswer::Yes)
                              return;
                          m_afterBuild = after;
                          if (m_buildRunning)
                              m_stopRequested = true; // cmdGO_Click quits once the build returns
                          else
                              quitNow(after);
                      });
}

// A build that ends while the question is open leaves nothing to stop: the question goes
// before the build's result is shown.
void Form1::withdrawStopQuestion() {
    if (m_stopQuestion)
        m_stopQuestion->close();
}

void Form1::quitNow(AfterBuild after) {
    m_afterBuild = AfterBuild::Nothing;
    m_staging.reset();
    m_stagingRemoved = true;
    if (after == AfterBuild::Close)
        close();
    else
        m_endProgram();
}

void Form1::cmdNextFrame_Click() {
    if (cmdNextFrame->text() == QuitCaption) {
        if (m_buildRunning) {
            askToStopBuild(AfterBuild::EndProgram);
            return;
        }
        const MessageAnswer answer = showMessageBox(
            this, QStringLiteral("Are you sure you wish to quit?"), QStringLiteral("Confirm Exit"),
            MessageButtons::YesNo, MessageIcon::Information);
        if (answer == MessageAnswer::Yes) {
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
        keepOnScreen();
    }
}

void Form1::cmdBackFrame_Click() {
    if (Frame4 && Frame4->isVisibleTo(this)) {
        Frame1->show();
        Frame4->hide();
        cmdNextFrame->setText(NextCaption);
        cmdNextFrame->setEnabled(true);
    } else if (onTallPage()) {
        setWindowWidthTwips(WizardWidth);
        setWindowHeightTwips(ShortPageHeight);
        placeNavigationButtons(90, 1170, 3060, 1170);
        Frame1->hide();
        frameMap->show();
        Frame5->show();
        cmdBackFrame->setEnabled(false);
    }
}

void Form1::cmdBrowse_Click() {
    const QChar nul(0);
    m_dialog.title = QStringLiteral("Browse for map...");
    m_dialog.filter = QStringLiteral("Soldat Map File (*.PMS)") + nul + QStringLiteral("*.PMS") +
                      nul + QStringLiteral("All Files (*.*)") + nul + QStringLiteral("*.*") + nul;
    m_dialog.initialDir = defaultMapsFolder();
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
    txtPath->setText(choice.Folder + choice.FileNames.join(QString()));
    readMap(txtPath->text());
}

bool Form1::readMap(const QString &pathText) {
    QString filepath = pathText;
    QStringList addList;
    QString error;
    const bool read = listStuff(m_state, filepath, pathText, addList, error);
    sceneryPage();
    setItemTexts(lScADD, addList);
    if (read) {
        // The lists belong to the map just read; an earlier map's exclusions mean nothing here.
        lScExclude->clear();
    } else {
        showMessageBox(this, error, QStringLiteral("Cannot Read Map"), MessageButtons::Ok,
                       MessageIcon::Error);
    }
    return read;
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
    if (m_buildRunning)
        return;
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
    m_buildRunning = true;
    m_stopRequested = false;
    platform::prepareForLargeBuffers();
    BuildContext context{staging, m_request, m_binding, m_dialog};
    m_lastBuild = ::cmdGO_Click(m_state, *this, context);
    m_buildRunning = false;
    withdrawStopQuestion();
    setBusy(false);
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
    if (m_afterBuild != AfterBuild::Nothing)
        quitNow(m_afterBuild);
}

void Form1::Label6_Click() {
    OpenBrowser(this, WebAddress);
}

QVariant Form1::OpenBrowser(QWidget *frm, const QString &ToOpen) {
    Q_UNUSED(frm); // the platform picks the browser's window; nothing waits for an answer
    if (m_openUrl)
        m_openUrl(QUrl::fromUserInput(ToOpen));
    return {};
}

void Form1::setEndProgramHook(std::function<void()> endProgram) {
    m_endProgram = std::move(endProgram);
}

void Form1::setOpenUrlHook(std::function<bool(const QUrl &)> openUrl) {
    m_openUrl = std::move(openUrl);
}

// Only a build asks, from page 3: both pages exist by then.
BuildInputs Form1::buildInputs() const {
    BuildInputs inputs;
    inputs.pathText = txtPath->text();
    inputs.chkPass = checkValue(chkPass);
    inputs.password = txtPass->text();
    inputs.password2 = txtPass2->text();
    inputs.chkTexture = checkValue(chkTexture);
    inputs.addList = itemTexts(lScADD);
    inputs.excludeList = itemTexts(lScExclude);
    inputs.comment = commentText();
    inputs.zip.chkJunk = checkValue(chkJunk);
    inputs.zip.chkRecurse = checkValue(chkRecurse);
    inputs.zip.chkUpdate = checkValue(chkUpdate);
    inputs.zip.chkFreshen = checkValue(chkFreshen);
    inputs.zip.chkPass = checkValue(chkPass);
    inputs.zip.chkComment = checkValue(chkComment);
    inputs.zip.compressionLevel = cComp->currentIndex() < 0 ? QString() : cComp->currentText();
    return inputs;
}

void Form1::setBuildButton(bool enabled, const QString &caption) {
    cmdGO->setEnabled(enabled);
    cmdGO->setText(caption);
    if (!enabled)
        m_busyCaption = caption;
    setBusy(!enabled);
}

// While a build runs the page and "<< Back" take no input, so that a click is dropped, not
// kept for later; the window's close box and "!! Quit !!" still ask to stop it.
void Form1::setBusy(bool busy) {
    QWidget *page = Frame4 && Frame4->isVisibleTo(this) ? Frame4 : nullptr;
    if (busy && !m_focusBeforeBuild)
        m_focusBeforeBuild = focusWidget();
    if (page)
        page->setEnabled(!busy);
    cmdBackFrame->setEnabled(!busy && onTallPage());
    if (!busy && m_focusBeforeBuild) {
        m_focusBeforeBuild->setFocus();
        m_focusBeforeBuild = nullptr;
    }
}

void Form1::showProgress(int percent) {
    cmdGO->setText(QStringLiteral("%1 %2%").arg(m_busyCaption).arg(percent));
}

bool Form1::stopRequested() const {
    return m_stopRequested;
}

FileChoice Form1::PromptSaveFile(DialogRecord &record) {
    return ::PromptSaveFile(record, this, true);
}

void Form1::showMessage(const QString &text, const QString &title, MessageIcon icon) {
    withdrawStopQuestion();
    const bool failure = icon == MessageIcon::Error || icon == MessageIcon::Warning;
    showMessageBox(this, text, title, MessageButtons::Ok, icon,
                   failure ? engineLines() : QString());
}

void Form1::clearOutput() {
    m_output.clear();
    update(outputArea());
}

void Form1::appendOutput(const QString &text) {
    m_output += text;
    update(outputArea());
}

void Form1::processPendingEvents() {
    QCoreApplication::processEvents();
}

QString Form1::passwordText() const {
    return txtPass->text();
}
QString Form1::commentText() const {
    return withCrLf(txtComment->toPlainText());
}
QString Form1::readmeText() const {
    return GetNFO(m_state);
}

QString Form1::engineLines() const {
    QString text = m_output;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), '\n');
    for (QChar &c : text) {
        if (c != QLatin1Char('\n') && (c.category() == QChar::Other_Control || c.isNonCharacter()))
            c = QLatin1Char(' ');
    }
    return text;
}

QRect Form1::outputArea() const {
    const QRect back = cmdBackFrame->geometry();
    const QRect next = cmdNextFrame->geometry();
    return QRect(QPoint(back.right() + 7, back.top()), QPoint(next.left() - 7, back.bottom()));
}

void Form1::paintEvent(QPaintEvent *event) {
    QWidget::paintEvent(event);
    if (!m_painted) {
        m_painted = true;
        // Off the start-up path, once the window is up: the icon (its images are decoded
        // then), which the program's dialogs share, and the leftovers of runs that crashed.
        QTimer::singleShot(0, this, [this] {
            setWindowIcon(WizardLook::programIcon());
            QApplication::setWindowIcon(windowIcon());
            PrivateStagingFolder::removeAbandoned(StagingPrefix);
        });
    }
    if (m_output.isEmpty())
        return;
    // The engine's latest lines, on free background only: between the navigation buttons,
    // clipped to what no control covers.
    const QRect area = outputArea();
    QRegion free(area);
    for (QWidget *child : findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible())
            free -= child->geometry();
    }
    QPainter painter(this);
    painter.setClipRegion(free);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    QStringList lines = engineLines().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const qsizetype room = qMax(1, area.height() / metrics.lineSpacing());
    lines = lines.mid(qMax<qsizetype>(0, lines.size() - room));
    int y = area.top() + (area.height() - int(lines.size()) * metrics.lineSpacing()) / 2;
    for (const QString &line : std::as_const(lines)) {
        painter.drawText(area.left(), y + metrics.ascent(),
                         shortened(metrics, line.trimmed(), area.width()));
        y += metrics.lineSpacing();
    }
}
