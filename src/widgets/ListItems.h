#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QStyledItemDelegate>

#include <vector>

namespace pellora {

// One line of the message trees and lists: the text it shows and what it stands for. A
// message line carries its language, group and id, so two lines of the same id (one message
// selected in two languages or groups) stay apart; a category line carries its group id in Id.
struct TListItem {
    QString Text;
    int Id = 0;
    int Group = 0;
    QString Language;
    bool Checked = false;
};

// The lines of one list or tree, with an optional check box on each. The program changes
// lines and check marks through the operations below, which never raise UserChecked; a check
// box changed through the item model interface (the view does that when the user clicks the
// box or presses Space, a screen reader's toggle action too) raises it.
class TListItemModel : public QAbstractListModel {
    Q_OBJECT
public:
    // Roles for the parts of a line besides its text and check state.
    enum Role { IdRole = Qt::UserRole, GroupRole, LanguageRole };

    explicit TListItemModel(bool checkBoxes, QObject* parent = nullptr);

    bool CheckBoxes() const { return HasCheckBoxes; }

    int Count() const { return static_cast<int>(Lines.size()); }
    // Throws std::out_of_range for a row outside 0 to Count() - 1.
    const TListItem& Item(int row) const;
    const std::vector<TListItem>& Items() const { return Lines; }

    void Clear();
    // Replaces every line at once: the fast way to fill a view with thousands of lines.
    void Assign(std::vector<TListItem> items);
    // Appends one line; its row.
    int Add(TListItem item);
    // Rows out of range are ignored by the changing operations.
    void Remove(int row);
    void SetText(int row, const QString& text);
    void SetChecked(int row, bool checked);

    // The first (or last) row whose Id is `id`; -1 when there is none.
    int IndexOfId(int id) const;
    int LastIndexOfId(int id) const;
    // The first row of that language (compared without regard to case), group and id; -1
    // when there is none.
    int IndexOf(const QString& language, int group, int id) const;
    // Checks the first row of every id in the list; the number of rows checked.
    int CheckIds(const std::vector<int>& ids);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    // The user changed the check box of this row.
    void UserChecked(int row);

private:
    bool ValidRow(int row) const { return row >= 0 && row < Count(); }

    bool HasCheckBoxes;
    std::vector<TListItem> Lines;
};

// Gives every line of a view the same height.
class TLineHeightDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    int LineHeight = 0; // 0: the style's own height
    // The lines ask for no width of their own, so a list view makes them as wide as it is
    // and elides a longer text instead of scrolling sideways.
    bool FitToView = false;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace pellora
