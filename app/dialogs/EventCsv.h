#pragma once

#include <QByteArray>
#include <QString>

namespace velmora {

class EventLog;

/// The event log's CSV form: UTF-8, fields quoted as RFC 4180 asks, lines
/// ended by CR LF. A field that begins with =, +, -, @, a tab or a carriage
/// return gets a leading apostrophe, so a spreadsheet shows device text
/// instead of running it as a formula.
class EventCsv {
public:
    static constexpr const char* HEADER = "Vehicle Name,Date/Time,Event Type,Device Title";
    static constexpr const char* LINE_END = "\r\n";

    /// The header line, line end included.
    static QByteArray headerLine();
    /// One event as a line: name, time, event type name, device title.
    static QByteArray line(const EventLog& event);
    /// One field, guarded and quoted where needed.
    static QByteArray field(const QString& text);
};

} // namespace velmora
