#pragma once

#include "foundation/UniqueID.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

class RowSet;

/// Base of the stored records. A record travels to the writer thread as a
/// complete byte copy (serialize), so the writer never reads the caller's
/// object: kind and operation, then every field, texts as length and bytes.
class AbstractDatabaseRecord {
public:
    enum Operation : int32_t { OPERATION_INSERT = 0, OPERATION_UPDATE = 1, OPERATION_DELETE = 2 };
    enum RecordKind : int32_t { KIND_VEHICLE = 0, KIND_GPS = 1, KIND_EVENT = 2, KIND_ALARM = 3, KIND_ZONE = 4 };

    /// Reads a queue copy field by field; every read fails (false) once the
    /// bytes run short, so a damaged copy is never half believed.
    class Reader {
    public:
        Reader(const uint8_t* data, size_t length) : m_data(data), m_end(data + length) {}
        bool readInt(int32_t& value);
        bool readText(std::string& text);
        /// Into a fixed field of size bytes, cut like the record's setters.
        bool readText(char* field, size_t size);
        bool readId(UniqueID& id);
        bool atEnd() const { return m_data == m_end; }

    private:
        bool readLength(uint32_t& length);

        const uint8_t* m_data;
        const uint8_t* m_end;
    };

    AbstractDatabaseRecord() = default;
    AbstractDatabaseRecord(const AbstractDatabaseRecord&) = default;
    AbstractDatabaseRecord& operator=(const AbstractDatabaseRecord&) = default;
    virtual ~AbstractDatabaseRecord() = default;

    /// Fills the record from the current row; NULL texts read as "", NULL
    /// integers as 0, an unreadable id text as the all-zero id.
    virtual void readRow(const RowSet& rows) = 0;

    int32_t getOperation() const { return m_operation; }
    void setOperation(int32_t operation) { m_operation = operation; }
    int32_t getRecordKind() const { return m_recordKind; }
    void setRecordKind(int32_t recordKind) { m_recordKind = recordKind; }

    /// Appends the queue copy (replacing out's content).
    void serialize(std::string& out) const;
    /// Reads the kind and operation at the head of a queue copy.
    static bool readHeader(Reader& in, int32_t& recordKind, int32_t& operation);
    /// Fills the fields from the rest of a queue copy; false when malformed.
    virtual bool deserializeFields(Reader& in) = 0;

    /// Copies text into a fixed field of size bytes, keeping at most size - 1
    /// bytes and never ending inside a UTF-8 character; always terminated.
    static void copyCut(char* field, size_t size, const char* text);
    static void copyCut(char* field, size_t size, const char* text, size_t length);
    /// The id from its text; the all-zero id for a missing or unreadable text.
    static UniqueID idFromText(const char* text);
    /// The all-zero id.
    static UniqueID nullId();

protected:
    virtual void serializeFields(std::string& out) const = 0;
    static void appendInt(std::string& out, int32_t value);
    static void appendText(std::string& out, const char* text);
    static void appendText(std::string& out, const std::string& text);
    static void appendId(std::string& out, const UniqueID& id);
    /// The column's text, "" for NULL.
    static const char* textOf(const RowSet& rows, int column);

private:
    int32_t m_operation = OPERATION_INSERT;
    int32_t m_recordKind = KIND_VEHICLE;
};

} // namespace velmora
