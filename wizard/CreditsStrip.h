#pragma once
// The credits strip (frame Frame5), shown below page 1: the credits line and the link to the
// authors' web address.

#include <functional>

class QGroupBox;
class QLabel;
class QWidget;

class CreditsStrip {
public:
    QGroupBox *Frame5 = nullptr;
    QLabel *Label5 = nullptr; // the credits line
    QLabel *Label6 = nullptr; // "Visit " and the web address

protected:
    // Makes the strip on `window`, shown, with its looks. A click on the link calls
    // `linkClicked`.
    void buildCreditsStrip(QWidget *window, std::function<void()> linkClicked);
};
