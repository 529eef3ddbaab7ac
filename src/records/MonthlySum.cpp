#include "records/MonthlySum.h"

#include "common/IgnoringErrors.h"
#include "records/RecordFields.h"

namespace quantiro::records {

void SumMonth(platform::Database& database, platform::RegistrySettings& settings,
              platform::Clock& clock, sampling::SamplingState& state) {
    // A record that cannot be read is skipped, a scan that cannot go on ends with
    // what it has summed, and the correction still applies. Only the month's dates
    // are read (every date of it sorts between its first and its 31st as text), which
    // the index on the dates makes quick however long the history.
    IgnoringErrors([&] {
        const platform::LocalDateTime now = clock.Now();
        const std::string first = FormatIsoDate({now.year, now.month, 1});
        const std::string last = FormatIsoDate({now.year, now.month, 31});
        database.ReadRecords(first, last, [&](const platform::StoredRecord& record) {
            const auto date = ParseRecordDate(record.date);
            if (date && date->month == now.month && date->year == now.year &&
                HasValue(record.download)) {
                state.monthBase += FieldToInt32(record.download);
            }
        });
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
