#pragma once

#include "foundation/Exception.h"

#include <string>

namespace velmora {

/// A failed call of the store layer. Carries what went wrong in the store's
/// own words (the server's message, never the connection string) and, for a
/// statement the server refused, its five-character SQLSTATE.
class StoreException : public Exception {
public:
    enum Kind : int32_t {
        CONNECTION = 1, ///< the link to the store failed, broke or timed out
        STATEMENT = 2,  ///< the server refused a statement; the link is fine
        SCHEMA = 3,     ///< the store's schema is one this program cannot use
        DATA = 4,       ///< an answer of the server could not be read
    };

    StoreException(const char* name, const char* file, int32_t line, const char* function, Kind kind,
                   const std::string& text, const std::string& sqlState = std::string());
    StoreException(const StoreException& other);
    StoreException& operator=(const StoreException&) = delete;
    ~StoreException() override = default;

    Kind getKind() const { return static_cast<Kind>(getErrorCode()); }
    /// "" unless the server answered with an error.
    const std::string& getSqlState() const { return m_sqlState; }
    /// Whether the failure is the store being away (link lost or refused,
    /// server shutting down or short of resources): worth retrying later
    /// with the same data, unlike a statement the server will always refuse.
    bool isStoreAway() const;
    /// Whether the server gave up the statement only because of another
    /// transaction (deadlock, serialisation): worth running again at once.
    bool isTransient() const;

private:
    std::string m_text;
    std::string m_sqlState;
};

} // namespace velmora
