#include "platform/linux/FetchHelperDownloader.h"

#include "platform/linux/ChildSpawn.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <utility>

#include <sys/wait.h>

namespace quantiro::platform::linux_impl {

namespace {
using namespace std::chrono_literals;

// How long the helpers get to end on SIGTERM before they are killed: the meter's
// close must not wait on a helper stuck in a name lookup.
constexpr auto kEndWait = 1s;
constexpr auto kEndPoll = 10ms;
} // namespace

FetchHelperDownloader::~FetchHelperDownloader() {
    CancelAll();
}

void FetchHelperDownloader::Fetch(const std::string& url, const std::string& path,
                                  std::size_t limitBytes, std::function<void(bool)> done) {
    const pid_t pid = SpawnChild(m_helperPath, {url, path, std::to_string(limitBytes)});
    if (pid < 0) {
        m_failed.push_back(std::move(done)); // a missing helper is a download that failed
        return;
    }
    m_running.push_back({.pid = pid, .path = path, .done = std::move(done)});
}

void FetchHelperDownloader::CollectFinished() {
    if (m_running.empty() && m_failed.empty()) {
        return; // the tick's usual case
    }
    // Taken out first: a `done` may start the next fetch.
    std::vector<std::function<void()>> answers;
    for (auto& failed : std::exchange(m_failed, {})) {
        answers.push_back([failed = std::move(failed)] { failed(false); });
    }
    std::erase_if(m_running, [&](Running& running) {
        int status = 0;
        const pid_t ended = ::waitpid(running.pid, &status, WNOHANG);
        if (ended == 0 || (ended < 0 && errno == EINTR)) {
            return false;
        }
        const bool whole = ended == running.pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        answers.push_back([done = std::move(running.done), whole] { done(whole); });
        return true;
    });
    for (const auto& answer : answers) {
        answer();
    }
}

void FetchHelperDownloader::CancelAll() {
    // The helper removes its partial file on SIGTERM; it is waited for, briefly,
    // then killed, and its file removed here.
    for (const Running& running : m_running) {
        ::kill(running.pid, SIGTERM);
    }
    const auto deadline = std::chrono::steady_clock::now() + kEndWait;
    for (;;) {
        std::erase_if(m_running, [](const Running& running) {
            const pid_t ended = ::waitpid(running.pid, nullptr, WNOHANG);
            return ended == running.pid || (ended < 0 && errno == ECHILD);
        });
        if (m_running.empty() || std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(kEndPoll);
    }
    for (const Running& running : m_running) {
        ::kill(running.pid, SIGKILL);
        while (::waitpid(running.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        std::remove(running.path.c_str());
    }
    m_running.clear();
    m_failed.clear();
}

} // namespace quantiro::platform::linux_impl
