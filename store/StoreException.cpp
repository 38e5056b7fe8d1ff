#include "store/StoreException.h"

namespace velmora {

StoreException::StoreException(const char* name, const char* file, int32_t line, const char* function, Kind kind,
                               const std::string& text, const std::string& sqlState)
    : Exception(name, file, line, function, kind, ""), m_text(text), m_sqlState(sqlState)
{
    // libpq's texts span lines ("...\n\tThis probably means..."); a log
    // line must not.
    std::string oneLine;
    oneLine.reserve(m_text.size());
    for (const char c : m_text) {
        const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
        if (!blank) {
            oneLine.push_back(c);
        } else if (!oneLine.empty() && oneLine.back() != ' ') {
            oneLine.push_back(' ');
        }
    }
    while (!oneLine.empty() && oneLine.back() == ' ') {
        oneLine.pop_back();
    }
    m_text.swap(oneLine);
    setMessage(m_text.c_str());
}

StoreException::StoreException(const StoreException& other)
    : Exception(other), m_text(other.m_text), m_sqlState(other.m_sqlState)
{
    setMessage(m_text.c_str());
}

bool StoreException::isStoreAway() const
{
    if (getKind() == CONNECTION) {
        return true;
    }
    // Class 08: connection exception; 53: insufficient resources (disk
    // full, too many connections); 57P01-57P03: the server shuts down or
    // cannot take connections yet; 58: system error (I/O).
    const std::string& s = m_sqlState;
    return s.compare(0, 2, "08") == 0 || s.compare(0, 2, "53") == 0 || s == "57P01" || s == "57P02" ||
           s == "57P03" || s.compare(0, 2, "58") == 0;
}

bool StoreException::isTransient() const
{
    // 40001 serialization failure, 40P01 deadlock detected, 55P03 lock not
    // available (a lock time-out).
    return m_sqlState == "40001" || m_sqlState == "40P01" || m_sqlState == "55P03";
}

} // namespace velmora
