// velmora-receiver: the control room's headless receiver. Takes the fleet's
// device datagrams on the callback port and writes them to the store; see
// velmora-receiver(1).

#include "db/DatabaseException.h"
#include "receiver/AppDbImport.h"
#include "receiver/Receiver.h"
#include "receiver/ReceiverOptions.h"
#include "store/PgConnection.h"
#include "store/StoreException.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "0"
#endif

using namespace velmora;

namespace {

constexpr int COUNTER_INTERVAL_S = 60;

int runImport(const ReceiverOptions& options)
{
    PgConnection store;
    try {
        store.open(options.conninfo, "velmora-receiver import");
        AppDbImport import(store, options.importPath, options.origin);
        const AppDbImport::Counts counts = import.run([](const std::string& line) {
            std::fprintf(stderr, "velmora-receiver: import: %s\n", line.c_str());
        });
        std::fprintf(stderr, "velmora-receiver: import done: %lld vehicles, %lld events, %lld fixes, %lld alarms added\n",
                     static_cast<long long>(counts.vehicles), static_cast<long long>(counts.events),
                     static_cast<long long>(counts.fixes), static_cast<long long>(counts.alarms));
        return 0;
    } catch (const StoreException& e) {
        std::fprintf(stderr, "velmora-receiver: import failed: %s\n", e.getMessage());
    } catch (const DatabaseException& e) {
        std::fprintf(stderr, "velmora-receiver: import failed: %s: %s\n", options.importPath.c_str(), e.getMessage());
    }
    return 1;
}

int runReceiver(const ReceiverOptions& options)
{
    // SIGTERM and SIGINT are taken by this thread alone, by sigtimedwait;
    // every thread made from here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::error_code code;
    std::filesystem::create_directories(std::filesystem::path(options.spoolPath).parent_path(), code);

    Receiver::Options settings;
    settings.conninfo = options.conninfo;
    settings.port = options.port;
    settings.spoolPath = options.spoolPath;
    settings.spoolLimitBytes = options.spoolLimitMb * 1024 * 1024;
    Receiver receiver(settings);
    std::string problem;
    if (!receiver.start(problem)) {
        std::fprintf(stderr, "velmora-receiver: %s\n", problem.c_str());
        return 1;
    }
    std::fprintf(stderr, "velmora-receiver: listening on port %d; store %s; spool %s (at most %lld MB)\n",
                 receiver.getBoundPort(), PgConnection::describe(options.conninfo).c_str(),
                 options.spoolPath.c_str(), static_cast<long long>(options.spoolLimitMb));
    std::time_t lastLine = std::time(nullptr);
    for (;;) {
        const timespec second{1, 0};
        const int signal = sigtimedwait(&stopSignals, nullptr, &second);
        if (signal == SIGTERM || signal == SIGINT) {
            break;
        }
        const std::time_t now = std::time(nullptr);
        if (now - lastLine >= COUNTER_INTERVAL_S) {
            lastLine = now;
            std::fprintf(stderr, "velmora-receiver: %s\n", receiver.counterLine().c_str());
        }
    }
    receiver.stop();
    std::fprintf(stderr, "velmora-receiver: stopped: %s\n", receiver.counterLine().c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const ReceiverOptions options = ReceiverOptions::parse(argc, argv);
    switch (options.action) {
    case ReceiverOptions::HELP:
        std::fputs(ReceiverOptions::usage().c_str(), stdout);
        return 0;
    case ReceiverOptions::VERSION:
        std::printf("velmora-receiver %s\n", VELMORA_VERSION);
        return 0;
    case ReceiverOptions::USAGE_ERROR:
        std::fprintf(stderr, "velmora-receiver: %s\n%s", options.error.c_str(), ReceiverOptions::usage().c_str());
        return 2;
    case ReceiverOptions::IMPORT:
        return runImport(options);
    case ReceiverOptions::RUN:
        break;
    }
    return runReceiver(options);
}
