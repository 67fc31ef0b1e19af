#include "wizard/EngineOutput.h"

#include "wizard/WizardLayout.h"

#include <QPainter>
#include <QRegion>
#include <QWidget>

QString EngineOutput::lines() const {
    QString text = m_text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), '\n');
    for (QChar &c : text) {
        if (c != QLatin1Char('\n') && (c.category() == QChar::Other_Control || c.isNonCharacter()))
            c = QLatin1Char(' ');
    }
    return text;
}

QString EngineOutput::latestLine() const {
    const QStringList shown = lines().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto line = shown.crbegin(); line != shown.crend(); ++line) {
        if (!line->trimmed().isEmpty())
            return line->trimmed();
    }
    return {};
}

void EngineOutput::paint(QWidget *window, const QRect &area) const {
    if (m_text.isEmpty())
        return;
    QRegion free(area);
    for (QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible())
            free -= child->geometry();
    }
    QPainter painter(window);
    painter.setClipRegion(free);
    painter.setFont(window->font());
    painter.setPen(window->palette().color(QPalette::WindowText));
    const QFontMetrics metrics(window->font());
    QStringList shown = lines().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const qsizetype room = qMax(1, area.height() / metrics.lineSpacing());
    shown = shown.mid(qMax<qsizetype>(0, shown.size() - room));
    int y = area.top() + (area.height() - int(shown.size()) * metrics.lineSpacing()) / 2;
    for (const QString &line : std::as_const(shown)) {
        painter.drawText(area.left(), y + metrics.ascent(),
                         WizardLayout::shortened(metrics, line.trimmed(), area.width()));
        y += metrics.lineSpacing();
    }
}
