#include "fakes/RecordsFixture.h"
#include "fakes/TrafficTable.h"
#include "records/MonthlySum.h"

#include <gtest/gtest.h>

namespace quantiro::records {
namespace {

using testing::At;
using testing::RecordsFixture;
using testing::TrafficRow;
using testing::TrafficTable;
using Rows = std::vector<TrafficRow>;

void SetHour(sampling::SamplingState& state, std::int32_t time, std::int32_t download,
             std::int32_t upload) {
    state.hourTime = time;
    state.hourDownload = download;
    state.hourUpload = upload;
}

TEST(HourlyRecordsTest, AFirstStartCreatesTheDatabaseWithTheHoursRecord) {
    RecordsFixture meter;
    meter.Start(At(2026, 12, 5, 7, 5));
    EXPECT_EQ(meter.state.hourTime, 0);
    EXPECT_EQ(meter.state.hourDownload, 0);
    TrafficTable table(meter.DbPath());
    EXPECT_EQ(table.Rows(), (Rows{{"2026-12-05", 7, 0, 0, 0}}));
    EXPECT_EQ(table.Pragma("journal_mode"), "wal");
}

TEST(HourlyRecordsTest, ASecondStartWithinTheHourContinuesItsAmounts) {
    RecordsFixture meter;
    meter.Start(At(2026, 12, 5, 10, 5));
    SetHour(meter.state, 600'000, 300, 20);
    meter.hours->WriteAccumulators();
    meter.Stop();

    meter.Start(At(2026, 12, 5, 10, 40));
    EXPECT_EQ(meter.state.hourTime, 600'000);
    EXPECT_EQ(meter.state.hourDownload, 300);
    EXPECT_EQ(meter.state.hourUpload, 20);
    EXPECT_EQ(TrafficTable(meter.DbPath()).Rows().size(), 1u);
}

TEST(HourlyRecordsTest, TheHourIsFoundByDateAndHourOnly) {
    struct Case {
        const char* name;
        Rows before;
        platform::LocalDateTime now;
        std::int32_t loadedDownload;
        std::size_t rowsAfter;
    };
    const Case cases[] = {
        {"same hour yesterday is another hour",
         {{"2026-12-04", 10, 5, 50, 5}},
         At(2026, 12, 5, 10, 5),
         0,
         2},
        {"hour 7 is found as 07", {{"2026-12-05", 7, 5, 70, 5}}, At(2026, 12, 5, 7, 59), 70, 1},
        {"the first of two equal hours",
         {{"2026-12-05", 9, 5, 90, 5}, {"2026-12-05", 9, 5, 91, 5}},
         At(2026, 12, 5, 9, 0),
         90,
         2},
    };
    for (const Case& c : cases) {
        RecordsFixture meter;
        {
            TrafficTable table(meter.DbPath());
            for (const TrafficRow& row : c.before) {
                table.Insert(row);
            }
        }
        meter.Start(c.now);
        EXPECT_EQ(meter.state.hourDownload, c.loadedDownload) << c.name;
        EXPECT_EQ(TrafficTable(meter.DbPath()).Rows().size(), c.rowsAfter) << c.name;
    }
}

TEST(HourlyRecordsTest, TheFirstCountingTickOfANewHourClosesTheOldRecord) {
    struct Case {
        const char* name;
        platform::LocalDateTime start, later;
        bool changed;
        Rows after;
    };
    const Case cases[] = {
        {"next hour", At(2026, 12, 5, 10, 50), At(2026, 12, 5, 11, 0), true,
         Rows{{"2026-12-05", 10, 1500, 300, 20}, {"2026-12-05", 11, 0, 0, 0}}},
        {"midnight", At(2026, 12, 5, 23, 50), At(2026, 12, 6, 0, 0), true,
         Rows{{"2026-12-05", 23, 1500, 300, 20}, {"2026-12-06", 0, 0, 0, 0}}},
        {"same hour a day later", At(2026, 12, 5, 10, 30), At(2026, 12, 6, 10, 40), false,
         Rows{{"2026-12-05", 10, 0, 0, 0}}},
    };
    for (const Case& c : cases) {
        RecordsFixture meter;
        meter.Start(c.start);
        SetHour(meter.state, 1500, 300, 20);
        meter.clock.SetNow(c.later);
        ASSERT_EQ(meter.hours->IsTimeChanged(), c.changed) << c.name;
        if (c.changed) {
            meter.hours->MakeNextRecord();
            EXPECT_EQ(meter.state.hourTime, 0) << c.name;
            EXPECT_EQ(meter.state.hourDownload, 0) << c.name;
            EXPECT_FALSE(meter.hours->IsTimeChanged()) << c.name;
        }
        EXPECT_EQ(TrafficTable(meter.DbPath()).Rows(), c.after) << c.name;
        EXPECT_TRUE(meter.notifier.messages.empty()) << c.name;
    }
}

TEST(HourlyRecordsTest, OnlyAHourWithTrafficBothWaysIsWrittenAtTheEnd) {
    struct Case {
        std::int32_t time, download, upload;
        TrafficRow stored;
    };
    const Case cases[] = {
        {600'000, 300, 20, {"2026-12-05", 10, 600'000, 300, 20}},
        {600'000, 300, 0, {"2026-12-05", 10, 0, 0, 0}},
        {0, 300, 20, {"2026-12-05", 10, 0, 0, 0}},
        {600'000, -5, 20, {"2026-12-05", 10, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        RecordsFixture meter;
        meter.Start(At(2026, 12, 5, 10, 5));
        SetHour(meter.state, c.time, c.download, c.upload);
        meter.hours->WriteAccumulators();
        EXPECT_EQ(TrafficTable(meter.DbPath()).Rows(), Rows{c.stored});
    }
}

TEST(HourlyRecordsTest, AfterTheClockWasSetBackTheHourIsLoadedFromItsRecordButWrittenToTheLast) {
    RecordsFixture meter;
    {
        TrafficTable table(meter.DbPath());
        table.Insert({"2026-12-05", 10, 1000, 100, 10});
        table.Insert({"2026-12-05", 12, 2000, 7, 1});
    }
    meter.Start(At(2026, 12, 5, 10, 20));
    EXPECT_EQ(meter.state.hourDownload, 100);
    MonthlySum(*meter.records, meter.settings, meter.clock, meter.state).SumujMiesiac(false);
    SetHour(meter.state, 1500, 150, 15);
    meter.hours->WriteAccumulators();
    EXPECT_EQ(TrafficTable(meter.DbPath()).Rows(),
              (Rows{{"2026-12-05", 10, 1000, 100, 10}, {"2026-12-05", 12, 1500, 150, 15}}));
}

} // namespace
} // namespace quantiro::records
