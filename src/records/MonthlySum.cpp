#include "records/MonthlySum.h"

#include "common/IgnoringErrors.h"
#include "records/PeriodSum.h"

namespace quantiro::records {

void SumMonth(platform::Database& database, platform::RegistrySettings& settings,
              platform::Clock& clock, sampling::SamplingState& state) {
    // A record that cannot be read is skipped, a scan that cannot go on ends with
    // what it has summed, and the correction still applies.
    StoredTraffic month;
    IgnoringErrors([&] {
        const platform::LocalDateTime now = clock.Now();
        AddPeriod(database, {now.year, now.month, 1},
                  {now.year, now.month, DaysInMonth(now.year, now.month)}, month);
    });
    state.monthBase += month.download;

    IgnoringErrors([&] {
        if (platform::Read(settings, values::kCorrectionPending)) {
            state.monthBase -= platform::Read(settings, values::kCorrectionDownload);
            if (state.monthBase < 0) {
                state.monthBase = 0;
            }
            platform::Write(settings, values::kCorrectionPending, false);
        }
    });
}

} // namespace quantiro::records
