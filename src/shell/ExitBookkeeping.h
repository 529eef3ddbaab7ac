#pragma once

#include "common/WindowShapes.h"
#include "companions/Companions.h"
#include "platform/Clock.h"
#include "platform/InstanceLock.h"
#include "platform/Notifier.h"
#include "records/HourlyRecords.h"
#include "shell/MeterSettings.h"
#include "shell/MeterWindow.h"

namespace quantiro::shell {

// What the meter leaves behind when it ends, by whatever way: the window position,
// the last hour's record, the correction for the next run's monthly sum, the running
// flag, and the start of the window variant "Size" selects.
class ExitBookkeeping {
public:
    struct Parts {
        MeterSettingsFile& settings;
        records::HourlyRecords& hours;
        platform::Clock& clock;
        // Whose position is stored; none for the terminal, which leaves it alone.
        DesktopWindow* desktop;
        companions::Companions& companions;
        platform::Notifier& notifier;
        // This meter's window shape: where its position goes, and which shape's
        // choice starts another one at exit.
        const shapes::WindowShape& shape;
        // Handed on to the next shape, which starts as this one ends.
        platform::InstanceLock& instanceLock;
    };

    explicit ExitBookkeeping(Parts parts)
        : m(parts) {}

    // Blocks for at least two seconds. Every step runs even when one before failed
    // (an unwritable settings file, a database locked by another program); what
    // failed is told to the user once, at the end. A system shutdown leaves no
    // correction values.
    void Run(bool systemShuttingDown);

private:
    Parts m;
};

} // namespace quantiro::shell
