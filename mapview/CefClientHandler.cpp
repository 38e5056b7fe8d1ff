#include "mapview/CefClientHandler.h"

#include "foundation/Trace.h"
#include "mapview/CefClientListener.h"
#include "mapview/CefClientV8Handler.h"
#include "mapview/VelmoraSchemeHandler.h"

#include <QChildEvent>
#include <QDir>
#include <QEvent>
#include <QThread>
#include <QUrl>
#include <QWebEngineSettings>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>

namespace velmora {

namespace {

// The property of the page that counts the dialogs it asked for.
const char* const DIALOG_COUNT = "velmoraDialogCount";

// The page of the one view: windows the page opens are refused (the
// engine's default would be the same; this keeps it so by intent), and its
// console lines go to the trace.
class HostPage : public QWebEnginePage {
public:
    HostPage(QWebEngineProfile* profile, QObject* parent)
        : QWebEnginePage(profile, parent)
    {
    }

protected:
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override
    {
        trace("page console (%d) %s:%d: %s", static_cast<int>(level), qPrintable(sourceID), lineNumber,
              qPrintable(message));
    }

    // A dialog would stop the page's script until someone clicks it, and
    // its text may come from a device: it goes to the trace instead.
    void javaScriptAlert(const QUrl&, const QString& message) override { dialog("alert", message); }
    bool javaScriptConfirm(const QUrl&, const QString& message) override
    {
        dialog("confirm", message);
        return false;
    }
    bool javaScriptPrompt(const QUrl&, const QString& message, const QString&, QString*) override
    {
        dialog("prompt", message);
        return false;
    }

private:
    void dialog(const char* kind, const QString& message)
    {
        const int count = property(DIALOG_COUNT).toInt() + 1;
        setProperty(DIALOG_COUNT, count);
        trace("page dialog (%s) refused: %s", kind, qPrintable(message.left(200)));
    }
};

// Eats tooltip requests on the view and on every widget the engine puts
// inside it later, so the page's own tooltips are the only ones shown.
class TooltipBlocker : public QObject {
public:
    explicit TooltipBlocker(QObject* parent)
        : QObject(parent)
    {
    }

    void watch(QObject* object)
    {
        object->installEventFilter(this);
        for (QObject* child : object->children())
            watch(child);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ToolTip)
            return true;
        if (event->type() == QEvent::ChildAdded) {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child != nullptr && child != this)
                watch(child);
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

CefClientHandler::CefClientHandler(QObject* parent)
    : QObject(parent)
    , m_schemeHandler(new VelmoraSchemeHandler(this))
{
}

CefClientHandler::~CefClientHandler()
{
    // A page must never outlive its profile.
    delete m_webPage.data();
    delete m_profile;
}

QUrl CefClientHandler::baseUrl(const QString& directory)
{
    return QUrl::fromLocalFile(QDir(directory).absoluteFilePath(QStringLiteral("Velmora.exe")));
}

int CefClientHandler::getRefusedDialogCount() const
{
    const QWebEnginePage* page = getPage();
    return page != nullptr ? page->property(DIALOG_COUNT).toInt() : 0;
}

QWebEnginePage* CefClientHandler::getPage() const
{
    return m_webPage.data();
}

QWebEngineView* CefClientHandler::createBrowser(QWidget* parent)
{
    if (m_view)
        return m_view.data();
    if (m_profile == nullptr) {
        // No storage name: off the record, nothing written to disk.
        m_profile = new QWebEngineProfile();
        m_profile->installUrlSchemeHandler(VelmoraSchemeHandler::SCHEME, m_schemeHandler);
    }
    auto* view = new QWebEngineView(parent);
    auto* page = new HostPage(m_profile, view);
    // The document is a local file; without this the engine refuses every
    // http(s) request it makes, and online tiles would never load. Which
    // hosts it may reach is the page's own policy (PageDocument): the
    // configured tile servers only.
    page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    // LocalContentCanAccessFileUrls stays on: the engine counts the page as
    // local content only with it, and only local content may load the
    // velmora scheme (a local scheme). The page's policy keeps its requests
    // (connect-src) off file: addresses all the same.
    if (m_extension != nullptr)
        m_extension->install(page);
    view->setPage(page);
    // Prevent, not No: the page draws its own menus and a right click must
    // not fall through to the parent window's menu either.
    view->setContextMenuPolicy(Qt::PreventContextMenu);
    (new TooltipBlocker(view))->watch(view);
    m_view = view;
    m_webPage = page;
    connect(page, &QWebEnginePage::loadFinished, this, &CefClientHandler::onLoadFinished);

    const QString directory =
        m_applicationDirectory.isEmpty() ? QDir::currentPath() : m_applicationDirectory;
    const QByteArray document = m_page.toUtf8();
    if (QUrl::toPercentEncoding(QString::fromUtf8(document)).size() > MAX_DOCUMENT_SIZE)
        trace("CefClientHandler: the page document (%lld bytes) is over the setHtml limit",
              static_cast<long long>(document.size()));
    page->setHtml(m_page, baseUrl(directory));
    return view;
}

void CefClientHandler::reloadPage(const QString& page)
{
    m_page = page;
    if (m_webPage.isNull())
        return;
    m_pageLoaded = false;
    const QString directory =
        m_applicationDirectory.isEmpty() ? QDir::currentPath() : m_applicationDirectory;
    m_webPage->setHtml(m_page, baseUrl(directory));
}

void CefClientHandler::onLoadFinished(bool ok)
{
    if (!ok) {
        trace("CefClientHandler: the page did not load");
        return;
    }
    if (m_pageLoaded)
        return;
    m_pageLoaded = true;
    if (m_listener != nullptr)
        m_listener->onPageLoaded();
}

void CefClientHandler::execute(const QString& command)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, command] { execute(command); }, Qt::QueuedConnection);
        return;
    }
    if (!m_pageLoaded || m_webPage.isNull()) {
        trace("CefClientHandler: dropped before load: %s", qPrintable(command.left(80)));
        return;
    }
    m_webPage->runJavaScript(command, QWebEngineScript::MainWorld);
}

void CefClientHandler::execute(const QStringList& commands)
{
    for (const QString& command : commands)
        execute(command);
}

} // namespace velmora
