#pragma once

#include "intake/CallbackInfo.h"
#include "intake/CallbackServerDelegate.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

/// A delegate that keeps a copy of everything it is given, for tests.
class RecordingDelegate : public CallbackServerDelegate {
public:
    void onCallback(const CallbackInfo& info) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_infos.emplace_back();
        info.copyTo(m_infos.back());
        m_changed.notify_all();
    }

    void onError(const char* message) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_errors.emplace_back(message);
        m_changed.notify_all();
    }

    /// Waits until at least count messages and errors together came in.
    bool waitForTotal(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_infos.size() + m_errors.size() >= count; });
    }

    std::vector<CallbackInfo> infos()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_infos;
    }

    std::vector<std::string> errors()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_errors;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<CallbackInfo> m_infos;
    std::vector<std::string> m_errors;
};

} // namespace velmora
