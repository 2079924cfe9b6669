#include "ui/XfconfSource.h"

#include <QDBusVariant>

namespace pellora {

namespace {

const QString Path = QStringLiteral("/org/xfce/Xfconf");
const QString Interface = QStringLiteral("org.xfce.Xfconf");
const QString Channel = QStringLiteral("xfce4-notifyd");
const QString Property = QStringLiteral("/do-not-disturb");

} // namespace

TXfconfSource::TXfconfSource(const QDBusConnection& sessionBus, QObject* parent)
    : TBusQuietSource(sessionBus, Interface, parent) {
    Listen(Path, Interface, QStringLiteral("PropertyChanged"));
    Listen(Path, Interface, QStringLiteral("PropertyRemoved"));
}

void TXfconfSource::Appeared() {
    // A switch never set is off: Xfconf answers with an error.
    Call(
        Path, Interface, QStringLiteral("GetProperty"), {Channel, Property}, QStringLiteral("v"),
        [this](const QVariantList& args) {
            Set(AsBool(args.value(0).value<QDBusVariant>().variant()).value_or(false));
        },
        [this] { Set(false); });
}

void TXfconfSource::Received(const QDBusMessage& message) {
    const QVariantList args = message.arguments();
    if (args.value(0).toString() != Channel || args.value(1).toString() != Property)
        return;
    if (message.member() == QLatin1String("PropertyRemoved") &&
        message.signature() == QLatin1String("ss"))
        Set(false);
    else if (message.member() == QLatin1String("PropertyChanged") &&
             message.signature() == QLatin1String("ssv"))
        Set(AsBool(args.value(2).value<QDBusVariant>().variant()).value_or(false));
}

void TXfconfSource::Set(bool on) {
    TQuietFacts facts;
    facts.DoNotDisturb = on;
    Tell(facts);
}

} // namespace pellora
