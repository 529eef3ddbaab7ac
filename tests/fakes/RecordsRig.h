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
        state = {};
        opened = platform::linux_impl::OpenTrafficDatabase(database);
        hours = std::make_unique<records::HourlyRecords>(*opened, state, system.clock, notices);
        hours->OpenCurrentHour();
    }
    void SetHour(std::int32_t time, std::int32_t download, std::int32_t upload) {
        state.hourTime = time;
        state.hourDownload = download;
        state.hourUpload = upload;
    }
    std::vector<TrafficRow> Rows() { return TrafficTable(database).Rows(); }

    TestSystem system;
    std::string database = system.Database();
    RecordingFrontEnd notices;
    sampling::SamplingState state;
    std::unique_ptr<platform::HourStore> opened;
    std::unique_ptr<records::HourlyRecords> hours;
};

} // namespace quantiro::testing
