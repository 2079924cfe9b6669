#pragma once

#include "core/PelloraFold.h"
#include "ui/ProgramContext.h"
#include "ui/WindowSystem.h"

#include <QCoreApplication>
#include <QTimer>
#include <QTimerEvent>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

namespace pellora::test {

// The build tree's shipped data and skins, with this test process's own data folder (the
// test main points XDG_DATA_HOME into a fresh temporary home).
inline TPellFolders BuildTreeFolders() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    return TPellFolders(PELLORA_BUILD_DIR "/bin/pellora", dataHome ? dataHome : "", "pellora");
}

// The real speech engine of the build tree.
inline const std::string RealSpeechEngine = PELLORA_BUILD_DIR "/lib/pellora/libmurmur.so";

// A context as the program builds it, over the folders above, on the display's window
// system; needs the application object.
inline std::unique_ptr<TProgramContext> MakeContext(const std::string& speechLibrary) {
    return std::make_unique<TProgramContext>(BuildTreeFolders(), speechLibrary, MakeWindowSystem());
}

// A part of a window by the object name it was designed with ("ReminderBtn", "About1",
// "PauseMenu"); throws, and so fails the test, when the window has none.
template <class T> T& PartOf(const QObject& window, const char* name) {
    T* part = window.findChild<T*>(QString::fromLatin1(name));
    if (part == nullptr)
        throw std::logic_error(std::string("no part named ") + name);
    return *part;
}

// Fires a running timer now, as the end of its interval would.
inline void Fire(QTimer& timer) {
    QTimerEvent event(timer.timerId());
    QCoreApplication::sendEvent(&timer, &event);
}

} // namespace pellora::test
