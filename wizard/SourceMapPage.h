#pragma once
// Page 1, "Source Map" (frame frameMap): the path of the map to pack and "..." to browse for
// it. The window reads the map (Form1::cmdBrowse_Click) and turns the pages.

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

class SourceMapPage {
public:
    QGroupBox *frameMap = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtPath = nullptr;
    QPushButton *cmdBrowse = nullptr;

protected:
    // Makes the page on `window`, shown, with its looks; the window wires its events.
    void buildSourceMapPage(QWidget *window);
};
