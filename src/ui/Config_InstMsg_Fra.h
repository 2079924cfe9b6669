#pragma once

#include "core/InstalledPopups.h"
#include "ui/ErrorBox.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QPushButton;

namespace pellora {

class TElListBox;

// The "Selected" page of the messages dialog: the messages selected for showing in the
// chosen category, of every language, with "&Remove". It holds the selection, which the other
// pages change through it; the selection is read once and written once, by SaveSelects.
//
// Each line carries the language, group and number of its entry, so that a number selected
// twice (one library number in two languages, or in two groups) is still removed as the very
// entry the user chose.
class TInstalledMsgFrame : public QWidget {
    Q_OBJECT
public:
    explicit TInstalledMsgFrame(QWidget* parent = nullptr);

    TElListBox* PopupListBox = nullptr;
    QPushButton* RemoveBtn = nullptr;

    // The selection ("Message Selects.dat").
    TInstalledPopups Selects;
    // An entry was removed with "&Remove".
    std::function<void(TInstalledMsgFrame* sender)> OnRemoved;
    // Where errors of the page's handlers go; the error box when empty.
    TErrorReport OnError;

    // An absent file gives an empty selection.
    void LoadSelects(const std::string& path);
    // Lists the entries of that group, of every language, in file order.
    void ShowCategory(const QString& name, int groupId);
    void AddInstalled(const QString& language, int group, const QString& text, int id);
    void ModifyInstalled(const QString& language, int group, const QString& text, int id);
    void RemoveInstalled(const QString& language, int group, int id);
    // Numbers of the selected own (negative) or library (positive) messages of that
    // language; group 0 = every group.
    void GetOwnIds(const QString& language, int group, std::vector<int>& ids) const;
    void GetLibraryIds(const QString& language, int group, std::vector<int>& ids) const;
    void SaveSelects();
    void RemoveBtnClick();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Lines that cannot be read are passed over here and kept in the file as they are.
    void GetIds(const QString& language, int group, bool own, std::vector<int>& ids) const;
};

} // namespace pellora
