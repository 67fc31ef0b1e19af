#include "wizard/SceneryThumbnails.h"

#include "images/GameImages.h"
#include "wizard/WizardLayout.h"

#include <QApplication>
#include <QListWidget>
#include <QPixmap>
#include <QStyle>

namespace {

constexpr int PathRole = Qt::UserRole + 1; // the image file an item shows

QIcon iconOf(const QImage &image, qreal ratio) {
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    return QIcon(pixmap);
}

} // namespace

SceneryThumbnails::SceneryThumbnails(GameImages &images, QObject *parent)
    : QObject(parent), m_images(images) {
    connect(&m_images, &GameImages::ready, this, &SceneryThumbnails::pictureReady);
}

void SceneryThumbnails::attach(QListWidget *list) {
    m_lists.append(list);
    list->setIconSize(QSize(Edge, Edge));
    connect(list->model(), &QAbstractItemModel::rowsInserted, this,
            [this, list](const QModelIndex &, int first, int last) {
                for (int row = first; row <= last; ++row)
                    decorate(list, list->item(row));
            });
}

void SceneryThumbnails::setImages(const QList<IntakeDetails::Scenery> &sceneries) {
    m_images.cancelPending();
    m_files.clear();
    m_unused.clear();
    for (const IntakeDetails::Scenery &scenery : sceneries) {
        m_files.insert(withoutMarker(scenery.item), scenery.file);
        if (!scenery.used)
            m_unused.insert(withoutMarker(scenery.item));
    }
}

QString SceneryThumbnails::tipFor(const QString &itemText, const QString &reason, bool unused) {
    QString tip = itemText;
    if (itemText.startsWith(MissingMarker)) {
        const QString why = reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason);
        tip += QLatin1Char('\n') +
               QStringLiteral("The game cannot find this image%1, so it will be left out of the "
                              "archive.")
                   .arg(why);
    }
    if (unused)
        tip += QLatin1Char('\n') + UnusedTip;
    return tip;
}

int SceneryThumbnails::deviceEdge(const QListWidget *list) const {
    return qCeil(Edge * list->devicePixelRatioF());
}

void SceneryThumbnails::decorate(QListWidget *list, QListWidgetItem *item) {
    if (!item)
        return;
    const QString name = withoutMarker(item->text());
    const ImageFile file = m_files.value(name);
    const bool unused = m_unused.contains(name);
    item->setToolTip(tipFor(item->text(), file.reason, unused));
    if (unused)
        item->setForeground(WizardLayout::dimmed(WizardLayout::systemCaptionText()));
    if (item->text().startsWith(MissingMarker) || !file.found()) {
        // Marked, or a name the last map did not list: nothing of it can be shown.
        item->setIcon(item->text().startsWith(MissingMarker)
                          ? QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)
                          : QIcon());
        return;
    }
    item->setData(PathRole, file.target);
    const int edge = deviceEdge(list);
    const QImage ready = m_images.thumbnail(file.target, edge);
    if (!ready.isNull()) {
        item->setIcon(iconOf(ready, list->devicePixelRatioF()));
        return;
    }
    if (m_blank.isNull()) {
        QImage blank(edge, edge, QImage::Format_ARGB32_Premultiplied);
        blank.fill(Qt::transparent);
        m_blank = iconOf(blank, list->devicePixelRatioF());
    }
    item->setIcon(m_blank); // keeps the names in line until the picture comes
    m_images.request(file.target, edge);
}

void SceneryThumbnails::pictureReady(const QString &path) {
    const QString failure = m_images.failure(path);
    for (QListWidget *list : std::as_const(m_lists)) {
        const QImage picture = m_images.thumbnail(path, deviceEdge(list));
        if (picture.isNull() && failure.isEmpty())
            continue; // made for another pixel ratio; a later request makes this one
        const QIcon icon = picture.isNull()
                               ? QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)
                               : iconOf(picture, list->devicePixelRatioF());
        for (int row = 0; row < list->count(); ++row) {
            QListWidgetItem *item = list->item(row);
            if (item->data(PathRole).toString() != path)
                continue;
            item->setIcon(icon);
            if (picture.isNull())
                item->setToolTip(
                    tipFor(item->text(), {}, m_unused.contains(withoutMarker(item->text()))) +
                    QLatin1Char('\n') +
                    QStringLiteral("This image cannot be shown: %1.").arg(failure));
        }
    }
}
