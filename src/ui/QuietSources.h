#pragma once

#include "core/QuietFacts.h"

#include <QObject>
#include <chrono>

namespace pellora {

class TWindowSystem;

// Watches what the desktop tells about the user's situation (fullscreen windows, idle
// inhibitors, do-not-disturb, the screen lock, absence, suspend) and reports it as facts.
// Every source this desktop lacks is skipped quietly; none blocks the UI thread.
class TQuietSources : public QObject {
    Q_OBJECT
public:
    explicit TQuietSources(TWindowSystem& windowSystem, QObject* parent = nullptr);
    ~TQuietSources() override;

    // The facts as last reported.
    TQuietFacts Facts() const { return Current; }
    // How long without input counts as away; zero: never away.
    void SetAwayThreshold(std::chrono::milliseconds threshold);
    std::chrono::milliseconds AwayThresholdSet() const { return AwayThreshold; }
    // A reminder is due: finds out whether the user is away now. The answer comes through
    // FactsChanged when it changes the facts.
    void CheckAway();

signals:
    void FactsChanged();
    // The machine woke from a suspend.
    void Resumed();

protected:
    // For the sources: records a fact and tells when the facts changed.
    void Report(const TQuietFacts& facts);

private:
    TWindowSystem& Windows;
    TQuietFacts Current;
    std::chrono::milliseconds AwayThreshold{0};
};

} // namespace pellora
