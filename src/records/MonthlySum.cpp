#include "records/MonthlySum.h"

#include "common/IgnoringErrors.h"
#include "records/PeriodSum.h"

namespace quantiro::records {

double SumMonth(platform::HourStore& database, platform::Clock& clock) {
    // A record that cannot be read is skipped, and a scan that cannot go on ends
    // with what it has summed.
    StoredTraffic month;
    IgnoringErrors([&] {
        const platform::LocalDateTime now = clock.Now();
        AddPeriod(database, {now.year, now.month, 1},
                  {now.year, now.month, DaysInMonth(now.year, now.month)}, month);
    });
    return month.download;
}

} // namespace quantiro::records
