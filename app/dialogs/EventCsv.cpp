#include "app/dialogs/EventCsv.h"

#include "db/EventLog.h"
#include "rules/AlarmKinds.h"

namespace velmora {

QByteArray EventCsv::headerLine() { return QByteArray(HEADER) + LINE_END; }

QByteArray EventCsv::field(const QString& text) {
    QString value = text;
    if (!value.isEmpty()) {
        // A spreadsheet also reads a cell that opens with a tab or a
        // carriage return as a formula once it strips that character.
        const QChar first = value.front();
        if (first == u'=' || first == u'+' || first == u'-' || first == u'@' || first == u'\t' || first == u'\r') {
            value.prepend(u'\'');
        }
    }
    // Stored texts pass through QString, so bytes that are not UTF-8 come
    // out as replacement characters rather than as a broken file.
    QByteArray bytes = value.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\r') && !bytes.contains('\n')) {
        return bytes;
    }
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

QByteArray EventCsv::line(const EventLog& event) {
    QByteArray out;
    out += field(QString::fromUtf8(event.getName()));
    out += ',';
    out += field(QString::fromUtf8(event.getTime()));
    out += ',';
    out += field(QString::fromUtf16(AlarmKinds::wideName(event.getEventType())));
    out += ',';
    out += field(QString::fromUtf8(event.getDeviceTitle()));
    out += LINE_END;
    return out;
}

} // namespace velmora
