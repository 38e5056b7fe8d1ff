#include "app/hub/AlarmTrack.h"

#include "app/hub/IOperator.h"
#include "app/hub/IPageRunner.h"
#include "db/SqliteHistoryReader.h"
#include "foundation/Exception.h"
#include "foundation/Trace.h"
#include "mapview/TrackHistory.h"
#include "mapview/WatchCommands.h"
#include "rules/Alarm.h"
#include "rules/AlarmKinds.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace velmora {

namespace {

QString localTime(std::time_t utc, const char* format) {
    return QDateTime::fromSecsSinceEpoch(utc).toLocalTime().toString(QString::fromLatin1(format));
}

} // namespace

AlarmTrack::AlarmTrack(IPageRunner& page, IOperator& desk) : m_page(page), m_desk(desk) {}

bool AlarmTrack::show(const Alarm& alarm, std::time_t at, const std::optional<GeoPoint>& place) {
    const std::string id = alarm.vehicle.toText();
    std::optional<GeoPoint> mark = place;
    HistoryReader& history = m_history != nullptr ? *m_history : SqliteHistoryReader::getInstance();
    std::vector<GPSData> stored;
    int64_t offset = 0;
    try {
        stored = history.loadTrackBetween(alarm.vehicle, at - SPAN_SECONDS, at + SPAN_SECONDS, m_now(), offset);
    } catch (const Exception& e) {
        // No database: nothing to show, as with no fixes.
        traceException(e);
    }
    const std::vector<MapCommands::TrackFix> track = TrackHistory::fixes(stored);
    if (!track.empty() && !mark) {
        // The fix nearest the alarm, in the device's clock.
        const int64_t wanted = static_cast<int64_t>(at) + offset;
        int64_t best = std::numeric_limits<int64_t>::max();
        for (const MapCommands::TrackFix& fix : track) {
            const std::optional<int64_t> time = TrackHistory::parseTimeText(fix.time.c_str());
            if (time && std::llabs(*time - wanted) < best) {
                best = std::llabs(*time - wanted);
                mark = GeoPoint{fix.latitude, fix.longitude};
            }
        }
    }
    const QStringList lines = TrackHistory::commands(track);
    if (lines.isEmpty()) {
        m_desk.tell(QStringLiteral("No positions of %1 from %2 to %3.")
                        .arg(QString::fromStdString(alarm.vehicleName), localTime(at - SPAN_SECONDS, "HH:mm"),
                             localTime(at + SPAN_SECONDS, "HH:mm")));
        return false;
    }
    m_page.execute(WatchCommands::setHistoryVehicle(id));
    m_page.execute(lines);
    if (mark) {
        const char* kind = AlarmKinds::name(alarm.kind);
        const QString label = QString::fromUtf8(*kind != '\0' ? kind : "Alarm") + QStringLiteral(" ") +
                              localTime(at, "HH:mm:ss");
        m_page.execute(WatchCommands::markHistoryPlace(mark->latitude, mark->longitude, label.toStdString()));
    }
    return true;
}

} // namespace velmora
