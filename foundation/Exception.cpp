#include "foundation/Exception.h"

#include "foundation/IFormatable.h"

namespace velmora {

Exception::Exception(const char* name, const char* file, int32_t line, const char* function,
                     int32_t errorCode, const char* message)
    : m_name(name), m_file(file), m_line(line), m_function(function), m_errorCode(errorCode),
      m_message(message != nullptr ? message : "")
{
}

void Exception::toString(IFormatable& out) const
{
    out.format("%s: %s\tat %s(%s:%d)", m_name, getMessage(), m_function, m_file, m_line);
}

int32_t Exception::getErrorCode() const
{
    return m_errorCode;
}

const char* Exception::getMessage() const
{
    return m_message;
}

} // namespace velmora
