#pragma once

namespace velmora {

/// The main window's face towards the browser host: told once, on the GUI
/// thread, when the page document has finished loading.
class CefClientListener {
public:
    virtual ~CefClientListener() = default;
    /// The page has loaded; commands sent from now on are executed.
    virtual void onPageLoaded() = 0;
};

} // namespace velmora
