#include "wizard/SourceMapPage.h"

#include "wizard/WizardLayout.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void SourceMapPage::buildSourceMapPage(QWidget *window) {
    using namespace WizardLayout;
    frameMap = makeFrame(window, "frameMap", QStringLiteral("Source Map"), 0, 0, 4785, 555);
    // Two pixels below the frame's caption, which the path box would otherwise cut.
    Label1 = makeLabel(frameMap, "Label1", QStringLiteral("Map:"), 90, 255, 420, 180);
    txtPath = place(new QLineEdit(frameMap), "txtPath", 540, 210, 3840, 255);
    txtPath->setToolTip(QStringLiteral("EG: C:/soldat/maps/Arena.PMS"));
    cmdBrowse = makeButton(frameMap, "cmdBrowse", QStringLiteral("..."), 4410, 210, 285, 285);

    setFonts(frameMap, window->font());
    cmdBrowse->setFont(titleFont(8.25, true));
    finishLooks(frameMap, {{Label1, Qt::white}, {txtPath, QColor(192, 192, 192)}});
}
