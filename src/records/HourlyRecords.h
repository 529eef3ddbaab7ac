#pragma once

#include "platform/Clock.h"
#include "platform/Database.h"
#include "platform/Notifier.h"
#include "sampling/SamplingState.h"
#include "sampling/TickCollaborators.h"

namespace quantiro::records {

// The current hour's record in the table "trafic": found or added at start-up,
// closed and replaced on the first counting tick of a new hour, and written with
// the hour's accumulators at exit and before reports.
class HourlyRecords final : public sampling::HourRecords {
public:
    HourlyRecords(platform::Database& database, platform::RecordSet& records,
                  sampling::SamplingState& state, platform::Clock& clock,
                  platform::Notifier& notifier);

    // Finds the record of the current hour (adding it when there is none), makes it
    // current and loads the accumulators from it.
    void OpenCurrentHour();

    bool IsTimeChanged() override;
    void MakeNextRecord() override;

    // Writes the accumulators into the current record, only when all three are above 0.
    void WriteAccumulators();

private:
    void AddRecordForNow();
    void SaveAccumulators();

    platform::Database& m_database;
    platform::RecordSet& m_records;
    sampling::SamplingState& m_state;
    platform::Clock& m_clock;
    platform::Notifier& m_notifier;
    bool m_writeFailureShown = false;
};

} // namespace quantiro::records
