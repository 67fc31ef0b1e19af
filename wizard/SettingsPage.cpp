#include "wizard/SettingsPage.h"

#include "package/BuildHost.h"
#include "wizard/WizardLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QString CompressionTip =
    QStringLiteral("0 = Fastest Compression, large file size.     9 = Slower Compression, "
                   "smaller file size.");

int checkValue(const QCheckBox *box) {
    return box->isChecked() ? 1 : 0;
}

} // namespace

void SettingsPage::buildSettingsPage(QWidget *window) {
    using namespace WizardLayout;
    Frame4 = makeFrame(window, "Frame4", QStringLiteral("ZIP Settings"), 0, 0, 4785, 3435);
    Frame4->hide();
    Label2 = makeLabel(Frame4, "Label2", QStringLiteral("Compression Level:"), 90, 225, 1740, 180);
    Label2->setToolTip(CompressionTip);
    cComp = place(new QComboBox(Frame4), "cComp", 1890, 180, 525, 300);
    cComp->setEditable(false);
    cComp->setToolTip(CompressionTip);
    for (int level = 0; level <= 9; ++level)
        cComp->addItem(QString::number(level));
    cComp->setCurrentIndex(9);
    buildPasswordAndComment();
    buildSwitches();
    Line1 = makeLine(Frame4, "Line1", 2520, 1170, 2520, 135);
    Line2 = makeLine(Frame4, "Line2", 4725, 1170, 2520, 1170);
    Line3 = makeLine(Frame4, "Line3", 2520, 540, 45, 540);
    Line4 = makeLine(Frame4, "Line4", 2520, 1170, 2520, 3375);
    Line5 = makeLine(Frame4, "Line5", 45, 1170, 2520, 1170);
    Line6 = makeLine(Frame4, "Line6", 2520, 855, 45, 855);
    styleSettingsPage(window);
}

// The right half: the password twice and the comment.
void SettingsPage::buildPasswordAndComment() {
    using namespace WizardLayout;
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
}

// The left half: the texture, the expert switches and "Make ZIP".
void SettingsPage::buildSwitches() {
    using namespace WizardLayout;
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
}

void SettingsPage::styleSettingsPage(QWidget *window) {
    using namespace WizardLayout;
    setFonts(Frame4, window->font());
    cmdGO->setFont(titleFont(8.25, true));
    const QColor highlightText = systemHighlightText();
    const QColor captionText = systemCaptionText();
    const QColor buttonHighlight = systemButtonHighlight();
    finishLooks(Frame4, {
                            {Label2, highlightText},
                            {cComp, Qt::white},
                            {chkPass, buttonHighlight},
                            {txtPass, captionText},
                            {chkMask, buttonHighlight},
                            {Label3, buttonHighlight},
                            {Label4, buttonHighlight},
                            {txtPass2, highlightText},
                            {chkComment, buttonHighlight},
                            {txtComment, highlightText},
                            {chkExpert, Qt::white},
                            {chkJunk, highlightText},
                            {chkRecurse, highlightText},
                            {chkUpdate, highlightText},
                            {chkFreshen, highlightText},
                            {chkTexture, highlightText},
                        });
}

void SettingsPage::readSettings(BuildInputs &inputs) const {
    inputs.chkPass = checkValue(chkPass);
    inputs.password = txtPass->text();
    inputs.password2 = txtPass2->text();
    inputs.chkTexture = checkValue(chkTexture);
    inputs.comment = commentWithCrLf();
    inputs.zip.chkJunk = checkValue(chkJunk);
    inputs.zip.chkRecurse = checkValue(chkRecurse);
    inputs.zip.chkUpdate = checkValue(chkUpdate);
    inputs.zip.chkFreshen = checkValue(chkFreshen);
    inputs.zip.chkPass = checkValue(chkPass);
    inputs.zip.chkComment = checkValue(chkComment);
    inputs.zip.compressionLevel = cComp->currentIndex() < 0 ? QString() : cComp->currentText();
}

QString SettingsPage::commentWithCrLf() const {
    return txtComment->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}
