#include "ui/LogindSource.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <unistd.h>

namespace pellora {

namespace {

const QString ManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString ManagerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString SessionInterface = QStringLiteral("org.freedesktop.login1.Session");

} // namespace

TLogindSource::TLogindSource(const QDBusConnection& systemBus, QObject* parent)
    : TBusQuietSource(systemBus, QStringLiteral("org.freedesktop.login1"), parent) {
    Listen(ManagerPath, ManagerInterface, QStringLiteral("PrepareForSleep"));
    // logind tells a new or ended inhibitor through its BlockInhibited property.
    Listen(ManagerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
           QStringLiteral("PropertiesChanged"));
}

bool TLogindSource::BlocksIdle(const QString& what, const QString& mode) {
    return mode == QLatin1String("block") &&
           what.split(QLatin1Char(':')).contains(QLatin1String("idle"));
}

void TLogindSource::Appeared() {
    SessionPath.clear();
    ReadInhibitors();
    // The session this program runs in; "auto" is the user's graphical one otherwise.
    QString session = qEnvironmentVariable("XDG_SESSION_ID");
    if (session.isEmpty())
        session = QStringLiteral("auto");
    Call(ManagerPath, ManagerInterface, QStringLiteral("GetSession"), {session},
         QStringLiteral("o"), [this](const QVariantList& args) {
             SessionPath = args.value(0).value<QDBusObjectPath>().path();
             // Only this session's signals: the system bus carries many others.
             if (!ListenedPaths.contains(SessionPath)) {
                 ListenedPaths << SessionPath;
                 Listen(SessionPath, SessionInterface, QStringLiteral("Lock"));
                 Listen(SessionPath, SessionInterface, QStringLiteral("Unlock"));
                 Listen(SessionPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                        QStringLiteral("PropertiesChanged"));
             }
             ReadLocked();
         });
}

void TLogindSource::Vanished() {
    SessionPath.clear();
    Update(false, false);
}

void TLogindSource::ReadInhibitors() {
    Call(ManagerPath, ManagerInterface, QStringLiteral("ListInhibitors"), {},
         QStringLiteral("a(ssssuu)"), [this](const QVariantList& args) {
             const auto list = args.value(0).value<QDBusArgument>();
             bool inhibited = false;
             list.beginArray();
             while (!list.atEnd()) {
                 QString what, who, why, mode;
                 uint uid = 0, pid = 0;
                 list.beginStructure();
                 list >> what >> who >> why >> mode >> uid >> pid;
                 list.endStructure();
                 // Another user's video in a session in the background is none of ours.
                 inhibited = inhibited || (uid == ::getuid() && BlocksIdle(what, mode));
             }
             list.endArray();
             Update(inhibited, Locked);
         });
}

void TLogindSource::ReadLocked() {
    if (SessionPath.isEmpty())
        return;
    ReadProperty(SessionPath, SessionInterface, QStringLiteral("LockedHint"),
                 [this](const QVariant& value) {
                     if (auto locked = AsBool(value))
                         Update(Inhibited, *locked);
                 });
}

void TLogindSource::Received(const QDBusMessage& message) {
    const QString member = message.member();
    if (member == QLatin1String("PrepareForSleep")) {
        if (message.signature() == QLatin1String("b") && !message.arguments().value(0).toBool())
            emit Resumed();
    } else if (member == QLatin1String("PropertiesChanged")) {
        if (message.path() == ManagerPath) {
            if (ChangedProperty(message, ManagerInterface, QStringLiteral("BlockInhibited")))
                ReadInhibitors();
        } else if (!SessionPath.isEmpty() && message.path() == SessionPath) {
            if (auto value =
                    ChangedProperty(message, SessionInterface, QStringLiteral("LockedHint"))) {
                if (auto locked = AsBool(*value))
                    Update(Inhibited, *locked);
                else
                    ReadLocked();
            }
        }
    } else if (!SessionPath.isEmpty() && message.path() == SessionPath &&
               message.interface() == SessionInterface) {
        if (member == QLatin1String("Lock"))
            Update(Inhibited, true);
        else if (member == QLatin1String("Unlock"))
            Update(Inhibited, false);
    }
}

void TLogindSource::Update(bool inhibited, bool locked) {
    Inhibited = inhibited;
    Locked = locked;
    TQuietFacts facts;
    facts.Presentation = inhibited;
    facts.Locked = locked;
    Tell(facts);
}

} // namespace pellora
