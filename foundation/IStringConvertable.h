#pragma once

namespace velmora {

class IFormatable;

/// An object that can describe itself in text.
class IStringConvertable {
public:
    virtual ~IStringConvertable() = default;
    /// Replaces the content of out with this object's text.
    virtual void toString(IFormatable& out) const = 0;
};

} // namespace velmora
