#include "widgets/ElTree.h"

#include <QHeaderView>

#include <algorithm>

namespace pellora {

TElTree::TElTree(QWidget* parent)
    : QTreeView(parent), Model(new TListItemModel(true, this)),
      Delegate(new TLineHeightDelegate(this)) {
    setModel(Model);
    setItemDelegate(Delegate);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    // Every line is one text line: the view need not measure ten thousand of them.
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::StrongFocus);
    setTextElideMode(Qt::ElideRight);
    header()->setStretchLastSection(true);
    connect(Model, &TListItemModel::UserChecked, this, &TElTree::OnItemChecked);
}

int TElTree::Selected() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TElTree::SetSelected(int row) {
    if (row < 0 || row >= Model->Count()) {
        clearSelection();
        return;
    }
    const QModelIndex line = Model->index(row);
    selectionModel()->setCurrentIndex(line, QItemSelectionModel::ClearAndSelect |
                                                QItemSelectionModel::Rows);
    scrollTo(line);
}

void TElTree::SetLineHeight(int height) {
    Delegate->LineHeight = std::max(height, 0);
    // The uniform height is measured again only when the layout is redone.
    doItemsLayout();
}

} // namespace pellora
