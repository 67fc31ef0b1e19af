#pragma once
// The wizard's colours and fonts. The window's own font is a square, technical sans (Play,
// bundled); system colour names map to colours that stay readable on the dark background.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QList>
#include <QPair>
#include <QString>

class QWidget;

namespace WizardLook {

inline const QColor WindowBackground(49, 61, 79);
inline const QColor ButtonBackground(60, 142, 55);
inline const QColor InputBackground(49, 61, 95);
inline const QColor ButtonText(255, 255, 255);
inline const QColor FrameBorder(112, 128, 156);
inline const QColor LineColour(112, 128, 156);
inline const QColor OutputText(214, 222, 235);

// Family name of the bundled title font; registered on first use.
QString titleFamily();

// The window's font at `pointSize` (regular or bold), every attribute set so that it never
// inherits from a parent.
QFont titleFont(qreal pointSize, bool bold);
// "MS Sans Serif": the system's sans.
QFont systemSansFont(qreal pointSize);

// System colour names, resolved against the application palette and kept readable on
// WindowBackground (a colour too close to it falls back to white).
QColor systemHighlightText();   // COLOR_HIGHLIGHTTEXT: palette HighlightedText
QColor systemCaptionText();     // COLOR_CAPTIONTEXT: fixed white, as active captions are drawn
QColor systemButtonHighlight(); // COLOR_BTNHIGHLIGHT: palette Light

// The window's style sheet: shared looks plus one text colour per named control (dimmed
// when the control is disabled).
QString styleSheet(const QColor &frameCaption, const QList<QPair<QWidget *, QColor>> &textColours);

// The program's icon, 16 and 32 pixels.
QIcon programIcon();

} // namespace WizardLook
