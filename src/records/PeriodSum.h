#pragma once

#include "common/CalendarDate.h"
#include "platform/HourStore.h"

namespace quantiro::records {

struct StoredTraffic {
    double download = 0; // kB
    double upload = 0;
};

// The downloads and uploads of the records dated from `first` to `last` (both
// included). A record that cannot be read is skipped; a scan that cannot go on
// throws platform::DatabaseError.
StoredTraffic SumPeriod(platform::HourStore& database, const CalendarDate& first,
                        const CalendarDate& last);

// The same, added to `sum` as the scan goes, so that a scan that cannot go on
// leaves what it had summed.
void AddPeriod(platform::HourStore& database, const CalendarDate& first, const CalendarDate& last,
               StoredTraffic& sum);

} // namespace quantiro::records
