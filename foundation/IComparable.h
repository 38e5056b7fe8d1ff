#pragma once

#include "foundation/IEquatable.h"

namespace velmora {

/// Ordering between values of one type; classes implement equals, lessThan
/// and greaterThan, the rest follows from them.
template <typename T>
class IComparable : public IEquatable<T> {
public:
    virtual bool lessThan(const T& other) const = 0;
    virtual bool greaterThan(const T& other) const = 0;
    virtual bool lessThanOrEquals(const T& other) const
    {
        return lessThan(other) || this->equals(other);
    }
    virtual bool greaterThanOrEquals(const T& other) const
    {
        return greaterThan(other) || this->equals(other);
    }
};

} // namespace velmora
