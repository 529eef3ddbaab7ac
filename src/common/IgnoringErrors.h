#pragma once

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

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

// The same for a sequence that must tell the user what failed: each distinct error
// text is kept once, in order, so a store that fails at every step is one line.
template <typename Step>
void IgnoringErrors(std::vector<std::string>& errors, Step&& step) noexcept {
    try {
        step();
    } catch (const std::exception& error) {
        if (std::find(errors.begin(), errors.end(), error.what()) == errors.end()) {
            errors.emplace_back(error.what());
        }
    }
}

} // namespace quantiro
