// Nanoseconds per message of CallbackMessageParser::parse against a plain
// strtok_r split of the same messages, in the same run. Both copy each
// message into a writable buffer first, as the server's buffer is. Ends with
// one summary line.

#include "BenchMessages.h"

#include "intake/CallbackInfo.h"
#include "intake/CallbackMessageParser.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

template <typename Body>
double nsPerMessage(const std::vector<std::string>& messages, int rounds, Body body)
{
    char buffer[4096];
    double best = 1e300;
    // Best of three passes: the machine is shared.
    for (int pass = 0; pass < 3; ++pass) {
        const auto begin = Clock::now();
        for (int r = 0; r < rounds; ++r) {
            for (const std::string& m : messages) {
                std::memcpy(buffer, m.data(), m.size() + 1);
                body(buffer);
            }
        }
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - begin).count();
        best = std::min(best, ns / (static_cast<double>(rounds) * static_cast<double>(messages.size())));
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    std::vector<std::string> messages = mixedMessages(2000);

    size_t sink = 0;
    const double baseline = nsPerMessage(messages, rounds, [&](char* text) {
        char* save = nullptr;
        for (char* field = strtok_r(text, ",", &save); field != nullptr; field = strtok_r(nullptr, ",", &save)) {
            sink += static_cast<size_t>(field[0]);
        }
    });

    CallbackMessageParser parser;
    CallbackInfo info("127.0.0.1", 10111);
    const double ours = nsPerMessage(messages, rounds, [&](char* text) {
        parser.parse(info, text);
        sink += static_cast<size_t>(info.getEventType());
    });

    std::printf("messages=%zu rounds=%d sink=%zu\n", messages.size(), rounds, sink);
    std::printf("parse: ns=%.1f baseline_ns=%.1f ratio=%.3f\n", ours, baseline, ours / baseline);
    return 0;
}
