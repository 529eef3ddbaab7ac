#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace quantiro::platform::linux_impl {

// Starts `program` with `arguments`, without a shell, as every child of the meter
// starts: default signal dispositions, an empty signal mask (the meter blocks its
// stop signals to read them from a descriptor and ignores SIGPIPE) and a process
// group of its own. The child's pid, or -1 when it could not start.
pid_t SpawnChild(const std::string& program, const std::vector<std::string>& arguments);

} // namespace quantiro::platform::linux_impl
