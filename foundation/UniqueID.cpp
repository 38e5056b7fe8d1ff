#include "foundation/UniqueID.h"

#include "foundation/IFormatable.h"

#include <pthread.h>
#include <sys/random.h>

#include <atomic>

#include <cerrno>
#include <cstring>
#include <random>
#include <stdexcept>

namespace velmora {

namespace {

// Positions of the 16 bytes' two hex digits in the text, in text order, and
// the memory byte each pair belongs to (Data1..3 are little-endian).
constexpr int kTextPos[16] = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};
constexpr int kMemIndex[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void fillRandom(uint8_t* bytes, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = getrandom(bytes + done, count - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            // No kernel randomness: fall back to the library's device.
            std::random_device device;
            for (; done < count; ++done)
                bytes[done] = static_cast<uint8_t>(device());
        }
    }
}

/// Kernel randomness fetched in blocks per thread: one getrandom call serves
/// 256 ids instead of one syscall per id (every parsed device message makes
/// one). The bytes are the kernel's either way.
// Bumped in a forked child, so the child never hands out the ids its parent
// still holds in its pool.
std::atomic<unsigned> g_forkGeneration{0};
[[maybe_unused]] const int g_atforkRegistered =
    pthread_atfork(nullptr, nullptr, [] { g_forkGeneration.fetch_add(1); });

void takeRandom(uint8_t* bytes, size_t count)
{
    constexpr size_t POOL_SIZE = 4096;
    thread_local uint8_t pool[POOL_SIZE];
    thread_local size_t used = POOL_SIZE;
    thread_local unsigned generation = 0;
    if (count > POOL_SIZE) {
        fillRandom(bytes, count);
        return;
    }
    const unsigned current = g_forkGeneration.load(std::memory_order_relaxed);
    if (POOL_SIZE - used < count || generation != current) {
        generation = current;
        fillRandom(pool, POOL_SIZE);
        used = 0;
    }
    std::memcpy(bytes, pool + used, count);
    // Handed-out bytes do not stay behind in the pool.
    std::memset(pool + used, 0, count);
    used += count;
}

} // namespace

UniqueID::UniqueID()
{
    takeRandom(m_bytes, sizeof m_bytes);
    // Version 4 in Data3's high nibble, variant 10xx in Data4[0].
    m_bytes[7] = static_cast<uint8_t>((m_bytes[7] & 0x0F) | 0x40);
    m_bytes[8] = static_cast<uint8_t>((m_bytes[8] & 0x3F) | 0x80);
}

UniqueID::UniqueID(const char* text)
{
    if (!parse(text, *this))
        throw std::invalid_argument("not a GUID text");
}

bool UniqueID::parse(const char* text, UniqueID& id)
{
    if (text == nullptr)
        return false;
    size_t length = std::strlen(text);
    if (length == TEXT_LENGTH + 2 && text[0] == '{' && text[length - 1] == '}') {
        ++text;
        length -= 2;
    }
    if (length != TEXT_LENGTH || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-')
        return false;
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i) {
        const int high = hexValue(text[kTextPos[i]]);
        const int low = hexValue(text[kTextPos[i] + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[kMemIndex[i]] = static_cast<uint8_t>(high << 4 | low);
    }
    std::memcpy(id.m_bytes, bytes, sizeof bytes);
    return true;
}

UniqueID UniqueID::fromBytes(const uint8_t bytes[16])
{
    // Copies over a parsed nil id, so no random bytes are drawn only to be
    // overwritten.
    UniqueID id("00000000-0000-0000-0000-000000000000");
    std::memcpy(id.m_bytes, bytes, sizeof id.m_bytes);
    return id;
}

uint32_t UniqueID::getData1() const
{
    return static_cast<uint32_t>(m_bytes[0]) | static_cast<uint32_t>(m_bytes[1]) << 8 |
           static_cast<uint32_t>(m_bytes[2]) << 16 | static_cast<uint32_t>(m_bytes[3]) << 24;
}

uint16_t UniqueID::getData2() const
{
    return static_cast<uint16_t>(m_bytes[4] | m_bytes[5] << 8);
}

uint16_t UniqueID::getData3() const
{
    return static_cast<uint16_t>(m_bytes[6] | m_bytes[7] << 8);
}

bool UniqueID::equals(const UniqueID& other) const
{
    return std::memcmp(m_bytes, other.m_bytes, sizeof m_bytes) == 0;
}

bool UniqueID::lessThan(const UniqueID& other) const
{
    return std::memcmp(m_bytes, other.m_bytes, sizeof m_bytes) < 0;
}

bool UniqueID::greaterThan(const UniqueID& other) const
{
    return std::memcmp(m_bytes, other.m_bytes, sizeof m_bytes) > 0;
}

void UniqueID::toText(char* out) const
{
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        const uint8_t byte = m_bytes[kMemIndex[i]];
        out[kTextPos[i]] = digits[byte >> 4];
        out[kTextPos[i] + 1] = digits[byte & 0x0F];
    }
    out[8] = out[13] = out[18] = out[23] = '-';
    out[TEXT_LENGTH] = '\0';
}

std::string UniqueID::toText() const
{
    char text[TEXT_LENGTH + 1];
    toText(text);
    return std::string(text, TEXT_LENGTH);
}

void UniqueID::toString(IFormatable& out) const
{
    char text[TEXT_LENGTH + 1];
    toText(text);
    out.format("%s", text);
}

} // namespace velmora
