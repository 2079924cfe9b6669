#include "ui/QuietSources.h"

#include "ui/WindowSystem.h"

namespace pellora {

TQuietSources::TQuietSources(TWindowSystem& windowSystem, QObject* parent)
    : QObject(parent), Windows(windowSystem) {}

TQuietSources::~TQuietSources() = default;

void TQuietSources::SetAwayThreshold(std::chrono::milliseconds threshold) {
    AwayThreshold = threshold;
}

void TQuietSources::CheckAway() {}

void TQuietSources::Report(const TQuietFacts& facts) {
    if (facts == Current)
        return;
    Current = facts;
    emit FactsChanged();
}

} // namespace pellora
