#pragma once

#include "widgets/ListItems.h"

#include <QListView>

namespace pellora {

// A list of lines that carry their language, group and id (the messages dialog's "Selected"
// page), optionally with a check box per line (TCheckListBox). The selection stays shown when
// the list loses the focus.
class TElListBox : public QListView {
    Q_OBJECT
public:
    explicit TElListBox(QWidget* parent = nullptr) : TElListBox(false, parent) {}

    TListItemModel& Items() { return *Model; }
    const TListItemModel& Items() const { return *Model; }

    // The selected line; -1 when there is none.
    int Selected() const;
    // Selects and shows a line; -1 clears the selection.
    void SetSelected(int row);

    // Height of every line in pixels; 0: the style's own.
    void SetItemHeight(int height);
    int ItemHeight() const { return Delegate->LineHeight; }

signals:
    // The user changed the check box of this row (lists with check boxes only).
    void OnItemChecked(int row);
    // The user or the program selected another line (-1: none).
    void OnSelect(int row);

protected:
    TElListBox(bool checkBoxes, QWidget* parent);

private:
    // Owned by the view as children: they outlive the view's own clean-up.
    TListItemModel* Model;
    TLineHeightDelegate* Delegate;
};

// A list with a check box on every line: the messages dialog's categories. The user ticks a
// line with a click on its box or with Space; OnItemChecked tells of it, the program's own
// changes (Items().SetChecked) are silent.
class TCheckListBox : public TElListBox {
    Q_OBJECT
public:
    explicit TCheckListBox(QWidget* parent = nullptr) : TElListBox(true, parent) {}
};

} // namespace pellora
