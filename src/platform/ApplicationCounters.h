#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quantiro::platform {

// What the counting service counted for one application on one interface since the
// service started: bytes of whole IP packets, the part of them exchanged with the
// local network, and packets (to add the link's own headers).
struct ApplicationCounter {
    std::string application; // as recorded: see common/ApplicationNames.h
    std::uint64_t receivedBytes = 0;
    std::uint64_t sentBytes = 0;
    std::uint64_t receivedLocalBytes = 0;
    std::uint64_t sentLocalBytes = 0;
    std::uint64_t receivedPackets = 0;
    std::uint64_t sentPackets = 0;
};

// One answer of the service: its run (another run's counters started again from
// zero) and a counter per application.
struct ApplicationCounters {
    std::string interfaceName; // the one asked about
    std::string run;
    std::vector<ApplicationCounter> applications;
};

// The counting service, asked without ever waiting on it: each call sends the next
// question and hands back the answer to an earlier one, if it has come.
class ApplicationCounterSource {
public:
    virtual ~ApplicationCounterSource() = default;
    // Asks for the counters of `interfaceName`; the answer to an earlier question
    // when one came in since, else nullopt (no service, or no answer yet).
    virtual std::optional<ApplicationCounters> Poll(const std::string& interfaceName) = 0;
};

} // namespace quantiro::platform
