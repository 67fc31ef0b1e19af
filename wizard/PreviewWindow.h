#pragma once
// The map's picture in a window of its own beside the wizard, opened by "Preview..." on page 2:
// the map as the game shows it (preview/), drawn off the window's thread, and again to fit
// whenever the window's size changes. The props of the sceneries selected in page 2's lists
// are outlined (the rest of the picture is dimmed), and the line below the picture says what
// the selection is: props found, props whose image the game cannot find (the red boxes), or a
// scenery that no prop shows.

#include "preview/MapPicture.h"

#include <QList>
#include <QPolygonF>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QWidget>

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
    // `other` it can.
    void placeBeside(const QWidget *other);

    bool drawing() const { return m_busy; }
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

private:
    void schedule();
    void startDrawing();
    void finishDrawing(const MapPreview &made, const QString &error);
    void updateSelection();

    GameImages &m_images;
    QWidget *m_canvas = nullptr;
    QLabel *m_status = nullptr;
    QTimer *m_resized = nullptr;
    QThreadPool m_worker; // one drawing at a time, off the window's thread
    bool m_busy = false;
    bool m_again = false; // the map or the size changed while drawing

    QString m_mapPath;
    bool m_mapChanged = false; // read the map again on the next drawing
    MapPreview m_preview;
    QString m_error;
    QSet<QString> m_selected; // lower-cased scenery names
    QList<QPolygonF> m_outlines;
    QString m_selection; // what the status line says of the selection
};
