#pragma once

#include "platform/linux/CollectorProtocol.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quantiro::platform::linux_impl {

// The tests' plain client of the counting service: one connection a question,
// within a bound, so a test never hangs on a service that went wrong. (The meter
// keeps one connection and never waits: platform/linux/CollectorReader.)
class CollectorClient {
public:
    explicit CollectorClient(std::string socketPath,
                             std::chrono::milliseconds bound = std::chrono::milliseconds(200));

    // The counters of the interface named, as this process's network namespace names
    // it; nullopt when the service is not available.
    std::optional<CollectorCounters> ReadCounters(const std::string& interfaceName) const;

    enum class Outcome { Done, Refused, NotAvailable };
    struct Answer {
        Outcome outcome = Outcome::NotAvailable;
        std::string reason; // the service's, when refused
    };
    // Replaces the caller's own local prefixes: "192.168.7.0/24,fd12::/16", or none.
    Answer SetLocalPrefixes(std::string_view prefixes) const;

private:
    // Sends `request` and reads until `complete` says the answer is whole; nullopt on
    // any failure or when the bound passes.
    template <typename Complete>
    std::optional<std::string> Exchange(std::string_view request, Complete complete) const;

    std::string m_socketPath;
    std::chrono::milliseconds m_bound;
};

} // namespace quantiro::platform::linux_impl
