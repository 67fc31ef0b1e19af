#include "intake/GameLimits.h"

#include <QStringList>

#include <algorithm>
#include <iterator>

void judgeCount(MapBlock block, qint64 count, QList<RefusedCount> &refused) {
    const GameLimit *limit = std::find_if(std::begin(GameLimits), std::end(GameLimits),
                                          [block](const GameLimit &l) { return l.block == block; });
    Q_ASSERT(limit != std::end(GameLimits));
    if (count < 0 || count > limit->limit)
        refused.append({QLatin1String(limit->name), count, limit->limit});
}

QString refusedSentence(const QList<RefusedCount> &refused) {
    if (refused.isEmpty())
        return {};
    QStringList counts;
    for (const RefusedCount &c : refused)
        counts
            << (c.count < 0
                    ? QStringLiteral("%1 %2 (at least 0)").arg(c.count).arg(c.block)
                    : QStringLiteral("%1 %2 (at most %3)").arg(c.count).arg(c.block).arg(c.limit));
    return QStringLiteral("the game will not load this map: ") + counts.join(QStringLiteral(", "));
}
