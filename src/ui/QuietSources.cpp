#include "ui/QuietSources.h"

#include "ui/GnomeBannersSource.h"
#include "ui/GnomeSessionSource.h"
#include "ui/LogindSource.h"
#include "ui/MutterIdleSource.h"
#include "ui/NotificationsSource.h"
#include "ui/ScreenSaverSource.h"
#include "ui/WindowSystem.h"
#include "ui/XfconfSource.h"

#include <QDBusConnection>

namespace pellora {

TQuietSources::TQuietSources(TWindowSystem& windowSystem, QObject* parent)
    : TQuietSources(windowSystem, QDBusConnection::systemBus(), QDBusConnection::sessionBus(),
                    parent) {}

TQuietSources::TQuietSources(TWindowSystem& windowSystem, const QDBusConnection& systemBus,
                             const QDBusConnection& sessionBus, QObject* parent)
    : QObject(parent), Windows(windowSystem) {
    Windows.WatchDesktop([this] { Combine(); });
    StartBusSources(systemBus, sessionBus);
    Banners = new TGnomeBannersSource(this);
    connect(Banners, &TGnomeBannersSource::Changed, this, &TQuietSources::Combine);
    Banners->Start();
    Combine();
}

TQuietSources::~TQuietSources() {
    Windows.WatchDesktop({});
    Windows.WatchIdle(std::chrono::milliseconds(0), {});
}

void TQuietSources::StartBusSources(const QDBusConnection& system, const QDBusConnection& session) {
    // A bus that is not there (no system bus in a container, no session bus on a bare X
    // server) leaves its sources out.
    if (system.isConnected()) {
        auto* logind = new TLogindSource(system, this);
        connect(logind, &TLogindSource::Resumed, this, &TQuietSources::Resumed);
        BusSources.push_back(logind);
    }
    if (session.isConnected()) {
        MutterIdle = new TMutterIdleSource(session, this);
        BusSources.push_back(MutterIdle);
        BusSources.push_back(new TNotificationsSource(session, this));
        BusSources.push_back(new TXfconfSource(session, this));
        BusSources.push_back(new TGnomeSessionSource(session, this));
        BusSources.push_back(
            new TScreenSaverSource(session, QStringLiteral("org.freedesktop.ScreenSaver"), this));
        BusSources.push_back(
            new TScreenSaverSource(session, QStringLiteral("org.gnome.ScreenSaver"), this));
    }
    for (TBusQuietSource* source : BusSources) {
        connect(source, &TBusQuietSource::Changed, this, &TQuietSources::Combine);
        source->Start();
    }
}

void TQuietSources::SetAwayThreshold(std::chrono::milliseconds threshold) {
    if (threshold.count() < 0)
        threshold = std::chrono::milliseconds(0);
    if (threshold == AwayThreshold)
        return;
    AwayThreshold = threshold;
    WindowSystemAway = false;
    Windows.WatchIdle(threshold, [this](bool idle) {
        WindowSystemAway = idle;
        Combine();
    });
    if (MutterIdle != nullptr)
        MutterIdle->SetThreshold(threshold);
    Combine();
}

void TQuietSources::CheckAway() {
    Windows.RefreshDesktopSigns();
    if (AwayThreshold.count() > 0) {
        if (MutterIdle != nullptr && MutterIdle->Present())
            MutterIdle->Check();
        else if (auto idle = Windows.IdleTime())
            WindowSystemAway = *idle >= AwayThreshold;
    }
    Combine();
}

void TQuietSources::Combine() {
    const TWindowSystem::TDesktopSigns signs = Windows.DesktopSigns();
    TQuietFacts facts;
    facts.Fullscreen = signs.Fullscreen;
    facts.Presentation = signs.ScreenSaverOff;
    for (const TBusQuietSource* source : BusSources) {
        const TQuietFacts& told = source->Facts();
        facts.Presentation = facts.Presentation || told.Presentation;
        facts.DoNotDisturb = facts.DoNotDisturb || told.DoNotDisturb;
        facts.Locked = facts.Locked || told.Locked;
    }
    facts.DoNotDisturb = facts.DoNotDisturb || (Banners != nullptr && Banners->On());
    // GNOME's idle monitor knows input the X server does not see (Wayland clients).
    if (AwayThreshold.count() > 0)
        facts.Away = MutterIdle != nullptr && MutterIdle->Present() ? MutterIdle->Facts().Away
                                                                    : WindowSystemAway;
    // Told only when what the sources say has changed, so facts reported otherwise stand
    // until then.
    if (Combined && facts == *Combined)
        return;
    Combined = facts;
    Report(facts);
}

void TQuietSources::Report(const TQuietFacts& facts) {
    if (facts == Current)
        return;
    Current = facts;
    emit FactsChanged();
}

} // namespace pellora
