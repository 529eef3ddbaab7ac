#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quantiro::platform {

// A child the launcher started: its pid, and the pidfd the launcher holds for it
// while it is tracked; both 0 when the start failed, the pidfd 0 when untracked.
struct StartedProcess {
    std::int32_t pid = 0;
    std::int32_t pidfd = 0;
};

// Starts programs without a shell and never waits for them.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts `program` with `arguments`; a missing file or a refused start answers
    // zeros. With `track` the process stays addressable for Terminate(); untracked
    // children are forgotten once they end.
    virtual StartedProcess Start(const std::string& program,
                                 const std::vector<std::string>& arguments, bool track) = 0;
    // Ends a tracked process, only when `process` is one this launcher started and
    // its pidfd still stands for that pid; anything else is left alone. Waits a
    // little (at most two seconds) for it to be gone.
    virtual void Terminate(const StartedProcess& process) = 0;
    // Collects children that have ended, without waiting for any that have not.
    virtual void ReapExited() = 0;
};

} // namespace quantiro::platform
