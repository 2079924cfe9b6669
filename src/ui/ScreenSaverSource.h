#pragma once

#include "ui/BusQuietSource.h"

namespace pellora {

// A screen locker's screen saver service (org.freedesktop.ScreenSaver of KDE and Xfce,
// org.gnome.ScreenSaver of GNOME Shell): active means the screen is locked or blanked.
class TScreenSaverSource : public TBusQuietSource {
    Q_OBJECT
public:
    // `name` is both the service and its interface; the object is at its slash form.
    TScreenSaverSource(const QDBusConnection& sessionBus, const QString& name, QObject* parent);

protected:
    void Appeared() override;
    void Received(const QDBusMessage& message) override;

private:
    void Set(bool active);

    const QString Path;
};

} // namespace pellora
