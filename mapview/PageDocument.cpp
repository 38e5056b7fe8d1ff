#include "mapview/PageDocument.h"

#include "foundation/Trace.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

QString PageDocument::build(const Config& config) {
    QString document = readDocument();
    // The asset base is a plain address written into src/href attributes;
    // anything that could leave the attribute is dropped.
    QString assetBase = config.assetBase;
    assetBase.remove(QLatin1Char('"')).remove(QLatin1Char('<')).remove(QLatin1Char('>'));
    document.replace(QStringLiteral("@ASSET_BASE@"), assetBase);
    document.replace(QStringLiteral("@PAGE_CONFIG@"), configScript(config));
    return document;
}

QString PageDocument::build() {
    return build(Config());
}

} // namespace velmora
