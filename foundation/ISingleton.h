#pragma once

namespace velmora {

/// Base of every singleton. Each singleton keeps its own instance pointer and
/// creation mutex; the instance lives until the process ends.
class ISingleton {
public:
    virtual ~ISingleton() = default;
};

} // namespace velmora
