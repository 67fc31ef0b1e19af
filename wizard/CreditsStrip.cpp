#include "wizard/CreditsStrip.h"

#include "package/ProgramInfo.h"
#include "wizard/WizardLayout.h"

#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>

namespace {

// A label that reports clicks, for the web link.
class ClickableLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            onClick)
            onClick();
        QLabel::mouseReleaseEvent(event);
    }
};

} // namespace

void CreditsStrip::buildCreditsStrip(QWidget *window, std::function<void()> linkClicked) {
    using namespace WizardLayout;
    Frame5 = makeFrame(window, "Frame5", QString(), 0, 540, 4785, 555);
    Label5 = makeLabel(Frame5, "Label5", CreditsLine, 450, 135, 3990, 180);
    auto *link = place(new ClickableLabel(QStringLiteral("Visit ") + WebAddress, Frame5), "Label6",
                       1170, 315, 2055, 180);
    link->setTextFormat(Qt::PlainText);
    link->setCursor(Qt::PointingHandCursor);
    link->onClick = std::move(linkClicked);
    Label6 = link;
    Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label6->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    setFonts(Frame5, window->font());
    fitLabelText(Label5);
    fitLabelText(Label6);
    // Both lines centred on the strip; only the link's own text takes clicks.
    const int linkWidth = QFontMetrics(Label6->font()).horizontalAdvance(Label6->text()) + 2;
    Label6->resize(qMin(Label6->width(), linkWidth), Label6->height());
    for (QLabel *label : {Label5, Label6})
        label->move((Frame5->width() - label->width()) / 2, label->y());
    finishLooks(Frame5, {{Label5, Qt::white}, {Label6, Qt::white}});
}
