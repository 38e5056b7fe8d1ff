#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

class UniqueID;

/// The hash of containers keyed by what a sender chooses: vehicle ids and
/// sender addresses. SipHash-2-4 under a 128-bit key drawn from the kernel
/// once per process, so that nobody outside the process can pick keys that
/// share a bucket and turn every lookup into a walk along one chain.
/// A plain value: copies share the key; any thread may use it.
class SeededHash {
public:
    /// Hashes under the process key.
    SeededHash();
    /// Hashes under the given key (for checks against published values).
    SeededHash(uint64_t key0, uint64_t key1);

    size_t operator()(const UniqueID& id) const;
    size_t operator()(const std::string& text) const;
    /// The 64-bit SipHash-2-4 of size bytes at data.
    uint64_t hash(const void* data, size_t size) const;

private:
    uint64_t m_key0;
    uint64_t m_key1;
};

} // namespace velmora
