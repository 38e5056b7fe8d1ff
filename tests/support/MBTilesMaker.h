#pragma once

// Raster MBTiles files for tests, benchmarks and screenshots: every tile is
// drawn with its own flat colour, a grid line along its edges and its
// z/x/y written in its top-left corner, so a picture tells which tile shows
// where. Rows are written the MBTiles (TMS) way, bottom-up.
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>

#include <sqlite3.h>

#include <cmath>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>

namespace velmora::test {

using TileKey = std::tuple<int, int, int>; // z, x, y (web map rows, top-down)

/// The flat colour of tile z/x/y; neighbours differ.
inline QColor tileColour(int z, int x, int y) {
    return QColor(70 + (x * 53 + z * 31) % 150, 70 + (y * 71 + z * 17) % 150, 90 + ((x + y) * 37 + z * 43) % 140);
}

/// Where the flat colour is seen whole, in pixels from the tile's corner.
constexpr int TILE_PLAIN_SPOT = 200;

/// One 256 x 256 tile as PNG (or JPEG).
inline QByteArray drawTile(int z, int x, int y, const char* format = "PNG") {
    QImage image(256, 256, QImage::Format_RGB32);
    image.fill(tileColour(z, x, y));
    QPainter painter(&image);
    painter.setPen(QPen(QColor(40, 40, 40), 2));
    painter.drawRect(1, 1, 254, 254);
    painter.setPen(QColor(255, 255, 255));
    QFont font = painter.font();
    font.setPixelSize(18);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(8, 8, 180, 60), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("%1/%2/%3").arg(z).arg(x).arg(y));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

/// Web map tile column and row of a position at zoom z.
inline std::pair<int, int> tileOf(double latitude, double longitude, int z) {
    const double n = std::ldexp(1.0, z);
    const double lat = latitude * M_PI / 180.0;
    const int x = static_cast<int>(std::floor((longitude + 180.0) / 360.0 * n));
    const int y = static_cast<int>(std::floor((1.0 - std::asinh(std::tan(lat)) / M_PI) / 2.0 * n));
    return {x, y};
}

struct MBTilesContent {
    int minZoom = 0;
    int maxZoom = 3;
    /// west, south, east, north; the tiles written cover them.
    double west = -180, south = -85.0511, east = 180, north = 85.0511;
    std::set<TileKey> missing;
    std::map<std::string, std::string> metadata;
    const char* format = "PNG";
};

inline void execSql(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string text = error != nullptr ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error(text + " in " + sql);
    }
}

/// Writes the file; the number of tiles written.
inline int makeMBTiles(const std::string& path, const MBTilesContent& content) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        throw std::runtime_error("cannot create " + path);
    }
    execSql(db, "CREATE TABLE metadata (name text, value text);"
                "CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer, tile_data blob);"
                "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
                "BEGIN;");
    sqlite3_stmt* meta = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO metadata VALUES (?1, ?2);", -1, &meta, nullptr);
    for (const auto& [key, value] : content.metadata) {
        sqlite3_bind_text(meta, 1, key.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(meta, 2, value.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(meta);
        sqlite3_reset(meta);
    }
    sqlite3_finalize(meta);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?1, ?2, ?3, ?4);", -1, &insert, nullptr);
    int written = 0;
    for (int z = content.minZoom; z <= content.maxZoom; ++z) {
        const auto [x0, y0] = tileOf(content.north, content.west, z);
        const auto [x1, y1] = tileOf(content.south, content.east, z);
        const int last = (1 << z) - 1;
        for (int x = std::max(0, x0); x <= std::min(last, x1); ++x) {
            for (int y = std::max(0, y0); y <= std::min(last, y1); ++y) {
                if (content.missing.count({z, x, y}) != 0) {
                    continue;
                }
                const QByteArray tile = drawTile(z, x, y, content.format);
                sqlite3_bind_int(insert, 1, z);
                sqlite3_bind_int(insert, 2, x);
                sqlite3_bind_int(insert, 3, last - y);
                sqlite3_bind_blob(insert, 4, tile.constData(), static_cast<int>(tile.size()), SQLITE_TRANSIENT);
                sqlite3_step(insert);
                sqlite3_reset(insert);
                ++written;
            }
        }
    }
    sqlite3_finalize(insert);
    execSql(db, "COMMIT;");
    sqlite3_close(db);
    return written;
}

} // namespace velmora::test
