#include "store/CopyBinary.h"

#include "foundation/UniqueID.h"
#include "store/StoreText.h"

namespace velmora {

namespace {

/// The server counts time from 2000-01-01 00:00:00 UTC.
constexpr int64_t EPOCH_2000_MICROS = 946684800LL * 1000000LL;

} // namespace

CopyBinary::CopyBinary()
{
    static const char SIGNATURE[] = "PGCOPY\n\377\r\n";
    m_data.append(SIGNATURE, sizeof SIGNATURE); // with its zero byte
    put32(0); // flags: no OIDs
    put32(0); // no header extension
}

void CopyBinary::put16(uint16_t value)
{
    m_data.push_back(static_cast<char>(value >> 8));
    m_data.push_back(static_cast<char>(value));
}

void CopyBinary::put32(uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        m_data.push_back(static_cast<char>(value >> shift));
    }
}

void CopyBinary::put64(uint64_t value)
{
    for (int shift = 56; shift >= 0; shift -= 8) {
        m_data.push_back(static_cast<char>(value >> shift));
    }
}

void CopyBinary::row(int16_t fields)
{
    put16(static_cast<uint16_t>(fields));
    ++m_rows;
}

void CopyBinary::text(std::string_view value)
{
    put32(static_cast<uint32_t>(value.size()));
    m_data.append(value.data(), value.size());
}

void CopyBinary::null()
{
    put32(0xFFFFFFFFu);
}

void CopyBinary::bigint(int64_t value)
{
    put32(8);
    put64(static_cast<uint64_t>(value));
}

void CopyBinary::uuid(const UniqueID& id)
{
    // The server's order is the text's: the GUID's first three fields are
    // held little-endian in memory and go out big-endian.
    put32(16);
    put32(id.getData1());
    put16(id.getData2());
    put16(id.getData3());
    m_data.append(reinterpret_cast<const char*>(id.getBytes()) + 8, 8);
}

void CopyBinary::timeMicros(int64_t micros)
{
    put32(8);
    put64(static_cast<uint64_t>(micros - EPOCH_2000_MICROS));
}

void CopyBinary::timeSeconds(int64_t seconds)
{
    if (seconds == StoreText::NO_TIME) {
        null();
        return;
    }
    timeMicros(seconds * 1000000);
}

void CopyBinary::finish()
{
    put16(0xFFFF);
}

} // namespace velmora
