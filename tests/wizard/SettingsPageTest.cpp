// Page 3: the dependent controls of the password, comment and expert switches, and what a
// build reads from the page.

#include "WizardTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <map>
#include <string>

TEST_F(WizardTest, PasswordMaskCommentAndExpertBoxesStayInStepWhateverTheClickOrder) {
    // Click sequences from the start state: P password, M mask, C comment, E expert.
    for (const std::string clicks :
         {"P", "MP", "PM", "PMM", "MPM", "MPP", "PMP", "CC", "EE", "CE"}) {
        SCOPED_TRACE(clicks);
        Form1 &form = makeForm();
        goToPage(form, 3);
        const std::map<char, QCheckBox *> boxes = {{'P', form.chkPass},
                                                   {'M', form.chkMask},
                                                   {'C', form.chkComment},
                                                   {'E', form.chkExpert}};
        for (const char click : clicks) {
            boxes.at(click)->click();
            expectSettingsInvariants(form);
        }
    }
}

TEST_F(WizardTest, SettingsKeepTheirTextsAndReachTheBuildAsTyped) {
    Form1 &form = makeForm();
    goToPage(form, 3);
    form.txtPass->setText("secret");
    form.txtPass2->setText("other");
    form.chkPass->click();
    form.chkMask->click(); // plain text, second box disabled but keeping its text
    form.chkMask->click();
    form.chkPass->click();
    EXPECT_EQ(form.txtPass->text(), "secret");
    EXPECT_EQ(form.txtPass2->text(), "other");

    form.chkComment->click();
    form.txtComment->setPlainText("line one\nline two");
    EXPECT_EQ(form.commentText(), "line one\r\nline two");
    form.chkComment->click();
    EXPECT_EQ(form.txtComment->toPlainText(), "line one\nline two");

    // What a build reads, at the moment it asks.
    form.chkPass->click();
    form.cComp->setCurrentIndex(3);
    const BuildInputs inputs = form.buildInputs();
    EXPECT_EQ(inputs.chkPass, 1);
    EXPECT_EQ(inputs.password, "secret");
    EXPECT_EQ(inputs.password2, "other");
    EXPECT_EQ(inputs.zip.compressionLevel, "3");
    EXPECT_EQ(inputs.zip.chkRecurse, 1);
    EXPECT_EQ(inputs.chkTexture, 1);
    EXPECT_EQ(form.passwordText(), "secret");
}

TEST_F(WizardTest, ExpertSwitchesReachTheBuildAndResetToTheirDefaultsEveryTime) {
    Form1 &form = makeForm();
    goToPage(form, 3);
    form.chkExpert->click();
    form.chkJunk->click();
    form.chkRecurse->click();
    form.chkUpdate->click();
    form.chkFreshen->click();
    // Each switch reaches the build as set.
    const ZipSettings zip = form.buildInputs().zip;
    EXPECT_EQ((QList<int>{zip.chkJunk, zip.chkRecurse, zip.chkUpdate, zip.chkFreshen}),
              (QList<int>{1, 0, 1, 1}));

    for (int round = 0; round < 2; ++round) {
        form.chkExpert->click();
        EXPECT_FALSE(form.chkJunk->isChecked());
        EXPECT_TRUE(form.chkRecurse->isChecked());
        EXPECT_FALSE(form.chkUpdate->isChecked());
        EXPECT_FALSE(form.chkFreshen->isChecked());
    }
}
