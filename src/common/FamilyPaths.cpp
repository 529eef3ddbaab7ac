#include "common/FamilyPaths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quantiro::paths {

namespace {

constexpr const char* kFamilyFolder = "/Kestrova/Quantiro";

std::string Home() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        return home;
    }
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir) {
        return user->pw_dir;
    }
    return FallbackHome();
}

// An XDG base directory: the variable when it holds an absolute path, else the
// default below the home directory.
std::string BaseDirectory(const char* variable, const char* underHome) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') {
        return value;
    }
    return Home() + underHome;
}

} // namespace

std::string FallbackHome() {
    return "/tmp/quantiro-" + std::to_string(::getuid());
}

std::string ProgramDirectory() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::filesystem::current_path().string();
    }
    return executable.parent_path().string();
}

std::string ConfigHome() {
    return BaseDirectory("XDG_CONFIG_HOME", "/.config");
}

FamilyPaths FromEnvironment() {
    FamilyPaths paths;
    paths.programDirectory = ProgramDirectory();
    paths.configHome = ConfigHome();
    paths.dataDirectory = BaseDirectory("XDG_DATA_HOME", "/.local/share") + kFamilyFolder;
    paths.cacheDirectory = BaseDirectory("XDG_CACHE_HOME", "/.cache") + kFamilyFolder;
    paths.stateDirectory = BaseDirectory("XDG_STATE_HOME", "/.local/state") + kFamilyFolder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    paths.runtimeDirectory = runtime && runtime[0] == '/' ? runtime : paths.configHome;
    return paths;
}

} // namespace quantiro::paths
