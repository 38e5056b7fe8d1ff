#include "foundation/UnknownException.h"

#include "foundation/IFormatable.h"

namespace velmora {

UnknownException::UnknownException()
    : Exception("UnknownException", "unknown_file", 0, "unknown_function", 0, "unknown_message")
{
}

void UnknownException::toString(IFormatable& out) const
{
    out.format("%s", getName());
}

} // namespace velmora
