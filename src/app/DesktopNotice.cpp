#include "app/DesktopNotice.h"

#include "platform/linux/ChildSpawn.h"
#include "platform/linux/DbusNotifications.h"
#include "platform/linux/UniqueFd.h"

#include <charconv>

#include <fcntl.h>
#include <unistd.h>

namespace quantiro::app {

namespace {

using platform::linux_impl::UniqueFd;

// The number the helper prints on its first line; 0 when it printed none.
std::uint32_t ReadNumber(const UniqueFd& readEnd) {
    std::string answer;
    char buffer[64];
    // One line with the number; a message box the helper may show afterwards does
    // not hold the caller up.
    for (ssize_t n; answer.find('\n') == std::string::npos &&
                    (n = ::read(readEnd.Get(), buffer, sizeof buffer)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    std::uint32_t id = 0;
    std::from_chars(answer.data(), answer.data() + answer.size(), id);
    return id;
}

} // namespace

std::uint32_t ShowDesktopNotice(const std::string& programDirectory, std::uint32_t replaces,
                                bool critical, const std::string& summary,
                                const std::string& body) {
    if (const auto number =
            platform::linux_impl::SendDesktopNotification(replaces, critical, summary, body)) {
        return *number;
    }
    // No notification service: quantiro-notify shows a message box, or writes the
    // notice to standard error without a display.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return 0;
    }
    const UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    const pid_t child = platform::linux_impl::SpawnChild(
        programDirectory + "/quantiro-notify",
        {std::to_string(replaces), critical ? "1" : "0", summary, body},
        {.standardOutput = writeEnd.Get()});
    // Only the child's copy may keep the pipe open, so its end ends the reading.
    writeEnd.Reset();
    return child > 0 ? ReadNumber(readEnd) : 0;
}

} // namespace quantiro::app
