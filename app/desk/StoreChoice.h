#pragma once

#include <string>

namespace velmora {

class AbstractSetup;
class SetupDatabase;

/// Where this console keeps the fleet, as setup.db holds it: on this
/// computer (app.db, the single desk) or in a control room's store, with
/// the connection string without its password (the password lives in
/// ~/.pgpass or the PG* environment). --store on the command line wins
/// over it.
struct StoreChoice {
    static constexpr const char* KEY_MODE = "setup/StoreMode";
    static constexpr const char* KEY_CONNECTION = "setup/StoreConnection";
    static constexpr int THIS_COMPUTER = 0;
    static constexpr int SERVER = 1;

    bool server = false;
    std::string conninfo;

    /// The stored choice; this computer when none is stored or the store
    /// cannot be read.
    static StoreChoice load(AbstractSetup& setup);
    /// Writes the choice; the caller holds the lock and the transaction.
    void store(SetupDatabase& database) const;
    bool operator==(const StoreChoice& other) const
    {
        return server == other.server && conninfo == other.conninfo;
    }
};

} // namespace velmora
