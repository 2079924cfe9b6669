#include "widgets/ElListBox.h"

#include <algorithm>

namespace pellora {

TElListBox::TElListBox(bool checkBoxes, QWidget* parent)
    : QListView(parent), Model(new TListItemModel(checkBoxes, this)),
      Delegate(new TLineHeightDelegate(this)) {
    setModel(Model);
    setItemDelegate(Delegate);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::StrongFocus);
    setTextElideMode(Qt::ElideRight);
    Delegate->FitToView = true;
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(Model, &TListItemModel::UserChecked, this, &TElListBox::OnItemChecked);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                emit OnSelect(current.isValid() ? current.row() : -1);
            });
}

int TElListBox::Selected() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TElListBox::SetSelected(int row) {
    if (row < 0 || row >= Model->Count()) {
        selectionModel()->clear();
        return;
    }
    const QModelIndex line = Model->index(row);
    selectionModel()->setCurrentIndex(line, QItemSelectionModel::ClearAndSelect);
    scrollTo(line);
}

void TElListBox::SetItemHeight(int height) {
    Delegate->LineHeight = std::max(height, 0);
    doItemsLayout();
}

} // namespace pellora
