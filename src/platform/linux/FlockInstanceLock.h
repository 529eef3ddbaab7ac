#pragma once

#include "platform/InstanceLock.h"
#include "platform/linux/UniqueFd.h"

#include <string>

namespace quantiro::platform::linux_impl {

// An advisory lock on quantiro.lock in the given directory (the runtime directory),
// held for the life of the process; the kernel lets go of it when the process ends.
// Passed on, the descriptor stays open across the next exec and its number travels
// in QUANTIRO_INSTANCE_LOCK_FD: the lock belongs to the open file, so the child
// holds it from its first instruction and the parent's end releases nothing.
class FlockInstanceLock final : public InstanceLock {
public:
    explicit FlockInstanceLock(std::string directory);
    bool AnotherInstanceRunning() override;
    void PassToNextProgram() override;

private:
    // The descriptor a predecessor passed on, when it is this lock file's.
    UniqueFd TakeInherited() const;

    std::string m_directory;
    std::string m_path;
    UniqueFd m_fd;
};

} // namespace quantiro::platform::linux_impl
