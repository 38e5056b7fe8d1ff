#include "app/alarms/AlarmReport.h"

#include "rules/AlarmBook.h"

#include "app/dialogs/EventCsv.h"
#include "db/AlarmRecord.h"
#include "db/SqliteHistoryReader.h"
#include "rules/AlarmKinds.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace velmora {

namespace {

int64_t between(const std::string& from, const std::string& to) {
    const std::time_t start = AlarmRecord::parseTime(from);
    const std::time_t end = AlarmRecord::parseTime(to);
    if (start == 0 || end == 0) {
        return -1;
    }
    // A clock set back between the two steps is no negative response time.
    return std::max<int64_t>(0, static_cast<int64_t>(end - start));
}

} // namespace

QString AlarmReport::kindName(int32_t kind) {
    if (kind == AlarmBook::FOLDED_KIND) {
        return QStringLiteral("Folded");
    }
    return QString::fromUtf16(AlarmKinds::wideName(kind));
}

AlarmReport::Durations AlarmReport::durations(const AlarmRecord& alarm) {
    Durations d;
    d.toAcknowledge = between(alarm.received, alarm.acknowledged);
    d.toClose = between(alarm.received, alarm.closed);
    return d;
}

double AlarmReport::median(std::vector<int64_t> values) {
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? static_cast<double>(values[n / 2])
                      : (static_cast<double>(values[n / 2 - 1]) + static_cast<double>(values[n / 2])) / 2.0;
}

double AlarmReport::percentile95(std::vector<int64_t> values) {
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    // Rank ceil(0.95 n), counted in twentieths so no rounding creeps in.
    const size_t rank = (values.size() * 19 + 19) / 20;
    return static_cast<double>(values[rank - 1]);
}

std::vector<AlarmReport::Figures> AlarmReport::figures(const std::vector<AlarmRecord>& alarms) {
    struct Times {
        int count = 0;
        std::vector<int64_t> acknowledge;
        std::vector<int64_t> close;
    };
    std::map<int32_t, Times> byPriority;
    for (const AlarmRecord& alarm : alarms) {
        Times& times = byPriority[alarm.priority];
        ++times.count;
        const Durations d = durations(alarm);
        if (d.toAcknowledge >= 0) {
            times.acknowledge.push_back(d.toAcknowledge);
        }
        if (d.toClose >= 0) {
            times.close.push_back(d.toClose);
        }
    }
    std::vector<Figures> out;
    for (const auto& [priority, times] : byPriority) {
        Figures f;
        f.priority = priority;
        f.count = times.count;
        f.medianAcknowledge = median(times.acknowledge);
        f.p95Acknowledge = percentile95(times.acknowledge);
        f.medianClose = median(times.close);
        f.p95Close = percentile95(times.close);
        out.push_back(f);
    }
    return out;
}

std::string AlarmReport::rangeCondition(std::time_t from, std::time_t to) {
    return SqliteHistoryReader::alarmCondition(from, to);
}

QString AlarmReport::duration(double seconds) {
    if (seconds < 0) {
        return QString();
    }
    const int64_t whole = static_cast<int64_t>(std::llround(seconds));
    if (whole < 60) {
        return QStringLiteral("%1s").arg(whole);
    }
    if (whole < 3600) {
        return QStringLiteral("%1m %2s").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1h %2m").arg(whole / 3600).arg(whole / 60 % 60, 2, 10, QLatin1Char('0'));
}

QByteArray AlarmReport::csvHeaderLine() { return QByteArray(CSV_HEADER) + EventCsv::LINE_END; }

QByteArray AlarmReport::csvLine(const AlarmRecord& alarm) {
    const Durations d = durations(alarm);
    const auto seconds = [](int64_t value) { return value < 0 ? QString() : QString::number(value); };
    const QString fields[] = {
        QString::number(alarm.id),
        QString::number(alarm.priority),
        QString::fromStdString(alarm.vehicleName),
        kindName(alarm.eventType),
        QString::fromStdString(alarm.deviceTitle),
        QString::fromStdString(alarm.received),
        QString::number(alarm.repeatCount),
        QString::fromStdString(alarm.acknowledged),
        QString::fromStdString(alarm.acknowledgedBy),
        QString::fromStdString(alarm.closed),
        QString::fromStdString(alarm.closedBy),
        seconds(d.toAcknowledge),
        seconds(d.toClose),
        QString::fromStdString(alarm.notes),
    };
    QByteArray out;
    for (const QString& field : fields) {
        out += EventCsv::field(field);
        out += ',';
    }
    out.chop(1);
    out += EventCsv::LINE_END;
    return out;
}

} // namespace velmora
