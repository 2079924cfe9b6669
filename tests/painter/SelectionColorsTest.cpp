#include "painter/WindowPainter.h"
#include "widgets/ElListBox.h"
#include "widgets/ElTree.h"

#include "PainterTestApp.h"
#include "support/X11QtApp.h"

#include <QComboBox>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace pellora {
namespace {

std::vector<std::string> SheetLines(const std::string& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// Within a few steps per channel: the style may shade a selection slightly.
bool Near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 3 && std::abs(a.green() - b.green()) <= 3 &&
           std::abs(a.blue() - b.blue()) <= 3;
}

// A form with a tree and a list, each with its second line selected, and a combo box.
struct ListsForm {
    QWidget Form;
    TElTree* Tree = new TElTree(&Form);
    TElListBox* List = new TElListBox(&Form);
    QComboBox* Combo = new QComboBox(&Form);

    ListsForm() {
        auto* layout = new QVBoxLayout(&Form);
        layout->addWidget(Tree);
        layout->addWidget(List);
        layout->addWidget(Combo);
        Form.resize(240, 360);
        std::vector<TListItem> lines;
        for (const char* text : {"one", "two", "three"})
            lines.push_back({QString::fromLatin1(text), 1, 1, QStringLiteral("EN"), false});
        Tree->Items().Assign(lines);
        List->Items().Assign(lines);
        Combo->addItems({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
        Tree->SetSelected(1);
        List->SetSelected(1);
    }

    // The colour at the right end of a line, away from its text and check box.
    static QColor LineColor(QAbstractItemView* view, int row) {
        const QRect line = view->visualRect(view->model()->index(row, 0));
        const QImage image = view->viewport()->grab().toImage();
        return test::Pixel(image, image.width() - 6, line.center().y());
    }

    bool ShowActive() {
        Form.show();
        Form.activateWindow();
        return test::SpinUntil([this] { return Form.isActiveWindow(); }, 5000);
    }
};

class SelectionColorsTest : public ::testing::Test, protected test::WithPainterApp {
protected:
    void Load(const std::vector<std::string>& lines) {
        TStyleSheet sheet;
        sheet.LoadFromLines(lines);
        Painter.LoadSkin("", sheet, "");
    }

    // The selected line of a view in one colour, the line above it in the list's own.
    static void ExpectSelection(QAbstractItemView* view, const QColor& selected,
                                const QColor& back) {
        SCOPED_TRACE(view->metaObject()->className());
        const QColor shown = ListsForm::LineColor(view, 1);
        EXPECT_TRUE(Near(shown, selected))
            << shown.name().toStdString() << " is not " << selected.name().toStdString();
        EXPECT_EQ(ListsForm::LineColor(view, 0), back);
    }

    // A rendering of every case: an inactive window, then the tree and then the list with the
    // focus (the other one shows the selection without the focus).
    static void ExpectEveryCase(ListsForm& form, const QColor& focused, const QColor& hidden,
                                const QColor& back) {
        ExpectSelection(form.Tree, hidden, back);
        ExpectSelection(form.List, hidden, back);
        ASSERT_TRUE(form.ShowActive());
        form.Tree->setFocus();
        ASSERT_TRUE(test::SpinUntil([&] { return form.Tree->hasFocus(); }, 5000));
        ExpectSelection(form.Tree, focused, back);
        ExpectSelection(form.List, hidden, back);
        form.List->setFocus();
        ASSERT_TRUE(test::SpinUntil([&] { return form.List->hasFocus(); }, 5000));
        ExpectSelection(form.Tree, hidden, back);
        ExpectSelection(form.List, focused, back);
    }

    TWindowPainter Painter;
};

TEST_F(SelectionColorsTest, StandardSkinShowsTheSelectionInSystemHighlight) {
    Load({});
    ListsForm form;
    Painter.ApplyToForm(&form.Form);
    const QColor face = ResolveColor(clBtnFace);
    const QColor highlight = ResolveColor(clHighlight);
    ASSERT_NE(highlight, face);
    ExpectEveryCase(form, highlight, highlight, face);
    // The combo box's list has the same colours.
    EXPECT_EQ(form.Combo->view()->palette().color(QPalette::Active, QPalette::Highlight),
              highlight);
    EXPECT_EQ(form.Combo->view()->palette().color(QPalette::Inactive, QPalette::Highlight),
              highlight);
}

TEST_F(SelectionColorsTest, SkinSelectionColoursWinAndAreShown) {
    Load(SheetLines(PELLORA_SOURCE_DIR "/share/pellora/Skins/Harbrook/pellora.css"));
    ListsForm form;
    Painter.ApplyToForm(&form.Form);
    ExpectEveryCase(form, QColor(0x2E, 0x5E, 0x6A), QColor(0xC9, 0xD9, 0xDB),
                    QColor(0xF8, 0xFB, 0xFA));
}

TEST_F(SelectionColorsTest, SelectionLikeTheListBackgroundFallsBackToHighlight) {
    // The sheet names selection colours, but the background is the list's own: invisible.
    Load({".list { background-color: #FFFFFF; color: #000000 }",
          ".list_sel_focus { background-color: #FFFFFF; color: #112233 }",
          ".list_sel_hide { color: #445566 }"});
    ListsForm form;
    Painter.ApplyToForm(&form.Form);
    const QColor highlight = ResolveColor(clHighlight);
    ExpectEveryCase(form, highlight, highlight, QColor(Qt::white));
    // The text colours the sheet names stay.
    EXPECT_EQ(form.Tree->palette().color(QPalette::Active, QPalette::HighlightedText),
              QColor(0x11, 0x22, 0x33));
    EXPECT_EQ(form.Tree->palette().color(QPalette::Inactive, QPalette::HighlightedText),
              QColor(0x44, 0x55, 0x66));
}

} // namespace
} // namespace pellora
