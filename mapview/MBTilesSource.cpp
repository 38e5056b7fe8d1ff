#include "mapview/MBTilesSource.h"

#include "foundation/Trace.h"

#include <QStringList>
#include <QUrlQuery>

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace velmora {

const char* const MBTilesSource::HOST = "mbtiles";

namespace {

// Deeper than any raster tile set; keeps 2^z in range.
constexpr int MAX_ZOOM = 30;

// Virtual machine steps between two looks at the clock: a few microseconds.
constexpr int PROGRESS_STEPS = 1000;

QString columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text == nullptr ? QString() : QString::fromUtf8(text, sqlite3_column_bytes(statement, column));
}

// Metadata numbers are text; they are read the same way in every locale.
bool parseNumber(const QString& text, double& value) {
    const QByteArray bytes = text.trimmed().toLatin1();
    if (bytes.isEmpty()) {
        return false;
    }
    const char* end = bytes.constData() + bytes.size();
    const auto result = std::from_chars(bytes.constData(), end, value);
    return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

bool parseZoom(const QString& text, int& zoom) {
    double value = 0;
    if (!parseNumber(text, value) || value < 0 || value > MAX_ZOOM || value != std::floor(value)) {
        return false;
    }
    zoom = static_cast<int>(value);
    return true;
}

} // namespace

MBTilesSource::~MBTilesSource() {
    close();
}

void MBTilesSource::close() {
    std::lock_guard<std::mutex> guard(m_lock);
    sqlite3_finalize(m_tileStatement);
    m_tileStatement = nullptr;
    sqlite3_close(m_db);
    m_db = nullptr;
}

bool MBTilesSource::isOpen() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_tileStatement != nullptr;
}

int MBTilesSource::onProgress(void* self) {
    return Clock::now() > static_cast<const MBTilesSource*>(self)->m_deadline ? 1 : 0;
}

QString MBTilesSource::open(const QString& path) {
    close();
    m_metadata = Metadata();
    if (path.isEmpty()) {
        return QStringLiteral("No MBTiles file is chosen.");
    }
    const QByteArray name = path.toUtf8();
    sqlite3* db = nullptr;
    // Read-only and never created: a mistyped name must not leave an empty
    // database behind.
    if (sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const QString reason = QString::fromUtf8(db != nullptr ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return QStringLiteral("The MBTiles file %1 cannot be opened: %2.").arg(path, reason);
    }
    // The file's views and triggers run with no more than plain SQL, its
    // schema cannot be used to damage the file, no value larger than a
    // tile is ever held, and a query runs only until its deadline.
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, MAX_TILE_BYTES);
    sqlite3_progress_handler(db, PROGRESS_STEPS, &MBTilesSource::onProgress, this);
    std::lock_guard<std::mutex> guard(m_lock);
    m_db = db;
    const QString problem = check();
    if (!problem.isEmpty()) {
        sqlite3_finalize(m_tileStatement);
        m_tileStatement = nullptr;
        sqlite3_close(m_db);
        m_db = nullptr;
        m_metadata = Metadata();
        return QStringLiteral("The file %1 is not a usable MBTiles file: %2.").arg(path, problem);
    }
    return QString();
}

QString MBTilesSource::failure(const char* table) const {
    if (sqlite3_errcode(m_db) == SQLITE_INTERRUPT) {
        return QStringLiteral("reading its %1 takes longer than %2 ms")
            .arg(QLatin1String(table))
            .arg(static_cast<long long>(CHECK_TIME_LIMIT.count()));
    }
    const QString reason = QString::fromUtf8(sqlite3_errmsg(m_db));
    if (reason.contains(QLatin1String("no such table"))) {
        return QStringLiteral("it has no %1 table").arg(QLatin1String(table));
    }
    return reason;
}

QString MBTilesSource::firstValue(const char* sql, bool& found, int& value) {
    found = false;
    sqlite3_stmt* statement = nullptr;
    // Preparing reads the schema, itself a query.
    m_deadline = Clock::now() + CHECK_TIME_LIMIT;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return failure("tiles");
    }
    const int step = sqlite3_step(statement);
    if (step == SQLITE_ROW) {
        found = true;
        value = sqlite3_column_int(statement, 0);
    }
    const QString problem = step == SQLITE_ROW || step == SQLITE_DONE ? QString() : failure("tiles");
    sqlite3_finalize(statement);
    return problem;
}

// Runs under the lock with m_db open; fills the metadata and prepares the
// tile statement. Returns the problem, or empty.
QString MBTilesSource::check() {
    sqlite3_stmt* statement = nullptr;
    m_deadline = Clock::now() + CHECK_TIME_LIMIT;
    if (sqlite3_prepare_v2(m_db, "SELECT name, value FROM metadata;", -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return failure("metadata");
    }
    QString minZoom, maxZoom, bounds;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        const QString key = columnText(statement, 0).trimmed().toLower();
        const QString value = columnText(statement, 1);
        if (key == QLatin1String("name")) {
            m_metadata.name = value;
        } else if (key == QLatin1String("attribution")) {
            m_metadata.attribution = value;
        } else if (key == QLatin1String("format")) {
            m_metadata.format = value.trimmed().toLower();
        } else if (key == QLatin1String("minzoom")) {
            minZoom = value;
        } else if (key == QLatin1String("maxzoom")) {
            maxZoom = value;
        } else if (key == QLatin1String("bounds")) {
            bounds = value;
        }
    }
    const QString stepError = step == SQLITE_DONE ? QString() : failure("metadata");
    sqlite3_finalize(statement);
    if (!stepError.isEmpty()) {
        return stepError;
    }
    if (m_metadata.format == QLatin1String("jpeg")) {
        m_metadata.format = QStringLiteral("jpg");
    }
    if (!m_metadata.format.isEmpty() && m_metadata.format != QLatin1String("png") &&
        m_metadata.format != QLatin1String("jpg")) {
        return QStringLiteral("its tiles are %1, only PNG and JPEG tiles can be shown").arg(m_metadata.format);
    }
    if (!bounds.isEmpty()) {
        const QStringList parts = bounds.split(QLatin1Char(','));
        double v[4] = {0, 0, 0, 0};
        bool ok = parts.size() == 4;
        for (int i = 0; ok && i < 4; ++i) {
            ok = parseNumber(parts[i], v[i]);
        }
        ok = ok && v[0] >= -180 && v[2] <= 180 && v[0] < v[2] && v[1] >= -90 && v[3] <= 90 && v[1] < v[3];
        if (!ok) {
            return QStringLiteral("its bounds \"%1\" are not west,south,east,north in degrees").arg(bounds);
        }
        m_metadata.west = v[0];
        m_metadata.south = v[1];
        m_metadata.east = v[2];
        m_metadata.north = v[3];
        m_metadata.hasBounds = true;
    }

    // One row tells the table holds tiles; counting them all could take
    // minutes on a large file, and forever on a view that never ends.
    bool found = false;
    int ignored = 0;
    QString problem = firstValue("SELECT 1 FROM tiles LIMIT 1;", found, ignored);
    if (!problem.isEmpty()) {
        return problem;
    }
    if (!found) {
        return QStringLiteral("it holds no tiles");
    }
    // Zooms the metadata leaves out are those of the first and the last
    // tile by zoom: each a step down the usual index.
    int tileMin = 0, tileMax = 0;
    if (minZoom.isEmpty() || maxZoom.isEmpty()) {
        problem = firstValue("SELECT zoom_level FROM tiles WHERE zoom_level IS NOT NULL "
                             "ORDER BY zoom_level LIMIT 1;",
                             found, tileMin);
        if (problem.isEmpty()) {
            problem = firstValue("SELECT zoom_level FROM tiles WHERE zoom_level IS NOT NULL "
                                 "ORDER BY zoom_level DESC LIMIT 1;",
                                 found, tileMax);
        }
        if (!problem.isEmpty()) {
            return problem;
        }
    }
    m_metadata.minZoom = std::max(0, std::min(tileMin, MAX_ZOOM));
    m_metadata.maxZoom = std::max(0, std::min(tileMax, MAX_ZOOM));
    if (!minZoom.isEmpty() && !parseZoom(minZoom, m_metadata.minZoom)) {
        return QStringLiteral("its minzoom \"%1\" is not a zoom level").arg(minZoom);
    }
    if (!maxZoom.isEmpty() && !parseZoom(maxZoom, m_metadata.maxZoom)) {
        return QStringLiteral("its maxzoom \"%1\" is not a zoom level").arg(maxZoom);
    }
    if (m_metadata.minZoom > m_metadata.maxZoom) {
        return QStringLiteral("its minzoom is above its maxzoom");
    }
    m_deadline = Clock::now() + CHECK_TIME_LIMIT;
    if (sqlite3_prepare_v2(m_db,
                           "SELECT tile_data FROM tiles WHERE zoom_level=?1 AND tile_column=?2 AND tile_row=?3;",
                           -1, &m_tileStatement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_tileStatement);
        m_tileStatement = nullptr;
        return failure("tiles");
    }
    return QString();
}

bool MBTilesSource::tile(int z, int x, int y, QByteArray& data) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return readTile(z, x, y, Clock::now() + TILE_TIME_LIMIT, data);
}

bool MBTilesSource::readTile(int z, int x, int y, Clock::time_point deadline, QByteArray& data) const {
    if (z < 0 || z > MAX_ZOOM) {
        return false;
    }
    const long long size = 1LL << z;
    if (x < 0 || y < 0 || x >= size || y >= size) {
        return false;
    }
    if (m_tileStatement == nullptr) {
        return false;
    }
    m_deadline = deadline;
    sqlite3_reset(m_tileStatement);
    sqlite3_bind_int(m_tileStatement, 1, z);
    sqlite3_bind_int(m_tileStatement, 2, x);
    sqlite3_bind_int64(m_tileStatement, 3, size - 1 - y);
    const int step = sqlite3_step(m_tileStatement);
    bool found = false;
    if (step == SQLITE_ROW) {
        const int bytes = sqlite3_column_bytes(m_tileStatement, 0);
        if (bytes > MAX_TILE_BYTES) {
            trace("MBTilesSource: tile %d/%d/%d: %d bytes, more than a tile", z, x, y, bytes);
        } else {
            const void* blob = sqlite3_column_blob(m_tileStatement, 0);
            data = QByteArray(static_cast<const char*>(blob), bytes);
            found = bytes > 0;
        }
    } else if (step != SQLITE_DONE) {
        // A page damaged after the check, a tile too large to read or a
        // query past its deadline: the tile is missing, the map goes on.
        trace("MBTilesSource: tile %d/%d/%d: %s", z, x, y, sqlite3_errmsg(m_db));
    }
    sqlite3_reset(m_tileStatement);
    return found;
}

QByteArray MBTilesSource::mimeTypeOf(const QByteArray& data) {
    if (data.startsWith("\x89PNG\r\n\x1a\n")) {
        return "image/png";
    }
    if (data.startsWith("\xff\xd8\xff")) {
        return "image/jpeg";
    }
    if (data.size() >= 12 && data.startsWith("RIFF") && data.mid(8, 4) == "WEBP") {
        return "image/webp";
    }
    return "application/octet-stream";
}

bool MBTilesSource::answer(const QUrl& url, VelmoraSchemeHandler::Reply& reply) const {
    const QStringList parts = url.path(QUrl::FullyDecoded).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    // toInt reads C digits only, whatever the locale.
    if (parts.size() == 2 && parts[0] == QLatin1String("batch")) {
        bool ok = false;
        const int z = parts[1].toInt(&ok, 10);
        reply.body.clear();
        return ok && answerBatch(z, QUrlQuery(url).queryItemValue(QStringLiteral("xy")), reply);
    }
    if (parts.size() != 3) {
        return false;
    }
    bool ok[3] = {false, false, false};
    const int z = parts[0].toInt(&ok[0], 10);
    const int x = parts[1].toInt(&ok[1], 10);
    const int y = parts[2].toInt(&ok[2], 10);
    if (!ok[0] || !ok[1] || !ok[2] || !tile(z, x, y, reply.body)) {
        reply.body.clear();
        return false;
    }
    reply.mimeType = mimeTypeOf(reply.body);
    return true;
}

// The engine's cost of one request is far above the file's cost of one
// tile, so the page asks for a view's tiles together. The tiles come back as
// data: addresses the page gives its images as they are.
bool MBTilesSource::answerBatch(int z, const QString& list, VelmoraSchemeHandler::Reply& reply) const {
    const QStringList numbers = list.split(QLatin1Char(','));
    if (list.isEmpty() || numbers.size() % 2 != 0 || numbers.size() > 2 * MAX_BATCH) {
        return false;
    }
    std::vector<std::pair<int, int>> asked;
    asked.reserve(numbers.size() / 2);
    for (qsizetype i = 0; i < numbers.size(); i += 2) {
        bool okX = false, okY = false;
        asked.emplace_back(numbers[i].toInt(&okX, 10), numbers[i + 1].toInt(&okY, 10));
        if (!okX || !okY) {
            return false;
        }
    }
    // Each tile once: the answer holds every tile whole, so a tile named
    // again and again would multiply it.
    std::vector<std::pair<int, int>> distinct = asked;
    std::sort(distinct.begin(), distinct.end());
    if (std::adjacent_find(distinct.begin(), distinct.end()) != distinct.end()) {
        return false;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    const Clock::time_point deadline = Clock::now() + BATCH_TIME_LIMIT;
    QByteArray data;
    for (const auto& [x, y] : asked) {
        if (Clock::now() < deadline && readTile(z, x, y, deadline, data)) {
            const QByteArray mimeType = mimeTypeOf(data);
            // Only pictures go into an image's address.
            if (mimeType.startsWith("image/")) {
                reply.body += "data:" + mimeType + ";base64," + data.toBase64();
            }
        }
        reply.body += '\n';
    }
    reply.mimeType = "text/plain";
    return true;
}

QString MBTilesSource::tileAddress() {
    return QStringLiteral("velmora://%1/{z}/{x}/{y}").arg(QString::fromLatin1(HOST));
}

QString MBTilesSource::batchAddress() {
    return QStringLiteral("velmora://%1/batch/{z}").arg(QString::fromLatin1(HOST));
}

void MBTilesSource::install(VelmoraSchemeHandler& handler) const {
    handler.registerProvider(QString::fromLatin1(HOST),
                             [this](const QUrl& url, VelmoraSchemeHandler::Reply& reply) { return answer(url, reply); });
}

} // namespace velmora
