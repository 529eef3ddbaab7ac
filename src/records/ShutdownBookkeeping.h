#pragma once

#include "companions/Companions.h"
#include "platform/Clock.h"
#include "platform/Database.h"
#include "platform/Registry.h"
#include "platform/Tray.h"
#include "platform/Windows.h"
#include "records/HourlyRecords.h"
#include "sampling/SamplingState.h"

namespace quantiro::records {

// What the meter leaves behind when it ends, by whatever way: the window position,
// the last hour's record, the correction for the next run's monthly sum, the running
// flag, and the start of the window variant "Size" selects.
class ShutdownBookkeeping {
public:
    struct Parts {
        platform::RegistrySettings& settings;
        HourlyRecords& hours;
        platform::RecordSet& records;
        sampling::SamplingState& state;
        platform::Clock& clock;
        platform::WindowPlacement& window;
        platform::TrayIcon& tray;
        companions::Companions& companions;
    };

    explicit ShutdownBookkeeping(Parts parts)
        : m(parts) {}

    // Blocks for at least two seconds; every step runs even when one before failed.
    void Form_Unload();

private:
    Parts m;
};

} // namespace quantiro::records
