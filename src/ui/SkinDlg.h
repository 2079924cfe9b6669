#pragma once

#include "ui/SkinnedDialog.h"

class QFrame;
class QLabel;
class QListWidget;
class QPushButton;

namespace pellora {

class TPreviewForm;
class TRoundTransButton;

// The skin chooser: the skins of the skin list with a live preview of the selected one. OK
// makes the selected skin the program's; Cancel leaves everything as it was.
class TSkinDialog : public TSkinnedDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 414;
    static constexpr int ClientHeight = 282;

    explicit TSkinDialog(TProgramContext& context, QWidget* parent = nullptr);

    // Every skin of the skin list in its order, the current one selected and previewed.
    void FillList();
    // Previews the selected skin (the list's click, and the arrow keys).
    void SkinListBoxClick();
    // OK: a selection other than the current skin becomes current and is applied to the
    // program's painter; then the chooser closes.
    void OkButtonClick();
    void CancelButtonClick();

    TPreviewForm* Preview() const { return PreviewForm; }

    // Components, as the window is designed.
    QLabel* Label1 = nullptr;
    QListWidget* SkinListBox = nullptr;
    QFrame* PreviewPanel = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    TRoundTransButton* OkBtn = nullptr;
    TRoundTransButton* CancelBtn = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void CreatePreview();

    TPreviewForm* PreviewForm = nullptr;
};

} // namespace pellora
