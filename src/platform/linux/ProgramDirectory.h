#pragma once

#include <string>

namespace quantiro::platform::linux_impl {

// The directory of the running executable, without a trailing slash.
std::string ProgramDirectory();

} // namespace quantiro::platform::linux_impl
