#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

class QWebEngineProfile;
class QWidget;

namespace velmora {

class CefClientListener;
class CefClientV8Handler;
class VelmoraSchemeHandler;

/// The browser host: keeps the one view and its page, loads the page
/// document once the view exists and executes command lines in it.
///
/// Use, on the GUI thread:
///   VelmoraSchemeHandler::registerScheme();   // before QApplication
///   CefClientHandler host;
///   host.setListener(&window);                // told once: page loaded
///   host.registerExtension(&v8Handler);       // cef.extension for the page
///   host.getSchemeHandler()->registerDirectory("assets", SharedData::path("assets"));
///   host.getSchemeHandler()->registerProvider("geocode", answerGeocode);
///   host.setPageDocument(html);
///   QWebEngineView* view = host.createBrowser(&window);
///
/// The document is loaded with setHtml and the base address
/// <application directory>/Velmora.exe as a file URL, so "images/..." in the
/// page resolve in that directory. setHtml refuses documents above 2 MB
/// (percent-encoded), so large assets go behind the "velmora" scheme and are
/// referenced by absolute address (velmora://assets/...).
///
/// The page gets its own off-the-record profile: no cache or cookies on disk.
/// The view shows no built-in context menu and no native tooltips (the page
/// draws its own); windows the page opens are not adopted.
class CefClientHandler : public QObject {
    Q_OBJECT

public:
    explicit CefClientHandler(QObject* parent = nullptr);
    /// Deletes the page before its profile; the view stays with its parent.
    ~CefClientHandler() override;

    void setListener(CefClientListener* listener) { m_listener = listener; }
    /// The page functions for every document loaded afterwards; call before
    /// createBrowser. The handler is not owned.
    void registerExtension(CefClientV8Handler* extension) { m_extension = extension; }
    /// The document createBrowser loads.
    void setPageDocument(const QString& page) { m_page = page; }
    /// The directory the page's relative addresses resolve in; by default
    /// the working directory at createBrowser.
    void setApplicationDirectory(const QString& directory) { m_applicationDirectory = directory; }
    /// The scheme handler serving this page's velmora:// addresses.
    VelmoraSchemeHandler* getSchemeHandler() const { return m_schemeHandler; }

    /// Makes the view as a child of parent and starts loading the document.
    /// A second call returns the existing view.
    QWebEngineView* createBrowser(QWidget* parent);

    /// Loads page in place of the current document (a new configuration).
    /// Commands are dropped until it has loaded; the listener then hears
    /// onPageLoaded again. Before createBrowser it only sets the document.
    void reloadPage(const QString& page);

    /// Executes one command line in the page's main frame. Dropped before the
    /// page has loaded and after the view is gone. From another thread the
    /// line is handed to the GUI thread and executed there, in order.
    void execute(const QString& command);
    /// Executes lines in order (the compound insertVehicle).
    void execute(const QStringList& commands);

    /// True from the first successful load on.
    bool isPageLoaded() const { return m_pageLoaded; }
    /// The view, or null before createBrowser and after it was deleted.
    QWebEngineView* getBrowserWindow() const { return m_view.data(); }
    QWebEnginePage* getPage() const;
    /// The JavaScript dialogs (alert, confirm, prompt) the page asked for and
    /// did not get: each went to the trace.
    int getRefusedDialogCount() const;
    /// The base address: <directory>/Velmora.exe as a file URL.
    static QUrl baseUrl(const QString& directory);

    /// Largest document setHtml takes, in bytes once percent-encoded.
    static constexpr qsizetype MAX_DOCUMENT_SIZE = 2 * 1024 * 1024;

private:
    void onLoadFinished(bool ok);

    CefClientListener* m_listener = nullptr;
    CefClientV8Handler* m_extension = nullptr;
    VelmoraSchemeHandler* m_schemeHandler;
    QWebEngineProfile* m_profile = nullptr;
    QPointer<QWebEngineView> m_view;
    QPointer<QWebEnginePage> m_webPage;
    QString m_page;
    QString m_applicationDirectory;
    bool m_pageLoaded = false;
};

} // namespace velmora
