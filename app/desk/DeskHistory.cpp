#include "app/desk/DeskHistory.h"

namespace velmora {

namespace {

/// The store's pages, each read off the window's thread.
class OffThreadPages : public HistoryReader::EventPages {
public:
    explicit OffThreadPages(std::unique_ptr<HistoryReader::EventPages> pages) : m_pages(std::move(pages)) {}

    int search(const HistoryReader::EventFilter& filter) override {
        return DeskHistory::offThread([this, filter] { return m_pages->search(filter); });
    }
    int getCount() const override { return m_pages->getCount(); }
    void loadPage(int page, std::vector<EventLog>& rows) override {
        rows = DeskHistory::offThread([this, page] {
            std::vector<EventLog> read;
            m_pages->loadPage(page, read);
            return read;
        });
    }
    void readAfter(int64_t afterId, int count, std::vector<EventLog>& rows, int64_t& lastId) override {
        auto [read, last] = DeskHistory::offThread([this, afterId, count, lastId] {
            std::vector<EventLog> chunk;
            int64_t end = lastId;
            m_pages->readAfter(afterId, count, chunk, end);
            return std::make_pair(std::move(chunk), end);
        });
        rows = std::move(read);
        lastId = last;
    }

private:
    std::unique_ptr<HistoryReader::EventPages> m_pages;
};

} // namespace

DeskHistory::DeskHistory(std::string conninfo) : m_reader(std::move(conninfo)) {}

DeskHistory::~DeskHistory() = default;

std::unique_ptr<HistoryReader::EventPages> DeskHistory::eventPages() {
    return std::make_unique<OffThreadPages>(m_reader.eventPages());
}

std::vector<GPSData> DeskHistory::loadTrack(const UniqueID& vehicle, int hours, std::time_t nowUtc) {
    return offThread([this, vehicle, hours, nowUtc] { return m_reader.loadTrack(vehicle, hours, nowUtc); });
}

std::vector<GPSData> DeskHistory::loadTrackBetween(const UniqueID& vehicle, std::time_t fromUtc, std::time_t toUtc,
                                                   std::time_t nowUtc, int64_t& clockOffset) {
    // The offset comes back with the fixes: the read may finish on a worker.
    const auto [fixes, offset] = offThread([this, vehicle, fromUtc, toUtc, nowUtc] {
        int64_t found = 0;
        std::vector<GPSData> track = m_reader.loadTrackBetween(vehicle, fromUtc, toUtc, nowUtc, found);
        return std::make_pair(std::move(track), found);
    });
    clockOffset = offset;
    return fixes;
}

std::vector<AlarmRecord> DeskHistory::loadAlarms(std::time_t from, std::time_t to) {
    return offThread([this, from, to] { return m_reader.loadAlarms(from, to); });
}

} // namespace velmora
