#include "store/PgResult.h"

#include "store/StoreException.h"

#include <libpq-fe.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace velmora {

PgResult& PgResult::operator=(PgResult&& other) noexcept
{
    if (this != &other) {
        if (m_result != nullptr) {
            PQclear(m_result);
        }
        m_result = other.m_result;
        other.m_result = nullptr;
    }
    return *this;
}

PgResult::~PgResult()
{
    if (m_result != nullptr) {
        PQclear(m_result);
    }
}

int PgResult::getRowCount() const
{
    return m_result != nullptr ? PQntuples(m_result) : 0;
}

int PgResult::getColumnCount() const
{
    return m_result != nullptr ? PQnfields(m_result) : 0;
}

int64_t PgResult::getAffectedRows() const
{
    if (m_result == nullptr) {
        return 0;
    }
    const char* text = PQcmdTuples(m_result);
    return text != nullptr && *text != '\0' ? std::strtoll(text, nullptr, 10) : 0;
}

bool PgResult::isNull(int row, int column) const
{
    return m_result == nullptr || row >= PQntuples(m_result) || column >= PQnfields(m_result) ||
           PQgetisnull(m_result, row, column) != 0;
}

const char* PgResult::getText(int row, int column) const
{
    if (m_result == nullptr || row < 0 || column < 0 || row >= PQntuples(m_result) || column >= PQnfields(m_result)) {
        return "";
    }
    return PQgetvalue(m_result, row, column);
}

int64_t PgResult::getInt64(int row, int column, int64_t fallback) const
{
    if (isNull(row, column)) {
        return fallback;
    }
    const char* text = getText(row, column);
    const char* end = text + std::strlen(text);
    int64_t value = 0;
    const auto read = std::from_chars(text, end, value);
    if (read.ec != std::errc() || read.ptr != end) {
        throw StoreException(VELMORA_THROW_SITE("StoreException"), StoreException::DATA,
                             std::string("not a whole number: ") + text);
    }
    return value;
}

double PgResult::getDouble(int row, int column, double fallback) const
{
    if (isNull(row, column)) {
        return fallback;
    }
    const char* text = getText(row, column);
    const char* end = text + std::strlen(text);
    double value = 0;
    // from_chars never looks at the locale: a server's "47.5" stays 47.5
    // under a decimal comma.
    const auto read = std::from_chars(text, end, value);
    if (read.ec != std::errc() || read.ptr != end) {
        throw StoreException(VELMORA_THROW_SITE("StoreException"), StoreException::DATA,
                             std::string("not a number: ") + text);
    }
    return value;
}

bool PgResult::getBool(int row, int column) const
{
    return !isNull(row, column) && std::strcmp(getText(row, column), "t") == 0;
}

} // namespace velmora
