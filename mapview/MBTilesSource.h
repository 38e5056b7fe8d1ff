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
/// velmora://mbtiles/<z>/<x>/<y>, or many tiles of one zoom at once as
/// velmora://mbtiles/batch/<z>?xy=<x>,<y>,<x>,<y>... (see install).
/// Thread-safe: one lock guards the connection and its reused statement.
class MBTilesSource {
public:
    /// The scheme host the tiles are served under.
    static const char* const HOST;
    /// The most tiles one batch may ask for.
    static constexpr int MAX_BATCH = 256;

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
    /// from its first bytes, or not found. Answers a batch address with a
    /// text line per tile asked for, in order: the tile as a data: address,
    /// or empty when the file has no picture for it. A batch that is
    /// malformed or asks for more than MAX_BATCH tiles is not found.
    bool answer(const QUrl& url, VelmoraSchemeHandler::Reply& reply) const;
    /// The tile address template and the batch address template ({z}) the
    /// page is given.
    static QString tileAddress();
    static QString batchAddress();
    /// The MIME type of tile data by its magic bytes.
    static QByteArray mimeTypeOf(const QByteArray& data);

    /// Serves this source's tiles under HOST on handler. The source must
    /// outlive the registration (unregisterHost(HOST) ends it).
    void install(VelmoraSchemeHandler& handler) const;

private:
    bool answerBatch(int z, const QString& list, VelmoraSchemeHandler::Reply& reply) const;
    void close();
    QString check();

    mutable std::mutex m_lock;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_tileStatement = nullptr;
    Metadata m_metadata;
};

} // namespace velmora
