#pragma once

#include "painter/ButtonSkin.h"
#include "painter/Colorings.h"
#include "painter/SkinTargets.h"
#include "skins/Skins.h"
#include "skins/StyleSheet.h"
#include "widgets/BackgroundTiler.h"
#include "widgets/Picture.h"

#include <QImage>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QPainter;
class QWidget;

namespace pellora {

class TChinaPainter;
class TZdSkinData;

// The painters alive now, oldest first. The skinned buttons draw from the newest one's button
// data (the skin preview's while it is open, the program's painter otherwise). A painter made
// with a list joins it and leaves it when destroyed, so a destroyed painter is never handed
// out; the list must outlive its painters.
class TPainterList {
public:
    TPainterList() = default;
    TPainterList(const TPainterList&) = delete;
    TPainterList& operator=(const TPainterList&) = delete;

    // The newest painter of the list; null when there is none.
    TChinaPainter* ButtonDataSource() const;

private:
    friend class TChinaPainter;
    void Add(TChinaPainter* painter);
    void Remove(TChinaPainter* painter);

    std::vector<TChinaPainter*> Painters;
};

// One selector's look.
class TCompSkin {
public:
    explicit TCompSkin(std::string selector) : Selector(std::move(selector)) {}

    // Colours and image from the selector's rule; a sheet without that rule leaves them.
    void LoadFromSheet(const TStyleSheet& sheet);

    const std::string Selector;
    TColor BackColor = clWindow;
    TColor TextColor = clWindowText;
    std::string BackImage; // upper case, relative to the skin folder; empty for none
};

// Paints the program's own windows from a skin: background, caption bar, menu items and the
// message text, and colours a form's labels, lists, combo boxes, trees and tab sets.
class TChinaPainter : public TSkinPainter {
public:
    // With a list, the painter joins it for its lifetime.
    explicit TChinaPainter(TPainterList* painters = nullptr);
    ~TChinaPainter() override;
    TChinaPainter(const TChinaPainter&) = delete;
    TChinaPainter& operator=(const TChinaPainter&) = delete;

    // System colours: window colours for the body, highlight colours for the caption.
    virtual void Reset();
    // Loads the image (relative to SkinFolder) as the background texture; false when there is
    // none to use. The plain painter keeps no texture.
    virtual bool LoadBackground(const std::string& imageName);

    // `folder` is the skin's folder; the sheet gives colours and the background image name,
    // "skin.skn" in the folder the button data.
    void LoadSkin(const std::string& folder, const TStyleSheet& sheet,
                  const std::string& credits) override;

    // The colour a stored value stands for now (system colours through the palette).
    QColor ResolveColor(TColor color) const { return pellora::ResolveColor(color); }

    // Fills the rectangle with the caption colour, draws the icon stretched into 16 x 16 at
    // (left + 2, top + 2) and the text at (left + 21, top + 3).
    void PaintCaption(QPainter& painter, const QRect& rect, const QString& text,
                      const QImage& icon) const;
    // One popup menu item, its caption centred in the rectangle; the caption "-" is a
    // separator, an etched line 4 pixels below the rectangle's top (so the rectangle must be
    // at least 6 pixels high).
    void DrawMenuItem(QPainter& painter, const QRect& rect, bool selected,
                      const QString& caption) const;
    // Draws the text centred and word-wrapped in the rectangle in the painter's font at
    // `size` points, shrinking the size by a fifth while the text is taller than the
    // rectangle (down to 7 points or less), and centres the block vertically. Returns the
    // size the text was drawn at (the given size for an empty text, which draws nothing).
    int DrawMessage(QPainter& painter, const QString& text, const QRect& rect, int size) const;
    // The body colour, or for the window painter its texture tiled from the origin.
    virtual void PaintBackground(QPainter& painter, const QRect& rect) const;
    // The background behind a round transparent control: the body image tiled so that it lines
    // up with the parent's background, clipped to the inscribed ellipse; without an image the
    // control's rectangle is filled with the painter's current brush.
    void PaintControlBackground(const QWidget* control, QPainter& painter);

    // Colours the form's controls; hooks its push buttons when SkinButtons is set and the
    // skin has button data.
    void ApplyToForm(QWidget* form);
    // Colours one control of a form (what ApplyToForm does for every control it visits).
    void ColorControl(QObject* control) const;

    // The skin list whose current skin colours tab sets; null (the default) leaves tab sets
    // alone. The list must outlive the painter or be cleared first.
    void SetSkinList(const TSkins* skins) { TabSkins = skins; }
    const TSkins* SkinList() const { return TabSkins; }

    // The image file for a name relative to the skin folder, found without regard to letter
    // case in every part of the name; empty when there is no such file or the name leaves
    // the folder.
    std::string SkinFile(const std::string& name) const;

    std::string Credits;
    TColorizer Colorizer;
    TCompSkin Body{"body"};
    TCompSkin CaptionPart{".caption"};
    // Lets ApplyToForm hook the form's push buttons and draw them from the skin's button
    // images (when the skin has a "skin.skn"); off, they are unhooked and look as usual.
    bool SkinButtons = false;
    TSkinTargets SkinTargets;
    // Draws the buttons this painter hooked, from this painter's button data.
    TButtonSkin ButtonSkin;
    std::string SkinFolder;
    // The skin's "skin.skn" was read into the button data.
    bool ButtonDataLoaded = false;
    // Told when a skin file has an older format (the user should hear of it).
    std::function<void(const std::string& text)> OnMessage;
    // The skin's "skin.skn" button data; never null.
    TZdSkinData& ButtonData() { return *Buttons; }
    const TZdSkinData& ButtonData() const { return *Buttons; }

protected:
    TBackgroundTiler Tiler;

private:
    std::unique_ptr<TZdSkinData> Buttons;
    TPainterList* Painters = nullptr;
    const TSkins* TabSkins = nullptr;
};

// The painter of the program's windows: adds the background texture, decoded at its first
// paint (a large one is let go again while no window paints with it).
class TWindowPainter : public TChinaPainter {
public:
    explicit TWindowPainter(TPainterList* painters = nullptr);

    void Reset() override;
    // Reads only as much of the image as tells that it is a picture with pixels.
    bool LoadBackground(const std::string& imageName) override;
    void PaintBackground(QPainter& painter, const QRect& rect) const override;

    // The texture's pixels in memory now: none before the first paint.
    const QImage& Texture() const { return Background.Decoded(); }
    TPicture& BackgroundPicture() { return Background; }
    bool HasTexture = false;

private:
    TPicture Background;
};

} // namespace pellora
