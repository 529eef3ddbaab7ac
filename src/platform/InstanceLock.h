#pragma once

namespace quantiro::platform {

// Tells whether another copy of the meter runs; the first copy to ask takes the
// lock and holds it until it ends.
class InstanceLock {
public:
    virtual ~InstanceLock() = default;
    virtual bool AnotherInstanceRunning() = 0;
    // The next program this process starts inherits the lock held now: a shape that
    // starts its successor as it ends leaves no moment in which a plain start could
    // take the lock and count beside it.
    virtual void PassToNextProgram() = 0;
};

} // namespace quantiro::platform
