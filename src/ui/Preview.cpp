#include "ui/Preview.h"

#include "painter/WindowPainter.h"
#include "skins/Skins.h"
#include "ui/AboutFrm.h"
#include "ui/ProgramContext.h"
#include "widgets/RoundTransButton.h"

#include <QPainter>
#include <QPushButton>

#include <cstdio>

namespace pellora {

TTexturePanel::TTexturePanel(QWidget* parent) : QWidget(parent) {}

void TTexturePanel::paintEvent(QPaintEvent* event) {
    if (!OnPaint) {
        QWidget::paintEvent(event);
        return;
    }
    QPainter painter(this);
    OnPaint(this, painter);
}

TPreviewForm::TPreviewForm(TProgramContext& context, QWidget* parent)
    : QWidget(parent), Context(context),
      PreviewPainter(std::make_unique<TWindowPainter>(&context.Painters())) {
    setObjectName(QStringLiteral("PreviewForm"));
    PreviewPainter->SkinButtons = true;
    Trace = qEnvironmentVariableIsSet("PELLORA_TRACE_STARTUP");
    Icon = QImage(16, 16, QImage::Format_RGB32);
    ProgramIconImage = ProgramIcon(Context.Folders());

    TexturePanel = new TTexturePanel(this);
    TexturePanel->setObjectName(QStringLiteral("TexturePanel"));
    TexturePanel->setGeometry(0, 0, 200, 153);
    TexturePanel->setAttribute(Qt::WA_OpaquePaintEvent);
    TexturePanel->setAccessibleName(QStringLiteral("Skin preview"));
    TexturePanel->OnPaint = [this](TTexturePanel*, QPainter& painter) {
        TexturePanelPaint(painter);
    };

    TestBtn = new TRoundTransButton(QStringLiteral("&Button"), TexturePanel);
    TestBtn->setGeometry(62, 88, 75, 25);
    TestBtn->hide();
    TestBtn->OnNeedBackground = [this](TRoundTransButton* sender, QPainter& painter) {
        PreviewPainter->PaintControlBackground(sender, painter);
    };

    // A sample of the skin's buttons: drawn by the preview's own button hook, so the skin
    // engine leaves it alone. It does nothing, so the keyboard passes it by.
    TestBtn2 = new QPushButton(QStringLiteral("&Button"), this);
    TestBtn2->setObjectName(QStringLiteral("TestBtn2"));
    TestBtn2->setGeometry(61, 120, 75, 25);
    TestBtn2->setProperty("tag", 99);
    TestBtn2->setFocusPolicy(Qt::NoFocus);
    TestBtn2->setAutoDefault(false);
    TestBtn2->setAccessibleDescription(QStringLiteral("A sample of the skin's buttons"));
}

// The painter, and with it the hook of TestBtn2, goes before the preview's controls.
TPreviewForm::~TPreviewForm() = default;

void TPreviewForm::ShowSkin(int index) {
    if (Trace)
        ChosenAt.start();
    Context.Skins().Apply(index, *PreviewPainter);
    Shown = index;
    PreviewPainter->ApplyToForm(this);
    TexturePanel->setAccessibleDescription(QString::fromStdString(PreviewPainter->Credits));
    TexturePanel->update();
    TestBtn2->update();
}

void TPreviewForm::TexturePanelPaint(QPainter& painter) {
    const int w = TexturePanel->width();
    const int h = TexturePanel->height();
    const TWindowPainter& skin = *PreviewPainter;
    skin.PaintBackground(painter, QRect(0, 0, w, h));
    CreditsSize =
        skin.DrawMessage(painter, QString::fromStdString(skin.Credits),
                         QRect(QPoint(10, 34), QPoint(w - 10 - 1, h - 10 - 1)), CreditsStartSize);
    Icon.fill(skin.ResolveColor(skin.CaptionPart.BackColor));
    if (!ProgramIconImage.isNull()) {
        QPainter iconPainter(&Icon);
        ProgramIconImage.paint(&iconPainter, QRect(0, 0, 16, 16));
    }
    skin.PaintCaption(painter, QRect(QPoint(2, 2), QPoint(w - 2 - 1, 22 - 1)),
                      QStringLiteral("Pellora"), Icon);
    if (Trace && ChosenAt.isValid() && Shown >= 0 && Shown < Context.Skins().Count()) {
        std::fprintf(stderr, "pellora: preview of %s painted %.1f ms after the choice\n",
                     Context.Skins().Item(Shown).Name.c_str(),
                     double(ChosenAt.nsecsElapsed()) / 1e6);
        ChosenAt.invalidate();
    }
}

} // namespace pellora
