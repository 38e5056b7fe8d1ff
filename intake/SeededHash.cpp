#include "intake/SeededHash.h"

#include "foundation/UniqueID.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <sys/random.h>

namespace velmora {

namespace {

struct Key {
    uint64_t first;
    uint64_t second;
};

/// Sixteen bytes of kernel randomness, taken once: every container of the
/// process hashes with the same key, and nothing of it ever leaves.
Key processKey()
{
    static const Key key = [] {
        uint8_t bytes[16];
        size_t done = 0;
        while (done < sizeof bytes) {
            const ssize_t n = getrandom(bytes + done, sizeof bytes - done, 0);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno != EINTR) {
                std::random_device device;
                for (; done < sizeof bytes; ++done) {
                    bytes[done] = static_cast<uint8_t>(device());
                }
            }
        }
        Key made{};
        std::memcpy(&made.first, bytes, 8);
        std::memcpy(&made.second, bytes + 8, 8);
        return made;
    }();
    return key;
}

constexpr uint64_t rotate(uint64_t value, int bits) { return (value << bits) | (value >> (64 - bits)); }

/// Eight bytes as a little-endian number, whatever the machine's order.
uint64_t littleEndian(const uint8_t* bytes, size_t count)
{
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i) {
        value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    }
    return value;
}

struct State {
    uint64_t v0, v1, v2, v3;

    void round()
    {
        v0 += v1;
        v1 = rotate(v1, 13);
        v1 ^= v0;
        v0 = rotate(v0, 32);
        v2 += v3;
        v3 = rotate(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotate(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotate(v1, 17);
        v1 ^= v2;
        v2 = rotate(v2, 32);
    }

    void absorb(uint64_t block)
    {
        v3 ^= block;
        round();
        round();
        v0 ^= block;
    }
};

} // namespace

SeededHash::SeededHash() : m_key0(processKey().first), m_key1(processKey().second) {}

SeededHash::SeededHash(uint64_t key0, uint64_t key1) : m_key0(key0), m_key1(key1) {}

size_t SeededHash::operator()(const UniqueID& id) const
{
    return static_cast<size_t>(hash(id.getBytes(), 16));
}

size_t SeededHash::operator()(const std::string& text) const
{
    return static_cast<size_t>(hash(text.data(), text.size()));
}

uint64_t SeededHash::hash(const void* data, size_t size) const
{
    State s{m_key0 ^ 0x736f6d6570736575ull, m_key1 ^ 0x646f72616e646f6dull, m_key0 ^ 0x6c7967656e657261ull,
            m_key1 ^ 0x7465646279746573ull};
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t offset = 0;
    for (; offset + 8 <= size; offset += 8) {
        s.absorb(littleEndian(bytes + offset, 8));
    }
    // The last block holds the tail bytes and the length's low byte on top.
    s.absorb(littleEndian(bytes + offset, size - offset) | (static_cast<uint64_t>(size) << 56));
    s.v2 ^= 0xff;
    for (int i = 0; i < 4; ++i) {
        s.round();
    }
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

} // namespace velmora
