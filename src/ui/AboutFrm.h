#pragma once

#include "ui/SkinnedDialog.h"

class QIcon;
class QLabel;
class QPushButton;

namespace pellora {

class TPellFolders;

// The program's icon: "pellora.png" of the installation folder, else the application's icon.
QIcon ProgramIcon(const TPellFolders& folders);

// The about box: the program's version in the caption, what the program is for, who makes it
// and where to find it, on the skin's background.
class TAboutForm : public TSkinnedDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 406;
    static constexpr int ClientHeight = 274;

    explicit TAboutForm(TProgramContext& context, QWidget* parent = nullptr);

    // The version stamped into the running program; "?" when it carries none.
    static QString ReadVersionInfo();
    const QString& Version() const { return VersionText; }

    // Components, as the window is designed.
    QLabel* Image1 = nullptr;
    QLabel* PurposeLbl = nullptr;
    QLabel* IntervalLbl = nullptr;
    QLabel* CreditLbl = nullptr;
    QLabel* WebsiteLbl = nullptr;
    QPushButton* OkBtn = nullptr;

    void OkBtnClick();

private:
    void FormCreate();

    QString VersionText;
};

} // namespace pellora
