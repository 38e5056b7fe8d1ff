#pragma once

namespace velmora {

/// A body of work.
class IRunnable {
public:
    virtual ~IRunnable() = default;
    virtual void run() = 0;
};

} // namespace velmora
