#pragma once

#include "mapview/CefClientHandler.h"
#include "mapview/CefClientListener.h"
#include "mapview/PageDocument.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <memory>

namespace velmora {

class CefClientV8Handler;
class CefClientV8Listener;

/// The real map page in a window of its own: the browser host with the page
/// document, its assets and the geocoder, for the page preview tool, the page
/// tests and the page benchmark. VelmoraSchemeHandler::registerScheme() must
/// have run before the QApplication was made. GUI thread only.
class PageDocumentView : public CefClientListener {
public:
    /// applicationDirectory holds the images/ folder the page names.
    PageDocumentView(const QString& applicationDirectory, QSize size, CefClientV8Listener* listener = nullptr,
                     const PageDocument::Config& config = PageDocument::Config());
    ~PageDocumentView() override;
    PageDocumentView(const PageDocumentView&) = delete;
    PageDocumentView& operator=(const PageDocumentView&) = delete;

    /// Runs the event loop until the page has loaded; false on time-out.
    bool waitLoaded(int timeoutMs = 20000);
    /// One command line through the host (dropped before the page has loaded).
    void execute(const QString& command);
    /// Runs script in the page and returns its value once it has run (an
    /// invalid QVariant on time-out). Also a barrier: every command executed
    /// before it has run when it returns.
    QVariant evaluate(const QString& script, int timeoutMs = 10000);
    /// Runs the event loop for ms milliseconds.
    static void pump(int ms);
    /// Runs the event loop until script is true in the page, asking every
    /// pollMs; false when timeoutMs passed first.
    bool waitUntil(const QString& script, int timeoutMs, int pollMs = 25);
    /// What the window shows now.
    QImage grab();

    CefClientHandler& getHost() { return m_host; }
    QWidget& getWindow() { return m_window; }

    void onPageLoaded() override { m_loaded = true; }

private:
    QWidget m_window;
    CefClientHandler m_host;
    std::unique_ptr<CefClientV8Handler> m_extension;
    bool m_loaded = false;
};

} // namespace velmora
