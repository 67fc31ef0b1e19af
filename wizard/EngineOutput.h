#pragma once
// The engine's messages as the window shows them: drawn on the window's background, the
// latest lines that fit (cut to its width, the latest whole in a tip), and carried as details
// by the boxes that report a failure.

#include <QRect>
#include <QString>

class QWidget;

class EngineOutput {
public:
    // The text as the engine sent it.
    const QString &text() const { return m_text; }
    void clear() { m_text.clear(); }
    void append(const QString &text) { m_text += text; }

    // The text as shown: line ends and control characters made plain.
    QString lines() const;
    // The last line that is not blank, whole: the tip of the lines drawn cut.
    QString latestLine() const;

    // Draws the latest lines that fit `area` of `window`, in its font and text colour, on the
    // background only: what a visible control of the window covers stays untouched.
    void paint(QWidget *window, const QRect &area) const;

private:
    QString m_text;
};
