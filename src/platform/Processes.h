#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quantiro::platform {

// What the family stores of a started program: two handle-like values and two
// identifiers, all zero when the start failed.
struct ProcessRecord {
    std::int32_t processHandle = 0;
    std::int32_t threadHandle = 0;
    std::int32_t processId = 0;
    std::int32_t threadId = 0;
};

// Starts programs without a shell and never waits for them.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts `program` with `arguments`; a missing file or a refused start answers a
    // zeroed record. With `track` the process stays addressable through the record's
    // processHandle for Terminate(); untracked children are forgotten once they end.
    virtual ProcessRecord CreateProcess(const std::string& program,
                                        const std::vector<std::string>& arguments, bool track) = 0;
    // Ends a tracked process, only when `record` is one this launcher started and its
    // process is still the one recorded; anything else is left alone. Waits a little
    // (at most two seconds) for it to be gone.
    virtual void Terminate(const ProcessRecord& record) = 0;
    // Collects children that have ended, without waiting for any that have not.
    virtual void ReapExited() = 0;
};

} // namespace quantiro::platform
