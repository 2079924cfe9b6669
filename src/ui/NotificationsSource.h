#pragma once

#include "ui/BusQuietSource.h"

namespace pellora {

// The notification daemon's do-not-disturb: the Inhibited property of
// org.freedesktop.Notifications (KDE and others).
class TNotificationsSource : public TBusQuietSource {
    Q_OBJECT
public:
    TNotificationsSource(const QDBusConnection& sessionBus, QObject* parent);

protected:
    void Appeared() override;
    void Received(const QDBusMessage& message) override;

private:
    void Read();
    void Set(bool inhibited);
};

} // namespace pellora
