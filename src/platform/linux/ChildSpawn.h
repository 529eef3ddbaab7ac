#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace quantiro::platform::linux_impl {

// What a child may get besides its arguments.
struct ChildOptions {
    // Becomes the child's standard output; -1 leaves it the caller's.
    int standardOutput = -1;
};

// Starts `program` with `arguments`, without a shell, as every child of the family
// starts: default signal dispositions, an empty signal mask (the meter blocks its
// stop signals to read them from a descriptor and ignores SIGPIPE) and a process
// group of its own. The child's pid, or -1 when it could not start.
pid_t SpawnChild(const std::string& program, const std::vector<std::string>& arguments,
                 const ChildOptions& options = {});

} // namespace quantiro::platform::linux_impl
