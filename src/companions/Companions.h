#pragma once

#include <cstdint>

namespace quantiro::companions {

// The companion programs the exit path stops and starts.
class Companions {
public:
    virtual ~Companions() = default;
    // Ends the monitor companion started at start-up, if it still runs.
    virtual void MonitorStop() = 0;
    // Starts the window variant of the family that "Size" selects (1 or 2).
    virtual void VariantStart(std::int16_t size) = 0;
};

} // namespace quantiro::companions
