#include "chime/ChimeModule.h"

#include "ui/Chime.h"

#include <QSoundEffect>
#include <QString>
#include <QUrl>
#include <type_traits>

// The program calls these through pointers of these types.
static_assert(std::is_same_v<decltype(&ChimeOpen), pellora::TChimeOpen>);
static_assert(std::is_same_v<decltype(&ChimePlay), pellora::TChimePlay>);
static_assert(std::is_same_v<decltype(&ChimeClose), pellora::TChimeClose>);

void* ChimeOpen(const char* soundFile) {
    try {
        auto* effect = new QSoundEffect;
        effect->setSource(QUrl::fromLocalFile(QString::fromUtf8(soundFile)));
        return effect;
    } catch (...) {
        return nullptr;
    }
}

void ChimePlay(void* chime) {
    auto* effect = static_cast<QSoundEffect*>(chime);
    effect->stop();
    effect->play();
}

void ChimeClose(void* chime) {
    delete static_cast<QSoundEffect*>(chime);
}
