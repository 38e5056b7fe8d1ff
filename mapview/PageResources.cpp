#include "mapview/PageResources.h"

#include "foundation/Trace.h"
#include "mapview/Geocoder.h"
#include "mapview/SharedData.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>

#include <cmath>
#include <memory>
#include <mutex>

namespace velmora {

namespace {

QByteArray readSharedFile(const char* relative) {
    QFile file(SharedData::path(QString::fromLatin1(relative)));
    if (!file.open(QIODevice::ReadOnly)) {
        trace("PageResources: %s is missing", qPrintable(file.fileName()));
        return QByteArray();
    }
    return file.readAll();
}

} // namespace

void PageResources::install(VelmoraSchemeHandler& handler) {
    handler.registerDirectory(QStringLiteral("assets"), SharedData::path(QStringLiteral("assets")));
    handler.registerProvider(QStringLiteral("geocode"), &PageResources::answerGeocode);
}

const Geocoder& PageResources::getGeocoder() {
    static std::once_flag once;
    static std::unique_ptr<Geocoder> geocoder;
    std::call_once(once, [] {
        QByteArray places = readSharedFile("geonames/places.tsv");
        QByteArray admin1 = readSharedFile("geonames/admin1.tsv");
        QByteArray countries = readSharedFile("geonames/countries.tsv");
        geocoder = std::make_unique<Geocoder>(std::string_view(places.constData(), places.size()),
                                              std::string_view(admin1.constData(), admin1.size()),
                                              std::string_view(countries.constData(), countries.size()));
        trace("PageResources: geocoder holds %zu places", geocoder->getPlaceCount());
    });
    return *geocoder;
}

QByteArray PageResources::geocodeScript(long long seq, double latitude, double longitude) {
    QJsonArray results;
    for (const std::string& line : getGeocoder().lookup(latitude, longitude)) {
        results.append(QString::fromStdString(line));
    }
    QByteArray json = QJsonDocument(results).toJson(QJsonDocument::Compact);
    return "velmoraGeocodeReply(" + QByteArray::number(seq) + ", " + json + ");\n";
}

bool PageResources::answerGeocode(const QUrl& url, VelmoraSchemeHandler::Reply& reply) {
    const QUrlQuery query(url);
    bool latOk = false, lngOk = false, seqOk = false;
    double latitude = query.queryItemValue(QStringLiteral("lat")).toDouble(&latOk);
    double longitude = query.queryItemValue(QStringLiteral("lng")).toDouble(&lngOk);
    long long seq = query.queryItemValue(QStringLiteral("seq")).toLongLong(&seqOk);
    if (!seqOk || seq < 0) {
        seq = 0;
    }
    if (!latOk || !lngOk || !std::isfinite(latitude) || !std::isfinite(longitude)) {
        latitude = NAN; // answers no results
    }
    reply.mimeType = "text/javascript;charset=utf-8";
    reply.body = geocodeScript(seq, latitude, longitude);
    return true;
}

} // namespace velmora
