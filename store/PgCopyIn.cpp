#include "store/PgCopyIn.h"

#include "store/CopyBinary.h"
#include "store/CopyText.h"
#include "store/PgConnection.h"

namespace velmora {

PgCopyIn::PgCopyIn(PgConnection& connection, const std::string& sql) : m_connection(connection)
{
    m_connection.copyBegin(sql);
    m_open = true;
}

PgCopyIn::~PgCopyIn()
{
    if (m_open) {
        m_connection.copyAbort();
    }
}

void PgCopyIn::write(const CopyText& rows)
{
    const std::string& data = rows.getData();
    m_connection.copyPut(data.data(), data.size());
}

void PgCopyIn::write(const CopyBinary& rows)
{
    const std::string& data = rows.getData();
    m_connection.copyPut(data.data(), data.size());
}

int64_t PgCopyIn::end()
{
    m_open = false;
    return m_connection.copyEnd();
}

} // namespace velmora
