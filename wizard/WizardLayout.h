#pragma once
// The window's layout and looks, shared by its pages: geometry in twips and the helpers that
// make and place controls, text fitting, and the colours and fonts. The window's own font is a
// square, technical sans (Play, bundled); system colour names map to colours that stay
// readable on the dark background.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

class QCheckBox;
class QFontMetrics;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;

namespace WizardLayout {

// Geometry is laid out in twips, 15 to a logical pixel.
constexpr int TwipsPerPixel = 15;

inline int px(int twips) {
    return qRound(twips / double(TwipsPerPixel));
}

// Names `widget` and gives it its place in its parent, in twips.
template <typename W>
W *place(W *widget, const char *name, int left, int top, int width, int height) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(px(left), px(top), px(width), px(height));
    return widget;
}

QGroupBox *makeFrame(QWidget *parent, const char *name, const QString &caption, int left, int top,
                     int width, int height);
// Enter and Return click the focused button, as the platform's buttons do.
QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, int left,
                        int top, int width, int height, const QString &tip = {});
QCheckBox *makeCheck(QWidget *parent, const char *name, const QString &caption, int left, int top,
                     int width, int height, const QString &tip, bool checked, bool enabled);
// Plain text, top left.
QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption, int left, int top,
                  int width, int height);
// A thin straight separator between two points given in the parent's twips.
QFrame *makeLine(QWidget *parent, const char *name, int x1, int y1, int x2, int y2);

// Chains the keyboard order of `designed`, in that order; null entries (controls not made
// yet) are left out.
void chainTabOrder(const QList<QWidget *> &designed);

// Moves a window that was just made taller up as far as needed to keep its bottom on the
// screen, never above the screen's top.
void keepOnScreen(QWidget *window);

// Lets a label show its whole text: first widens it about its centre within its parent, then,
// if the text is still too long, makes the font smaller (down to 6 pt).
void fitLabelText(QLabel *label);
// Gives a caption the height its font needs, so that no letter loses its descender. Labels
// keep their top (their text is top-aligned); check boxes grow about their centre. Both stay
// inside their parent.
void fitTextHeight(QWidget *widget);
// `line` cut to `width` with "..." at its end, or in its middle (keeping as much of its end as
// of its start). (Qt's own eliding asks the window's font for a glyph it does not have, and
// warns on every paint.)
QString shortened(const QFontMetrics &metrics, const QString &line, int width,
                  Qt::TextElideMode mode = Qt::ElideRight);

inline const QColor WindowBackground(49, 61, 79);
inline const QColor ButtonBackground(60, 142, 55);
inline const QColor InputBackground(49, 61, 95);
inline const QColor ButtonText(255, 255, 255);
inline const QColor FrameBorder(112, 128, 156);
inline const QColor LineColour(112, 128, 156);
inline const QColor OutputText(214, 222, 235);
// The mark of the control that has the keyboard focus, and the edge of a check box's square.
inline const QColor FocusRing(250, 205, 90);
inline const QColor IndicatorBorder(200, 210, 225);

// The contrast of two colours as accessibility guidelines define it: 1 to 21, and at least
// 4.5 for text that must be read.
double contrastRatio(const QColor &a, const QColor &b);
// `colour` as disabled text: dimmed towards the page, yet at 4.5:1 or more against the page
// and the input fields.
QColor dimmed(const QColor &colour);

// Family name of the bundled title font; registered on first use.
QString titleFamily();

// The window's font at `pointSize` (regular or bold), every attribute set so that it never
// inherits from a parent.
QFont titleFont(qreal pointSize, bool bold);
// "MS Sans Serif": a condensed sans, about as wide as the original, where the system has one
// (so that the lists show long names whole); else the system's sans.
QFont systemSansFont(qreal pointSize);

// System colour names, resolved against the application palette and kept readable on
// WindowBackground (a colour too close to it falls back to white).
QColor systemHighlightText();   // COLOR_HIGHLIGHTTEXT: palette HighlightedText
QColor systemCaptionText();     // COLOR_CAPTIONTEXT: fixed white, as active captions are drawn
QColor systemButtonHighlight(); // COLOR_BTNHIGHLIGHT: palette Light

// Text colours of named controls.
using TextColours = QList<QPair<QWidget *, QColor>>;

// The window's style sheet: shared looks plus one text colour per named control (dimmed
// when the control is disabled).
QString styleSheet(const QColor &frameCaption, const TextColours &textColours);

// The window's own looks: the title font, the background, and the colour of the text drawn on
// it.
void dressWindow(QWidget *window);

// A page's looks, in two steps, so that the page can give single controls a font of their own
// in between. First: frames (`part` itself among them) carry their captions in the bold title
// font, every other control inside `part` takes `contents`, the window's font.
void setFonts(QWidget *part, const QFont &contents);
// Then: the style sheet with `textColours`, set on the part rather than on the window, so that
// the file dialogs and message boxes the window owns keep the platform's own look; and the
// height every caption in `part` needs.
void finishLooks(QWidget *part, const TextColours &textColours);

// The program's icon, 16 and 32 pixels.
QIcon programIcon();

} // namespace WizardLayout
