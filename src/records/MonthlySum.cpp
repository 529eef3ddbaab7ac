#include "records/MonthlySum.h"

#include "common/IgnoringErrors.h"
#include "records/RecordFields.h"

namespace quantiro::records {

void SumMonth(platform::Database& database, platform::RegistrySettings& settings,
              platform::Clock& clock, sampling::SamplingState& state) {
    // Every step goes on after an error in the one before: a record that cannot be
    // read is skipped, a scan that cannot go on ends, and the correction still applies.
    IgnoringErrors([&] {
        const auto records = database.OpenRecordset(kTrafficTable);
        const platform::LocalDateTime now = clock.Now();
        IgnoringErrors([&] { records->MoveFirst(); });
        bool moved = true;
        while (moved && !records->AtEnd()) {
            IgnoringErrors([&] {
                const auto date = ParseRecordDate(records->GetField(kDateField));
                if (date && date->month == now.month && date->year == now.year) {
                    const platform::FieldValue download = records->GetField(kDownloadField);
                    if (HasValue(download)) {
                        state.monthBase += FieldToInt32(download);
                    }
                }
            });
            moved = false;
            IgnoringErrors([&] {
                records->MoveNext();
                moved = true;
            });
        }
    });

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
