#include "widgets/FreshTabSet.h"

#include "WidgetTestApp.h"

#include <QAccessible>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace pellora {
namespace {

// The messages dialog's tab set: three tabs of 120 pixels in a bold white 12-pixel font,
// beside an edit that holds the focus at first.
class FreshTabSetTest : public ::testing::Test, protected test::WithTestApp {
protected:
    FreshTabSetTest() {
        Window.resize(420, 80);
        Edit = new QLineEdit(&Window);
        Edit->setGeometry(8, 40, 120, 24);
        Tabs = new TFreshTabSet(&Window);
        Tabs->setGeometry(0, 0, 385, 25);
        for (const char* caption : {"&Selected", "&Private Library", "Public &Library"})
            Tabs->addTab(QString::fromLatin1(caption));
        Tabs->SetTabWidth(120);
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(12);
        font.setBold(true);
        Tabs->setFont(font);
        Tabs->SetAllItemColors(QColor(30, 60, 90), QColor(Qt::white));
        Tabs->SetWallColor(QColor(200, 210, 220));
        QObject::connect(Tabs, &TFreshTabSet::OnTabSwitch,
                         [this](int index) { Switches.push_back(index); });
    }

    QWidget Window;
    QLineEdit* Edit = nullptr;
    TFreshTabSet* Tabs = nullptr;
    std::vector<int> Switches;
};

TEST_F(FreshTabSetTest, TabsTakeTheirGivenWidthSideBySide) {
    ASSERT_TRUE(test::ShowActive(Window));
    for (int i = 0; i < 3; ++i) {
        const QRect tab = Tabs->tabRect(i);
        EXPECT_EQ(tab.left(), 120 * i);
        EXPECT_EQ(tab.width(), 120);
        EXPECT_GE(tab.height(), Tabs->fontMetrics().height());
        EXPECT_LE(tab.height(), 25);
    }
    // Without a fixed width a tab fits its caption.
    Tabs->SetTabWidth(0);
    EXPECT_LT(Tabs->tabRect(0).width(), Tabs->tabRect(1).width());
}

TEST_F(FreshTabSetTest, KeyboardSwitchesTabsAndTellsTheNewIndex) {
    ASSERT_TRUE(test::ShowActive(Window));
    Edit->setFocus();
    ASSERT_TRUE(test::SpinUntil([this] { return Edit->hasFocus(); }, 5000));

    // Tab reaches the tabs; the arrows, Home and End move between them.
    QTest::keyClick(Edit, Qt::Key_Tab);
    ASSERT_TRUE(Tabs->hasFocus());
    QTest::keyClick(Tabs, Qt::Key_Right);
    QTest::keyClick(Tabs, Qt::Key_Right);
    QTest::keyClick(Tabs, Qt::Key_Home);
    QTest::keyClick(Tabs, Qt::Key_End);
    QTest::keyClick(Tabs, Qt::Key_Left);
    EXPECT_EQ(Switches, (std::vector<int>{1, 2, 0, 2, 1}));

    // The page keys work from anywhere in the window and wrap around.
    Switches.clear();
    Edit->setFocus();
    QTest::keyClick(Edit, Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(Edit, Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(Edit, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(Edit, Qt::Key_PageUp, Qt::ControlModifier);
    QTest::keyClick(Edit, Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(Switches, (std::vector<int>{2, 0, 2, 1, 2}));
    EXPECT_TRUE(Edit->hasFocus());

    // Mnemonics, and a disabled tab is passed over.
    Switches.clear();
    QTest::keyClick(Edit, Qt::Key_P, Qt::AltModifier);
    Tabs->setTabEnabled(2, false);
    QTest::keyClick(Edit, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(Switches, (std::vector<int>{1, 0}));
}

TEST_F(FreshTabSetTest, ScreenReadersSeeAPageTabList) {
    ASSERT_TRUE(test::ShowActive(Window));
    Tabs->setCurrentIndex(1);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(Tabs);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::PageTabList);
    EXPECT_TRUE(list->state().focusable);
    ASSERT_EQ(list->childCount(), 3);
    const QString names[] = {QStringLiteral("Selected"), QStringLiteral("Private Library"),
                             QStringLiteral("Public Library")};
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface* tab = list->child(i);
        ASSERT_NE(tab, nullptr);
        EXPECT_EQ(tab->role(), QAccessible::PageTab);
        EXPECT_EQ(tab->text(QAccessible::Name), names[i]);
        EXPECT_TRUE(tab->state().selectable);
        EXPECT_EQ(bool(tab->state().selected), i == 1) << i;
        EXPECT_EQ(list->indexOfChild(tab), i);
        EXPECT_EQ(tab->rect().width(), 120);
    }
    EXPECT_EQ(list->child(0)->text(QAccessible::Accelerator), QStringLiteral("Alt+S"));
    // A screen reader's press chooses the tab.
    QAccessibleActionInterface* press = list->child(2)->actionInterface();
    ASSERT_NE(press, nullptr);
    press->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(Tabs->currentIndex(), 2);
    EXPECT_TRUE(list->child(2)->state().selected);
    EXPECT_FALSE(list->child(1)->state().selected);
}

TEST_F(FreshTabSetTest, WhiteCaptionsWithoutTabColoursStayReadable) {
    // A skin that names no tab colours leaves the dialog's white captions on the default face.
    TFreshTabSet tabs;
    tabs.addTab(QStringLiteral("Selected"));
    tabs.SetAllItemColors(QColor(), QColor(Qt::white));
    EXPECT_EQ(tabs.FaceColor(0), tabs.palette().color(QPalette::Highlight));
    tabs.SetAllItemColors(QColor(), QColor(Qt::black));
    EXPECT_EQ(tabs.FaceColor(0), tabs.palette().color(QPalette::Button));
    tabs.SetItemColor(0, QColor(1, 2, 3));
    EXPECT_EQ(tabs.FaceColor(0), QColor(1, 2, 3));
}

TEST_F(FreshTabSetTest, PaintsWallTabsCaptionsAndTheFocus) {
    ASSERT_TRUE(test::ShowActive(Window));
    Tabs->SetItemColor(2, QColor(150, 20, 20));
    QImage image = Tabs->grab().toImage();
    const QColor wall(200, 210, 220);
    // The wall beside the last tab and above the lower, other tabs.
    EXPECT_EQ(test::PixelOf(image, 380, 12), wall);
    EXPECT_EQ(test::PixelOf(image, 130, 1), wall);
    // The current tab in its colour, the others faded towards the wall but not gone.
    EXPECT_EQ(test::PixelOf(image, 5, 20), QColor(30, 60, 90));
    const QColor other = test::PixelOf(image, 245, 20);
    EXPECT_NE(other, QColor(150, 20, 20));
    EXPECT_NE(other, wall);
    EXPECT_GT(other.red(), other.green());
    // Captions in the font colour.
    auto whiteIn = [](const QImage& picture, const QRect& area) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += test::PixelOf(picture, x, y) == QColor(Qt::white) ? 1 : 0;
        return count;
    };
    EXPECT_GT(whiteIn(image, QRect(20, 6, 80, 14)), 10);
    // The dotted focus frame shows only while the tabs have the focus.
    const QRect frameLine(8, 3, 100, 1);
    EXPECT_EQ(whiteIn(image, frameLine), 0);
    Tabs->setFocus();
    ASSERT_TRUE(test::SpinUntil([this] { return Tabs->hasFocus(); }, 5000));
    image = Tabs->grab().toImage();
    EXPECT_GT(whiteIn(image, frameLine), 20);
}

} // namespace
} // namespace pellora
