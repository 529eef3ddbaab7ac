#include "records/MonthlySum.h"

#include "common/IgnoringErrors.h"
#include "records/RecordFields.h"
#include "shell/RegistryValues.h"

namespace quantiro::records {

MonthlySum::MonthlySum(platform::RecordSet& records, platform::RegistrySettings& settings,
                       platform::Clock& clock, sampling::SamplingState& state)
    : m_records(records)
    , m_settings(settings)
    , m_clock(clock)
    , m_state(state) {}

void MonthlySum::SumujMiesiac(bool SkipSum) {
    // Every step goes on after an error in the one before.
    IgnoringErrors([&] { m_records.MoveFirst(); });

    if (!SkipSum) {
        const platform::LocalDateTime now = m_clock.Now();
        // The body runs at least once; on an empty table its steps fail and are
        // ignored. A record set that can no longer move ends the scan instead of
        // spinning on the same record.
        bool moved = true;
        do {
            IgnoringErrors([&] {
                const auto date = ParseRecordDate(m_records.GetField(kData));
                if (date && date->month == now.month && date->year == now.year) {
                    const platform::FieldValue download = m_records.GetField(kDownload);
                    if (HasValue(download)) {
                        m_state.monthBase += FieldToInt32(download);
                    }
                }
            });
            moved = false;
            IgnoringErrors([&] {
                m_records.MoveNext();
                moved = true;
            });
        } while (moved && !m_records.AtEnd());

        IgnoringErrors([&] {
            if (values::Read(m_settings, values::kOdejmij)) {
                m_state.monthBase -= values::Read(m_settings, values::kOdejmijDownload);
                if (m_state.monthBase < 0) {
                    m_state.monthBase = 0;
                }
                values::Write(m_settings, values::kOdejmij, false);
            }
        });
    }

    IgnoringErrors([&] { m_records.MoveLast(); });
}

} // namespace quantiro::records
