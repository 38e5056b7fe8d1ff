#pragma once

#include <cstdint>

namespace velmora {

/// Observes a MessageQueue; called under the queue's lock, so it must be quick
/// and must not call back into the queue.
class MessageQueueListener {
public:
    virtual ~MessageQueueListener() = default;
    virtual void onPut(const void* const* pieces, const uint32_t* lengths, int pieceCount) = 0;
    virtual void onTake(const void* payload, uint32_t length) = 0;
    virtual void onClear() = 0;
};

} // namespace velmora
