#pragma once

#include "widgets/ListItems.h"

#include <QTreeView>

namespace pellora {

// The message tree of the messages dialog's pages: one line per message of the language and
// category shown, each with a check box, filled in one go from a vector of lines so that ten
// thousand messages load at once. OnItemChecked fires only when the user changes a check box
// (a click on the box, Space on the current line); the program's own changes are silent.
// Screen readers see a tree whose items are named after the messages and report their check
// state.
class TElTree : public QTreeView {
    Q_OBJECT
public:
    explicit TElTree(QWidget* parent = nullptr);

    // The lines: fill, change and search them here.
    TListItemModel& Items() { return *Model; }
    const TListItemModel& Items() const { return *Model; }

    // The selected line; -1 when there is none.
    int Selected() const;
    // Selects and shows a line; -1 clears the selection.
    void SetSelected(int row);

    // Height of every line in pixels; 0: the style's own.
    void SetLineHeight(int height);
    int LineHeight() const { return Delegate->LineHeight; }

signals:
    // The user changed the check box of this row; the line tells language, group, id and state.
    void OnItemChecked(int row);

private:
    // Owned by the view as children: they outlive the view's own clean-up.
    TListItemModel* Model;
    TLineHeightDelegate* Delegate;
};

} // namespace pellora
