// The credits strip: its two lines and the web link.

#include "WizardTestSupport.h"

#include "package/ProgramInfo.h"

#include <QGroupBox>
#include <QLabel>
#include <QTest>

TEST_F(WizardTest, CreditsLinkHandsTheAddressToTheBrowserOnEveryClick) {
    Form1 &form = makeForm();
    form.show();
    for (const QLabel *line : {form.Label5, form.Label6}) // both centred on the strip
        EXPECT_LE(qAbs(line->geometry().center().x() - form.Frame5->rect().center().x()), 1);
    QTest::mouseClick(form.Label6, Qt::LeftButton);
    openUrlResult = false; // no browser: nothing to see
    QTest::mouseClick(form.Label6, Qt::LeftButton);
    ASSERT_EQ(openedUrls.size(), 2);
    EXPECT_EQ(openedUrls[0], QUrl(WebAddress));
    EXPECT_EQ(openedUrls[1], QUrl(WebAddress));
    EXPECT_TRUE(boxes().isEmpty());
    EXPECT_FALSE(form.OpenBrowser(&form, "/some/document.txt").isValid());
    EXPECT_EQ(openedUrls.last(), QUrl::fromLocalFile("/some/document.txt"));
}
