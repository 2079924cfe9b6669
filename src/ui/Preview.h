#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>

class QPushButton;

namespace pellora {

class TProgramContext;
class TRoundTransButton;
class TWindowPainter;

// A panel whose painting is handed to its owner when OnPaint is assigned.
class TTexturePanel : public QWidget {
    Q_OBJECT
public:
    explicit TTexturePanel(QWidget* parent = nullptr);

    std::function<void(TTexturePanel* sender, QPainter& painter)> OnPaint;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The skin chooser's live preview: a skin's background, caption bar, credits and a push
// button drawn from the skin's button images, painted by a painter of its own so the program
// keeps its look until the user says OK.
class TPreviewForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int CreditsStartSize = 14;

    explicit TPreviewForm(TProgramContext& context, QWidget* parent = nullptr);
    ~TPreviewForm() override;

    // Loads the skin of that index of the skin list into the preview's painter and repaints.
    void ShowSkin(int index);
    // The index shown last; -1 before the first.
    int ShownSkin() const { return Shown; }

    TWindowPainter& Painter() { return *PreviewPainter; }
    // The font size the credits were drawn at by the last paint; 0 before it.
    int CreditsFontSize() const { return CreditsSize; }

    // Components, as the preview is designed.
    TTexturePanel* TexturePanel = nullptr;
    TRoundTransButton* TestBtn = nullptr;
    QPushButton* TestBtn2 = nullptr;

private:
    void TexturePanelPaint(QPainter& painter);

    TProgramContext& Context;
    // Joins the context's list of painters while the preview lives.
    std::unique_ptr<TWindowPainter> PreviewPainter;
    QIcon ProgramIconImage;
    QImage Icon;
    int Shown = -1;
    int CreditsSize = 0;
    // With PELLORA_TRACE_STARTUP set, the time from choosing a skin to its painted preview
    // goes to stderr.
    bool Trace = false;
    QElapsedTimer ChosenAt;
};

} // namespace pellora
