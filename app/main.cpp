// velmora: the fleet console. Run it in the directory that holds (or will
// hold) app.db, setup.db and the page's images/ folder.
#include "app/TerminationSignal.h"
#include "app/VelmoraApp.h"

int main(int argc, char** argv) {
    // Before any thread exists, so that every thread inherits the mask.
    velmora::TerminationSignal::blockEarly();
    velmora::VelmoraApp app;
    return app.run(argc, argv);
}
