#include "app/shell/StartupTrace.h"

#include "foundation/Trace.h"

#include <QDateTime>
#include <QStringList>
#include <QVariant>
#include <QWebEnginePage>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace velmora {

namespace {

double clockMs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// When the process started, on the boot-time clock: the 22nd field of
// /proc/self/stat, in clock ticks since boot. Read once; a kernel that does
// not tell counts from the first mark instead.
double processStartMs() {
    static const double start = [] {
        std::FILE* file = std::fopen("/proc/self/stat", "r");
        char text[1024] = {};
        const size_t length = file != nullptr ? std::fread(text, 1, sizeof text - 1, file) : 0;
        if (file != nullptr) {
            std::fclose(file);
        }
        text[length] = '\0';
        // The command name may hold blanks and parentheses: fields are
        // counted after its last ")".
        const char* field = std::strrchr(text, ')');
        unsigned long long ticks = 0;
        if (field != nullptr &&
            std::sscanf(field + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                        &ticks) == 1) {
            return static_cast<double>(ticks) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
        }
        return clockMs(CLOCK_BOOTTIME);
    }();
    return start;
}

} // namespace

double StartupTrace::elapsedMs() {
    return clockMs(CLOCK_BOOTTIME) - processStartMs();
}

void StartupTrace::mark(const char* what) {
    if (!isTraceEnabled()) {
        return;
    }
    trace("start-up %5.0f ms: %s", elapsedMs(), what);
}

void StartupTrace::markPageLoad(QWebEnginePage* page) {
    if (!isTraceEnabled() || page == nullptr) {
        return;
    }
    // The page's times count from its own origin, on the wall clock.
    const double processStartWallMs = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) - elapsedMs();
    page->runJavaScript(
        QStringLiteral("(function () { var n = performance.getEntriesByType('navigation')[0];"
                       " return n ? [performance.timeOrigin, n.responseEnd, n.domInteractive, n.loadEventStart,"
                       " n.loadEventEnd].join(' ') : ''; })()"),
        [processStartWallMs](const QVariant& answer) {
            const QStringList times = answer.toString().split(QLatin1Char(' '));
            if (times.size() != 5) {
                return;
            }
            const double origin = times[0].toDouble() - processStartWallMs;
            trace("start-up %5.0f ms: page navigation started", origin);
            trace("start-up %5.0f ms: page document received", origin + times[1].toDouble());
            trace("start-up %5.0f ms: page scripts read", origin + times[2].toDouble());
            trace("start-up %5.0f ms: page built its map (%.0f ms)", origin + times[4].toDouble(),
                  times[4].toDouble() - times[3].toDouble());
        });
}

} // namespace velmora
