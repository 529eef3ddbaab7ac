#pragma once

#include "platform/linux/CollectorProtocol.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quantiro::platform::linux_impl {

// Asks the counting service, within a short bound: an absent or hung service costs
// the caller at most that, never a wait.
class CollectorClient {
public:
    // The socket named by QUANTIRO_COLLECTOR, else the service's own.
    CollectorClient();
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
