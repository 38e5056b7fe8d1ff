#pragma once

#include "mapview/VelmoraSchemeHandler.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <mutex>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

/// A raster MBTiles file (SQLite with a metadata and a tiles table) opened
/// read-only, serving its tiles by web map (XYZ) address: the file stores
/// rows bottom-up (TMS), so row = 2^z - 1 - y. The page reaches it as
/// velmora://mbtiles/<z>/<x>/<y> (see install). Thread-safe: one lock
/// guards the connection and its reused statement.
class MBTilesSource {
public:
    /// The scheme host the tiles are served under.
    static const char* const HOST;

    /// What the file says about itself. Missing zooms are taken from the
    /// tiles table; missing bounds mean the whole world.
    struct Metadata {
        QString name;
        QString attribution;
        QString format; ///< "png" or "jpg" (empty when the file does not say)
        double west = -180, south = -85.0511, east = 180, north = 85.0511;
        bool hasBounds = false;
        int minZoom = 0;
        int maxZoom = 0;
    };

    MBTilesSource() = default;
    ~MBTilesSource();
    MBTilesSource(const MBTilesSource&) = delete;
    MBTilesSource& operator=(const MBTilesSource&) = delete;

    /// Opens and checks the file; an empty text on success, else what is
    /// wrong with it in words for the operator (the source stays closed).
    QString open(const QString& path);
    bool isOpen() const;
    const Metadata& getMetadata() const { return m_metadata; }

    /// The tile at web map address z/x/y; false when the file has none.
    bool tile(int z, int x, int y, QByteArray& data) const;
    /// Answers velmora://mbtiles/<z>/<x>/<y>: the tile with its MIME type
    /// from its first bytes, or not found.
    bool answer(const QUrl& url, VelmoraSchemeHandler::Reply& reply) const;
    /// The MIME type of tile data by its magic bytes.
    static QByteArray mimeTypeOf(const QByteArray& data);

    /// Serves this source's tiles under HOST on handler. The source must
    /// outlive the registration (unregisterHost(HOST) ends it).
    void install(VelmoraSchemeHandler& handler) const;

private:
    void close();
    QString check();

    mutable std::mutex m_lock;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_tileStatement = nullptr;
    Metadata m_metadata;
};

} // namespace velmora
