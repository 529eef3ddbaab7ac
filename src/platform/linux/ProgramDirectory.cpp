#include "platform/linux/ProgramDirectory.h"

#include <filesystem>

namespace quantiro::platform::linux_impl {

std::string ProgramDirectory() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::filesystem::current_path().string();
    }
    return executable.parent_path().string();
}

} // namespace quantiro::platform::linux_impl
