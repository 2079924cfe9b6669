#include "widgets/ListItems.h"

#include <stdexcept>
#include <unordered_map>

namespace pellora {

TListItemModel::TListItemModel(bool checkBoxes, QObject* parent)
    : QAbstractListModel(parent), HasCheckBoxes(checkBoxes) {}

const TListItem& TListItemModel::Item(int row) const {
    if (!ValidRow(row))
        throw std::out_of_range("list row " + std::to_string(row) + " out of range");
    return Lines[static_cast<std::size_t>(row)];
}

void TListItemModel::Clear() {
    Assign({});
}

void TListItemModel::Assign(std::vector<TListItem> items) {
    // One reset instead of a row insertion per line: the view lays out once.
    beginResetModel();
    Lines = std::move(items);
    endResetModel();
}

int TListItemModel::Add(TListItem item) {
    const int row = Count();
    beginInsertRows(QModelIndex(), row, row);
    Lines.push_back(std::move(item));
    endInsertRows();
    return row;
}

void TListItemModel::Remove(int row) {
    if (!ValidRow(row))
        return;
    beginRemoveRows(QModelIndex(), row, row);
    Lines.erase(Lines.begin() + row);
    endRemoveRows();
}

void TListItemModel::SetText(int row, const QString& text) {
    if (!ValidRow(row))
        return;
    Lines[static_cast<std::size_t>(row)].Text = text;
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed, {Qt::DisplayRole, Qt::ToolTipRole});
}

void TListItemModel::SetChecked(int row, bool checked) {
    if (!ValidRow(row))
        return;
    TListItem& line = Lines[static_cast<std::size_t>(row)];
    if (line.Checked == checked)
        return;
    line.Checked = checked;
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed, {Qt::CheckStateRole});
}

int TListItemModel::IndexOfId(int id) const {
    for (int row = 0; row < Count(); ++row)
        if (Lines[static_cast<std::size_t>(row)].Id == id)
            return row;
    return -1;
}

int TListItemModel::LastIndexOfId(int id) const {
    for (int row = Count() - 1; row >= 0; --row)
        if (Lines[static_cast<std::size_t>(row)].Id == id)
            return row;
    return -1;
}

int TListItemModel::IndexOf(const QString& language, int group, int id) const {
    for (int row = 0; row < Count(); ++row) {
        const TListItem& line = Lines[static_cast<std::size_t>(row)];
        if (line.Id == id && line.Group == group &&
            line.Language.compare(language, Qt::CaseInsensitive) == 0)
            return row;
    }
    return -1;
}

int TListItemModel::CheckIds(const std::vector<int>& ids) {
    if (ids.empty() || Lines.empty())
        return 0;
    // One pass over the lines for the first row of each id, so a long selection on a long
    // list stays linear.
    std::unordered_map<int, int> firstRow;
    firstRow.reserve(Lines.size());
    for (int row = Count() - 1; row >= 0; --row)
        firstRow[Lines[static_cast<std::size_t>(row)].Id] = row;
    int first = Count();
    int last = -1;
    int checked = 0;
    for (const int id : ids) {
        const auto found = firstRow.find(id);
        if (found == firstRow.end())
            continue;
        TListItem& line = Lines[static_cast<std::size_t>(found->second)];
        if (!line.Checked) {
            line.Checked = true;
            first = std::min(first, found->second);
            last = std::max(last, found->second);
            ++checked;
        }
    }
    if (last >= 0)
        emit dataChanged(index(first), index(last), {Qt::CheckStateRole});
    return checked;
}

int TListItemModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

QVariant TListItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !ValidRow(index.row()))
        return {};
    const TListItem& line = Lines[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: // messages are often wider than their list
        return line.Text;
    case Qt::CheckStateRole:
        if (!HasCheckBoxes)
            return {};
        return line.Checked ? Qt::Checked : Qt::Unchecked;
    case IdRole:
        return line.Id;
    case GroupRole:
        return line.Group;
    case LanguageRole:
        return line.Language;
    default:
        return {};
    }
}

bool TListItemModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !HasCheckBoxes || !index.isValid() || !ValidRow(index.row()))
        return false;
    const bool checked = value.toInt() == Qt::Checked;
    TListItem& line = Lines[static_cast<std::size_t>(index.row())];
    if (line.Checked == checked)
        return true;
    line.Checked = checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit UserChecked(index.row());
    return true;
}

Qt::ItemFlags TListItemModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (HasCheckBoxes)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

QVariant TListItemModel::headerData(int, Qt::Orientation, int role) const {
    // No column title: otherwise a header (hidden or not) reads as the column's number.
    return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
}

QSize TLineHeightDelegate::sizeHint(const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (LineHeight > 0)
        size.setHeight(LineHeight);
    if (FitToView)
        size.setWidth(1);
    return size;
}

} // namespace pellora
