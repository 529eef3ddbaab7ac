#pragma once

#include "common/WindowShapes.h"
#include "platform/SystemEvents.h"
#include "shell/Meter.h"

#include <functional>
#include <memory>
#include <string>

namespace quantiro::terminal {

// What the terminal front-end runs the meter with.
struct MeterRun {
    std::string commandLine;
    const shapes::WindowShape& shape;
    // The settings' and the interfaces' watches wake the loop itself on a change.
    shell::SystemParts system;
    // Made before anything else, so no stop signal arrives unread.
    platform::StopSignalSource& stopSignals;
    // Called once the meter has started: a start that ends at once (another meter
    // runs) never holds the system's sleep up.
    std::function<std::unique_ptr<platform::SleepAnnouncements>()> watchSleep;
};

// The meter without a display: the same start-up, tick, records and exit path,
// shown as text. On a terminal it redraws in place once a second and reads the
// keys (q asks to end); otherwise it prints one line a second. Returns the
// process's exit status.
int RunMeter(const MeterRun& run);

} // namespace quantiro::terminal
