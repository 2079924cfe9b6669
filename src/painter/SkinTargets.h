#pragma once

#include <functional>

class QObject;
class QPushButton;
class QWidget;

namespace pellora {

// Walks a form for a painter: every push button is a hook target, every other control goes to
// the per-control callback. A component tagged ExcludeTag (integer property "tag") is skipped
// together with everything it owns.
//
// Placeholder: the button hooks that paint push buttons from a skin's button images are not
// built yet. Hook and Unhook are where they attach and detach; until then push buttons keep
// their own look and nothing is hooked.
class TSkinTargets {
public:
    static constexpr int ExcludeTag = 88;

    virtual ~TSkinTargets() = default;

    // Called for every visited component that is not a push button.
    std::function<void(QObject* control)> OnControl;

    // Visits the form's children depth first in creation order; push buttons are hooked when
    // `allowHooks` is set and unhooked otherwise.
    void Apply(QWidget* form, bool allowHooks);

protected:
    virtual void Hook(QPushButton* button);
    virtual void Unhook(QPushButton* button);

private:
    void Walk(QObject* owner, bool allowHooks);
};

} // namespace pellora
