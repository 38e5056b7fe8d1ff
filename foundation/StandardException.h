#pragma once

#include "foundation/Exception.h"

#include <exception>

namespace velmora {

/// A standard-library exception that escaped a thread body. The message is
/// that exception's description, copied so it outlives the original.
class StandardException : public Exception {
public:
    static constexpr int TEXT_SIZE = 256;

    explicit StandardException(const std::exception& e);
    StandardException(const StandardException& other);
    StandardException& operator=(const StandardException&) = delete;

    /// Writes "StandardException: message".
    void toString(IFormatable& out) const override;

private:
    char m_text[TEXT_SIZE];
};

} // namespace velmora
