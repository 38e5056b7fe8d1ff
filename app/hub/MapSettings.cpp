#include "app/hub/MapSettings.h"

#include "db/AbstractSetup.h"
#include "db/DatabaseException.h"
#include "db/Setup.h"
#include "db/SetupDatabase.h"
#include "foundation/Trace.h"
#include "mapview/MBTilesSource.h"

#include <QRegularExpression>
#include <QUrl>

namespace velmora {

namespace {

QString readText(AbstractSetup& setup, const char* key) {
    return QString::fromStdString(setup.getString(key, ""));
}

} // namespace

MapSettings MapSettings::load(AbstractSetup& setup) {
    MapSettings settings;
    try {
        settings.source = setup.getInt(Setup::KEY_MAP_SOURCE, OFFLINE);
        settings.roadTiles = readText(setup, Setup::KEY_ROAD_TILES);
        settings.roadAttribution = readText(setup, Setup::KEY_ROAD_ATTRIBUTION);
        settings.satelliteTiles = readText(setup, Setup::KEY_SATELLITE_TILES);
        settings.satelliteAttribution = readText(setup, Setup::KEY_SATELLITE_ATTRIBUTION);
        settings.mbtilesFile = readText(setup, Setup::KEY_MBTILES_FILE);
        settings.grouping = setup.getInt(Setup::KEY_GROUPING, GROUP_AUTO);
    } catch (const DatabaseException& e) {
        // No readable store: the offline map, as on a first start.
        traceException(e);
        return MapSettings();
    }
    if (settings.source < OFFLINE || settings.source > MBTILES) {
        settings.source = OFFLINE;
    }
    if (settings.grouping < GROUP_AUTO || settings.grouping > GROUP_ON) {
        settings.grouping = GROUP_AUTO;
    }
    return settings;
}

void MapSettings::store(SetupDatabase& database) const {
    database.setInt(Setup::KEY_MAP_SOURCE, source);
    database.setString(Setup::KEY_ROAD_TILES, roadTiles.toUtf8().constData());
    database.setString(Setup::KEY_ROAD_ATTRIBUTION, roadAttribution.toUtf8().constData());
    database.setString(Setup::KEY_SATELLITE_TILES, satelliteTiles.toUtf8().constData());
    database.setString(Setup::KEY_SATELLITE_ATTRIBUTION, satelliteAttribution.toUtf8().constData());
    database.setString(Setup::KEY_MBTILES_FILE, mbtilesFile.toUtf8().constData());
    database.setInt(Setup::KEY_GROUPING, grouping);
}

QString MapSettings::checkTemplate(const QString& tileTemplate, const char* which) {
    const QString name = QString::fromLatin1(which);
    const QString text = tileTemplate.trimmed();
    if (!text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
        !text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        return QStringLiteral("The %1 tile address must start with http:// or https://.").arg(name);
    }
    for (const char* placeholder : {"{z}", "{x}", "{y}"}) {
        if (!text.contains(QLatin1String(placeholder))) {
            return QStringLiteral("The %1 tile address must contain {z}, {x} and {y}.").arg(name);
        }
    }
    static const QRegularExpression anyPlaceholder(QStringLiteral("\\{([^}]*)\\}"));
    auto matches = anyPlaceholder.globalMatch(text);
    while (matches.hasNext()) {
        const QString key = matches.next().captured(1);
        if (key != QLatin1String("z") && key != QLatin1String("x") && key != QLatin1String("y") &&
            key != QLatin1String("s") && key != QLatin1String("r")) {
            return QStringLiteral("The %1 tile address holds {%2}; only {z}, {x}, {y}, {s} and {r} are filled in.")
                .arg(name, key);
        }
    }
    // Braces are not allowed in an address: checked with stand-ins.
    QString filled = text;
    filled.replace(anyPlaceholder, QStringLiteral("0"));
    const QUrl url(filled, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || text.contains(QLatin1Char(' '))) {
        return QStringLiteral("The %1 tile address is not a valid web address.").arg(name);
    }
    return QString();
}

QString MapSettings::check() const {
    if (source == ONLINE) {
        if (roadTiles.trimmed().isEmpty() && satelliteTiles.trimmed().isEmpty()) {
            return QStringLiteral("Enter a road or a satellite tile address, or choose the offline map only.");
        }
        if (!roadTiles.trimmed().isEmpty()) {
            const QString problem = checkTemplate(roadTiles, "road");
            if (!problem.isEmpty()) {
                return problem;
            }
        }
        if (!satelliteTiles.trimmed().isEmpty()) {
            return checkTemplate(satelliteTiles, "satellite");
        }
    } else if (source == MBTILES) {
        if (mbtilesFile.isEmpty()) {
            return QStringLiteral("Choose an MBTiles file, or choose the offline map only.");
        }
        MBTilesSource file;
        return file.open(mbtilesFile);
    }
    return QString();
}

PageDocument::Config MapSettings::pageConfig(const MBTilesSource* localTiles) const {
    PageDocument::Config config;
    if (source == ONLINE) {
        config.roadTiles = roadTiles.trimmed();
        config.roadAttribution = roadAttribution;
        config.satelliteTiles = satelliteTiles.trimmed();
        config.satelliteAttribution = satelliteAttribution;
    } else if (source == MBTILES && localTiles != nullptr && localTiles->isOpen()) {
        const MBTilesSource::Metadata& metadata = localTiles->getMetadata();
        config.localTiles = MBTilesSource::tileAddress();
        config.localTilesBatch = MBTilesSource::batchAddress();
        config.localAttribution = metadata.attribution;
        config.localWest = metadata.west;
        config.localSouth = metadata.south;
        config.localEast = metadata.east;
        config.localNorth = metadata.north;
        config.localMinZoom = metadata.minZoom;
        config.localMaxZoom = metadata.maxZoom;
    }
    config.grouping = grouping == GROUP_ON ? QStringLiteral("on")
                      : grouping == GROUP_OFF ? QStringLiteral("off")
                                              : QStringLiteral("auto");
    return config;
}

} // namespace velmora
