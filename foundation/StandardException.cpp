#include "foundation/StandardException.h"

#include "foundation/IFormatable.h"

#include <cstring>

namespace velmora {

StandardException::StandardException(const std::exception& e)
    : Exception("StandardException", "unknown_file", 0, "unknown_function", 0, "")
{
    const char* what = e.what();
    std::strncpy(m_text, what != nullptr ? what : "", sizeof m_text - 1);
    m_text[sizeof m_text - 1] = '\0';
    setMessage(m_text);
}

StandardException::StandardException(const StandardException& other) : Exception(other)
{
    std::memcpy(m_text, other.m_text, sizeof m_text);
    setMessage(m_text);
}

void StandardException::toString(IFormatable& out) const
{
    out.format("%s: %s", getName(), getMessage());
}

} // namespace velmora
