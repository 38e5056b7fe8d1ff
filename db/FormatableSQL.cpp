#include "db/FormatableSQL.h"

#include <sqlite3.h>

namespace velmora {

FormatableSQL::FormatableSQL(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    formatV(fmt, args);
    va_end(args);
}

FormatableSQL::~FormatableSQL()
{
    sqlite3_free(m_text);
}

void FormatableSQL::format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    formatV(fmt, args);
    va_end(args);
}

void FormatableSQL::formatV(const char* fmt, va_list args)
{
    sqlite3_free(m_text);
    m_text = sqlite3_vmprintf(fmt, args);
}

} // namespace velmora
