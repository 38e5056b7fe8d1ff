#include "db/HistoryReader.h"

#include <algorithm>

namespace velmora {

bool HistoryReader::EventPages::forEach(int chunkSize,
                                        const std::function<bool(const std::vector<EventLog>&)>& visitor)
{
    chunkSize = std::max(1, chunkSize);
    std::vector<EventLog> chunk;
    chunk.reserve(static_cast<size_t>(chunkSize));
    int64_t after = 0;
    for (;;) {
        int64_t last = after;
        readAfter(after, chunkSize, chunk, last);
        if (chunk.empty()) {
            return true;
        }
        // Every run must start past the last one; a run that does not would
        // be handed over again and again.
        if (last <= after) {
            return false;
        }
        after = last;
        if (!visitor(chunk)) {
            return false;
        }
        if (static_cast<int>(chunk.size()) < chunkSize) {
            return true;
        }
    }
}

} // namespace velmora
