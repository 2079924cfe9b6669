#include "painter/SkinTargets.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QPushButton>
#include <QVariant>
#include <QWidget>

namespace pellora {

void TSkinTargets::Apply(QWidget* form, bool allowHooks) {
    if (form == nullptr)
        return;
    Walk(form, allowHooks);
}

void TSkinTargets::Walk(QObject* owner, bool allowHooks) {
    // A copy: a callback may add children while we walk.
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the copy is the point
    const QObjectList children = owner->children();
    for (QObject* child : children) {
        if (child->property("tag").toInt() == ExcludeTag)
            continue;
        if (auto* button = qobject_cast<QPushButton*>(child)) {
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

void TSkinTargets::Hook(QPushButton*) {}

void TSkinTargets::Unhook(QPushButton*) {}

} // namespace pellora
