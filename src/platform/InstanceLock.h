#pragma once

namespace quantiro::platform {

// Tells whether another copy of the meter runs; the first copy to ask takes the
// lock and holds it until it ends.
class InstanceLock {
public:
    virtual ~InstanceLock() = default;
    virtual bool AnotherInstanceRunning() = 0;
};

} // namespace quantiro::platform
