#include "wizard/WizardLayout.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QResource>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace WizardLayout {

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

QColor readable(const QColor &wanted) {
    return contrastRatio(wanted, WindowBackground) >= 4.5 &&
                   contrastRatio(wanted, InputBackground) >= 4.5
               ? wanted
               : QColor(Qt::white);
}

QColor blended(const QColor &colour, const QColor &towards, double share) {
    auto mix = [share](int a, int b) { return qRound(a * (1 - share) + b * share); };
    return QColor(mix(colour.red(), towards.red()), mix(colour.green(), towards.green()),
                  mix(colour.blue(), towards.blue()));
}

QString css(const QColor &colour) {
    return QStringLiteral("rgb(%1, %2, %3)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b) {
    auto luminance = [](const QColor &c) {
        auto channel = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double first = luminance(a);
    const double second = luminance(b);
    return (qMax(first, second) + 0.05) / (qMin(first, second) + 0.05);
}

QColor dimmed(const QColor &colour) {
    // As far towards the page as 4.6:1 against the page and the input fields allows (a
    // rounding margin over the 4.5:1 that text needs), at most 40 %.
    for (int step = 40; step > 0; --step) {
        const QColor candidate = blended(colour, WindowBackground, step / 100.0);
        if (contrastRatio(candidate, WindowBackground) >= 4.6 &&
            contrastRatio(candidate, InputBackground) >= 4.6)
            return candidate;
    }
    return colour;
}

QGroupBox *makeFrame(QWidget *parent, const char *name, const QString &caption, int left, int top,
                     int width, int height) {
    return place(new QGroupBox(caption, parent), name, left, top, width, height);
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, int left,
                        int top, int width, int height, const QString &tip) {
    auto *button = place(new QPushButton(caption, parent), name, left, top, width, height);
    button->setToolTip(tip);
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

QFrame *makeLine(QWidget *parent, const char *name, int x1, int y1, int x2, int y2) {
    auto *line = new QFrame(parent);
    line->setObjectName(QLatin1String(name));
    line->setFrameShape(QFrame::NoFrame);
    const int left = px(qMin(x1, x2));
    const int top = px(qMin(y1, y2));
    line->setGeometry(left, top, px(qAbs(x2 - x1)) + 1, px(qAbs(y2 - y1)) + 1);
    return line;
}

void chainTabOrder(const QList<QWidget *> &designed) {
    QList<QWidget *> order;
    for (QWidget *widget : designed) {
        if (widget)
            order.append(widget);
    }
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void keepOnScreen(QWidget *window) {
    QScreen *shown = window->screen();
    if (!window->isVisible() || !shown)
        return;
    const QRect available = shown->availableGeometry();
    const QRect frame = window->frameGeometry();
    const int overflow = frame.bottom() - available.bottom();
    if (overflow > 0)
        window->move(frame.left(), qMax(available.top(), frame.top() - overflow));
}

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

void fitTextHeight(QWidget *widget) {
    const bool centred = qobject_cast<QCheckBox *>(widget) != nullptr;
    const QFontMetrics metrics(widget->font());
    // Glyphs of the window's font reach past the font's descent; a centred caption needs that
    // room on both sides, and a check box also its focus frame.
    const int needed = metrics.height() + (centred ? 6 : 2);
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

QString shortened(const QFontMetrics &metrics, const QString &line, int width,
                  Qt::TextElideMode mode) {
    if (metrics.horizontalAdvance(line) <= width)
        return line;
    const QString dots = QStringLiteral("...");
    const bool middle = mode == Qt::ElideMiddle;
    QString start = middle ? line.left((line.size() + 1) / 2) : line;
    QString end = middle ? line.mid(start.size()) : QString();
    // Letters go from the longer side, the start's first.
    while (!(start + end).isEmpty() && metrics.horizontalAdvance(start + dots + end) > width) {
        if (start.size() >= end.size())
            start.chop(1);
        else
            end.remove(0, 1);
    }
    return start + dots + end;
}

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
    font.setFamilies({QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("Liberation Sans Narrow"),
                      QFontDatabase::systemFont(QFontDatabase::GeneralFont).family(),
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

QString styleSheet(const QColor &frameCaption, const TextColours &textColours) {
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
            "QPushButton:focus { border: 1px solid %8; }"
            "QCheckBox { background-color: %1; spacing: 4px; border: 1px solid transparent; }"
            "QCheckBox:focus { border: 1px dotted %8; }"
            "QCheckBox::indicator { width: 8px; height: 8px; border: 1px solid %9;"
            " background-color: %6; }"
            "QCheckBox::indicator:disabled { border-color: %10; }"
            "QCheckBox::indicator:checked { image: url(:/wizard/marks/tick.png); }"
            "QCheckBox::indicator:checked:disabled { image: url(:/wizard/marks/tick-disabled.png);"
            " }"
            "QLabel { background-color: transparent; }"
            "QLineEdit, QPlainTextEdit, QListWidget, QComboBox { background-color: %6;"
            " border: 1px solid %2; padding: 0px 1px; selection-background-color: rgb(90, 110, "
            "160);"
            " lineedit-password-character: 42; }"
            "QLineEdit:focus, QPlainTextEdit:focus, QListWidget:focus, QComboBox:focus"
            " { border-color: %8; }"
            "QComboBox QAbstractItemView { background-color: %6; color: white; }"
            "QListWidget::item:selected { background-color: rgb(90, 110, 160); color: white; }"
            "QListWidget::item:focus { border: 1px dotted %8; }"
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
                 css(ButtonText), input, css(LineColour), css(FocusRing), css(IndicatorBorder))
            .arg(css(dimmed(IndicatorBorder)));
    for (const auto &[widget, colour] : textColours) {
        const QString id =
            widget->metaObject()->className() + QStringLiteral("#") + widget->objectName();
        sheet += QStringLiteral("%1 { color: %2; } %1:disabled { color: %3; }")
                     .arg(id, css(colour), css(dimmed(colour)));
    }
    return sheet;
}

void dressWindow(QWidget *window) {
    window->setFont(titleFont(8.25, false));
    window->setAutoFillBackground(true);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, WindowBackground);
    palette.setColor(QPalette::WindowText, OutputText);
    window->setPalette(palette);
}

void setFonts(QWidget *part, const QFont &contents) {
    QList<QWidget *> widgets = part->findChildren<QWidget *>();
    widgets.prepend(part);
    for (QWidget *widget : std::as_const(widgets)) {
        if (qobject_cast<QGroupBox *>(widget))
            widget->setFont(titleFont(8.25, true));
        else if (widget != part)
            widget->setFont(contents);
    }
}

void finishLooks(QWidget *part, const TextColours &textColours) {
    part->setStyleSheet(styleSheet(systemHighlightText(), textColours));
    QList<QWidget *> widgets = part->findChildren<QWidget *>();
    widgets.prepend(part);
    for (QWidget *widget : std::as_const(widgets)) {
        if (qobject_cast<QLabel *>(widget) || qobject_cast<QCheckBox *>(widget))
            fitTextHeight(widget);
    }
}

QIcon programIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/wizard/icons/velquar-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/wizard/icons/velquar-32.png"), QSize(32, 32));
    return icon;
}

} // namespace WizardLayout
