// Page 2: the move buttons between the add and the exclude list.

#include "WizardTestSupport.h"

#include <QListWidget>
#include <QPushButton>

TEST_F(WizardTest, MoveButtonsShiftSelectedAndAllItems) {
    Form1 &form = makeForm();
    goToPage(form, 2);
    form.lScADD->clear();
    form.lScADD->addItems({"a", "b", "(!) c"});
    form.lScExclude->addItem("x");

    form.lScADD->setCurrentRow(1);
    form.cmdL2R->click();
    EXPECT_EQ(items(form.lScADD), QStringList({"a", "(!) c"}));
    EXPECT_EQ(items(form.lScExclude), QStringList({"x", "b"}));
    EXPECT_TRUE(form.lScADD->selectedItems().isEmpty());

    // No selection left: nothing moves.
    form.cmdL2R->click();
    EXPECT_EQ(items(form.lScADD), QStringList({"a", "(!) c"}));

    // A marked item keeps its mark; it returns to the end of the list it came from.
    form.lScADD->setCurrentRow(1);
    form.cmdL2R->click();
    form.lScExclude->setCurrentRow(2);
    form.cmdR2L->click();
    form.lScADD->setCurrentRow(0);
    form.cmdL2R->click();
    EXPECT_EQ(items(form.lScADD), QStringList({"(!) c"}));
    EXPECT_EQ(items(form.lScExclude), QStringList({"x", "b", "a"}));

    // All to the right, then all back: order kept, duplicates allowed.
    form.lScADD->addItem("x");
    form.cmdAllL2R->click();
    EXPECT_TRUE(items(form.lScADD).isEmpty());
    EXPECT_EQ(items(form.lScExclude), QStringList({"x", "b", "a", "(!) c", "x"}));
    form.cmdAllL2R->click();
    EXPECT_EQ(form.lScExclude->count(), 5);
    form.lScADD->addItem("first");
    form.cmdAllR2L->click();
    EXPECT_EQ(items(form.lScADD), QStringList({"first", "x", "b", "a", "(!) c", "x"}));
    EXPECT_EQ(form.lScExclude->count(), 0);

    // An empty item is never moved.
    form.lScADD->addItem(QString());
    form.lScADD->setCurrentRow(6);
    form.cmdL2R->click();
    EXPECT_EQ(form.lScADD->count(), 7);
    EXPECT_EQ(form.lScExclude->count(), 0);

    // Every item, however it came there, names itself in full as its tip.
    form.cmdAllL2R->click();
    for (QListWidget *list : {form.lScADD, form.lScExclude}) {
        for (int row = 0; row < list->count(); ++row)
            EXPECT_EQ(list->item(row)->toolTip(), list->item(row)->text());
    }
}
