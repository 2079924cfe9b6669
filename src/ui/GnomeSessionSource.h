#pragma once

#include "ui/BusQuietSource.h"

namespace pellora {

// GNOME's session manager: a program that asks it not to idle (a presentation, a video, a
// call) shows in the idle bit of its InhibitedActions.
class TGnomeSessionSource : public TBusQuietSource {
    Q_OBJECT
public:
    TGnomeSessionSource(const QDBusConnection& sessionBus, QObject* parent);

    // The bit of InhibitedActions that stands for idling.
    static constexpr uint InhibitIdle = 8;

protected:
    void Appeared() override;
    void Received(const QDBusMessage& message) override;

private:
    void Read();
    void Set(uint actions);
};

} // namespace pellora
