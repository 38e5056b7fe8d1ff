#pragma once

class QWebEnginePage;

namespace velmora {

/// The console's start-up milestones in the trace (VELMORA_TRACE=1), each
/// with the milliseconds since the process started, so a slow start shows
/// where its time went:
///   velmora: start-up  812 ms: page load finished
/// The process's start is read from the kernel, so the time the program
/// took to load its libraries counts as well. Costs nothing while the trace
/// is off. GUI thread only.
class StartupTrace {
public:
    /// Traces what happened now, with the time since the process started.
    static void mark(const char* what);
    /// Milliseconds since the process started.
    static double elapsedMs();
    /// Once page has loaded: when its document arrived, its scripts were
    /// read and its own start (the map, the base map) ended, asked from
    /// the page and traced when it answers.
    static void markPageLoad(QWebEnginePage* page);
};

} // namespace velmora
