#pragma once

#include "platform/Processes.h"

#include <cstdint>

namespace quantiro::companions {

// The other programs of the family that the meter starts (and, for the monitor,
// stops). Every start is silent when the program is missing or refuses to run.
class Companions {
public:
    virtual ~Companions() = default;
    // The monitor, started at start-up and kept so that it can be stopped; what
    // was started, for the family's record.
    virtual platform::StartedProcess StartMonitor() = 0;
    // Ends the monitor started at start-up, if it still runs.
    virtual void StopMonitor() = 0;
    // The statistics program, at start-up unless "InfoFile" is set.
    virtual void StartStatistics() = 0;
    // The options and reports programs, from the menu.
    virtual void StartOptions() = 0;
    virtual void StartReports() = 0;
    // The updater, at most once per run.
    virtual void StartUpdater() = 0;
    // Starts the window variant of the family that "Size" selects (1 or 2); what
    // was started, for the family's record.
    virtual platform::StartedProcess StartWindowVariant(std::int16_t variant) = 0;
};

} // namespace quantiro::companions
