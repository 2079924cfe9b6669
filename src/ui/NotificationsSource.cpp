#include "ui/NotificationsSource.h"

namespace pellora {

namespace {

const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

TNotificationsSource::TNotificationsSource(const QDBusConnection& sessionBus, QObject* parent)
    : TBusQuietSource(sessionBus, Interface, parent) {
    Listen(Path, QStringLiteral("org.freedesktop.DBus.Properties"),
           QStringLiteral("PropertiesChanged"));
}

void TNotificationsSource::Appeared() {
    Read();
}

void TNotificationsSource::Read() {
    // A daemon without the property has no do-not-disturb to tell.
    ReadProperty(Path, Interface, QStringLiteral("Inhibited"),
                 [this](const QVariant& value) { Set(AsBool(value).value_or(false)); });
}

void TNotificationsSource::Received(const QDBusMessage& message) {
    if (auto value = ChangedProperty(message, Interface, QStringLiteral("Inhibited"))) {
        if (auto inhibited = AsBool(*value))
            Set(*inhibited);
        else
            Read();
    }
}

void TNotificationsSource::Set(bool inhibited) {
    TQuietFacts facts;
    facts.DoNotDisturb = inhibited;
    Tell(facts);
}

} // namespace pellora
