#pragma once

#include <string>

namespace velmora {

/// What a desk keeps of a connection string (libpq's "key=value ..." or a
/// postgresql:// URI): everything but secrets. A password belongs in
/// ~/.pgpass or the PG* environment, never in a settings file or a log.
class ConnInfo {
public:
    /// Whether text reads as a connection string; why not in error.
    static bool check(const std::string& text, std::string& error);
    /// Whether it names a password (or an SSL key's password).
    static bool hasPassword(const std::string& text);
    /// The same connection, as "key=value" pairs in libpq's quoting, with no
    /// password; "" when text does not read as a connection string.
    static std::string withoutPassword(const std::string& text);
};

} // namespace velmora
