#pragma once

#include "core/QuietFacts.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

class QDBusServiceWatcher;

namespace pellora {

// One service of the desktop on D-Bus that tells some of the quiet facts. It never starts
// the service, follows it as it comes and goes, calls it only asynchronously, and takes only
// replies and signals of the expected shape from the service's own connection: a missing,
// broken or hostile service leaves its facts false.
class TBusQuietSource : public QObject {
    Q_OBJECT
public:
    TBusQuietSource(const QDBusConnection& bus, const QString& service, QObject* parent);
    ~TBusQuietSource() override;

    // Starts following the service, which may be there now, come later or never.
    void Start();
    const TQuietFacts& Facts() const { return Told; }
    // The service has an owner on the bus.
    bool Present() const { return !Owner.isEmpty(); }

signals:
    void Changed();

protected:
    // The service has an owner (at start or later): read its state.
    virtual void Appeared() = 0;
    // The service has gone: its facts no longer hold.
    virtual void Vanished() { Tell({}); }
    // A signal subscribed to with Listen, sent by the service.
    virtual void Received(const QDBusMessage& message) = 0;

    void Tell(const TQuietFacts& facts);
    // Subscribes to a signal of the service; an empty path takes any of its objects.
    void Listen(const QString& path, const QString& interface, const QString& member);
    // Calls a method; `reply` runs with the reply's arguments only when their signature is
    // `signature`. `failed` (when given) runs on an error reply.
    void Call(const QString& path, const QString& interface, const QString& method,
              const QVariantList& args, const QString& signature,
              std::function<void(const QVariantList&)> reply, std::function<void()> failed = {});
    // Reads a property; `value` gets its value, unwrapped from the variant.
    void ReadProperty(const QString& path, const QString& interface, const QString& name,
                      std::function<void(const QVariant&)> value);
    // What a PropertiesChanged signal says of one property: nothing when it does not name it,
    // an invalid variant when it was invalidated (read it again), else its new value.
    static std::optional<QVariant> ChangedProperty(const QDBusMessage& message,
                                                   const QString& interface, const QString& name);
    // A boolean that came as a D-Bus boolean.
    static std::optional<bool> AsBool(const QVariant& value);

    QDBusConnection Bus;
    const QString Service;

private slots:
    void OnSignal(const QDBusMessage& message);

private:
    void OwnerIs(const QString& owner);

    QDBusServiceWatcher* Watcher = nullptr;
    QString Owner;
    TQuietFacts Told;
    // Counts the service's appearances: replies to calls made for an earlier one are dropped.
    int Generation = 0;
};

} // namespace pellora
