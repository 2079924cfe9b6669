#pragma once

#include "core/QuietFacts.h"

#include <QDBusConnection>
#include <QObject>
#include <chrono>
#include <optional>
#include <vector>

namespace pellora {

class TBusQuietSource;
class TGnomeBannersSource;
class TMutterIdleSource;
class TWindowSystem;

// Watches what the desktop tells about the user's situation (fullscreen windows, idle
// inhibitors, do-not-disturb, the screen lock, absence, suspend) and reports it as facts.
// Every source this desktop lacks is skipped quietly; none blocks the UI thread.
//
// The sources: the window system (the active window's fullscreen state, the X screen saver
// switched off, the time without input); on the system bus logind (blocking idle
// inhibitors, the session's lock, the end of a suspend); on the session bus the notification
// daemon's and Xfce's do-not-disturb, GNOME's session manager, its banners setting and its
// idle monitor, and the screen savers of KDE, Xfce and GNOME. All of them tell by events:
// nothing is asked again and again.
class TQuietSources : public QObject {
    Q_OBJECT
public:
    // Over the system's and the session's buses.
    explicit TQuietSources(TWindowSystem& windowSystem, QObject* parent = nullptr);
    // Over the given buses (tests start buses of their own).
    TQuietSources(TWindowSystem& windowSystem, const QDBusConnection& systemBus,
                  const QDBusConnection& sessionBus, QObject* parent = nullptr);
    ~TQuietSources() override;

    // The facts as last reported.
    TQuietFacts Facts() const { return Current; }
    // How long without input counts as away; zero: never away.
    void SetAwayThreshold(std::chrono::milliseconds threshold);
    std::chrono::milliseconds AwayThresholdSet() const { return AwayThreshold; }
    // A reminder is due: finds out whether the user is away now, and reads again what the
    // desktop tells through no event (the X screen saver's switch). The answer comes through
    // FactsChanged when it changes the facts; from the window system at once, from GNOME's
    // idle monitor once it has answered.
    void CheckAway();

signals:
    void FactsChanged();
    // The machine woke from a suspend.
    void Resumed();

protected:
    // For the sources: records a fact and tells when the facts changed.
    void Report(const TQuietFacts& facts);

private:
    void StartBusSources(const QDBusConnection& system, const QDBusConnection& session);
    // Puts together what every source tells.
    void Combine();

    TWindowSystem& Windows;
    TQuietFacts Current;
    // What the sources said last.
    std::optional<TQuietFacts> Combined;
    std::chrono::milliseconds AwayThreshold{0};
    bool WindowSystemAway = false;
    std::vector<TBusQuietSource*> BusSources;
    TMutterIdleSource* MutterIdle = nullptr;
    TGnomeBannersSource* Banners = nullptr;
};

} // namespace pellora
