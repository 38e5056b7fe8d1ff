#include "foundation/ByteBuffer.h"

#include <cstring>
#include <stdexcept>

namespace velmora {

void ByteBuffer::readAt(size_t offset, void* data, size_t count) const
{
    if (offset > m_bytes.size() || count > m_bytes.size() - offset)
        throw std::out_of_range("ByteBuffer::readAt past the end");
    if (count > 0)
        std::memcpy(data, m_bytes.data() + offset, count);
}

void ByteBuffer::writeAt(size_t offset, const void* data, size_t count)
{
    if (m_bytes.size() < offset + count)
        m_bytes.resize(offset + count);
    if (count > 0)
        std::memcpy(m_bytes.data() + offset, data, count);
}

void ByteBuffer::readNext(void* data, size_t count)
{
    readAt(m_readPos, data, count);
    m_readPos += count;
}

void ByteBuffer::append(const void* data, size_t count)
{
    writeAt(m_bytes.size(), data, count);
}

} // namespace velmora
