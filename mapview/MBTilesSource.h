#pragma once

#include "mapview/VelmoraSchemeHandler.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
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
///
/// The file is data from anywhere and is read on the GUI thread: its schema
/// is not trusted (no function with side effects runs from its views), every
/// query has a time limit after which SQLite is interrupted, the check never
/// walks the whole tiles table, and no tile above MAX_TILE_BYTES is read.
class MBTilesSource {
public:
    /// The scheme host the tiles are served under.
    static const char* const HOST;
    /// The most tiles one batch may ask for (the page asks for 32 at most).
    static constexpr int MAX_BATCH = 64;
    /// The largest tile served: a 512 x 512 picture is a few hundred KiB
    /// even as PNG; anything larger is not a map tile.
    static constexpr int MAX_TILE_BYTES = 1 << 20;
    /// How long each query of the check may run.
    static constexpr std::chrono::milliseconds CHECK_TIME_LIMIT{200};
    /// How long one tile, or one batch of tiles, may take to read; tiles
    /// of a batch past it are answered as missing.
    static constexpr std::chrono::milliseconds TILE_TIME_LIMIT{200};
    static constexpr std::chrono::milliseconds BATCH_TIME_LIMIT{500};

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

    /// The tile at web map address z/x/y; false when the file has none, it
    /// is larger than MAX_TILE_BYTES or it is not read within
    /// TILE_TIME_LIMIT.
    bool tile(int z, int x, int y, QByteArray& data) const;
    /// Answers velmora://mbtiles/<z>/<x>/<y>: the tile with its MIME type
    /// from its first bytes, or not found. Answers a batch address with a
    /// text line per tile asked for, in order: the tile as a data: address,
    /// or empty when the file has no picture for it. A batch that is
    /// malformed, asks for more than MAX_BATCH tiles or for one tile twice
    /// is not found.
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
    using Clock = std::chrono::steady_clock;

    bool answerBatch(int z, const QString& list, VelmoraSchemeHandler::Reply& reply) const;
    /// tile() under the lock, read before deadline.
    bool readTile(int z, int x, int y, Clock::time_point deadline, QByteArray& data) const;
    void close();
    QString check();
    /// Runs a one-column check query within CHECK_TIME_LIMIT: found tells
    /// whether it gave a row, value its first column. The problem, or empty.
    QString firstValue(const char* sql, bool& found, int& value);
    /// The last query's failure in words; table names what it read.
    QString failure(const char* table) const;
    /// SQLite's progress handler: interrupts a query past m_deadline.
    static int onProgress(void* self);

    mutable std::mutex m_lock;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_tileStatement = nullptr;
    // When the running query is interrupted; set under m_lock before each.
    mutable Clock::time_point m_deadline;
    Metadata m_metadata;
};

} // namespace velmora
