#include "mapview/VelmoraSchemeHandler.h"

#include "foundation/Trace.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include <exception>

namespace velmora {

const char* const VelmoraSchemeHandler::SCHEME = "velmora";

VelmoraSchemeHandler::VelmoraSchemeHandler(QObject* parent)
    : QWebEngineUrlSchemeHandler(parent)
{
}

VelmoraSchemeHandler::~VelmoraSchemeHandler() = default;

void VelmoraSchemeHandler::registerScheme()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    QWebEngineUrlScheme scheme(SCHEME);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    // Local: the page is a file document, and only local content may load
    // local schemes. CORS: the page asks the geocoder with fetch/XHR.
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme
                    | QWebEngineUrlScheme::LocalAccessAllowed | QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);
}

QUrl VelmoraSchemeHandler::url(const QString& host, const QString& path)
{
    QUrl result;
    result.setScheme(QString::fromLatin1(SCHEME));
    result.setHost(host);
    result.setPath(path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path);
    return result;
}

void VelmoraSchemeHandler::registerResourcePrefix(const QString& host, const QString& resourcePrefix)
{
    QString prefix = resourcePrefix;
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    if (!prefix.startsWith(QLatin1Char('/')))
        prefix.prepend(QLatin1Char('/'));
    unregisterHost(host);
    m_prefixes.insert(host.toLower(), prefix);
}

void VelmoraSchemeHandler::registerDirectory(const QString& host, const QString& directory)
{
    const QString folder = QDir::cleanPath(directory);
    unregisterHost(host);
    m_directories.insert(host.toLower(), folder);
}

void VelmoraSchemeHandler::registerProvider(const QString& host, Provider provider)
{
    unregisterHost(host);
    m_providers.insert(host.toLower(), std::move(provider));
}

void VelmoraSchemeHandler::unregisterHost(const QString& host)
{
    m_prefixes.remove(host.toLower());
    m_directories.remove(host.toLower());
    m_providers.remove(host.toLower());
}

bool VelmoraSchemeHandler::isSafePath(const QString& path)
{
    if (path.size() < 2 || path.at(0) != QLatin1Char('/'))
        return false;
    const QStringList segments = path.mid(1).split(QLatin1Char('/'));
    for (const QString& segment : segments) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String(".."))
            return false;
        if (segment.contains(QLatin1Char('\\')) || segment.contains(QChar(0)))
            return false;
    }
    return true;
}

QByteArray VelmoraSchemeHandler::mimeTypeFor(const QString& path)
{
    // The common page types by name, so answers never depend on the
    // desktop's MIME database; anything else is looked up there.
    static const struct {
        const char* extension;
        const char* mimeType;
    } known[] = {
        {".js", "text/javascript;charset=utf-8"}, {".mjs", "text/javascript;charset=utf-8"},
        {".css", "text/css;charset=utf-8"},       {".html", "text/html;charset=utf-8"},
        {".json", "application/json"},            {".geojson", "application/json"},
        {".txt", "text/plain;charset=utf-8"},     {".png", "image/png"},
        {".svg", "image/svg+xml"},                {".jpg", "image/jpeg"},
        {".gif", "image/gif"},                    {".woff2", "font/woff2"},
    };
    const QString lower = path.toLower();
    for (const auto& entry : known) {
        if (lower.endsWith(QLatin1String(entry.extension)))
            return QByteArray(entry.mimeType);
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    return type.isValid() ? type.name().toUtf8() : QByteArray("application/octet-stream");
}

VelmoraSchemeHandler::Reply VelmoraSchemeHandler::resolve(const QUrl& url) const
{
    Reply reply;
    if (url.scheme().compare(QLatin1String(SCHEME), Qt::CaseInsensitive) != 0) {
        reply.status = Reply::NotFound;
        return reply;
    }
    const QString host = url.host().toLower();
    const auto provider = m_providers.constFind(host);
    if (provider != m_providers.constEnd()) {
        try {
            if (!(*provider)(url, reply) && reply.status == Reply::Ok)
                reply.status = Reply::NotFound;
        } catch (const std::exception& e) {
            trace("velmora scheme: provider for %s failed: %s", qPrintable(host), e.what());
            reply = Reply();
            reply.status = Reply::Failed;
        } catch (...) {
            trace("velmora scheme: provider for %s failed", qPrintable(host));
            reply = Reply();
            reply.status = Reply::Failed;
        }
        return reply;
    }
    const auto prefix = m_prefixes.constFind(host);
    const auto directory = m_directories.constFind(host);
    if (prefix == m_prefixes.constEnd() && directory == m_directories.constEnd()) {
        reply.status = Reply::NotFound;
        return reply;
    }
    // Fully decoded, so "%2e%2e" and "%2f" are judged as what they stand for.
    const QString path = url.path(QUrl::FullyDecoded);
    if (!isSafePath(path)) {
        trace("velmora scheme: refused path %s", qPrintable(url.toString()));
        reply.status = Reply::Denied;
        return reply;
    }
    QFile file(prefix != m_prefixes.constEnd() ? QLatin1Char(':') + *prefix + path : *directory + path);
    // A folder opens as a file on Linux and reads as an error: not found.
    if (QFileInfo(file.fileName()).isDir() || !file.open(QIODevice::ReadOnly)) {
        reply.status = Reply::NotFound;
        return reply;
    }
    reply.body = file.readAll();
    reply.mimeType = mimeTypeFor(path);
    return reply;
}

void VelmoraSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job)
{
    const Reply reply = resolve(job->requestUrl());
    switch (reply.status) {
    case Reply::Ok: {
        // The buffer belongs to the job, which outlives the engine's read.
        auto* buffer = new QBuffer(job);
        buffer->setData(reply.body);
        job->reply(reply.mimeType.isEmpty() ? QByteArray("application/octet-stream") : reply.mimeType,
                   buffer);
        return;
    }
    case Reply::NotFound:
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    case Reply::Denied:
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    case Reply::Failed:
        job->fail(QWebEngineUrlRequestJob::RequestFailed);
        return;
    }
}

} // namespace velmora
