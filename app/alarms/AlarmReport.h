#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace velmora {

class AlarmRecord;

/// The figures and the CSV form of stored alarms: how long each took to be
/// acknowledged and closed, and per priority the median and the 95th
/// percentile of those times. No widgets; the report window shows these.
class AlarmReport {
public:
    static constexpr const char* CSV_HEADER =
        "Alarm,Priority,Vehicle Name,Event Type,Device Title,Received (UTC),Repeats,Acknowledged (UTC),"
        "Acknowledged By,Closed (UTC),Closed By,Seconds To Acknowledge,Seconds To Close,Notes";

    /// Seconds from receipt to one step; -1 while it has not been taken.
    struct Durations {
        int64_t toAcknowledge = -1;
        int64_t toClose = -1;
    };
    /// One priority's figures in seconds; -1 where no alarm took the step.
    struct Figures {
        int32_t priority = 0;
        int count = 0;
        double medianAcknowledge = -1;
        double p95Acknowledge = -1;
        double medianClose = -1;
        double p95Close = -1;
    };

    static Durations durations(const AlarmRecord& alarm);
    /// The middle value, or the mean of the two middle ones; -1 when empty.
    static double median(std::vector<int64_t> values);
    /// The nearest-rank 95th percentile: the smallest value that at least
    /// 95 % of the values do not exceed; -1 when empty.
    static double percentile95(std::vector<int64_t> values);
    /// The figures of each priority that has alarms, priority 1 first.
    static std::vector<Figures> figures(const std::vector<AlarmRecord>& alarms);

    /// The alarms received from from (inclusive) to to (exclusive), as a
    /// condition over alarm_info.
    static std::string rangeCondition(std::time_t from, std::time_t to);

    /// The display name of an event kind ("Folded" for a sender's folded
    /// alarms); "" for a code the devices do not have.
    static QString kindName(int32_t kind);

    /// A span as "42s", "3m 05s" or "2h 07m"; "" for -1.
    static QString duration(double seconds);

    /// The CSV header and one alarm as a line, line end included, by the
    /// event log export's rules (UTF-8, RFC 4180 quoting, formula guard).
    static QByteArray csvHeaderLine();
    static QByteArray csvLine(const AlarmRecord& alarm);
};

} // namespace velmora
