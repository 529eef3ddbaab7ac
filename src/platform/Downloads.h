#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace quantiro::platform {

// Fetches addresses into files without ever waiting for the network: a fetch runs
// beside the caller, and its end is picked up by a later CollectFinished(), which
// the meter's tick calls, so a slow server never holds a tick up.
class Downloader {
public:
    virtual ~Downloader() = default;
    // Starts fetching `url` into `path`; more than `limitBytes` is a failure.
    // `done` runs from a later CollectFinished(), with true only when the whole file
    // arrived; a failure leaves no file behind.
    virtual void Fetch(const std::string& url, const std::string& path, std::size_t limitBytes,
                       std::function<void(bool)> done) = 0;
    // Runs `done` of every fetch that has ended; waits for none.
    virtual void CollectFinished() = 0;
    // Whether a fetch is still running.
    virtual bool Busy() const = 0;
    // Ends the fetches still running (at exit); their `done` never runs.
    virtual void CancelAll() = 0;
};

} // namespace quantiro::platform
