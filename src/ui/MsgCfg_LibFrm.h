#pragma once

#include "core/MsgFile3.h"
#include "ui/MsgCfg_BaseFrm.h"

#include <memory>
#include <string>

class QPushButton;

namespace pellora {

// The "Public Library" page: the downloaded library of one language and the selected
// category, with the button that downloads the library again from the exchange server.
class TLibMsgFrame : public TBaseMsgCfgFrame {
    Q_OBJECT
public:
    explicit TLibMsgFrame(QWidget* parent = nullptr);

    QPushButton* DownloadBtn = nullptr;
    // The library of the selected language, read again at every reload.
    std::unique_ptr<TRemotePopups> Library;

    void FillLanguages() override;
    void CategoryChanged(const QString& name, int groupId) override;
    void SetFolderAndLanguage(const std::string& folder, const QString& code) override;

    void Reload();
    void ComboBox1Change() { Reload(); }
    void DownloadBtnClick();

private:
    void DownloadDone(const TExchangeResult& result);
};

} // namespace pellora
