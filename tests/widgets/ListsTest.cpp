#include "widgets/ElListBox.h"
#include "widgets/ElTree.h"

#include "WidgetTestApp.h"

#include <QAccessible>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace pellora {
namespace {

std::vector<TListItem> Messages() {
    return {
        {QStringLiteral("Am I dreaming?"), 12, 1, QStringLiteral("EN"), false},
        {QStringLiteral("Look at your hands."), 7, 1, QStringLiteral("EN"), false},
        {QStringLiteral("Breathe."), -3, 1, QStringLiteral("EN"), false},
        {QString(), 7, 1, QStringLiteral("EN"), false}, // an empty text is a line too
    };
}

// A window with the message tree and the category list, as the messages dialog has them.
class ListsTest : public ::testing::Test, protected test::WithTestApp {
protected:
    ListsTest() {
        auto* layout = new QVBoxLayout(&Window);
        Tree = new TElTree(&Window);
        Categories = new TCheckListBox(&Window);
        layout->addWidget(Tree);
        layout->addWidget(Categories);
        Window.resize(320, 360);
        Tree->Items().Assign(Messages());
        Tree->SetLineHeight(17);
        QFont font = Categories->font();
        font.setPixelSize(15);
        Categories->setFont(font);
        Categories->SetItemHeight(16);
        int group = 1;
        for (const char* name : {"Reality checks", "Tasks", "Affirmations", "Quotes"})
            Categories->Items().Add({QString::fromLatin1(name), group++, 0, QString(), false});
        QObject::connect(Tree, &TElTree::OnItemChecked, [this](int row) {
            TreeChecks.emplace_back(row, Tree->Items().Item(row).Checked);
        });
        QObject::connect(Categories, &TCheckListBox::OnItemChecked, [this](int row) {
            CategoryChecks.emplace_back(row, Categories->Items().Item(row).Checked);
        });
    }

    using Checks = std::vector<std::pair<int, bool>>;

    static void ClickBox(QAbstractItemView* view, int row) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          test::CheckBoxRect(view, row).center());
    }

    QWidget Window;
    TElTree* Tree = nullptr;
    TCheckListBox* Categories = nullptr;
    Checks TreeChecks;
    Checks CategoryChecks;
};

TEST_F(ListsTest, OnlyTheUsersChangesRaiseItemChecked) {
    ASSERT_TRUE(test::ShowActive(Window));

    // The program's changes are silent.
    Tree->Items().SetChecked(0, true);
    EXPECT_EQ(Tree->Items().CheckIds({7, -3, 99}), 2);
    Tree->Items().SetText(2, QStringLiteral("Breathe in."));
    Categories->Items().SetChecked(1, true);
    EXPECT_TRUE(TreeChecks.empty());
    EXPECT_TRUE(CategoryChecks.empty());
    EXPECT_TRUE(Tree->Items().Item(1).Checked);
    EXPECT_FALSE(Tree->Items().Item(3).Checked); // only the first line of id 7

    // A click on the box ticks it; a click on the text only selects.
    ClickBox(Tree, 3);
    const QRect text = Tree->visualRect(Tree->Items().index(2));
    QTest::mouseClick(Tree->viewport(), Qt::LeftButton, {}, text.center() + QPoint(40, 0));
    EXPECT_EQ(Tree->Selected(), 2);
    EXPECT_EQ(TreeChecks, (Checks{{3, true}}));

    // Space ticks the current line, and again clears it.
    Tree->setFocus();
    QTest::keyClick(Tree, Qt::Key_Space);
    QTest::keyClick(Tree, Qt::Key_Space);
    EXPECT_EQ(TreeChecks, (Checks{{3, true}, {2, false}, {2, true}}));

    // The category list behaves the same.
    ClickBox(Categories, 2);
    Categories->setFocus();
    Categories->SetSelected(1);
    QTest::keyClick(Categories, Qt::Key_Space);
    EXPECT_EQ(CategoryChecks, (Checks{{2, true}, {1, false}}));
    EXPECT_EQ(Categories->Items().Item(2).Id, 3);
}

TEST_F(ListsTest, LinesCarryLanguageGroupAndIdSoTwinsStayApart) {
    TElListBox selected;
    auto& items = selected.Items();
    items.Add({QStringLiteral("Am I dreaming?"), 12, 1, QStringLiteral("EN"), false});
    items.Add({QStringLiteral("Träume ich?"), 12, 1, QStringLiteral("DE"), false});
    items.Add({QStringLiteral("Am I dreaming?"), 12, 2, QStringLiteral("EN"), false});
    EXPECT_EQ(items.IndexOf(QStringLiteral("de"), 1, 12), 1);
    EXPECT_EQ(items.IndexOf(QStringLiteral("EN"), 2, 12), 2);
    EXPECT_EQ(items.IndexOf(QStringLiteral("NL"), 1, 12), -1);
    EXPECT_EQ(items.IndexOfId(12), 0);
    EXPECT_EQ(items.LastIndexOfId(12), 2);
    items.Remove(1);
    EXPECT_EQ(items.Count(), 2);
    EXPECT_EQ(items.IndexOf(QStringLiteral("DE"), 1, 12), -1);
    // A plain list has no check boxes, and Space ticks nothing.
    EXPECT_FALSE(items.data(items.index(0), Qt::CheckStateRole).isValid());
    EXPECT_FALSE(items.flags(items.index(0)).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_THROW(items.Item(5), std::out_of_range);
}

TEST_F(ListsTest, LinesHaveTheirSetHeight) {
    ASSERT_TRUE(test::ShowActive(Window));
    EXPECT_EQ(Tree->visualRect(Tree->Items().index(1)).height(), 17);
    EXPECT_EQ(Categories->visualRect(Categories->Items().index(1)).height(), 16);
    EXPECT_EQ(Categories->visualRect(Categories->Items().index(1)).top(), 16);
}

// A line longer than the list is wide is cut short with an ellipsis where the list ends, not
// hidden behind a sideways scroll bar.
TEST_F(ListsTest, ALongLineEndsInAnEllipsisInsteadOfScrollingSideways) {
    Categories->Items().Add(
        {QString(40, QLatin1Char('w')) + QStringLiteral(" end"), 9, 0, QString(), false});
    ASSERT_TRUE(test::ShowActive(Window));
    const QModelIndex last = Categories->Items().index(Categories->Items().Count() - 1);
    EXPECT_LE(Categories->visualRect(last).right(), Categories->viewport()->width());
    EXPECT_EQ(Categories->horizontalScrollBar()->maximum(), 0);
}

TEST_F(ListsTest, TenThousandLinesLoadInOneGoAndGetTheirMarks) {
    std::vector<TListItem> lines;
    std::vector<int> installed;
    for (int id = 1; id <= 10000; ++id) {
        lines.push_back({QStringLiteral("Message %1").arg(id), id, 2, QStringLiteral("EN"), false});
        if (id % 2 == 0)
            installed.push_back(id);
    }
    int resets = 0;
    QObject::connect(&Tree->Items(), &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    Tree->Items().Assign(std::move(lines));
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(Tree->Items().CheckIds(installed), 5000);
    EXPECT_TRUE(Tree->Items().Item(9999).Checked);
    EXPECT_FALSE(Tree->Items().Item(9998).Checked);
    ASSERT_TRUE(test::ShowActive(Window));
    Tree->SetSelected(9999);
    EXPECT_TRUE(Tree->viewport()->rect().intersects(Tree->visualRect(Tree->Items().index(9999))));
}

TEST_F(ListsTest, ScreenReadersReadNamesAndCheckStates) {
    Tree->Items().SetChecked(1, true);
    Categories->Items().SetChecked(0, true);
    ASSERT_TRUE(test::ShowActive(Window));

    struct Expected {
        QWidget* View;
        QString Name;
        QAccessible::Role Role;
        bool Checked;
    };
    const Expected cases[] = {
        {Tree, QStringLiteral("Look at your hands."), QAccessible::Tree, true},
        {Tree, QStringLiteral("Breathe."), QAccessible::Tree, false},
        {Categories, QStringLiteral("Reality checks"), QAccessible::List, true},
        {Categories, QStringLiteral("Tasks"), QAccessible::List, false},
    };
    for (const Expected& expected : cases) {
        SCOPED_TRACE(expected.Name.toStdString());
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(expected.View);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->role(), expected.Role);
        QAccessibleInterface* line = nullptr;
        for (int i = 0; i < view->childCount() && line == nullptr; ++i) {
            QAccessibleInterface* child = view->child(i);
            if (child != nullptr && child->text(QAccessible::Name) == expected.Name)
                line = child;
        }
        ASSERT_NE(line, nullptr);
        EXPECT_TRUE(line->state().checkable);
        EXPECT_EQ(bool(line->state().checked), expected.Checked);
    }
}

} // namespace
} // namespace pellora
