// The window's side of the map preview: "Preview..." opens it, a map read redraws it, and a
// selection in either scenery list outlines the props that show those sceneries.

#include "wizard/Form1.h"

#include "wizard/PreviewWindow.h"

#include <QListWidget>
#include <QPushButton>

PreviewWindow *Form1::previewWindow() const {
    return m_preview;
}

void Form1::cmdPreview_Click() {
    if (!m_preview) {
        m_preview = new PreviewWindow(m_images, this);
        m_preview->placeBeside(this);
        showMapInPreview();
        showSelectionInPreview(lScADD->selectedItems().isEmpty() ? lScExclude : lScADD);
    }
    m_preview->show();
    m_preview->raise();
    m_preview->activateWindow();
}

void Form1::showMapInPreview() {
    if (m_preview)
        m_preview->showMap(m_state.MapPath);
}

void Form1::showSelectionInPreview(const QListWidget *list) {
    if (!m_preview)
        return;
    QStringList items;
    for (const QListWidgetItem *item : list->selectedItems())
        items.append(item->text());
    m_preview->setSelected(items);
}
