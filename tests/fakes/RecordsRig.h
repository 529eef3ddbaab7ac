#pragma once

#include "fakes/TestMeter.h"
#include "fakes/TrafficTable.h"
#include "records/HourlyRecords.h"

namespace quantiro::testing {

inline platform::LocalDateTime At(int year, int month, int day, int hour, int minute = 0) {
    return {year, month, day, hour, minute, 0};
}

// The hourly records on a real database file in a temporary directory, opened as
// start-up opens them; the clock is the test's.
struct RecordsRig {
    void Start(const platform::LocalDateTime& now, std::vector<TrafficRow> before = {}) {
        {
            TrafficTable table(database);
            for (const TrafficRow& row : before) {
                table.Insert(row);
            }
        }
        system.clock.SetNow(now);
        opened = platform::linux_impl::OpenTrafficDatabase(database);
        hours = std::make_unique<records::HourlyRecords>(*opened, system.clock, notices);
        hours->OpenCurrentHour();
    }
    // The open hour's amounts made these, as counting ticks would (time only grows).
    void SetHour(std::int32_t time, std::int32_t download, std::int32_t upload) {
        const platform::HourAmounts now = hours->Amounts();
        hours->Count(download - now.download, upload - now.upload,
                     static_cast<std::uint32_t>(time - now.time));
    }
    std::vector<TrafficRow> Rows() { return TrafficTable(database).Rows(); }

    TestSystem system;
    std::string database = system.Database();
    RecordingFrontEnd notices;
    std::unique_ptr<platform::HourStore> opened;
    std::unique_ptr<records::HourlyRecords> hours;
};

} // namespace quantiro::testing
