#pragma once

#include "platform/InstanceLock.h"
#include "platform/linux/UniqueFd.h"

#include <string>

namespace quantiro::platform::linux_impl {

// An advisory lock on quantiro.lock in the given directory (the runtime directory),
// held for the life of the process; the kernel lets go of it when the process ends.
class FlockInstanceLock final : public InstanceLock {
public:
    explicit FlockInstanceLock(std::string directory);
    bool AnotherInstanceRunning() override;

private:
    std::string m_directory;
    std::string m_path;
    UniqueFd m_fd;
};

} // namespace quantiro::platform::linux_impl
