#include "painter/SkinTargets.h"

#include "widgets/RoundTransButton.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QPushButton>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace pellora {

namespace {

bool ByAddress(const std::unique_ptr<TGenericLogic>& a, const std::unique_ptr<TGenericLogic>& b) {
    return std::less<const QObject*>()(a->Key(), b->Key());
}

} // namespace

int TWndProcList::IndexOf(const QObject* control) {
    if (control == nullptr || Items.empty())
        return -1;
    if (!Sorted) {
        std::sort(Items.begin(), Items.end(), ByAddress);
        Sorted = true;
        CachedControl = nullptr;
    }
    if (CachedControl == control && CachedIndex >= 0 && CachedIndex < Count() &&
        Items[static_cast<std::size_t>(CachedIndex)]->Key() == control)
        return CachedIndex;
    const auto found =
        std::lower_bound(Items.begin(), Items.end(), control,
                         [](const std::unique_ptr<TGenericLogic>& item, const QObject* key) {
                             return std::less<const QObject*>()(item->Key(), key);
                         });
    if (found == Items.end() || (*found)->Key() != control)
        return -1;
    CachedControl = control;
    CachedIndex = static_cast<int>(found - Items.begin());
    return CachedIndex;
}

void TWndProcList::Add(std::unique_ptr<TGenericLogic> hook) {
    if (!hook)
        return;
    if (!Items.empty() && !ByAddress(Items.back(), hook))
        Sorted = false;
    Items.push_back(std::move(hook));
}

void TWndProcList::Delete(int index) {
    if (index < 0 || index >= Count())
        return;
    Items.erase(Items.begin() + index);
    CachedControl = nullptr;
}

int TWndProcList::Purge() {
    const auto stale =
        std::remove_if(Items.begin(), Items.end(), [](const std::unique_ptr<TGenericLogic>& item) {
            return item->Control() == nullptr;
        });
    const int count = static_cast<int>(Items.end() - stale);
    Items.erase(stale, Items.end());
    if (count > 0)
        CachedControl = nullptr;
    return count;
}

bool TSkinPainting::Hook(QPushButton* button) {
    if (button == nullptr || !OnPaint)
        return false;
    const int index = List.IndexOf(button);
    if (index >= 0) {
        if (List.Item(index)->Control() == button)
            return false;
        // A hook left behind by a destroyed control at the same address.
        List.Delete(index);
    }
    List.Add(std::make_unique<TButtonLogic>(
        button, [this](QPainter& painter, int state, QAbstractButton* control, const QRect& rect) {
            Relay(painter, state, control, rect);
        }));
    return true;
}

void TSkinPainting::Unhook(QPushButton* button) {
    const int index = List.IndexOf(button);
    if (index >= 0)
        List.Delete(index);
}

bool TSkinPainting::IsHooked(const QPushButton* button) {
    const int index = List.IndexOf(button);
    return index >= 0 && List.Item(index)->Control() == button;
}

void TSkinPainting::Relay(QPainter& painter, int state, QAbstractButton* control,
                          const QRect& rect) const {
    if (OnPaint)
        OnPaint(painter, state, control, rect);
}

void TSkinTargets::Apply(QWidget* form, bool allowHooks) {
    Hooks().Purge();
    if (form == nullptr)
        return;
    Walk(form, allowHooks);
}

void TSkinTargets::Walk(QObject* owner, bool allowHooks) {
    // A copy, not a reference: a callback may add children while we walk.
    QObjectList children = owner->children();
    children.detach();
    for (QObject* child : children) {
        if (child->property("tag").toInt() == ExcludeTag)
            continue;
        auto* button = qobject_cast<QPushButton*>(child);
        if (button != nullptr && qobject_cast<TRoundTransButton*>(child) == nullptr) {
            if (allowHooks)
                Hook(button);
            else
                Unhook(button);
            continue;
        }
        if (OnControl)
            OnControl(child);
        // The parts a list or combo box is made of are coloured with it, not on their own.
        if (qobject_cast<QAbstractItemView*>(child) != nullptr ||
            qobject_cast<QComboBox*>(child) != nullptr)
            continue;
        Walk(child, allowHooks);
    }
}

} // namespace pellora
