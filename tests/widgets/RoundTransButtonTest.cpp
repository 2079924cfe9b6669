#include "widgets/RoundTransButton.h"

#include "WidgetTestApp.h"

#include <QAccessible>
#include <QDialog>
#include <QLineEdit>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

namespace pellora {
namespace {

class RoundTransButtonTest : public ::testing::Test, protected test::WithTestApp {
protected:
    RoundTransButtonTest() {
        Dialog.resize(300, 120);
        Dialog.setAutoFillBackground(true);
        QPalette palette = Dialog.palette();
        palette.setColor(QPalette::Window, Wall);
        Dialog.setPalette(palette);
        Edit = new QLineEdit(&Dialog);
        Edit->setGeometry(10, 10, 120, 24);
        Button = new TRoundTransButton(QStringLiteral("&OK"), &Dialog);
        Button->setGeometry(128, 60, 75, 25);
        Button->setDefault(true);
        QObject::connect(Button, &QPushButton::clicked, [this] { ++Clicks; });
    }

    const QColor Wall{10, 120, 10};
    QDialog Dialog;
    QLineEdit* Edit = nullptr;
    TRoundTransButton* Button = nullptr;
    int Clicks = 0;
};

TEST_F(RoundTransButtonTest, OwnerPaintsTheBackgroundInsideTheRoundShape) {
    const TRoundTransButton* asked = nullptr;
    QColor brush;
    Button->OnNeedBackground = [&](TRoundTransButton* sender, QPainter& painter) {
        asked = sender;
        brush = painter.brush().color();
        painter.fillRect(sender->rect(), QColor(250, 0, 0));
    };
    ASSERT_TRUE(test::ShowActive(Dialog));
    const QImage image = Dialog.grab(Button->geometry()).toImage();
    EXPECT_EQ(asked, Button);
    // The handler is given the parent's colour to fill with when it has no picture.
    EXPECT_EQ(brush, Wall);
    // Outside the rounded ends the dialog shows; inside, the owner's red under a light wash.
    EXPECT_EQ(test::PixelOf(image, 0, 0), Wall);
    EXPECT_EQ(test::PixelOf(image, 74, 24), Wall);
    const QColor inside = test::PixelOf(image, 20, 6);
    EXPECT_GT(inside.red(), 200);
    EXPECT_LT(inside.green(), 150);
}

TEST_F(RoundTransButtonTest, WorksAsAPushButtonFromKeyboardMouseAndScreenReader) {
    ASSERT_TRUE(test::ShowActive(Dialog));
    Edit->setFocus();
    ASSERT_TRUE(test::SpinUntil([this] { return Edit->hasFocus(); }, 5000));

    // Enter anywhere in the dialog presses the default button.
    QTest::keyClick(Edit, Qt::Key_Return);
    EXPECT_EQ(Clicks, 1);

    // Tab reaches it; Space clicks once, on release.
    QTest::keyClick(Edit, Qt::Key_Tab);
    ASSERT_TRUE(Button->hasFocus());
    QTest::keyPress(Button, Qt::Key_Space);
    EXPECT_TRUE(Button->isDown());
    EXPECT_EQ(Clicks, 1);
    QTest::keyRelease(Button, Qt::Key_Space);
    EXPECT_EQ(Clicks, 2);

    // The mouse counts only inside the round shape.
    QTest::mouseClick(Button, Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_EQ(Clicks, 2);
    QTest::mouseClick(Button, Qt::LeftButton, {}, QPoint(37, 12));
    EXPECT_EQ(Clicks, 3);

    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(Button);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->role(), QAccessible::Button);
    EXPECT_EQ(button->text(QAccessible::Name), QStringLiteral("OK"));
    EXPECT_TRUE(button->state().focusable);
    EXPECT_TRUE(button->state().defaultButton);
}

} // namespace
} // namespace pellora
