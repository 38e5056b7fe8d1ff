#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace velmora::testing {

/// Runs call on a helper thread; false when it has not returned within limit.
/// The helper is then left behind, so whatever it uses must stay alive.
inline bool returnsWithin(std::chrono::milliseconds limit, std::function<void()> call) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> returned = done->get_future();
    std::thread([done, call = std::move(call)] {
        call();
        done->set_value();
    }).detach();
    return returned.wait_for(limit) == std::future_status::ready;
}

} // namespace velmora::testing
