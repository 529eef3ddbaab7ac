#pragma once

#include "platform/Clock.h"
#include "platform/HourStore.h"

namespace quantiro::records {

// The current month's downloads in the hourly records, in kilobytes.
double SumMonth(platform::HourStore& database, platform::Clock& clock);

} // namespace quantiro::records
