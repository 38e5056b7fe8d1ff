#pragma once

#include "mapview/PageDocument.h"

#include <QString>

namespace velmora {

class AbstractSetup;
class MBTilesSource;
class SetupDatabase;

/// Where the map's pictures come from and whether vehicles are grouped, as
/// kept in setup.db: the source (0 offline only, 1 online tiles, 2 MBTiles
/// file), two tile address templates with their attribution texts, the
/// MBTiles file and the grouping (-1 automatic, 0 off, 1 on).
class MapSettings {
public:
    enum Source { OFFLINE = 0, ONLINE = 1, MBTILES = 2 };
    enum Grouping { GROUP_AUTO = -1, GROUP_OFF = 0, GROUP_ON = 1 };

    int source = OFFLINE;
    QString roadTiles;
    QString roadAttribution;
    QString satelliteTiles;
    QString satelliteAttribution;
    QString mbtilesFile;
    int grouping = GROUP_AUTO;

    /// The stored settings; the defaults for what cannot be read, and for
    /// out-of-range numbers.
    static MapSettings load(AbstractSetup& setup);
    /// Writes every key; the caller holds the lock and the transaction.
    /// Throws DatabaseException.
    void store(SetupDatabase& database) const;

    /// Why template cannot be a tile address ("road" or "satellite" names
    /// it in the text), or empty when it can: http or https, a host, {z},
    /// {x} and {y}, and no placeholder besides those, {s} and {r}.
    static QString checkTemplate(const QString& tileTemplate, const char* which);
    /// The first problem of these settings for the operator, or empty. An
    /// MBTiles file is opened to check it.
    QString check() const;

    /// The page configuration: the tile layers of the chosen source, with
    /// the MBTiles file's metadata when localTiles is an open source.
    PageDocument::Config pageConfig(const MBTilesSource* localTiles) const;

    bool operator==(const MapSettings& other) const = default;
};

} // namespace velmora
