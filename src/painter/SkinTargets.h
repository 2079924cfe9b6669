#pragma once

#include "painter/ButtonLogic.h"

#include <functional>
#include <memory>
#include <vector>

class QObject;
class QPushButton;
class QWidget;

namespace pellora {

// The hooks of one painter, ordered by the address of the hooked control so a control is
// found quickly among many; the last control found is remembered. Destroying the list
// unhooks every control.
class TWndProcList {
public:
    TWndProcList() = default;
    TWndProcList(const TWndProcList&) = delete;
    TWndProcList& operator=(const TWndProcList&) = delete;

    int Count() const { return static_cast<int>(Items.size()); }
    TGenericLogic* Item(int index) const { return Items.at(static_cast<std::size_t>(index)).get(); }

    // The index of the hook of that control (also a stale one whose control went away and
    // whose address was given to a new control); -1 when there is none.
    int IndexOf(const QObject* control);
    void Add(std::unique_ptr<TGenericLogic> hook);
    // Unhooks and frees the hook at that index.
    void Delete(int index);
    // Frees the hooks whose control has been destroyed; how many.
    int Purge();

private:
    std::vector<std::unique_ptr<TGenericLogic>> Items;
    bool Sorted = true;
    const QObject* CachedControl = nullptr;
    int CachedIndex = -1;
};

// What a painter hooks its buttons with: the hook list and the paint handler every hooked
// button draws through.
class TSkinPainting {
public:
    TSkinPainting() = default;
    virtual ~TSkinPainting() = default;
    TSkinPainting(const TSkinPainting&) = delete;
    TSkinPainting& operator=(const TSkinPainting&) = delete;

    // Draws a hooked button; changing it changes how every hooked button is drawn from its
    // next paint on. Buttons are hooked only while it is assigned.
    TButtonPaintHandler OnPaint;

    // Hooks a push button not yet hooked; false when it was hooked already, is null, or there
    // is no paint handler.
    bool Hook(QPushButton* button);
    // Gives a hooked button its own look back; nothing for a button that is not hooked.
    void Unhook(QPushButton* button);
    bool IsHooked(const QPushButton* button);

    TWndProcList& Hooks() { return List; }

private:
    void Relay(QPainter& painter, int state, QAbstractButton* control, const QRect& rect) const;

    TWndProcList List;
};

// Walks a form for a painter: push buttons are hooked or unhooked, every other control goes
// to the per-control callback. A component tagged ExcludeTag (integer property "tag") is
// skipped together with everything it holds. Buttons that draw themselves (the round
// transparent button) are not hooked.
class TSkinTargets : public TSkinPainting {
public:
    static constexpr int ExcludeTag = 88;

    // Called for every visited component that is not a hooked kind of push button.
    std::function<void(QObject* control)> OnControl;

    // Frees stale hooks, then visits the form's children depth first in creation order;
    // push buttons are hooked when `allowHooks` is set and unhooked otherwise.
    void Apply(QWidget* form, bool allowHooks);

private:
    void Walk(QObject* owner, bool allowHooks);
};

} // namespace pellora
