#include "foundation/BitMask32.h"

#include "foundation/IFormatable.h"

namespace velmora {

void BitMask32::toString(IFormatable& out) const
{
    char text[2 + 32 + 1];
    text[0] = '0';
    text[1] = 'b';
    for (int bit = 31; bit >= 0; --bit)
        text[2 + (31 - bit)] = (m_value >> bit & 1u) != 0 ? '1' : '0';
    text[34] = '\0';
    out.format("%s", text);
}

} // namespace velmora
