#include "common/FamilyPaths.h"

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

namespace quantiro::paths {
namespace {

namespace fs = std::filesystem;

TEST(FamilyPathsTest, EachDirectoryIsItsXdgVariableOrItsDefaultUnderHome) {
    const char* variables[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                               "XDG_STATE_HOME", "XDG_RUNTIME_DIR"};
    struct Case {
        const char* name;
        const char* value;                 // for every variable; nullptr: unset
        std::vector<std::string> expected; // config, data, cache, state, runtime
    };
    const std::string family = "/Kestrova/Quantiro";
    const std::vector<std::string> defaults = {
        "/home/ala/.config", "/home/ala/.local/share" + family, "/home/ala/.cache" + family,
        "/home/ala/.local/state" + family, "/home/ala/.config"};
    const Case cases[] = {
        {"unset", nullptr, defaults},
        {"empty", "", defaults},
        {"relative, which the base directory rules ignore", "tmp/x", defaults},
        {"set",
         "/srv/x",
         {"/srv/x", "/srv/x" + family, "/srv/x" + family, "/srv/x" + family, "/srv/x"}},
    };
    ::setenv("HOME", "/home/ala", 1);
    for (const Case& c : cases) {
        for (const char* variable : variables) {
            c.value ? ::setenv(variable, c.value, 1) : ::unsetenv(variable);
        }
        const FamilyPaths paths = FromEnvironment();
        EXPECT_EQ(
            (std::vector<std::string>{paths.configHome, paths.dataDirectory, paths.cacheDirectory,
                                      paths.stateDirectory, paths.runtimeDirectory}),
            c.expected)
            << c.name;
        EXPECT_EQ(fs::path(paths.programDirectory), fs::canonical("/proc/self/exe").parent_path());
    }
}

} // namespace
} // namespace quantiro::paths
