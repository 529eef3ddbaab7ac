#pragma once

#include "platform/linux/UniqueFd.h"

namespace quantiro::platform::linux_impl {

// SIGINT, SIGTERM and SIGHUP are blocked and read from a descriptor, so none cuts a
// tick or the exit steps short. SIGPIPE is ignored: a reader that went away is a
// failed write the meter answers by closing, never its death. Children start with
// all of this undone (the process launcher resets both).
class StopSignals {
public:
    StopSignals();
    bool Valid() const { return m_fd.Valid(); }
    int Descriptor() const { return m_fd.Get(); }
    // The next signal that arrived, or 0 when none waits.
    int Next();

private:
    UniqueFd m_fd;
};

} // namespace quantiro::platform::linux_impl
