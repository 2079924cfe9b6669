#include "widgets/FreshTabSet.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QShortcut>

namespace pellora {

namespace {

QColor Mix(const QColor& a, const QColor& b, double share) {
    const double rest = 1.0 - share;
    return QColor::fromRgbF(static_cast<float>(a.redF() * rest + b.redF() * share),
                            static_cast<float>(a.greenF() * rest + b.greenF() * share),
                            static_cast<float>(a.blueF() * rest + b.blueF() * share));
}

// A caption as it is read out: "&&" is a plain "&", any other "&" only marks the mnemonic.
QString ReadableCaption(const QString& caption) {
    QString text;
    text.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&')) {
            if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&'))
                text += QLatin1Char('&');
            ++i;
            if (i < caption.size() && caption[i] != QLatin1Char('&'))
                text += caption[i];
            continue;
        }
        text += caption[i];
    }
    return text;
}

// One tab as a screen reader sees it: a page tab, selected when it is the current one, that
// a "press" makes current.
class TTabAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TTabAccessible(TFreshTabSet* tabs, int index) : Tabs(tabs), Index(index) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    bool isValid() const override { return !Tabs.isNull() && Index < Tabs->count(); }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(Tabs.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::PageTab; }

    QString text(QAccessible::Text kind) const override {
        if (!isValid())
            return {};
        switch (kind) {
        case QAccessible::Name:
            return ReadableCaption(Tabs->tabText(Index));
        case QAccessible::Description:
            return Tabs->tabToolTip(Index);
        case QAccessible::Accelerator: {
            const QKeySequence key = QKeySequence::mnemonic(Tabs->tabText(Index));
            return key.toString(QKeySequence::NativeText);
        }
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect tab = Tabs->tabRect(Index);
        return {Tabs->mapToGlobal(tab.topLeft()), tab.size()};
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const bool current = Index == Tabs->currentIndex();
        state.selectable = true;
        state.selected = current;
        state.focusable = true;
        state.focused = current && Tabs->hasFocus();
        state.disabled = !Tabs->isEnabled() || !Tabs->isTabEnabled(Index);
        state.invisible = !Tabs->isVisible() || !Tabs->isTabVisible(Index);
        return state;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction() && isValid() && Tabs->isTabEnabled(Index))
            Tabs->setCurrentIndex(Index);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    int TabIndex() const { return Index; }

private:
    QPointer<TFreshTabSet> Tabs;
    int Index;
};

// The tab set as a screen reader sees it: a page tab list of its tabs.
class TTabSetAccessible : public QAccessibleWidget {
public:
    explicit TTabSetAccessible(TFreshTabSet* tabs)
        : QAccessibleWidget(tabs, QAccessible::PageTabList) {}
    ~TTabSetAccessible() override {
        // The tab interfaces belong to no object, so they go with the list.
        for (const QAccessible::Id id : Children)
            QAccessible::deleteAccessibleInterface(id);
    }
    TTabSetAccessible(const TTabSetAccessible&) = delete;
    TTabSetAccessible& operator=(const TTabSetAccessible&) = delete;

    int childCount() const override { return Tabs()->count(); }

    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= Tabs()->count())
            return nullptr;
        if (index < static_cast<int>(Children.size()))
            if (QAccessibleInterface* known =
                    QAccessible::accessibleInterface(Children[static_cast<std::size_t>(index)]))
                return known;
        while (static_cast<int>(Children.size()) <= index) {
            // Qt's accessibility cache owns what is registered; the destructor deletes it.
            auto* tab = new TTabAccessible(Tabs(), static_cast<int>(Children.size()));
            // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks): owned by the cache
            const QAccessible::Id id = QAccessible::registerAccessibleInterface(tab);
            Children.push_back(id);
        }
        return QAccessible::accessibleInterface(Children[static_cast<std::size_t>(index)]);
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr || child->role() != QAccessible::PageTab || child->parent() != this)
            return -1;
        return static_cast<const TTabAccessible*>(child)->TabIndex();
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        return child(Tabs()->tabAt(Tabs()->mapFromGlobal(QPoint(x, y))));
    }

private:
    TFreshTabSet* Tabs() const { return static_cast<TFreshTabSet*>(widget()); }

    mutable std::vector<QAccessible::Id> Children;
};

QAccessibleInterface* TabSetAccessibleFactory(const QString&, QObject* object) {
    if (auto* tabs = qobject_cast<TFreshTabSet*>(object))
        return new TTabSetAccessible(tabs);
    return nullptr;
}

} // namespace

TFreshTabSet::TFreshTabSet(QWidget* parent) : QTabBar(parent) {
    // Qt's own tab bar interface marks the current tab as focused rather than selected, which
    // screen readers do not announce as the chosen page; ours does. Registered once.
    static const bool accessibleRegistered = [] {
        QAccessible::installFactory(&TabSetAccessibleFactory);
        return true;
    }();
    (void)accessibleRegistered;

    setDrawBase(false);
    setExpanding(false);
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideRight);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(this, &QTabBar::currentChanged, this, &TFreshTabSet::OnTabSwitch);

    // Page keys work wherever the focus is in the window, as they do in other programs'
    // tabbed dialogs; arrows need the focus on the tabs.
    const struct {
        QKeyCombination Keys;
        int Step;
    } pageKeys[] = {
        {Qt::CTRL | Qt::Key_Tab, 1},
        {Qt::CTRL | Qt::Key_PageDown, 1},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, -1},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Tab, -1},
        {Qt::CTRL | Qt::Key_PageUp, -1},
    };
    for (const auto& key : pageKeys) {
        auto* shortcut = new QShortcut(QKeySequence(key.Keys), this);
        shortcut->setContext(Qt::WindowShortcut);
        const int step = key.Step;
        connect(shortcut, &QShortcut::activated, this, [this, step] { Step(step); });
        Shortcuts.push_back(shortcut);
    }
}

void TFreshTabSet::SetPageShortcuts(bool enabled) {
    for (QObject* object : Shortcuts)
        static_cast<QShortcut*>(object)->setEnabled(enabled);
}

void TFreshTabSet::SetWallColor(const QColor& color) {
    Wall = color;
    update();
}

QColor TFreshTabSet::ItemColor(int index) const {
    if (index < 0 || index >= static_cast<int>(Items.size()))
        return QColor();
    return Items[static_cast<std::size_t>(index)].Color;
}

void TFreshTabSet::SetItemColor(int index, const QColor& color) {
    if (index < 0 || index >= static_cast<int>(Items.size()))
        return;
    Items[static_cast<std::size_t>(index)].Color = color;
    update();
}

QColor TFreshTabSet::ItemFontColor(int index) const {
    if (index < 0 || index >= static_cast<int>(Items.size()))
        return QColor();
    return Items[static_cast<std::size_t>(index)].FontColor;
}

void TFreshTabSet::SetItemFontColor(int index, const QColor& color) {
    if (index < 0 || index >= static_cast<int>(Items.size()))
        return;
    Items[static_cast<std::size_t>(index)].FontColor = color;
    update();
}

void TFreshTabSet::SetAllItemColors(const QColor& color, const QColor& fontColor) {
    if (color.isValid())
        AllColor = color;
    if (fontColor.isValid())
        AllFontColor = fontColor;
    for (TTabItem& item : Items) {
        if (color.isValid())
            item.Color = color;
        if (fontColor.isValid())
            item.FontColor = fontColor;
    }
    update();
}

void TFreshTabSet::SetTabWidth(int width) {
    FixedTabWidth = std::max(width, 0);
    // QTabBar lays its tabs out again when their captions change; a new width needs the same.
    setIconSize(iconSize());
    updateGeometry();
    update();
}

QColor TFreshTabSet::FaceColor(int index) const {
    const QColor color = ItemColor(index);
    if (color.isValid())
        return color;
    // Without a face colour of its own a tab must still carry its caption: a light caption
    // (the dialogs use white) gets the dark highlight colour, a dark one the button face.
    return CaptionColor(index).lightness() > 150 ? palette().color(QPalette::Highlight)
                                                 : palette().color(QPalette::Button);
}

QColor TFreshTabSet::CaptionColor(int index) const {
    const QColor color = ItemFontColor(index);
    return color.isValid() ? color : palette().color(QPalette::ButtonText);
}

QSize TFreshTabSet::tabSizeHint(int index) const {
    const QFontMetrics metrics = fontMetrics();
    const int height = metrics.height() + 10;
    if (FixedTabWidth > 0)
        return {FixedTabWidth, height};
    QString caption = tabText(index);
    caption.remove(QLatin1Char('&'));
    return {metrics.horizontalAdvance(caption) + 24, height};
}

QSize TFreshTabSet::minimumTabSizeHint(int index) const {
    return tabSizeHint(index);
}

void TFreshTabSet::tabInserted(int index) {
    Items.insert(Items.begin() + index, TTabItem{AllColor, AllFontColor});
    QTabBar::tabInserted(index);
}

void TFreshTabSet::tabRemoved(int index) {
    if (index >= 0 && index < static_cast<int>(Items.size()))
        Items.erase(Items.begin() + index);
    QTabBar::tabRemoved(index);
}

void TFreshTabSet::Step(int step) {
    const int total = count();
    if (total == 0)
        return;
    int index = currentIndex();
    for (int tried = 0; tried < total; ++tried) {
        index = ((index + step) % total + total) % total;
        if (isTabEnabled(index)) {
            setCurrentIndex(index);
            return;
        }
    }
}

void TFreshTabSet::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::NoModifier &&
        (event->key() == Qt::Key_Home || event->key() == Qt::Key_End)) {
        const bool home = event->key() == Qt::Key_Home;
        for (int i = 0; i < count(); ++i) {
            const int index = home ? i : count() - 1 - i;
            if (isTabEnabled(index)) {
                setCurrentIndex(index);
                break;
            }
        }
        event->accept();
        return;
    }
    QTabBar::keyPressEvent(event);
}

void TFreshTabSet::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QColor wall = Wall.isValid() ? Wall : palette().color(QPalette::Window);
    painter.fillRect(event->rect(), wall);

    const int hot = underMouse() ? tabAt(mapFromGlobal(QCursor::pos())) : -1;
    for (int i = 0; i < count(); ++i) {
        const QRect whole = tabRect(i);
        if (!whole.intersects(event->rect()))
            continue;
        const bool selected = i == currentIndex();
        const bool enabled = isEnabled() && isTabEnabled(i);
        // The current tab stands full height in its own colour; the others sit lower and fade
        // towards the wall, so the current page reads at a glance.
        QRect face = whole.adjusted(1, selected ? 0 : 3, -1, 0);
        QColor fill = FaceColor(i);
        if (!selected)
            fill = Mix(fill, wall, 0.4);
        if (i == hot && enabled && !selected)
            fill = fill.lighter(112);

        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setClipRect(face);
        QPainterPath shape;
        // Round at the top only: the bottom runs past the clip.
        shape.addRoundedRect(QRectF(face.adjusted(0, 0, 0, 4)), 3, 3);
        painter.fillPath(shape, fill);
        painter.restore();
        if (selected) {
            // A bar in the caption colour marks the current tab also where the skin gives the
            // tabs a colour close to the wall's.
            QColor bar = CaptionColor(i);
            bar.setAlpha(enabled ? 150 : 60);
            painter.fillRect(QRect(face.left() + 3, face.top(), face.width() - 6, 2), bar);
        }

        QColor caption = CaptionColor(i);
        if (!enabled)
            caption.setAlpha(110);
        painter.setPen(caption);
        painter.setFont(font());
        const QRect text = face.adjusted(4, 0, -4, 0);
        painter.drawText(text, Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextSingleLine,
                         tabText(i));

        if (selected && hasFocus()) {
            // The keyboard focus must show in every skin: a dotted frame in the caption colour.
            QPen pen(caption, 1, Qt::DotLine);
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(face.adjusted(3, 3, -4, -3));
        }
    }
}

} // namespace pellora
