#pragma once

#include "platform/TrafficCounters.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quantiro::platform {

// What the counting service counted for one application on one interface since the
// service started.
struct ApplicationCounter {
    std::string application; // as recorded: see common/ApplicationNames.h
    TrafficCounters counters;
    // The row owners gone for good are folded into ("pozostałe"): it holds what the
    // rows that went had counted.
    bool folded = false;
};

// One answer of the service: its run (another run's counters started again from
// zero) and a counter per application.
struct ApplicationCounters {
    std::string interfaceName; // the one asked about
    std::string run;
    std::vector<ApplicationCounter> applications;
};

// The interface whose counters are asked for: its name, and its index when the
// caller has it from the interface table (0: the source looks the name up).
struct AskedInterface {
    std::string name;
    std::int32_t index = 0;
};

// The counting service, asked without ever waiting on it: a call takes in the answer
// to the question out, if it has come, and with `ask` sends the next question.
class ApplicationCounterSource {
public:
    virtual ~ApplicationCounterSource() = default;
    // The answer to an earlier question when it came in since, else nullopt (no
    // service, or no answer yet); with `ask`, asks for `interface`'s counters unless
    // a question is still out (none while its name is empty).
    virtual std::optional<ApplicationCounters> Poll(const AskedInterface& interface, bool ask) = 0;
    // Whether a question is out, so the caller looks for the answer soon.
    virtual bool Waiting() const = 0;
    // The user's own local prefixes ("SiecLokalna"), told to the service with the
    // next question and again after each new connection.
    virtual void SetLocalNetworks(const std::string& prefixes) = 0;
    // True once after the service said it had no room left for them (every user's
    // share one table): it keeps the prefixes told before.
    virtual bool TakeLocalNetworksRefused() = 0;
};

} // namespace quantiro::platform
