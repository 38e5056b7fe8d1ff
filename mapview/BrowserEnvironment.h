#pragma once

namespace velmora {

/// The process settings the embedded browser needs, made once in main()
/// before the QApplication exists.
class BrowserEnvironment {
public:
    /// Sets what the caller has not set already: the offscreen platform when
    /// offscreen is true, Chromium's sandbox off when running as root (it
    /// refuses to start otherwise), and Chromium flags that keep it from
    /// reaching for a GPU or the network on its own, and with the GPU off,
    /// Qt Quick's software scene graph to show the page. Then registers the
    /// velmora: scheme.
    static void prepare(bool offscreen);
};

} // namespace velmora
