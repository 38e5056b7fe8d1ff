// Writes numbered events through DBManager as fast as the queue takes them,
// until killed. The crash test kills it with SIGKILL mid-run.

#include "db/DBManager.h"
#include "db/EventLogger.h"
#include "intake/CallbackInfo.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s app.db\n", argv[0]);
        return 2;
    }
    velmora::DBManager::getInstance().open(argv[1], 5000);
    velmora::CallbackInfo info("10.0.0.9", 5000);
    info.setTime(velmora::DateTime(2026, 1, 31, 17, 5, 9));
    for (long sequence = 0;; ++sequence) {
        info.setVehicleName(std::to_string(sequence));
        // A refused event is offered again, so the numbers stored have no gap.
        while (!velmora::EventLogger::getInstance().log(info))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
