#pragma once

#include "platform/Clock.h"
#include "platform/HourStore.h"
#include "platform/Settings.h"

namespace quantiro::records {

// The current month's downloads in the hourly records, in kilobytes; clears the
// correction the previous exit left.
double SumMonth(platform::HourStore& database, platform::SettingsStore& settings,
                platform::Clock& clock);

} // namespace quantiro::records
