#pragma once

#include "ui/BusQuietSource.h"

#include <chrono>

namespace pellora {

// GNOME's idle monitor (org.gnome.Mutter.IdleMonitor), which also knows the time without
// input under Wayland: a watch at the threshold tells the user has gone, a watch for
// activity that they are back.
class TMutterIdleSource : public TBusQuietSource {
    Q_OBJECT
public:
    TMutterIdleSource(const QDBusConnection& sessionBus, QObject* parent);

    // How long without input counts as away; zero: never away.
    void SetThreshold(std::chrono::milliseconds threshold);
    // Asks for the time without input now; the answer changes the facts when it must.
    void Check();

protected:
    void Appeared() override;
    void Vanished() override;
    void Received(const QDBusMessage& message) override;

private:
    void AddIdleWatch();
    void RemoveWatch(uint& id);
    void SetAway(bool away);

    std::chrono::milliseconds Threshold{0};
    uint IdleWatch = 0;
    uint ActiveWatch = 0;
    bool Away = false;
};

} // namespace pellora
