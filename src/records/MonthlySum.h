#pragma once

#include "platform/Clock.h"
#include "platform/HourStore.h"
#include "platform/Settings.h"
#include "sampling/SamplingState.h"

namespace quantiro::records {

// Sums the current month's downloads from the hourly records into monthBase and
// clears the correction the previous exit left. It scans with a record set of its
// own, so the open hour's cursor never moves.
void SumMonth(platform::HourStore& database, platform::SettingsStore& settings,
              platform::Clock& clock, sampling::SamplingState& state);

} // namespace quantiro::records
