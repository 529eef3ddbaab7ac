#pragma once

#include <functional>

namespace quantiro::platform {

// What the system tells a running meter, each through a descriptor the front-end's
// event loop waits on and reads only when it is readable.

// The stop signals (an interrupt, a termination, a hang-up), held back and read one
// by one, so none cuts a tick or the exit steps short.
class StopSignalSource {
public:
    virtual ~StopSignalSource() = default;
    // False when the signals could not be held back; errno says why.
    virtual bool Valid() const = 0;
    virtual int Descriptor() const = 0;
    // The next signal that arrived, or 0 when none waits.
    virtual int Next() = 0;
};

// The system's announcements of a coming sleep, which waits for the meter to save.
class SleepAnnouncements {
public:
    virtual ~SleepAnnouncements() = default;
    // -1 when there is nothing to watch.
    virtual int Descriptor() const = 0;
    // Takes in what arrived; `beforeSleep` runs when a sleep is announced, before the
    // system goes on. False once nothing more will come, and the loop stops watching.
    virtual bool Readable(const std::function<void()>& beforeSleep) = 0;
};

} // namespace quantiro::platform
