// The map's picture sources end to end: an MBTiles file behind the velmora
// scheme, online tiles from a tile server on 127.0.0.1, both in the real
// page, and the main window rebuilding its page when the settings change.
#include "tests/app/shell/WindowFixture.h"
#include "tests/app/hub/HubFixture.h"

#include "tests/support/MBTilesMaker.h"
#include "tests/support/ReturnsWithin.h"

#include "app/hub/MapSettings.h"
#include "app/shell/WindowMessage.h"
#include "mapview/MBTilesSource.h"
#include "mapview/PageDocumentView.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>

#include <filesystem>
#include <fstream>

using namespace velmora;
using namespace velmora::test;
using velmora::testing::returnsWithin;

namespace {

MBTilesContent worldFile() {
    MBTilesContent content;
    content.missing = {{2, 1, 1}};
    content.metadata = {{"name", "Test world"}, {"format", "png"},      {"minzoom", "0"},
                     {"maxzoom", "3"},       {"bounds", "-180,-85.0511,180,85.0511"},
                     {"attribution", "Drawn by the test"}};
    return content;
}

bool near(QRgb a, const QColor& b, int tolerance = 6) {
    return std::abs(qRed(a) - b.red()) <= tolerance && std::abs(qGreen(a) - b.green()) <= tolerance &&
           std::abs(qBlue(a) - b.blue()) <= tolerance;
}

QString colourText(QRgb c) {
    return QStringLiteral("(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

// The tile server: answers GET /<z>/<x>/<y>.png with the drawn tile and
// keeps every path asked for.
class TileServer : public QObject {
public:
    TileServer() {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }
    void stop() { m_server.close(); }
    QStringList paths;

private:
    void answer(QTcpSocket* socket) {
        m_pending[socket] += socket->readAll();
        const QByteArray request = m_pending[socket];
        if (!request.contains("\r\n\r\n")) {
            return;
        }
        m_pending.remove(socket);
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        const QString path = words.size() > 1 ? QString::fromLatin1(words[1]) : QString();
        paths.append(path);
        const QStringList parts = QString(path).remove(QStringLiteral(".png")).split('/', Qt::SkipEmptyParts);
        QByteArray body;
        if (parts.size() == 3) {
            body = drawTile(parts[0].toInt(), parts[1].toInt(), parts[2].toInt());
        }
        QByteArray head = body.isEmpty() ? "HTTP/1.1 404 Not Found\r\n" : "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n";
        head += "Access-Control-Allow-Origin: *\r\nConnection: close\r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\n\r\n";
        socket->write(head + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

// The real page in its own window, built from map settings as the console
// builds it.
class MapPage {
public:
    MapPage(const MapSettings& settings, const MBTilesSource* local)
        : m_view(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1280, 800), nullptr, settings.pageConfig(local)) {
        if (local != nullptr) {
            // The file's answers, with every address the page asked for kept.
            auto answer = [this, local](const QUrl& url, VelmoraSchemeHandler::Reply& reply) {
                asked << url.toString();
                return local->answer(url, reply);
            };
            m_view.getHost().getSchemeHandler()->registerProvider(QString::fromLatin1(MBTilesSource::HOST), answer);
        }
        m_view.getWindow().show();
        m_loaded = m_view.waitLoaded();
    }
    bool loaded() const { return m_loaded; }
    QVariant eval(const QString& script) { return m_view.evaluate(script); }
    bool until(const QString& script, int ms = 10000) {
        QElapsedTimer timer;
        timer.start();
        while (eval(script) != QVariant(true)) {
            if (timer.elapsed() > ms) {
                return false;
            }
            PageDocumentView::pump(20);
        }
        return true;
    }
    /// Sets the view and waits until no tile is loading.
    bool view(double lat, double lng, int zoom) {
        eval(QStringLiteral("window.__tilesBusy = 0; map.setView([%1, %2], %3, {animate: false}); true")
                 .arg(lat, 0, 'f', 6)
                 .arg(lng, 0, 'f', 6)
                 .arg(zoom));
        PageDocumentView::pump(300);
        return until("!(baseMap.localTiles && map.hasLayer(baseMap.localTiles) && baseMap.localTiles.isLoading()) &&"
                     " (document.querySelectorAll('.leaflet-tile-container img:not(.leaflet-tile-loaded)').length === 0"
                     " || Array.prototype.every.call(document.querySelectorAll('.leaflet-tile-container "
                     "img:not(.leaflet-tile-loaded)'), function (i) { return i.complete; }))");
    }
    /// The window pixel where tile z/x/y shows its flat colour (z is the
    /// current zoom).
    QPoint plainSpot(int z, int x, int y) {
        const QJsonArray at = QJsonDocument::fromJson(
                                  eval(QStringLiteral("(function () { var p = map.unproject([%1, %2], %3);"
                                                      " var c = map.latLngToContainerPoint(p);"
                                                      " var r = map.getContainer().getBoundingClientRect();"
                                                      " return JSON.stringify([c.x + r.left, c.y + r.top]); })()")
                                           .arg(x * 256 + TILE_PLAIN_SPOT)
                                           .arg(y * 256 + TILE_PLAIN_SPOT)
                                           .arg(z))
                                      .toString()
                                      .toUtf8())
                                  .array();
        return QPoint(qRound(at.at(0).toDouble()), qRound(at.at(1).toDouble()));
    }
    /// The window pixel at `at` once it shows colour (the engine may draw a
    /// loaded tile a few frames later on a busy machine), or as it is after
    /// five seconds.
    QRgb pixelShowing(QPoint at, const QColor& colour, int tolerance = 6) {
        QElapsedTimer timer;
        timer.start();
        QRgb shown = 0;
        do {
            PageDocumentView::pump(100);
            shown = m_view.grab().pixel(at);
        } while (!near(shown, colour, tolerance) && timer.elapsed() < 5000);
        return shown;
    }
    /// z/x/y of every tile of the file's layer that shows its picture.
    QStringList loadedTiles() {
        return eval("(function () { var layer = baseMap.localTiles, out = [];"
                    " for (var key in layer ? layer._tiles : {}) { var t = layer._tiles[key];"
                    "  if (t.el.classList.contains('leaflet-tile-loaded') && t.el.naturalWidth > 0)"
                    "   out.push(t.coords.z + '/' + t.coords.x + '/' + t.coords.y); }"
                    " return out; })()")
            .toStringList();
    }

    /// Every address the page asked the file for.
    QStringList asked;

private:
    PageDocumentView m_view;
    bool m_loaded = false;
};

class MapSourcesTest : public ::testing::Test {
protected:
    std::string file(const char* name) const { return m_dir.file(name); }
    TempDir m_dir;
};

// Every address a page could ask for, answered from the file: each tile by
// its web map row (the file stores rows bottom-up), missing and impossible
// tiles and malformed paths as not found, the MIME type from the data;
// batches of tiles a line each, and malformed or oversized batches refused.
TEST_F(MapSourcesTest, TheSchemeServesEachTileOfTheFileAtItsWebMapAddress) {
    ASSERT_EQ(makeMBTiles(file("world.mbtiles"), worldFile()), 84);
    MBTilesContent jpeg = worldFile();
    jpeg.format = "JPEG";
    jpeg.maxZoom = 1;
    jpeg.metadata["format"] = "jpg";
    makeMBTiles(file("photo.mbtiles"), jpeg);

    MBTilesSource world;
    ASSERT_EQ(world.open(QString::fromStdString(file("world.mbtiles"))), QString());
    EXPECT_EQ(world.getMetadata().name, QStringLiteral("Test world"));
    EXPECT_EQ(world.getMetadata().minZoom, 0);
    EXPECT_EQ(world.getMetadata().maxZoom, 3);
    VelmoraSchemeHandler handler;
    world.install(handler);

    for (int z = 0; z <= 3; ++z) {
        for (int x = 0; x < (1 << z); ++x) {
            for (int y = 0; y < (1 << z); ++y) {
                SCOPED_TRACE(QStringLiteral("%1/%2/%3").arg(z).arg(x).arg(y).toStdString());
                const auto reply = handler.resolve(QUrl(QStringLiteral("velmora://mbtiles/%1/%2/%3").arg(z).arg(x).arg(y)));
                if (z == 2 && x == 1 && y == 1) {
                    EXPECT_EQ(reply.status, VelmoraSchemeHandler::Reply::NotFound);
                    continue;
                }
                ASSERT_EQ(reply.status, VelmoraSchemeHandler::Reply::Ok);
                EXPECT_EQ(reply.mimeType, QByteArray("image/png"));
                EXPECT_TRUE(reply.body == drawTile(z, x, y)) << "another tile's picture";
            }
        }
    }
    for (const char* path : {"4/0/0", "2/4/0", "2/0/4", "2/-1/0", "-1/0/0", "2/1", "2/1/1/1", "a/b/c", "2/1/1.png",
                             "99/0/0", "2/%31/1x"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(handler.resolve(QUrl(QStringLiteral("velmora://mbtiles/") + QLatin1String(path))).status,
                  VelmoraSchemeHandler::Reply::NotFound);
    }

    // A batch answers a line per tile, in the order asked: the picture as a
    // data: address, or nothing where the file has no tile.
    const auto batch = handler.resolve(QUrl(QStringLiteral("velmora://mbtiles/batch/2?xy=2,1,1,1,0,3,9,9,-1,0")));
    ASSERT_EQ(batch.status, VelmoraSchemeHandler::Reply::Ok);
    EXPECT_EQ(batch.mimeType, QByteArray("text/plain"));
    const QList<QByteArray> lines = batch.body.split('\n');
    ASSERT_EQ(lines.size(), 6) << "five lines, each ended";
    EXPECT_TRUE(lines[0] == "data:image/png;base64," + drawTile(2, 2, 1).toBase64());
    EXPECT_TRUE(lines[1].isEmpty()) << "the missing tile 2/1/1";
    EXPECT_TRUE(lines[2] == "data:image/png;base64," + drawTile(2, 0, 3).toBase64());
    EXPECT_TRUE(lines[3].isEmpty() && lines[4].isEmpty() && lines[5].isEmpty());
    // The most tiles a batch may name, each once; one more, or one tile
    // twice (its picture would be in the answer twice), is refused.
    QStringList most;
    for (int i = 0; i < MBTilesSource::MAX_BATCH; ++i) {
        most << QStringLiteral("%1,%2").arg(i % 32).arg(i / 32);
    }
    const QString oneMore = QStringLiteral("%1,%2").arg(MBTilesSource::MAX_BATCH % 32).arg(MBTilesSource::MAX_BATCH / 32);
    EXPECT_EQ(handler.resolve(QUrl(QStringLiteral("velmora://mbtiles/batch/10?xy=") + most.join(','))).status,
              VelmoraSchemeHandler::Reply::Ok);
    for (const QString& address :
         {QStringLiteral("batch/2"), QStringLiteral("batch/2?xy="), QStringLiteral("batch/2?xy=1"),
          QStringLiteral("batch/2?xy=1,1,2"), QStringLiteral("batch/2?xy=1,a"), QStringLiteral("batch/2?xy=1,,1"),
          QStringLiteral("batch/x?xy=1,1"), QStringLiteral("batch?xy=1,1"), QStringLiteral("batch/2/1?xy=1,1"),
          QStringLiteral("batch/10?xy=") + most.join(',') + ',' + oneMore, QStringLiteral("batch/0?xy=0,0,0,0"),
          QStringLiteral("batch/2?xy=2,1,0,3,2,1")}) {
        SCOPED_TRACE(address.left(40).toStdString());
        EXPECT_EQ(handler.resolve(QUrl(QStringLiteral("velmora://mbtiles/") + address)).status,
                  VelmoraSchemeHandler::Reply::NotFound);
    }

    MBTilesSource photo;
    ASSERT_EQ(photo.open(QString::fromStdString(file("photo.mbtiles"))), QString());
    photo.install(handler);
    const auto reply = handler.resolve(QUrl(QStringLiteral("velmora://mbtiles/1/1/0")));
    ASSERT_EQ(reply.status, VelmoraSchemeHandler::Reply::Ok);
    EXPECT_EQ(reply.mimeType, QByteArray("image/jpeg"));
    EXPECT_TRUE(handler.resolve(QUrl(QStringLiteral("velmora://mbtiles/batch/1?xy=1,0")))
                    .body.startsWith("data:image/jpeg;base64,"));
}

// A file that is missing, not SQLite, damaged, another program's SQLite
// file, or an MBTiles file the page cannot draw is refused with a message
// that says so; the settings check gives the same message.
TEST_F(MapSourcesTest, FilesThatCannotServeTilesAreRefusedWithAMessage) {
    makeMBTiles(file("good.mbtiles"), worldFile());
    const auto goodSize = std::filesystem::file_size(file("good.mbtiles"));
    {
        std::ifstream in(file("good.mbtiles"), std::ios::binary);
        std::string bytes(goodSize, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        // The header survives, the pages after the first are overwritten.
        for (size_t i = 4096; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(0xA5 ^ (i * 7));
        }
        std::ofstream(file("damaged.mbtiles"), std::ios::binary) << bytes;
    }
    std::ofstream(file("text.mbtiles")) << "name,value\nthis is not a database\n";
    auto sql = [this](const char* name, const char* statements) {
        sqlite3* db = nullptr;
        sqlite3_open(file(name).c_str(), &db);
        execSql(db, statements);
        sqlite3_close(db);
    };
    sql("other.mbtiles", "CREATE TABLE setup(key text, value);");
    sql("notiles.mbtiles", "CREATE TABLE metadata(name text, value text);");
    sql("empty.mbtiles", "CREATE TABLE metadata(name text, value text);"
                         "CREATE TABLE tiles(zoom_level integer, tile_column integer, tile_row integer, tile_data blob);");
    MBTilesContent vector = worldFile();
    vector.maxZoom = 0;
    vector.metadata["format"] = "pbf";
    makeMBTiles(file("vector.mbtiles"), vector);
    MBTilesContent bounds = worldFile();
    bounds.maxZoom = 0;
    bounds.metadata["bounds"] = "10,50,5";
    makeMBTiles(file("bounds.mbtiles"), bounds);
    MBTilesContent zooms = worldFile();
    zooms.maxZoom = 0;
    zooms.metadata["minzoom"] = "5";
    zooms.metadata["maxzoom"] = "2";
    makeMBTiles(file("zooms.mbtiles"), zooms);
    // Views that never give a row: reading them would not end.
    const std::string endless = "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n) ";
    MBTilesContent small = worldFile();
    small.maxZoom = 0;
    makeMBTiles(file("endless.mbtiles"), small);
    sql("endless.mbtiles", ("ALTER TABLE tiles RENAME TO kept; CREATE VIEW tiles AS " + endless +
                            "SELECT 0 AS zoom_level, 0 AS tile_column, 0 AS tile_row, x'00' AS tile_data "
                            "FROM n WHERE i < 0;").c_str());
    makeMBTiles(file("endlessmeta.mbtiles"), small);
    sql("endlessmeta.mbtiles", ("ALTER TABLE metadata RENAME TO kept; CREATE VIEW metadata AS " + endless +
                                "SELECT 'name' AS name, 'x' AS value FROM n WHERE i < 0;").c_str());
    // Tiles come at once, but without zooms in the metadata they are looked
    // for over the endless part too.
    MBTilesContent unnamed = small;
    unnamed.metadata.erase("minzoom");
    unnamed.metadata.erase("maxzoom");
    makeMBTiles(file("endlesszooms.mbtiles"), unnamed);
    sql("endlesszooms.mbtiles", ("ALTER TABLE tiles RENAME TO kept; CREATE VIEW tiles AS SELECT * FROM kept "
                                 "UNION ALL SELECT * FROM (" + endless + "SELECT 0, 0, 0, x'00' FROM n WHERE i < 0);")
                                    .c_str());

    const struct {
        const char* file;
        const char* said;
    } cases[] = {
        {"absent.mbtiles", "cannot be opened: unable to open database file"},
        {"text.mbtiles", "is not a usable MBTiles file: file is not a database"},
        {"damaged.mbtiles", "is not a usable MBTiles file: database disk image is malformed"},
        {"other.mbtiles", "is not a usable MBTiles file: it has no metadata table"},
        {"notiles.mbtiles", "is not a usable MBTiles file: it has no tiles table"},
        {"empty.mbtiles", "is not a usable MBTiles file: it holds no tiles"},
        {"vector.mbtiles", "its tiles are pbf, only PNG and JPEG tiles can be shown"},
        {"bounds.mbtiles", "its bounds \"10,50,5\" are not west,south,east,north in degrees"},
        {"zooms.mbtiles", "its minzoom is above its maxzoom"},
        {"endless.mbtiles", "is not a usable MBTiles file: reading its tiles takes longer than 200 ms"},
        {"endlessmeta.mbtiles", "is not a usable MBTiles file: reading its metadata takes longer than 200 ms"},
        {"endlesszooms.mbtiles", "is not a usable MBTiles file: reading its tiles takes longer than 200 ms"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = QString::fromStdString(file(c.file));
        // Shared with the helper thread, which outlives a check that hangs.
        auto source = std::make_shared<MBTilesSource>();
        auto problem = std::make_shared<QString>();
        ASSERT_TRUE(returnsWithin(std::chrono::seconds(3), [source, problem, path] { *problem = source->open(path); }))
            << "the check does not end";
        EXPECT_TRUE(problem->contains(QString::fromLatin1(c.said))) << problem->toStdString();
        EXPECT_TRUE(problem->contains(path)) << problem->toStdString();
        EXPECT_FALSE(source->isOpen());
        QByteArray tile;
        EXPECT_FALSE(source->tile(0, 0, 0, tile));
        MapSettings settings;
        settings.source = MapSettings::MBTILES;
        settings.mbtilesFile = path;
        EXPECT_EQ(settings.check(), *problem);
        // The page is then built for the offline map only.
        EXPECT_TRUE(settings.pageConfig(source.get()).localTiles.isEmpty());
    }
    EXPECT_FALSE(std::filesystem::exists(file("absent.mbtiles"))) << "opening created the file";
    MBTilesSource good;
    EXPECT_EQ(good.open(QString::fromStdString(file("good.mbtiles"))), QString());
}

// A file that opens but holds a tile larger than any map tile, or whose
// tiles table never ends for a tile it lacks: the tile is not served and
// every answer comes within its time limit.
TEST_F(MapSourcesTest, OversizedAndEndlessTilesAreNotServed) {
    MBTilesContent content = worldFile();
    content.maxZoom = 1;
    makeMBTiles(file("large.mbtiles"), content);
    sqlite3* db = nullptr;
    sqlite3_open(file("large.mbtiles").c_str(), &db);
    sqlite3_stmt* update = nullptr;
    sqlite3_prepare_v2(db, "UPDATE tiles SET tile_data = ?1 WHERE zoom_level = 1 AND tile_column = ?2", -1, &update,
                       nullptr);
    // Web map tiles 1/0/y are one byte over the limit, 1/1/y just at it.
    for (int column : {0, 1}) {
        QByteArray data = drawTile(1, column, 0);
        data.resize(MBTilesSource::MAX_TILE_BYTES + (column == 0 ? 1 : 0), 'x');
        sqlite3_bind_blob(update, 1, data.constData(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(update, 2, column);
        sqlite3_step(update);
        sqlite3_reset(update);
    }
    sqlite3_finalize(update);
    sqlite3_close(db);
    makeMBTiles(file("endless.mbtiles"), content);
    db = nullptr;
    sqlite3_open(file("endless.mbtiles").c_str(), &db);
    execSql(db, "ALTER TABLE tiles RENAME TO kept; CREATE VIEW tiles AS SELECT * FROM kept UNION ALL SELECT * FROM "
                "(WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n) SELECT i % 4, i % 8, i * 1, x'00' "
                "FROM n WHERE i < 0);");
    sqlite3_close(db);

    const struct {
        const char* file;
        const char* address;
        VelmoraSchemeHandler::Reply::Status status;
        QList<int> lineSizes; ///< a batch's lines: 0 empty, 1 a picture
    } rows[] = {
        {"large.mbtiles", "1/0/1", VelmoraSchemeHandler::Reply::NotFound, {}},
        {"large.mbtiles", "1/1/1", VelmoraSchemeHandler::Reply::Ok, {}},
        {"large.mbtiles", "batch/1?xy=0,0,1,0,0,1", VelmoraSchemeHandler::Reply::Ok, {0, 1, 0}},
        {"endless.mbtiles", "0/0/0", VelmoraSchemeHandler::Reply::Ok, {}},
        {"endless.mbtiles", "1/1/1", VelmoraSchemeHandler::Reply::Ok, {}},
        {"endless.mbtiles", "3/0/0", VelmoraSchemeHandler::Reply::NotFound, {}},
        {"endless.mbtiles", "batch/3?xy=0,0,1,1,2,2", VelmoraSchemeHandler::Reply::Ok, {0, 0, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + row.address);
        auto source = std::make_shared<MBTilesSource>();
        auto reply = std::make_shared<VelmoraSchemeHandler::Reply>();
        auto problem = std::make_shared<QString>();
        const QString path = QString::fromStdString(file(row.file));
        const QUrl url(QStringLiteral("velmora://mbtiles/") + QLatin1String(row.address));
        ASSERT_TRUE(returnsWithin(std::chrono::seconds(3), [source, reply, problem, path, url] {
            *problem = source->open(path);
            if (!source->answer(url, *reply)) {
                reply->status = VelmoraSchemeHandler::Reply::NotFound;
            }
        })) << "the answer does not come";
        EXPECT_EQ(*problem, QString());
        EXPECT_EQ(reply->status, row.status);
        EXPECT_LE(reply->body.size(), MBTilesSource::MAX_TILE_BYTES * 4 / 3 + 100);
        if (!row.lineSizes.isEmpty()) {
            const QList<QByteArray> lines = reply->body.split('\n');
            ASSERT_EQ(lines.size(), row.lineSizes.size() + 1);
            for (int i = 0; i < row.lineSizes.size(); ++i) {
                EXPECT_EQ(lines[i].startsWith("data:image/png;base64,"), row.lineSizes[i] == 1) << "line " << i;
            }
        }
    }
}

// In the page the file's tiles cover the base map at the zooms it has (and
// two levels enlarged past them), a missing tile shows the base map, and
// deeper zooms show the base map alone.
TEST_F(MapSourcesTest, FileTilesShowOverTheBaseMapWithinTheirZooms) {
    makeMBTiles(file("world.mbtiles"), worldFile());
    MapSettings settings;
    settings.source = MapSettings::MBTILES;
    settings.mbtilesFile = QString::fromStdString(file("world.mbtiles"));
    MBTilesSource source;
    ASSERT_EQ(source.open(settings.mbtilesFile), QString());
    MapPage page(settings, &source);
    ASSERT_TRUE(page.loaded());
    EXPECT_EQ(page.eval("pageConfig.localMaxZoom").toInt(), 3);

    ASSERT_TRUE(page.view(20, -20, 2));
    const QRgb shown = page.pixelShowing(page.plainSpot(2, 2, 1), tileColour(2, 2, 1));
    EXPECT_TRUE(near(shown, tileColour(2, 2, 1))) << colourText(shown).toStdString();
    const QStringList tiles = page.loadedTiles();
    EXPECT_TRUE(tiles.contains(QStringLiteral("2/2/1"))) << tiles.join(' ').toStdString();
    EXPECT_FALSE(tiles.contains(QStringLiteral("2/1/1"))) << "a missing tile counted as shown";
    // A view's tiles are asked for together, not one request each.
    EXPECT_FALSE(page.asked.isEmpty());
    EXPECT_LT(page.asked.size(), tiles.size()) << page.asked.join(' ').toStdString();
    for (const QString& address : page.asked) {
        EXPECT_TRUE(address.startsWith(QStringLiteral("velmora://mbtiles/batch/"))) << address.toStdString();
    }
    // The missing tile's place (the Atlantic off West Africa) shows the sea
    // of the base map.
    const QRgb missing = page.pixelShowing(page.plainSpot(2, 1, 1), QColor("#A9CCE3"), 10);
    EXPECT_TRUE(near(missing, QColor("#A9CCE3"), 10)) << colourText(missing).toStdString();

    // Zoom 5: the zoom-3 tiles, enlarged.
    ASSERT_TRUE(page.view(48.85, 2.35, 5));
    for (const QString& tile : page.loadedTiles()) {
        EXPECT_TRUE(tile.startsWith(QStringLiteral("3/"))) << tile.toStdString();
    }
    EXPECT_FALSE(page.loadedTiles().isEmpty());
    // Zoom 6: nothing of the file; Paris is on the base map's land.
    ASSERT_TRUE(page.view(48.85, 2.35, 6));
    EXPECT_TRUE(page.until("document.querySelectorAll('.leaflet-tile-loaded').length === 0"));
    // From zoom 6 the finer land stands in for the world view's.
    EXPECT_TRUE(page.eval("map.hasLayer(baseMap.land) || map.hasLayer(fineMap.land)").toBool());
}

// Online tiles: the page asks the tile server for the tiles of the view,
// shows them over the base map, and when the server is gone the base map
// shows where tiles fail and the page goes on working.
TEST_F(MapSourcesTest, OnlineTilesAreAskedForShownAndTheBaseMapTakesOverWithoutThem) {
    TileServer server;
    ASSERT_NE(server.port(), 0);
    MapSettings settings;
    settings.source = MapSettings::ONLINE;
    settings.roadTiles = QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(server.port());
    settings.roadAttribution = QStringLiteral("Test tiles <b>bold</b>");
    ASSERT_EQ(settings.check(), QString());
    MapPage page(settings, nullptr);
    ASSERT_TRUE(page.loaded());

    const QString start = QStringLiteral("/%1/").arg(page.eval("map.getZoom()").toInt());
    ASSERT_TRUE(page.view(48.85, 2.35, 6));
    ASSERT_TRUE(page.until("document.querySelectorAll('.leaflet-tile-loaded').length > 0"));
    const auto [x, y] = tileOf(48.85, 2.35, 6);
    const QString paris = QStringLiteral("/6/%1/%2.png").arg(x).arg(y);
    EXPECT_TRUE(server.paths.contains(paris)) << server.paths.join(' ').toStdString();
    for (const QString& path : server.paths) {
        // The start view's tiles, or the tiles of the view asked for.
        EXPECT_TRUE(path.startsWith(QStringLiteral("/6/")) || path.startsWith(start)) << path.toStdString();
    }
    // Shown over the base map's land, not under it.
    const QRgb shown = page.pixelShowing(page.plainSpot(6, x, y), tileColour(6, x, y));
    EXPECT_TRUE(near(shown, tileColour(6, x, y))) << colourText(shown).toStdString();
    // The attribution is text, not markup.
    EXPECT_TRUE(page.eval("document.querySelector('.leaflet-control-attribution').textContent"
                          ".indexOf('Test tiles <b>bold</b>') >= 0")
                    .toBool());

    server.stop();
    const int asked = static_cast<int>(server.paths.size());
    // Madrid, at a zoom no tile was loaded for: every tile fails.
    ASSERT_TRUE(page.view(40.42, -3.70, 7));
    EXPECT_TRUE(page.until("document.querySelectorAll('.leaflet-tile-container img').length > 0 &&"
                           " Array.prototype.every.call(document.querySelectorAll('.leaflet-tile-container img'),"
                           " function (i) { return i.complete && !i.classList.contains('leaflet-tile-loaded') ||"
                           " i.naturalWidth === 0; })"));
    EXPECT_EQ(server.paths.size(), asked);
    const auto [mx, my] = tileOf(40.42, -3.70, 7);
    const QRgb land = page.pixelShowing(page.plainSpot(7, mx, my), QColor("#F6F3EC"), 10);
    EXPECT_TRUE(near(land, QColor("#F6F3EC"), 10)) << colourText(land).toStdString();
    page.eval("insertVehicle(1, '40.42', '-3.70', 'v1', 'Truck', ''); moveTo(40.45, -3.65, 10, 0, 0, 0, 90, 'v1'); true");
    EXPECT_NEAR(page.eval("findVehicle('v1').latlng.lat").toDouble(), 40.45, 1e-9);
    // From zoom 6 the finer land stands in for the world view's.
    EXPECT_TRUE(page.eval("map.hasLayer(baseMap.land) || map.hasLayer(fineMap.land)").toBool());
}

} // namespace

// Changed map settings rebuild the page: it comes back with the new
// configuration and the whole fleet; a file that cannot be served is
// reported and the page is built for the offline map.
TEST_F(WindowTest, ChangedMapSettingsReloadThePageWithTheFleet) {
    startWindow();
    ASSERT_TRUE(sender.send(port, fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A); }));
    EXPECT_EQ(evaluate("pageConfig.grouping").toString(), QStringLiteral("auto"));

    MBTilesContent content = worldFile();
    content.maxZoom = 1;
    content.metadata["maxzoom"] = "1";
    makeMBTiles(dir.file("region.mbtiles"), content);
    MapSettings settings;
    settings.source = MapSettings::MBTILES;
    settings.mbtilesFile = QString::fromStdString(dir.file("region.mbtiles"));
    settings.grouping = MapSettings::GROUP_ON;
    settings.store(Setup::getInstance().getDatabase());
    WindowMessage::post(window.get(), WindowMessage::UWM_MAP_CHANGED);
    ASSERT_TRUE(waitUntil([this] {
        return window->getHost().isPageLoaded() && evaluate("pageConfig.grouping").toString() == "on" &&
               vehicleOnPage(ID_A);
    })) << "the page did not come back with the fleet";
    EXPECT_EQ(evaluate("pageConfig.localTiles").toString(), QStringLiteral("velmora://mbtiles/{z}/{x}/{y}"));
    EXPECT_EQ(evaluate("pageConfig.localMaxZoom").toInt(), 1);
    EXPECT_EQ(evaluate("global.width").toInt(), window->width());
    // The page comes back at the fleet, closer than this tile set goes:
    // its tiles show at the lowest zoom.
    evaluate("map.setView([20, 0], map.getMinZoom(), {animate: false}); true");
    EXPECT_TRUE(waitUntil([this] { return evaluate("document.querySelectorAll('.leaflet-tile-loaded').length > 0").toBool(); }));

    std::ofstream(dir.file("broken.mbtiles")) << "not a database";
    settings.mbtilesFile = QString::fromStdString(dir.file("broken.mbtiles"));
    settings.store(Setup::getInstance().getDatabase());
    BoxAnswerer answerer(QMessageBox::Ok);
    WindowMessage::post(window.get(), WindowMessage::UWM_MAP_CHANGED);
    ASSERT_TRUE(answerer.wait());
    EXPECT_TRUE(answerer.box().text.contains("is not a usable MBTiles file")) << answerer.box().text.toStdString();
    EXPECT_TRUE(answerer.box().text.endsWith("The offline map is shown.")) << answerer.box().text.toStdString();
    ASSERT_TRUE(waitUntil([this] {
        return window->getHost().isPageLoaded() && evaluate("pageConfig.localTiles === ''").toBool() &&
               vehicleOnPage(ID_A);
    }));
}
