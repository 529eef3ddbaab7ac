#pragma once

#include "applications/ApplicationTraffic.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace quantiro::applications {

struct ApplicationRate {
    std::string application;
    double download = 0; // bytes a second
    double upload = 0;
};

// The applications using the link now: their rates over `elapsed`, fastest first
// (received + sent; by name when even), at most `shown`; an idle one is left out.
std::vector<ApplicationRate> FastestApplications(const std::vector<ApplicationDelta>& moved,
                                                 std::chrono::milliseconds elapsed,
                                                 std::size_t shown = 5);

} // namespace quantiro::applications
