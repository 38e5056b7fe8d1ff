#include "foundation/SystemException.h"

#include "foundation/SystemText.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace velmora {

SystemException::SystemException(const char* name, const char* file, int32_t line,
                                 const char* function)
    : SystemException(name, file, line, function, errno)
{
}

SystemException::SystemException(const char* name, const char* file, int32_t line,
                                 const char* function, int32_t errorCode)
    : Exception(name, file, line, function, errorCode, "")
{
    fetchText();
}

SystemException::SystemException(const SystemException& other) : Exception(other)
{
    m_text = nullptr;
    fetchText();
}

SystemException::~SystemException()
{
    std::free(m_text);
}

void SystemException::fetchText()
{
    char text[512];
    SystemText::errnoText(getErrorCode(), text, sizeof text);
    m_text = strdup(text);
    setMessage(m_text != nullptr ? m_text : "");
}

} // namespace velmora
