#include "records/HourlyRecords.h"

#include "common/IgnoringErrors.h"
#include "records/RecordFields.h"

namespace quantiro::records {

HourlyRecords::HourlyRecords(platform::Database& database, platform::RecordSet& records,
                             sampling::SamplingState& state, platform::Clock& clock,
                             platform::Notifier& notifier)
    : m_database(database)
    , m_records(records)
    , m_state(state)
    , m_clock(clock)
    , m_notifier(notifier) {}

void HourlyRecords::AddRecordForNow() {
    const platform::LocalDateTime now = m_clock.Now();
    m_records.AddNew();
    m_records.SetField(kData, FormatRecordDate(now));
    m_records.SetField(kGodzina, std::int64_t{now.hour});
    m_records.SetField(kCzas, std::int64_t{0});
    m_records.SetField(kUpload, std::int64_t{0});
    m_records.SetField(kDownload, std::int64_t{0});
    m_records.Update();
}

void HourlyRecords::OpenCurrentHour() {
    const platform::LocalDateTime now = m_clock.Now();
    // An empty table cannot move to its first record; the search then finds nothing.
    IgnoringErrors([&] { m_records.MoveFirst(); });
    bool found = false;
    IgnoringErrors([&] {
        m_records.FindFirst(FormatRecordDate(now), now.hour);
        found = !m_records.NoMatch();
    });
    if (!found) {
        AddRecordForNow();
        m_records.MoveLast();
    }
    m_state.hourTime = FieldToInt32(m_records.GetField(kCzas));
    m_state.hourDownload = FieldToInt32(m_records.GetField(kDownload));
    m_state.hourUpload = FieldToInt32(m_records.GetField(kUpload));
}

bool HourlyRecords::IsTimeChanged() {
    // Only the hour is compared: a machine resumed a day later in the same hour
    // goes on adding to yesterday's record.
    try {
        return FieldToInt32(m_records.GetField(kGodzina)) != m_clock.Now().hour;
    } catch (const platform::DatabaseError&) {
        return true; // no current record: let MakeNextRecord make one
    }
}

void HourlyRecords::MakeNextRecord() {
    // The old hour's amounts and the new hour's record are saved together or not at
    // all. On failure the accumulators keep counting and the next counting tick
    // tries again, so nothing is lost to a full disk or a locked file.
    platform::RecordSet::Bookmark previous = 0;
    try {
        previous = m_records.GetBookmark();
    } catch (const platform::DatabaseError&) {
        previous = -1;
    }
    try {
        m_database.BeginTrans();
        if (previous >= 0) {
            SaveAccumulators();
        }
        AddRecordForNow();
        m_records.MoveLast();
        m_database.CommitTrans();
    } catch (const platform::DatabaseError& error) {
        IgnoringErrors([&] { m_database.Rollback(); });
        IgnoringErrors([&] { m_records.SetBookmark(previous); });
        if (!m_writeFailureShown) {
            m_writeFailureShown = true;
            m_notifier.ShowMessage(error.what());
        }
        return;
    }
    m_writeFailureShown = false;
    m_state.hourTime = 0;
    m_state.hourUpload = 0;
    m_state.hourDownload = 0;
}

void HourlyRecords::WriteAccumulators() {
    if (m_state.hourDownload <= 0 || m_state.hourUpload <= 0 || m_state.hourTime <= 0) {
        return;
    }
    SaveAccumulators();
}

void HourlyRecords::SaveAccumulators() {
    // Each field receives the accumulator, never a sum: start-up loaded the
    // accumulators from this record, so an hour continued later keeps its amounts.
    m_records.Edit();
    m_records.SetField(kCzas, std::int64_t{m_state.hourTime});
    m_records.SetField(kDownload, std::int64_t{m_state.hourDownload});
    m_records.SetField(kUpload, std::int64_t{m_state.hourUpload});
    m_records.Update();
}

} // namespace quantiro::records
