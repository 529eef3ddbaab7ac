#pragma once

#include "common/WindowShapes.h"
#include "platform/linux/IniSettingsStore.h"
#include "platform/linux/StopSignals.h"
#include "platform/linux/SystemNetworkWatch.h"
#include "shell/Meter.h"

#include <string>

namespace quantiro::terminal {

// What the terminal front-end runs the meter with.
struct MeterRun {
    std::string commandLine;
    const shapes::WindowShape& shape;
    shell::SystemParts system;
    // The settings' watch wakes the loop itself when another program writes.
    platform::linux_impl::IniSettingsStore& settings;
    // The network's announcements wake the loop too; `system.networks` points here.
    platform::linux_impl::SystemNetworkWatch& networks;
    // Made before anything else, so no stop signal arrives unread.
    platform::linux_impl::StopSignals& stopSignals;
};

// The meter without a display: the same start-up, tick, records and exit path,
// shown as text. On a terminal it redraws in place once a second and reads the
// keys (q asks to end); otherwise it prints one line a second. Returns the
// process's exit status.
int RunMeter(const MeterRun& run);

} // namespace quantiro::terminal
