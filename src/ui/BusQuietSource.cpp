#include "ui/BusQuietSource.h"

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMetaType>

namespace pellora {

namespace {

const QString DBusService = QStringLiteral("org.freedesktop.DBus");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
// A desktop service that does not answer within this time is taken as absent for the call.
constexpr int CallTimeoutMs = 10000;

} // namespace

TBusQuietSource::TBusQuietSource(const QDBusConnection& bus, const QString& service,
                                 QObject* parent)
    : QObject(parent), Bus(bus), Service(service) {}

TBusQuietSource::~TBusQuietSource() = default;

void TBusQuietSource::Start() {
    if (Watcher != nullptr || !Bus.isConnected())
        return;
    Watcher = new QDBusServiceWatcher(Service, Bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(Watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { OwnerIs(owner); });
    // Asked of the bus without waiting: the answer starts the first reading.
    QDBusMessage ask =
        QDBusMessage::createMethodCall(DBusService, QStringLiteral("/org/freedesktop/DBus"),
                                       DBusService, QStringLiteral("GetNameOwner"));
    ask << Service;
    auto* pending = new QDBusPendingCallWatcher(Bus.asyncCall(ask, CallTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusMessage answer = call->reply();
                if (answer.type() == QDBusMessage::ReplyMessage &&
                    answer.signature() == QLatin1String("s") && Owner.isEmpty())
                    OwnerIs(answer.arguments().value(0).toString());
            });
}

void TBusQuietSource::OwnerIs(const QString& owner) {
    if (owner == Owner)
        return;
    const bool was = !Owner.isEmpty();
    Owner = owner;
    ++Generation;
    if (was)
        Vanished();
    if (!Owner.isEmpty())
        Appeared();
}

void TBusQuietSource::Tell(const TQuietFacts& facts) {
    if (facts == Told)
        return;
    Told = facts;
    emit Changed();
}

void TBusQuietSource::Listen(const QString& path, const QString& interface, const QString& member) {
    // Subscribed without naming the service (which would make Qt ask the bus for its owner
    // and wait); OnSignal keeps only what the owner sent.
    Bus.connect(QString(), path, interface, member, this, SLOT(OnSignal(QDBusMessage)));
}

void TBusQuietSource::OnSignal(const QDBusMessage& message) {
    if (Owner.isEmpty() || message.service() != Owner)
        return;
    Received(message);
}

void TBusQuietSource::Call(const QString& path, const QString& interface, const QString& method,
                           const QVariantList& args, const QString& signature,
                           std::function<void(const QVariantList&)> reply,
                           std::function<void()> failed) {
    if (Owner.isEmpty())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(Owner, path, interface, method);
    call.setArguments(args);
    call.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(Bus.asyncCall(call, CallTimeoutMs), this);
    const int generation = Generation;
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, generation, signature, reply = std::move(reply),
             failed = std::move(failed)](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                if (generation != Generation)
                    return;
                const QDBusMessage answer = done->reply();
                if (answer.type() == QDBusMessage::ReplyMessage && answer.signature() == signature)
                    reply(answer.arguments());
                else if (failed)
                    failed();
            });
}

void TBusQuietSource::ReadProperty(const QString& path, const QString& interface,
                                   const QString& name,
                                   std::function<void(const QVariant&)> value) {
    Call(path, PropertiesInterface, QStringLiteral("Get"), {interface, name}, QStringLiteral("v"),
         [value = std::move(value)](const QVariantList& args) {
             value(args.value(0).value<QDBusVariant>().variant());
         });
}

std::optional<QVariant> TBusQuietSource::ChangedProperty(const QDBusMessage& message,
                                                         const QString& interface,
                                                         const QString& name) {
    if (message.interface() != PropertiesInterface ||
        message.member() != QLatin1String("PropertiesChanged") ||
        message.signature() != QLatin1String("sa{sv}as"))
        return std::nullopt;
    const QVariantList args = message.arguments();
    if (args.value(0).toString() != interface)
        return std::nullopt;
    QVariantMap changed;
    args.value(1).value<QDBusArgument>() >> changed;
    if (auto found = changed.constFind(name); found != changed.constEnd())
        return found.value();
    QStringList invalidated = args.value(2).toStringList();
    if (args.value(2).canConvert<QDBusArgument>())
        args.value(2).value<QDBusArgument>() >> invalidated;
    if (invalidated.contains(name))
        return QVariant();
    return std::nullopt;
}

std::optional<bool> TBusQuietSource::AsBool(const QVariant& value) {
    if (value.metaType() != QMetaType::fromType<bool>())
        return std::nullopt;
    return value.toBool();
}

} // namespace pellora
