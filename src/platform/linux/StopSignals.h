#pragma once

#include "platform/SystemEvents.h"
#include "platform/linux/UniqueFd.h"

namespace quantiro::platform::linux_impl {

// SIGINT, SIGTERM and SIGHUP are blocked and read from a descriptor, so none cuts a
// tick or the exit steps short. SIGPIPE is ignored: a reader that went away is a
// failed write the meter answers by closing, never its death. Children start with
// all of this undone (the process launcher resets both).
class StopSignals final : public StopSignalSource {
public:
    StopSignals();
    bool Valid() const override { return m_fd.Valid(); }
    int Descriptor() const override { return m_fd.Get(); }
    int Next() override;

private:
    UniqueFd m_fd;
};

} // namespace quantiro::platform::linux_impl
