#include "app/DesktopNotice.h"

#include "platform/linux/DbusNotifications.h"

#include <charconv>

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace quantiro::app {

std::uint32_t ShowDesktopNotice(const std::string& programDirectory, std::uint32_t replaces,
                                bool critical, const std::string& summary,
                                const std::string& body) {
    if (const auto number =
            platform::linux_impl::SendDesktopNotification(replaces, critical, summary, body)) {
        return *number;
    }
    // No notification service: quantiro-notify shows a message box, or writes the
    // notice to standard error without a display.
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        return 0;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    const std::string program = programDirectory + "/quantiro-notify";
    const std::string replacesText = std::to_string(replaces);
    const char* argv[] = {program.c_str(), replacesText.c_str(), critical ? "1" : "0",
                          summary.c_str(), body.c_str(),         nullptr};
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    std::string answer;
    char buffer[64];
    // One line with the number; a message box the helper may show afterwards does
    // not hold the caller up.
    for (ssize_t n; spawned == 0 && answer.find('\n') == std::string::npos &&
                    (n = ::read(output[0], buffer, sizeof buffer)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(output[0]);
    std::uint32_t id = 0;
    std::from_chars(answer.data(), answer.data() + answer.size(), id);
    return id;
}

} // namespace quantiro::app
