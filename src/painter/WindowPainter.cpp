#include "painter/WindowPainter.h"

#include "platform/FileUtil.h"
#include "platform/StrUtils.h"
#include "skins/ZdSkinData.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QPainter>
#include <QTabBar>
#include <QTabWidget>
#include <QWidget>

#include <algorithm>
#include <exception>
#include <vector>

namespace pellora {

namespace {

// Line breaks as Qt's text layout reads them (files and credits carry CR LF).
QString NormalizeBreaks(const QString& text) {
    QString result = text;
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}

} // namespace

void TCompSkin::LoadFromSheet(const TStyleSheet& sheet) {
    sheet.GetColor(Selector, "background-color", BackColor, ButtonFaceRGB());
    std::string value;
    if (!sheet.GetValue(Selector, "background-image", value) ||
        !TStyleSheet::ParseUrl(value, BackImage))
        BackImage.clear();
    sheet.GetColor(Selector, "color", TextColor, clBlack);
}

TChinaPainter* TPainterList::ButtonDataSource() const {
    return Painters.empty() ? nullptr : Painters.back();
}

void TPainterList::Add(TChinaPainter* painter) {
    Painters.push_back(painter);
}

void TPainterList::Remove(TChinaPainter* painter) {
    Painters.erase(std::remove(Painters.begin(), Painters.end(), painter), Painters.end());
}

TChinaPainter::TChinaPainter(TPainterList* painters)
    : Buttons(std::make_unique<TZdSkinData>()), Painters(painters) {
    if (Painters != nullptr)
        Painters->Add(this);
    TChinaPainter::Reset();
}

TChinaPainter::~TChinaPainter() {
    // The skinned buttons must never reach a painter that is gone: the one made before this
    // becomes their source again.
    if (Painters != nullptr)
        Painters->Remove(this);
}

void TChinaPainter::Reset() {
    Credits.clear();
    SkinFolder.clear();
    Body.BackColor = clWindow;
    Body.TextColor = clWindowText;
    Body.BackImage.clear();
    CaptionPart.BackColor = clHighlight;
    CaptionPart.TextColor = clHighlightText;
    CaptionPart.BackImage.clear();
}

bool TChinaPainter::LoadBackground(const std::string&) {
    return false;
}

void TChinaPainter::LoadSkin(const std::string& folder, const TStyleSheet& sheet,
                             const std::string& credits) {
    Reset();
    SkinFolder = folder;
    Body.LoadFromSheet(sheet);
    LoadBackground(Body.BackImage);
    CaptionPart.LoadFromSheet(sheet);
    Credits = credits;
    Colorizer.LoadFromSheet(sheet);

    std::string skinFile = folder.empty() ? std::string() : FindIgnoreCase(folder, "skin.skn");
    if (skinFile.empty())
        skinFile = AddTrailingSlash(folder) + "skin.skn";
    Buttons->OnMessage = OnMessage;
    try {
        // A file that is there but unusable keeps the earlier skin's buttons in the data; they
        // must not stand in for this skin's.
        ButtonDataLoaded =
            !folder.empty() && Buttons->Load(skinFile) && Buttons->ErrorText().empty();
    } catch (const std::exception&) {
        // An unreadable skin file costs the skin its buttons, not its colours.
        ButtonDataLoaded = false;
    }
    ButtonSkin.SetButtons(ButtonDataLoaded ? &Buttons->Buttons() : nullptr);
}

std::string TChinaPainter::SkinFile(const std::string& name) const {
    if (SkinFolder.empty() || name.empty())
        return std::string();
    std::string path = RemoveTrailingSlash(SkinFolder);
    bool any = false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = name.size();
        const std::string part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty())
            continue;
        // Skin images live inside the skin's folder.
        if (part == "." || part == "..")
            return std::string();
        path = FindIgnoreCase(path, part);
        if (path.empty())
            return std::string();
        any = true;
    }
    return any && FileExists(path) ? path : std::string();
}

void TChinaPainter::PaintBackground(QPainter& painter, const QRect& rect) const {
    painter.fillRect(rect, ResolveColor(Body.BackColor));
}

void TChinaPainter::PaintControlBackground(const QWidget* control, QPainter& painter) {
    if (control == nullptr)
        return;
    const QRect whole(0, 0, control->width(), control->height());
    const std::string file = SkinFile(Body.BackImage);
    if (!file.empty() &&
        Tiler.Draw(painter, QString::fromStdString(file), QRect(control->pos(), control->size())))
        return;
    painter.fillRect(whole, painter.brush());
}

void TChinaPainter::PaintCaption(QPainter& painter, const QRect& rect, const QString& text,
                                 const QImage& icon) const {
    painter.save();
    painter.fillRect(rect, ResolveColor(CaptionPart.BackColor));
    if (!icon.isNull())
        painter.drawImage(QRect(rect.left() + 2, rect.top() + 2, 16, 16), icon);
    painter.setPen(ResolveColor(CaptionPart.TextColor));
    painter.drawText(QRect(rect.left() + 21, rect.top() + 3, 0, 0),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip | Qt::TextSingleLine, text);
    painter.restore();
}

void TChinaPainter::DrawMenuItem(QPainter& painter, const QRect& rect, bool selected,
                                 const QString& caption) const {
    const TCompSkin& part = selected ? CaptionPart : Body;
    painter.save();
    painter.fillRect(rect, ResolveColor(part.BackColor));
    if (caption == QStringLiteral("-")) {
        // An etched line: shadow above, highlight below, 4 pixels into the item.
        const int top = rect.top() + 4;
        painter.setPen(ResolveColor(clBtnShadow));
        painter.drawLine(rect.left(), top, rect.right(), top);
        painter.setPen(ResolveColor(clBtnHighlight));
        painter.drawLine(rect.left(), top + 1, rect.right(), top + 1);
    } else {
        painter.setPen(ResolveColor(part.TextColor));
        // Centred both ways; menu rows here are taller than the text, which would otherwise
        // sit at their top.
        painter.drawText(rect, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextShowMnemonic, caption);
    }
    painter.restore();
}

int TChinaPainter::DrawMessage(QPainter& painter, const QString& text, const QRect& rect,
                               int size) const {
    if (text.isEmpty())
        return size;
    const QString lines = NormalizeBreaks(text);
    const QFont baseFont = painter.font();
    const int flags = Qt::TextWordWrap | Qt::AlignHCenter | Qt::AlignTop;
    auto fontOfSize = [&baseFont](int points) {
        QFont font(baseFont);
        font.setPointSize(std::max(points, 1));
        return font;
    };
    auto textHeight = [&](int points) {
        const QFontMetrics metrics(fontOfSize(points), painter.device());
        return metrics
            .boundingRect(QRect(0, 0, std::max(rect.width(), 1), rect.height()), flags, lines)
            .height();
    };

    int current = size;
    int height = textHeight(current);
    while (rect.height() < height) {
        current = current * 4 / 5;
        height = textHeight(current);
        if (current <= 7)
            break;
    }
    current = std::max(current, 1);

    QRect target = rect;
    if (height < rect.height())
        target.setTop(rect.top() + (rect.height() - height) / 2);

    painter.save();
    QFont font = fontOfSize(current);
    font.setStyleStrategy(QFont::PreferAntialias);
    painter.setFont(font);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(ResolveColor(Body.TextColor));
    painter.setBrush(Qt::NoBrush);
    painter.drawText(target, flags, lines);
    painter.restore();
    return current;
}

void TChinaPainter::ColorControl(QObject* control) const {
    if (Colorizer.LabelColoring.Apply(control))
        return;
    if (auto* check = qobject_cast<QCheckBox*>(control)) {
        QPalette palette = check->palette();
        palette.setColor(QPalette::Active, QPalette::Window, ResolveColor(Body.BackColor));
        palette.setColor(QPalette::Inactive, QPalette::Window, ResolveColor(Body.BackColor));
        palette.setColor(QPalette::Active, QPalette::WindowText, ResolveColor(Body.TextColor));
        palette.setColor(QPalette::Inactive, QPalette::WindowText, ResolveColor(Body.TextColor));
        check->setPalette(palette);
        check->setAutoFillBackground(true);
        return;
    }
    auto* tabWidget = qobject_cast<QTabWidget*>(control);
    auto* tabBar = qobject_cast<QTabBar*>(control);
    if (tabWidget != nullptr || tabBar != nullptr) {
        // A tab widget's own bar is coloured with it.
        if (tabBar != nullptr && qobject_cast<QTabWidget*>(tabBar->parent()) != nullptr)
            return;
        const TSkins* skins = SkinList();
        const TSkin* current = skins != nullptr ? skins->Current() : nullptr;
        if (current != nullptr)
            ApplyTabSetColoring(static_cast<QWidget*>(control), *current);
        return;
    }
    if (Colorizer.TreeColoring.Apply(control))
        return;
    // List boxes take the tree's colours.
    if (Colorizer.TreeColoring.TElListBoxColoring::Apply(control))
        return;
    Colorizer.ComboColoring.Apply(control);
}

void TChinaPainter::ApplyToForm(QWidget* form) {
    SkinTargets.OnControl = [this](QObject* control) { ColorControl(control); };
    SkinTargets.OnPaint = [this](QPainter& painter, int state, QAbstractButton* control,
                                 const QRect& rect) {
        ButtonSkin.Paint(painter, state, control, rect);
    };
    SkinTargets.Apply(form, SkinButtons && ButtonDataLoaded);
}

TWindowPainter::TWindowPainter(TPainterList* painters) : TChinaPainter(painters) {
    TWindowPainter::Reset();
}

void TWindowPainter::Reset() {
    TChinaPainter::Reset();
    HasTexture = false;
    Background.Clear();
}

bool TWindowPainter::LoadBackground(const std::string& imageName) {
    HasTexture = false;
    Background.Clear();
    const std::string file = SkinFile(imageName);
    if (file.empty())
        return false;
    // An image that does not decode, or has no pixels, leaves the plain colour.
    HasTexture = Background.Load(QString::fromStdString(file));
    return HasTexture;
}

void TWindowPainter::PaintBackground(QPainter& painter, const QRect& rect) const {
    // Pixels that turn out not to decode leave the plain colour too.
    const QImage texture = HasTexture ? Background.Pixels() : QImage();
    if (texture.isNull()) {
        TChinaPainter::PaintBackground(painter, rect);
        return;
    }
    // Whole tiles from the canvas origin; the last column and row overhang the rectangle.
    const int width = texture.width();
    const int height = texture.height();
    const QRect tiles(0, 0, (std::max(rect.width(), 0) / width + 1) * width,
                      (std::max(rect.height(), 0) / height + 1) * height);
    painter.save();
    painter.setBrushOrigin(0, 0);
    if (texture.hasAlphaChannel())
        painter.fillRect(tiles, ResolveColor(Body.BackColor));
    painter.fillRect(tiles, QBrush(texture));
    painter.restore();
    Background.Drawn();
}

} // namespace pellora
