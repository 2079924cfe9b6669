#include "ui/GnomeSessionSource.h"

#include <QMetaType>

namespace pellora {

namespace {

const QString Path = QStringLiteral("/org/gnome/SessionManager");
const QString Interface = QStringLiteral("org.gnome.SessionManager");

} // namespace

TGnomeSessionSource::TGnomeSessionSource(const QDBusConnection& sessionBus, QObject* parent)
    : TBusQuietSource(sessionBus, Interface, parent) {
    Listen(Path, Interface, QStringLiteral("InhibitorAdded"));
    Listen(Path, Interface, QStringLiteral("InhibitorRemoved"));
    Listen(Path, QStringLiteral("org.freedesktop.DBus.Properties"),
           QStringLiteral("PropertiesChanged"));
}

void TGnomeSessionSource::Appeared() {
    Read();
}

void TGnomeSessionSource::Read() {
    ReadProperty(Path, Interface, QStringLiteral("InhibitedActions"),
                 [this](const QVariant& value) {
                     Set(value.metaType() == QMetaType::fromType<uint>() ? value.toUInt() : 0);
                 });
}

void TGnomeSessionSource::Received(const QDBusMessage& message) {
    if (message.interface() == Interface) {
        Read();
    } else if (auto value =
                   ChangedProperty(message, Interface, QStringLiteral("InhibitedActions"))) {
        if (value->metaType() == QMetaType::fromType<uint>())
            Set(value->toUInt());
        else
            Read();
    }
}

void TGnomeSessionSource::Set(uint actions) {
    TQuietFacts facts;
    facts.Presentation = (actions & InhibitIdle) != 0;
    Tell(facts);
}

} // namespace pellora
