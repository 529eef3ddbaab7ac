#pragma once

#include "platform/Processes.h"

#include <vector>

#include <sys/types.h>

namespace quantiro::platform::linux_impl {

// Starts children with posix_spawn in a process group of their own (a Ctrl+C for
// the meter is not one for them) with default signal handling, and holds a pidfd
// for each. Ended children are reaped by their pidfd only, so no other part of the
// program (Qt's process class included) loses a child to it.
class SpawnProcessLauncher final : public ProcessLauncher {
public:
    SpawnProcessLauncher() = default;
    ~SpawnProcessLauncher() override;
    SpawnProcessLauncher(const SpawnProcessLauncher&) = delete;
    SpawnProcessLauncher& operator=(const SpawnProcessLauncher&) = delete;

    StartedProcess Start(const std::string& program, const std::vector<std::string>& arguments,
                         bool track) override;
    void Terminate(const StartedProcess& process) override;
    void ReapExited() override;

    // Children started and not yet reaped.
    std::size_t LiveChildren() const;

private:
    struct Child {
        pid_t pid;
        int pidfd;
        bool tracked;
        bool reaped;
    };
    std::vector<Child> m_children;
    std::vector<pid_t> m_withoutPidfd;
};

} // namespace quantiro::platform::linux_impl
