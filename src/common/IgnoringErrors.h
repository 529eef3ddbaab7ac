#pragma once

#include <exception>

namespace quantiro {

// Runs one step of a sequence whose steps go on after a failure: the monthly sum,
// the exit path, the search for the hour's record at start-up.
template <typename Step> void IgnoringErrors(Step&& step) noexcept {
    try {
        step();
    } catch (const std::exception&) {
        // Deliberately dropped: the next step runs as if this one had succeeded.
    }
}

} // namespace quantiro
