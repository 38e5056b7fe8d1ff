#include "app/desk/StoreChoice.h"

#include "db/AbstractSetup.h"
#include "db/DatabaseException.h"
#include "db/SetupDatabase.h"
#include "foundation/Trace.h"

namespace velmora {

StoreChoice StoreChoice::load(AbstractSetup& setup)
{
    StoreChoice choice;
    try {
        choice.server = setup.getInt(KEY_MODE, THIS_COMPUTER) == SERVER;
        choice.conninfo = setup.getString(KEY_CONNECTION, "");
    } catch (const DatabaseException& e) {
        traceException(e);
        return StoreChoice();
    }
    return choice;
}

void StoreChoice::store(SetupDatabase& database) const
{
    database.setInt(KEY_MODE, server ? SERVER : THIS_COMPUTER);
    database.setString(KEY_CONNECTION, conninfo.c_str());
}

} // namespace velmora
