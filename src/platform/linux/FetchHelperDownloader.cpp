#include "platform/linux/FetchHelperDownloader.h"

#include "platform/linux/ChildSpawn.h"

#include <cerrno>
#include <csignal>
#include <utility>

#include <sys/wait.h>

namespace quantiro::platform::linux_impl {

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
    m_running.push_back({pid, std::move(done)});
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
    // The helper removes its partial file on SIGTERM; it is waited for, briefly.
    for (const Running& running : m_running) {
        ::kill(running.pid, SIGTERM);
    }
    for (const Running& running : m_running) {
        while (::waitpid(running.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    m_running.clear();
    m_failed.clear();
}

} // namespace quantiro::platform::linux_impl
