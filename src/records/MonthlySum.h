#pragma once

#include "platform/Clock.h"
#include "platform/Database.h"
#include "platform/Registry.h"
#include "sampling/SamplingState.h"

namespace quantiro::records {

// Sums the month's downloads from the hourly records into monthBase and applies the
// correction the previous exit left, once.
class MonthlySum {
public:
    MonthlySum(platform::RecordSet& records, platform::RegistrySettings& settings,
               platform::Clock& clock, sampling::SamplingState& state);

    // With SkipSum true only the record set moves (first, then last record).
    void SumujMiesiac(bool SkipSum);

private:
    platform::RecordSet& m_records;
    platform::RegistrySettings& m_settings;
    platform::Clock& m_clock;
    sampling::SamplingState& m_state;
};

} // namespace quantiro::records
