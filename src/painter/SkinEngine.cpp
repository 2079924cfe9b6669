#include "painter/SkinEngine.h"

#include "painter/Colorings.h"
#include "widgets/Picture.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QByteArray>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <optional>

namespace pellora {

void DrawNineSlice(QPainter& painter, const QImage& frame, const QRect& target, int left, int top,
                   int right, int bottom) {
    if (frame.isNull() || target.isEmpty())
        return;
    left = std::max(left, 0);
    right = std::max(right, 0);
    top = std::max(top, 0);
    bottom = std::max(bottom, 0);
    if (target.width() < left + right)
        left = right = 0;
    if (target.height() < top + bottom)
        top = bottom = 0;
    const int fw = frame.width();
    const int fh = frame.height();
    const int w = target.width();
    const int h = target.height();
    const int sx[3] = {0, left, fw - right};
    const int sw[3] = {left, fw - left - right, right};
    const int sy[3] = {0, top, fh - bottom};
    const int sh[3] = {top, fh - top - bottom, bottom};
    const int dx[3] = {target.left(), target.left() + left, target.left() + w - right};
    const int dw[3] = {left, w - left - right, right};
    const int dy[3] = {target.top(), target.top() + top, target.top() + h - bottom};
    const int dh[3] = {top, h - top - bottom, bottom};

    painter.save();
    // Pixels are repeated, never blended, as the frames are drawn for.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const QRect source(sx[col], sy[row], sw[col], sh[row]);
            const QRect dest(dx[col], dy[row], dw[col], dh[row]);
            if (source.isEmpty() || dest.isEmpty() || !frame.rect().contains(source))
                continue;
            painter.drawImage(dest, frame, source);
        }
    }
    painter.restore();
}

TSkinButtonLook::TSkinButtonLook(const TZdDataSkinButton& data)
    : LeftWidth(std::max(data.LeftWidth, 0)), TopHeight(std::max(data.TopHeight, 0)),
      RightWidth(std::max(data.RightWidth, 0)),
      BottomHeight(std::max(data.BottomHeight, 0)), Captions{ResolveColor(data.NormalColour2),
                                                             ResolveColor(data.MouseOverColour2),
                                                             ResolveColor(data.PressedColour2)} {
    if (data.Bitmap.empty())
        return;
    // Skin files carry bitmaps.
    QImage image = ReadImage(QByteArray::fromStdString(data.Bitmap), "BMP");
    // Five frames side by side need at least a pixel each.
    if (image.isNull() || image.width() < 5 || image.height() < 1)
        return;
    image = image.convertToFormat(QImage::Format_ARGB32);
    if (data.Trans == 1) {
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if ((line[x] & 0xFFFFFFu) == 0xFF00FFu)
                    line[x] = 0;
        }
    }
    Strip = std::move(image);
}

QImage TSkinButtonLook::Frame(int state) const {
    if (Strip.isNull())
        return QImage();
    const int width = Strip.width() / 5;
    const int index = std::clamp(state, 1, 5) - 1;
    return Strip.copy(index * width, 0, width, Strip.height());
}

QColor TSkinButtonLook::CaptionColor(int state) const {
    switch (state) {
    case 1:
        return Captions[0];
    case 4:
        return Captions[1];
    case 2:
        return Captions[2];
    default:
        return QColor();
    }
}

void TSkinButtonLook::Paint(QPainter& painter, const QRect& rect, int state) const {
    DrawNineSlice(painter, Frame(state), rect, LeftWidth, TopHeight, RightWidth, BottomHeight);
}

namespace {

QStyle* ApplicationStyleCopy() {
    QStyle* current = QApplication::style();
    return current != nullptr ? QStyleFactory::create(current->name()) : nullptr;
}

int TagOf(const QObject* object) {
    return object->property("tag").toInt();
}

// Relative luminance of a colour, as the WCAG contrast rule defines it.
double Luminance(const QColor& color) {
    auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

constexpr QPalette::ColorGroup AllGroups[] = {QPalette::Active, QPalette::Inactive,
                                              QPalette::Disabled};
constexpr QPalette::ColorGroup EnabledGroups[] = {QPalette::Active, QPalette::Inactive};

} // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TSkinButtonStyle::TSkinButtonStyle(TSkinButtonLook look, QColor outline)
    : QProxyStyle(ApplicationStyleCopy()), ButtonLook(std::move(look)), OutlineColour(outline) {}

int TSkinButtonStyle::StateOf(const QStyleOption& option) {
    if (!(option.state & QStyle::State_Enabled))
        return 3;
    if (option.state & (QStyle::State_Sunken | QStyle::State_On))
        return 2;
    if (option.state & (QStyle::State_MouseOver | QStyle::State_HasFocus))
        return 4;
    return 1;
}

void TSkinButtonStyle::drawControl(ControlElement element, const QStyleOption* option,
                                   QPainter* painter, const QWidget* widget) const {
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (element != CE_PushButton || button == nullptr || !ButtonLook.HasFrames()) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const int state = StateOf(*option);
    ButtonLook.Paint(*painter, option->rect, state);
    QStyleOptionButton label(*button);
    const QColor caption = ButtonLook.CaptionColor(state);
    if (caption.isValid())
        for (QPalette::ColorGroup group : EnabledGroups)
            label.palette.setColor(group, QPalette::ButtonText, caption);
    label.rect = subElementRect(SE_PushButtonContents, button, widget);
    QProxyStyle::drawControl(CE_PushButtonLabel, &label, painter, widget);
}

void TSkinButtonStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                     QPainter* painter, const QWidget* widget) const {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    const bool outlined = element == PE_FrameLineEdit || element == PE_Frame ||
                          element == PE_IndicatorCheckBox || element == PE_IndicatorRadioButton;
    // A control with the keyboard's focus keeps the style's focus outline.
    const bool focusShown =
        (option->state & State_HasFocus) &&
        (element == PE_FrameLineEdit || (option->state & State_KeyboardFocusChange));
    if (!outlined || focusShown || !OutlineColour.isValid() || option->rect.isEmpty())
        return;
    // Over the style's own outline, which takes a darker shade of the face and so vanishes on a
    // dark one.
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(OutlineColour, 1));
    const QRect& rect = option->rect;
    if (element == PE_IndicatorRadioButton) {
        const QPointF centre(rect.center() + QPoint(1, 1));
        const qreal radius = (rect.width() + (rect.width() + 1) % 2) / 2.0 - 1;
        painter->drawEllipse(centre, radius, radius);
    } else {
        painter->translate(0.5, 0.5);
        const QRectF box = QRectF(rect).adjusted(0, 0, -1, -1);
        if (element == PE_FrameLineEdit)
            painter->drawRoundedRect(box, 2, 2);
        else
            painter->drawRect(box);
    }
    painter->restore();
}

void TSkinButtonStyle::polish(QWidget* widget) {
    QProxyStyle::polish(widget);
    // The hot frame needs hover updates.
    if (qobject_cast<QPushButton*>(widget) != nullptr)
        widget->setAttribute(Qt::WA_Hover);
}

TSkinData::TSkinData(QObject* parent) : QObject(parent) {
    ReloadSoon.setSingleShot(true);
    ReloadSoon.setInterval(0);
    connect(&ReloadSoon, &QTimer::timeout, this, [this] {
        if (ReloadPending && IsActive)
            SetActive(true);
    });
}

TSkinData::~TSkinData() {
    if (qApp != nullptr)
        qApp->removeEventFilter(this);
    RestoreAll();
}

void TSkinData::SetSkinFile(const std::string& fileName) {
    FileName = fileName;
    if (!IsActive)
        return;
    // Callers mostly switch the engine on right after, which reads the file; the file is
    // read here only when nobody did by the time events run again.
    ReloadPending = true;
    ReloadSoon.start();
}

void TSkinData::SetActive(bool active) {
    if (!active) {
        if (qApp != nullptr)
            qApp->removeEventFilter(this);
        RestoreAll();
        ButtonStyle.reset();
        IsActive = false;
        ReloadPending = false;
        return;
    }
    ReloadPending = false;
    if (!LoadSkinFile()) {
        SetActive(false);
        return;
    }
    ApplyAll();
}

void TSkinData::UseSkin(const TSkinColours& colours, const TZdDataSkinButton& buttons) {
    SkinColours = colours;
    ButtonData = buttons;
    Error.clear();
    ReloadPending = false;
    ApplyAll();
}

bool TSkinData::LoadSkinFile() {
    Error.clear();
    bool told = false;
    TSkinContent content;
    content.OnMessage = [this, &told](const std::string& text) {
        told = true;
        emit Message(QString::fromStdString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    };
    try {
        switch (content.Load(FileName)) {
        case TSkinContent::TLoadResult::Loaded:
            SkinColours = ReadSkinColours(content);
            ButtonData = TZdSkinData::ReadButtons(content);
            return true;
        case TSkinContent::TLoadResult::NoFile:
            Error = QStringLiteral("The skin file \"%1\" does not exist.")
                        .arg(QString::fromStdString(FileName));
            break;
        case TSkinContent::TLoadResult::Rejected:
            Error = QString::fromStdString(content.ErrorText());
            break;
        }
    } catch (const std::exception& error) {
        Error = QString::fromUtf8(error.what());
    }
    if (Error.isEmpty())
        Error = QStringLiteral("The skin file \"%1\" cannot be used.")
                    .arg(QString::fromStdString(FileName));
    if (!told)
        emit Message(Error);
    return false;
}

std::optional<QColor> TSkinData::SkinColour(const char* key) const {
    for (std::size_t i = 0; i < SkinColourKeys.size(); ++i)
        if (std::strcmp(SkinColourKeys[i], key) == 0 && SkinColours[i])
            return ResolveColor(*SkinColours[i]);
    return std::nullopt;
}

QPalette TSkinData::SkinPalette(const QPalette& standard) const {
    auto colour = [this](const char* key) { return SkinColour(key); };
    QPalette palette = standard;
    // Faces and bevels in every state; texts only where the control is enabled, so disabled
    // text stays greyed.
    auto face = [&palette](QPalette::ColorRole role, const QColor& color) {
        for (QPalette::ColorGroup group : AllGroups)
            palette.setColor(group, role, color);
    };
    auto text = [&palette](QPalette::ColorRole role, const QColor& color) {
        for (QPalette::ColorGroup group : EnabledGroups)
            palette.setColor(group, role, color);
    };
    if (auto c = colour("ButtonFace")) {
        face(QPalette::Window, *c);
        face(QPalette::Button, *c);
    }
    if (auto c = colour("WindowText"))
        text(QPalette::WindowText, *c);
    // Edits and lists draw their text on Base, which the skin names no colour for. Its menu
    // colours are the pair it draws as text on a field, so they stand in; without them the
    // face and the window text do. A text colour with nothing to stand on is used only where
    // it reads on the standard field (a light text on a white field cannot be read).
    std::optional<QColor> field = colour("Menu");
    std::optional<QColor> fieldText = field ? colour("MenuText") : std::nullopt;
    if (!field)
        field = colour("ButtonFace");
    if (!fieldText)
        fieldText = colour("WindowText");
    if (field) {
        face(QPalette::Base, *field);
        face(QPalette::AlternateBase, *field);
    }
    const QColor standardField = standard.color(QPalette::Active, QPalette::Base);
    if (fieldText && (field || ContrastRatio(*fieldText, standardField) >= MinimumTextContrast)) {
        text(QPalette::Text, *fieldText);
        QColor placeholder = *fieldText;
        placeholder.setAlpha(128);
        text(QPalette::PlaceholderText, placeholder);
    }
    if (auto c = colour("ButtonText"))
        text(QPalette::ButtonText, *c);
    if (auto c = colour("Hilight"))
        text(QPalette::Highlight, *c);
    if (auto c = colour("HilightText"))
        text(QPalette::HighlightedText, *c);
    if (auto c = colour("ButtonHilight"))
        face(QPalette::Light, *c);
    if (auto c = colour("Buttonlight"))
        face(QPalette::Midlight, *c);
    if (auto c = colour("ButtonShadow"))
        face(QPalette::Dark, *c);
    if (auto c = colour("ButtonDkShadow"))
        face(QPalette::Shadow, *c);
    if (colour("ButtonFace") || colour("ButtonShadow")) {
        const QColor button = palette.color(QPalette::Active, QPalette::Button);
        const QColor dark = palette.color(QPalette::Active, QPalette::Dark);
        face(QPalette::Mid,
             QColor((button.red() + dark.red()) / 2, (button.green() + dark.green()) / 2,
                    (button.blue() + dark.blue()) / 2));
    }
    return palette;
}

TSkinData::TSaved& TSkinData::Remember(QWidget* widget) {
    auto found = Saved.find(widget);
    if (found != Saved.end())
        return *found;
    TSaved saved;
    saved.Widget = widget;
    saved.HadPalette = widget->testAttribute(Qt::WA_SetPalette);
    saved.Palette = widget->palette();
    // An address may come back for another widget; its record must not.
    connect(widget, &QObject::destroyed, this, [this, widget] { Saved.remove(widget); });
    return *Saved.insert(widget, saved);
}

void TSkinData::SetRoles(QWidget* widget, const QPalette& palette) {
    Remember(widget).PaletteSet = true;
    widget->setPalette(palette);
}

void TSkinData::ApplyAll() {
    // The old style stays alive until no button uses it any more.
    std::unique_ptr<TSkinButtonStyle> oldStyle = std::move(ButtonStyle);
    RestoreAll();
    // Outlines halfway between the field's text and the face: they show on light and dark
    // faces alike.
    const QPalette skinned = SkinPalette(QApplication::palette());
    const QColor text = skinned.color(QPalette::Active, QPalette::Text);
    const QColor face = skinned.color(QPalette::Active, QPalette::Window);
    const QColor outline((text.red() + face.red()) / 2, (text.green() + face.green()) / 2,
                         (text.blue() + face.blue()) / 2);
    ButtonStyle = std::make_unique<TSkinButtonStyle>(TSkinButtonLook(ButtonData), outline);
    IsActive = true;
    if (qApp != nullptr) {
        qApp->removeEventFilter(this);
        qApp->installEventFilter(this);
    }
    for (QWidget* window : QApplication::topLevelWidgets())
        SkinWindow(window);
    oldStyle.reset();
}

void TSkinData::RestoreAll() {
    const QList<TSaved> records = Saved.values();
    Saved.clear();
    for (const TSaved& saved : records) {
        QWidget* widget = saved.Widget.data();
        if (widget == nullptr)
            continue;
        disconnect(widget, &QObject::destroyed, this, nullptr);
        if (saved.Styled)
            widget->setStyle(saved.OldStyle.data());
        // A palette given before the skin comes back as it was; none means inherited again.
        if (saved.PaletteSet)
            widget->setPalette(saved.HadPalette ? saved.Palette : QPalette());
    }
}

void TSkinData::SkinWindow(QWidget* window) {
    if (window == nullptr || Saved.contains(window))
        return;
    const bool skipWindow = TagOf(window) == SkipTag;
    // The controls' own palettes before the window's changes reach them.
    const QList<QWidget*> controls = window->findChildren<QWidget*>();
    QList<QPalette> standards;
    standards.reserve(controls.size());
    for (QWidget* control : controls)
        standards.append(control->palette());

    if (!skipWindow) {
        QPalette palette = SkinPalette(window->palette());
        if (qobject_cast<QMenu*>(window) != nullptr) {
            if (auto back = SkinColour("Menu")) {
                for (QPalette::ColorGroup group : AllGroups) {
                    palette.setColor(group, QPalette::Window, *back);
                    palette.setColor(group, QPalette::Base, *back);
                }
            }
            if (auto fore = SkinColour("MenuText")) {
                for (QPalette::ColorGroup group : EnabledGroups) {
                    palette.setColor(group, QPalette::WindowText, *fore);
                    palette.setColor(group, QPalette::Text, *fore);
                    palette.setColor(group, QPalette::ButtonText, *fore);
                }
            }
        }
        SetRoles(window, palette);
    }
    for (int i = 0; i < controls.size(); ++i) {
        // Windows among the children are skinned as windows of their own.
        if (!controls[i]->isWindow() && controls[i]->window() == window)
            SkinControl(controls[i], standards[i]);
    }
}

void TSkinData::SkinControl(QWidget* control, const QPalette& standard) {
    if (control == nullptr || Saved.contains(control))
        return;
    QWidget* window = control->window();
    const bool windowSkinned = window != nullptr && TagOf(window) != SkipTag;
    if (TagOf(control) == SkipTag) {
        if (windowSkinned)
            KeepStandardLook(control, standard);
        return;
    }
    // Push buttons get the skin's frames, fields and boxes its outlines.
    if (qobject_cast<QPushButton*>(control) != nullptr ||
        qobject_cast<QLineEdit*>(control) != nullptr ||
        qobject_cast<QAbstractScrollArea*>(control) != nullptr ||
        qobject_cast<QCheckBox*>(control) != nullptr ||
        qobject_cast<QRadioButton*>(control) != nullptr) {
        TSaved& saved = Remember(control);
        saved.Styled = true;
        saved.OldStyle = control->testAttribute(Qt::WA_SetStyle) ? control->style() : nullptr;
        control->setStyle(ButtonStyle.get());
        return;
    }
    if (auto* bar = qobject_cast<QMenuBar*>(control); bar != nullptr && windowSkinned)
        SkinMenuBar(bar);
}

void TSkinData::KeepStandardLook(QWidget* control, const QPalette& standard) {
    // What it showed without the skin, except what was set on it directly.
    QPalette palette = control->palette();
    for (QPalette::ColorGroup group : AllGroups)
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto r = static_cast<QPalette::ColorRole>(role);
            if (!palette.isBrushSet(group, r))
                palette.setBrush(group, r, standard.brush(group, r));
        }
    SetRoles(control, palette);
}

void TSkinData::SkinMenuBar(QMenuBar* bar) {
    QPalette palette = bar->palette();
    if (auto back = SkinColour("Menubar")) {
        for (QPalette::ColorGroup group : AllGroups) {
            palette.setColor(group, QPalette::Window, *back);
            palette.setColor(group, QPalette::Button, *back);
        }
    }
    if (auto fore = SkinColour("MenuBarText")) {
        for (QPalette::ColorGroup group : EnabledGroups) {
            palette.setColor(group, QPalette::WindowText, *fore);
            palette.setColor(group, QPalette::ButtonText, *fore);
        }
    }
    SetRoles(bar, palette);
}

bool TSkinData::eventFilter(QObject* watched, QEvent* event) {
    if (IsActive && event->type() == QEvent::Polish && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow())
            SkinWindow(widget);
        else if (!Saved.contains(widget))
            SkinControl(widget, QApplication::palette(widget));
    }
    return QObject::eventFilter(watched, event);
}

} // namespace pellora
