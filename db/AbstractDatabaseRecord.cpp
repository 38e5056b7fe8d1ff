#include "db/AbstractDatabaseRecord.h"

#include "db/RowSet.h"

#include <cstring>

namespace velmora {

namespace {
bool isContinuation(char c)
{
    return (static_cast<uint8_t>(c) & 0xC0) == 0x80;
}
} // namespace

bool AbstractDatabaseRecord::Reader::readLength(uint32_t& length)
{
    if (static_cast<size_t>(m_end - m_data) < sizeof length)
        return false;
    std::memcpy(&length, m_data, sizeof length);
    m_data += sizeof length;
    return static_cast<size_t>(m_end - m_data) >= length;
}

bool AbstractDatabaseRecord::Reader::readInt(int32_t& value)
{
    if (static_cast<size_t>(m_end - m_data) < sizeof value)
        return false;
    std::memcpy(&value, m_data, sizeof value);
    m_data += sizeof value;
    return true;
}

bool AbstractDatabaseRecord::Reader::readText(std::string& text)
{
    uint32_t length = 0;
    if (!readLength(length))
        return false;
    text.assign(reinterpret_cast<const char*>(m_data), length);
    m_data += length;
    return true;
}

bool AbstractDatabaseRecord::Reader::readText(char* field, size_t size)
{
    uint32_t length = 0;
    if (!readLength(length))
        return false;
    copyCut(field, size, reinterpret_cast<const char*>(m_data), length);
    m_data += length;
    return true;
}

bool AbstractDatabaseRecord::Reader::readId(UniqueID& id)
{
    uint8_t bytes[16];
    if (static_cast<size_t>(m_end - m_data) < sizeof bytes)
        return false;
    std::memcpy(bytes, m_data, sizeof bytes);
    m_data += sizeof bytes;
    id = UniqueID::fromBytes(bytes);
    return true;
}

void AbstractDatabaseRecord::serialize(std::string& out) const
{
    out.clear();
    appendInt(out, m_recordKind);
    appendInt(out, m_operation);
    serializeFields(out);
}

bool AbstractDatabaseRecord::readHeader(Reader& in, int32_t& recordKind, int32_t& operation)
{
    return in.readInt(recordKind) && in.readInt(operation);
}

void AbstractDatabaseRecord::copyCut(char* field, size_t size, const char* text)
{
    copyCut(field, size, text, text != nullptr ? std::strlen(text) : 0);
}

void AbstractDatabaseRecord::copyCut(char* field, size_t size, const char* text, size_t length)
{
    if (size == 0)
        return;
    if (text == nullptr)
        length = 0;
    if (length > size - 1) {
        length = size - 1;
        // Step back to the lead byte of a character the cut would split, so
        // that a cut never leaves half a character (garbage on screen). At
        // most three steps: no UTF-8 character is longer than four bytes.
        size_t start = length;
        while (start > 0 && length - start < 3 && isContinuation(text[start]))
            --start;
        if (start < length && !isContinuation(text[start]))
            length = start;
    }
    if (length > 0)
        std::memcpy(field, text, length);
    field[length] = '\0';
}

UniqueID AbstractDatabaseRecord::nullId()
{
    static const uint8_t zero[16] = {};
    return UniqueID::fromBytes(zero);
}

UniqueID AbstractDatabaseRecord::idFromText(const char* text)
{
    UniqueID id = nullId();
    if (text != nullptr)
        UniqueID::parse(text, id);
    return id;
}

void AbstractDatabaseRecord::appendInt(std::string& out, int32_t value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void AbstractDatabaseRecord::appendText(std::string& out, const char* text)
{
    const auto length = static_cast<uint32_t>(text != nullptr ? std::strlen(text) : 0);
    out.append(reinterpret_cast<const char*>(&length), sizeof length);
    if (length > 0)
        out.append(text, length);
}

void AbstractDatabaseRecord::appendText(std::string& out, const std::string& text)
{
    const auto length = static_cast<uint32_t>(text.size());
    out.append(reinterpret_cast<const char*>(&length), sizeof length);
    out.append(text);
}

void AbstractDatabaseRecord::appendId(std::string& out, const UniqueID& id)
{
    out.append(reinterpret_cast<const char*>(id.getBytes()), 16);
}

const char* AbstractDatabaseRecord::textOf(const RowSet& rows, int column)
{
    const char* text = rows.getText(column);
    return text != nullptr ? text : "";
}

} // namespace velmora
