#include "platform/Files.h"

#include "common/FamilyPaths.h"

#include <cstdlib>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quantiro::platform {
namespace {

namespace fs = std::filesystem;

// A user without a home (HOME unset, no password entry) gets /tmp/quantiro-UID,
// which must be that user's alone. Run in a child that takes a uid with no entry.
TEST(FilesTest, AFallbackHomeThatIsNotTheUsersAloneIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to take another uid";
    }
    constexpr uid_t kNobodyKnown = 54321;
    const std::string home = "/tmp/quantiro-" + std::to_string(kNobodyKnown);
    struct Case {
        const char* name;
        std::function<void()> prepare; // as root, before the child starts
        bool usable;
    };
    const Case cases[] = {
        {"missing: made private", [] {}, true},
        {"owned by another user",
         [&] {
             fs::create_directory(home);
             ::chmod(home.c_str(), 0700);
         },
         false},
        {"the user's, open to others",
         [&] {
             fs::create_directory(home);
             ::chown(home.c_str(), kNobodyKnown, kNobodyKnown);
             ::chmod(home.c_str(), 0755);
         },
         false},
        {"a link to the user's folder",
         [&] {
             fs::create_directory(home + "-real");
             ::chown((home + "-real").c_str(), kNobodyKnown, kNobodyKnown);
             ::chmod((home + "-real").c_str(), 0700);
             fs::create_directory_symlink(home + "-real", home);
         },
         false},
    };
    for (const Case& c : cases) {
        fs::remove_all(home);
        fs::remove_all(home + "-real");
        c.prepare();
        const pid_t child = ::fork();
        if (child == 0) {
            ::unsetenv("HOME");
            for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
                ::unsetenv(variable);
            }
            if (::setgid(kNobodyKnown) != 0 || ::setuid(kNobodyKnown) != 0) {
                ::_exit(3);
            }
            const paths::FamilyPaths paths = paths::FromEnvironment();
            if (paths.dataDirectory != home + "/.local/share/Kestrova/Quantiro") {
                ::_exit(4);
            }
            try {
                MakePrivateDirectory(paths.dataDirectory);
            } catch (const paths::PathError&) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status)) << c.name;
        EXPECT_EQ(WEXITSTATUS(status), c.usable ? 0 : 1) << c.name;
    }
    fs::remove_all(home);
    fs::remove_all(home + "-real");
}

} // namespace
} // namespace quantiro::platform
