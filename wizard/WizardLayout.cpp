#include "wizard/WizardLayout.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QResource>
#include <QWidget>

namespace WizardLook {

namespace {

QString registerBundledFonts() {
    QString family;
    for (const char *file : {":/wizard/fonts/Play-Regular.ttf", ":/wizard/fonts/Play-Bold.ttf"}) {
        // The fonts are stored uncompressed: used in place, only the parts read are loaded.
        const QResource resource{QString::fromLatin1(file)};
        const QByteArray data =
            resource.compressionAlgorithm() == QResource::NoCompression
                ? QByteArray::fromRawData(reinterpret_cast<const char *>(resource.data()),
                                          resource.size())
                : resource.uncompressedData();
        const int id = QFontDatabase::addApplicationFontFromData(data);
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (family.isEmpty() && !families.isEmpty())
            family = families.first();
    }
    return family;
}

QFont fullySpecified(const QStringList &families, qreal pointSize, bool bold) {
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(pointSize);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    font.setCapitalization(QFont::MixedCase);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

// Relative luminance difference, enough to tell text that vanishes into the background.
bool readableOn(const QColor &text, const QColor &background) {
    auto luminance = [](const QColor &c) {
        return 0.2126 * c.redF() + 0.7152 * c.greenF() + 0.0722 * c.blueF();
    };
    return qAbs(luminance(text) - luminance(background)) >= 0.35;
}

QColor readable(const QColor &wanted) {
    return readableOn(wanted, WindowBackground) && readableOn(wanted, InputBackground)
               ? wanted
               : QColor(Qt::white);
}

QColor dimmed(const QColor &colour) {
    return QColor((colour.red() + WindowBackground.red() * 2) / 3,
                  (colour.green() + WindowBackground.green() * 2) / 3,
                  (colour.blue() + WindowBackground.blue() * 2) / 3);
}

QString css(const QColor &colour) {
    return QStringLiteral("rgb(%1, %2, %3)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue());
}

} // namespace

QString titleFamily() {
    static const QString family = registerBundledFonts();
    return family;
}

QFont titleFont(qreal pointSize, bool bold) {
    QStringList families;
    if (!titleFamily().isEmpty())
        families.append(titleFamily());
    families.append(QStringLiteral("DejaVu Sans Condensed"));
    families.append(QStringLiteral("DejaVu Sans"));
    return fullySpecified(families, pointSize, bold);
}

QFont systemSansFont(qreal pointSize) {
    QFont font = fullySpecified({}, pointSize, false);
    font.setFamilies({QFontDatabase::systemFont(QFontDatabase::GeneralFont).family(),
                      QStringLiteral("DejaVu Sans")});
    return font;
}

QColor systemHighlightText() {
    return readable(QApplication::palette().color(QPalette::Active, QPalette::HighlightedText));
}

QColor systemCaptionText() {
    return QColor(Qt::white);
}

QColor systemButtonHighlight() {
    return readable(QApplication::palette().color(QPalette::Active, QPalette::Light));
}

QString styleSheet(const QColor &frameCaption, const QList<QPair<QWidget *, QColor>> &textColours) {
    const QString window = css(WindowBackground);
    const QString input = css(InputBackground);
    QString sheet =
        QStringLiteral(
            "QGroupBox { background-color: %1; border: 1px solid %2; border-radius: 2px;"
            " margin-top: 6px; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
            " left: 6px; padding: 0px 2px; color: %3; }"
            "QGroupBox#Frame5 { margin-top: 0px; }"
            "QPushButton { background-color: %4; color: %5; border: 1px solid rgb(28, 72, 25);"
            " border-radius: 2px; padding: 0px; }"
            "QPushButton:hover { background-color: rgb(72, 160, 66); }"
            "QPushButton:pressed { background-color: rgb(45, 110, 41); }"
            "QPushButton:disabled { color: rgb(150, 190, 148); }"
            "QPushButton:focus { border: 1px dotted rgb(235, 240, 235); }"
            "QCheckBox { background-color: %1; spacing: 4px; }"
            "QCheckBox::indicator { width: 10px; height: 10px; }"
            "QLabel { background-color: transparent; }"
            "QLineEdit, QPlainTextEdit, QListWidget, QComboBox { background-color: %6;"
            " border: 1px solid %2; padding: 0px 1px; selection-background-color: rgb(90, 110, "
            "160);"
            " lineedit-password-character: 42; }"
            "QComboBox QAbstractItemView { background-color: %6; color: white; }"
            "QListWidget::item:selected { background-color: rgb(90, 110, 160); color: white; }"
            "QScrollBar:horizontal { background: rgb(40, 50, 66); height: 9px; margin: 0px 9px; }"
            "QScrollBar:vertical { background: rgb(40, 50, 66); width: 9px; margin: 9px 0px; }"
            "QScrollBar::handle { background: %2; border-radius: 2px; }"
            "QScrollBar::handle:horizontal { min-width: 14px; }"
            "QScrollBar::handle:vertical { min-height: 14px; }"
            "QScrollBar::add-line, QScrollBar::sub-line { background: rgb(60, 72, 92);"
            " subcontrol-origin: margin; }"
            "QScrollBar::add-line:horizontal { width: 9px; subcontrol-position: right; }"
            "QScrollBar::sub-line:horizontal { width: 9px; subcontrol-position: left; }"
            "QScrollBar::add-line:vertical { height: 9px; subcontrol-position: bottom; }"
            "QScrollBar::sub-line:vertical { height: 9px; subcontrol-position: top; }"
            "QScrollBar::add-page, QScrollBar::sub-page { background: none; }"
            "QFrame#Line1, QFrame#Line2, QFrame#Line3, QFrame#Line4, QFrame#Line5, QFrame#Line6"
            " { background-color: %7; }")
            .arg(window, css(FrameBorder), css(frameCaption), css(ButtonBackground),
                 css(ButtonText), input, css(LineColour));
    for (const auto &[widget, colour] : textColours) {
        const QString id =
            widget->metaObject()->className() + QStringLiteral("#") + widget->objectName();
        sheet += QStringLiteral("%1 { color: %2; } %1:disabled { color: %3; }")
                     .arg(id, css(colour), css(dimmed(colour)));
    }
    return sheet;
}

QIcon programIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/wizard/icons/velquar-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/wizard/icons/velquar-32.png"), QSize(32, 32));
    return icon;
}

} // namespace WizardLook
