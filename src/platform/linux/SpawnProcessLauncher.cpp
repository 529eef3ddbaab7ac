#include "platform/linux/SpawnProcessLauncher.h"

#include "common/FamilyPaths.h"
#include "platform/Files.h"
#include "platform/linux/ChildSpawn.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <string>

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quantiro::platform::linux_impl {

namespace {

// How long the end of a process asked to terminate is waited for.
constexpr std::chrono::milliseconds kTerminateWait{2000};

int PidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int PidfdSendSignal(int pidfd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

// The pid a pidfd stands for, from /proc; -1 once the process is gone and reaped.
pid_t PidOf(int pidfd) {
    const std::string info = platform::ReadFileWhole("/proc/self/fdinfo/" + std::to_string(pidfd));
    const std::size_t line = info.rfind("\nPid:");
    if (line == std::string::npos) {
        return -1;
    }
    pid_t pid = -1;
    const char* first = info.c_str() + line + 5;
    while (*first == ' ' || *first == '\t') {
        ++first;
    }
    std::from_chars(first, info.c_str() + info.size(), pid);
    return pid;
}

} // namespace

SpawnProcessLauncher::~SpawnProcessLauncher() {
    ReapExited();
    for (const Child& child : m_children) {
        ::close(child.pidfd);
    }
}

StartedProcess SpawnProcessLauncher::Start(const std::string& program,
                                           const std::vector<std::string>& arguments, bool track) {
    ReapExited();
    const pid_t pid = SpawnChild(program, arguments);
    if (pid < 0) {
        return {}; // a missing file or a refused start: silent, zeros
    }
    const int pidfd = PidfdOpen(pid);
    if (pidfd < 0) {
        // Without a pidfd (a kernel before 5.3) the child is collected by its pid
        // alone, and cannot be tracked.
        m_withoutPidfd.push_back(pid);
        return {.pid = pid, .pidfd = 0};
    }
    m_children.push_back({pid, pidfd, track, false});
    return {.pid = pid, .pidfd = track ? pidfd : 0};
}

void SpawnProcessLauncher::ReapExited() {
    std::erase_if(m_withoutPidfd, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
    for (Child& child : m_children) {
        if (child.reaped) {
            continue;
        }
        siginfo_t info{};
        if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(child.pidfd), &info,
                     WEXITED | WNOHANG) == 0 &&
            info.si_pid != 0) {
            child.reaped = true;
        }
    }
    // An untracked child is forgotten once collected; a tracked one keeps its pidfd,
    // which its StartedProcess names, until the meter ends.
    std::erase_if(m_children, [](const Child& child) {
        if (child.reaped && !child.tracked) {
            ::close(child.pidfd);
            return true;
        }
        return false;
    });
}

void SpawnProcessLauncher::Terminate(const StartedProcess& process) {
    if (process.pid <= 0 || process.pidfd <= 0) {
        return;
    }
    for (const Child& child : m_children) {
        // Only the process this launcher started and still holds, and only while the
        // pidfd stands for the recorded pid: a reused pid is never signalled.
        if (child.tracked && !child.reaped && child.pidfd == process.pidfd &&
            child.pid == process.pid && PidOf(child.pidfd) == process.pid) {
            // Its end is waited for, a little: a successor's own monitor, started
            // right after, would otherwise find this one still listening and leave.
            if (PidfdSendSignal(child.pidfd, SIGTERM) == 0) {
                pollfd ended{child.pidfd, POLLIN, 0};
                ::poll(&ended, 1, static_cast<int>(kTerminateWait.count()));
            }
            return;
        }
    }
}

std::size_t SpawnProcessLauncher::LiveChildren() const {
    return static_cast<std::size_t>(std::count_if(
        m_children.begin(), m_children.end(), [](const Child& child) { return !child.reaped; }));
}

} // namespace quantiro::platform::linux_impl
