#pragma once

#include "platform/Downloads.h"

#include <string>
#include <vector>

#include <sys/types.h>

namespace quantiro::platform::linux_impl {

// Downloads through the family's small helper program (`quantiro-fetch URL FILE
// LIMIT`, libcurl), one child a fetch: the meter itself never maps libcurl and the
// TLS libraries, which would stay in its memory for the whole day after one fetch,
// and never waits on a server.
class FetchHelperDownloader final : public Downloader {
public:
    explicit FetchHelperDownloader(std::string helperPath)
        : m_helperPath(std::move(helperPath)) {}
    ~FetchHelperDownloader() override;
    FetchHelperDownloader(const FetchHelperDownloader&) = delete;
    FetchHelperDownloader& operator=(const FetchHelperDownloader&) = delete;

    void Fetch(const std::string& url, const std::string& path, std::size_t limitBytes,
               std::function<void(bool)> done) override;
    void CollectFinished() override;
    bool Busy() const override { return !m_running.empty(); }
    void CancelAll() override;

private:
    struct Running {
        pid_t pid;
        std::string path; // what it writes, removed when it has to be killed
        std::function<void(bool)> done;
    };

    std::string m_helperPath;
    std::vector<Running> m_running;
    // Fetches that could not start, answered at the next collection.
    std::vector<std::function<void(bool)>> m_failed;
};

} // namespace quantiro::platform::linux_impl
