#include "mapview/PageDocument.h"

#include "foundation/Trace.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

namespace velmora {

namespace {

QString readDocument() {
    QFile file(QStringLiteral(":/page/map.html"));
    if (!file.open(QIODevice::ReadOnly)) {
        trace("PageDocument: the page resource is missing");
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

} // namespace

QString PageDocument::configScript(const Config& config) {
    QJsonObject object;
    object.insert(QStringLiteral("roadTiles"), config.roadTiles);
    object.insert(QStringLiteral("roadAttribution"), config.roadAttribution);
    object.insert(QStringLiteral("satelliteTiles"), config.satelliteTiles);
    object.insert(QStringLiteral("satelliteAttribution"), config.satelliteAttribution);
    object.insert(QStringLiteral("localTiles"), config.localTiles);
    object.insert(QStringLiteral("localTilesBatch"), config.localTilesBatch);
    object.insert(QStringLiteral("localAttribution"), config.localAttribution);
    object.insert(QStringLiteral("localBounds"),
                  QJsonArray{config.localSouth, config.localWest, config.localNorth, config.localEast});
    object.insert(QStringLiteral("localMinZoom"), config.localMinZoom);
    object.insert(QStringLiteral("localMaxZoom"), config.localMaxZoom);
    object.insert(QStringLiteral("grouping"), config.grouping);
    if (config.hasStartView) {
        object.insert(QStringLiteral("startView"),
                      QJsonArray{config.startLatitude, config.startLongitude, config.startZoom});
    }
    if (config.hasStartBounds) {
        object.insert(QStringLiteral("startBounds"),
                      QJsonArray{config.startSouth, config.startWest, config.startNorth, config.startEast});
    }
    object.insert(QStringLiteral("assetBase"), config.assetBase);
    object.insert(QStringLiteral("geocodeUrl"), config.geocodeUrl);
    QString json = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    // JSON is a script literal; inside <script> only "</", "<!--" and the
    // two line separators could still cut it short.
    QString safe;
    safe.reserve(json.size());
    for (QChar c : json) {
        if (c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char('&') || c == QChar(0x2028) ||
            c == QChar(0x2029)) {
            safe += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            safe += c;
        }
    }
    return safe;
}

QString PageDocument::policySource(const QString& address) {
    const QString text = address.trimmed();
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0) {
        return QString();
    }
    const QString scheme = text.left(colon).toLower();
    if (scheme == QLatin1String("velmora")) {
        return QStringLiteral("velmora:");
    }
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        text.mid(colon, 3) != QLatin1String("://")) {
        return QString();
    }
    QString authority = text.mid(colon + 3);
    static const QRegularExpression pathStart(QStringLiteral("[/?#]"));
    const qsizetype end = authority.indexOf(pathStart);
    if (end >= 0) {
        authority.truncate(end);
    }
    authority = authority.mid(authority.lastIndexOf(QLatin1Char('@')) + 1).toLower();
    QString port;
    static const QRegularExpression withPort(QStringLiteral("^(.*):([0-9]{1,5})$"));
    const auto portMatch = withPort.match(authority);
    if (portMatch.hasMatch()) {
        port = QLatin1Char(':') + portMatch.captured(2);
        authority = portMatch.captured(1);
    }
    // Labels up to the last one with a placeholder ({s}, {r}) become one
    // wildcard; a wildcard needs a named domain under it.
    QStringList labels = authority.split(QLatin1Char('.'));
    qsizetype wild = -1;
    for (qsizetype i = 0; i < labels.size(); ++i) {
        if (labels[i].contains(QLatin1Char('{')) || labels[i].contains(QLatin1Char('}'))) {
            wild = i;
        }
    }
    if (wild >= 0) {
        labels = labels.mid(wild + 1);
        if (labels.size() < 2) {
            return QString();
        }
        labels.prepend(QStringLiteral("*"));
    }
    const QString host = labels.join(QLatin1Char('.'));
    static const QRegularExpression hostText(QStringLiteral("^(\\*\\.)?[a-z0-9-]+(\\.[a-z0-9-]+)*$"));
    if (!hostText.match(host).hasMatch()) {
        return QString();
    }
    return scheme + QStringLiteral("://") + host + port;
}

QString PageDocument::contentSecurityPolicy(const Config& config, const QString& document) {
    auto sources = [](QStringList fixed, const QStringList& addresses) {
        for (const QString& address : addresses) {
            const QString source = policySource(address);
            if (!source.isEmpty() && !fixed.contains(source)) {
                fixed << source;
            }
        }
        return fixed.join(QLatin1Char(' '));
    };
    // Every inline script of the document by its hash: a script written
    // into the page any other way (markup from device text) does not run.
    QStringList scripts;
    static const QRegularExpression inlineScript(QStringLiteral("<script>(.*?)</script"),
                                                 QRegularExpression::DotMatchesEverythingOption |
                                                     QRegularExpression::CaseInsensitiveOption);
    auto matches = inlineScript.globalMatch(document);
    while (matches.hasNext()) {
        const QByteArray hash =
            QCryptographicHash::hash(matches.next().captured(1).toUtf8(), QCryptographicHash::Sha256).toBase64();
        scripts << QStringLiteral("'sha256-%1'").arg(QString::fromLatin1(hash));
    }
    scripts.removeDuplicates();
    return QStringLiteral("default-src 'none'; base-uri 'none'; form-action 'none'; script-src %1 %2; "
                          "style-src %3 'unsafe-inline'; img-src %4; connect-src %5")
        .arg(sources({}, {config.assetBase, config.geocodeUrl}), scripts.join(QLatin1Char(' ')),
             sources({}, {config.assetBase}),
             sources({QStringLiteral("file:"), QStringLiteral("velmora:"), QStringLiteral("data:")},
                     {config.assetBase, config.roadTiles, config.satelliteTiles, config.localTiles}),
             sources({QStringLiteral("velmora:")}, {config.geocodeUrl, config.localTilesBatch}));
}

QString PageDocument::build(const Config& config) {
    QString document = readDocument();
    // The asset base is a plain address written into src/href attributes;
    // anything that could leave the attribute is dropped.
    QString assetBase = config.assetBase;
    assetBase.remove(QLatin1Char('"')).remove(QLatin1Char('<')).remove(QLatin1Char('>'));
    document.replace(QStringLiteral("@ASSET_BASE@"), assetBase);
    document.replace(QStringLiteral("@PAGE_CONFIG@"), configScript(config));
    // Last: the hashes are of the scripts as they are finally written. The
    // policy holds no quote or angle bracket of its own (policySource lets
    // none through), so it stays inside its attribute.
    document.replace(QStringLiteral("@CONTENT_SECURITY_POLICY@"), contentSecurityPolicy(config, document));
    return document;
}

QString PageDocument::build() {
    return build(Config());
}

} // namespace velmora
