#pragma once

#include "foundation/Exception.h"

namespace velmora {

/// Something that is not an exception at all escaped a thread body.
class UnknownException : public Exception {
public:
    UnknownException();
    UnknownException(const UnknownException&) = default;

    /// Writes "UnknownException".
    void toString(IFormatable& out) const override;
};

} // namespace velmora
