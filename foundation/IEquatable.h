#pragma once

namespace velmora {

/// Equality between values of one type.
template <typename T>
class IEquatable {
public:
    virtual ~IEquatable() = default;
    virtual bool equals(const T& other) const = 0;
    virtual bool notEquals(const T& other) const { return !equals(other); }
};

} // namespace velmora
