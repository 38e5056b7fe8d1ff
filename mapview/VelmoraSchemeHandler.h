#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

#include <functional>

namespace velmora {

/// Serves the page's large assets and native answers under the "velmora"
/// scheme, so the page document itself stays small enough for setHtml.
///
/// Addresses have the form velmora://<host>/<path>?<query>; the host picks
/// what answers:
///  - a resource prefix: registerResourcePrefix("assets", "/page/assets") makes
///    velmora://assets/leaflet/leaflet.js answer with the compiled-in Qt
///    resource ":/page/assets/leaflet/leaflet.js". Paths with ".", "..",
///    empty segments, backslashes or NUL (also percent-encoded) are refused,
///    so no address reaches a resource outside its prefix.
///  - a directory: registerDirectory("assets", "/usr/share/velmora/assets")
///    answers velmora://assets/leaflet/leaflet.js with that file below the
///    directory (links in it are followed: that is how a system library is
///    shipped), with the same refusals.
///  - a provider: registerProvider("geocode", fn) makes every velmora://geocode
///    address call fn(url, reply) on the GUI thread; fn fills the reply and
///    answers true, or answers false for "not found". An exception thrown by
///    fn fails the request; it never reaches the browser.
/// The page reaches both with <script src>, <img src>, <link href> or
/// XMLHttpRequest (fetch() reaches custom schemes only from Qt 6.6 on). A
/// refused or unknown address makes the request fail (XHR onerror).
///
/// registerScheme() must run once before the QApplication is made (Qt WebEngine
/// fixes its schemes at start). CefClientHandler owns one instance per page
/// and installs it on its profile (see CefClientHandler::getSchemeHandler).
/// Used on the GUI thread only.
class VelmoraSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT

public:
    /// The scheme name, "velmora".
    static const char* const SCHEME;

    /// One answer: MIME type and body. Providers may change the status to
    /// refuse with a reason (NotFound or Denied).
    struct Reply {
        enum Status { Ok, NotFound, Denied, Failed };
        Status status = Ok;
        QByteArray mimeType;
        QByteArray body;
    };
    using Provider = std::function<bool(const QUrl& url, Reply& reply)>;

    explicit VelmoraSchemeHandler(QObject* parent = nullptr);
    ~VelmoraSchemeHandler() override;

    /// Declares the scheme to Qt WebEngine; call before QApplication exists.
    /// Calling it again does nothing.
    static void registerScheme();
    /// The address of one path under a host, e.g. url("assets", "a/b.js").
    static QUrl url(const QString& host, const QString& path);

    /// Serves Qt resources below resourcePrefix (e.g. "/page/assets") under
    /// velmora://<host>/. A later registration for the same host replaces it.
    void registerResourcePrefix(const QString& host, const QString& resourcePrefix);
    /// Serves the files below directory under velmora://<host>/. A later
    /// registration for the same host replaces it.
    void registerDirectory(const QString& host, const QString& directory);
    /// Answers every address under velmora://<host> with provider.
    void registerProvider(const QString& host, Provider provider);
    /// Forgets whatever answers for host.
    void unregisterHost(const QString& host);

    /// What an address answers, without a browser request; the engine path
    /// and tests both come through here.
    Reply resolve(const QUrl& url) const;
    /// Whether path is a safe resource path: "/" then non-empty segments
    /// with no ".", "..", backslash or NUL.
    static bool isSafePath(const QString& path);
    /// The MIME type by file extension (text types carry charset=utf-8).
    static QByteArray mimeTypeFor(const QString& path);

    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    QHash<QString, QString> m_prefixes;
    QHash<QString, QString> m_directories;
    QHash<QString, Provider> m_providers;
};

} // namespace velmora
