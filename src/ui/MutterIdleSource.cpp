#include "ui/MutterIdleSource.h"

namespace pellora {

namespace {

const QString Path = QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");
const QString Interface = QStringLiteral("org.gnome.Mutter.IdleMonitor");

} // namespace

TMutterIdleSource::TMutterIdleSource(const QDBusConnection& sessionBus, QObject* parent)
    : TBusQuietSource(sessionBus, Interface, parent) {
    Listen(Path, Interface, QStringLiteral("WatchFired"));
}

void TMutterIdleSource::SetThreshold(std::chrono::milliseconds threshold) {
    if (threshold == Threshold)
        return;
    Threshold = threshold;
    RemoveWatch(IdleWatch);
    RemoveWatch(ActiveWatch);
    SetAway(false);
    AddIdleWatch();
}

void TMutterIdleSource::Appeared() {
    AddIdleWatch();
}

void TMutterIdleSource::Vanished() {
    // The monitor's watches went with it.
    IdleWatch = ActiveWatch = 0;
    SetAway(false);
}

void TMutterIdleSource::AddIdleWatch() {
    if (!Present() || Threshold.count() <= 0)
        return;
    const auto threshold = static_cast<qulonglong>(Threshold.count());
    Call(Path, Interface, QStringLiteral("AddIdleWatch"), {threshold}, QStringLiteral("u"),
         [this, threshold](const QVariantList& args) {
             // A watch for a threshold changed meanwhile is dropped.
             if (static_cast<qulonglong>(Threshold.count()) != threshold) {
                 uint stale = args.value(0).toUInt();
                 RemoveWatch(stale);
                 return;
             }
             IdleWatch = args.value(0).toUInt();
         });
}

void TMutterIdleSource::RemoveWatch(uint& id) {
    if (id != 0)
        Call(Path, Interface, QStringLiteral("RemoveWatch"), {id}, QString(),
             [](const QVariantList&) {});
    id = 0;
}

void TMutterIdleSource::Check() {
    if (!Present() || Threshold.count() <= 0)
        return;
    Call(Path, Interface, QStringLiteral("GetIdletime"), {}, QStringLiteral("t"),
         [this](const QVariantList& args) {
             SetAway(Threshold.count() > 0 &&
                     args.value(0).toULongLong() >= static_cast<qulonglong>(Threshold.count()));
         });
}

void TMutterIdleSource::Received(const QDBusMessage& message) {
    if (message.signature() != QLatin1String("u"))
        return;
    const uint id = message.arguments().value(0).toUInt();
    if (id == 0)
        return;
    if (id == IdleWatch)
        SetAway(true);
    else if (id == ActiveWatch) {
        // A watch for activity fires once and is gone.
        ActiveWatch = 0;
        SetAway(false);
    }
}

void TMutterIdleSource::SetAway(bool away) {
    if (away && !Away && ActiveWatch == 0 && Present())
        Call(Path, Interface, QStringLiteral("AddUserActiveWatch"), {}, QStringLiteral("u"),
             [this](const QVariantList& args) {
                 if (Away) {
                     ActiveWatch = args.value(0).toUInt();
                     // Input that came before the watch was in place fires nothing.
                     Check();
                 } else {
                     uint stale = args.value(0).toUInt();
                     RemoveWatch(stale);
                 }
             });
    Away = away;
    TQuietFacts facts;
    facts.Away = away;
    Tell(facts);
}

} // namespace pellora
