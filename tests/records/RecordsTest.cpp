#include "fakes/RecordsRig.h"
#include "records/MonthlySum.h"

#include <optional>

#include <gtest/gtest.h>

namespace quantiro::records {
namespace {

using testing::At;
using testing::RecordsRig;
using testing::TrafficRow;
using Rows = std::vector<TrafficRow>;

TEST(HourlyRecordsTest, StartUpFindsOrAddsTheHourByDateAndHour) {
    struct Case {
        const char* name;
        Rows before;
        platform::LocalDateTime now;
        std::int32_t loadedDownload;
        std::size_t rowsAfter;
    };
    const Case cases[] = {
        {"a first start adds the hour", {}, At(2026, 12, 5, 7, 5), 0, 1},
        {"same hour yesterday is another hour",
         {{"2026-12-04", 10, 5, 50, 5}},
         At(2026, 12, 5, 10, 5),
         0,
         2},
        {"the hour continues its amounts",
         {{"2026-12-05", 7, 5, 70, 5}},
         At(2026, 12, 5, 7, 59),
         70,
         1},
        {"the first of two equal hours",
         {{"2026-12-05", 9, 5, 90, 5}, {"2026-12-05", 9, 5, 91, 5}},
         At(2026, 12, 5, 9, 0),
         90,
         2},
    };
    for (const Case& c : cases) {
        RecordsRig rig;
        rig.Start(c.now, c.before);
        EXPECT_EQ(rig.hours->Amounts().download, c.loadedDownload) << c.name;
        EXPECT_EQ(rig.Rows().size(), c.rowsAfter) << c.name;
        // An existing file gains the index the reports read a month by.
        EXPECT_NO_THROW(testing::TrafficTable(rig.database)
                            .Exec("SELECT * FROM trafic INDEXED BY trafic_data WHERE Data = ''"))
            << c.name;
    }
    RecordsRig rig;
    rig.Start(At(2026, 12, 5, 7, 5));
    EXPECT_TRUE(std::filesystem::exists(rig.database + "-wal")); // readers never wait
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
        RecordsRig rig;
        rig.Start(c.start);
        rig.SetHour(1500, 300, 20);
        rig.system.clock.SetNow(c.later);
        ASSERT_EQ(rig.hours->HourChanged(), c.changed) << c.name;
        if (c.changed) {
            rig.hours->StartNextHour();
            EXPECT_EQ(rig.hours->Amounts().download, 0) << c.name;
            EXPECT_FALSE(rig.hours->HourChanged()) << c.name;
        }
        EXPECT_EQ(rig.Rows(), c.after) << c.name;
    }
}

TEST(HourlyRecordsTest, AnHourThatCannotBeOpenedAtStartUpKeepsItsTicksUntilItOpens) {
    RecordsRig rig;
    rig.Start(At(2026, 12, 5, 9, 5));
    testing::TrafficTable otherProcess(rig.database);
    otherProcess.Exec("BEGIN IMMEDIATE"); // holds the file's write lock
    rig.Start(At(2026, 12, 5, 10, 5));    // the hour's record cannot be added
    EXPECT_TRUE(rig.hours->HourChanged());
    rig.SetHour(600, 40, 4); // ticks counted meanwhile
    rig.hours->StartNextHour();
    otherProcess.Exec("COMMIT");
    rig.hours->StartNextHour(); // still within the wait before the next try
    EXPECT_TRUE(rig.hours->HourChanged());
    rig.system.clock.Advance(10'000);
    rig.hours->StartNextHour();
    EXPECT_FALSE(rig.hours->HourChanged());
    rig.hours->SaveHour();
    EXPECT_EQ(rig.Rows(), (Rows{{"2026-12-05", 9, 0, 0, 0}, {"2026-12-05", 10, 600, 40, 4}}));
}

TEST(HourlyRecordsTest, TheHourIsSavedToItsOwnRecordOnlyWithTrafficBothWays) {
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
    const TrafficRow later{"2026-12-05", 12, 2000, 7, 1}; // the clock was set back
    for (const Case& c : cases) {
        RecordsRig rig;
        rig.Start(At(2026, 12, 5, 10, 5), {{"2026-12-05", 10, 0, 0, 0}, later});
        // A monthly sum between the opening and the save leaves the hour's record alone.
        SumMonth(*rig.opened, rig.system.clock);
        rig.SetHour(c.time, c.download, c.upload);
        rig.hours->SaveHour();
        EXPECT_EQ(rig.Rows(), (Rows{c.stored, later}));
    }
}

TEST(HourlyRecordsTest, ANetworkFirstCountedIsWrittenAtOnceThenEveryFiveMinutes) {
    // Until its row is written the options cannot give the network a plan.
    const platform::Network home{.id = "nm:dom", .name = "Dom"};
    const platform::Network hotspot{.id = "nm:telefon", .name = "Telefon", .metered = true};
    const std::pair<const platform::Network*, const char*> ticks[] = {
        {&home, "nm:dom|0|100,"},
        {&home, "nm:dom|0|100,"},
        {&hotspot, "nm:dom|0|200,nm:telefon|1|100,"},
        {&hotspot, "nm:dom|0|200,nm:telefon|1|100,"}};
    RecordsRig rig;
    rig.Start(At(2026, 12, 5, 10, 5));
    for (const auto& [network, written] : ticks) {
        rig.system.clock.Advance(1000);
        rig.hours->Count(100, 10, 1000, *network);
        rig.hours->SaveIfDue();
        std::string rows;
        for (const std::string& row : testing::TrafficTable(rig.database)
                                          .Select("SELECT s.Id, s.Taryfowana, r.Download FROM "
                                                  "sieci s JOIN ruch_sieci r ON r.Siec = s.Id")) {
            rows += row + ",";
        }
        EXPECT_EQ(rows, written) << network->name;
    }
}

TEST(MonthlySumTest, SumsTheMonthsDownloads) {
    struct Case {
        const char* name;
        Rows records;
        double monthBase;
    };
    const Case cases[] = {
        {"example",
         {{"2004-12-01", 1, 0, 100, 0},
          {"2004-12-03", 2, 0, 50, 0},
          {"2004-11-30", 3, 0, 70, 0},
          {"2003-12-03", 4, 0, 5, 0}},
         150},
        {"negative downloads, not clamped",
         {{"2004-12-02", 1, 0, -200, 0}, {"2004-12-03", 1, 0, 50, 0}},
         -150},
        {"empty table", {}, 0},
    };
    for (const Case& c : cases) {
        RecordsRig rig;
        {
            testing::TrafficTable table(rig.system.Database());
            // Rows the sum cannot use: no download, and a date that is no date.
            table.Exec("INSERT INTO trafic VALUES ('2004-12-02', 5, 0, NULL, 0)");
            table.Exec("INSERT INTO trafic VALUES ('2004-12-xx', 6, 0, 999, 0)");
        }
        rig.Start(At(2004, 12, 3, 7, 30), c.records);
        EXPECT_EQ(SumMonth(*rig.opened, rig.system.clock), c.monthBase) << c.name;
    }
}

} // namespace
} // namespace quantiro::records
