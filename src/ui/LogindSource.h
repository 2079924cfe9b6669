#pragma once

#include "ui/BusQuietSource.h"

#include <QStringList>

namespace pellora {

// logind on the system bus: idle inhibitors that block (a presentation, a video or a call
// asks the desktop not to idle), the lock of the program's session, and the end of a suspend.
class TLogindSource : public TBusQuietSource {
    Q_OBJECT
public:
    TLogindSource(const QDBusConnection& systemBus, QObject* parent);

    // Whether an inhibitor of these what (a colon-separated list) and mode keeps the
    // desktop from idling.
    static bool BlocksIdle(const QString& what, const QString& mode);

signals:
    // The machine woke from a suspend.
    void Resumed();

protected:
    void Appeared() override;
    void Vanished() override;
    void Received(const QDBusMessage& message) override;

private:
    void ReadInhibitors();
    void ReadLocked();
    void Update(bool inhibited, bool locked);

    QString SessionPath;
    QStringList ListenedPaths;
    bool Inhibited = false;
    bool Locked = false;
};

} // namespace pellora
