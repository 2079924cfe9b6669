#include "ui/ScreenSaverSource.h"

namespace pellora {

TScreenSaverSource::TScreenSaverSource(const QDBusConnection& sessionBus, const QString& name,
                                       QObject* parent)
    : TBusQuietSource(sessionBus, name, parent),
      Path(QLatin1Char('/') + QString(name).replace(QLatin1Char('.'), QLatin1Char('/'))) {
    // KDE sends it from /ScreenSaver as well; any object of the service counts.
    Listen(QString(), Service, QStringLiteral("ActiveChanged"));
}

void TScreenSaverSource::Appeared() {
    Call(Path, Service, QStringLiteral("GetActive"), {}, QStringLiteral("b"),
         [this](const QVariantList& args) { Set(args.value(0).toBool()); });
}

void TScreenSaverSource::Received(const QDBusMessage& message) {
    if (message.member() == QLatin1String("ActiveChanged") &&
        message.signature() == QLatin1String("b"))
        Set(message.arguments().value(0).toBool());
}

void TScreenSaverSource::Set(bool active) {
    TQuietFacts facts;
    facts.Locked = active;
    Tell(facts);
}

} // namespace pellora
