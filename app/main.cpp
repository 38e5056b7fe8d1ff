// velmora: the fleet console. Its data directory (app.db, setup.db, the
// page's images/) is --data-dir, the working directory, or the per-user one
// (DataDirectory says which when).
#include "app/system/TerminationSignal.h"
#include "app/shell/VelmoraApp.h"

int main(int argc, char** argv) {
    // Before any thread exists, so that every thread inherits the mask.
    velmora::TerminationSignal::blockEarly();
    velmora::VelmoraApp app;
    return app.run(argc, argv);
}
