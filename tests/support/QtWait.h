#pragma once

// Waiting in Qt tests: the event loop runs while a condition is awaited, so
// posted messages, page calls and timers are served.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <functional>

namespace velmora::test {

/// Runs the event loop until done() holds or ms have passed; done()'s last
/// answer.
inline bool waitUntil(const std::function<bool()>& done, int ms = 15000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

/// Runs the event loop for ms.
inline void pump(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

} // namespace velmora::test
