#include "wizard/PreviewWindow.h"

#include "intake/MapReader.h"
#include "wizard/WizardLayout.h"

#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A redraw waits this long after the last change of size, so that dragging the window's edge
// does not draw every step.
constexpr int ResizeSettleMs = 120;
const QSize WantedSize(960, 560);
const QSize SmallestSize(320, 200);
// Room a window manager's frame takes around a window, at most.
const QSize FrameAllowance(16, 48);
const QColor Veil(0, 0, 0, 130);

// The picture fitted into the canvas, centred, with its proportions.
class PreviewCanvas : public QWidget {
public:
    PreviewCanvas(const PreviewWindow &window, QWidget *parent)
        : QWidget(parent), m_window(window) {
        setObjectName(QStringLiteral("PreviewCanvas"));
        setMinimumSize(160, 100);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), WizardLayout::WindowBackground);
        const QImage &picture = m_window.preview().picture;
        if (picture.isNull())
            return;
        // Drawn for this size in device pixels; until a redraw for a new size comes, scaled.
        QSizeF shown = QSizeF(picture.size()) / devicePixelRatioF();
        shown.scale(size(), Qt::KeepAspectRatio);
        const QRectF target(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                            shown);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, picture);
        if (m_window.outlines().isEmpty())
            return;
        QTransform toCanvas;
        toCanvas.translate(target.left(), target.top());
        toCanvas.scale(target.width() / picture.width(), target.height() / picture.height());
        QPainterPath selected;
        for (const QPolygonF &outline : m_window.outlines())
            selected.addPolygon(toCanvas.map(outline));
        selected.setFillRule(Qt::WindingFill);
        QPainterPath veil;
        veil.addRect(target);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(veil.subtracted(selected.simplified()), Veil);
        for (const auto &[colour, width] :
             {std::pair{QColor(Qt::black), 3.0}, std::pair{WizardLayout::FocusRing, 1.5}}) {
            painter.setPen(QPen(colour, width));
            for (const QPolygonF &outline : m_window.outlines())
                painter.drawPolygon(toCanvas.map(outline));
        }
    }

private:
    const PreviewWindow &m_window;
};

} // namespace

PreviewWindow::PreviewWindow(GameImages &images, QWidget *parent)
    : QWidget(parent, Qt::Window), m_images(images) {
    setObjectName(QStringLiteral("PreviewWindow"));
    setWindowTitle(QStringLiteral("Preview"));
    WizardLayout::dressWindow(this);
    m_worker.setMaxThreadCount(1);
    m_canvas = new PreviewCanvas(*this, this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("PreviewStatus"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_canvas, 1);
    layout->addWidget(m_status);
    m_resized = new QTimer(this);
    m_resized->setSingleShot(true);
    m_resized->setInterval(ResizeSettleMs);
    connect(m_resized, &QTimer::timeout, this, &PreviewWindow::schedule);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);
    QSize wanted = WantedSize;
    if (const QScreen *shown = screen())
        wanted = wanted.boundedTo(shown->availableGeometry().size() * 0.8);
    resize(wanted);
}

void PreviewWindow::placeBeside(const QWidget *other) {
    m_beside = other;
    m_shapePending = true;
    place(WantedSize, QSize());
}

void PreviewWindow::place(QSizeF shape, QSize extra) {
    const QScreen *shown = m_beside ? m_beside->screen() : nullptr;
    if (!shown)
        return;
    const QRect free = shown->availableGeometry();
    const QRect taken = m_beside->frameGeometry();
    const QRect rooms[] = {QRect(QPoint(taken.right() + 1, free.top()), free.bottomRight()),
                           QRect(free.topLeft(), QPoint(taken.left() - 1, free.bottom())),
                           QRect(free.topLeft(), QPoint(free.right(), taken.top() - 1)),
                           QRect(QPoint(free.left(), taken.bottom() + 1), free.bottomRight())};
    QRect best;
    QSize canvas;
    qint64 bestArea = -1;
    for (const QRect &room : rooms) {
        const QSize fits = (WantedSize - extra)
                               .boundedTo(room.size() - FrameAllowance - extra)
                               .expandedTo(QSize(1, 1));
        const QSize scaled = shape.scaled(QSizeF(fits), Qt::KeepAspectRatio).toSize();
        const qint64 area = qint64(scaled.width()) * scaled.height();
        if (area > bestArea) {
            best = room;
            canvas = scaled;
            bestArea = area;
        }
    }
    // In a room too small the window covers part of the other one, but stays on the screen.
    const QSize size = (canvas + extra).expandedTo(SmallestSize);
    QRect placed(QPoint(), size + FrameAllowance);
    placed.moveCenter(best.center());
    placed.moveLeft(qBound(free.left(), placed.left(), free.right() + 1 - placed.width()));
    placed.moveTop(qBound(free.top(), placed.top(), free.bottom() + 1 - placed.height()));
    if (isVisible()) {
        // A shown window's frame is known: its client goes inside the room's frame.
        setGeometry(
            QRect(placed.topLeft() + geometry().topLeft() - frameGeometry().topLeft(), size));
        return;
    }
    resize(size);
    move(placed.topLeft());
}

PreviewWindow::~PreviewWindow() {
    if (m_stop)
        m_stop->store(true);
    m_worker.waitForDone();
}

void PreviewWindow::showMap(const QString &mapPath) {
    m_mapPath = mapPath;
    m_mapChanged = true;
    setWindowTitle(mapPath.isEmpty()
                       ? QStringLiteral("Preview")
                       : QStringLiteral("Preview - %1").arg(QFileInfo(mapPath).fileName()));
    schedule();
}

void PreviewWindow::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    m_resized->start();
}

void PreviewWindow::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    schedule();
}

void PreviewWindow::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    m_again = false;
    m_pending = false;
    if (m_busy)
        m_stop->store(true);
}

QSize PreviewWindow::canvasPixels() const {
    return (QSizeF(m_canvas->size()) * m_canvas->devicePixelRatioF()).toSize();
}

void PreviewWindow::schedule() {
    if (!isVisible())
        return; // drawn when shown
    const bool drawn = m_busy || !m_preview.picture.isNull();
    if (!m_mapChanged && m_error.isEmpty() && drawn && canvasPixels() == m_drawnSize)
        return; // what is shown, or drawn now, is what is wanted
    if (m_busy) {
        m_again = true;
        m_stop->store(true);
        return;
    }
    startDrawing();
}

void PreviewWindow::startDrawing() {
    m_busy = true;
    m_again = false;
    m_pending = false;
    m_status->setText(QStringLiteral("Drawing the map..."));
    m_drawnSize = canvasPixels();
    // A map that could not be read left nothing to fit anew: it is read again.
    Drawn drawn;
    drawn.read = m_mapChanged || !m_error.isEmpty();
    drawn.shapeOnly = drawn.read && m_shapePending;
    m_mapChanged = false;
    m_stop = std::make_shared<std::atomic<bool>>(false);
    // The worker gets copies: the map, its images and the path are shared, never changed.
    m_worker.start([this, drawn, size = m_drawnSize, path = m_mapPath, kept = m_preview,
                    stop = m_stop]() mutable {
        MapPreview made = drawn.read ? MapPreview() : kept;
        QString error;
        if (path.isEmpty())
            error = QStringLiteral("No map read yet");
        else if (drawn.read && !readMapPreview(path, m_images, made, error))
            drawn.shapeOnly = false;
        else if (drawn.shapeOnly)
            made.frame = PictureFrame::fit(made.map, QSize(MaxPictureEdge, MaxPictureEdge));
        else
            drawPreview(made, size, m_images, {0, stop.get()});
        drawn.stopped = stop->load();
        QMetaObject::invokeMethod(
            this, [this, made, error, drawn] { finishDrawing(made, error, drawn); },
            Qt::QueuedConnection);
    });
}

void PreviewWindow::finishDrawing(const MapPreview &made, const QString &error, Drawn drawn) {
    m_busy = false;
    // Dropped when stopped, closed, or when the map or size has changed since it began.
    if (drawn.stopped || m_again || !isVisible()) {
        m_mapChanged = m_mapChanged || drawn.read; // a map it was to read is read again
        m_drawnSize = QSize(); // what is shown is of another size: drawn anew when shown
    } else if (drawn.shapeOnly) {
        m_preview = made;
        m_error.clear();
        m_shapePending = false;
        m_pending = true;
        place(made.frame.mapArea().size(), size() - m_canvas->size());
        m_resized->start(); // drawn once the new size has settled
    } else {
        m_preview = made;
        m_error = error;
        updateSelection();
        m_canvas->update();
        Q_EMIT pictureReady();
    }
    if (m_again && isVisible())
        startDrawing();
}

void PreviewWindow::setSelected(const QStringList &items) {
    m_selected.clear();
    for (const QString &item : items)
        m_selected.insert(withoutMarker(item).toLower());
    updateSelection();
}

void PreviewWindow::updateSelection() {
    m_outlines.clear();
    m_selection.clear();
    const MapFileContents &map = m_preview.map;
    const QList<MapImage> &images = m_preview.images.sceneries;
    QHash<QString, int> propsOf; // by selected scenery; a scenery may be listed twice
    QSet<QString> missingImages;
    QString shownName; // as the map writes it
    for (qsizetype record = 0; record < map.sceneryNames.size(); ++record) {
        const QString name = map.sceneryNames.at(record).toLower();
        if (!m_selected.contains(name))
            continue;
        const QSize imageSize = record < images.size() ? images.at(record).size : QSize();
        int props = 0;
        for (const MapProp &prop : map.props) {
            if (!prop.drawn() || prop.style != record + 1)
                continue;
            const QPolygonF outline = m_preview.frame.toPicture(propOutline(prop, imageSize));
            if (outline.size() == 4)
                m_outlines.append(outline);
            ++props;
        }
        propsOf[name] += props;
        if (props > 0 && imageSize.isEmpty())
            missingImages.insert(name);
        shownName = map.sceneryNames.at(record);
    }
    const qsizetype missing = missingImages.size(), unused = propsOf.values().count(0);
    if (propsOf.size() == 1) {
        const QString &name = shownName;
        if (unused)
            m_selection = QStringLiteral("%1: no prop shows this scenery, so the game never loads "
                                         "it.")
                              .arg(name);
        else if (missing)
            m_selection = QStringLiteral("%1: the game cannot find this image; its props are the "
                                         "red boxes outlined (%2).")
                              .arg(name)
                              .arg(m_outlines.size());
        else
            m_selection =
                QStringLiteral("%1: %2 prop(s) outlined.").arg(name).arg(m_outlines.size());
    } else if (propsOf.size() > 1) {
        m_selection = QStringLiteral("%1 sceneries: %2 prop(s) outlined; %3 with a missing image, "
                                     "%4 that no prop shows.")
                          .arg(propsOf.size())
                          .arg(m_outlines.size())
                          .arg(missing)
                          .arg(unused);
    }
    m_status->setText(statusText());
    m_status->setToolTip(m_preview.problems.join(QLatin1Char('\n')));
    m_canvas->update();
}

QString PreviewWindow::statusText() const {
    if (!m_error.isEmpty())
        return QStringLiteral("The map cannot be drawn: %1").arg(m_error);
    if (!m_selection.isEmpty())
        return m_selection;
    QString text = QStringLiteral("Select sceneries in the lists to outline the props that show "
                                  "them.");
    if (!m_preview.problems.isEmpty())
        text += QStringLiteral(" Not everything can be shown as in the game: the tip says why.");
    return text;
}
