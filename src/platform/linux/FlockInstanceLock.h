#pragma once

#include "platform/InstanceLock.h"
#include "platform/linux/UniqueFd.h"

#include <string>

namespace quantiro::platform::linux_impl {

// An advisory lock on $XDG_RUNTIME_DIR/quantiro.lock (or the given directory),
// held for the life of the process; the kernel lets go of it when the process ends.
class FlockInstanceLock final : public InstanceLock {
public:
    explicit FlockInstanceLock(std::string directory = DefaultDirectory());

    bool AnotherInstanceRunning() override;

    static std::string DefaultDirectory();

private:
    std::string m_path;
    UniqueFd m_fd;
};

} // namespace quantiro::platform::linux_impl
