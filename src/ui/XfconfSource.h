#pragma once

#include "ui/BusQuietSource.h"

namespace pellora {

// Xfce's notification daemon keeps its do-not-disturb switch in Xfconf (channel
// "xfce4-notifyd", property "/do-not-disturb").
class TXfconfSource : public TBusQuietSource {
    Q_OBJECT
public:
    TXfconfSource(const QDBusConnection& sessionBus, QObject* parent);

protected:
    void Appeared() override;
    void Received(const QDBusMessage& message) override;

private:
    void Set(bool on);
};

} // namespace pellora
