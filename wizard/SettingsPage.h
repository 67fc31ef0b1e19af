#pragma once
// Page 3, "ZIP Settings" (frame Frame4): compression level, password with its confirmation and
// mask, comment, the texture switch, the four expert switches and "Make ZIP". The window keeps
// the dependent controls in step (Form1::chkPass_Click and the like) and runs the build.

#include <QString>

struct BuildInputs;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QWidget;

class SettingsPage {
public:
    // The tip of txtPass2 while "Mask" is off.
    static inline const QString PasswordAgainUnmaskedTip =
        QStringLiteral("Locked while \"Mask\" is off, yet still compared with \"Pass:\" when "
                       "the ZIP is made: tick \"Mask\" to type the password here again.");

    QGroupBox *Frame4 = nullptr;
    QLabel *Label2 = nullptr;
    QComboBox *cComp = nullptr;
    QCheckBox *chkPass = nullptr;
    QLineEdit *txtPass = nullptr;
    QCheckBox *chkMask = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *txtPass2 = nullptr;
    QCheckBox *chkComment = nullptr;
    QPlainTextEdit *txtComment = nullptr;
    QCheckBox *chkExpert = nullptr;
    QCheckBox *chkJunk = nullptr;
    QCheckBox *chkRecurse = nullptr;
    QCheckBox *chkUpdate = nullptr;
    QCheckBox *chkFreshen = nullptr;
    QPushButton *cmdGO = nullptr;
    QCheckBox *chkTexture = nullptr;
    QFrame *Line1 = nullptr;
    QFrame *Line2 = nullptr;
    QFrame *Line3 = nullptr;
    QFrame *Line4 = nullptr;
    QFrame *Line5 = nullptr;
    QFrame *Line6 = nullptr;

protected:
    // Makes the page on `window`, hidden, with its looks; the window wires its events.
    void buildSettingsPage(QWidget *window);
    void buildPasswordAndComment();
    void buildSwitches();
    void styleSettingsPage(QWidget *window);
    // The page's share of what a build reads: check boxes as 0 or 1, the password pair, the
    // comment and the selected compression level (empty when none is selected).
    void readSettings(BuildInputs &inputs) const;
    // The comment box's text with CR LF line ends, as the readme and the archive comment are
    // written.
    QString commentWithCrLf() const;
};
