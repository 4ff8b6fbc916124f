// The dialog-resource builder: positions scale with the dialog font, frames never cover the
// controls they frame, and the keyboard walks the controls in resource order.

#include "dialogs/common/DialogBuilder.h"
#include "dialogs/common/DialogUnits.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr DlgControlResource kControls[] = {
    {IDC_STATIC, DlgControlKind::Static, 7, 10, 40, 8, "&Name", 0},
    {100, DlgControlKind::Edit, 50, 8, 60, 12, "", 0, kDlgBorder},
    {101, DlgControlKind::PushButton, 10, 30, 50, 14, "Go", 0, kDlgDefault},
    {102, DlgControlKind::PushButton, 60, 30, 50, 14, "Later", 0, kDlgHidden},
    {IDC_STATIC, DlgControlKind::GroupBox, 4, 2, 112, 48, "Frame", 0},
};

DlgResource Resource(int pointSize) {
    return {1, "Test", 0, "DejaVu Sans", pointSize, 120, 52, true, kControls};
}

TEST(DialogBuilder, ScalesWithTheFontKeepsFramesBelowAndTabsInResourceOrder) {
    QDialog small;
    BuildDialog(small, Resource(8));
    QDialog large;
    BuildDialog(large, Resource(16));

    const QSize base = DialogBaseUnits(small.font());
    EXPECT_EQ(DlgItem(small, 101)->geometry(), DialogUnitsToPixels(QRect(10, 30, 50, 14), base));
    // Twice the font: about twice the pixels, the proportions kept.
    const double ratio = double(large.width()) / small.width();
    EXPECT_NEAR(double(large.height()) / small.height(), ratio, 0.15);
    EXPECT_NEAR(double(DlgItem(large, 100)->x()) / DlgItem(small, 100)->x(), ratio, 0.15);
    EXPECT_GT(ratio, 1.5);

    small.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&small));
    EXPECT_FALSE(DlgItem(small, 102)->isVisible());
    // The frame is created last and still lies below: a click reaches the button.
    auto* go = DlgItem<QPushButton>(small, 101);
    EXPECT_EQ(small.childAt(go->geometry().center()), go);
    // The edit takes the label's text as its name; Tab goes from it to the button.
    auto* edit = DlgItem<QLineEdit>(small, 100);
    EXPECT_EQ(edit->accessibleName(), QString("Name"));
    small.activateWindow();
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), go);
}

} // namespace
