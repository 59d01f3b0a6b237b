#pragma once
// Helpers of the playback tests: an application object for the event loop
// and a bounded pump of it.
#include <QCoreApplication>
#include <chrono>
#include <functional>

namespace vtest {

// Creates the process's QCoreApplication on first use.
inline void EnsureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "velotrax-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

// Runs the event loop until 'done' holds or the deadline passes; returns
// whether 'done' held.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace vtest
