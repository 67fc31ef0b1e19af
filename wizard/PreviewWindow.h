#pragma once
// The map's picture in a window of its own beside the wizard, opened by "Preview..." on page 2:
// the map as the game shows it (preview/), drawn off the window's thread, and again to fit
// whenever the window's size changes. It opens in the map's proportions; a new map or size
// drops the drawing under way for a fresh one, and a closed window draws nothing. The props of the
// sceneries selected in page 2's lists are outlined (the rest of the picture is dimmed), and the
// line below the picture says what the selection is: props found, props whose image the game cannot
// find (the red boxes), or a scenery that no prop shows.

#include "preview/MapPicture.h"

#include <QList>
#include <QPointer>
#include <QPolygonF>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QWidget>

#include <atomic>
#include <memory>

class GameImages;
class QLabel;
class QTimer;

class PreviewWindow : public QWidget {
    Q_OBJECT

public:
    // `images` decodes the map's images (shared with the lists' pictures); it must outlive
    // the window.
    explicit PreviewWindow(GameImages &images, QWidget *parent = nullptr);
    ~PreviewWindow() override; // waits for a drawing under way

    // Reads the map at `mapPath` afresh and draws it; an empty path shows no map.
    void showMap(const QString &mapPath);
    // Outlines the props that show the sceneries of these list items ("(!) " allowed).
    void setSelected(const QStringList &items);
    // Sizes and moves the window into the largest free room of the screen beside `other`, so
    // that both can be seen and used; where no room is large enough, it covers the least of
    // `other` it can. Once the map is read, it takes the map's proportions there.
    void placeBeside(const QWidget *other);

    // True while a picture is being drawn or is about to be.
    bool drawing() const { return m_busy || m_pending; }
    // The last picture drawn, with its map and images; no picture while there is none.
    const MapPreview &preview() const { return m_preview; }
    // Where the selected props lie, in the picture's pixels.
    const QList<QPolygonF> &outlines() const { return m_outlines; }
    QString statusText() const;

Q_SIGNALS:
    // A drawing has ended, with a picture or with the reason why there is none.
    void pictureReady();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // How a drawing went: whether it read the map, was stopped, or only read it for its shape.
    struct Drawn {
        bool read = false, stopped = false, shapeOnly = false;
    };
    // Places the window beside m_beside with a canvas of `shape`'s proportions, `extra` being
    // what the window takes beside its canvas.
    void place(QSizeF shape, QSize extra);
    QSize canvasPixels() const;
    void schedule();
    void startDrawing();
    void finishDrawing(const MapPreview &made, const QString &error, Drawn drawn);
    void updateSelection();

    GameImages &m_images;
    QWidget *m_canvas = nullptr;
    QLabel *m_status = nullptr;
    QTimer *m_resized = nullptr;
    QThreadPool m_worker; // one drawing at a time, off the window's thread
    bool m_busy = false;
    bool m_again = false;                      // the map or the size changed while drawing
    std::shared_ptr<std::atomic<bool>> m_stop; // stops the drawing under way
    QSize m_drawnSize;                         // of the last drawing started
    QPointer<const QWidget> m_beside;
    bool m_shapePending = false; // take the map's proportions once it is read
    bool m_pending = false;      // shaped to the map: drawn once the size settles

    QString m_mapPath;
    bool m_mapChanged = false; // read the map again on the next drawing
    MapPreview m_preview;
    QString m_error;
    QSet<QString> m_selected; // lower-cased scenery names
    QList<QPolygonF> m_outlines;
    QString m_selection; // what the status line says of the selection
};
